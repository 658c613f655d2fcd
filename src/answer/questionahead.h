#pragma once

#include "pagetext/browserpane.h"
#include "passrules.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <optional>

namespace Quillory {

// The question of the trial item page the pane shows, cut ahead of the key: while the page sits idle
// the markup is read and the question cut from it, and the page is asked to keep that read. The page
// keeps it until the document changes in a way that could change the cut (a countdown ticking in a
// corner does not; see `keepRead` in the page script), so a pass asks only whether the read is still
// kept and takes the cut from here. A pass never answers from here unless the page says so.
//
// What this costs while the page sits idle is bounded: one small question to the page every
// `checkEvery`, and a new read only once the document has been quiet for `quietFor`, and no sooner
// after the last read than `readCostFactor` times what that read cost the page.
class QuestionAhead final : public QObject
{
    Q_OBJECT

public:
    struct Timing
    {
        std::chrono::milliseconds checkEvery{1000};
        std::chrono::milliseconds quietFor{300};
        std::chrono::milliseconds firstCheckAfter{200};
        std::chrono::milliseconds minimumGap{1000}; // between two reads made ahead
        int readCostFactor = 20;
    };

    explicit QuestionAhead(BrowserPane &pane, Timing timing, QObject *parent = nullptr);
    explicit QuestionAhead(BrowserPane &pane, QObject *parent = nullptr)
        : QuestionAhead(pane, Timing(), parent)
    {}

    // The pane has loaded a page on which passes can run: work ahead on it.
    void pageLoaded();
    // The pane is leaving the page: forget what was worked out, stop.
    void pageLeft();

    // The read a pass may name to the page, if any.
    std::optional<KeptRead> keptRead() const;
    // The cut of the read `page` says is still kept.
    const QuestionCut &keptCut() const { return m_cut; }

    // A pass has read the markup afresh and cut the question from `documentText`: keep that.
    void keep(const PageSnapshot &page, const QuestionCut &cut);

Q_SIGNALS:
    // A read made ahead of the key has been cut and handed to the page to keep (for tests and the
    // benchmark, which wait for the page to be ready).
    void readKept(bool kept);

private:
    void check();
    void readAhead();

    BrowserPane &m_pane;
    Timing m_timing;
    QTimer m_checks;
    bool m_asking = false; // a question or read to the page is under way
    std::optional<KeptRead> m_read;
    QuestionCut m_cut;
    QElapsedTimer m_sinceLastRead;
    qint64 m_lastReadCostMs = 0;
};

} // namespace Quillory
