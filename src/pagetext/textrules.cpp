#include "textrules.h"

#include "textviews.h"

#include <algorithm>
#include <array>

namespace Quillory {

namespace {

// Longer needles go to two-way matching: Qt's search switches to a Boyer-Moore with only the
// bad-character rule there, which is quadratic on periodic input.
constexpr qsizetype kShortNeedle = 5;

// Leftmost occurrence of the needle [n, n + l), l >= 2, in the haystack [h, z), or nullptr.
//
// Crochemore-Perrin two-way matching: at most about 2 * |haystack| + l comparisons whatever the input,
// so a hostile attribute name (it is cut from someone else's web page) cannot make a search over a
// multi-megabyte page quadratic, as a Boyer-Moore with only the bad-character rule can. On top of it a
// bad-character skip on the window's last code unit gives the usual sublinear scan over text that does
// not resemble the needle. The skip table is indexed by the low byte of a code unit, so it can only
// under-estimate a shift, never skip a match; it is used only while the algorithm remembers no matched
// prefix, so the two-way bookkeeping stays exactly the textbook one.
const char16_t *twoWaySearch(const char16_t *h, const char16_t *const z, const char16_t *const n,
                             const qsizetype l)
{
    // Per low byte: 1 + the last index of the needle that has it, 0 when none has it.
    std::array<qsizetype, 256> shift{};
    for (qsizetype i = 0; i < l; ++i)
        shift[n[i] & 0xff] = i + 1;

    // Critical factorisation: the later of the maximal suffixes for the two orders of the alphabet.
    const auto maximalSuffix = [n, l](bool reversed, qsizetype &period) {
        qsizetype ip = -1, jp = 0, k = 1, p = 1;
        while (jp + k < l) {
            const char16_t a = n[ip + k];
            const char16_t b = n[jp + k];
            if (a == b) {
                if (k == p) {
                    jp += p;
                    k = 1;
                } else {
                    ++k;
                }
            } else if (reversed ? a < b : a > b) {
                jp += k;
                k = 1;
                p = jp - ip;
            } else {
                ip = jp++;
                k = p = 1;
            }
        }
        period = p;
        return ip;
    };
    qsizetype p1 = 0, p2 = 0;
    const qsizetype ms1 = maximalSuffix(false, p1);
    const qsizetype ms2 = maximalSuffix(true, p2);
    const qsizetype ms = ms2 > ms1 ? ms2 : ms1; // n[0 .. ms] is the left half
    qsizetype p = ms2 > ms1 ? p2 : p1;

    qsizetype memory0 = 0;
    if (std::equal(n, n + ms + 1, n + p)) {
        memory0 = l - p; // periodic needle: after a shift by the period, that much is known to match
    } else {
        p = std::max(ms, l - ms - 1) + 1;
    }

    qsizetype memory = 0;
    for (;;) {
        if (z - h < l)
            return nullptr;
        if (memory == 0) {
            const qsizetype k = l - shift[h[l - 1] & 0xff]; // l when no needle unit has that low byte
            if (k != 0) {
                h += k;
                continue;
            }
        }
        // Right half, left to right.
        qsizetype k = std::max(ms + 1, memory);
        while (k < l && n[k] == h[k])
            ++k;
        if (k < l) {
            h += k - ms;
            memory = 0;
            continue;
        }
        // Left half, right to left.
        k = ms + 1;
        while (k > memory && n[k - 1] == h[k - 1])
            --k;
        if (k <= memory)
            return h;
        h += p;
        memory = memory0;
    }
}

// The first unit of the needle outside ASCII, or -1 when it is all ASCII.
qsizetype firstWideUnit(QStringView needle)
{
    const auto wide = std::find_if(needle.begin(), needle.end(), [](QChar c) { return c.unicode() >= 0x80; });
    return wide == needle.end() ? -1 : qsizetype(wide - needle.begin());
}

// Leftmost occurrence of the needle at or after `from`, found by scanning for its unit at `anchor`
// with Qt's vectorised single-unit search and comparing the whole needle at each hit. A page is
// mostly ASCII markup, so a needle's first non-ASCII unit (a Chinese marker or attribute name) is
// rare in it, and this beats any general search by several times. Returns the 0-based position, or
// -1 when there is none; returns nothing, with `from` moved on, once the hits that were no match have
// cost more than a few comparisons per unit scanned, so that the caller finishes with a search that is
// linear whatever the text.
std::optional<qsizetype> anchoredSearch(QStringView text, QStringView needle, qsizetype anchor,
                                        qsizetype &from)
{
    const QChar unit = needle[anchor];
    const qsizetype lastStart = text.size() - needle.size();
    const qsizetype scanStart = from;
    qsizetype compared = 0;
    while (from <= lastStart) {
        const qsizetype hit = text.indexOf(unit, from + anchor);
        if (hit < 0 || hit - anchor > lastStart)
            return -1;
        const qsizetype start = hit - anchor;
        if (text.sliced(start, needle.size()) == needle)
            return start;
        from = start + 1;
        compared += needle.size();
        if (compared > 4 * (from - scanStart) + 16 * needle.size())
            return std::nullopt;
    }
    return -1;
}

} // namespace

std::optional<qsizetype> findFrom(QStringView text, QStringView needle, qsizetype start)
{
    if (start < 1)
        return std::nullopt;
    if (text.isEmpty())
        return 0;
    if (start > text.size())
        return 0;
    if (needle.isEmpty())
        return start;

    qsizetype from = start - 1;
    if (needle.size() > text.size() - from)
        return 0;
    if (const qsizetype anchor = firstWideUnit(needle); anchor >= 0) {
        if (const std::optional<qsizetype> at = anchoredSearch(text, needle, anchor, from))
            return *at + 1; // -1, not found, gives 0
    }
    if (needle.size() <= kShortNeedle) {
        // Qt searches one unit with a vectorised scan and up to five with a rolling hash that compares
        // at most the needle's length per position: linear, and faster than two-way for these.
        const qsizetype at = text.indexOf(needle, from, Qt::CaseSensitive);
        return at < 0 ? 0 : at + 1;
    }
    const char16_t *const begin = text.utf16();
    const char16_t *const hit =
        twoWaySearch(begin + from, begin + text.size(), needle.utf16(), needle.size());
    return hit ? qsizetype(hit - begin) + 1 : 0;
}

std::optional<QString> midText(QStringView text, qsizetype start, qsizetype length)
{
    const std::optional<QStringView> piece = midView(text, start, length);
    if (!piece)
        return std::nullopt;
    return piece->toString();
}

} // namespace Quillory
