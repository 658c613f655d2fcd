#include "pagescripts.h"

using namespace Qt::StringLiterals;

namespace Quillory::PageScripts {

namespace {

// Kept in the page's script world of our own, so a page can neither read nor forge it.
constexpr auto documentTokenKey = "__quilloryDocumentToken"_L1;

// Serializes inner markup like innerHTML does, but writes element names as tagName gives them, so an
// em element of an HTML page reads "<EM>...</EM>". Iterative, so a deeply nested page cannot exhaust
// the script stack. For every element at once, each subtree is serialized once and shared.
constexpr auto serializerSource = R"JS(
const VOID_ELEMENTS = new Set(['area', 'base', 'basefont', 'bgsound', 'br', 'col', 'embed', 'frame', 'hr',
    'img', 'input', 'keygen', 'link', 'meta', 'param', 'source', 'track', 'wbr']);
const RAW_TEXT_ELEMENTS = new Set(['style', 'script', 'xmp', 'iframe', 'noembed', 'noframes', 'plaintext',
    'noscript']);
const escapeText = (s) => s.replace(/[&<>\u00a0]/g,
    (c) => c === '&' ? '&amp;' : c === '<' ? '&lt;' : c === '>' ? '&gt;' : '&nbsp;');
const escapeAttribute = (s) => s.replace(/[&"\u00a0]/g,
    (c) => c === '&' ? '&amp;' : c === '"' ? '&quot;' : '&nbsp;');
const isHtmlElement = (e) => e.namespaceURI === 'http://www.w3.org/1999/xhtml';
const childrenOf = (e) => (isHtmlElement(e) && e.localName === 'template') ? e.content.childNodes : e.childNodes;
const startTag = (e) => {
    let tag = '<' + e.tagName;
    for (const a of e.attributes) tag += ' ' + a.name + '="' + escapeAttribute(a.value) + '"';
    return tag + '>';
};
const leafMarkup = (node, parent) => {
    switch (node.nodeType) {
    case Node.TEXT_NODE:
        return (parent && isHtmlElement(parent) && RAW_TEXT_ELEMENTS.has(parent.localName))
            ? node.data : escapeText(node.data);
    case Node.COMMENT_NODE: return '<!--' + node.data + '-->';
    case Node.PROCESSING_INSTRUCTION_NODE: return '<?' + node.target + ' ' + node.data + '>';
    case Node.DOCUMENT_TYPE_NODE: return '<!DOCTYPE ' + node.name + '>';
    default: return '';
    }
};
// Inner markup of `root`; `memo` (a Map) keeps the inner markup of every element on the way.
const innerMarkup = (root, memo) => {
    const stack = [{ node: root, children: childrenOf(root), next: 0, parts: [] }];
    for (;;) {
        const top = stack[stack.length - 1];
        if (top.next < top.children.length) {
            const child = top.children[top.next++];
            if (child.nodeType === Node.ELEMENT_NODE)
                stack.push({ node: child, children: childrenOf(child), next: 0, parts: [] });
            else
                top.parts.push(leafMarkup(child, top.node.nodeType === Node.ELEMENT_NODE ? top.node : null));
            continue;
        }
        stack.pop();
        const inner = top.parts.join('');
        if (memo) memo.set(top.node, inner);
        if (!stack.length) return inner;
        const e = top.node;
        const isVoid = isHtmlElement(e) && VOID_ELEMENTS.has(e.localName);
        stack[stack.length - 1].parts.push(isVoid ? startTag(e) : startTag(e) + inner + '</' + e.tagName + '>');
    }
};
)JS"_L1;

constexpr auto readPageSource = R"JS(
const readPart = (e, part, memo) => {
    try {
        if (part === 'html') return memo ? memo.get(e) : innerMarkup(e, null);
        const text = e.innerText;
        return typeof text === 'string' ? text : null;
    } catch (error) {
        return null;
    }
};
const readElements = (part, rootOnly) => {
    const root = document.documentElement;
    if (!part || !root) return [];
    if (rootOnly) return [readPart(root, part, null)];
    const memo = part === 'html' ? new Map() : null;
    if (memo) innerMarkup(root, memo);
    return Array.from(document.getElementsByTagName('*'), (e) => readPart(e, part, memo) ?? null);
};
const readLinks = () => Array.from(document.links, (a) => {
    let text = null, href = null;
    try { text = a.innerText; } catch (error) {}
    try { href = typeof a.href === 'string' ? a.href : a.href.baseVal; } catch (error) {}
    return [typeof text === 'string' ? text : null, typeof href === 'string' ? href : null];
});
)JS"_L1;

QString escapeUnit(char16_t unit)
{
    return u"\\u"_s + QString::number(unit, 16).rightJustified(4, u'0');
}

} // namespace

QString stringLiteral(const QString &text)
{
    QString literal;
    literal.reserve(text.size() + 2);
    literal += u'"';
    for (const QChar c : text) {
        const char16_t unit = c.unicode();
        const bool plain = unit >= 0x20 && unit < 0x7f && unit != u'"' && unit != u'\'' && unit != u'\\' &&
                           unit != u'<' && unit != u'>' && unit != u'&';
        if (plain)
            literal += c;
        else
            literal += escapeUnit(unit);
    }
    literal += u'"';
    return literal;
}

QString readPage(const QString &part, bool rootOnly, bool withLinks, const QString &freshToken)
{
    return u"(function (part, rootOnly, withLinks, freshToken) {\n'use strict';\n"_s + serializerSource +
           readPageSource + u"if (!window."_s + documentTokenKey + u") window."_s + documentTokenKey +
           u" = freshToken;\n"
           u"return { hasDocument: !!document.documentElement, parts: readElements(part, rootOnly),\n"
           u"         links: withLinks ? readLinks() : [], token: window."_s +
           documentTokenKey + u" };\n})("_s + stringLiteral(part) + u", "_s +
           (rootOnly ? u"true"_s : u"false"_s) + u", "_s + (withLinks ? u"true"_s : u"false"_s) + u", "_s +
           stringLiteral(freshToken) + u")"_s;
}

QString writeField(const QString &documentToken, const QString &fieldName, const QString &value)
{
    return u"(function (token, name, value) {\n'use strict';\n"
           u"if (window."_s +
           documentTokenKey +
           u" !== token) return false;\n"
           u"const field = document.getElementsByName(name)[0];\n"
           u"if (!field) return false;\n"
           u"field.value = value;\n"
           u"field.dispatchEvent(new Event('input', { bubbles: true }));\n"
           u"field.dispatchEvent(new Event('change', { bubbles: true }));\n"
           u"return true;\n})("_s +
           stringLiteral(documentToken) + u", "_s + stringLiteral(fieldName) + u", "_s +
           stringLiteral(value) + u")"_s;
}

QString focusedLinkTarget()
{
    return u"(function () {\n'use strict';\n"
           u"const e = document.activeElement;\n"
           u"if (!e || !('href' in e)) return null;\n"
           u"const href = typeof e.href === 'string' ? e.href : (e.href && e.href.baseVal);\n"
           u"return typeof href === 'string' && href !== '' ? href : null;\n})()"_s;
}

} // namespace Quillory::PageScripts
