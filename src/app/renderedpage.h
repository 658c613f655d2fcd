#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>

class QWebEngineDownloadRequest;
class QWebEngineProfile;

namespace Quillory {

class RenderRun;

// How long a rendered page may take. The defaults are the program's; tests shorten them.
struct RenderLimits
{
    // The document counts as finished once it has loaded and no node or text has changed for this long.
    std::chrono::milliseconds quietFor{500};
    // Everything, from the request to the answer, ends by then.
    std::chrono::milliseconds total{15000};
    // Redirects and reloads of the link by its own page (a check page that sets a cookie and loads the
    // link again), beyond the first request.
    int maxFollowed = 5;
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
    // Ok: whether the document was quiet when read. False when it was still changing at the limit and
    // was read as it stood then.
    bool settled = false;
    // The doctype and the root's outer markup as the engine serializes them: names as the engine writes
    // them (lower case in an HTML document), so "</li>" and "</td>" read as in a served page.
    QString text;
    QUrl finalUrl;     // the document's address, after redirects
    QString errorText; // plain, for the log; empty when Ok
    int followed = 0;  // redirects and reloads followed
    std::chrono::milliseconds elapsed{0};

    bool ok() const { return status == Status::Ok; }
};

// Loads product pages, one at a time, in a hidden page of the pane's profile (its cookies, its user
// agent), waits until the page's scripts have built the document, and reads it.
//
// The hidden page is kept on a short leash: nothing it does reaches the window or the desktop. No
// dialogs (answered no at once), windows, downloads, notifications, sound, permissions or file choosers;
// no images, media or fonts; no main-frame navigation but the link's redirects and the page's reloads
// of the link; no request into this machine or a private network unless allowed.
//
// The profile must outlive the loader.
class RenderedPageLoader final : public QObject
{
    Q_OBJECT

public:
    explicit RenderedPageLoader(QWebEngineProfile *profile, RenderLimits limits = {},
                                QObject *parent = nullptr);
    ~RenderedPageLoader() override;

    // Loads `url`. `done` runs exactly once, later, on this thread, and never once `context` is gone or
    // the loader itself is. A load under way when another starts ends with Cancelled: the newer load is
    // for the page the user is on now.
    void load(const QUrl &url, bool privateNetworkAllowed, QObject *context,
              std::function<void(const RenderedPage &)> done);
    // Ends the load under way, if any, with Cancelled.
    void cancel();
    bool isLoading() const;

    const RenderLimits &limits() const { return m_limits; }

private:
    void refuseDownload(QWebEngineDownloadRequest *download);

    QWebEngineProfile *m_profile = nullptr;
    RenderLimits m_limits;
    QPointer<RenderRun> m_run;
};

} // namespace Quillory
