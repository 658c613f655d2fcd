#include "pagedownloader.h"

#include "cookiejar.h"
#include "timemark.h"
#include "weburl.h"

#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <functional>
#include <memory>

namespace Quillory {

namespace {

// Errors that QNetworkReply derives from an HTTP status of 400 and above: the server answered, and
// the answer's body counts like any other. Transport errors (a connection that breaks in the middle
// of the body, a time-out, a TLS failure) are not among them.
bool isHttpStatusError(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::ContentAccessDenied:
    case QNetworkReply::ContentOperationNotPermittedError:
    case QNetworkReply::ContentNotFoundError:
    case QNetworkReply::AuthenticationRequiredError:
    case QNetworkReply::ContentConflictError:
    case QNetworkReply::ContentGoneError:
    case QNetworkReply::UnknownContentError:
    case QNetworkReply::ProtocolInvalidOperationError:
    case QNetworkReply::InternalServerError:
    case QNetworkReply::OperationNotImplementedError:
    case QNetworkReply::ServiceUnavailableError:
    case QNetworkReply::UnknownServerError:
        return true;
    default:
        return false;
    }
}

using Status = DownloadResult::Status;

// What ended a hop before its reply finished by itself: a limit of the fetch or its stop.
enum class Ending
{
    None, // nothing of ours: the reply finished
    TooLarge,
    TimedOut,
    Cancelled,
};

// What one GET gave.
struct Hop
{
    Ending ending = Ending::None;
    QString endingText;
    QByteArray body; // not read for a redirect: its own body is not the page
    int httpStatus = 0;
    QUrl redirectTarget; // where a 3xx points, as sent (relative or absolute)
    // An error page cut short reports both its status error and the transport's: the transport's
    // counts, whichever of the two the reply ends up holding.
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QString errorText;
    QByteArray contentType;
    QVariant declaredLength; // Content-Length, when sent
    QByteArray contentEncoding;
    QStringList cookiesSet; // the names of the cookies the reply set

    // The hop ended by itself, without an error, in a 3xx that names a target: a redirect to follow.
    bool redirects() const
    {
        return ending == Ending::None && error == QNetworkReply::NoError && httpStatus >= 300 &&
               httpStatus < 400 && redirectTarget.isValid() && !redirectTarget.isEmpty();
    }
};

// Sends the GETs of one fetch on `manager`, one hop at a time, and waits for each in a local event
// loop on the calling thread. Every hop carries the request's headers, the session's user agent and the
// transfer time-out, and reads its body under the cap. The overall time-out and the stop token span the
// whole fetch: whichever comes first ends the hop in flight, and the fetch with it. A hop's reply is
// deleted before the hop returns, so a manager that outlives the fetch keeps nothing of it.
class HopSender final
{
public:
    HopSender(QNetworkAccessManager &manager, const DownloadRequest &request, const DownloadLimits &limits,
              const BrowserSession &session, std::stop_token stop)
        : m_manager(manager), m_maxBody(limits.maxBodyBytes), m_waitFlags(request.waitFlags),
          m_cookies(request.initiator.isEmpty() ? nullptr : session.cookies), m_initiator(request.initiator),
          m_userActivated(request.userActivated), m_onStop(std::move(stop), [this] {
              // Runs on the thread that requested the stop: hand the work to the loop's thread.
              QMetaObject::invokeMethod(
                  &m_loop, [this] { end(Ending::Cancelled, QStringLiteral("cancelled")); },
                  Qt::QueuedConnection);
          })
    {
        // Redirects are followed by the fetch rather than by Qt: Qt 6.4's own following re-sends
        // requests and was seen to end "successfully" with an empty body.
        m_request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                               QNetworkRequest::ManualRedirectPolicy);
        m_request.setTransferTimeout(int(std::clamp<qint64>(limits.transferTimeout.count(), 0, INT_MAX)));
        if (!session.userAgent.isEmpty())
            m_request.setHeader(QNetworkRequest::UserAgentHeader, session.userAgent);
        // Cookies by the browser's rules for the page the request is made for: set here, hop by hop,
        // rather than by the network manager, which knows nothing of that page.
        if (m_cookies)
            m_request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
        for (const auto &[name, value] : request.headers)
            m_request.setRawHeader(name, value);

        m_overall.setSingleShot(true);
        QObject::connect(&m_overall, &QTimer::timeout, &m_loop, [this, total = limits.totalTimeout] {
            end(Ending::TimedOut, QStringLiteral("the download did not end within %1 ms").arg(total.count()));
        });
        if (limits.totalTimeout.count() > 0)
            m_overall.start(limits.totalTimeout);
    }

