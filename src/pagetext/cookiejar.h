#pragma once

#include <QHash>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QSet>
#include <QUrl>

class QIODevice;
class QNetworkAccessManager;

namespace Quillory {

// The browser pane's cookies as the downloads see them: one jar that every network manager of the
// program shares, whatever thread it runs on, so a product site sees the user's login. Every access
// takes one lock. The ordinary cookie rules apply when a request picks its cookies: domain (a cookie
// without a Domain attribute goes back to its own host only), path, Secure only over https, expiry.
//
// Three ways in: `insertCookie`/`deleteCookie` mirror the pane's store (its cookies come with their
// domain in final form), and the jar never drops a cookie the store holds: the store's own removals
// take it out. Cookies that a server sets in a download's reply come in through the network manager
// (`setCookiesFromUrl`) and are announced with `cookiesReceived`, so that the pane's store can take them
// too; `restoreCookie` takes those the jar kept itself. Those two kinds, which the store may not hold,
// are what the jar's own bounds drop, the oldest first.
class SharedCookieJar final : public QNetworkCookieJar
{
    Q_OBJECT

public:
    explicit SharedCookieJar(QObject *parent = nullptr);

    // The cookies that outlive the window: those with an expiry date still to come.
    QList<QNetworkCookie> persistentCookies() const;

    QList<QNetworkCookie> cookiesForUrl(const QUrl &url) const override;
    // The cookies a browser would send with a request for `url` made from the page `initiator`: all of
    // them to the page's own site; to another site, SameSite=Lax ones only when the user's own action
    // made the request, SameSite=None ones always, and no others. A cookie without a known SameSite
    // attribute counts as Strict: the pane's cookie store does not say which attribute its cookies
    // have, and sending fewer cookies to another site is the side to err on. An empty `initiator`: by
    // the jar's own rules alone.
    QList<QNetworkCookie> cookiesForRequest(const QUrl &url, const QUrl &initiator, bool userActivated) const;
    // Whether two URLs belong to one site: the same registrable domain (public suffix plus one label).
    bool isSameSite(const QUrl &a, const QUrl &b) const;
    bool setCookiesFromUrl(const QList<QNetworkCookie> &cookieList, const QUrl &url) override;
    bool insertCookie(const QNetworkCookie &cookie) override; // the pane's store holds it
    bool restoreCookie(const QNetworkCookie &cookie);         // the jar's own, from its file
    bool updateCookie(const QNetworkCookie &cookie) override;
    bool deleteCookie(const QNetworkCookie &cookie) override;

Q_SIGNALS:
    // Cookies that a server set (or, expired, deleted) in a download's reply, as the jar took them.
    // Emitted on the thread that made the download.
    void cookiesReceived(const QList<QNetworkCookie> &cookies, const QUrl &url);

private:
    QString registrableDomain(const QString &host) const;
    // With the lock held.
    bool insertBounded(const QNetworkCookie &cookie, bool held);
    QMap<quint64, QNetworkCookie>::iterator dropOwn(QMap<quint64, QNetworkCookie>::iterator own);
    bool removeCookie(const QNetworkCookie &cookie);

    mutable QRecursiveMutex m_mutex;
    QSet<QString> m_held;                // the identities of the cookies the pane's store holds
    QMap<quint64, QNetworkCookie> m_own; // the others, in the order they came
    QHash<QString, quint64> m_ownOrder;  // their identities, and where they are in m_own
    quint64 m_nextOwn = 0;
    QHash<QString, qsizetype> m_domainCounts; // how many cookies the jar holds of each domain
};

// The one cookie policy of the program's stores, as the pane's own store keeps it: a Secure cookie only
// from https (`overHttps`), no control characters or NUL anywhere, name and value within 4 KB. The jar
// also keeps at most 180 cookies a domain and 3,300 in all, as the store does, dropping the oldest of
// those the store does not hold.
bool acceptableCookie(const QNetworkCookie &cookie, bool overHttps);

// Gives `manager` the session's jar unless it has it already (nothing when `jar` is null). A manager
// adopts a jar of its own thread and would delete it with itself: the jar goes back to its owner, which
// keeps it alive for as long as the manager is used.
void useCookieJar(QNetworkAccessManager &manager, SharedCookieJar *jar);

// The persistent cookies of a jar in a file of their own, one Set-Cookie line each, written whole or
// not at all and readable by the user alone. Reading skips what has expired since; a missing or
// unreadable file gives no cookies. Reading is bounded and skips what the policy refuses.
bool saveCookies(const QList<QNetworkCookie> &cookies, const QString &path);
QList<QNetworkCookie> loadCookies(const QString &path);
QList<QNetworkCookie> loadCookies(QIODevice &file); // open for reading

} // namespace Quillory
