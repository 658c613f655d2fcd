#pragma once

#include <QStringView>

#include <optional>

// Zero-copy twin of midText (textrules.h) for the cuts that only narrow a large text (a product page,
// the document text) before the final value is taken. Same rules, same order; the result views `text`
// and is valid only as long as the text it was cut from.
namespace Quillory {

// The piece of text that begins at start and is at most length code units long.
// start < 1 fails; length < 0 fails; length 0 yields ""; a length past the end yields the rest;
// a start past the end yields "".
inline std::optional<QStringView> midView(QStringView text, qsizetype start, qsizetype length)
{
    if (start < 1 || length < 0)
        return std::nullopt;
    if (length == 0 || start > text.size())
        return QStringView();
    const qsizetype from = start - 1;
    const qsizetype rest = text.size() - from; // >= 1; no start + length, which could overflow
    return text.sliced(from, length < rest ? length : rest);
}

} // namespace Quillory
