#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>
#include <utility>

namespace Quillory {

// The inner markup of an element with every element name written as tagName gives it, and where the
// inner markup of each element inside it lies in that text.
struct ElementMarkup
{
    QString markup;
    // For each element inside, in document order: the [begin, end) offsets of its inner markup.
    QList<std::pair<qsizetype, qsizetype>> innerRanges;
};

// The engine serializes markup (innerHTML) with HTML element names in lower case, and can do so far
// faster than any script walking the document. This writes the names back as `tagNames` gives them:
// the tagName of each element inside, in document order. It returns nothing when the markup and the
// names do not tell the same story (a page that built odd markup through script); the caller then
// serializes the document the slow way, which is exact. The markup must come from an HTML document.
// `innerRanges` are found only `withInnerRanges`.
std::optional<ElementMarkup> restoreTagNameCase(QStringView innerMarkup, const QStringList &tagNames,
                                                bool withInnerRanges = true);

// The same for markup whose `elementCount` elements are all HTML elements without a prefix and in which
// no text passes for a tag: each tagName is the element's name in ASCII upper case. Nothing when the
// markup holds another number of elements.
std::optional<ElementMarkup> restoreTagNameCase(QStringView innerMarkup, qsizetype elementCount,
                                                bool withInnerRanges = true);

} // namespace Quillory
