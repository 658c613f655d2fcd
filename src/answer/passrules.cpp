#include "passrules.h"

#include "pagetext/textrules.h"
#include "pagetext/textviews.h"
#include "trialsite.h"

#include <QStringView>
#include <QUrl>

namespace Quillory {

bool isTrialItemPage(const QString &url)
{
    // The prefix anywhere in the URL (inside a query too), compared exactly: https or other letter
    // case is not a trial item page.
    return positionOf(url, TrialSite::itemPagePrefix) != 0;
}

bool isTrialSiteItemPage(const QString &url)
{
    static const QUrl itemPage(TrialSite::itemPagePrefix);
    const QUrl candidate(url, QUrl::StrictMode);
    return candidate.isValid() && candidate.scheme() == itemPage.scheme() &&
           candidate.host() == itemPage.host() && candidate.port(80) == itemPage.port(80) &&
           candidate.path() == itemPage.path() && candidate.userInfo().isEmpty();
}

QString answerPageLink(const std::optional<QList<PageLink>> &links)
{
    QString link; // stays empty when no link is examined or none matches
    if (!links)
        return link;
    for (const PageLink &candidate : *links) {
        // A text that could not be read fails the test, and a failed test counts as held.
        if (candidate.text && *candidate.text != TrialSite::answerLinkText)
            continue;
        if (candidate.href) // a failed read keeps the earlier match
            link = *candidate.href;
    }
    return link;
}

QuestionCut cutQuestion(const QString &documentText)
{
    const QStringView document(documentText);
    QuestionCut cut;
    auto decided = [&](qsizetype position, qsizetype length) { // a 1-based position in `document`
        cut.decidingStretches.append({position - 1, position - 1 + length});
    };
    auto decidedBy = [&](QStringView within, qsizetype position, QStringView marker) {
        if (position != 0)
            decided(within.data() - document.data() + position, marker.size());
    };

    // A page without the question marker has no attribute question: the fixed answer, no lookup.
    const qsizetype questionStart = positionOf(document, TrialSite::questionMarker);
    if (questionStart == 0) {
        cut.answerText = TrialSite::reportAnswer;
        return cut;
    }
    cut.needsLookup = true;
    decided(questionStart, TrialSite::questionMarker.size());

    // The one answer text, as a view into the document until the end: a failed cut keeps what the
    // step before it left there.
    QStringView answerText;

    // The question section: "属性描述" up to just before the first "找答案" of the whole document text.
    const qsizetype linkTextPos = positionOf(document, TrialSite::answerLinkText);
    decidedBy(document, linkTextPos, TrialSite::answerLinkText);
    if (const auto section = midView(document, questionStart, linkTextPos - questionStart))
        answerText = *section;

    // The attribute: between the first "<EM>" and the first "</EM>" of the section, both searched from its
    // start.
    const qsizetype startMarkerPos = positionOf(answerText, TrialSite::attributeStartMarker);
    const qsizetype attributeEnd = positionOf(answerText, TrialSite::attributeEndMarker);
    decidedBy(answerText, startMarkerPos, TrialSite::attributeStartMarker);
    decidedBy(answerText, attributeEnd, TrialSite::attributeEndMarker);
    const qsizetype attributeStart = startMarkerPos + TrialSite::attributeStartMarker.size();
    if (const auto attribute = midView(answerText, attributeStart, attributeEnd - attributeStart))
        answerText = *attribute;

    if (answerText.data() != nullptr) {
        const qsizetype begin = answerText.data() - document.data();
        cut.decidingStretches.append({begin, begin + answerText.size()});
    }
    cut.answerText = answerText.toString();
    return cut;
}

QString questionMarkerCharacters()
{
    QString characters;
    for (const QString &marker : {TrialSite::questionMarker, TrialSite::answerLinkText,
                                  TrialSite::attributeStartMarker, TrialSite::attributeEndMarker}) {
        for (const QChar c : marker) {
            if (!characters.contains(c))
                characters.append(c);
        }
    }
    return characters;
}

} // namespace Quillory
