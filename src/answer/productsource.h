#pragma once

#include "pagetext/pagedownloader.h" // DownloadRequest, DownloadResult

#include <QObject>
#include <QStringList>

#include <functional>

namespace Quillory {

class DownloadManager;

// Where product pages come from, as ProductPages sees it: a request in, one result out, later.
class ProductSource
{
public:
    using Done = std::function<void(const DownloadResult &result)>;
    using Cancel = std::function<void()>;

    virtual ~ProductSource() = default;

    // Starts getting the product page of `request`. `done` runs once, later (never from within this
    // call), on this thread, and never once `context` is gone. The function that comes back cancels
    // it, whether it runs or has ended; a cancelled fetch reports Cancelled.
    virtual Cancel fetch(const DownloadRequest &request, QObject *context, Done done) = 0;

    // Whether a page's text holds what the caller will look up in it.
    using Holds = std::function<bool(const QString &text)>;
    // fetch, for a caller that knows what it will look up: a source that reads a page while the page's
    // scripts build it reads it as soon as it holds that. The others fetch as they always do.
    virtual Cancel fetchHolding(const DownloadRequest &request, Holds holds, QObject *context, Done done)
    {
        Q_UNUSED(holds);
        return fetch(request, context, std::move(done));
    }

    // What the site would see of the user's session with `request`: the name=value pairs of its
    // cookies, sorted. A copy is kept only while they stay the same.
    virtual QStringList sessionCookies(const DownloadRequest &request) const = 0;
};

// The product page as the server sends it, downloaded in the window's session.
class DownloadedProductSource final : public ProductSource
{
public:
    explicit DownloadedProductSource(DownloadManager &downloads) : m_downloads(downloads) {}

    Cancel fetch(const DownloadRequest &request, QObject *context, Done done) override;
    QStringList sessionCookies(const DownloadRequest &request) const override;

private:
    DownloadManager &m_downloads;
};

} // namespace Quillory
