#include "renderedproductsource.h"

#include <QPointer>

#include <memory>

namespace Quillory {

namespace {

DownloadResult resultOf(const RenderedPage &page)
{
    using Status = DownloadResult::Status;
    DownloadResult result;
    result.finalUrl = page.finalUrl;
    result.errorText = page.errorText;
    switch (page.status) {
    case RenderedPage::Status::Ok:
        result.status = Status::Ok;
        result.text = page.text;
        break;
    case RenderedPage::Status::TimedOut:
        result.status = Status::TimedOut;
        break;
    case RenderedPage::Status::Refused:
        result.status = Status::NetworkError;
        result.refused = true;
        break;
    case RenderedPage::Status::Failed:
        result.status = Status::NetworkError;
        break;
    case RenderedPage::Status::Cancelled:
        result.status = Status::Cancelled;
        break;
    }
    return result;
}

} // namespace

ProductSource::Cancel RenderedProductSource::fetch(const DownloadRequest &request, QObject *context,
                                                   Done done)
{
    return fetchHolding(request, {}, context, std::move(done));
}

ProductSource::Cancel RenderedProductSource::fetchHolding(const DownloadRequest &request, Holds holds,
                                                          QObject *context, Done done)
{
    const quint64 fetch = ++m_fetches;
    RenderRequest render;
    render.url = request.url;
    render.initiator = request.initiator;
    render.userActivated = request.userActivated;
    render.privateNetworkAllowed = request.privateNetworkAllowed;
    render.holds = std::move(holds);
    m_loader.load(std::move(render), context,
                  [done = std::move(done)](const RenderedPage &page) { done(resultOf(page)); });
    return [this, fetch, loader = QPointer<RenderedPageLoader>(&m_loader)] {
        if (loader && m_fetches == fetch)
            loader->cancel();
    };
}

} // namespace Quillory
