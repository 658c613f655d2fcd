#include "tagnamecase.h"

#include <algorithm>
#include <span>
#include <vector>

using namespace Qt::StringLiterals;

namespace Quillory {

namespace {

// HTML elements serialized without an end tag, and those whose text is serialized unescaped. An HTML
// element's tagName is its name in upper case, so the tagName tells both.
constexpr QStringView kVoidElements[] = {u"AREA",  u"BASE",  u"BASEFONT", u"BGSOUND", u"BR",    u"COL",
                                         u"EMBED", u"FRAME", u"HR",       u"IMG",     u"INPUT", u"KEYGEN",
                                         u"LINK",  u"META",  u"PARAM",    u"SOURCE",  u"TRACK", u"WBR"};
constexpr QStringView kRawTextElements[] = {u"STYLE",   u"SCRIPT",   u"XMP",       u"IFRAME",
                                            u"NOEMBED", u"NOFRAMES", u"PLAINTEXT", u"NOSCRIPT"};

bool endsName(QChar c)
{
    return c == u'>' || c == u'/' || c == u' ' || c.isSpace();
}

char16_t asciiUpper(char16_t c)
{
    return c >= u'a' && c <= u'z' ? char16_t(c - (u'a' - u'A')) : c;
}

bool equalsIgnoringAsciiCase(QStringView a, QStringView b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (asciiUpper(a[i].unicode()) != asciiUpper(b[i].unicode()))
            return false;
    }
    return true;
}

// Walks the engine's markup once, copying it and writing each element name as its tagName. With
// `names`, the tagNames are given (and each must be the markup's name but for case); without, every
// element is an HTML element and its tagName is the markup's name in ASCII upper case.
class Restorer final
{
public:
    Restorer(QStringView in, const QStringList *names, qsizetype count, bool withInnerRanges)
        : m_in(in), m_given(names), m_count(names ? names->size() : count), m_withInnerRanges(withInnerRanges)
    {
        m_out.markup.reserve(in.size());
        if (m_withInnerRanges)
            m_out.innerRanges.resize(m_count);
    }

    std::optional<ElementMarkup> run()
    {
        while (m_pos < m_in.size()) {
            const qsizetype tag = m_in.indexOf(u'<', m_pos);
            copyUpTo(tag < 0 ? m_in.size() : tag);
            if (tag < 0)
                break;
            if (!markup())
                return std::nullopt;
        }
        if (m_next != m_count || !m_open.empty())
            return std::nullopt;
        return std::move(m_out);
    }

private:
    struct OpenElement
    {
        qsizetype element;
        QStringView name; // as the markup writes it
    };

    void copyUpTo(qsizetype end)
    {
        m_out.markup.append(m_in.sliced(m_pos, end - m_pos));
        m_pos = end;
    }

    // Copies everything up to and including `terminator`; false when it never comes.
    bool copyThrough(QStringView terminator)
    {
        const qsizetype at = m_in.indexOf(terminator, m_pos);
        if (at < 0)
            return false;
        copyUpTo(at + terminator.size());
        return true;
    }

    bool markup()
    {
        const QStringView rest = m_in.sliced(m_pos);
        if (rest.startsWith(u"<!--"))
            return copyThrough(u"-->");
        if (rest.startsWith(u"<!") || rest.startsWith(u"<?"))
            return copyThrough(u">");
        if (rest.startsWith(u"</"))
            return endTag();
        return startTag();
    }

    QStringView nameAt(qsizetype from) const
    {
        qsizetype end = from;
        while (end < m_in.size() && !endsName(m_in[end]))
            ++end;
        return m_in.sliced(from, end - from);
    }

    // Appends the tagName of `element`, whose name the markup writes as `name`.
    void appendTagName(qsizetype element, QStringView name)
    {
        if (m_given) {
            m_out.markup.append((*m_given)[element]);
            return;
        }
        const qsizetype at = m_out.markup.size();
        m_out.markup.append(name);
        char16_t *written = reinterpret_cast<char16_t *>(m_out.markup.data()) + at;
        for (qsizetype i = 0; i < name.size(); ++i)
            written[i] = asciiUpper(written[i]);
    }

