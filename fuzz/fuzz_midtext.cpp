// midText (and its zero-copy twin midView) against the cut written out: fails exactly for a bad start
// or length, never returns more than asked for, and returns the piece that begins at the start.
// Input: two bytes for the start, two for the length, then the text.

#include "fuzzinput.h"
#include "pagetext/textrules.h"
#include "pagetext/textviews.h"

#include <limits>

using namespace QuilloryFuzz;
using namespace Quillory;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArrayView bytes = bytesOf(data, size);
    const int rawStart = takeInt16(bytes);
    const int rawLength = takeInt16(bytes);
    const QString text = textFrom(bytes);
    const qsizetype start = positionFor(rawStart, text.size());
    const qsizetype length =
        rawLength == 0x7fff ? std::numeric_limits<qsizetype>::max() : positionFor(rawLength, text.size());

    const std::optional<QString> piece = midText(text, start, length);
    const std::optional<QStringView> view = midView(text, start, length);
    FUZZ_CHECK(piece.has_value() == view.has_value());
    if (start < 1 || length < 0) {
        FUZZ_CHECK(!piece.has_value());
        return 0;
    }
    FUZZ_CHECK(piece.has_value());
    FUZZ_CHECK(*piece == *view);
    FUZZ_CHECK(piece->size() <= length);
    if (start > text.size()) {
        FUZZ_CHECK(piece->isEmpty());
    } else {
        const qsizetype rest = text.size() - (start - 1);
        FUZZ_CHECK(piece->size() == std::min(length, rest));
        FUZZ_CHECK(*piece == QStringView(text).sliced(start - 1, piece->size()));
    }
    return 0;
}
