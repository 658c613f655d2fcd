#pragma once

#include "pagetext/clock.h"
#include "productsource.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

namespace Quillory {

// The product page of the trial item page that the pane shows. It is fetched from the source at most
// once at a time for a page and its answer link: early, when the page has loaded and before any pass
// asks, and kept for the passes that follow for a while (60 s), so that auto-answer on one page does
// not download it again every few seconds. The copy serves the document it was fetched for and the
// documents that replace it from the same page (a reload); a failed download is never kept, nor one
// made with other cookies for the link than the session holds now. Early downloads, which nobody asked
// for, are also bounded in rate: at most one a link in `keepFor`.
//
// Work that no key or click of the user's asked for (early downloads, and the page as the browser shows
// it when no key asked for it) shares one budget for the whole window, whatever the links:
// `gesturelessPerMinute` in any minute. Beyond it, nothing is fetched until the minute has passed; a
// pass still gets the page as served.
class ProductPages final : public QObject
{
    Q_OBJECT

public:
    enum class Origin
    {
        New,   // downloaded for this pass
        Early, // the early download, made before any pass asked for it
        Kept,  // the copy that an earlier pass on this page used
    };

    struct Page
    {
        DownloadResult result; // its `body` left out: `bodyBytes` says how long it was
        qint64 bodyBytes = 0;
        Origin origin = Origin::New;
        qint64 elapsedMs = 0;  // from being asked for to the result (0 for a kept copy)
        bool rendered = false; // the page as the browser shows it, its scripts run: PageForm::Rendered
    };
    using Done = std::function<void(const Page &page)>;

    // Early downloads and hidden loads that nobody asked for, together, in any minute.
    static constexpr int gesturelessPerMinute = 10;

    ProductPages(ProductSource &source, const Clock &clock, std::chrono::milliseconds keepFor,
                 QObject *parent = nullptr);
    ~ProductPages() override;

    // The second source: the page as the browser shows it, asked for only when the served page lacks
    // the attribute (attributelookup.h: lacksTheAttribute), as part of the same fetch, and only for a
    // page of the trial site itself, where downloads may run before any key. Null: none.
    void setRenderedSource(ProductSource *rendered) { m_rendered = rendered; }

    // Starts downloading the product page of the page `documentToken` ahead of any pass, unless it is
    // under way or kept already, or the link had its early download a short while ago.
    void prepare(const QString &documentToken, const DownloadRequest &request);
    // The product page of the page `documentToken` for looking up `attribute`: the kept copy, the
    // download under way, or a new one. `done` runs later, never once `context` is gone.
    void get(const QString &documentToken, const DownloadRequest &request, const QString &attribute,
             QObject *context, Done done);
    // The pane has left the page: an early download that no pass waits for is dropped; a kept copy
    // stays only for a reload of the same page (prepare).
    void leave();

Q_SIGNALS:
    // A fetch has ended: its page is kept (or, failed or out of date, dropped), and the passes that
    // waited for it have it.
    void fetchEnded();

private:
    struct Entry;

    std::shared_ptr<Entry> entryFor(const QString &documentToken, const DownloadRequest &request);
    bool adoptForReload(const QString &documentToken, const DownloadRequest &request);
    bool earlyDownloadDue(const DownloadRequest &request);
    bool gesturelessWorkDue();
    std::shared_ptr<Entry> startEntry(const QString &documentToken, const DownloadRequest &request,
                                      bool early);
    void fetchFrom(ProductSource &source, const std::shared_ptr<Entry> &entry);
    bool renderIfLacking(const std::shared_ptr<Entry> &entry, const Page &served);
    ProductSource::Holds holdsAttribute(const std::shared_ptr<Entry> &entry) const;
    void finished(const std::shared_ptr<Entry> &entry, const DownloadResult &result, bool rendered);
    void settle(const std::shared_ptr<Entry> &entry, const Page &page, const QStringList &cookiesSet);
    void drop(const std::shared_ptr<Entry> &entry);
    bool isFresh(const Entry &entry, const DownloadRequest &request) const;

    ProductSource &m_source;
    ProductSource *m_rendered = nullptr;
    const Clock &m_clock;
    const std::chrono::milliseconds m_keepFor;
    std::vector<std::shared_ptr<Entry>> m_entries;       // the current page's last, and those still awaited
    std::shared_ptr<Entry> m_left;                       // the kept copy of the page the pane left
    QHash<QString, std::chrono::milliseconds> m_earlyAt; // when each link last had an early download
    std::vector<std::chrono::milliseconds> m_gesturelessAt; // when work that nobody asked for began
};

} // namespace Quillory
