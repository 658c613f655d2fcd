#pragma once

// A document tree built from fuzzer bytes, in the shapes that real, sloppy pages and hostile scripts
// make, and written out the way the browser engine serializes it:
// - HTML elements whose names differ in case from the ones the engine treats specially ("XMP", "BR"
//   made by script are neither raw-text nor void elements to it), prefixed names, SVG elements;
// - attribute names holding quotes (the parser accepts `<span class="x"" title="...">`), attributes
//   in the xlink, xml and xmlns namespaces under prefixes of the script's own choosing;
// - comments made by script whose text begins with ">" or "->" or holds "-->"; processing
//   instructions; raw text holding its own end tag; lone surrogates; the question's markers everywhere.
//
// The rules of the engine's serializer written here are the ones the engine was seen to follow: an
// element is written under its qualified name; an HTML element's tagName is that name in ASCII upper
// case; void and raw-text elements are HTML elements of those exact local names (raw text: without a
// prefix); attribute values escape & " and U+00A0, text & < > and U+00A0; a processing instruction
// is written `<?target data?>`.

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <utility>
#include <vector>

namespace QuilloryFuzz {

using namespace Qt::StringLiterals;

struct ModelAttribute
{
    QString namespaceUri; // empty: none
    QString prefix;       // empty: none
    QString localName;
    QString value;
};

struct ModelNode
{
    enum class Kind
    {
        Element,
        Text,
        Comment,
        ProcessingInstruction,
    };
    Kind kind = Kind::Element;
    QString namespaceUri; // elements
    QString prefix;       // elements: empty for none
    QString localName;    // elements; the target of a processing instruction
    QString data;         // text, comments, processing instructions
    QList<ModelAttribute> attributes;
    std::vector<int> children; // node indexes
};

inline const QString kXhtml = u"http://www.w3.org/1999/xhtml"_s;
inline const QString kSvg = u"http://www.w3.org/2000/svg"_s;
inline const QString kXlink = u"http://www.w3.org/1999/xlink"_s;
inline const QString kXml = u"http://www.w3.org/XML/1998/namespace"_s;
inline const QString kXmlns = u"http://www.w3.org/2000/xmlns/"_s;

class DocumentModel final
{
public:
    explicit DocumentModel(const QByteArray &bytes)
    {
        m_nodes.push_back(element(kXhtml, {}, u"html"_s));
        std::vector<int> open{0};
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            const uint8_t b = uint8_t(bytes[i]);
            const uint8_t next = i + 1 < bytes.size() ? uint8_t(bytes[i + 1]) : 0;
            const int parent = open.back();
            switch (b % 7) {
            case 0: { // an element, opened unless void to the engine
                if (m_nodes.size() >= 300)
                    break;
                ModelNode e = elementFor(b / 7);
                m_nodes.push_back(e);
                const int index = int(m_nodes.size() - 1);
                m_nodes[size_t(parent)].children.push_back(index);
                if (!isVoid(m_nodes[size_t(index)]))
                    open.push_back(index);
                break;
            }
            case 1:
                addLeaf(parent, ModelNode::Kind::Text, textFor(b / 7, next));
                ++i;
                break;
            case 2:
                if (open.size() > 1)
                    open.pop_back();
                break;
            case 3: // an attribute of the open element
                if (parent != 0)
                    m_nodes[size_t(parent)].attributes.append(attributeFor(b / 7, next));
                ++i;
                break;
            case 4:
                addLeaf(parent, ModelNode::Kind::Comment, commentFor(b / 7, next));
                ++i;
                break;
            case 5:
                addLeaf(parent, ModelNode::Kind::ProcessingInstruction, textFor(b / 7, next).remove(u'?'));
                ++i;
                break;
            case 6: // the markers of the question, as plain text
                addLeaf(parent, ModelNode::Kind::Text,
                        QStringList{u"属性描述"_s, u"找答案"_s, u"品牌"_s, u"x"_s}[b / 7 % 4]);
                break;
            }
        }
    }

    const ModelNode &node(int index) const { return m_nodes[size_t(index)]; }
    qsizetype nodeCount() const { return qsizetype(m_nodes.size()); }

    static bool isHtml(const ModelNode &e) { return e.namespaceUri == kXhtml; }

