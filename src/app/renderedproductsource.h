#pragma once

#include "answer/productsource.h"
#include "renderedpage.h"

namespace Quillory {

// Product pages as the browser shows them, for ProductPages: a rendered page made into the result of a
// download, its text the built document in the lookup's rendered form (PageForm::Rendered). The hidden page
// is asked for the request's link from the request's page, with the cookies its download would send.
class RenderedProductSource final : public ProductSource
{
public:
    // `served` answers for the session's cookies: the hidden page sends the same.
    RenderedProductSource(RenderedPageLoader &loader, const ProductSource &served)
        : m_loader(loader), m_served(served)
    {}

    Cancel fetch(const DownloadRequest &request, QObject *context, Done done) override;
    Cancel fetchHolding(const DownloadRequest &request, Holds holds, QObject *context, Done done) override;
    QStringList sessionCookies(const DownloadRequest &request) const override
    {
        return m_served.sessionCookies(request);
    }

private:
    RenderedPageLoader &m_loader;
    const ProductSource &m_served;
    quint64 m_fetches = 0; // which fetch the loader is on: a cancel of an older one must not end it
};

} // namespace Quillory