    HopSender(const HopSender &) = delete;
    HopSender &operator=(const HopSender &) = delete;

    Hop get(const QUrl &url);

private:
    void end(Ending why, QString text)
    {
        if (m_ending != Ending::None)
            return;
        m_ending = why;
        m_endingText = std::move(text);
        if (m_reply && !m_reply->isFinished())
            m_reply->abort(); // emits finished
        m_loop.quit();
    }

    QNetworkAccessManager &m_manager;
    QNetworkRequest m_request; // every hop's, but for its URL and cookies
    const qint64 m_maxBody;
    const QEventLoop::ProcessEventsFlags m_waitFlags;
    const SharedCookieJar *const m_cookies; // set: each hop's cookies are picked here
    const QUrl m_initiator;
    const bool m_userActivated;
    Ending m_ending = Ending::None;
    QString m_endingText;
    QPointer<QNetworkReply> m_reply; // the hop in flight
    QEventLoop m_loop;
    QTimer m_overall;
    // Last, so that it goes first: it may be running on another thread, and its destructor waits for it.
    std::stop_callback<std::function<void()>> m_onStop;
};

Hop HopSender::get(const QUrl &url)
{
    Hop hop;
    bool redirecting = false;
    QNetworkReply::NetworkError transportError = QNetworkReply::NoError;
    QString transportErrorText;
    QNetworkRequest request = m_request;
    request.setUrl(url);
    if (m_cookies) {
        const QList<QNetworkCookie> cookies = m_cookies->cookiesForRequest(url, m_initiator, m_userActivated);
        if (!cookies.isEmpty())
            request.setHeader(QNetworkRequest::CookieHeader, QVariant::fromValue(cookies));
    }
    // Declared after everything its handlers touch, so that it goes first.
    const std::unique_ptr<QNetworkReply> owned(m_manager.get(request));
    QNetworkReply *const reply = owned.get();
    m_reply = reply;
    QObject::connect(reply, &QNetworkReply::finished, &m_loop, &QEventLoop::quit);
    QObject::connect(reply, &QNetworkReply::errorOccurred, &m_loop, [&](QNetworkReply::NetworkError error) {
        if (!isHttpStatusError(error) && transportError == QNetworkReply::NoError) {
            transportError = error;
            transportErrorText = reply->errorString();
        }
    });
    QObject::connect(reply, &QNetworkReply::metaDataChanged, &m_loop, [&] {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        redirecting = status >= 300 && status < 400 && reply->hasRawHeader("Location");
        if (redirecting)
            return;
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > m_maxBody) {
            end(Ending::TooLarge, QStringLiteral("the body is larger than %1 bytes (Content-Length %2)")
                                      .arg(m_maxBody)
                                      .arg(length.toLongLong()));
            return;
        }
        if (length.isValid() && hop.body.isEmpty())
            hop.body.reserve(qsizetype(qMax<qint64>(0, length.toLongLong())));
    });
    QObject::connect(reply, &QNetworkReply::readyRead, &m_loop, [&] {
        if (redirecting) {
            reply->skip(reply->bytesAvailable()); // a redirect's own body is not the page
            return;
        }
        hop.body += reply->readAll();
        if (hop.body.size() > m_maxBody)
            end(Ending::TooLarge, QStringLiteral("the body is larger than %1 bytes").arg(m_maxBody));
    });

    if (!reply->isFinished() && m_ending == Ending::None)
        m_loop.exec(m_waitFlags);

    const auto takeError = [&] {
        hop.error = transportError != QNetworkReply::NoError ? transportError : reply->error();
        hop.errorText = transportError != QNetworkReply::NoError ? transportErrorText : reply->errorString();
    };
    hop.ending = m_ending;
    hop.endingText = m_endingText;
    hop.httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    hop.redirectTarget = reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
    for (const QNetworkCookie &cookie :
         reply->header(QNetworkRequest::SetCookieHeader).value<QList<QNetworkCookie>>())
        hop.cookiesSet.append(QString::fromLatin1(cookie.name()));
    takeError();
    if (hop.redirects())
        return hop;

    // The fetch ends with this hop. A reply that the wait left unfinished is broken off; what it
    // still holds belongs to the body.
    if (m_ending == Ending::None && !reply->isFinished())
        reply->abort();
    if (m_ending == Ending::None && reply->isOpen())
        hop.body += reply->readAll();
    takeError();
    hop.contentType = reply->rawHeader("Content-Type");
    hop.declaredLength = reply->header(QNetworkRequest::ContentLengthHeader);
    hop.contentEncoding = reply->rawHeader("Content-Encoding");
    return hop;
}

