#pragma once

#include "pagedownloader.h" // DownloadRequest, DownloadLimits, BrowserSession, DownloadResult

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <memory>
#include <optional>

class QNetworkAccessManager;

namespace Quillory {

class HostResolver;

// One download, driven by the events of the thread it lives on: the GETs of the request one hop at a
// time on a network manager, each redirect checked before it is followed, each host's addresses checked
// before it is connected to when the request keeps out of private networks, the body read under the
// cap, the time limits as timers, and a large body decoded on the thread pool. It reports once through
// `finished`, never from within `start` or `cancel`.
class DownloadHandler final : public QObject
{
    Q_OBJECT

public:
    // The manager, the session's jar and the resolver must outlive the handler.
    DownloadHandler(QNetworkAccessManager &manager, DownloadRequest request, const DownloadLimits &limits,
                    const BrowserSession &session, const HostResolver &resolver, QObject *parent = nullptr);
    ~DownloadHandler() override;

    void start();
    // Ends the download as Cancelled, unless it has ended already.
    void cancel();

    bool isFinished() const { return m_finished; }
    // The result, once finished.
    const DownloadResult &result() const { return m_result; }

Q_SIGNALS:
    void finished(const Quillory::DownloadResult &result);

private:
    enum class Ending
    {
        None, // nothing of ours: the reply finished
        TooLarge,
        TimedOut,
        Cancelled,
    };
    struct Hop;
    struct DecodeJob;

    void go(const QUrl &url);
    void checkAddresses(const QUrl &url, const QList<QHostAddress> &addresses);
    void judgeInitiator(const QUrl &url, const QString &refusal);
    void sendIfInitiatorInside(const QUrl &url, const QString &refusal);
    void send(const QUrl &url);
    void onMetaData();
    void onReadyRead();
    void onHopFinished();
    void end(Ending why, QString text);
    void refuse(QString text);
    DownloadResult endedResult() const; // of a download that a rule or limit of ours ended
    void decodeAndFinish(DownloadResult result, QByteArray body);
    void finish(DownloadResult result);

    QNetworkAccessManager &m_manager;
    const DownloadRequest m_request;
    const DownloadLimits m_limits;
    const SharedCookieJar *const m_cookies; // set: each hop's cookies are picked by the initiator
    const HostResolver &m_resolver;
    QNetworkRequest m_template; // every hop's, but for its URL and cookies
    QTimer m_overall;

    QUrl m_current; // the hop's URL
    int m_followed = 0;
    bool m_redirect = false; // the hop under way follows a redirect
    QStringList m_cookiesSet;
    std::optional<bool> m_initiatorPrivate; // once looked up
    std::unique_ptr<Hop> m_hop;
    QPointer<QNetworkReply> m_reply;
    Ending m_ending = Ending::None;
    QString m_endingText;
    std::shared_ptr<DecodeJob> m_decoding;
    bool m_finished = false;
    DownloadResult m_result;
};

} // namespace Quillory
