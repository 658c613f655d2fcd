#include "downloadhandler.h"

#include "cookiejar.h"
#include "hostresolver.h"
#include "weburl.h"

#include <QMutex>
#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QThreadPool>

#include <algorithm>
#include <climits>

namespace Quillory {

namespace {

using Status = DownloadResult::Status;

// Bodies this large are decoded on the thread pool, so that a page of megabytes in a legacy charset does
// not hold up the window; smaller ones cost less than the trip there and back.
constexpr qsizetype kDecodeElsewhereBytes = 256 * 1024;

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

// Why the redirect from `current` to `next` is not followed; empty when it is. `followed`: how many
// redirects the fetch has followed before this one. (Where a name leads is checked when the hop is made.)
QString hopRefusal(const QUrl &current, const QUrl &next, bool privateNetworkAllowed, int followed,
                   int maxRedirects)
{
    if (QString why = redirectRefusal(current, next, privateNetworkAllowed); !why.isEmpty())
        return why;
    if (followed >= maxRedirects)
        return QStringLiteral("more than %1 redirects; the next was to ").arg(maxRedirects);
    return {};
}

// The result of a download that ends before anything is sent: a URL that is not http or https with a
// host, or one into this machine or a private network when the request does not allow it.
std::optional<DownloadResult> endBeforeSending(const DownloadRequest &request)
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
    return std::nullopt;
}

bool anyPrivate(const QList<QHostAddress> &addresses)
{
    return std::any_of(addresses.cbegin(), addresses.cend(), isPrivateNetworkAddress);
}

} // namespace

// What one GET gave.
struct DownloadHandler::Hop
{
    QByteArray body;          // not read for a redirect: its own body is not the page
    bool redirecting = false; // the headers say 3xx with a Location
    // An error page cut short reports both its status error and the transport's: the transport's
    // counts, whichever of the two the reply ends up holding.
    QNetworkReply::NetworkError transportError = QNetworkReply::NoError;
    QString transportErrorText;
};

// A body decoded on the thread pool reports back unless its handler has gone in the meantime; the lock
// keeps the handler from going while the report is being posted.
struct DownloadHandler::DecodeJob
{
    QMutex mutex;
    bool abandoned = false;
};

DownloadHandler::DownloadHandler(QNetworkAccessManager &manager, DownloadRequest request,
                                 const DownloadLimits &limits, const BrowserSession &session,
                                 const HostResolver &resolver, QObject *parent)
    : QObject(parent), m_manager(manager), m_request(std::move(request)), m_limits(limits),
      m_cookies(m_request.initiator.isEmpty() ? nullptr : session.cookies), m_resolver(resolver)
{
    // Redirects are followed here rather than by Qt: Qt 6.4's own following re-sends requests and was
    // seen to end "successfully" with an empty body.
    m_template.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    m_template.setTransferTimeout(int(std::clamp<qint64>(limits.transferTimeout.count(), 0, INT_MAX)));
    if (!session.userAgent.isEmpty())
        m_template.setHeader(QNetworkRequest::UserAgentHeader, session.userAgent);
    // Cookies by the browser's rules for the page the request is made for: set here, hop by hop, rather
    // than by the network manager, which knows nothing of that page.
    if (m_cookies)
        m_template.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    for (const auto &[name, value] : m_request.headers)
        m_template.setRawHeader(name, value);

    m_overall.setSingleShot(true);
    connect(&m_overall, &QTimer::timeout, this, [this] {
        end(Ending::TimedOut,
            QStringLiteral("the download did not end within %1 ms").arg(m_limits.totalTimeout.count()));
    });
}

DownloadHandler::~DownloadHandler()
{
    if (m_decoding) {
        QMutexLocker lock(&m_decoding->mutex);
        m_decoding->abandoned = true;
    }
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
    }
    // The replies are children: any still here (one in flight, one waiting for its deferred deletion)
    // goes with the handler, so that a manager that outlives it keeps nothing.
}