    static bool isVoid(const ModelNode &e)
    {
        static const QStringList names{u"area"_s,   u"base"_s,   u"basefont"_s, u"bgsound"_s, u"br"_s,
                                       u"col"_s,    u"embed"_s,  u"frame"_s,    u"hr"_s,      u"img"_s,
                                       u"input"_s,  u"keygen"_s, u"link"_s,     u"meta"_s,    u"param"_s,
                                       u"source"_s, u"track"_s,  u"wbr"_s};
        return e.kind == ModelNode::Kind::Element && isHtml(e) && names.contains(e.localName);
    }

    static bool isRawText(const ModelNode &e)
    {
        static const QStringList names{u"style"_s,   u"script"_s,   u"xmp"_s,       u"iframe"_s,
                                       u"noembed"_s, u"noframes"_s, u"plaintext"_s, u"noscript"_s};
        return isHtml(e) && e.prefix.isEmpty() && names.contains(e.localName);
    }

    static QString qualifiedName(const ModelNode &e)
    {
        return e.prefix.isEmpty() ? e.localName : e.prefix + u':' + e.localName;
    }

    static QString tagName(const ModelNode &e)
    {
        QString name = qualifiedName(e);
        if (isHtml(e)) {
            for (QChar &c : name) {
                if (c >= u'a' && c <= u'z')
                    c = QChar(c.unicode() - 32);
            }
        }
        return name;
    }

    // The inner markup of node `index`, element names as the engine writes them or as tagName gives
    // them. A void element's inner markup is empty, even when a script has put nodes inside it.
    QString inner(int index, bool tagNames) const
    {
        QString out;
        if (!isVoid(m_nodes[size_t(index)]))
            appendInner(index, tagNames, out, nullptr);
        return out;
    }

    // The root's inner markup with tagNames, and for every element inside it in document order the
    // [begin, end) of its inner markup there, or {-1, -1} for one the root's markup lacks.
    QString rootMarkup(QList<std::pair<qsizetype, qsizetype>> &ranges) const
    {
        QString out;
        appendInner(0, true, out, &ranges);
        return out;
    }

    // The document text: a carriage return before the inner markup of the root and of every element
    // inside it, in document order (elements inside void elements too, whose markup the root's lacks).
    QString documentText() const
    {
        QString text = u'\r' + inner(0, true);
        for (const int e : elementOrder())
            text += u'\r' + inner(e, true);
        return text;
    }

    // Whether some element lies inside a void element: then not every element's part is a piece of
    // the root's.
    bool hasHiddenElements() const
    {
        for (const int e : elementOrder()) {
            if (isVoid(m_nodes[size_t(e)]) && !m_nodes[size_t(e)].children.empty()) {
                for (const int child : m_nodes[size_t(e)].children) {
                    if (m_nodes[size_t(child)].kind == ModelNode::Kind::Element)
                        return true;
                }
            }
        }
        return false;
    }

    // Every element inside the root, in document order.
    QList<int> elementOrder() const
    {
        QList<int> order;
        collect(0, order);
        return order;
    }

private:
    static ModelNode element(const QString &ns, const QString &prefix, const QString &localName)
    {
        ModelNode e;
        e.namespaceUri = ns;
        e.prefix = prefix;
        e.localName = localName;
        return e;
    }

    static ModelNode elementFor(int pick)
    {
        static const QStringList html{u"p"_s,   u"em"_s,       u"div"_s,    u"b"_s,   u"br"_s,
                                      u"img"_s, u"script"_s,   u"style"_s,  u"a"_s,   u"x-é"_s,
                                      u"XMP"_s, u"BR"_s,       u"Script"_s, u"xmp"_s, u"noscript"_s,
                                      u"EM"_s,  u"textarea"_s, u"input"_s};
        switch (pick % 9) {
        case 0:
            return element(kSvg, {}, pick % 2 ? u"foreignObject"_s : u"em"_s);
        case 1:
            return element(kXhtml, u"q"_s, html[pick % html.size()]); // prefixed, made by script
        default:
            return element(kXhtml, {}, html[pick % html.size()]);
        }
    }

    static QString textFor(int pick, uint8_t next)
    {
        static const QStringList texts{u"<EM>"_s,   u"</EM>"_s,  u"<em>"_s, u"</em>"_s, u"a<b"_s,
                                       u"x & y"_s,  u"\u00a0"_s, u"q\"r"_s, u">"_s,     u"</script>"_s,
                                       u"</xmp>"_s, u"-->"_s,    u"<!--"_s, u"?>"_s,    u"品牌"_s};
        QString text = texts[(pick + next) % texts.size()];
        if (next % 5 == 0)
            text += QChar(char16_t(0xd800 + next)); // a lone surrogate
        return text;
    }

