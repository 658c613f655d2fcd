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

QList<QNetworkCookie> SharedCookieJar::cookiesForRequest(const QUrl &url, const QUrl &initiator,
                                                         bool userActivated) const
{
    QList<QNetworkCookie> cookies = cookiesForUrl(url);
    if (initiator.isEmpty() || isSameSite(url, initiator))
        return cookies;
    cookies.removeIf([userActivated](const QNetworkCookie &cookie) {
        switch (cookie.sameSitePolicy()) {
        case QNetworkCookie::SameSite::None:
            return false;
        case QNetworkCookie::SameSite::Lax:
            return !userActivated;
        case QNetworkCookie::SameSite::Default:
        case QNetworkCookie::SameSite::Strict:
            return true;
        }
        return true;
    });
    return cookies;
}

bool SharedCookieJar::isSameSite(const QUrl &a, const QUrl &b) const
{
    return registrableDomain(a.host()) == registrableDomain(b.host());
}

// The shortest ending of `host` under which a cookie may be set, by the jar's public-suffix rules
// (validateCookie refuses a cookie for a public suffix), and never a top-level label alone (a top-level
// domain the list does not know is a registry all the same); the host itself when every shorter ending
// is a public suffix, or when the host is an address.
QString SharedCookieJar::registrableDomain(const QString &host) const
{
    const QString name = host.endsWith(u'.') ? host.chopped(1).toLower() : host.toLower();
    const QUrl url(QStringLiteral("http://") + name + u'/');
    const QStringList labels = name.split(u'.');
    for (qsizetype count = 2; count < labels.size(); ++count) {
        const QString ending = labels.sliced(labels.size() - count).join(u'.');
        QNetworkCookie probe("p", "v");
        probe.setDomain(u'.' + ending);
        if (!ending.isEmpty() && validateCookie(probe, url))
            return ending;
    }
    return name;
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