void DownloadHandler::start()
{
    if (m_finished)
        return;
    if (std::optional<DownloadResult> early = endBeforeSending(m_request)) {
        finish(std::move(*early));
        return;
    }
    if (m_ending != Ending::None) { // cancelled before it started: nothing is sent
        finish(endedResult());
        return;
    }
    if (m_limits.totalTimeout.count() > 0)
        m_overall.start(m_limits.totalTimeout);
    go(m_request.url);
}

void DownloadHandler::cancel()
{
    end(Ending::Cancelled, QStringLiteral("cancelled"));
}

// The next hop, to `url`: straight away when the request may reach any network or the host is written
// as an address (checked already), else once its name is known not to lead into a private network.
void DownloadHandler::go(const QUrl &url)
{
    m_current = url;
    if (m_request.privateNetworkAllowed || hasAddressHost(url)) {
        send(url);
        return;
    }
    m_resolver.lookUp(networkHost(url), this, [this, url](const QList<QHostAddress> &addresses) {
        if (!m_finished && m_ending == Ending::None && url == m_current)
            checkAddresses(url, addresses);
    });
}

// A name that the resolver does not know is left to the network (or its proxy) to find; one that leads
// into this machine or a private network is followed only when the page that asked is there too, as a
// trial site on the user's own network would be.
void DownloadHandler::checkAddresses(const QUrl &url, const QList<QHostAddress> &addresses)
{
    const auto inside = std::find_if(addresses.cbegin(), addresses.cend(), isPrivateNetworkAddress);
    if (inside == addresses.cend()) {
        send(url);
        return;
    }
    const QString refusal = networkHost(url) + u" leads to " + inside->toString();
    if (m_initiatorPrivate)
        sendIfInitiatorInside(url, refusal);
    else
        judgeInitiator(url, refusal);
}

// Where the page that asked leads, looked up once for the whole download.
void DownloadHandler::judgeInitiator(const QUrl &url, const QString &refusal)
{
    const QUrl &initiator = m_request.initiator;
    if (!isWebUrl(initiator) || hasAddressHost(initiator) || isPrivateNetworkHost(initiator)) {
        m_initiatorPrivate = isWebUrl(initiator) && isPrivateNetworkHost(initiator);
        sendIfInitiatorInside(url, refusal);
        return;
    }
    m_resolver.lookUp(networkHost(initiator), this,
                      [this, url, refusal](const QList<QHostAddress> &addresses) {
                          if (m_finished || m_ending != Ending::None || url != m_current)
                              return;
                          m_initiatorPrivate = anyPrivate(addresses);
                          sendIfInitiatorInside(url, refusal);
                      });
}

void DownloadHandler::sendIfInitiatorInside(const QUrl &url, const QString &refusal)
{
    if (*m_initiatorPrivate)
        send(url);
    else
        refuse(refusal);
}

void DownloadHandler::send(const QUrl &url)
{
    QNetworkRequest request = m_template;
    request.setUrl(url);
    if (m_cookies) {
        const QList<QNetworkCookie> cookies =
            m_cookies->cookiesForRequest(url, m_request.initiator, m_request.userActivated);
        if (!cookies.isEmpty())
            request.setHeader(QNetworkRequest::CookieHeader, QVariant::fromValue(cookies));
    }
    m_hop = std::make_unique<Hop>();
    QNetworkReply *const reply = m_manager.get(request);
    reply->setParent(this);
    m_reply = reply;
    connect(reply, &QNetworkReply::errorOccurred, this, [this](QNetworkReply::NetworkError error) {
        if (m_reply && !isHttpStatusError(error) && m_hop->transportError == QNetworkReply::NoError) {
            m_hop->transportError = error;
            m_hop->transportErrorText = m_reply->errorString();
        }
    });
    connect(reply, &QNetworkReply::metaDataChanged, this, &DownloadHandler::onMetaData);
    connect(reply, &QNetworkReply::readyRead, this, &DownloadHandler::onReadyRead);
    connect(reply, &QNetworkReply::finished, this, &DownloadHandler::onHopFinished);
}