    static QString commentFor(int pick, uint8_t next)
    {
        static const QStringList starts{u">"_s, u"->"_s, u""_s, u"-"_s};
        return starts[pick % starts.size()] + textFor(pick, next);
    }

    static ModelAttribute attributeFor(int pick, uint8_t next)
    {
        static const QStringList names{u"title"_s, u"\""_s, u"x\"y"_s, u"class"_s, u"'"_s};
        const QString value = textFor(pick, next);
        switch (pick % 6) {
        case 0:
            return {kXlink, u"foo"_s, u"href"_s, value};
        case 1:
            return {kXml, u"bar"_s, u"lang"_s, value};
        case 2:
            return {kXmlns, u"xmlns"_s, u"q"_s, value};
        default:
            return {{}, {}, names[(pick + next) % names.size()], value};
        }
    }

    void addLeaf(int parent, ModelNode::Kind kind, const QString &data)
    {
        if (m_nodes[size_t(parent)].children.size() > 40)
            return;
        ModelNode leaf;
        leaf.kind = kind;
        leaf.data = data;
        leaf.localName = u"pi"_s;
        m_nodes.push_back(leaf);
        m_nodes[size_t(parent)].children.push_back(int(m_nodes.size() - 1));
    }

    static QString escaped(const QString &text, bool attribute)
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

    static QString attributeName(const ModelAttribute &a)
    {
        if (a.namespaceUri == kXml)
            return u"xml:"_s + a.localName;
        if (a.namespaceUri == kXlink)
            return u"xlink:"_s + a.localName;
        if (a.namespaceUri == kXmlns && a.prefix.isEmpty())
            return a.localName == u"xmlns"_s ? a.localName : u"xmlns:"_s + a.localName;
        return a.prefix.isEmpty() ? a.localName : a.prefix + u':' + a.localName;
    }

    void appendInner(int index, bool tagNames, QString &out,
                     QList<std::pair<qsizetype, qsizetype>> *ranges) const
    {
        const ModelNode &parent = m_nodes[size_t(index)];
        for (const int child : parent.children) {
            const ModelNode &n = m_nodes[size_t(child)];
            switch (n.kind) {
            case ModelNode::Kind::Text:
                out += isRawText(parent) ? n.data : escaped(n.data, false);
                break;
            case ModelNode::Kind::Comment:
                out += u"<!--"_s + n.data + u"-->"_s;
                break;
            case ModelNode::Kind::ProcessingInstruction:
                out += u"<?"_s + n.localName + u' ' + n.data + u"?>"_s;
                break;
            case ModelNode::Kind::Element: {
                const QString name = tagNames ? tagName(n) : qualifiedName(n);
                out += u'<' + name;
                for (const ModelAttribute &a : n.attributes)
                    out += u' ' + attributeName(a) + u"=\""_s + escaped(a.value, true) + u'"';
                out += u'>';
                const qsizetype slot = ranges ? ranges->size() : 0;
                if (ranges)
                    ranges->append({out.size(), out.size()});
                if (!isVoid(n)) {
                    appendInner(child, tagNames, out, ranges);
                    if (ranges)
                        (*ranges)[slot].second = out.size();
                    out += u"</"_s + name + u'>';
                } else if (ranges) {
                    appendHidden(child, *ranges);
                }
                break;
            }
            }
        }
    }

    void appendHidden(int index, QList<std::pair<qsizetype, qsizetype>> &ranges) const
    {
        for (const int child : m_nodes[size_t(index)].children) {
            if (m_nodes[size_t(child)].kind == ModelNode::Kind::Element) {
                ranges.append({-1, -1});
                appendHidden(child, ranges);
            }
        }
    }

    void collect(int index, QList<int> &order) const
    {
        for (const int child : m_nodes[size_t(index)].children) {
            if (m_nodes[size_t(child)].kind == ModelNode::Kind::Element) {
                order.append(child);
                collect(child, order);
            }
        }
    }

    std::vector<ModelNode> m_nodes;
};

} // namespace QuilloryFuzz
