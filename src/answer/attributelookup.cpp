#include "attributelookup.h"

#include "pagetext/pagedownloader.h"
#include "pagetext/textrules.h"
#include "pagetext/textviews.h"
#include "pagetext/zhuanzi.h"

#include <QStringView>

#include <optional>

namespace Quillory {

namespace {

constexpr QStringView kListStart = u"attributes-list";
constexpr QStringView kListEnd = u"描述加载中";
constexpr QStringView kListValueEnd = u"</li>";
constexpr qsizetype kListValueOffset = 1;
constexpr QStringView kTableStart = u"包装和参数";
constexpr QStringView kTableEnd = u"拍下价格的不同可能会由于促销和打折引起的";
constexpr QStringView kTableValueEnd = u"</td>";
constexpr qsizetype kTableValueOffset = 9;

// The region of the page that runs from `regionStart`, where the first start marker stands, up to just
// before the first `endMarker`; the empty region when that cut fails (either marker missing, or the end
// before the start).
QStringView cutRegion(QStringView page, qsizetype regionStart, QStringView endMarker)
{
    const qsizetype regionEnd = positionOf(page, endMarker, 1); // from the page's start, too
    return midView(page, regionStart, regionEnd - regionStart).value_or(QStringView());
}

// The rendered form's four references, each one character of the page (attributelookup.h: PageForm).
struct Reference
{
    QStringView text;
    QChar character;
};
constexpr Reference kReferences[] = {
    {u"&amp;", u'&'},
    {u"&lt;", u'<'},
    {u"&gt;", u'>'},
    {u"&nbsp;", QChar(0x00a0)},
};
constexpr qsizetype kLongestReference = 6;

// The reference that begins at `index` (0-based) of a text in the rendered form, if one does.
const Reference *referenceAt(QStringView text, qsizetype index)
{
    if (index >= text.size() || text[index] != u'&')
        return nullptr;
    for (const Reference &reference : kReferences) {
        if (text.sliced(index).startsWith(reference.text))
            return &reference;
    }
    return nullptr;
}

// How many units the character at `index` takes: a reference's length, else one.
qsizetype characterLength(QStringView text, qsizetype index)
{
    const Reference *reference = referenceAt(text, index);
    return reference ? reference->text.size() : 1;
}

// Whether `index` (0-based, up to the text's size) lies between two characters of the rendered form, not
// inside a reference. Every "&" in that form begins one, so only the last "&" before `index` can hold it.
bool betweenCharacters(QStringView text, qsizetype index)
{
    for (qsizetype at = index - 1; at >= 0 && at > index - kLongestReference; --at) {
        if (text[at] == u'&')
            return at + characterLength(text, at) <= index;
    }
    return true;
}

// The first occurrence of the name in the region, by `findFrom` from position 1. In the rendered form
// one that begins or ends inside a reference is part of another character and does not count.
qsizetype namePosition(QStringView region, QStringView name, PageForm form)
{
    const auto counts = [&](qsizetype position) {
        return form == PageForm::Served || (betweenCharacters(region, position - 1) &&
                                            betweenCharacters(region, position - 1 + name.size()));
    };
    qsizetype position = positionOf(region, name, 1);
    while (position != 0 && !counts(position))
        position = positionOf(region, name, position + 1);
    return position;
}

// Where the value begins: `offset` characters after the name's end (a reference is one character).
qsizetype valueStartAfter(QStringView region, qsizetype nameEnd, qsizetype offset, PageForm form)
{
    if (form == PageForm::Served)
        return nameEnd + offset;
    qsizetype index = nameEnd - 1; // 0-based
    for (qsizetype skipped = 0; skipped < offset; ++skipped)
        index += characterLength(region, index);
    return index + 1;
}

// The answer that a cut value of the rendered form stands for: the text the page shows within it. The
// markup is left out: a tag runs from "<" to the next ">", as no name, value or text holds either; a cut
// that begins inside a tag (the name stood in a tag) holds a ">" before any "<". The references become
// their characters, and one leading U+00A0 goes, as the served form's "&nbsp;" before a value does.
QString shownText(QStringView value)
{
    QString text;
    text.reserve(value.size());
    qsizetype index = 0;
    const qsizetype firstClose = value.indexOf(u'>');
    const qsizetype firstOpen = value.indexOf(u'<');
    if (firstClose >= 0 && (firstOpen < 0 || firstClose < firstOpen))
        index = firstClose + 1;
    while (index < value.size()) {
        const QChar c = value[index];
        if (c == u'<') {
            const qsizetype close = value.indexOf(u'>', index);
            index = close < 0 ? value.size() : close + 1;
        } else if (const Reference *reference = referenceAt(value, index)) {
            text += reference->character;
            index += reference->text.size();
        } else {
            text += c;
            ++index;
        }
    }
    if (text.startsWith(QChar(0x00a0)))
        text.remove(0, 1);
    return text;
}

// The value after the name found at `namePos`: it begins `offset` characters after the name's end and
// runs up to the first `valueEnd` at or after that. When no closing tag follows, the cut fails and
// `answer` keeps what it held (the attribute name), which is what the user then sees. True when cut.
bool cutValue(QStringView region, qsizetype namePos, qsizetype nameLength, qsizetype offset,
              QStringView valueEnd, QString &answer, PageForm form)
{
    const qsizetype valueStart = valueStartAfter(region, namePos + nameLength, offset, form);
    const qsizetype valueStop = positionOf(region, valueEnd, valueStart);
    const std::optional<QStringView> value = midView(region, valueStart, valueStop - valueStart);
    if (value)
        answer = value->toString(); // the only copy the lookup makes
    return value.has_value();
}

} // namespace

QString lookUpAttribute(const QString &pageText, QString &chazhaosx, AnswerSource *source, PageForm form)
{
    AnswerSource from = AnswerSource::NoTable;
    // Shallow copies (shared, not duplicated): the views below stay valid even when a caller passes
    // the same string as page and name.
    const QString pageHolder = pageText;
    const QStringView page(pageHolder);
    // The name as passed in: its length sets the value start even after `chazhaosx` has been replaced.
    const QString name = chazhaosx;

    // The attribute list region (a view into the page: a product page runs to megabytes and is never
    // copied; only the final value is).
    const QStringView listRegion = cutRegion(page, positionOf(page, kListStart, 1), kListEnd);

    // The first occurrence of the name anywhere in the list region, markup included, decides.
    const qsizetype listNamePos = namePosition(listRegion, name, form);
    if (listNamePos != 0) {
        from =
            cutValue(listRegion, listNamePos, name.size(), kListValueOffset, kListValueEnd, chazhaosx, form)
                ? AnswerSource::List
                : AnswerSource::ListNameOnly;
    } else if (const qsizetype tableStart = positionOf(page, kTableStart, 1); tableStart != 0) {
        // The packaging-and-parameters table, only when the name is not in the list region at all: a
        // name that is there but whose value can't be cut answers with the name itself. The marker's
        // position both decides that the table is tried and starts its region.
        const QStringView tableRegion = cutRegion(page, tableStart, kTableEnd);
        const qsizetype tableNamePos = namePosition(tableRegion, name, form);
        if (tableNamePos != 0) {
            from = cutValue(tableRegion, tableNamePos, name.size(), kTableValueOffset, kTableValueEnd,
                            chazhaosx, form)
                       ? AnswerSource::Table
                       : AnswerSource::TableNameOnly;
        } else {
            chazhaosx = LookupText::tableMiss;
            from = AnswerSource::TableMiss;
        }
    } else {
        chazhaosx = LookupText::noTable;
    }

    // Decoded on every path: a cut value, a name left by a failed cut, or a not-found text (which has
    // no "&", "<" or ">" and comes back unchanged).
    chazhaosx = form == PageForm::Served ? zhuanzi(chazhaosx) : shownText(chazhaosx);
    if (source)
        *source = from;
    return chazhaosx;
}

bool lacksTheAttribute(const QString &pageText, const QString &attribute, PageForm form)
{
    const QStringView page(pageText);
    const bool hasList = !cutRegion(page, positionOf(page, kListStart, 1), kListEnd).isEmpty();
    if (!hasList && positionOf(page, kTableStart, 1) == 0)
        return true;
    if (attribute.isEmpty())
        return false;
    QString answer = attribute;
    AnswerSource source = AnswerSource::NoTable;
    lookUpAttribute(pageText, answer, &source, form);
    return source == AnswerSource::TableMiss || source == AnswerSource::NoTable;
}

QString chasuxing(const PageDownloader &Inet1, const QString &chazhaowz, QString &chazhaosx,
                  std::stop_token stop)
{
    // A failed download is an empty page: no region, no table marker, so the no-table text.
    const QString pageText = Inet1.OpenURL(chazhaowz, std::move(stop)).value_or(QString());
    return lookUpAttribute(pageText, chazhaosx);
}

} // namespace Quillory
