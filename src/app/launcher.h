#pragma once

#include <QString>
#include <QUrl>

namespace Quillory {

// Hands `url` to the desktop's default browser and returns at once, reporting nothing. Anything but an
// http or https URL opens nothing: a link taken from a web page must not make the desktop open or run
// a local file.
void openweb(const QString &url);

} // namespace Quillory
