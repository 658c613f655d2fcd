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
    // Parsed as leniently as the pane parses links: a web link that holds "|", "{" or a bare "%" opens.
    const QUrl target(url, QUrl::TolerantMode);
    if (isWebUrl(target))
        QDesktopServices::openUrl(target);
}

} // namespace Quillory
