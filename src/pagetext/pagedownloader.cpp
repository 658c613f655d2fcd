#include "pagedownloader.h"

#include "cookiejar.h"
#include "weburl.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <algorithm>
#include <climits>

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
    using Status = DownloadResult::Status;
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

    const qint64 maxBody = m_limits.maxBodyBytes;
    enum class Ending
    {
        None,
        TooLarge,
        TimedOut,
        Cancelled
    };
    Ending ending = Ending::None;
    QString endingText;
    QByteArray body;
    QNetworkReply::NetworkError transportError = QNetworkReply::NoError;
    QString transportErrorText;

    // Declared so that they go in the reverse order: the stop callback first (it may be running on
    // another thread; its destructor waits for it), then the timer and the loop, then the manager
    // with its replies. One manager per call, on the calling thread; its proxy is the application's.
    QNetworkAccessManager manager;
    if (SharedCookieJar *jar = m_session.cookies) {
        // The manager adopts a jar of its own thread; the shared jar must outlive it.
        QObject *const owner = jar->parent();
        manager.setCookieJar(jar);
        if (jar->parent() != owner)
            jar->setParent(owner);
    }
    QNetworkReply *reply = nullptr;
    QEventLoop loop;
    QTimer overall;
    overall.setSingleShot(true);

    auto end = [&](Ending why, QString text) {
        if (ending != Ending::None)
            return;
        ending = why;
        endingText = std::move(text);
        if (reply && !reply->isFinished())
            reply->abort(); // emits finished
        loop.quit();
    };
    QObject::connect(&overall, &QTimer::timeout, &loop, [&] {
        end(Ending::TimedOut,
            QStringLiteral("the download did not end within %1 ms").arg(m_limits.totalTimeout.count()));
    });
    QObject *loopContext = &loop;
    std::stop_callback onStop(stop, [loopContext, &end] {
        // Runs on the thread that requested the stop: hand the work to the loop's thread.
        QMetaObject::invokeMethod(
            loopContext, [&end] { end(Ending::Cancelled, QStringLiteral("cancelled")); },
            Qt::QueuedConnection);
    });
    if (m_limits.totalTimeout.count() > 0)
        overall.start(m_limits.totalTimeout);

    // Redirects are followed here rather than by Qt: Qt 6.4's own following re-sends requests and
    // was seen to end "successfully" with an empty body. Each hop is checked before it is made.
    QUrl current = url;
    for (int redirects = 0;; ++redirects) {
        QNetworkRequest networkRequest(current);
        networkRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                                    QNetworkRequest::ManualRedirectPolicy);
        networkRequest.setTransferTimeout(
            int(std::clamp<qint64>(m_limits.transferTimeout.count(), 0, INT_MAX)));
        if (!m_session.userAgent.isEmpty())
            networkRequest.setHeader(QNetworkRequest::UserAgentHeader, m_session.userAgent);
        for (const auto &[name, value] : request.headers)
            networkRequest.setRawHeader(name, value);

        body.clear();
        transportError = QNetworkReply::NoError;
        bool redirecting = false;
        reply = manager.get(networkRequest);
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        // An error page cut short reports both its status error and the transport's: keep the latter,
        // whichever of the two error() ends up holding.
        QObject::connect(reply, &QNetworkReply::errorOccurred, &loop, [&](QNetworkReply::NetworkError error) {
            if (!isHttpStatusError(error) && transportError == QNetworkReply::NoError) {
                transportError = error;
                transportErrorText = reply->errorString();
            }
        });
        QObject::connect(reply, &QNetworkReply::metaDataChanged, &loop, [&] {
            const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            redirecting = status >= 300 && status < 400 && reply->hasRawHeader("Location");
            if (redirecting)
                return;
            const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
            if (length.isValid() && length.toLongLong() > maxBody) {
                end(Ending::TooLarge, QStringLiteral("the body is larger than %1 bytes (Content-Length %2)")
                                          .arg(maxBody)
                                          .arg(length.toLongLong()));
                return;
            }
            if (length.isValid() && body.isEmpty())
                body.reserve(qsizetype(qMax<qint64>(0, length.toLongLong())));
        });
        QObject::connect(reply, &QNetworkReply::readyRead, &loop, [&] {
            if (redirecting) {
                reply->skip(reply->bytesAvailable()); // a redirect's own body is not the page
                return;
            }
            body += reply->readAll();
            if (body.size() > maxBody)
                end(Ending::TooLarge, QStringLiteral("the body is larger than %1 bytes").arg(maxBody));
        });

        if (!reply->isFinished() && ending == Ending::None)
            loop.exec(request.waitFlags);
        if (ending != Ending::None || transportError != QNetworkReply::NoError ||
            reply->error() != QNetworkReply::NoError)
            break;
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const QUrl target = reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
        if (status < 300 || status >= 400 || !target.isValid() || target.isEmpty())
            break;

        const QUrl next = current.resolved(target);
        QString refusal;
        if (!isWebScheme(next))
            refusal = QStringLiteral("redirect to a URL that is not http or https refused: ");
        else if (current.scheme().compare(u"https", Qt::CaseInsensitive) == 0 &&
                 next.scheme().compare(u"http", Qt::CaseInsensitive) == 0)
            refusal = QStringLiteral("redirect from https to http refused: ");
        else if (!isWebUrl(next))
            refusal = QStringLiteral("redirect to an invalid URL refused: ");
        else if (!request.privateNetworkAllowed && isPrivateNetworkHost(next))
            refusal = QStringLiteral("redirect into this machine or a private network refused: ");
        else if (redirects >= m_limits.maxRedirects)
            refusal = QStringLiteral("more than %1 redirects; the next was to ").arg(m_limits.maxRedirects);
        if (!refusal.isEmpty()) {
            result.status = Status::NetworkError;
            result.refused = true;
            result.errorText = refusal + next.toDisplayString();
            result.httpStatus = status;
            result.finalUrl = current;
            return result;
        }
        delete reply;
        reply = nullptr;
        current = next;
    }
    overall.stop();

    if (ending == Ending::None && !reply->isFinished())
        reply->abort();
    if (ending == Ending::None && reply->isOpen())
        body += reply->readAll();
    result.httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.contentType = reply->rawHeader("Content-Type");
    result.finalUrl = current;

    switch (ending) {
    case Ending::TooLarge:
        result.status = Status::TooLarge;
        result.errorText = endingText;
        return result;
    case Ending::TimedOut:
        result.status = Status::TimedOut;
        result.errorText = endingText;
        return result;
    case Ending::Cancelled:
        result.status = Status::Cancelled;
        result.errorText = endingText;
        return result;
    case Ending::None:
        break;
    }
    QNetworkReply::NetworkError error = reply->error();
    QString errorText = reply->errorString();
    if (transportError != QNetworkReply::NoError) {
        error = transportError;
        errorText = transportErrorText;
    }
    if (error == QNetworkReply::OperationCanceledError || error == QNetworkReply::TimeoutError) {
        // Nothing of ours aborted it: the transfer time-out did.
        result.status = Status::TimedOut;
        result.errorText =
            QStringLiteral("the server sent nothing for %1 ms").arg(m_limits.transferTimeout.count());
        return result;
    }
    if (error != QNetworkReply::NoError && !(isHttpStatusError(error) && result.httpStatus >= 400)) {
        result.status = Status::NetworkError;
        result.errorText = errorText;
        return result;
    }
    // Qt 6.4 does not always report a connection that closes before the body is complete: an error
    // status hides it, and so, now and then, does a close that arrives with the last bytes. Where
    // the length was declared and the body not re-encoded, count the bytes ourselves. (A chunked body
    // cut short can still pass for whole: Qt gives no view of the chunk framing.)
    const QVariant declared = reply->header(QNetworkRequest::ContentLengthHeader);
    const QByteArray encoding = reply->rawHeader("Content-Encoding").trimmed().toLower();
    const bool bodyExpected =
        result.httpStatus >= 200 && result.httpStatus != 204 && result.httpStatus != 304;
    if (declared.isValid() && bodyExpected && (encoding.isEmpty() || encoding == "identity") &&
        body.size() < declared.toLongLong()) {
        result.status = Status::NetworkError;
        result.errorText = QStringLiteral("the connection closed after %1 of %2 bytes")
                               .arg(body.size())
                               .arg(declared.toLongLong());
        return result;
    }
    if (body.size() > maxBody) {
        result.status = Status::TooLarge;
        result.errorText = QStringLiteral("the body is larger than %1 bytes").arg(maxBody);
        return result;
    }
    result.status = Status::Ok;
    if (request.decodeText)
        result.text = decodePageBody(body, result.contentType);
    result.body = std::move(body);
    return result;
}

} // namespace Quillory
