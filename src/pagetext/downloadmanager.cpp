#include "downloadmanager.h"

#include "cookiejar.h"
#include "downloadhandler.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QNetworkProxyFactory>

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

DownloadManager::DownloadManager(DownloadLimits limits, BrowserSession session, const HostResolver &resolver,
                                 QObject *parent)
    : QObject(parent), m_limits(limits), m_session(std::move(session)), m_resolver(resolver)
{
    m_network.setProxyFactory(new KeptProxyFactory);
    useCookieJar(m_network, m_session.cookies);
}

// The handlers are children of the manager and go first, while the network manager is still there.
DownloadManager::~DownloadManager()
{
    const QList<DownloadHandler *> handlers = findChildren<DownloadHandler *>(Qt::FindDirectChildrenOnly);
    qDeleteAll(handlers);
}

DownloadHandler *DownloadManager::start(const DownloadRequest &request)
{
    auto *handler = new DownloadHandler(m_network, request, m_limits, m_session, m_resolver, this);
    connect(handler, &DownloadHandler::finished, handler, &QObject::deleteLater);
    handler->start();
    return handler;
}

} // namespace Quillory
