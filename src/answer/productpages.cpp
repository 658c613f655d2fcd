#include "productpages.h"

#include "pagetext/cookiejar.h"
#include "pagetext/timemark.h"

#include <QDeadlineTimer>
#include <QPointer>

#include <algorithm>

namespace Quillory {

struct ProductPages::Entry
{
    struct Waiter
    {
        QPointer<QObject> context;
        Done done;
        qint64 askedNs = 0;
    };

    QString documentToken;
    DownloadRequest request;
    QStringList cookies;     // what the site saw of the session: when asked for, then once downloaded
    bool early = false;      // made ahead of any pass
    bool usedByPass = false; // a pass has had it: the next one gets the kept copy
    bool detached = false;   // the pane left its page while a pass waited: not kept
    qint64 askedNs = 0;
    std::stop_source stop;
    std::optional<Page> page; // once downloaded
    QDeadlineTimer keptUntil;
    std::vector<Waiter> waiters;

    bool matches(const QString &token, const DownloadRequest &other) const
    {
        return documentToken == token && request.url == other.url &&
               request.privateNetworkAllowed == other.privateNetworkAllowed;
    }
};

ProductPages::ProductPages(DownloadWorker &worker, std::chrono::milliseconds keepFor, QObject *parent)
    : QObject(parent), m_worker(worker), m_keepFor(keepFor)
{}

ProductPages::~ProductPages()
{
    for (const std::shared_ptr<Entry> &entry : m_entries)
        entry->stop.request_stop();
}

std::shared_ptr<ProductPages::Entry> ProductPages::entryFor(const QString &documentToken,
                                                            const DownloadRequest &request)
{
    if (m_entries.empty() || m_entries.back()->detached || !m_entries.back()->matches(documentToken, request))
        return nullptr;
    const std::shared_ptr<Entry> &entry = m_entries.back();
    // A copy serves as long as it is fresh and the site would see the same cookies: a login or logout
    // since then could change the page.
    if (entry->page && (entry->keptUntil.hasExpired() || entry->cookies != cookiesFor(request))) {
        drop(entry);
        return nullptr;
    }
    return entry;
}

void ProductPages::prepare(const QString &documentToken, const DownloadRequest &request)
{
    if (!entryFor(documentToken, request))
        startEntry(documentToken, request, true);
}

void ProductPages::get(const QString &documentToken, const DownloadRequest &request, QObject *context,
                       Done done)
{
    const qint64 asked = timeMarkNs();
    std::shared_ptr<Entry> entry = entryFor(documentToken, request);
    if (!entry)
        entry = startEntry(documentToken, request, false);
    if (entry->page) {
        Page kept = *entry->page;
        kept.origin = entry->early && !entry->usedByPass ? Origin::Early : Origin::Kept;
        if (kept.origin == Origin::Kept)
            kept.askedNs = kept.startedNs = 0;
        entry->usedByPass = true;
        QMetaObject::invokeMethod(
            context, [kept, done = std::move(done)] { done(kept); }, Qt::QueuedConnection);
        return;
    }
    entry->waiters.push_back({context, std::move(done), asked});
}

void ProductPages::leave()
{
    const std::vector<std::shared_ptr<Entry>> entries = m_entries;
    for (const std::shared_ptr<Entry> &entry : entries) {
        if (entry->waiters.empty())
            drop(entry);
        else
            entry->detached = true; // its pass still gets it, and then it goes
    }
}

std::shared_ptr<ProductPages::Entry> ProductPages::startEntry(const QString &documentToken,
                                                              const DownloadRequest &request, bool early)
{
    // One page at a time: what belonged to the page before goes, unless a pass still waits for it.
    leave();
    auto entry = std::make_shared<Entry>();
    entry->documentToken = documentToken;
    entry->request = request;
    entry->early = early;
    entry->cookies = cookiesFor(request);
    entry->askedNs = timeMarkNs();
    m_entries.push_back(entry);
    std::weak_ptr<Entry> weak = entry;
    entry->stop = m_worker.start(request, this, [this, weak](const DownloadResult &result, qint64 startedNs) {
        if (const std::shared_ptr<Entry> entry = weak.lock())
            finished(entry, result, startedNs);
    });
    return entry;
}

void ProductPages::finished(const std::shared_ptr<Entry> &entry, const DownloadResult &result,
                            qint64 startedNs)
{
    Page page;
    page.result = result;
    page.bodyBytes = result.body.size();
    page.result.body.clear(); // the text is what the lookup reads
    page.origin = entry->early ? Origin::Early : Origin::New;
    page.askedNs = entry->askedNs;
    page.startedNs = startedNs;

    const std::vector<Entry::Waiter> waiters = std::move(entry->waiters);
    entry->waiters.clear();
    if (!waiters.empty())
        entry->usedByPass = true;
    // Kept only when the session's cookies for the link have not changed since it was asked for, but
    // for those the site itself set in its reply.
    const QStringList now = cookiesFor(entry->request);
    bool sameSession = true;
    for (const QString &pair : now + entry->cookies) {
        if (now.contains(pair) != entry->cookies.contains(pair) &&
            !result.cookiesSet.contains(pair.section(u'=', 0, 0)))
            sameSession = false;
    }
    if (result.ok() && !entry->detached && sameSession) {
        entry->page = page;
        entry->cookies = now;
        entry->keptUntil = QDeadlineTimer(m_keepFor);
    } else {
        drop(entry);
    }
    for (const Entry::Waiter &waiter : waiters) {
        if (!waiter.context)
            continue;
        Page forWaiter = page;
        if (forWaiter.origin == Origin::New)
            forWaiter.askedNs = waiter.askedNs;
        waiter.done(forWaiter);
    }
}

// What the site would see of the session: the name=value pairs sent for the link, in a fixed order.
QStringList ProductPages::cookiesFor(const DownloadRequest &request) const
{
    QStringList pairs;
    if (const SharedCookieJar *jar = m_worker.downloader().session().cookies) {
        for (const QNetworkCookie &cookie :
             jar->cookiesForRequest(request.url, request.initiator, request.userActivated))
            pairs.append(QString::fromLatin1(cookie.toRawForm(QNetworkCookie::NameAndValueOnly)));
    }
    pairs.sort();
    return pairs;
}

void ProductPages::drop(const std::shared_ptr<Entry> &entry)
{
    entry->stop.request_stop();
    m_entries.erase(std::remove(m_entries.begin(), m_entries.end(), entry), m_entries.end());
}

} // namespace Quillory