void DownloadHandler::onMetaData()
{
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    m_hop->redirecting = status >= 300 && status < 400 && m_reply->hasRawHeader("Location");
    if (m_hop->redirecting)
        return;
    const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && length.toLongLong() > m_limits.maxBodyBytes) {
        end(Ending::TooLarge, QStringLiteral("the body is larger than %1 bytes (Content-Length %2)")
                                  .arg(m_limits.maxBodyBytes)
                                  .arg(length.toLongLong()));
        return;
    }
    if (length.isValid() && m_hop->body.isEmpty())
        m_hop->body.reserve(qsizetype(qMax<qint64>(0, length.toLongLong())));
}

void DownloadHandler::onReadyRead()
{
    if (m_hop->redirecting) {
        m_reply->skip(m_reply->bytesAvailable()); // a redirect's own body is not the page
        return;
    }
    m_hop->body += m_reply->readAll();
    if (m_hop->body.size() > m_limits.maxBodyBytes)
        end(Ending::TooLarge, QStringLiteral("the body is larger than %1 bytes").arg(m_limits.maxBodyBytes));
}

void DownloadHandler::onHopFinished()
{
    QNetworkReply *const reply = m_reply;
    m_reply = nullptr;
    const std::unique_ptr<Hop> hop = std::move(m_hop);
    reply->disconnect(this);
    reply->deleteLater(); // not from within its own signal; the destructor takes it if still there

    const int httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    for (const QNetworkCookie &cookie :
         reply->header(QNetworkRequest::SetCookieHeader).value<QList<QNetworkCookie>>())
        m_cookiesSet.append(QString::fromLatin1(cookie.name()));
    const bool transportFailed = hop->transportError != QNetworkReply::NoError;
    const QNetworkReply::NetworkError error = transportFailed ? hop->transportError : reply->error();
    QString errorText = transportFailed ? hop->transportErrorText : reply->errorString();

    if (m_ending != Ending::None) {
        DownloadResult ended = endedResult();
        ended.httpStatus = httpStatus;
        finish(std::move(ended));
        return;
    }
    DownloadResult result;
    result.httpStatus = httpStatus;
    result.finalUrl = m_current;

    const QUrl target = reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
    if (error == QNetworkReply::NoError && httpStatus >= 300 && httpStatus < 400 && target.isValid() &&
        !target.isEmpty()) {
        const QUrl next = m_current.resolved(target);
        const QString refusal =
            hopRefusal(m_current, next, m_request.privateNetworkAllowed, m_followed, m_limits.maxRedirects);
        if (!refusal.isEmpty()) {
            result.status = Status::NetworkError;
            result.refused = true;
            result.errorText = refusal + next.toDisplayString();
            finish(std::move(result));
            return;
        }
        ++m_followed;
        m_redirect = true;
        go(next);
        return;
    }

    result.contentType = reply->rawHeader("Content-Type");
    if (error == QNetworkReply::OperationCanceledError || error == QNetworkReply::TimeoutError) {
        // Nothing of ours aborted it: the transfer time-out did.
        result.status = Status::TimedOut;
        result.errorText =
            QStringLiteral("the server sent nothing for %1 ms").arg(m_limits.transferTimeout.count());
        finish(std::move(result));
        return;
    }
    if (error != QNetworkReply::NoError && !(isHttpStatusError(error) && httpStatus >= 400)) {
        result.status = Status::NetworkError;
        result.networkCause = causeOf(error);
        result.errorText = std::move(errorText);
        finish(std::move(result));
        return;
    }
    QByteArray body = std::move(hop->body);
    if (reply->isOpen())
        body += reply->readAll(); // what the reply still holds belongs to the body
    // Qt 6.4 does not always report a connection that closes before the body is complete: an error
    // status hides it, and so, now and then, does a close that arrives with the last bytes. Where
    // the length was declared and the body not re-encoded, count the bytes ourselves. (A chunked body
    // cut short can still pass for whole: Qt gives no view of the chunk framing.)
    const QVariant declaredLength = reply->header(QNetworkRequest::ContentLengthHeader);
    const QByteArray encoding = reply->rawHeader("Content-Encoding").trimmed().toLower();
    const bool bodyExpected = httpStatus >= 200 && httpStatus != 204 && httpStatus != 304;
    if (declaredLength.isValid() && bodyExpected && (encoding.isEmpty() || encoding == "identity") &&
        body.size() < declaredLength.toLongLong()) {
        result.status = Status::NetworkError;
        result.errorText = QStringLiteral("the connection closed after %1 of %2 bytes")
                               .arg(body.size())
                               .arg(declaredLength.toLongLong());
        finish(std::move(result));
        return;
    }
    if (body.size() > m_limits.maxBodyBytes) {
        result.status = Status::TooLarge;
        result.errorText = QStringLiteral("the body is larger than %1 bytes").arg(m_limits.maxBodyBytes);
        finish(std::move(result));
        return;
    }
    result.status = Status::Ok;
    decodeAndFinish(std::move(result), std::move(body));
}

