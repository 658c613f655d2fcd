#include "tagnamecase.h"

#include <QSet>

using namespace Qt::StringLiterals;

namespace Quillory {

namespace {

// HTML elements serialized without an end tag, and those whose text is serialized unescaped: in an
// HTML document an HTML element's tagName is its name in upper case, so the tagName tells both.
bool isVoidElement(const QString &tagName)
{
    static const QSet<QString> names{u"AREA"_s,   u"BASE"_s,   u"BASEFONT"_s, u"BGSOUND"_s, u"BR"_s,
                                     u"COL"_s,    u"EMBED"_s,  u"FRAME"_s,    u"HR"_s,      u"IMG"_s,
                                     u"INPUT"_s,  u"KEYGEN"_s, u"LINK"_s,     u"META"_s,    u"PARAM"_s,
                                     u"SOURCE"_s, u"TRACK"_s,  u"WBR"_s};
    return names.contains(tagName);
}

bool isRawTextElement(const QString &tagName)
{
    static const QSet<QString> names{u"STYLE"_s,   u"SCRIPT"_s,   u"XMP"_s,       u"IFRAME"_s,
                                     u"NOEMBED"_s, u"NOFRAMES"_s, u"PLAINTEXT"_s, u"NOSCRIPT"_s};
    return names.contains(tagName);
}

bool endsName(QChar c)
{
    return c.isSpace() || c == u'/' || c == u'>';
}

// An HTML element's tagName: its name with the ASCII letters in upper case, and only those.
QString asciiUpper(QStringView name)
{
    QString upper = name.toString();
    for (QChar &c : upper) {
        if (c >= u'a' && c <= u'z')
            c = QChar(c.unicode() - (u'a' - u'A'));
    }
    return upper;
}

class Restorer final
{
public:
    // `names`: the tagNames of the elements, in document order; none: every element is an HTML element
    // and there are `count` of them.
    Restorer(QStringView in, const QStringList *names, qsizetype count)
        : m_in(in), m_given(names), m_count(names ? names->size() : count)
    {
        m_out.markup.reserve(in.size());
        m_out.innerRanges.resize(m_count);
        if (!m_given)
            m_derived.reserve(m_count);
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
        if (m_next != m_count || !m_open.isEmpty())
            return std::nullopt;
        return std::move(m_out);
    }

private:
    void copyUpTo(qsizetype end)
    {
        m_out.markup += m_in.sliced(m_pos, end - m_pos);
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

    const QString &tagNameOf(qsizetype element) const
    {
        return m_given ? (*m_given)[element] : m_derived[element];
    }

    bool startTag()
    {
        const QStringView name = nameAt(m_pos + 1);
        if (name.isEmpty() || m_next >= m_count)
            return false;
        const qsizetype element = m_next++;
        if (m_given) {
            if (name.compare((*m_given)[element], Qt::CaseInsensitive) != 0)
                return false;
        } else {
            m_derived.append(asciiUpper(name));
        }
        const QString &tagName = tagNameOf(element);
        m_out.markup += u'<' + tagName;
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
        m_out.innerRanges[element] = {m_out.markup.size(), m_out.markup.size()};
        if (isVoidElement(tagName))
            return true;
        m_open.append(element);
        if (!isRawTextElement(tagName))
            return true;
        const QString closing = u"</"_s + tagName;
        const qsizetype rawEnd = m_in.indexOf(closing, m_pos, Qt::CaseInsensitive);
        if (rawEnd < 0)
            return false;
        copyUpTo(rawEnd);
        return true;
    }

    bool endTag()
    {
        const QStringView name = nameAt(m_pos + 2);
        if (m_open.isEmpty())
            return false;
        const qsizetype element = m_open.takeLast();
        const QString &tagName = tagNameOf(element);
        if (name.compare(tagName, Qt::CaseInsensitive) != 0 || m_pos + 2 + name.size() >= m_in.size() ||
            m_in[m_pos + 2 + name.size()] != u'>')
            return false;
        m_out.innerRanges[element].second = m_out.markup.size();
        m_out.markup += u"</"_s + tagName + u'>';
        m_pos += 3 + name.size();
        return true;
    }

    QStringView m_in;
    const QStringList *m_given;
    const qsizetype m_count;
    QStringList m_derived; // the names found so far, when none are given
    qsizetype m_pos = 0;
    qsizetype m_next = 0;    // the next element name to be met
    QList<qsizetype> m_open; // elements whose end tag is still to come
    ElementMarkup m_out;
};

} // namespace

std::optional<ElementMarkup> restoreTagNameCase(QStringView innerMarkup, const QStringList &tagNames)
{
    return Restorer(innerMarkup, &tagNames, 0).run();
}

std::optional<ElementMarkup> restoreTagNameCase(QStringView innerMarkup, qsizetype elementCount)
{
    if (elementCount < 0 || elementCount > innerMarkup.size() / 3) // "<a>" at the least for each
        return std::nullopt;
    return Restorer(innerMarkup, nullptr, elementCount).run();
}

} // namespace Quillory
