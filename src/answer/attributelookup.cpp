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

// The value after the name found at `namePos`: it begins `offset` characters after the name's end and
// runs up to the first `valueEnd` at or after that. When no closing tag follows, the cut fails and
// `answer` keeps what it held (the attribute name), which is what the user then sees. True when cut.
bool cutValue(QStringView region, qsizetype namePos, qsizetype nameLength, qsizetype offset,
              QStringView valueEnd, QString &answer)
{
    const qsizetype valueStart = namePos + nameLength + offset;
    const qsizetype valueStop = positionOf(region, valueEnd, valueStart);
    const std::optional<QStringView> value = midView(region, valueStart, valueStop - valueStart);
    if (value)
        answer = value->toString(); // the only copy the lookup makes
    return value.has_value();
}

} // namespace

QString lookUpAttribute(const QString &pageText, QString &chazhaosx, AnswerSource *source)
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
    const qsizetype listNamePos = positionOf(listRegion, name, 1);
    if (listNamePos != 0) {
        from = cutValue(listRegion, listNamePos, name.size(), kListValueOffset, kListValueEnd, chazhaosx)
                   ? AnswerSource::List
                   : AnswerSource::ListNameOnly;
    } else if (const qsizetype tableStart = positionOf(page, kTableStart, 1); tableStart != 0) {
        // The packaging-and-parameters table, only when the name is not in the list region at all: a
        // name that is there but whose value can't be cut answers with the name itself. The marker's
        // position both decides that the table is tried and starts its region.
        const QStringView tableRegion = cutRegion(page, tableStart, kTableEnd);
        const qsizetype tableNamePos = positionOf(tableRegion, name, 1);
        if (tableNamePos != 0) {
            from =
                cutValue(tableRegion, tableNamePos, name.size(), kTableValueOffset, kTableValueEnd, chazhaosx)
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
    // no "&" and comes back unchanged).
    chazhaosx = zhuanzi(chazhaosx);
    if (source)
        *source = from;
    return chazhaosx;
}

bool lacksTheAttribute(const QString &pageText, const QString &attribute)
{
    const QStringView page(pageText);
    const bool hasList = !cutRegion(page, positionOf(page, kListStart, 1), kListEnd).isEmpty();
    if (!hasList && positionOf(page, kTableStart, 1) == 0)
        return true;
    if (attribute.isEmpty())
        return false;
    QString answer = attribute;
    AnswerSource source = AnswerSource::NoTable;
    lookUpAttribute(pageText, answer, &source);
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
