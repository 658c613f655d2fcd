#include "cookiejar.h"

#include <QDateTime>
#include <QFile>
#include <QMutexLocker>
#include <QSaveFile>

namespace Quillory {

SharedCookieJar::SharedCookieJar(QObject *parent) : QNetworkCookieJar(parent) {}

QList<QNetworkCookie> SharedCookieJar::persistentCookies() const
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QList<QNetworkCookie> persistent;
    QMutexLocker lock(&m_mutex);
    for (const QNetworkCookie &cookie : allCookies()) {
        if (!cookie.isSessionCookie() && cookie.expirationDate() > now)
            persistent.append(cookie);
    }
    return persistent;
}

QList<QNetworkCookie> SharedCookieJar::cookiesForUrl(const QUrl &url) const
{
    QMutexLocker lock(&m_mutex);
    return QNetworkCookieJar::cookiesForUrl(url);
}

bool SharedCookieJar::setCookiesFromUrl(const QList<QNetworkCookie> &cookieList, const QUrl &url)
{
    QList<QNetworkCookie> taken;
    {
        QMutexLocker lock(&m_mutex);
        for (QNetworkCookie cookie : cookieList) {
            cookie.normalize(url); // no Domain attribute: this host only; no Path: the URL's directory
            if (!validateCookie(cookie, url))
                continue;
            QNetworkCookieJar::insertCookie(cookie); // an expired cookie deletes its namesake
            taken.append(cookie);
        }
    }
    if (!taken.isEmpty())
        Q_EMIT cookiesReceived(taken, url);
    return !taken.isEmpty();
}

bool SharedCookieJar::insertCookie(const QNetworkCookie &cookie)
{
    QMutexLocker lock(&m_mutex);
    return QNetworkCookieJar::insertCookie(cookie);
}

bool SharedCookieJar::updateCookie(const QNetworkCookie &cookie)
{
    QMutexLocker lock(&m_mutex);
    return QNetworkCookieJar::updateCookie(cookie);
}

bool SharedCookieJar::deleteCookie(const QNetworkCookie &cookie)
{
    QMutexLocker lock(&m_mutex);
    return QNetworkCookieJar::deleteCookie(cookie);
}

namespace {
constexpr QByteArrayView kCookieFileHeader =
    "# The browser pane's persistent cookies as the downloads see them, kept by the program.\n";
} // namespace

bool saveCookies(const QList<QNetworkCookie> &cookies, const QString &path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(kCookieFileHeader.data(), kCookieFileHeader.size());
    for (const QNetworkCookie &cookie : cookies) {
        if (cookie.isSessionCookie())
            continue;
        file.write(cookie.toRawForm(QNetworkCookie::Full));
        file.write("\n");
    }
    return file.commit();
}

QList<QNetworkCookie> loadCookies(const QString &path)
{
    QList<QNetworkCookie> cookies;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return cookies;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        for (const QNetworkCookie &cookie : QNetworkCookie::parseCookies(line)) {
            if (!cookie.isSessionCookie() && cookie.expirationDate() > now && !cookie.domain().isEmpty())
                cookies.append(cookie);
        }
    }
    return cookies;
}

} // namespace Quillory
