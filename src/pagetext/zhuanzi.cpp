#include "zhuanzi.h"

#include <QStringView>

#include <algorithm>

namespace Quillory {

namespace {

constexpr qsizetype kReferenceCut = 5; // a reference piece holding ";" keeps its first five code units

bool isDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

bool isBlank(char16_t c)
{
    return c == u' ' || c == u'\t';
}

// The position of the next "&#" at or after `from` in s[0, n), or n.
qsizetype nextReference(QStringView text, qsizetype from)
{
    const qsizetype n = text.size();
    const char16_t *const s = text.utf16();
    while (from < n) {
        const qsizetype amp = text.indexOf(QChar(u'&'), from); // vectorised scan
        if (amp < 0)
            return n;
        if (amp + 1 < n && s[amp + 1] == u'#')
            return amp;
        from = amp + 1;
    }
    return n;
}

// Reads s[begin, end) as a decimal whole number: blanks, an optional sign, at least one digit, blanks.
// Returns the UTF-16 code unit it stands for (0..65535 as is, -32768..-1 as 65536 + v), or -1 when the
// piece is not such a number or its value lies outside both ranges.
int referenceUnit(const char16_t *s, qsizetype begin, qsizetype end)
{
    qsizetype i = begin;
    while (i < end && isBlank(s[i]))
        ++i;
    bool negative = false;
    if (i < end && (s[i] == u'+' || s[i] == u'-')) {
        negative = s[i] == u'-';
        ++i;
    }
    const qsizetype digits = i;
    unsigned value = 0; // saturates just above the largest magnitude that matters
    while (i < end && isDigit(s[i])) {
        if (value <= 65536u)
            value = value * 10u + unsigned(s[i] - u'0');
        ++i;
    }
    if (i == digits)
        return -1;
    while (i < end && isBlank(s[i]))
        ++i;
    if (i != end)
        return -1;
    if (!negative)
        return value <= 65535u ? int(value) : -1;
    if (value == 0)
        return 0;
    return value <= 32768u ? int(65536u - value) : -1;
}

// What the result starts with, taken from the leading piece (the text before the first "&#"): a value
// may begin with a non-breaking space written as "&nbsp;", which is dropped.
QStringView leadingStart(QStringView leading)
{
    if (!leading.contains(u"&nbsp;"))
        return leading;
    if (leading == u"&nbsp;")
        return {};
    // The second field of the piece split at ";": "&nbsp;" holds a ";", so there is a first one.
    const qsizetype first = leading.indexOf(u';');
    const qsizetype second = leading.indexOf(u';', first + 1);
    const qsizetype end = second < 0 ? leading.size() : second;
    return leading.sliced(first + 1, end - first - 1);
}

} // namespace

QString zhuanzi(const QString &shuxingchuan)
{
    const QStringView in(shuxingchuan);
    const qsizetype n = in.size();
    if (n == 0)
        return QString(); // no pieces at all

    const qsizetype firstReference = nextReference(in, 0);
    const QStringView start = leadingStart(in.first(firstReference));
    if (firstReference == n) // the leading piece alone
        return start.size() == n ? shuxingchuan : start.toString();

    // Every character decoded from a reference piece takes at least "&#" and one digit of the input,
    // so this bounds the result; write into it directly and trim once at the end.
    QString result;
    result.resize(start.size() + (n - firstReference) / 3);
    char16_t *const out = reinterpret_cast<char16_t *>(result.data());
    qsizetype written = start.size();
    std::copy(start.utf16(), start.utf16() + start.size(), out);

    const char16_t *const s = in.utf16();
    qsizetype pos = firstReference + 2; // the current reference piece begins here
    for (;;) {
        // The usual shape, five digits and ";" with the next "&#" or the end right after it, decodes
        // without the general scan; the result is the same as the general path's.
        if (n - pos >= 6 && s[pos + 5] == u';' && isDigit(s[pos]) && isDigit(s[pos + 1]) &&
            isDigit(s[pos + 2]) && isDigit(s[pos + 3]) && isDigit(s[pos + 4])) {
            const qsizetype next = pos + 6;
            const bool atEnd = next == n;
            if (atEnd || (next + 1 < n && s[next] == u'&' && s[next + 1] == u'#')) {
                const unsigned value = unsigned(s[pos] - u'0') * 10000u +
                                       unsigned(s[pos + 1] - u'0') * 1000u +
                                       unsigned(s[pos + 2] - u'0') * 100u +
                                       unsigned(s[pos + 3] - u'0') * 10u + unsigned(s[pos + 4] - u'0');
                if (value <= 65535u)
                    out[written++] = char16_t(value);
                if (atEnd)
                    break;
                pos = next + 2;
                continue;
            }
        }

        // The piece runs up to the next "&#" or the end; note whether it holds a ";".
        qsizetype end = pos;
        bool hasSemicolon = false;
        while (end < n) {
            const char16_t c = s[end];
            if (c == u'&') {
                if (end + 1 < n && s[end + 1] == u'#')
                    break;
            } else if (c == u';') {
                hasSemicolon = true;
                // Only the first five code units count now. The next "&#" usually follows at once;
                // text that runs on is skipped at vector speed.
                ++end;
                if (end + 1 < n && s[end] == u'&' && s[end + 1] == u'#')
                    break;
                end = nextReference(in, end);
                break;
            }
            ++end;
        }
        const qsizetype cutEnd = hasSemicolon && end - pos > kReferenceCut ? pos + kReferenceCut : end;
        const int unit = referenceUnit(s, pos, cutEnd);
        if (unit >= 0)
            out[written++] = char16_t(unit);
        if (end >= n)
            break;
        pos = end + 2;
    }
    result.truncate(written);
    return result;
}

} // namespace Quillory
