// From the markup the page reads to the question's cut. The input builds a document tree in the shapes
// that sloppy pages and hostile scripts make (documentmodel.h). Then:
// - the document text put together from the root's markup and where each element's part lies (a
//   stretch of the root's markup, or a part of its own for an element the root's markup lacks) is the
//   document text written element by element;
// - where no part lies outside the root's, the question cut from the root's part alone is the one cut
//   from the whole document text;
// - a change of the root's markup outside the stretches that decided the cut, that puts in a text
//   holding none of the markers' characters, leaves the cut as it was: what a kept read relies on.

#include "answer/passrules.h"
#include "documentmodel.h"
#include "fuzzinput.h"
#include "pagetext/documenttext.h"

using namespace QuilloryFuzz;

namespace {

Quillory::PageSnapshot snapshotOf(const DocumentModel &model)
{
    QList<std::pair<qsizetype, qsizetype>> ranges;
    Quillory::DocumentMarkup markup;
    markup.rootMarkup = model.rootMarkup(ranges);
    markup.ranges.append({0, qint32(markup.rootMarkup.size())});
    const QList<int> order = model.elementOrder();
    for (qsizetype i = 0; i < ranges.size(); ++i) {
        if (ranges[i].first < 0) {
            markup.ranges.append({qint32(-1 - markup.hiddenParts.size()), 0});
            markup.hiddenParts.append(model.inner(order[i], true));
        } else {
            markup.ranges.append({qint32(ranges[i].first), qint32(ranges[i].second)});
        }
    }
    Quillory::PageSnapshot page;
    page.hasDocument = true;
    page.reply = markup;
    return page;
}

// Replaces [begin, end) of `text` with `with`.
QString changed(const QString &text, qsizetype begin, qsizetype end, const QString &with)
{
    return text.first(begin) + with + text.sliced(end);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto [treeBytes, changeBytes] = splitFields(bytesOf(data, size));
    const DocumentModel model(treeBytes.toByteArray());

    const Quillory::PageSnapshot page = snapshotOf(model);
    const QString whole = model.documentText();
    FUZZ_CHECK(Quillory::documentText(page) == whole);

    const QString root = u'\r' + page.markup()->rootMarkup;
    const Quillory::QuestionCut cut = Quillory::cutQuestion(root);
    if (!model.hasHiddenElements()) {
        const Quillory::QuestionCut wholeCut = Quillory::cutQuestion(whole);
        FUZZ_CHECK(wholeCut.needsLookup == cut.needsLookup && wholeCut.answerText == cut.answerText);
    }

    // A harmless change: a stretch that touches no deciding one, replaced by a text that is not empty
    // and holds no marker character.
    QByteArrayView rest = changeBytes;
    const qsizetype begin = positionFor(std::abs(takeInt16(rest)), root.size() - 1);
    const qsizetype end = std::min(root.size(), begin + qsizetype(std::abs(takeInt16(rest)) % 16));
    QString with = QuilloryFuzz::textFrom(rest);
    const QString markers = Quillory::questionMarkerCharacters();
    for (const QChar c : markers)
        with.remove(c);
    if (begin < 1 || begin > root.size() || with.isEmpty())
        return 0; // the separator before the root's part is no part of its markup
    for (const auto &[from, to] : cut.decidingStretches) {
        if (begin <= to && from <= end)
            return 0;
    }
    const Quillory::QuestionCut after = Quillory::cutQuestion(changed(root, begin, end, with));
    FUZZ_CHECK(after.needsLookup == cut.needsLookup && after.answerText == cut.answerText);
    return 0;
}