// Ends the download by a rule or limit of ours: the hop in flight is aborted and reports through its
// own end; with none in flight (a name being looked up), the download ends here.
void DownloadHandler::end(Ending why, QString text)
{
    if (m_finished || m_ending != Ending::None)
        return;
    m_ending = why;
    m_endingText = std::move(text);
    if (m_reply) {
        m_reply->abort(); // reports through onHopFinished
        return;
    }
    if (m_current.isValid()) // else not started yet: start() ends it
        finish(endedResult());
}

DownloadResult DownloadHandler::endedResult() const
{
    DownloadResult result;
    switch (m_ending) {
    case Ending::None:
    case Ending::Cancelled:
        result.status = Status::Cancelled;
        break;
    case Ending::TimedOut:
        result.status = Status::TimedOut;
        break;
    case Ending::TooLarge:
        result.status = Status::TooLarge;
        break;
    }
    result.errorText = m_endingText;
    result.finalUrl = m_current;
    return result;
}

void DownloadHandler::refuse(QString text)
{
    DownloadResult result;
    result.status = Status::NetworkError;
    result.refused = true;
    result.errorText =
        (m_redirect ? QStringLiteral("redirect into this machine or a private network refused: ")
                    : QStringLiteral("the link points into this machine or a private network: ")) +
        std::move(text);
    result.finalUrl = m_current;
    finish(std::move(result));
}

void DownloadHandler::decodeAndFinish(DownloadResult result, QByteArray body)
{
    if (!m_request.decodeText || body.size() < kDecodeElsewhereBytes) {
        if (m_request.decodeText)
            result.text = decodePageBody(body, result.contentType);
        result.body = std::move(body);
        finish(std::move(result));
        return;
    }
    auto job = std::make_shared<DecodeJob>();
    m_decoding = job;
    QThreadPool::globalInstance()->start([job, handler = this, result = std::move(result),
                                          body = std::move(body)]() mutable {
        result.text = decodePageBody(body, result.contentType);
        result.body = std::move(body);
        const QMutexLocker lock(&job->mutex);
        if (job->abandoned)
            return;
        // Posted to the handler: dropped with it should it go before the event is delivered.
        QMetaObject::invokeMethod(
            handler, [handler, result = std::move(result)]() mutable { handler->finish(std::move(result)); },
            Qt::QueuedConnection);
    });
}

void DownloadHandler::finish(DownloadResult result)
{
    if (m_finished)
        return;
    m_finished = true;
    m_overall.stop();
    if (m_decoding) {
        const QMutexLocker lock(&m_decoding->mutex);
        m_decoding->abandoned = true;
    }
    result.cookiesSet = m_cookiesSet;
    m_result = std::move(result);
    // Never from within start() or cancel(): the caller connects to `finished` after starting.
    QMetaObject::invokeMethod(
        this, [this] { Q_EMIT finished(m_result); }, Qt::QueuedConnection);
}

} // namespace Quillory
