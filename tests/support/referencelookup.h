#pragma once

// The answering cuts written the slow, literal way, for the fuzzers to check the fast ones against:
// the attribute lookup and the question cut, each built on findFrom and midText with copying cuts.
// Header-only, Qt Core only.

#include "answer/attributelookup.h"
#include "answer/passrules.h"
#include "answer/trialsite.h"
#include "pagetext/textrules.h"
#include "referencecuts.h"

#include <QString>

namespace Quillory::Testing {

inline QString lookUpLiterally(const QString &page, QString chazhaosx)
{
    const QString name = chazhaosx;
    QString listRegion;
    const qsizetype listStart = *findFrom(page, u"attributes-list", 1);
    const qsizetype listEnd = *findFrom(page, u"描述加载中", 1);
    if (auto cut = midText(page, listStart, listEnd - listStart))
        listRegion = *cut;
    const qsizetype namePos = *findFrom(listRegion, name, 1);
    if (namePos != 0) {
        const qsizetype valueStart = namePos + name.size() + 1;
        const qsizetype valueEnd = *findFrom(listRegion, u"</li>", valueStart);
        if (auto cut = midText(listRegion, valueStart, valueEnd - valueStart))
            chazhaosx = *cut;
    } else if (*findFrom(page, u"包装和参数", 1) != 0) {
        QString tableRegion;
        const qsizetype tableStart = *findFrom(page, u"包装和参数", 1);
        const qsizetype tableEnd = *findFrom(page, u"拍下价格的不同可能会由于促销和打折引起的", 1);
        if (auto cut = midText(page, tableStart, tableEnd - tableStart))
            tableRegion = *cut;
        const qsizetype tableNamePos = *findFrom(tableRegion, name, 1);
        if (tableNamePos != 0) {
            const qsizetype valueStart = tableNamePos + name.size() + 9;
            const qsizetype valueEnd = *findFrom(tableRegion, u"</td>", valueStart);
            if (auto cut = midText(tableRegion, valueStart, valueEnd - valueStart))
                chazhaosx = *cut;
        } else {
            chazhaosx = LookupText::tableMiss;
        }
    } else {
        chazhaosx = LookupText::noTable;
    }
    return zhuanziLiterally(chazhaosx);
}

inline QuestionCut cutQuestionLiterally(const QString &document)
{
    const qsizetype questionStart = *findFrom(document, TrialSite::questionMarker, 1);
    if (questionStart == 0)
        return QuestionCut{false, TrialSite::reportAnswer, {}};
    QString answerText;
    const qsizetype linkTextPos = *findFrom(document, TrialSite::answerLinkText, 1);
    if (auto cut = midText(document, questionStart, linkTextPos - questionStart))
        answerText = *cut;
    const qsizetype attributeStart = *findFrom(answerText, u"<EM>", 1) + 4;
    const qsizetype attributeEnd = *findFrom(answerText, u"</EM>", 1);
    if (auto cut = midText(answerText, attributeStart, attributeEnd - attributeStart))
        answerText = *cut;
    return QuestionCut{true, answerText, {}};
}

} // namespace Quillory::Testing
