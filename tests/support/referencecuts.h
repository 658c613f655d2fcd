#pragma once

// The text rules written the slow, literal way, for tests and fuzzers to check the fast ones against:
// findFrom as a plain search, and zhuanzi with split and left. Header-only, Qt Core only.

#include <QString>
#include <QStringList>
#include <QStringView>

namespace Quillory::Testing {

// findFrom's rule, one position after the other: the position (from 1) of the first match that begins
// at or after `start` (from 1 too), else 0. An empty needle is found at `start` itself; nothing is
// found in an empty text or from a start past the text's end.
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
    using namespace Qt::StringLiterals;
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

} // namespace Quillory::Testing
