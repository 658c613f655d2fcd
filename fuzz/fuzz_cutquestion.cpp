// cutQuestion on a document text against the cut written out with copying cuts: same result; the
// fixed answer exactly when the question marker is missing; otherwise a piece of the document.
// Input: the document text.

#include "fuzzinput.h"
#include "referencelookup.h"

using namespace QuilloryFuzz;
using namespace Quillory;
using namespace Quillory::Testing;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString document = textFrom(bytesOf(data, size));
    const QuestionCut cut = Quillory::cutQuestion(document);
    FUZZ_CHECK(cut.needsLookup == document.contains(TrialSite::questionMarker));
    if (!cut.needsLookup) {
        FUZZ_CHECK(cut.answerText == TrialSite::reportAnswer);
    } else {
        FUZZ_CHECK(cut.answerText.size() <= document.size());
        FUZZ_CHECK(document.contains(cut.answerText));
    }
    const QuestionCut literal = cutQuestionLiterally(document);
    FUZZ_CHECK(cut.needsLookup == literal.needsLookup && cut.answerText == literal.answerText);
    return 0;
}