// Why the redirect from `current` to `next` is not followed; empty when it is. `followed`: how many
// redirects the fetch has followed before this one.
QString redirectRefusal(const QUrl &current, const QUrl &next, bool privateNetworkAllowed, int followed,
                        int maxRedirects)
{
    if (!isWebScheme(next))
        return QStringLiteral("redirect to a URL that is not http or https refused: ");
    if (current.scheme().compare(u"https", Qt::CaseInsensitive) == 0 &&
        next.scheme().compare(u"http", Qt::CaseInsensitive) == 0)
        return QStringLiteral("redirect from https to http refused: ");
    if (!isWebUrl(next))
        return QStringLiteral("redirect to an invalid URL refused: ");
    if (!privateNetworkAllowed && isPrivateNetworkHost(next))
        return QStringLiteral("redirect into this machine or a private network refused: ");
    if (followed >= maxRedirects)
        return QStringLiteral("more than %1 redirects; the next was to ").arg(maxRedirects);
    return {};
}

DownloadResult::Cause causeOf(QNetworkReply::NetworkError error)
{
    using Cause = DownloadResult::Cause;
    switch (error) {
    case QNetworkReply::NoError:
        return Cause::None;
    case QNetworkReply::ConnectionRefusedError:
        return Cause::ConnectionRefused;
    case QNetworkReply::HostNotFoundError:
        return Cause::HostNotFound;
    case QNetworkReply::RemoteHostClosedError:
        return Cause::RemoteClosed;
    case QNetworkReply::SslHandshakeFailedError:
        return Cause::SecureConnection;
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
        return Cause::Proxy;
    default:
        return Cause::Other;
    }
}

// The result of a fetch whose last hop, made to `finalUrl`, was `hop`.
DownloadResult resultOf(Hop hop, const QUrl &finalUrl, const DownloadLimits &limits, bool decodeText)
{
    DownloadResult result;
    result.httpStatus = hop.httpStatus;
    result.contentType = std::move(hop.contentType);
    result.finalUrl = finalUrl;

    switch (hop.ending) {
    case Ending::TooLarge:
        result.status = Status::TooLarge;
        result.errorText = std::move(hop.endingText);
        return result;
    case Ending::TimedOut:
        result.status = Status::TimedOut;
        result.errorText = std::move(hop.endingText);
        return result;
    case Ending::Cancelled:
        result.status = Status::Cancelled;
        result.errorText = std::move(hop.endingText);
        return result;
    case Ending::None:
        break;
    }
    if (hop.error == QNetworkReply::OperationCanceledError || hop.error == QNetworkReply::TimeoutError) {
        // Nothing of ours aborted it: the transfer time-out did.
        result.status = Status::TimedOut;
        result.errorText =
            QStringLiteral("the server sent nothing for %1 ms").arg(limits.transferTimeout.count());
        return result;
    }
    if (hop.error != QNetworkReply::NoError && !(isHttpStatusError(hop.error) && result.httpStatus >= 400)) {
        result.status = Status::NetworkError;
        result.networkCause = causeOf(hop.error);
        result.errorText = std::move(hop.errorText);
        return result;
    }
    // Qt 6.4 does not always report a connection that closes before the body is complete: an error
    // status hides it, and so, now and then, does a close that arrives with the last bytes. Where
    // the length was declared and the body not re-encoded, count the bytes ourselves. (A chunked body
    // cut short can still pass for whole: Qt gives no view of the chunk framing.)
    const QByteArray encoding = hop.contentEncoding.trimmed().toLower();
    const bool bodyExpected =
        result.httpStatus >= 200 && result.httpStatus != 204 && result.httpStatus != 304;
    if (hop.declaredLength.isValid() && bodyExpected && (encoding.isEmpty() || encoding == "identity") &&
        hop.body.size() < hop.declaredLength.toLongLong()) {
        result.status = Status::NetworkError;
        result.errorText = QStringLiteral("the connection closed after %1 of %2 bytes")
                               .arg(hop.body.size())
                               .arg(hop.declaredLength.toLongLong());
        return result;
    }
    if (hop.body.size() > limits.maxBodyBytes) {
        result.status = Status::TooLarge;
        result.errorText = QStringLiteral("the body is larger than %1 bytes").arg(limits.maxBodyBytes);
        return result;
    }
    result.status = Status::Ok;
    result.transferredNs = timeMarkNs();
    if (decodeText)
        result.text = decodePageBody(hop.body, result.contentType);
    result.decodedNs = timeMarkNs();
    result.body = std::move(hop.body);
    return result;
}

