#include "downloadworker.h"

#include "timemark.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QPointer>

namespace Quillory {

namespace {

// The proxy of a host as the application's settings give it, looked up once and kept for a while: the
// desktop's proxy settings rarely change, and each lookup costs a round of the system's proxy rules.
class KeptProxyFactory final : public QNetworkProxyFactory
{
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery &query) override
    {
        const QString key =
            query.protocolTag() + u'|' + query.peerHostName() + u'|' + QString::number(query.peerPort());
        if (auto kept = m_kept.constFind(key); kept != m_kept.cend() && !kept->second.hasExpired())
            return kept->first;
        QList<QNetworkProxy> proxies = QNetworkProxyFactory::proxyForQuery(query);
        m_kept.insert(key, {proxies, QDeadlineTimer(5 * 60 * 1000)});
        return proxies;
    }

private:
    QHash<QString, std::pair<QList<QNetworkProxy>, QDeadlineTimer>> m_kept;
};

} // namespace

class DownloadWorker::Runner final : public QObject
{
public:
    explicit Runner(const PageDownloader &downloader) : m_downloader(downloader) {}

    DownloadResult run(const DownloadRequest &request, std::stop_token stop)
    {
        if (!m_manager) { // made on the worker thread, where it is used
            m_manager = new QNetworkAccessManager(this);
            m_manager->setProxyFactory(new KeptProxyFactory);
        }
        return m_downloader.fetch(request, std::move(stop), *m_manager);
    }

private:
    const PageDownloader &m_downloader;
    QNetworkAccessManager *m_manager = nullptr;
};

DownloadWorker::DownloadWorker(const PageDownloader &downloader, QObject *parent)
    : QObject(parent), m_downloader(downloader)
{
    m_thread.setObjectName(QStringLiteral("downloads"));
    m_runner = new Runner(m_downloader);
    m_runner->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_runner, &QObject::deleteLater);
    m_thread.start();
}

DownloadWorker::~DownloadWorker()
{
    m_closing.request_stop();
    m_thread.quit();
    m_thread.wait();
}

std::stop_source DownloadWorker::start(const DownloadRequest &request, QObject *context, Done done)
{
    std::stop_source stop;
    QPointer<QObject> guard(context);
    Runner *runner = m_runner;
    QMetaObject::invokeMethod(
        m_runner,
        [this, runner, request, stop, closing = m_closing.get_token(), guard,
         done = std::move(done)]() mutable {
            // Closing the worker stops this download too.
            std::stop_callback onClosing(closing, [stop]() mutable { stop.request_stop(); });
            const qint64 started = timeMarkNs();
            DownloadResult result = runner->run(request, stop.get_token());
            // Back on this object's thread, which outlives the worker thread.
            QMetaObject::invokeMethod(
                this,
                [guard, result = std::move(result), started, done = std::move(done)] {
                    if (guard)
                        done(result, started);
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    return stop;
}

} // namespace Quillory
