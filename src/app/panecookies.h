#pragma once

#include <QList>
#include <QNetworkCookie>
#include <QString>

namespace Quillory {

// The persistent cookies that the pane's engine keeps in its profile folder: what the pane sends after
// a restart. The engine's cookie store never reports them (neither at start nor on loadAllCookies(),
// which announces nothing), so this is the one way for the downloads to learn them.
struct PaneCookies
{
    bool ok = false; // read, or nothing there to read
    QList<QNetworkCookie> cookies;
    QString error; // why they could not be read
};
PaneCookies readPaneCookies(const QString &profileFolder);

} // namespace Quillory
