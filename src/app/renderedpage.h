#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>

class QWebEngineDownloadRequest;
class QWebEngineProfile;

namespace Quillory {

class Clock;
class HostResolver;
class RenderRun;
class SharedCookieJar;

// How long a rendered page may take. The defaults are the program's; tests shorten them.
struct RenderLimits
{
    // Everything, from the request to the answer, ends by then. A page that never comes to hold what
    // is asked for is read as it stands a little before.
    std::chrono::milliseconds total{15000};
    // Redirects and reloads of the link by its own page (a check page that sets a cookie and loads the
    // link again), beyond the first request.
    int maxFollowed = 5;
    // Loads of the link again once the hosts that its page asked for and that were not yet known are
    // known to be outside this machine and the private network (see RenderedPageLoader).
    int maxRelearned = 4;
    // A loaded page that does not hold what is asked for counts as done once it has made no request and
    // changed nothing for this long, and answered the loader's polls (one each 100 ms) as many times in
    // that while as a machine with time to spare would: its list, if it has one, is built by then.
    std::chrono::milliseconds idleFor{2000};
};

// What the hidden page takes from the window's session: the cookies it may send (those the downloads
// would send for the same link from the same page), where names lead, and the time of its rules.
struct RenderSession
{
    const SharedCookieJar *cookies = nullptr; // none: the hidden page sends no cookie of the user's
    const HostResolver *resolver = nullptr;   // none: the system's
    const Clock *clock = nullptr;             // none: the system's monotonic clock
};

// One product page to read, asked for from a trial page.
struct RenderRequest
{
    QUrl url;
    // The page that asked, and whether the user's own action made the request: the hidden page sends the
    // cookies that a download of `url` would send for it (SharedCookieJar::cookiesForRequest).
    QUrl initiator;
    bool userActivated = false;
    // false: nothing of this machine or a private network is reached, by address or by name.
    bool privateNetworkAllowed = false;
    // Whether a read of the document (RenderedPage::text) holds what the caller needs; the document is
    // read as soon as it does. None: an attribute list or a packaging-and-parameters table at all.
    std::function<bool(const QString &text)> holds;
};

// A product page as the browser shows it, once its scripts have built it.
struct RenderedPage
{
    enum class Status
    {
        Ok,        // `text` holds the document
        TimedOut,  // no loaded document could be read by the limit
        Refused,   // a rule of ours stopped it: a redirect or navigation it may not follow
        Failed,    // the network or the engine failed, or the link is no page
        Cancelled, // cancel(), or a newer load took its place
    };

    Status status = Status::Failed;
    // Ok: whether the document held what was asked for when read. False when it did not: read as it
    // stood once the page had gone idle, or at the limit.
    bool settled = false;
    // The document as the page shows it, in the lookup's rendered form (attributelookup.h:
    // PageForm::Rendered): its elements and texts with names as the engine writes them (lower case in an
    // HTML document), so that "</li>" and "</td>" stand where the lookup looks for them, every character
    // as the page holds it, lone surrogates too.
    QString text;
    QUrl finalUrl;     // the document's address, after redirects
    QString errorText; // plain, for the log; empty when Ok
    int followed = 0;  // redirects and reloads followed
    int relearned = 0; // loads again once the hosts it asked for were known
    std::chrono::milliseconds elapsed{0};

    bool ok() const { return status == Status::Ok; }
};

// Loads product pages, one at a time, each in a hidden page of a profile of its own, waits until the
// page's scripts have built what the caller needs, and reads it.
//
// The hidden page sends what the user's own click on the link would send, and no more: the pane's user
// agent and language, and only the cookies that the downloads send for the link from the page that
// asked, under the same SameSite rules. Its profile is off the record and made for the one load: what
// the page's scripts store (cookies, storage, caches) goes with it, and nothing reaches the user's
// profile or cookie store.
//
// The hidden page is kept on a short leash: nothing it does reaches the window or the desktop. No
// dialogs (answered no at once), windows, downloads, notifications, sound, permissions or file choosers;
// no images, media or fonts; no workers, WebRTC or WebSockets; no main-frame navigation but the link's
// redirects and the page's reloads of the link. Every request it makes keeps to the downloads' rule on
// this machine and private networks: a host written as an address is judged as it stands; a name only
// once the resolver has said where it leads. The engine asks about a request and wants the answer at
// once, so a request to a name not yet known is refused while the name is looked up, and the link is
// loaded again once every name it asked for is known (at most `maxRelearned` times); names stay known
// for the loader's life, so a site's next page loads at once.
class RenderedPageLoader final : public QObject
{
    Q_OBJECT

public:
    // `pane`: the profile whose user agent and language the hidden pages take; it must outlive the
    // loader, as must the session's jar, resolver and clock.
    RenderedPageLoader(QWebEngineProfile *pane, RenderSession session, RenderLimits limits = {},
                       QObject *parent = nullptr);
    ~RenderedPageLoader() override;

    // Loads the request's link. `done` runs exactly once, later, on this thread, and never once
    // `context` is gone or the loader itself is. A load under way when another starts ends with
    // Cancelled: the newer load is for the page the user is on now.
    void load(RenderRequest request, QObject *context, std::function<void(const RenderedPage &)> done);
    // Ends the load under way, if any, with Cancelled.
    void cancel();
    bool isLoading() const;

    const RenderLimits &limits() const { return m_limits; }

    // Where a host name leads, as far as the loader knows: nothing yet, outside (or nowhere the resolver
    // knows), or inside this machine or a private network.
    enum class HostPlace
    {
        Unknown,
        Outside,
        Inside,
    };
    HostPlace placeOf(const QString &host) const;
    // The names known, for now, to lead outside this machine and its networks.
    QStringList hostsOutside() const;
    // Looks `host` up unless it is known or being looked up; `done` runs once it is known.
    void learn(const QString &host, QObject *context, std::function<void()> done);

Q_SIGNALS:
    // The hidden page has loaded its document and waits for its scripts to build what is asked for: a
    // window that shows it waits for the product page may say that the page is still loading.
    void stillLoading();

private:
    QWebEngineProfile *m_pane = nullptr;
    RenderSession m_session;
    RenderLimits m_limits;
    QPointer<RenderRun> m_run;
    struct Place
    {
        HostPlace place = HostPlace::Unknown;
        std::chrono::milliseconds at{0};
    };
    QHash<QString, Place> m_places;
    QHash<QString, QList<std::pair<QPointer<QObject>, std::function<void()>>>> m_lookups;
};

} // namespace Quillory
