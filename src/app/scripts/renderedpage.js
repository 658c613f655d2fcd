// The hidden page's script (renderedpage.h): whether the document has changed since the loader last
// looked, and the document as the page shows it, written in the lookup's rendered form. Installed in the application's
// own script world of every document of the hidden page before the page's own scripts run; the page shares the document
// with it but none of its globals, so it cannot reach this script or change what it reads.
//
// It is a function of one value, `commitMark`, a secret of the run: the first thing each new document
// does is write it to the console, which tells the loader that the navigation under way has become a
// document (also when the address did not change, as in a reload). The page cannot write the mark, as it
// never sees it.
//
// Named elements can still stand in for a document's properties in every world (an <img
// name="documentElement"> shadows document.documentElement), so the document is read through this
// world's own prototype getters.
((commitMark) => {
    'use strict';
    const API = Symbol.for('quillory.rendered');
    if (Object.getOwnPropertyDescriptor(window, API)) return;
    console.debug(commitMark);

    const getterOf = (proto, name) => {
        for (let p = proto; p !== null; p = Object.getPrototypeOf(p)) {
            const property = Object.getOwnPropertyDescriptor(p, name);
            if (property) return property.get;
        }
        return undefined;
    };
    const documentElementOf = getterOf(Document.prototype, 'documentElement');
    const doctypeOf = getterOf(Document.prototype, 'doctype');
    const doctypeNameOf = getterOf(DocumentType.prototype, 'name');
    const readyStateOf = getterOf(Document.prototype, 'readyState');
    const nodeTypeOf = getterOf(Node.prototype, 'nodeType');
    const firstChildOf = getterOf(Node.prototype, 'firstChild');
    const nextSiblingOf = getterOf(Node.prototype, 'nextSibling');
    const dataOf = getterOf(CharacterData.prototype, 'data');
    const namespaceOf = getterOf(Element.prototype, 'namespaceURI');
    const prefixOf = getterOf(Element.prototype, 'prefix');
    const localNameOf = getterOf(Element.prototype, 'localName');
    const attributesOf = getterOf(Element.prototype, 'attributes');
    const shadowRootOf = getterOf(Element.prototype, 'shadowRoot');
    const attributeNameOf = getterOf(Attr.prototype, 'name');
    const attributeValueOf = getterOf(Attr.prototype, 'value');
    const attributeCount = getterOf(NamedNodeMap.prototype, 'length');
    const attributeAt = NamedNodeMap.prototype.item;
    const assignedNodesOf = HTMLSlotElement.prototype.assignedNodes;
    const observe = MutationObserver.prototype.observe;

    // A change is a node added or removed, or a text changed: that is how a list built from data arrives.
    // Attribute changes are left out, as animations and hover states change style and class attributes all
    // the time and would make the loader read a page that has nothing new.
    //
    // The parser's own changes are of no account: the loader reads the document once the parser is done
    // in any case, and watching a long document being parsed would slow its load by a third. So the
    // watch begins once the parser is done, and counts that as the first change.
    let changes = 0;
    let watching = false;
    const observer = new MutationObserver(() => { ++changes; });
    const CHANGES = {childList : true, characterData : true, subtree : true};
    const watch = () => {
        ++changes;
        watching = true;
        observe.call(observer, document, CHANGES);
    };
    if (readyStateOf.call(document) === 'loading')
        EventTarget.prototype.addEventListener.call(document, 'DOMContentLoaded', watch, {once : true});
    else
        watch();

    // ---- The document as the page shows it ----
    //
    // Written in the lookup's rendered form (attributelookup.h: PageForm::Rendered), which the lookup's
    // cuts and its decoder read; the rules of the lookup itself are all there, none here. The doctype as
    // the engine writes one, then the root element. Each element as <name attribute="value" ...>, its
    // content, </name>; a void element of HTML has no content and no end tag. Only elements and texts:
    // comments are not shown, and nothing of a script, style, template or noscript element is (its
    // source, or content that scripting hides, is no text of the page). Where the page renders an open
    // shadow tree, in its host's place, its content is written instead of the host's own children, and a
    // slot holds the nodes assigned to it (its own children when none are). Every name, value and text
    // is written with "&", "<", ">" and U+00A0 as "&amp;", "&lt;", "&gt;" and "&nbsp;", and nothing else
    // is changed: "<" begins only the markup written here, "&" only those four references.
    const XHTML = 'http://www.w3.org/1999/xhtml';
    const ELEMENT_NODE = 1, TEXT_NODE = 3, CDATA_SECTION_NODE = 4;
    const VOID_ELEMENTS = new Set([
        'area', 'base', 'basefont', 'bgsound', 'br', 'col', 'embed', 'frame', 'hr', 'img', 'input', 'keygen', 'link',
        'meta', 'param', 'source', 'track', 'wbr'
    ]);
    const SPECIALS = /[&<>\u00a0]/;
    const SPECIALS_ALL = /[&<>\u00a0]/g;
    const REFERENCES = {'&' : '&amp;', '<' : '&lt;', '>' : '&gt;', '\u00a0' : '&nbsp;'};
    const referenceOf = (c) => REFERENCES[c];
    const written = (s) => SPECIALS.test(s) ? s.replace(SPECIALS_ALL, referenceOf) : s;
    const loneSurrogate = /\p{Cs}/u;
    const units = (s) => {
        const n = s.length;
        const array = new Uint16Array(n);
        for (let i = 0; i < n; ++i) array[i] = s.charCodeAt(i);
        return array.buffer;
    };

    const qualifiedNameOf = (e) => {
        const prefix = prefixOf.call(e);
        return prefix === null ? localNameOf.call(e) : prefix + ':' + localNameOf.call(e);
    };
    const isUnshown = (e) => {
        const name = localNameOf.call(e);
        if (name === 'script' || name === 'style') return true; // in any namespace (SVG has both)
        return namespaceOf.call(e) === XHTML && (name === 'template' || name === 'noscript');
    };
    const isVoid = (e) => namespaceOf.call(e) === XHTML && VOID_ELEMENTS.has(localNameOf.call(e));

    // The nodes that render in an element's place, as a cursor: {node} walks siblings, {list, at} an array.
    const contentOf = (e) => {
        const shadow = shadowRootOf.call(e); // open ones only
        if (shadow !== null) {
            // Changes inside it are the page's changes too; the document's watch does not reach them.
            if (watching) observe.call(observer, shadow, CHANGES);
            return {node : firstChildOf.call(shadow), list : null, at : 0};
        }
        if (e instanceof HTMLSlotElement) {
            const assigned = assignedNodesOf.call(e);
            if (assigned.length > 0) return {node : null, list : assigned, at : 0};
        }
        return {node : firstChildOf.call(e), list : null, at : 0};
    };
    const nextOf = (cursor) => {
        if (cursor.list !== null) return cursor.at < cursor.list.length ? cursor.list[cursor.at++] : null;
        const node = cursor.node;
        if (node !== null) cursor.node = nextSiblingOf.call(node);
        return node;
    };

    // Without recursion, as a page may nest thousands deep. The text crosses as a string when it holds
    // no lone surrogate (which the way back has no room for), else as its code units.
    const view = () => {
        const out = [];
        const doctype = doctypeOf.call(document);
        if (doctype) out.push('<!DOCTYPE ' + written(doctypeNameOf.call(doctype)) + '>');
        const root = documentElementOf.call(document);
        const open = []; // for each element being written: the cursor over its content, and its end tag
        if (root) open.push({cursor : {node : null, list : [ root ], at : 0}, endTag : ''});
        while (open.length > 0) {
            const top = open[open.length - 1];
            const node = nextOf(top.cursor);
            if (node === null) {
                out.push(top.endTag);
                open.pop();
                continue;
            }
            const type = nodeTypeOf.call(node);
            if (type === TEXT_NODE || type === CDATA_SECTION_NODE) {
                out.push(written(dataOf.call(node)));
                continue;
            }
            if (type !== ELEMENT_NODE || isUnshown(node)) continue;
            const name = written(qualifiedNameOf(node));
            let tag = '<' + name;
            const attributes = attributesOf.call(node);
            for (let i = 0, n = attributeCount.call(attributes); i < n; ++i) {
                const a = attributeAt.call(attributes, i);
                tag += ' ' + written(attributeNameOf.call(a)) + '="' + written(attributeValueOf.call(a)) + '"';
            }
            out.push(tag + '>');
            if (!isVoid(node)) open.push({cursor : contentOf(node), endTag : '</' + name + '>'});
        }
        const text = out.join('');
        return loneSurrogate.test(text) ? units(text) : text;
    };

    Object.defineProperty(window, API, {
        value : Object.freeze({
            // How many times the document has changed since the watch began: the loader reads the
            // document again only when this has moved.
            changes : () => changes,
            // The document as the page shows it: see view below.
            view : () => view(),
        })
    });
})
