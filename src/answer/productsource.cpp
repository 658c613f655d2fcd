#include "productsource.h"

#include "pagetext/cookiejar.h"
#include "pagetext/downloadhandler.h"
#include "pagetext/downloadmanager.h"

#include <QPointer>

namespace Quillory {

ProductSource::Cancel DownloadedProductSource::fetch(const DownloadRequest &request, QObject *context,
                                                     Done done)
{
    const QPointer<DownloadHandler> handler = m_downloads.start(request);
    QObject::connect(handler, &DownloadHandler::finished, context, std::move(done));
    return [handler] {
        if (handler)
            handler->cancel();
    };
}

QStringList DownloadedProductSource::sessionCookies(const DownloadRequest &request) const
{
    QStringList pairs;
    if (const SharedCookieJar *jar = m_downloads.session().cookies) {
        for (const QNetworkCookie &cookie :
             jar->cookiesForRequest(request.url, request.initiator, request.userActivated))
            pairs.append(QString::fromLatin1(cookie.toRawForm(QNetworkCookie::NameAndValueOnly)));
    }
    pairs.sort();
    return pairs;
}

} // namespace Quillory
