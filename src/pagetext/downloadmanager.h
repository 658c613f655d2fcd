#pragma once

#include "pagedownloader.h" // DownloadRequest, DownloadLimits, BrowserSession, DownloadResult

#include <QNetworkAccessManager>
#include <QObject>

namespace Quillory {

class DownloadHandler;
class HostResolver;

// The window's downloads: one network manager on the thread that owns this object, so that connections
// stay open between downloads and the proxy for a host is looked up once (and again after a few
// minutes). Each download is a handler of its own, with the session and limits given here.
class DownloadManager final : public QObject
{
    Q_OBJECT

public:
    // The session's jar and the resolver must outlive the manager.
    DownloadManager(DownloadLimits limits, BrowserSession session, const HostResolver &resolver,
                    QObject *parent = nullptr);
    ~DownloadManager() override;

    // Starts `request`. The handler reports once through DownloadHandler::finished and then deletes
    // itself; deleting the manager before that cancels it without a report.
    DownloadHandler *start(const DownloadRequest &request);

    const BrowserSession &session() const { return m_session; }
    const DownloadLimits &limits() const { return m_limits; }

private:
    const DownloadLimits m_limits;
    const BrowserSession m_session;
    const HostResolver &m_resolver;
    QNetworkAccessManager m_network;
};

} // namespace Quillory
