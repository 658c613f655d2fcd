#pragma once

// The answering cuts written the slow, literal way, for the fuzzers to check the fast ones against:
// the attribute lookup and the question cut, each built on findFrom and midText with copying cuts, and
// the lookup on a page as the browser shows it, unit by unit of the page rather than of its written form.
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

// A page as the browser shows it, one unit at a time: markup that the hidden page writes ("<", ">" and
// what stands between names in a tag), a unit of a name or value inside a tag, or a unit of text.
struct ShownUnit
{
    enum Kind
    {
        Markup,
        TagData,
        Text,
    };
    char16_t unit;
    Kind kind;
};
using ShownPage = QList<ShownUnit>;

// Reads any text as such a page: "<" opens a tag and ">" closes it; inside a tag, '"', '=', '/' and the
// space are markup and any other unit a name's or value's; outside, every unit is text.
inline ShownPage shownPageFrom(QStringView text)
{
    ShownPage page;
    bool inTag = false;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (!inTag && u == u'<') {
            inTag = true;
            page.append({u, ShownUnit::Markup});
        } else if (inTag && u == u'>') {
            inTag = false;
            page.append({u, ShownUnit::Markup});
        } else if (inTag) {
            const bool markup = u == u'"' || u == u'=' || u == u'/' || u == u' ';
            page.append({u, markup ? ShownUnit::Markup : ShownUnit::TagData});
        } else {
            page.append({u, ShownUnit::Text});
        }
    }
    return page;
}

// One unit as the hidden page writes it: a name's, value's or text's "&", "<", ">" and U+00A0 as their
// references, everything else as it is.
inline QString writtenUnit(const ShownUnit &shown)
{
    if (shown.kind != ShownUnit::Markup) {
        switch (shown.unit) {
        case u'&':
            return QStringLiteral("&amp;");
        case u'<':
            return QStringLiteral("&lt;");
        case u'>':
            return QStringLiteral("&gt;");
        case 0x00a0:
            return QStringLiteral("&nbsp;");
        default:
            break;
        }
    }
    return QString(QChar(shown.unit));
}

inline QString writtenForm(const ShownPage &page)
{
    QString text;
    for (const ShownUnit &shown : page)
        text += writtenUnit(shown);
    return text;
}

// The lookup's rules on a shown page, one page unit at a time: units compare as they are written, a
// value is the text among its units, less one leading no-break space. `name` is a text's units.
inline QString lookUpShownLiterally(const ShownPage &page, const QString &name)
{
    const auto find = [](const ShownPage &in, const QList<QString> &needle, qsizetype start) -> qsizetype {
        if (in.isEmpty() || start > in.size())
            return 0;
        if (needle.isEmpty())
            return start;
        for (qsizetype i = start - 1; i + needle.size() <= in.size(); ++i) {
            bool match = true;
            for (qsizetype k = 0; k < needle.size() && match; ++k)
                match = writtenUnit(in[i + k]) == needle[k];
            if (match)
                return i + 1;
        }
        return 0;
    };
    const auto units = [](QStringView text) {
        QList<QString> written;
        for (const QChar c : text)
            written.append(QString(c));
        return written;
    };
    const auto region = [&](QStringView startMarker, QStringView endMarker) {
        const qsizetype start = find(page, units(startMarker), 1);
        const qsizetype end = find(page, units(endMarker), 1);
        if (start < 1 || end - start < 0)
            return ShownPage();
        return page.mid(start - 1, end - start);
    };
    const auto shown = [](const ShownPage &value) {
        QString text;
        for (const ShownUnit &unit : value) {
            if (unit.kind == ShownUnit::Text)
                text += QChar(unit.unit);
        }
        if (text.startsWith(QChar(0x00a0)))
            text.remove(0, 1);
        return text;
    };
    QList<QString> nameUnits;
    for (const QChar c : name)
        nameUnits.append(writtenUnit({c.unicode(), ShownUnit::Text}));
    const auto cut = [&](const ShownPage &in, qsizetype namePos, qsizetype offset, QStringView end) {
        const qsizetype valueStart = namePos + nameUnits.size() + offset;
        const qsizetype valueEnd = find(in, units(end), valueStart);
        if (valueEnd - valueStart < 0) { // the name itself, as text
            ShownPage echo;
            for (const QChar c : name)
                echo.append({c.unicode(), ShownUnit::Text});
            return shown(echo);
        }
        return shown(in.mid(valueStart - 1, valueEnd - valueStart));
    };
    const ShownPage list = region(u"attributes-list", u"描述加载中");
    if (const qsizetype at = find(list, nameUnits, 1); at != 0)
        return cut(list, at, 1, u"</li>");
    if (find(page, units(u"包装和参数"), 1) == 0)
        return LookupText::noTable;
    const ShownPage table = region(u"包装和参数", u"拍下价格的不同可能会由于促销和打折引起的");
    if (const qsizetype at = find(table, nameUnits, 1); at != 0)
        return cut(table, at, 9, u"</td>");
    return LookupText::tableMiss;
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
