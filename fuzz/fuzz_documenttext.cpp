// The pass's way to the question against the document text itself. The input builds a tree of HTML
// elements (void and raw-text ones among them, attributes with quotes and '>', comments, the markers
// of the question); the tree is written out as the engine serializes it (element names in lower case)
// and as the document text holds it (every element's inner markup, names as tagName gives them). Then:
// - the names put right from the markup alone (the count of elements as the check) give exactly the
//   document text's markup and the inner markup of every element, as the list of names does;
// - the question cut from the root element's part alone is the one cut from the whole document text.

#include "answer/passrules.h"
#include "fuzzinput.h"
#include "pagetext/documenttext.h"
#include "pagetext/tagnamecase.h"

#include <QStringList>

#include <vector>

using namespace QuilloryFuzz;
using namespace Qt::StringLiterals;

namespace {

struct Element
{
    QString name; // as the markup writes it (lower case, or letters beyond ASCII)
    QList<std::pair<QString, QString>> attributes;
    std::vector<std::pair<int, QString>> children; // (element index, or -1 for text / -2 for a comment)
};

const QString kNames[] = {u"p"_s,      u"em"_s,    u"div"_s,      u"b"_s, u"br"_s,  u"img"_s,
                          u"script"_s, u"style"_s, u"textarea"_s, u"a"_s, u"x-é"_s, u"input"_s};
const QString kTexts[] = {u"属性描述"_s, u"找答案"_s, u"品牌"_s, u"<EM>"_s, u"</EM>"_s, u"a<b"_s,
                          u"x & y"_s,    u"\u00a0"_s, u"q\"r"_s, u">"_s,    u"<em>"_s,  u" "_s};

bool isVoid(const QString &name)
{
    return name == u"br"_s || name == u"img"_s || name == u"input"_s;
}

bool isRaw(const QString &name)
{
    return name == u"script"_s || name == u"style"_s;
}

QString upper(const QString &name)
{
    QString result = name;
    for (QChar &c : result) {
        if (c >= u'a' && c <= u'z')
            c = QChar(c.unicode() - 32);
    }
    return result;
}

QString escaped(const QString &text, bool attribute)
{
    QString out;
    for (QChar c : text) {
        if (c == u'&')
            out += u"&amp;"_s;
        else if (c == u'\u00a0')
            out += u"&nbsp;"_s;
        else if (attribute && c == u'"')
            out += u"&quot;"_s;
        else if (!attribute && c == u'<')
            out += u"&lt;"_s;
        else if (!attribute && c == u'>')
            out += u"&gt;"_s;
        else
            out += c;
    }
    return out;
}

class Tree
{
public:
    explicit Tree(QByteArrayView bytes)
    {
        m_elements.push_back({u"html"_s, {}, {}});
        std::vector<int> open{0};
        for (const char byte : bytes) {
            const uint8_t b = uint8_t(byte);
            const int parent = open.back();
            const bool raw = isRaw(m_elements[parent].name);
            switch (b % 5) {
            case 0: // an element
                if (!raw && m_elements.size() < 400) {
                    const QString &name = kNames[(b / 5) % std::size(kNames)];
                    m_elements.push_back({name, {}, {}});
                    const int element = int(m_elements.size() - 1);
                    m_elements[parent].children.push_back({element, {}});
                    if (!isVoid(name))
                        open.push_back(element);
                }
                break;
            case 1: // text; a raw-text element's text never holds its own end tag
                m_elements[parent].children.push_back({-1, kTexts[(b / 5) % std::size(kTexts)]});
                break;
            case 2: // the end of the open element
                if (open.size() > 1)
                    open.pop_back();
                break;
            case 3: // an attribute of the open element
                if (parent != 0 && m_elements[parent].children.empty())
                    m_elements[parent].attributes.append(
                        {u"t"_s + QString::number(b / 5 % 3), kTexts[(b / 15) % std::size(kTexts)]});
                break;
            case 4: // a comment, which never holds "-->"
                if (!raw)
                    m_elements[parent].children.push_back({-2, kTexts[(b / 5) % std::size(kTexts)]});
                break;
            }
        }
    }

    qsizetype count() const { return qsizetype(m_elements.size()) - 1; }

    // The inner markup of element `e`, names in lower case (the engine's) or as tagName gives them.
    QString inner(int e, bool tagNames) const
    {
        QString markup;
        const Element &element = m_elements[size_t(e)];
        for (const auto &[child, text] : element.children) {
            if (child == -1) {
                markup += isRaw(element.name) ? text : escaped(text, false);
            } else if (child == -2) {
                markup += u"<!--"_s + text + u"-->"_s;
            } else {
                const Element &c = m_elements[size_t(child)];
                const QString name = tagNames ? upper(c.name) : c.name;
                markup += u'<' + name;
                for (const auto &[attribute, value] : c.attributes)
                    markup += u' ' + attribute + u"=\""_s + escaped(value, true) + u'"';
                markup += u'>';
                if (!isVoid(c.name))
                    markup += inner(child, tagNames) + u"</"_s + name + u'>';
            }
        }
        return markup;
    }

    // Every element inside the root, in document order.
    QList<int> order() const
    {
        QList<int> elements;
        walk(0, elements);
        return elements;
    }

    QStringList tagNames() const
    {
        QStringList names;
        for (int e : order())
            names.append(upper(m_elements[size_t(e)].name));
        return names;
    }

private:
    void walk(int e, QList<int> &elements) const
    {
        for (const auto &[child, text] : m_elements[size_t(e)].children) {
            if (child >= 0) {
                elements.append(child);
                walk(child, elements);
            }
        }
    }

    std::vector<Element> m_elements;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const Tree tree(bytesOf(data, size));
    const QString engine = tree.inner(0, false);

    // The document text as the page holds it: the root's part and every element's.
    QList<std::optional<QString>> parts{tree.inner(0, true)};
    for (int e : tree.order())
        parts.append(tree.inner(e, true));

    const std::optional<Quillory::ElementMarkup> fromCount =
        Quillory::restoreTagNameCase(engine, tree.count());
    const std::optional<Quillory::ElementMarkup> fromNames =
        Quillory::restoreTagNameCase(engine, tree.tagNames());
    FUZZ_CHECK(fromCount && fromNames);
    FUZZ_CHECK(fromCount->markup == *parts[0] && fromNames->markup == *parts[0]);
    FUZZ_CHECK(fromCount->innerRanges == fromNames->innerRanges);
    for (qsizetype i = 0; i < fromCount->innerRanges.size(); ++i) {
        const auto [begin, end] = fromCount->innerRanges[i];
        FUZZ_CHECK(fromCount->markup.sliced(begin, end - begin) == *parts[i + 1]);
    }
    FUZZ_CHECK(!Quillory::restoreTagNameCase(engine, tree.count() + 1));

    const Quillory::QuestionCut whole = Quillory::cutQuestion(Quillory::joinDocumentParts(parts));
    const Quillory::QuestionCut rootOnly =
        Quillory::cutQuestion(Quillory::joinDocumentParts({fromCount->markup}));
    FUZZ_CHECK(whole.needsLookup == rootOnly.needsLookup && whole.answerText == rootOnly.answerText);
    return 0;
}
