// Everything the window does inside a page: read the document text and the links, write the answer
// field, find the focused link. Installed once per document, before the page's own scripts run, in the
// application's own script world: the page shares the document with it but none of its globals.
//
// Two rules keep a hostile page from switching it off:
// - Its state lives in this closure, reachable only under a symbol of this world: no element id or
//   name can stand in for it (window.NAME finds elements by id and name in every world).
// - Every DOM access goes through this world's own prototypes: a form control named "tagName" or an
//   image named "links" cannot stand in for the property it is named after.
(() => {
'use strict';
const API = Symbol.for('quillory.page');
if (Object.getOwnPropertyDescriptor(window, API))
    return;

const getterOf = (proto, name) => {
    for (let p = proto; p !== null; p = Object.getPrototypeOf(p)) {
        const property = Object.getOwnPropertyDescriptor(p, name);
        if (property)
            return property.get;
    }
    return undefined;
};
const nodeTypeOf = getterOf(Node.prototype, 'nodeType');
const firstChildOfNode = getterOf(Node.prototype, 'firstChild');
const nextSiblingOf = getterOf(Node.prototype, 'nextSibling');
const dataOf = getterOf(CharacterData.prototype, 'data');
const targetOf = getterOf(ProcessingInstruction.prototype, 'target');
const doctypeNameOf = getterOf(DocumentType.prototype, 'name');
const namespaceOf = getterOf(Element.prototype, 'namespaceURI');
const localNameOf = getterOf(Element.prototype, 'localName');
const tagNameOf = getterOf(Element.prototype, 'tagName');
const attributesOf = getterOf(Element.prototype, 'attributes');
const innerHtmlOf = getterOf(Element.prototype, 'innerHTML');
const elementsByTag = Element.prototype.getElementsByTagName;
const innerTextOf = getterOf(HTMLElement.prototype, 'innerText');
const templateContentOf = getterOf(HTMLTemplateElement.prototype, 'content');
const attributeNameOf = getterOf(Attr.prototype, 'name');
const attributeValueOf = getterOf(Attr.prototype, 'value');
const attributeCount = getterOf(NamedNodeMap.prototype, 'length');
const attributeAt = NamedNodeMap.prototype.item;
const collectionLength = getterOf(HTMLCollection.prototype, 'length');
const collectionItem = HTMLCollection.prototype.item;
const nodeListItem = NodeList.prototype.item;
const documentElementOf = getterOf(Document.prototype, 'documentElement');
const contentTypeOf = getterOf(Document.prototype, 'contentType');
const linksOf = getterOf(Document.prototype, 'links');
const activeElementOf = getterOf(Document.prototype, 'activeElement');
const documentElementsByName = Document.prototype.getElementsByName;
const evaluateXPath = Document.prototype.evaluate;
const numberValueOf = getterOf(XPathResult.prototype, 'numberValue');
const elementsByTagNS = Element.prototype.getElementsByTagNameNS;
const querySelectorAllIn = Element.prototype.querySelectorAll;
const nodeListLength = getterOf(NodeList.prototype, 'length');
const textContentOf = getterOf(Node.prototype, 'textContent');
const documentElementsByTag = Document.prototype.getElementsByTagName;
const anchorHrefOf = getterOf(HTMLAnchorElement.prototype, 'href');
const areaHrefOf = getterOf(HTMLAreaElement.prototype, 'href');
const svgHrefOf = getterOf(SVGAElement.prototype, 'href');
const animatedBaseOf = getterOf(SVGAnimatedString.prototype, 'baseVal');
const dispatchEventOn = EventTarget.prototype.dispatchEvent;
const now = Performance.prototype.now.bind(performance);
const addListenerOn = EventTarget.prototype.addEventListener;
const eventTargetOf = getterOf(Event.prototype, 'target');

// The fields the user has typed into since this world last wrote them. Only the user's own input is
// trusted: the events a write dispatches, and any the page makes up, are not. (isTrusted is each
// event's own unforgeable property, not a prototype's.) Listened for on the window in the capture
// phase, ahead of every listener the page can add.
const typedInto = new WeakSet();
addListenerOn.call(window, 'input', (event) => {
    if (event.isTrusted === true) typedInto.add(eventTargetOf.call(event));
}, true);

// Names this document in this world, so that a write goes only to the document that was read.
const token = (() => {
    const bytes = new Uint8Array(16);
    crypto.getRandomValues(bytes);
    return Array.from(bytes, (b) => b.toString(16).padStart(2, '0')).join('');
})();

// Inner markup like innerHTML, but with element names as tagName gives them, so that an em element of
// an HTML page reads "<EM>...</EM>". One iterative walk over firstChild and nextSibling (a deeply
// nested page cannot exhaust the script stack), strings built by appending; when `memo` (a Map) is
// given, it keeps the inner markup of every element on the way, each subtree built once.
const XHTML = 'http://www.w3.org/1999/xhtml';
const ELEMENT_NODE = 1, TEXT_NODE = 3, PROCESSING_INSTRUCTION_NODE = 7, COMMENT_NODE = 8;
const DOCUMENT_TYPE_NODE = 10;
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
const isHtml = (e) => namespaceOf.call(e) === XHTML;
const isVoidElement = (e) => isHtml(e) && VOID_ELEMENTS.has(localNameOf.call(e));
const firstChildOf = (e) => (isHtml(e) && localNameOf.call(e) === 'template')
    ? firstChildOfNode.call(templateContentOf.call(e)) : firstChildOfNode.call(e);
const startTag = (e) => {
    let tag = '<' + tagNameOf.call(e);
    const attributes = attributesOf.call(e);
    for (let i = 0, n = attributeCount.call(attributes); i < n; ++i) {
        const a = attributeAt.call(attributes, i);
        tag += ' ' + attributeNameOf.call(a) + '="' + escapeAttribute(attributeValueOf.call(a)) + '"';
    }
    return tag + '>';
};
const leafMarkup = (node, parent) => {
    switch (nodeTypeOf.call(node)) {
    case TEXT_NODE:
        return (isHtml(parent) && RAW_TEXT_ELEMENTS.has(localNameOf.call(parent)))
            ? dataOf.call(node) : escapeText(dataOf.call(node));
    case COMMENT_NODE: return '<!--' + dataOf.call(node) + '-->';
    case PROCESSING_INSTRUCTION_NODE: return '<?' + targetOf.call(node) + ' ' + dataOf.call(node) + '>';
    case DOCUMENT_TYPE_NODE: return '<!DOCTYPE ' + doctypeNameOf.call(node) + '>';
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
            const isElement = nodeTypeOf.call(child) === ELEMENT_NODE;
            if (isElement && !isVoidElement(child)) {
                enclosing.push(element, nextSiblingOf.call(child), markup);
                element = child;
                child = firstChildOf(child);
                markup = '';
                continue;
            }
            markup += isElement ? startTag(child) : leafMarkup(child, element);
            child = nextSiblingOf.call(child);
            continue;
        }
        if (memo) memo.set(element, markup);
        if (enclosing.length === 0) return markup;
        const finished = element;
        const inner = markup;
        markup = enclosing.pop();
        child = enclosing.pop();
        element = enclosing.pop();
        markup += startTag(finished) + inner + '</' + tagNameOf.call(finished) + '>';
    }
};

const textOf = (e) => {
    const text = innerTextOf.call(e);
    return typeof text === 'string' ? text : null;
};
const readPart = (e, part, memo) => {
    try {
        if (part === 'html') return memo && memo.has(e) ? memo.get(e) : innerMarkup(e, null);
        return textOf(e);
    } catch (error) {
        return null;
    }
};
const elementsIn = (collection) => {
    const n = collectionLength.call(collection);
    const elements = new Array(n);
    for (let i = 0; i < n; ++i) elements[i] = collectionItem.call(collection, i);
    return elements;
};
// The engine's own serialization is far faster than any walk in script; it differs from ours only in
// the case of element names, which the reader puts right. Templates (whose contents no element list
// holds) and XML documents take the exact walk instead.
const canUseEngineMarkup = (root) => contentTypeOf.call(document) === 'text/html' && isHtml(root) &&
    collectionLength.call(elementsByTag.call(root, 'template')) === 0;
const countOf = (xpath, root) => numberValueOf.call(evaluateXPath.call(document, xpath, root, null, 1, null));
// Markup in which every element is an HTML element without a prefix and no text can pass for a tag: a
// comment holding "-->", the text of an element such as script holding its own end tag, a processing
// instruction. Then the element names can be put right from the markup alone, and counting the
// elements is check enough: no tag can be faked, so none can be hidden either. Every test here runs
// in the engine without making an object per element.
const RAW_TEXT_ELEMENTS_SELECTOR = 'script, style, xmp, iframe, noembed, noframes, plaintext, noscript';
const rawTextHoldsEndTag = (root) => {
    const elements = querySelectorAllIn.call(root, RAW_TEXT_ELEMENTS_SELECTOR);
    for (let i = 0, n = nodeListLength.call(elements); i < n; ++i) {
        const e = nodeListItem.call(elements, i);
        if (textContentOf.call(e).toLowerCase().indexOf('</' + localNameOf.call(e)) >= 0)
            return true;
    }
    return false;
};
const namesFollowFromMarkup = (root, elementCount) =>
    collectionLength.call(elementsByTagNS.call(root, XHTML, '*')) === elementCount &&
    countOf("count(.//*[contains(name(), ':')] | .//comment()[contains(., '-->')] | .//processing-instruction())",
            root) === 0 &&
    !rawTextHoldsEndTag(root);
// Whether the names follow from the markup, and how many elements there are, for the document as it
// stands: worked out once and kept until the document's elements, comments or text change (which the
// reader watches from the first time on).
let verdict = null;
let watching = false;
const verdictFor = (root) => {
    if (verdict === null) {
        const elementCount = collectionLength.call(elementsByTag.call(root, '*'));
        verdict = { elementCount, namesFollow: namesFollowFromMarkup(root, elementCount) };
        if (!watching) {
            watching = true;
            new MutationObserver(() => { verdict = null; })
                .observe(document, { childList: true, characterData: true, subtree: true });
        }
    }
    return verdict;
};
const engineMarkup = (root, requiredText) => {
    const markup = innerHtmlOf.call(root);
    if (requiredText && markup.indexOf(requiredText) < 0)
        return { parts: [] }; // nothing of the document can hold what the reader looks for
    const { elementCount, namesFollow } = verdictFor(root);
    if (namesFollow)
        return { markup, elementCount };
    return { markup, tagNames: elementsIn(elementsByTag.call(root, '*')).map((e) => tagNameOf.call(e)).join(' ') };
};
const readElements = (part, rootOnly, exact, requiredText) => {
    const root = documentElementOf.call(document);
    if (!part || !root) return { parts: [] };
    if (part === 'html' && !exact && canUseEngineMarkup(root))
        return engineMarkup(root, requiredText);
    if (rootOnly) return { parts: [readPart(root, part, null)] };
    const memo = part === 'html' ? new Map() : null;
    if (memo) innerMarkup(root, memo);
    return { parts: elementsIn(documentElementsByTag.call(document, '*')).map((e) => readPart(e, part, memo)) };
};
// Also works out the verdict on the names ahead of the first read, while the user reads the page.
const holdsText = (text) => {
    const root = documentElementOf.call(document);
    if (root === null || innerHtmlOf.call(root).indexOf(text) < 0)
        return false;
    if (canUseEngineMarkup(root))
        verdictFor(root);
    return true;
};
const hrefOf = (e) => {
    if (e instanceof HTMLAnchorElement) return anchorHrefOf.call(e);
    if (e instanceof HTMLAreaElement) return areaHrefOf.call(e);
    if (e instanceof SVGAElement) return animatedBaseOf.call(svgHrefOf.call(e));
    return null;
};
const readLinks = () => elementsIn(linksOf.call(document)).map((a) => {
    let text = null, href = null;
    try { text = textOf(a); } catch (error) {}
    try { href = hrefOf(a); } catch (error) {}
    return [text, typeof href === 'string' ? href : null];
});

const api = Object.freeze({
    // {hasDocument, token, links} and either {parts} (each element's part: its inner markup with
    // element names as tagName gives them, or its inner text; null when it cannot be read) or, for the
    // markup of an HTML document unless `exact` is set, the engine's own inner markup of the root
    // element with either {tagNames} (of the elements inside it, space-separated) or {elementCount}
    // (when every name follows from the markup). With `requiredText`, engine markup that lacks it
    // comes back as no parts at all.
    // Without a part, {holdsRequiredText} says whether the root's markup holds `requiredText`;
    // {scriptMs}: how long the read took in the page.
    read: (part, rootOnly, exact, withLinks, requiredText) => {
        const start = now();
        return Object.assign(readElements(part, rootOnly, exact, requiredText), {
            hasDocument: documentElementOf.call(document) !== null,
            links: withLinks ? readLinks() : [],
            token,
        }, !part && requiredText ? { holdsRequiredText: holdsText(requiredText) } : {}, { scriptMs: now() - start });
    },
    // Sets the value of the first element named `name` and dispatches input and change on it, as
    // typing would, only in the document that `documentToken` names. With `keepUserEdit`, a field
    // the user has typed into since the last write keeps what the user typed.
    writeField: (documentToken, name, value, keepUserEdit) => {
        if (documentToken !== token) return 'page-left';
        const field = nodeListItem.call(documentElementsByName.call(document, name), 0);
        if (!field) return 'no-field';
        if (keepUserEdit && typedInto.has(field)) return 'kept-edit';
        typedInto.delete(field);
        field.value = value;
        dispatchEventOn.call(field, new Event('input', { bubbles: true }));
        dispatchEventOn.call(field, new Event('change', { bubbles: true }));
        return 'written';
    },
    // The link target of the element that has the focus in this document, or null.
    focusedLinkTarget: () => {
        const e = activeElementOf.call(document);
        const href = e ? hrefOf(e) : null;
        return typeof href === 'string' && href !== '' ? href : null;
    },
});
Object.defineProperty(window, API, { value: api });
})();
