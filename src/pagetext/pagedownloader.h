#pragma once

#include "pagecharset.h" // decodePageBody, decoderForCharset: the page's text

#include <QByteArray>
#include <QEventLoop>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <chrono>
#include <optional>
#include <stop_token>
#include <utility>

class QNetworkAccessManager;

namespace Quillory {

struct DownloadLimits
{
    // A server that sends nothing for this long has stopped answering.
    std::chrono::milliseconds transferTimeout{std::chrono::seconds(60)};
    // A body that trickles in forever still ends here.
    std::chrono::milliseconds totalTimeout{std::chrono::minutes(5)};
    qint64 maxBodyBytes = qint64(32) * 1024 * 1024;
    int maxRedirects = 10;
};

struct DownloadResult
{
    enum class Status
    {
        Ok,
        UnsupportedScheme, // only http and https are fetched
        NetworkError,
        TimedOut,
        TooLarge,
        Cancelled,
    };

    Status status = Status::NetworkError;
    bool refused = false; // a rule of ours stopped it (a redirect it may not follow), not the network
    QString errorText;
    // What the network reported, for a NetworkError that the network made.
    enum class Cause
    {
        None, // not the network's: a rule of ours, or a reply cut short after it began
        ConnectionRefused,
        HostNotFound,
        RemoteClosed,
        SecureConnection, // the TLS handshake failed
        Proxy,            // the proxy could not be reached or closed the connection
        Other,
    };
    Cause networkCause = Cause::None;
    int httpStatus = 0;     // the final response's status; the body counts whatever it is
    QByteArray body;        // the whole body, only when status is Ok
    QString text;           // the body decoded in the page's own character set, only when status is Ok
    QByteArray contentType; // the final response's Content-Type header, as sent
    QUrl finalUrl;          // where the body came from, after redirects
    QStringList cookiesSet; // the names of the cookies that the replies set

    bool ok() const { return status == Status::Ok; }
};

class HostResolver;
class SharedCookieJar;

// Who the downloads say they are: the browser pane's user agent and cookies, so that a site sees one
// browser. Empty: Qt's own user agent and no cookies (the direct fetches, which have no browser).
struct BrowserSession
{
    QByteArray userAgent;
    SharedCookieJar *cookies = nullptr; // not owned; outlives every download made with it
};

// One download with the options the direct fetches need; `download(url)` is `fetch({url})`.
struct DownloadRequest
{
    QUrl url;
    QList<std::pair<QByteArray, QByteArray>> headers; // set on the request as given
    bool decodeText = true;                           // false: DownloadResult::text stays empty
    // false: a URL (or a redirect) to this machine or a private network is refused (weburl.h).
    bool privateNetworkAllowed = true;
    // The page the request is made for, and whether the user's own action (a key, a click) made it: the
    // session's cookies go with it as a browser would send them (SharedCookieJar::cookiesForRequest).
    // Empty: by the jar's own rules alone.
    QUrl initiator;
    bool userActivated = false;
    // What the wait may run on the calling thread: AllEvents lets a window's events run;
    // ExcludeUserInputEvents holds the user's input back until the download has ended.
    QEventLoop::ProcessEventsFlags waitFlags = QEventLoop::AllEvents;
};

// Downloads as one blocking call that takes a URL and gives the page as text or fails: a download
// handler (downloadhandler.h) waited for in a local event loop on the calling thread, for the callers
// that want the answer in hand (the direct fetches, the literal lookup). The window's own downloads go
// through DownloadManager instead. The object holds only its limits and may be shared between threads.
class PageDownloader final
{
public:
    // The resolver is the system's unless given (a test's own): the header stays free of Qt Network's
    // address types, which the lookup's fuzzer is built without.
    explicit PageDownloader(DownloadLimits limits = {}, BrowserSession session = {});
    PageDownloader(DownloadLimits limits, BrowserSession session, const HostResolver &resolver);

    const DownloadLimits &limits() const { return m_limits; }
    const BrowserSession &session() const { return m_session; }

    DownloadResult download(const QUrl &url, std::stop_token stop = {}) const;
    // One fetch on a network manager of its own, made for the call.
    DownloadResult fetch(const DownloadRequest &request, std::stop_token stop = {}) const;
    // One fetch on a manager that the caller owns and keeps for many fetches, so that they can share
    // its connections. The manager belongs to the calling thread. When the session has a cookie jar,
    // the manager is given it (once; the jar stays its owner's and must outlive the manager's use);
    // otherwise the manager's jar is left as it is. Every fetch, cancelled or timed out too, deletes
    // its replies, and leaves the manager fit for the next.
    DownloadResult fetch(const DownloadRequest &request, std::stop_token stop,
                         QNetworkAccessManager &manager) const;

    // The page at `url` as text, or nothing when the transfer fails in any way.
    std::optional<QString> OpenURL(const QString &url, std::stop_token stop = {}) const;

private:
    DownloadLimits m_limits;
    BrowserSession m_session;
    const HostResolver *m_resolver = nullptr;
};

} // namespace Quillory
