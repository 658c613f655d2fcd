// lookUpAttribute on a page text against the lookup written out with copying cuts: same answer, held
// in the argument too, and never longer than the page or a not-found text. And the lookup on the page as
// the browser shows it against the same rules taken one page unit at a time.
// Input: attribute name 01 page text.

#include "fuzzinput.h"
#include "pagetext/pagedownloader.h"
#include "referencelookup.h"

using namespace QuilloryFuzz;
using namespace Quillory;
using namespace Quillory::Testing;

// chasuxing shares the lookup's object file and downloads through the page downloader; the fuzzer
// never calls it, so the downloader (and the network) stays out of this program.
std::optional<QString> Quillory::PageDownloader::OpenURL(const QString &, std::stop_token) const
{
    return std::nullopt;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto [nameBytes, pageBytes] = splitFields(bytesOf(data, size));
    const QString name = textFrom(nameBytes);
    const QString page = textFrom(pageBytes);

    QString chazhaosx = name;
    const QString answer = Quillory::lookUpAttribute(page, chazhaosx);
    FUZZ_CHECK(chazhaosx == answer);
    FUZZ_CHECK(answer.size() <=
               std::max({page.size(), LookupText::noTable.size(), LookupText::tableMiss.size()}));
    FUZZ_CHECK(answer == lookUpLiterally(page, name));

    // The same input read as a page that the browser shows (the page's "<" and ">" as its tags), written
    // as the hidden page writes it, and the name as a question gives it: the lookup in the rendered form
    // answers as the rules do one page unit at a time.
    const ShownPage shown = shownPageFrom(page);
    ShownPage nameText;
    for (const QChar c : name)
        nameText.append({c.unicode(), ShownUnit::Text});
    QString rendered = writtenForm(nameText);
    Quillory::lookUpAttribute(writtenForm(shown), rendered, nullptr, PageForm::Rendered);
    FUZZ_CHECK(rendered == lookUpShownLiterally(shown, name));
    return 0;
}
