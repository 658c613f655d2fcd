#include "passrules.h"

#include "pagetext/textrules.h"
#include "pagetext/textviews.h"
#include "trialsite.h"

#include <QStringView>

namespace Quillory {

bool isTrialItemPage(const QString &url)
{
    // The prefix anywhere in the URL (inside a query too), compared exactly: https or other letter
    // case is not a trial item page.
    return positionOf(url, TrialSite::itemPagePrefix) != 0;
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

    // A page without the question marker has no attribute question: the fixed answer, no lookup.
    const qsizetype questionStart = positionOf(document, TrialSite::questionMarker);
    if (questionStart == 0)
        return QuestionCut{false, TrialSite::reportAnswer};

    // The one answer text, as a view into the document until the end: a failed cut keeps what the
    // step before it left there.
    QStringView answerText;

    // The question section: "属性描述" up to just before the first "找答案" of the whole document text.
    const qsizetype linkTextPos = positionOf(document, TrialSite::answerLinkText);
    if (const auto section = midView(document, questionStart, linkTextPos - questionStart))
        answerText = *section;

    // The attribute: between the first "<EM>" and the first "</EM>" of the section, both searched from its
    // start.
    const qsizetype attributeStart =
        positionOf(answerText, TrialSite::attributeStartMarker) + TrialSite::attributeStartMarker.size();
    const qsizetype attributeEnd = positionOf(answerText, TrialSite::attributeEndMarker);
    if (const auto attribute = midView(answerText, attributeStart, attributeEnd - attributeStart))
        answerText = *attribute;

    return QuestionCut{true, answerText.toString()};
}

} // namespace Quillory
