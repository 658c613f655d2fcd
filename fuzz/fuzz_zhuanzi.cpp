// zhuanzi against the decoder written out with split and left: same result, never longer than its
// input, and text without "&#" and "&nbsp;" comes back unchanged. Input: the text.

#include "fuzzinput.h"
#include "pagetext/zhuanzi.h"
#include "referencecuts.h"

using namespace QuilloryFuzz;
using namespace Quillory::Testing;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString input = textFrom(bytesOf(data, size));
    const QString decoded = Quillory::zhuanzi(input);
    FUZZ_CHECK(decoded.size() <= input.size());
    if (!input.contains(u"&#") && !input.contains(u"&nbsp;"))
        FUZZ_CHECK(decoded == input);
    FUZZ_CHECK(decoded == zhuanziLiterally(input));
    return 0;
}
