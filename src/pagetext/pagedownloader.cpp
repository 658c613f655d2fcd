#include "pagedownloader.h"

#include "cookiejar.h"
#include "downloadhandler.h"
#include "hostresolver.h"

#include <QNetworkAccessManager>
#include <QThread>

namespace Quillory {

namespace {

// One handler on `manager`, waited for here. A stop, from any thread, cancels it through the loop's
// thread, where the handler lives.
DownloadResult waitFor(QNetworkAccessManager &manager, const DownloadRequest &request, std::stop_token stop,
                       const DownloadLimits &limits, const BrowserSession &session,
                       const HostResolver &resolver)
{
    useCookieJar(manager, session.cookies);
    DownloadHandler handler(manager, request, limits, session, resolver);
    QEventLoop loop;
    QObject::connect(&handler, &DownloadHandler::finished, &loop, &QEventLoop::quit);
    if (stop.stop_requested())
        handler.cancel();
    // Last, so that it goes first: it may be running on another thread, and its destructor waits for it.
    const std::stop_callback onStop(std::move(stop), [&handler] {
        QMetaObject::invokeMethod(
            &handler, [&handler] { handler.cancel(); }, Qt::QueuedConnection);
    });
    handler.start();
    if (!handler.isFinished())
        loop.exec(request.waitFlags);
    return handler.result();
}

} // namespace

PageDownloader::PageDownloader(DownloadLimits limits, BrowserSession session)
    : PageDownloader(limits, std::move(session), HostResolver::system())
{}

PageDownloader::PageDownloader(DownloadLimits limits, BrowserSession session, const HostResolver &resolver)
    : m_limits(limits), m_session(std::move(session)), m_resolver(&resolver)
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
    // One manager per call, on the calling thread; its proxy is the application's. It outlives the
    // handler and its replies.
    QNetworkAccessManager manager;
    return waitFor(manager, request, std::move(stop), m_limits, m_session, *m_resolver);
}

DownloadResult PageDownloader::fetch(const DownloadRequest &request, std::stop_token stop,
                                     QNetworkAccessManager &manager) const
{
    Q_ASSERT(manager.thread() == QThread::currentThread());
    return waitFor(manager, request, std::move(stop), m_limits, m_session, *m_resolver);
}

} // namespace Quillory
