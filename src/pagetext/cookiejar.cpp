#include "cookiejar.h"

#include <QDateTime>
#include <QFile>
#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QSaveFile>

#include <algorithm>

namespace Quillory {

namespace {

// The limits the pane's own cookie store keeps, so that a server cannot make the download's jar (and
// the file it is saved to) grow beyond what the pane would hold. The store holds up to 180 cookies a
// site and 3,300 in all before it drops any (and then drops down to fewer); the jar's bounds are
// no tighter, and only ever drop cookies the store does not hold (see insertBounded()).
constexpr qsizetype kMaxCookieBytes = 4096;    // name and value together
constexpr qsizetype kMaxAttributeBytes = 1024; // domain, path
constexpr qsizetype kMaxCookiesPerDomain = 180;
constexpr qsizetype kMaxCookies = 3300;

// A cookie's identity: a cookie of the same name, domain and path replaces it. The policy refuses
// control characters, so the line breaks cannot be part of any of the three.
QString identityOf(const QNetworkCookie &cookie)
{
    return cookie.domain() + u'\n' + cookie.path() + u'\n' + QString::fromLatin1(cookie.name().toHex());
}

bool hasControlCharacters(QByteArrayView text)
{
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            return true;
    }
    return false;
}

} // namespace

bool acceptableCookie(const QNetworkCookie &cookie, bool overHttps)
{
    // A Secure cookie from plain http could overwrite the one the https site relies on.
    if (cookie.isSecure() && !overHttps)
        return false;
    // Control characters and NUL would go out raw in later Cookie headers.
    const QByteArray domain = cookie.domain().toUtf8();
    const QByteArray path = cookie.path().toUtf8();
    if (cookie.name().isEmpty() || hasControlCharacters(cookie.name()) ||
        hasControlCharacters(cookie.value()) || hasControlCharacters(domain) || hasControlCharacters(path))
        return false;
    return cookie.name().size() + cookie.value().size() <= kMaxCookieBytes &&
           domain.size() <= kMaxAttributeBytes && path.size() <= kMaxAttributeBytes;
}

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
            if (!acceptableCookie(cookie, url.scheme() == u"https") || !validateCookie(cookie, url))
                continue;
            insertBounded(cookie, false); // an expired cookie deletes its namesake
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
    return insertBounded(cookie, true);
}

bool SharedCookieJar::restoreCookie(const QNetworkCookie &cookie)
{
    QMutexLocker lock(&m_mutex);
    return insertBounded(cookie, false);
}

// Inserts under the store's limits: the oldest cookies of the domain, then of the whole jar, go first,
// but never one the pane's store holds: the store drops its own by rules of its own (how recently a
// cookie was sent, among others), and says so; the jar follows. A cookie that replaces one the store
// holds is held too: the store is about to take it.
bool SharedCookieJar::insertBounded(const QNetworkCookie &cookie, bool held)
{
    if (!acceptableCookie(cookie, true))
        return false;
    const QString identity = identityOf(cookie);
    held = held || m_held.contains(identity);
    if (!QNetworkCookieJar::insertCookie(cookie)) { // a deletion (of the namesake, through deleteCookie)
        m_held.remove(identity);
        return false;
    }
    ++m_domainCounts[cookie.domain()];
    if (held) {
        m_held.insert(identity);
    } else {
        m_own.insert(m_nextOwn, cookie);
        m_ownOrder.insert(identity, m_nextOwn++);
    }
    for (auto own = m_own.begin();
         m_domainCounts.value(cookie.domain()) > kMaxCookiesPerDomain && own != m_own.end();) {
        if (own->domain() == cookie.domain())
            own = dropOwn(own);
        else
            ++own;
    }
    while (allCookies().size() > kMaxCookies && !m_own.isEmpty())
        dropOwn(m_own.begin());
    return true;
}

bool SharedCookieJar::removeCookie(const QNetworkCookie &cookie)
{
    if (!QNetworkCookieJar::deleteCookie(cookie))
        return false;
    const auto count = m_domainCounts.find(cookie.domain());
    if (count != m_domainCounts.end() && --*count <= 0)
        m_domainCounts.erase(count);
    return true;
}

QMap<quint64, QNetworkCookie>::iterator SharedCookieJar::dropOwn(QMap<quint64, QNetworkCookie>::iterator own)
{
    removeCookie(*own);
    m_ownOrder.remove(identityOf(*own));
    return m_own.erase(own);
}

bool SharedCookieJar::updateCookie(const QNetworkCookie &cookie)
{
    QMutexLocker lock(&m_mutex);
    return QNetworkCookieJar::updateCookie(cookie);
}

bool SharedCookieJar::deleteCookie(const QNetworkCookie &cookie)
{
    QMutexLocker lock(&m_mutex);
    const QString identity = identityOf(cookie);
    m_held.remove(identity);
    if (const auto own = m_ownOrder.constFind(identity); own != m_ownOrder.cend()) {
        m_own.remove(*own);
        m_ownOrder.erase(own);
    }
    return removeCookie(cookie);
}

namespace {
constexpr QByteArrayView kCookieFileHeader =
    "# The browser pane's persistent cookies as the downloads see them, kept by the program.\n";
} // namespace

void useCookieJar(QNetworkAccessManager &manager, SharedCookieJar *jar)
{
    if (!jar || manager.cookieJar() == jar)
        return;
    QObject *const owner = jar->parent();
    manager.setCookieJar(jar);
    if (jar->parent() != owner)
        jar->setParent(owner);
}

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
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return loadCookies(file);
}

QList<QNetworkCookie> loadCookies(QIODevice &file)
{
    QList<QNetworkCookie> cookies;
    // Bounded whatever the file holds: no more lines than the jar could keep (with room for refused
    // ones), no line longer than a cookie may be, so that no file can hold up the window's start.
    constexpr qsizetype maxLineBytes = kMaxCookieBytes + 3 * kMaxAttributeBytes;
    constexpr int maxLines = 4 * kMaxCookies;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (int lines = 0; lines < maxLines && cookies.size() < kMaxCookies && !file.atEnd(); ++lines) {
        QByteArray line = file.readLine(maxLineBytes + 2);
        if (!line.endsWith('\n') && !file.atEnd()) {
            // Too long: skip the rest of it, a bounded piece at a time, and the line itself.
            while (!file.atEnd() && !line.endsWith('\n') && lines++ < maxLines)
                line = file.readLine(maxLineBytes + 2);
            continue;
        }
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        for (const QNetworkCookie &cookie : QNetworkCookie::parseCookies(line)) {
            if (!cookie.isSessionCookie() && cookie.expirationDate() > now && !cookie.domain().isEmpty() &&
                acceptableCookie(cookie, true))
                cookies.append(cookie);
        }
    }
    return cookies;
}

} // namespace Quillory
