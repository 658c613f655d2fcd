#include "launcher.h"

#include "pagetext/weburl.h"

#include <QDesktopServices>

using namespace Qt::StringLiterals;

namespace Quillory {

void openweb(const QString &url)
{
    // Parsed as leniently as the pane parses links: a web link that holds "|", "{" or a bare "%" opens.
    const QUrl target(url, QUrl::TolerantMode);
    if (isWebUrl(target))
        QDesktopServices::openUrl(target);
}

} // namespace Quillory