// The result of a fetch that ends before anything is sent: a URL that is not http or https with a host,
// one into this machine or a private network when the request does not allow it, a stop asked for
// already. Nothing when the fetch may go ahead.
std::optional<DownloadResult> endBeforeSending(const DownloadRequest &request, const std::stop_token &stop)
{
    DownloadResult result;
    const QUrl &url = request.url;
    if (!isWebScheme(url)) {
        result.status = Status::UnsupportedScheme;
        result.errorText = QStringLiteral("only http and https URLs are fetched: ") + url.toDisplayString();
        return result;
    }
    if (!isWebUrl(url)) {
        result.status = Status::NetworkError;
        result.errorText = QStringLiteral("invalid URL: ") + url.toDisplayString();
        return result;
    }
    if (!request.privateNetworkAllowed && isPrivateNetworkHost(url)) {
        result.status = Status::NetworkError;
        result.refused = true;
        result.errorText = QStringLiteral("the link points into this machine or a private network: ") +
                           url.toDisplayString();
        return result;
    }
    if (stop.stop_requested()) {
        result.status = Status::Cancelled;
        result.errorText = QStringLiteral("cancelled");
        return result;
    }
    return std::nullopt;
}

// Gives `manager` the session's jar unless it has it already. A manager adopts a jar of its own thread
// and would delete it with itself: the jar goes back to its owner, which keeps it alive for as long as
// the manager is used.
void useCookieJar(QNetworkAccessManager &manager, SharedCookieJar *jar)
{
    if (!jar || manager.cookieJar() == jar)
        return;
    QObject *const owner = jar->parent();
    manager.setCookieJar(jar);
    if (jar->parent() != owner)
        jar->setParent(owner);
}

// The hops of one fetch on `manager`: the first to the request's URL, then one for each redirect that
// may be followed (each is checked before it is made), up to the last, which makes the result.
DownloadResult fetchOn(QNetworkAccessManager &manager, const DownloadRequest &request, std::stop_token stop,
                       const DownloadLimits &limits, const BrowserSession &session)
{
    useCookieJar(manager, session.cookies);
    HopSender hops(manager, request, limits, session, std::move(stop));
    QUrl current = request.url;
    QStringList cookiesSet;
    for (int followed = 0;; ++followed) {
        Hop hop = hops.get(current);
        cookiesSet += hop.cookiesSet;
        if (!hop.redirects()) {
            DownloadResult result = resultOf(std::move(hop), current, limits, request.decodeText);
            result.cookiesSet = cookiesSet;
            return result;
        }
        const QUrl next = current.resolved(hop.redirectTarget);
        const QString refusal =
            redirectRefusal(current, next, request.privateNetworkAllowed, followed, limits.maxRedirects);
        if (!refusal.isEmpty()) {
            DownloadResult result;
            result.status = Status::NetworkError;
            result.refused = true;
            result.errorText = refusal + next.toDisplayString();
            result.httpStatus = hop.httpStatus;
            result.finalUrl = current;
            result.cookiesSet = cookiesSet;
            return result;
        }
        current = next;
    }
}

} // namespace

PageDownloader::PageDownloader(DownloadLimits limits, BrowserSession session)
    : m_limits(limits), m_session(std::move(session))
{}

DownloadResult PageDownloader::download(const QUrl &url, std::stop_token stop) const
{
    DownloadRequest request;
    request.url = url;
    return fetch(request, std::move(stop));
}

std::optional<QString> PageDownloader::OpenURL(const QString &url, std::stop_token stop) const
{
    DownloadResult result = download(QUrl(url), std::move(stop));
    if (!result.ok())
        return std::nullopt;
    return std::move(result.text);
}

DownloadResult PageDownloader::fetch(const DownloadRequest &request, std::stop_token stop) const
{
    if (std::optional<DownloadResult> early = endBeforeSending(request, stop))
        return std::move(*early);
    // One manager per call, on the calling thread; its proxy is the application's. It outlives the
    // hops, their loop and their replies.
    QNetworkAccessManager manager;
    return fetchOn(manager, request, std::move(stop), m_limits, m_session);
}

DownloadResult PageDownloader::fetch(const DownloadRequest &request, std::stop_token stop,
                                     QNetworkAccessManager &manager) const
{
    Q_ASSERT(manager.thread() == QThread::currentThread());
    if (std::optional<DownloadResult> early = endBeforeSending(request, stop))
        return std::move(*early);
    return fetchOn(manager, request, std::move(stop), m_limits, m_session);
}

} // namespace Quillory
