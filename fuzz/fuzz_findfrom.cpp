// findFrom against a plain search: every result is 0 or the first real match at or after the start.
// Input: two bytes for the start, then text 01 needle.

#include "fuzzinput.h"
#include "pagetext/textrules.h"
#include "referencecuts.h"

using namespace QuilloryFuzz;
using namespace Quillory;
using namespace Quillory::Testing;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArrayView bytes = bytesOf(data, size);
    const int rawStart = takeInt16(bytes);
    const auto [textBytes, needleBytes] = splitFields(bytes);
    const QString text = textFrom(textBytes);
    const QString needle = textFrom(needleBytes);
    const qsizetype start = positionFor(rawStart, text.size());

    const std::optional<qsizetype> found = findFrom(text, needle, start);
    if (start < 1) {
        FUZZ_CHECK(!found.has_value());
        return 0;
    }
    FUZZ_CHECK(found.has_value());
    const qsizetype at = *found;
    FUZZ_CHECK(at == plainFind(text, needle, start));
    if (at != 0) {
        FUZZ_CHECK(at >= start && at <= text.size());
        FUZZ_CHECK(needle.isEmpty() || QStringView(text).sliced(at - 1, needle.size()) == needle);
    }
    return 0;
}
