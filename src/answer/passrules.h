#pragma once

#include "pagetext/browserpane.h"

#include <QList>
#include <QString>

#include <optional>

// The rules of one answering pass that work on plain text, apart from the browser and the network.
namespace Quillory {

// True when `url` holds the trial item-page prefix anywhere, compared exactly: the test a pass the user
// asked for makes.
bool isTrialItemPage(const QString &url);

// True when `url` really is a trial item page: the trial site's scheme and host, the item page's path.
// Work nobody asked for (the product page downloaded when a page loads, auto-answer's passes) runs
// only there, so that no other site can make the program fetch pages with the user's credentials.
bool isTrialSiteItemPage(const QString &url);

// The href of the last link whose text is exactly "找答案"; "" when none matches. A link whose text
// could not be read counts as a match; a match whose href could not be read keeps the earlier one.
QString answerPageLink(const std::optional<QList<PageLink>> &links);

struct QuestionCut
{
    bool needsLookup = false; // false: `answerText` is already the answer ("试用报告")
    QString answerText;       // the question attribute, or what a failed cut left in it
    // The [begin, end) stretches of the document text that decided the cut: each marker occurrence it
    // found and the text it took the answer from. Changes elsewhere that put in none of
    // `questionMarkerCharacters()` (and do not join two neighbours) give the same cut: they can neither
    // make a marker appear earlier nor move or alter what was taken.
    QList<std::pair<qsizetype, qsizetype>> decidingStretches;
};

// Cuts the question section ("属性描述" up to the first "找答案") out of the document text and the
// attribute (between "<EM>" and "</EM>") out of that section.
QuestionCut cutQuestion(const QString &documentText);

// Every character of the markers the cut looks for.
QString questionMarkerCharacters();

} // namespace Quillory
