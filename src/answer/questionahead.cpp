#include "questionahead.h"

#include "pagetext/documenttext.h"

#include <algorithm>

namespace Quillory {

QuestionAhead::QuestionAhead(BrowserPane &pane, Timing timing, QObject *parent)
    : QObject(parent), m_pane(pane), m_timing(timing)
{
    m_checks.setInterval(m_timing.checkEvery);
    connect(&m_checks, &QTimer::timeout, this, &QuestionAhead::check);
}

void QuestionAhead::pageLoaded()
{
    m_read.reset();
    m_sinceLastRead.invalidate();
    m_checks.start();
    QTimer::singleShot(m_timing.firstCheckAfter, this, &QuestionAhead::check);
}

void QuestionAhead::pageLeft()
{
    m_checks.stop();
    m_read.reset();
}

std::optional<KeptRead> QuestionAhead::keptRead() const
{
    return m_read;
}

// Asks the page whether it still keeps the read, and reads ahead when it does not and has been quiet.
void QuestionAhead::check()
{
    if (m_asking || !m_checks.isActive())
        return;
    m_asking = true;
    m_pane.readPage(PageReadRequest(), this, [this](const PageSnapshot &page) {
        m_asking = false;
        if (!page.hasDocument || !m_checks.isActive())
            return;
        const PageProbe probe = page.probe() ? *page.probe() : PageProbe();
        const bool stillKept = m_read && m_read->documentToken == page.documentToken &&
                               m_read->generation == probe.keptGeneration;
        if (stillKept)
            return;
        m_read.reset();
        const qint64 gap =
            std::max<qint64>(m_timing.minimumGap.count(), m_lastReadCostMs * m_timing.readCostFactor);
        const bool rested = !m_sinceLastRead.isValid() || m_sinceLastRead.elapsed() >= gap;
        if (probe.quietMs >= m_timing.quietFor.count() && rested)
            readAhead();
    });
}

void QuestionAhead::readAhead()
{
    m_asking = true;
    PageReadRequest request;
    request.part = ElementPart::InnerHtml;
    request.scope = ElementScope::RootOnly;
    readDocumentText(m_pane, request, this, [this](const PageSnapshot &page, const QString &text) {
        m_asking = false;
        m_sinceLastRead.start();
        m_lastReadCostMs = page.readCostMs;
        if (m_checks.isActive() && page.markup())
            keep(page, cutQuestion(text));
    });
}

void QuestionAhead::keep(const PageSnapshot &page, const QuestionCut &cut)
{
    // Only a read of the root's part alone can be kept: its stretches are offsets into that part.
    const DocumentMarkup *markup = page.markup();
    if (!markup || !markup->ranges.isEmpty())
        return;
    ReadToKeep keep;
    keep.read = {page.documentToken, markup->generation};
    keep.markerCharacters = questionMarkerCharacters();
    for (const auto &[begin, end] : cut.decidingStretches) // the text's first character is the separator
        keep.decidingStretches.append({begin - 1, end - 1});
    m_read = keep.read;
    m_cut = cut;
    m_pane.keepRead(keep, this, [this, read = keep.read](bool kept) {
        if (!kept && m_read && m_read->documentToken == read.documentToken &&
            m_read->generation == read.generation)
            m_read.reset();
        Q_EMIT readKept(kept);
    });
}

} // namespace Quillory
