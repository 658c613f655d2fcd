#include "productpages.h"

#include "attributelookup.h"
#include "passrules.h"

#include <QPointer>

#include <algorithm>

namespace Quillory {

struct ProductPages::Entry
{
    struct Waiter
    {
        QPointer<QObject> context;
        Done done;
        std::chrono::milliseconds askedAt{0};
    };

    QString documentToken;
    DownloadRequest request;
    QStringList cookies;     // what the site saw of the session: when asked for, then once downloaded
    bool early = false;      // made ahead of any pass
    bool usedByPass = false; // a pass has had it: the next one gets the kept copy
    bool userAsked = false;  // a pass that the user's key or click started has asked for it
    bool detached = false;   // the pane left its page while a pass waited: not kept
    QString attribute;       // what the passes look up in it, once one has asked
    bool renderAsked = false;
    std::optional<QString> holdsAttribute; // the served page was found to hold it
    std::optional<Page> served; // while the rendered page is awaited: the served one, to fall back on
    std::chrono::milliseconds askedAt{0};
    ProductSource::Cancel cancel;
    std::optional<Page> page; // once downloaded
    std::chrono::milliseconds keptUntil{0};
    std::vector<Waiter> waiters;

    bool sameLink(const DownloadRequest &other) const
    {
        return request.url == other.url && request.privateNetworkAllowed == other.privateNetworkAllowed;
    }
    bool matches(const QString &token, const DownloadRequest &other) const
    {
        return documentToken == token && sameLink(other);
    }
};

ProductPages::ProductPages(ProductSource &source, const Clock &clock, std::chrono::milliseconds keepFor,
                           QObject *parent)
    : QObject(parent), m_source(source), m_clock(clock), m_keepFor(keepFor)
{}

ProductPages::~ProductPages()
{
    for (const std::shared_ptr<Entry> &entry : m_entries) {
        if (entry->cancel)
            entry->cancel();
    }
}

// A copy serves as long as it is fresh and the site would see the same cookies: a login or logout since
// then could change the page.
bool ProductPages::isFresh(const Entry &entry, const DownloadRequest &request) const
{
    return entry.page && m_clock.now() < entry.keptUntil && entry.cookies == m_source.sessionCookies(request);
}

std::shared_ptr<ProductPages::Entry> ProductPages::entryFor(const QString &documentToken,
                                                            const DownloadRequest &request)
{
    if (m_entries.empty() || m_entries.back()->detached || !m_entries.back()->matches(documentToken, request))
        return nullptr;
    const std::shared_ptr<Entry> entry = m_entries.back();
    if (entry->page && !isFresh(*entry, request)) {
        drop(entry);
        return nullptr;
    }
    // A fetch under way that nobody waits for yet, made before a login or logout: the page it brings
    // would be the other session's.
    if (!entry->page && entry->waiters.empty() && entry->cookies != m_source.sessionCookies(request)) {
        drop(entry);
        return nullptr;
    }
    return entry;
}

// A page that reloads itself is a new document of the same page, which would download the same link
// again on every load. The copy kept for the page left serves the new document when it is of the same
// link, asked for from the same page, fresh and of the same session.
// The copy may also still stand for an earlier reload: the read of a document that the page replaced
// again can come after the pane has left it.
bool ProductPages::adoptForReload(const QString &documentToken, const DownloadRequest &request)
{
    const bool current =
        !m_left && !m_entries.empty() && m_entries.back()->page && !m_entries.back()->detached;
    const std::shared_ptr<Entry> copy = current ? m_entries.back() : std::exchange(m_left, nullptr);
    if (!copy || !copy->sameLink(request) || copy->request.initiator != request.initiator ||
        !isFresh(*copy, request))
        return false;
    if (!current) {
        leave();
        m_entries.push_back(copy);
    }
    copy->documentToken = documentToken;
    copy->usedByPass = true; // a copy from before: the pass reports it as kept
    return true;
}

// At most one early download a link in `keepFor`, and only within the budget of work that nobody asked
// for: a page that reloads itself must not turn into a stream of requests in the user's session.
bool ProductPages::earlyDownloadDue(const DownloadRequest &request)
{
    const std::chrono::milliseconds now = m_clock.now();
    m_earlyAt.removeIf([&](const auto &item) { return now - item.value() >= m_keepFor; });
    const QString link = request.url.toString(QUrl::FullyEncoded);
    if (m_earlyAt.contains(link) || !gesturelessWorkDue())
        return false;
    m_earlyAt.insert(link, now);
    return true;
}

// Work that nobody asked for: at most `gesturelessPerMinute` in any minute, whatever the links, so that
// a page whose link is new at every load cannot make a stream of requests in the user's session.
bool ProductPages::gesturelessWorkDue()
{
    constexpr std::chrono::minutes window{1};
    const std::chrono::milliseconds now = m_clock.now();
    std::erase_if(m_gesturelessAt, [&](std::chrono::milliseconds at) { return now - at >= window; });
    if (m_gesturelessAt.size() >= std::size_t(gesturelessPerMinute))
        return false;
    m_gesturelessAt.push_back(now);
    return true;
}

void ProductPages::prepare(const QString &documentToken, const DownloadRequest &request)
{
    if (entryFor(documentToken, request) || adoptForReload(documentToken, request))
        return;
    if (earlyDownloadDue(request))
        startEntry(documentToken, request, true);
}

void ProductPages::get(const QString &documentToken, const DownloadRequest &request, const QString &attribute,
                       QObject *context, Done done)
{
    const std::chrono::milliseconds asked = m_clock.now();
    std::shared_ptr<Entry> entry = entryFor(documentToken, request);
    if (!entry && adoptForReload(documentToken, request))
        entry = m_entries.back(); // a pass that comes before the reloaded page's own read
    if (!entry)
        entry = startEntry(documentToken, request, false);
    entry->attribute = attribute;
    entry->userAsked = entry->userAsked || request.userActivated;
    // A copy served as sent that lacks this attribute: the page as the browser shows it, once.
    if (entry->page && renderIfLacking(entry, *entry->page))
        entry->page.reset();
    if (entry->page) {
        Page kept = *entry->page;
        kept.origin = entry->early && !entry->usedByPass ? Origin::Early : Origin::Kept;
        if (kept.origin == Origin::Kept)
            kept.elapsedMs = 0;
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
        if (!entry->waiters.empty()) {
            entry->detached = true; // its pass still gets it, and then it goes
            continue;
        }
        if (entry->page)
            m_left = entry;
        drop(entry);
    }
}

std::shared_ptr<ProductPages::Entry> ProductPages::startEntry(const QString &documentToken,
                                                              const DownloadRequest &request, bool early)
{
    // One page at a time: what belonged to the page before goes, unless a pass still waits for it.
    leave();
    m_left.reset();
    auto entry = std::make_shared<Entry>();
    entry->documentToken = documentToken;
    entry->request = request;
    entry->early = early;
    entry->cookies = m_source.sessionCookies(request);
    entry->askedAt = m_clock.now();
    m_entries.push_back(entry);
    fetchFrom(m_source, entry);
    return entry;
}

void ProductPages::fetchFrom(ProductSource &source, const std::shared_ptr<Entry> &entry)
{
    const std::weak_ptr<Entry> weak = entry;
    const bool rendered = &source == m_rendered;
    auto done = [this, weak, rendered](const DownloadResult &result) {
        if (const std::shared_ptr<Entry> entry = weak.lock())
            finished(entry, result, rendered);
    };
    if (!rendered) {
        entry->cancel = source.fetch(entry->request, this, std::move(done));
        return;
    }
    // The hidden page sends what the user's click would: Lax cookies to another site only when a key
    // of the user's asked for the page.
    DownloadRequest request = entry->request;
    request.userActivated = entry->userAsked;
    entry->cancel = source.fetchHolding(request, holdsAttribute(entry), this, std::move(done));
}

// Asks the rendered source for the page when the one served lacks the attribute (or any list at all),
// once a link: the served page stays at hand should the rendered one fail. True when asked.
bool ProductPages::renderIfLacking(const std::shared_ptr<Entry> &entry, const Page &served)
{
    // The hidden page runs the product page's scripts: only for the trial site's own item pages, where
    // the downloads may run before any key, never for a page that merely looks like one.
    if (!m_rendered || entry->renderAsked || !served.result.ok() || served.rendered ||
        entry->holdsAttribute == entry->attribute ||
        !isTrialSiteItemPage(entry->request.initiator.toString(QUrl::FullyEncoded)))
        return false;
    // Each pass on a kept copy would look the same name up twice: once here, once for its answer.
    if (!lacksTheAttribute(served.result.text, entry->attribute)) {
        entry->holdsAttribute = entry->attribute;
        return false;
    }
    if (!entry->userAsked && !gesturelessWorkDue())
        return false; // a key asks again
    entry->renderAsked = true;
    entry->served = served;
    fetchFrom(*m_rendered, entry);
    return true;
}

// What the rendered page must hold: the attribute that the passes look up when one has asked, else any
// attribute list or table. Read when the page is, so that a pass that asks while the page loads is
// waited for too; read in the rendered source's own form, as the passes will read it.
ProductSource::Holds ProductPages::holdsAttribute(const std::shared_ptr<Entry> &entry) const
{
    return [weak = std::weak_ptr<Entry>(entry)](const QString &text) {
        const std::shared_ptr<Entry> entry = weak.lock();
        return !lacksTheAttribute(text, entry ? entry->attribute : QString(), PageForm::Rendered);
    };
}

void ProductPages::finished(const std::shared_ptr<Entry> &entry, const DownloadResult &result, bool rendered)
{
    entry->cancel = nullptr;
    Page page;
    page.result = result;
    page.bodyBytes = rendered ? result.text.size() : result.body.size();
    page.result.body.clear(); // the text is what the lookup reads
    page.origin = entry->early ? Origin::Early : Origin::New;
    page.rendered = rendered;
    if (rendered && !result.ok() && entry->served)
        page = *std::exchange(entry->served, std::nullopt); // what the server sent is still an answer
    if (!rendered && renderIfLacking(entry, page))
        return; // the waiters wait on
    settle(entry, page, result.cookiesSet);
}

void ProductPages::settle(const std::shared_ptr<Entry> &entry, const Page &settled,
                          const QStringList &cookiesSet)
{
    Page page = settled;
    const std::chrono::milliseconds now = m_clock.now();
    page.elapsedMs = (now - entry->askedAt).count();

    const std::vector<Entry::Waiter> waiters = std::move(entry->waiters);
    entry->waiters.clear();
    if (!waiters.empty())
        entry->usedByPass = true;
    // Kept only when the session's cookies for the link have not changed since it was asked for, but
    // for those the site itself set in its reply.
    const QStringList cookies = m_source.sessionCookies(entry->request);
    bool sameSession = true;
    for (const QString &pair : cookies + entry->cookies) {
        if (cookies.contains(pair) != entry->cookies.contains(pair) &&
            !cookiesSet.contains(pair.section(u'=', 0, 0)))
            sameSession = false;
    }
    const bool inUse = std::find(m_entries.cbegin(), m_entries.cend(), entry) != m_entries.cend();
    if (page.result.ok() && inUse && !entry->detached && sameSession) {
        entry->page = page;
        entry->cookies = cookies;
        entry->keptUntil = now + m_keepFor;
    } else {
        drop(entry);
    }
    for (const Entry::Waiter &waiter : waiters) {
        if (!waiter.context)
            continue;
        Page forWaiter = page;
        if (forWaiter.origin == Origin::New) // from when this pass asked
            forWaiter.elapsedMs = (now - waiter.askedAt).count();
        waiter.done(forWaiter);
    }
    Q_EMIT fetchEnded();
}

void ProductPages::drop(const std::shared_ptr<Entry> &entry)
{
    if (entry->cancel)
        std::exchange(entry->cancel, nullptr)();
    m_entries.erase(std::remove(m_entries.begin(), m_entries.end(), entry), m_entries.end());
}

} // namespace Quillory
