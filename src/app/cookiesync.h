#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

class QWebEngineCookieStore;

namespace Quillory {

class SharedCookieJar;

// Keeps the downloads' cookie jar in step with the browser pane's cookie store while both live: what
// the store reports (set by pages, deleted by them or by expiry) goes into the jar; what a server sets
// in a download's reply goes into the store, as one shared store would.
//
// The store does not report the cookies it restores from disk at start, not even when asked to
// (loadAllCookies() announces nothing), so at start the jar takes them from the engine's own file in
// the profile folder (readPaneCookies). It also keeps its persistent cookies in a file of its own there,
// written a moment after each change and when this object goes, and read back at start: what the pane's
// file holds, if it can be read, comes on top, being what the pane itself sends.
class CookieSync final : public QObject
{
    Q_OBJECT

public:
    CookieSync(QWebEngineCookieStore &store, SharedCookieJar &jar, const QString &profileFolder,
               QObject *parent = nullptr);
    ~CookieSync() override;

private:
    void scheduleSave();
    void save();

    SharedCookieJar &m_jar;
    QString m_cookieFile;
    QTimer m_saveTimer;
};

} // namespace Quillory
