#pragma once

#include <QString>
#include <QStringView>

#include <optional>

// The two text primitives every cut in the program is built from. Positions are 1-based and count
// UTF-16 code units; 0 means "not found". An empty optional means the call itself failed (an argument
// out of range), so the caller can keep the value it had before the step.
namespace Quillory {

// Position of the first occurrence of needle at or after start, compared exactly, or 0.
// Rules, in this order: start < 1 fails; an empty text yields 0; a start beyond the end yields 0;
// an empty needle yields start.
std::optional<qsizetype> findFrom(QStringView text, QStringView needle, qsizetype start);

// findFrom from a start of 1 or more, which cannot fail: the position, or 0 when not found.
inline qsizetype positionOf(QStringView text, QStringView needle, qsizetype start = 1)
{
    return findFrom(text, needle, start).value_or(0);
}

// The piece of text that begins at start and is at most length code units long.
// start < 1 fails; length < 0 fails; length 0 yields ""; a length past the end yields the rest;
// a start past the end yields "".
std::optional<QString> midText(QStringView text, qsizetype start, qsizetype length);

} // namespace Quillory
