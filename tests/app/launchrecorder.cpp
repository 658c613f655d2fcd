#include "launchrecorder.h"

#include <QDesktopServices>

namespace Quillory::Testing {

namespace {
// Every scheme a page could hand over, so a URL that slips through is seen rather than opened.
constexpr const char *schemes[] = {"http",   "https", "file", "javascript", "data",  "ftp",
                                   "mailto", "tel",   "smb",  "ssh",        "x-test"};
} // namespace

LaunchRecorder::LaunchRecorder()
{
    for (const char *scheme : schemes)
        QDesktopServices::setUrlHandler(QLatin1StringView(scheme), this, "open");
}

LaunchRecorder::~LaunchRecorder()
{
    for (const char *scheme : schemes)
        QDesktopServices::unsetUrlHandler(QLatin1StringView(scheme));
}

void LaunchRecorder::open(const QUrl &url)
{
    launched.append(url);
    if (onLaunch)
        onLaunch(url);
}

} // namespace Quillory::Testing