    // Void and raw-text elements, told apart by the tagName (upper case for an HTML element); without
    // given names every element is an HTML one and its name in the markup tells it, in any case.
    bool isOneOfElements(qsizetype element, QStringView name, std::span<const QStringView> kinds) const
    {
        if (m_given)
            return std::find(kinds.begin(), kinds.end(), QStringView((*m_given)[element])) != kinds.end();
        return std::any_of(kinds.begin(), kinds.end(),
                           [name](QStringView kind) { return equalsIgnoringAsciiCase(name, kind); });
    }

    bool startTag()
    {
        const QStringView name = nameAt(m_pos + 1);
        if (name.isEmpty() || m_next >= m_count)
            return false;
        const qsizetype element = m_next++;
        if (m_given && name.compare((*m_given)[element], Qt::CaseInsensitive) != 0)
            return false;
        m_out.markup.append(u'<');
        appendTagName(element, name);
        m_pos += 1 + name.size();
        // Attribute values are always double-quoted, with every '"' inside written as "&quot;".
        qsizetype end = m_pos;
        for (bool quoted = false; end < m_in.size(); ++end) {
            const QChar c = m_in[end];
            if (c == u'"')
                quoted = !quoted;
            else if (c == u'>' && !quoted)
                break;
        }
        if (end == m_in.size())
            return false;
        copyUpTo(end + 1);
        if (m_withInnerRanges)
            m_out.innerRanges[element] = {m_out.markup.size(), m_out.markup.size()};
        if (isOneOfElements(element, name, kVoidElements))
            return true; // void: no content, no end tag
        m_open.push_back({element, name});
        if (!isOneOfElements(element, name, kRawTextElements))
            return true;
        // Raw text runs to the element's own end tag.
        const QString closing = u"</"_s + name;
        const qsizetype rawEnd = m_in.indexOf(closing, m_pos, Qt::CaseInsensitive);
        if (rawEnd < 0)
            return false;
        copyUpTo(rawEnd);
        return true;
    }

    bool endTag()
    {
        const QStringView name = nameAt(m_pos + 2);
        if (m_open.empty())
            return false;
        const OpenElement open = m_open.back();
        m_open.pop_back();
        const bool sameName = m_given ? name.compare((*m_given)[open.element], Qt::CaseInsensitive) == 0
                                      : equalsIgnoringAsciiCase(name, open.name);
        if (!sameName || m_pos + 2 + name.size() >= m_in.size() || m_in[m_pos + 2 + name.size()] != u'>')
            return false;
        if (m_withInnerRanges)
            m_out.innerRanges[open.element].second = m_out.markup.size();
        m_out.markup.append(u"</");
        appendTagName(open.element, name);
        m_out.markup.append(u'>');
        m_pos += 3 + name.size();
        return true;
    }

    QStringView m_in;
    const QStringList *m_given;
    const qsizetype m_count;
    const bool m_withInnerRanges;
    qsizetype m_pos = 0;
    qsizetype m_next = 0;            // the next element to be met
    std::vector<OpenElement> m_open; // elements whose end tag is still to come
    ElementMarkup m_out;
};

} // namespace

std::optional<ElementMarkup> restoreTagNameCase(QStringView innerMarkup, const QStringList &tagNames,
                                                bool withInnerRanges)
{
    return Restorer(innerMarkup, &tagNames, 0, withInnerRanges).run();
}

std::optional<ElementMarkup> restoreTagNameCase(QStringView innerMarkup, qsizetype elementCount,
                                                bool withInnerRanges)
{
    if (elementCount < 0 || elementCount > innerMarkup.size() / 3) // "<a>" at the least for each
        return std::nullopt;
    return Restorer(innerMarkup, nullptr, elementCount, withInnerRanges).run();
}

} // namespace Quillory
