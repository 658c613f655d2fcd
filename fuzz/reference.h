#pragma once

// The rules written the slow, literal way, to fuzz the fast implementations against. They build on
// findFrom and midText, which are fuzzed against plain searches and cuts of their own.

#include "answer/attributelookup.h"
#include "answer/passrules.h"
#include "answer/trialsite.h"
#include "pagetext/textrules.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace QuilloryFuzz {

using namespace Quillory;
using namespace Qt::StringLiterals;

inline qsizetype plainFind(QStringView text, QStringView needle, qsizetype start)
{
    if (text.isEmpty() || start > text.size())
        return 0;
    if (needle.isEmpty())
        return start;
    for (qsizetype i = start - 1; i + needle.size() <= text.size(); ++i) {
        if (text.sliced(i, needle.size()) == needle)
            return i + 1;
    }
    return 0;
}

// A piece reads as a number: blanks, an optional sign, ASCII digits, blanks. -1: appends nothing.
inline int referenceUnitLiterally(const QString &piece)
{
    qsizetype b = 0, e = piece.size();
    while (b < e && (piece[b] == u' ' || piece[b] == u'\t'))
        ++b;
    while (e > b && (piece[e - 1] == u' ' || piece[e - 1] == u'\t'))
        --e;
    QString number = piece.mid(b, e - b);
    bool negative = false;
    if (number.startsWith(u'+') || number.startsWith(u'-')) {
        negative = number.startsWith(u'-');
        number.remove(0, 1);
    }
    if (number.isEmpty())
        return -1;
    for (QChar c : std::as_const(number)) {
        if (c < u'0' || c > u'9')
            return -1;
    }
    while (number.size() > 1 && number.startsWith(u'0'))
        number.remove(0, 1);
    if (number.size() > 6)
        return -1;
    const int magnitude = number.toInt();
    const int value = negative ? -magnitude : magnitude;
    if (value >= 0 && value <= 65535)
        return value;
    if (value >= -32768 && value <= -1)
        return 65536 + value;
    return -1;
}

inline QString zhuanziLiterally(const QString &input)
{
    if (input.isEmpty())
        return QString();
    QStringList pieces = input.split(u"&#"_s, Qt::KeepEmptyParts, Qt::CaseSensitive);
    for (qsizetype i = 1; i < pieces.size(); ++i) {
        if (pieces[i].contains(u';'))
            pieces[i] = pieces[i].left(5);
    }
    QString result;
    const QString &leading = pieces[0];
    if (leading.contains(u"&nbsp;"_s)) {
        if (leading != u"&nbsp;"_s)
            result = leading.split(u';').value(1);
    } else {
        result = leading;
    }
    for (qsizetype i = 1; i < pieces.size(); ++i) {
        const int unit = referenceUnitLiterally(pieces[i]);
        if (unit >= 0)
            result.append(QChar(char16_t(unit)));
    }
    return result;
}

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
        return {false, TrialSite::reportAnswer};
    QString answerText;
    const qsizetype linkTextPos = *findFrom(document, TrialSite::answerLinkText, 1);
    if (auto cut = midText(document, questionStart, linkTextPos - questionStart))
        answerText = *cut;
    const qsizetype attributeStart = *findFrom(answerText, u"<EM>", 1) + 4;
    const qsizetype attributeEnd = *findFrom(answerText, u"</EM>", 1);
    if (auto cut = midText(answerText, attributeStart, attributeEnd - attributeStart))
        answerText = *cut;
    return {true, answerText};
}

} // namespace QuilloryFuzz
