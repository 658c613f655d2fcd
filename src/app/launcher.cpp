#include "launcher.h"

#include <QDesktopServices>

using namespace Qt::StringLiterals;

namespace Quillory {

bool isWebUrl(const QUrl &url)
{
    const QString scheme = url.scheme();
    return url.isValid() && (scheme == u"http"_s || scheme == u"https"_s) && !url.host().isEmpty();
}

void openweb(const QString &url)
{
    const QUrl target(url, QUrl::StrictMode);
    if (isWebUrl(target))
        QDesktopServices::openUrl(target);
}

} // namespace Quillory
