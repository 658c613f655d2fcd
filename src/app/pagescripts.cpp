#include "pagescripts.h"

using namespace Qt::StringLiterals;

namespace Quillory::PageScripts {

namespace {

// Kept in the page's script world of our own, so a page can neither read nor forge it.
constexpr auto documentTokenKey = "__quilloryDocumentToken"_L1;
constexpr auto readerKey = "__quilloryReadPage"_L1;

// Serializes inner markup like innerHTML does, but writes element names as tagName gives them, so an
// em element of an HTML page reads "<EM>...</EM>". One iterative walk over firstChild and nextSibling
// (a deeply nested page cannot exhaust the script stack), strings built by appending; when `memo` (a
// Map) is given, it keeps the inner markup of every element on the way, each subtree built once.
constexpr auto serializerSource = R"JS(
const XHTML = 'http://www.w3.org/1999/xhtml';
const ELEMENT_NODE = 1, TEXT_NODE = 3, PROCESSING_INSTRUCTION_NODE = 7, COMMENT_NODE = 8, DOCUMENT_TYPE_NODE = 10;
const VOID_ELEMENTS = new Set(['area', 'base', 'basefont', 'bgsound', 'br', 'col', 'embed', 'frame', 'hr',
    'img', 'input', 'keygen', 'link', 'meta', 'param', 'source', 'track', 'wbr']);
const RAW_TEXT_ELEMENTS = new Set(['style', 'script', 'xmp', 'iframe', 'noembed', 'noframes', 'plaintext',
    'noscript']);
const TEXT_SPECIALS = /[&<>\u00a0]/;
const TEXT_SPECIALS_ALL = /[&<>\u00a0]/g;
const ATTRIBUTE_SPECIALS = /[&"\u00a0]/;
const ATTRIBUTE_SPECIALS_ALL = /[&"\u00a0]/g;
const ENTITIES = { '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;', '\u00a0': '&nbsp;' };
const entityOf = (c) => ENTITIES[c];
const escapeText = (s) => TEXT_SPECIALS.test(s) ? s.replace(TEXT_SPECIALS_ALL, entityOf) : s;
const escapeAttribute = (s) => ATTRIBUTE_SPECIALS.test(s) ? s.replace(ATTRIBUTE_SPECIALS_ALL, entityOf) : s;
const isVoidElement = (e) => e.namespaceURI === XHTML && VOID_ELEMENTS.has(e.localName);
const firstChildOf = (e) => (e.namespaceURI === XHTML && e.localName === 'template') ? e.content.firstChild
                                                                                     : e.firstChild;
const startTag = (e) => {
    let tag = '<' + e.tagName;
    const attributes = e.attributes;
    for (let i = 0, n = attributes.length; i < n; ++i) {
        const a = attributes[i];
        tag += ' ' + a.name + '="' + escapeAttribute(a.value) + '"';
    }
    return tag + '>';
};
const leafMarkup = (node, parent) => {
    switch (node.nodeType) {
    case TEXT_NODE:
        return (parent.namespaceURI === XHTML && RAW_TEXT_ELEMENTS.has(parent.localName))
            ? node.data : escapeText(node.data);
    case COMMENT_NODE: return '<!--' + node.data + '-->';
    case PROCESSING_INSTRUCTION_NODE: return '<?' + node.target + ' ' + node.data + '>';
    case DOCUMENT_TYPE_NODE: return '<!DOCTYPE ' + node.name + '>';
    default: return '';
    }
};
const innerMarkup = (root, memo) => {
    const enclosing = []; // for each open element: its parent, the sibling after it, the parent's markup so far
    let element = root;
    let child = firstChildOf(root);
    let markup = '';
    for (;;) {
        if (child !== null) {
            if (child.nodeType === ELEMENT_NODE && !isVoidElement(child)) {
                enclosing.push(element, child.nextSibling, markup);
                element = child;
                child = firstChildOf(child);
                markup = '';
                continue;
            }
            markup += child.nodeType === ELEMENT_NODE ? startTag(child) : leafMarkup(child, element);
            child = child.nextSibling;
            continue;
        }
        if (memo) memo.set(element, markup);
        if (enclosing.length === 0) return markup;
        const finished = element;
        const inner = markup;
        markup = enclosing.pop();
        child = enclosing.pop();
        element = enclosing.pop();
        markup += startTag(finished) + inner + '</' + finished.tagName + '>';
    }
};
)JS"_L1;

constexpr auto readPageSource = R"JS(
const readPart = (e, part, memo) => {
    try {
        if (part === 'html') return memo && memo.has(e) ? memo.get(e) : innerMarkup(e, null);
        const text = e.innerText;
        return typeof text === 'string' ? text : null;
    } catch (error) {
        return null;
    }
};
// The engine's own serialization is far faster than any walk in script; it differs from ours only in
// the case of element names, which the reader puts right from the element names given beside it.
// Templates (whose contents no element list holds) and XML documents take the exact walk instead.
const canUseEngineMarkup = (root) => document.contentType === 'text/html' && root.namespaceURI === XHTML &&
    root.getElementsByTagName('template').length === 0;
const readElements = (part, rootOnly, exact) => {
    const root = document.documentElement;
    if (!part || !root) return { parts: [] };
    if (part === 'html' && !exact && canUseEngineMarkup(root))
        return { markup: root.innerHTML, tagNames: Array.from(root.getElementsByTagName('*'), (e) => e.tagName).join(' ') };
    if (rootOnly) return { parts: [readPart(root, part, null)] };
    const memo = part === 'html' ? new Map() : null;
    if (memo) innerMarkup(root, memo);
    return { parts: Array.from(document.getElementsByTagName('*'), (e) => readPart(e, part, memo) ?? null) };
};
const readLinks = () => Array.from(document.links, (a) => {
    let text = null, href = null;
    try { text = a.innerText; } catch (error) {}
    try { href = typeof a.href === 'string' ? a.href : a.href.baseVal; } catch (error) {}
    return [typeof text === 'string' ? text : null, typeof href === 'string' ? href : null];
});
)JS"_L1;

QString boolean(bool value)
{
    return value ? u"true"_s : u"false"_s;
}

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

QString readPage(const QString &part, bool rootOnly, bool exact, bool withLinks, const QString &freshToken)
{
    // The reader is built once per document and kept in our script world, so the engine has compiled
    // and optimised it by the time a later pass on the same page calls it again.
    return u"(window."_s + readerKey + u" || (window."_s + readerKey +
           u" = (function () {\n'use strict';\n"_s + serializerSource + readPageSource +
           u"return (part, rootOnly, exact, withLinks, freshToken) => {\n"
           u"    if (!window."_s +
           documentTokenKey + u") window."_s + documentTokenKey +
           u" = freshToken;\n"
           u"    return Object.assign(readElements(part, rootOnly, exact), { hasDocument: "
           u"!!document.documentElement,\n"
           u"             links: withLinks ? readLinks() : [], token: window."_s +
           documentTokenKey + u" });\n};\n})()))("_s + stringLiteral(part) + u", "_s + boolean(rootOnly) +
           u", "_s + boolean(exact) + u", "_s + boolean(withLinks) + u", "_s + stringLiteral(freshToken) +
           u")"_s;
}

QString writeField(const QString &documentToken, const QString &fieldName, const QString &value)
{
    return u"(function (token, name, value) {\n'use strict';\n"
           u"if (window."_s +
           documentTokenKey +
           u" !== token) return 'page-left';\n"
           u"const field = document.getElementsByName(name)[0];\n"
           u"if (!field) return 'no-field';\n"
           u"field.value = value;\n"
           u"field.dispatchEvent(new Event('input', { bubbles: true }));\n"
           u"field.dispatchEvent(new Event('change', { bubbles: true }));\n"
           u"return 'written';\n})("_s +
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
