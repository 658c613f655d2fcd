#pragma once

#include "pagedownloader.h"

#include <QObject>
#include <QThread>

#include <functional>
#include <stop_token>

namespace Quillory {

// Downloads on one worker thread that lives as long as this object, with one network manager there:
// connections stay open between downloads, and the proxy for a host is looked up once (and again after
// a few minutes). Downloads run one after another in the order they were asked for, with the
// downloader's session and limits.
class DownloadWorker final : public QObject
{
    Q_OBJECT

public:
    using Done = std::function<void(const DownloadResult &result, qint64 startedNs)>;

    explicit DownloadWorker(const PageDownloader &downloader, QObject *parent = nullptr);
    ~DownloadWorker() override; // stops what runs and what waits, and waits for the thread

    // Downloads `request`. `done` runs on this object's thread with the result and when the worker
    // started on it (timemark.h), never once `context` is gone. Stopping the source that comes back
    // cancels the download, whether it runs or still waits.
    std::stop_source start(const DownloadRequest &request, QObject *context, Done done);

    const PageDownloader &downloader() const { return m_downloader; }

private:
    class Runner;

    const PageDownloader &m_downloader;
    std::stop_source m_closing;
    QThread m_thread;
    Runner *m_runner = nullptr; // lives on the thread, which deletes it
};

} // namespace Quillory
