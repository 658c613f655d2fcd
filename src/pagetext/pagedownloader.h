#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <chrono>
#include <optional>
#include <stop_token>

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
    QString errorText;
    int httpStatus = 0;   // the final response's status; the body counts whatever it is
    QByteArray body;      // the whole body, only when status is Ok
    QString text;         // the body decoded in the page's own character set, only when status is Ok

    bool ok() const { return status == Status::Ok; }
};

// The window's page downloader: one blocking call that takes a URL and gives the page as text or fails.
// It runs its own event loop on the calling thread, so it is meant to be called from a worker thread;
// the object itself holds only its limits and may be shared between threads.
class PageDownloader final
{
public:
    explicit PageDownloader(DownloadLimits limits = {});

    const DownloadLimits &limits() const { return m_limits; }

    DownloadResult download(const QUrl &url, std::stop_token stop = {}) const;

    // The page at `url` as text, or nothing when the transfer fails in any way.
    std::optional<QString> OpenURL(const QString &url, std::stop_token stop = {}) const;

private:
    DownloadLimits m_limits;
};

// Decodes a downloaded page: the Content-Type charset, else a byte-order mark, else a <meta> charset
// declaration near the start, else UTF-8 when the bytes are valid UTF-8, else GB18030.
QString decodePageBody(const QByteArray &body, const QByteArray &contentType);

} // namespace Quillory
