#include "cookiesync.h"

#include "pagetext/cookiejar.h"
#include "panecookies.h"
#include "platform.h"

#include <QDateTime>
#include <QFile>
#include <QWebEngineCookieStore>

using namespace Qt::StringLiterals;

namespace Quillory {

CookieSync::CookieSync(QWebEngineCookieStore &store, SharedCookieJar &jar, const QString &profileFolder,
                       QObject *parent)
    : QObject(parent), m_jar(jar), m_cookieFile(profileFolder + QStringLiteral("/Quillory Cookies"))
{
    // Read on the window's thread at start: a regular file only, nothing that could hold it up.
    const Platform::OpenedFile own = Platform::openRegularFile(m_cookieFile, true);
    QFile ownFile;
    if (own.descriptor >= 0 &&
        ownFile.open(own.descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        for (const QNetworkCookie &cookie : loadCookies(ownFile))
            m_jar.restoreCookie(cookie);
    } else if (!own.missing) {
        qWarning("cannot read the cookie file %s: %s", qPrintable(m_cookieFile),
                 qPrintable(own.notRegular.isEmpty() ? own.error : u"it is "_s + own.notRegular));
    }
    const PaneCookies pane = readPaneCookies(profileFolder);
    if (!pane.ok)
        qWarning("cannot read the pane's cookies in %s, so the downloads do not learn them from there: %s",
                 qPrintable(profileFolder), qPrintable(pane.error));
    for (const QNetworkCookie &cookie : pane.cookies)
        m_jar.insertCookie(cookie);

    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(500);
    connect(&m_saveTimer, &QTimer::timeout, this, &CookieSync::save);

    connect(&store, &QWebEngineCookieStore::cookieAdded, this, [this](const QNetworkCookie &cookie) {
        m_jar.insertCookie(cookie);
        if (!cookie.isSessionCookie())
            scheduleSave();
    });
    connect(&store, &QWebEngineCookieStore::cookieRemoved, this, [this](const QNetworkCookie &cookie) {
        m_jar.deleteCookie(cookie);
        if (!cookie.isSessionCookie())
            scheduleSave();
    });
    // Emitted on the downloading thread; the store is used on this thread only.
    connect(&jar, &SharedCookieJar::cookiesReceived, &store,
            [&store](const QList<QNetworkCookie> &cookies, const QUrl &url) {
                const QDateTime now = QDateTime::currentDateTimeUtc();
                for (QNetworkCookie cookie : cookies) {
                    // A cookie of the reply's host alone goes to the store without a domain, which
                    // keeps it host-only there too.
                    if (!cookie.domain().startsWith(u'.'))
                        cookie.setDomain(QString());
                    if (!cookie.isSessionCookie() && cookie.expirationDate() < now)
                        store.deleteCookie(cookie, url);
                    else
                        store.setCookie(cookie, url);
                }
            });
}

CookieSync::~CookieSync()
{
    if (m_saveTimer.isActive())
        save();
}

void CookieSync::scheduleSave()
{
    if (!m_saveTimer.isActive())
        m_saveTimer.start();
}

void CookieSync::save()
{
    m_saveTimer.stop();
    if (!saveCookies(m_jar.persistentCookies(), m_cookieFile))
        qWarning("cannot write the cookie file %s", qPrintable(m_cookieFile));
}

} // namespace Quillory
