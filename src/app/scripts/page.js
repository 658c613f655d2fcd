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
    if (Object.getOwnPropertyDescriptor(window, API)) return;

    const getterOf = (proto, name) => {
        for (let p = proto; p !== null; p = Object.getPrototypeOf(p)) {
            const property = Object.getOwnPropertyDescriptor(p, name);
            if (property) return property.get;
        }
        return undefined;
    };
    const nodeTypeOf = getterOf(Node.prototype, 'nodeType');
    const firstChildOfNode = getterOf(Node.prototype, 'firstChild');
    const nextSiblingOf = getterOf(Node.prototype, 'nextSibling');
    const parentOf = getterOf(Node.prototype, 'parentNode');
    const cloneNodeOf = Node.prototype.cloneNode;
    const dataOf = getterOf(CharacterData.prototype, 'data');
    const targetOf = getterOf(ProcessingInstruction.prototype, 'target');
    const doctypeNameOf = getterOf(DocumentType.prototype, 'name');
    const namespaceOf = getterOf(Element.prototype, 'namespaceURI');
    const prefixOf = getterOf(Element.prototype, 'prefix');
    const localNameOf = getterOf(Element.prototype, 'localName');
    const tagNameOf = getterOf(Element.prototype, 'tagName');
    const attributesOf = getterOf(Element.prototype, 'attributes');
    const innerHtmlOf = getterOf(Element.prototype, 'innerHTML');
    const outerHtmlOf = getterOf(Element.prototype, 'outerHTML');
    const firstElementChildOf = getterOf(Element.prototype, 'firstElementChild');
    const replaceChildrenOn = Element.prototype.replaceChildren;
    const innerTextOf = getterOf(HTMLElement.prototype, 'innerText');
    const templateContentOf = getterOf(HTMLTemplateElement.prototype, 'content');
    const attributeNameOf = getterOf(Attr.prototype, 'name');
    const attributeValueOf = getterOf(Attr.prototype, 'value');
    const attributeNamespaceOf = getterOf(Attr.prototype, 'namespaceURI');
    const attributeLocalNameOf = getterOf(Attr.prototype, 'localName');
    const attributePrefixOf = getterOf(Attr.prototype, 'prefix');
    const attributeCount = getterOf(NamedNodeMap.prototype, 'length');
    const attributeAt = NamedNodeMap.prototype.item;
    const collectionLength = getterOf(HTMLCollection.prototype, 'length');
    const collectionItem = HTMLCollection.prototype.item;
    const nodeListLength = getterOf(NodeList.prototype, 'length');
    const nodeListItem = NodeList.prototype.item;
    const documentElementOf = getterOf(Document.prototype, 'documentElement');
    const linksOf = getterOf(Document.prototype, 'links');
    const activeElementOf = getterOf(Document.prototype, 'activeElement');
    const documentElementsByName = Document.prototype.getElementsByName;
    const documentElementsByTag = Document.prototype.getElementsByTagName;
    const createElementNS = Document.prototype.createElementNS;
    const createTextNodeIn = Document.prototype.createTextNode;
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

    // ---- The document text ----
    //
    // Each element's part of the document text is its inner markup as the engine serializes it
    // (innerHTML), with only the element names written as tagName gives them ("<EM>" for an em element of
    // an HTML page). One walk writes the markup twice, side by side: with the names as the engine writes
    // them, and with the tagNames. The two differ only where the walk itself wrote a name, so when the
    // first equals the engine's own innerHTML of the root, character for character, the second is exact
    // by construction: no tag is ever recognised in text, and attribute values, comments and raw text are
    // never taken for names.
    //
    // Two ways to write the pieces between the names:
    // - "walk": this script's own serializer, which follows the engine's rules as they are known;
    // - "pieces": every piece but the names serialized by the engine itself: each text, comment and
    //   processing instruction inside a detached element of its parent's kind, each start tag cut from the
    //   element's own outer markup, and whether an element has an end tag asked of a detached element of
    //   the same name. Taken when the walk's text differs from the engine's in any way (a rule of the
    //   engine the walk does not know), so that such a rule never decides an answer. It costs far more on
    //   a deep page (every element's outer markup), so it is not the first way.
    const XHTML = 'http://www.w3.org/1999/xhtml';
    const XML_NS = 'http://www.w3.org/XML/1998/namespace';
    const XMLNS_NS = 'http://www.w3.org/2000/xmlns/';
    const XLINK_NS = 'http://www.w3.org/1999/xlink';
    const ELEMENT_NODE = 1, TEXT_NODE = 3, PROCESSING_INSTRUCTION_NODE = 7, COMMENT_NODE = 8;
    const DOCUMENT_NODE = 9, DOCUMENT_TYPE_NODE = 10;

    const qualifiedNameOf = (e) => {
        const prefix = prefixOf.call(e);
        return prefix === null ? localNameOf.call(e) : prefix + ':' + localNameOf.call(e);
    };
    const isTemplate = (e) => e instanceof HTMLTemplateElement;
    const firstChildOf = (e) =>
        isTemplate(e) ? firstChildOfNode.call(templateContentOf.call(e)) : firstChildOfNode.call(e);
    const hasElementChild = (e) => firstElementChildOf.call(e) !== null;

    const walkPieces = (() => {
        const VOID_ELEMENTS = new Set([
            'area', 'base', 'basefont', 'bgsound', 'br', 'col', 'embed', 'frame', 'hr', 'img', 'input', 'keygen',
            'link', 'meta', 'param', 'source', 'track', 'wbr'
        ]);
        const RAW_TEXT_ELEMENTS =
            new Set([ 'style', 'script', 'xmp', 'iframe', 'noembed', 'noframes', 'plaintext', 'noscript' ]);
        const TEXT_SPECIALS = /[&<>\u00a0]/;
        const TEXT_SPECIALS_ALL = /[&<>\u00a0]/g;
        const ATTRIBUTE_SPECIALS = /[&"\u00a0]/;
        const ATTRIBUTE_SPECIALS_ALL = /[&"\u00a0]/g;
        const ENTITIES = {'&' : '&amp;', '<' : '&lt;', '>' : '&gt;', '"' : '&quot;', '\u00a0' : '&nbsp;'};
        const entityOf = (c) => ENTITIES[c];
        const escapeText = (s) => TEXT_SPECIALS.test(s) ? s.replace(TEXT_SPECIALS_ALL, entityOf) : s;
        const escapeAttribute = (s) => ATTRIBUTE_SPECIALS.test(s) ? s.replace(ATTRIBUTE_SPECIALS_ALL, entityOf) : s;
        const attributeName = (a) => {
            const namespace = attributeNamespaceOf.call(a);
            const local = attributeLocalNameOf.call(a);
            const prefix = attributePrefixOf.call(a);
            if (namespace === XML_NS) return 'xml:' + local;
            if (namespace === XLINK_NS) return 'xlink:' + local;
            if (namespace === XMLNS_NS && prefix === null) return local === 'xmlns' ? local : 'xmlns:' + local;
            return prefix === null ? local : prefix + ':' + local;
        };
        const isRawTextParent = (e) => nodeTypeOf.call(e) === ELEMENT_NODE && namespaceOf.call(e) === XHTML &&
                                       prefixOf.call(e) === null && RAW_TEXT_ELEMENTS.has(localNameOf.call(e));
        return {
            startTagRest : (e) => {
                let tag = '';
                const attributes = attributesOf.call(e);
                for (let i = 0, n = attributeCount.call(attributes); i < n; ++i) {
                    const a = attributeAt.call(attributes, i);
                    tag += ' ' + attributeName(a) + '="' + escapeAttribute(attributeValueOf.call(a)) + '"';
                }
                return tag + '>';
            },
            isVoid : (e) => namespaceOf.call(e) === XHTML && VOID_ELEMENTS.has(localNameOf.call(e)),
            isRawText : isRawTextParent,
            leaf : (node, parent) => {
                switch (nodeTypeOf.call(node)) {
                case TEXT_NODE:
                    return isRawTextParent(parent) ? dataOf.call(node) : escapeText(dataOf.call(node));
                case COMMENT_NODE:
                    return '<!--' + dataOf.call(node) + '-->';
                case PROCESSING_INSTRUCTION_NODE:
                    return '<?' + targetOf.call(node) + ' ' + dataOf.call(node) + '?>';
                case DOCUMENT_TYPE_NODE:
                    return '<!DOCTYPE ' + doctypeNameOf.call(node) + '>';
                default:
                    return '';
                }
            },
        };
    })();

    const enginePieces = () => {
        // Detached elements, never put into the document: nothing of theirs renders, loads or runs, and no
        // observer of the page hears of them. Names holding '-' are never made (they could name a custom
        // element, whose constructor is the page's), nor are names the DOM refuses; a plain div stands in
        // for those, as for a template's contents.
        const standIns = new Map();
        const standInFor = (namespace, name) => {
            const key = (namespace === null ? '' : namespace) + ' ' + name;
            let e = standIns.get(key);
            if (e === undefined) {
                e = null;
                if (name.indexOf('-') < 0) {
                    try {
                        e = createElementNS.call(document, namespace, name);
                    } catch (error) {}
                }
                standIns.set(key, e);
            }
            return e;
        };
        const plain = () => standInFor(XHTML, 'div');
        const voidness = new Map();
        return {
            // The start tag as the engine writes it in the element's own outer markup: that markup less its
            // inner markup and its end tag (a void element's is its start tag alone).
            startTagRest : (e) => {
                const outer = outerHtmlOf.call(e);
                const name = qualifiedNameOf(e);
                const endTag = '</' + name + '>';
                const startTag = outer.endsWith(endTag)
                                     ? outer.slice(0, outer.length - endTag.length - innerHtmlOf.call(e).length)
                                     : outer;
                return startTag.slice(1 + name.length);
            },
            isVoid : (e) => {
                const name = qualifiedNameOf(e);
                const key = namespaceOf.call(e) + ' ' + name;
                let isVoid = voidness.get(key);
                if (isVoid === undefined) {
                    const standIn = standInFor(namespaceOf.call(e), name);
                    isVoid = false;
                    if (standIn !== null) {
                        replaceChildrenOn.call(standIn, createTextNodeIn.call(document, 'x'));
                        const outer = outerHtmlOf.call(standIn);
                        isVoid = !outer.endsWith('</' + name + '>');
                    }
                    voidness.set(key, isVoid);
                }
                return isVoid;
            },
            // A template's own contents have no parent element: a plain element stands in for it.
            leaf : (node, parent) => {
                const host = nodeTypeOf.call(parent) === ELEMENT_NODE && !isTemplate(parent)
                                 ? (standInFor(namespaceOf.call(parent), qualifiedNameOf(parent)) || plain())
                                 : plain();
                replaceChildrenOn.call(host, cloneNodeOf.call(node, false));
                return innerHtmlOf.call(host);
            },
        };
    };

    // Where the read wrote each element, for telling later which changes of the document can touch what
    // a pass read: offsets into the text of its start tag's '<', its inner markup's start and end.
    const newRecord = () => ({
        elements : [],
        tagStarts : [],
        innerStarts : [],
        innerEnds : [],
        templates : [],
    });

    // The inner markup of `root`, `text` with tagNames and `engine` with the engine's names. `hidden`:
    // whether some element lies where the engine writes nothing (inside a void element, or put straight
    // into a template rather than its contents): such an element still has a part of its own.
    const serializeInner = (root, pieces, record) => {
        let text = '', engine = '', hidden = false;
        const enclosing = []; // for each open element: its parent, the sibling after it, its record slot
        let parent = root;
        let child = firstChildOf(root);
        let slot = -1;
        if (isTemplate(root)) {
            hidden = hasElementChild(root);
            if (record) record.templates.push(root);
        }
        for (;;) {
            if (child !== null) {
                if (nodeTypeOf.call(child) !== ELEMENT_NODE) {
                    const piece = pieces.leaf(child, parent);
                    text += piece;
                    engine += piece;
                    child = nextSiblingOf.call(child);
                    continue;
                }
                const tagStart = text.length;
                const rest = pieces.startTagRest(child);
                text += '<' + tagNameOf.call(child) + rest;
                engine += '<' + qualifiedNameOf(child) + rest;
                let childSlot = -1;
                if (record) {
                    childSlot = record.elements.length;
                    record.elements.push(child);
                    record.tagStarts.push(tagStart);
                    record.innerStarts.push(text.length);
                    record.innerEnds.push(text.length);
                }
                if (pieces.isVoid(child)) {
                    hidden = hidden || hasElementChild(child);
                    child = nextSiblingOf.call(child);
                    continue;
                }
                if (isTemplate(child)) {
                    hidden = hidden || hasElementChild(child);
                    if (record) record.templates.push(child);
                }
                enclosing.push(parent, nextSiblingOf.call(child), slot);
                parent = child;
                slot = childSlot;
                child = firstChildOf(child);
                continue;
            }
            if (enclosing.length === 0) return {text, engine, hidden};
            if (record) record.innerEnds[slot] = text.length;
            text += '</' + tagNameOf.call(parent) + '>';
            engine += '</' + qualifiedNameOf(parent) + '>';
            slot = enclosing.pop();
            child = enclosing.pop();
            parent = enclosing.pop();
        }
    };

    // ---- The names put into the engine's own markup ----
    //
    // The engine's inner markup of the root differs from the document text only in the element names,
    // and a tagName is as long as the name the engine writes. The scan goes through the elements in
    // document order (never through the texts) alongside the engine's markup and, at each '<' of it,
    // matches the one thing the document says comes there: the end tag of the element it is in, once
    // that element's element children are through; at "<!" or "<?" the next comment or instruction in
    // document order; else the start tag of the next element. Each is matched character for character
    // against what the engine writes for it: name and attributes, a comment's data, a raw-text element's
    // whole inner markup as the engine serializes it. What lies between two matches holds no '<': text,
    // which the engine writes escaped. Where a match put a name that differs from its tagName, the scan
    // notes the offset and the tagName (the window writes them in), and only when every element, comment
    // and instruction has been matched and the markup is through; else null, and the walk writes the
    // markup. (An element whose content the engine leaves out, under a void element
    // or straight in a template, and elements inside a raw-text element, leave it to the walk too.)
    const SHOW_COMMENTS = 0x80 | 0x40; // comments and processing instructions
    const createTreeWalkerIn = Document.prototype.createTreeWalker;
    const walkerNext = TreeWalker.prototype.nextNode;
    const fragmentFirstElementChildOf = getterOf(DocumentFragment.prototype, 'firstElementChild');
    const nextElementSiblingOf = getterOf(Element.prototype, 'nextElementSibling');
    const startsWithOn = String.prototype.startsWith;
    const hasAttributesOn = Element.prototype.hasAttributes;
    const indexOfOn = String.prototype.indexOf;
    const scanNames = (root, native, record) => {
        // Where a tagName goes: [offset, index into `tags`, ...], for each name that differs from it.
        let names = new Int32Array(1024);
        let count = 0;
        const tags = [];
        const tagIndex = new Map();
        const putName = (at, tag, name) => {
            if (tag === name) return true;
            if (tag.length !== name.length) return false;
            let index = tagIndex.get(tag);
            if (index === undefined) {
                index = tags.length;
                tags.push(tag);
                tagIndex.set(tag, index);
            }
            if (count + 2 > names.length) {
                const larger = new Int32Array(2 * names.length);
                larger.set(names);
                names = larger;
            }
            names[count++] = at;
            names[count++] = index;
            return true;
        };
        // The element the scan is in: its next element child, the walker over its comments, its slot.
        let frame = {
            element : root,
            tag : '',
            name : '',
            next : firstElementChildOf.call(root),
            slot : -1,
            comments : createTreeWalkerIn.call(document, root, SHOW_COMMENTS)
        };
        const frames = [];
        let cursor = 0;
        const kinds = new Map(); // tagName -> {name, isVoid, isTemplate, isRawText}
        const kindOf = (e) => ({
            name : qualifiedNameOf(e),
            isVoid : walkPieces.isVoid(e),
            isTemplate : isTemplate(e),
            isRawText : walkPieces.isRawText(e),
        });
        for (;;) {
            const q = indexOfOn.call(native, '<', cursor);
            if (q < 0) break;
            const c = native.charCodeAt(q + 1);
            if (c === 47) { // '/': the end tag of the element the scan is in
                if (frames.length === 0 || frame.next !== null) return null;
                const end = q + 2 + frame.name.length;
                if (!startsWithOn.call(native, frame.name, q + 2) || native.charCodeAt(end) !== 62 ||
                    !putName(q + 2, frame.tag, frame.name))
                    return null;
                record.innerEnds[frame.slot] = q;
                cursor = end + 1;
                frame = frames.pop();
                continue;
            }
            if (c === 33 || c === 63) { // '!' or '?': the next comment or instruction
                const node = walkerNext.call(frame.comments);
                if (node === null) return null;
                const markup = walkPieces.leaf(node, null);
                if (!startsWithOn.call(native, markup, q)) return null;
                cursor = q + markup.length;
                continue;
            }
            const e = frame.next;
            if (e === null) return null;
            // What an element of its tagName was found to be, when the markup holds that name here: the
            // name is followed by ' ' or '>', which no name holds, so it is this element's own name, and
            // tagName and name tell the kind. Else this element's own.
            const tag = tagNameOf.call(e);
            let kind = kinds.get(tag);
            if (kind === undefined || !startsWithOn.call(native, kind.name, q + 1)) {
                kind = kindOf(e);
                if (!startsWithOn.call(native, kind.name, q + 1)) return null;
                kinds.set(tag, kind);
            }
            const name = kind.name;
            let at = q + 1 + name.length;
            if (!hasAttributesOn.call(e)) {
                if (native.charCodeAt(at) !== 62) return null; // '>'
                at += 1;
            } else {
                const rest = walkPieces.startTagRest(e);
                if (!startsWithOn.call(native, rest, at)) return null;
                at += rest.length;
            }
            if (!putName(q + 1, tag, name)) return null;
            const slot = record.elements.length;
            record.elements.push(e);
            record.tagStarts.push(q);
            record.innerStarts.push(at);
            record.innerEnds.push(at);
            frame.next = nextElementSiblingOf.call(e);
            cursor = at;
            if (kind.isVoid) {
                if (firstChildOfNode.call(e) !== null) return null;
                continue;
            }
            let next = firstElementChildOf.call(e);
            let comments = frame.comments;
            if (kind.isTemplate) {
                if (firstChildOfNode.call(e) !== null) return null;
                record.templates.push(e);
                const content = templateContentOf.call(e);
                next = fragmentFirstElementChildOf.call(content);
                comments = createTreeWalkerIn.call(document, content, SHOW_COMMENTS);
            } else if (kind.isRawText) {
                if (next !== null) return null;
                const inner = innerHtmlOf.call(e);
                if (!startsWithOn.call(native, inner, at)) return null;
                cursor = at + inner.length;
                // Its comments are in its inner markup, matched above.
                for (let n = firstChildOfNode.call(e); n !== null; n = nextSiblingOf.call(n))
                    if (nodeTypeOf.call(n) !== TEXT_NODE && walkerNext.call(comments) !== n) return null;
            }
            frames.push(frame);
            frame = {element : e, tag, name, next, slot, comments};
        }
        if (frames.length !== 0 || frame.next !== null || walkerNext.call(frame.comments) !== null) return null;
        return {names : names.slice(0, count).buffer, tags};
    };

    // Every UTF-16 code unit of a text, lone surrogates included, as raw bytes: strings that come back
    // from a script pass through UTF-8 on their way, which has no room for a lone surrogate.
    const loneSurrogate = /\p{Cs}/u;
    const units = (s) => {
        const n = s.length;
        const array = new Uint16Array(n);
        for (let i = 0; i < n; ++i) array[i] = s.charCodeAt(i);
        return array.buffer;
    };

    // ---- Keeping a read while the document changes harmlessly ----
    //
    // The window cuts the question out of a read and tells the page which stretches of the text decided
    // the cut (each marker it found and the text it took) and which characters its markers are made of.
    // The read is kept while the text of the document can only differ from the read's text in this way:
    // some stretches apart from the deciding ones (not even next to them) are each replaced by a text
    // that holds no marker character, or by the empty text at a junction no marker can span.
    //
    // Why the cut stays the same: no marker occurrence of the new text can overlap a replacement (it
    // would hold a character of it), nor span a junction, so every occurrence lies in an unchanged piece,
    // at its old place less a shift that keeps the order; the deciding occurrences are among them, and no
    // other one comes first in any search the cut made, since it would have come first in the read too.
    // The text the cut took is itself deciding, so it is unchanged.
    //
    // Which changes are such replacements, judged on what the document holds now (a later change of
    // the same node is judged again when it comes):
    // - the data of a text, comment or instruction the read wrote, still where it was, in an element whose
    //   inner markup lies apart: now non-empty and without a marker character (escaping adds none);
    // - the attributes of an element the read wrote, still where it was, whose start tag lies apart: each
    //   name and value without a marker character; none left only when the tag name holds no marker
    //   character ("<EM" and ">" would meet);
    // - the children of an element (or of a template's contents) the read wrote, still where it was,
    //   whose inner markup lies apart: now text nodes alone, without a marker character (its tags stand
    //   on either side: no marker spans "><");
    // - anything outside the root element (the doctype, comments beside the root), but for the root
    //   element itself, and anything in a tree the document no longer holds.
    // Anything else drops the read: an element put in anywhere, a change at the root's own children while
    // the cut found anything, a node that has been moved since the read, another root element, a node the
    // read did not write. Changes made between a read and the window's word on it are held and judged
    // once the word comes. Only what the cut depends on is kept: the links are read afresh at every pass.
    let generation = 0;   // of the last read of the markup
    let lastRead = null;  // that read's record, until the window's word on it or a change that drops it
    let heldChanges = []; // made since that read, to be judged on the window's word
    const MAX_HELD_CHANGES = 10000;
    const MAX_JUDGED_NODES = 64; // children or attributes looked at for one change: beyond, it drops
    let kept = null;             // {generation, root, startTags, inners, significant, anyStretch}
    let lastDropAt = now();      // when a read was last dropped (or the document began)
    let observer = null;
    let moved = new WeakSet(); // nodes taken out or put in since the last read
    const OBSERVED = {childList : true, characterData : true, attributes : true, subtree : true};
    const contentOwners = new WeakMap(); // a template's contents -> the template
    const isConnectedOf = getterOf(Node.prototype, 'isConnected');
    const rootNodeOf = Node.prototype.getRootNode;
    const childNodesOf = getterOf(Node.prototype, 'childNodes');

    const drop = () => {
        kept = null;
        lastRead = null;
        heldChanges = [];
        lastDropAt = now();
    };
    const holdsSignificant = (s) => kept.significant.test(s);
    // Whether a node is in the text the read wrote: in the document (the root's subtree: nothing else
    // of the document takes part in a change judged here), or in the contents of a template that is.
    const inText = (node) => {
        if (isConnectedOf.call(node)) return true;
        const owner = contentOwners.get(rootNodeOf.call(node));
        return owner !== undefined && inText(owner);
    };
    // The children of `parent` (an element, or a template's contents) now: text nodes alone, without a
    // marker character, and not too many to look at.
    const onlyHarmlessText = (parent) => {
        const children = childNodesOf.call(isTemplate(parent) ? templateContentOf.call(parent) : parent);
        const n = nodeListLength.call(children);
        if (n > MAX_JUDGED_NODES) return false;
        for (let i = 0; i < n; ++i) {
            const child = nodeListItem.call(children, i);
            if (nodeTypeOf.call(child) !== TEXT_NODE || holdsSignificant(dataOf.call(child))) return false;
        }
        return true;
    };
    // A change among the children of `target` (an element or a template's contents).
    const harmlessChildren = (target) => {
        const owner = nodeTypeOf.call(target) === ELEMENT_NODE ? target : contentOwners.get(target);
        if (owner === undefined || moved.has(owner)) return false;
        if (!inText(owner)) return true; // a tree the document no longer holds
        if (owner === kept.root ? kept.anyStretch : kept.inners.has(owner)) return false;
        return onlyHarmlessText(owner);
    };
    const harmless = (change) => {
        const target = change.target;
        switch (change.type) {
        case 'characterData': {
            const parent = parentOf.call(target);
            if (parent === null) return true;                           // in no tree
            if (nodeTypeOf.call(parent) === DOCUMENT_NODE) return true; // beside the root: in no part
            if (moved.has(target)) return harmlessChildren(parent);
            if (!inText(target)) return true;
            // Its data lies inside its parent's inner markup: apart from the deciding stretches when that is.
            const owner = nodeTypeOf.call(parent) === ELEMENT_NODE ? parent : contentOwners.get(parent);
            if (owner === undefined || (owner === kept.root ? kept.anyStretch : kept.inners.has(owner))) return false;
            const data = dataOf.call(target);
            return data !== '' && !holdsSignificant(data);
        }
        case 'attributes': {
            if (target === kept.root) return true; // the root's own start tag is in no part
            if (moved.has(target)) return false;
            if (!inText(target)) return true;
            if (kept.startTags.has(target)) return false;
            const attributes = attributesOf.call(target);
            const n = attributeCount.call(attributes);
            if (n > MAX_JUDGED_NODES) return false;
            if (n === 0) return !holdsSignificant(tagNameOf.call(target));
            for (let i = 0; i < n; ++i) {
                const a = attributeAt.call(attributes, i);
                if (holdsSignificant(attributeNameOf.call(a)) || holdsSignificant(attributeValueOf.call(a)))
                    return false;
            }
            return true;
        }
        case 'childList': {
            if (nodeTypeOf.call(target) === DOCUMENT_NODE) { // beside the root: in no part, but for the root itself
                const added = change.addedNodes, removed = change.removedNodes;
                for (let i = 0; i < nodeListLength.call(removed); ++i)
                    if (nodeTypeOf.call(nodeListItem.call(removed, i)) === ELEMENT_NODE) return false;
                for (let i = 0; i < nodeListLength.call(added); ++i)
                    if (nodeTypeOf.call(nodeListItem.call(added, i)) === ELEMENT_NODE) return false;
                return true;
            }
            return harmlessChildren(target);
        }
        default:
            return false;
        }
    };
    // Every node a change took out or put in counts as moved before any change of the batch is judged.
    const noteMoves = (changes) => {
        for (const change of changes) {
            if (change.type !== 'childList') continue;
            for (const list of [change.addedNodes, change.removedNodes])
                for (let i = 0, n = nodeListLength.call(list); i < n; ++i) moved.add(nodeListItem.call(list, i));
        }
    };
    const judgeAll = (changes) => {
        if (kept.root !== documentElementOf.call(document)) {
            drop();
            return false;
        }
        noteMoves(changes);
        for (const change of changes) {
            if (!harmless(change)) {
                drop();
                return false;
            }
        }
        return true;
    };
    const judge = (changes) => {
        if (changes.length === 0) return;
        if (kept !== null) {
            judgeAll(changes);
        } else if (lastRead !== null) {
            for (const change of changes) heldChanges.push(change);
            if (heldChanges.length > MAX_HELD_CHANGES) drop();
        }
    };
    const takeChanges = () => {
        if (observer !== null) judge(observer.takeRecords());
        // Another root element (document.open, say) is a change of the root itself.
        if (kept !== null && kept.root !== documentElementOf.call(document)) drop();
    };
    const observe = (record) => {
        if (observer === null) {
            observer = new MutationObserver(judge);
            observer.observe(document, OBSERVED);
        }
        for (const template of record.templates) {
            const content = templateContentOf.call(template);
            observer.observe(content, OBSERVED);
            contentOwners.set(content, template);
        }
    };
    // The window's word on the last read: these [start, end) stretches of its text decided the cut, and
    // the cut's markers are made of these characters.
    const keepRead = (readGeneration, stretches, characters) => {
        takeChanges();
        if (lastRead === null || lastRead.generation !== readGeneration || lastRead.hidden) return false;
        const touches = (start, end) => {
            for (let i = 0; i + 1 < stretches.length; i += 2)
                if (start <= stretches[i + 1] && stretches[i] <= end) return true;
            return false;
        };
        const r = lastRead.record;
        const startTags = new Set(), inners = new Set();
        for (let i = 0; i < r.elements.length; ++i) {
            if (touches(r.tagStarts[i], r.innerStarts[i])) startTags.add(r.elements[i]);
            if (touches(r.innerStarts[i], r.innerEnds[i])) inners.add(r.elements[i]);
        }
        const escaped = Array.from(characters, (c) => '\\u' + c.charCodeAt(0).toString(16).padStart(4, '0')).join('');
        kept = {
            generation : readGeneration,
            root : lastRead.root,
            startTags,
            inners,
            anyStretch : stretches.length > 0,
            significant : new RegExp('[' + (escaped || '\\u0000') + ']')
        };
        lastRead = null;
        const held = heldChanges;
        heldChanges = [];
        return judgeAll(held);
    };

    // The markup of the document: the root's inner markup with tagNames and, when `withRanges` (or when
    // some element's part is not a piece of the root's), where each element's part lies, in document
    // order: a [start, end) of the root's markup, or [-1 - k, 0] for the k-th of `hiddenParts`.
    const readMarkup = (root, withRanges, piecesOnly) => {
        takeChanges();
        const native = innerHtmlOf.call(root);
        let route = 'scan';
        let record = newRecord();
        let result = null;
        if (!piecesOnly) {
            const scanned = scanNames(root, native, record);
            if (scanned !== null) result = {text : native, engine : native, hidden : false, names : scanned};
        }
        if (result === null && !piecesOnly) {
            route = 'walk';
            record = newRecord();
            result = serializeInner(root, walkPieces, record);
        }
        let pieces = null;
        if (result === null || result.engine !== native) {
            route = 'pieces';
            pieces = enginePieces();
            record = newRecord();
            result = serializeInner(root, pieces, record);
        }
        const checked = result.engine === native;
        generation += 1;
        kept = null; // a new read supersedes the one kept: changes from now on are held for this one
        lastRead = {generation, record, hidden : result.hidden, root};
        heldChanges = [];
        moved = new WeakSet();
        observe(record);
        // A text crosses as a string when it holds no lone surrogate (which the way back has no room
        // for), else as its code units.
        const reply =
            {markup : loneSurrogate.test(result.text) ? units(result.text) : result.text, route, checked, generation};
        if (result.names) {
            reply.names = result.names.names;
            reply.tagNames = result.names.tags.map(units);
        }
        if (withRanges || result.hidden) {
            const inAll = new Map();
            for (let i = 0; i < record.elements.length; ++i) inAll.set(record.elements[i], i);
            const all = documentElementsByTag.call(document, '*');
            const n = collectionLength.call(all);
            const ranges = new Int32Array(2 * n);
            const hiddenParts = [];
            for (let k = 0; k < n; ++k) {
                const e = collectionItem.call(all, k);
                const i = e === root ? -1 : inAll.get(e);
                if (e === root) {
                    ranges[2 * k + 1] = result.text.length;
                } else if (i !== undefined) {
                    ranges[2 * k] = record.innerStarts[i];
                    ranges[2 * k + 1] = record.innerEnds[i];
                } else { // inside a void element or a template's own children: a part of its own
                    if (pieces === null) pieces = enginePieces();
                    ranges[2 * k] = -1 - hiddenParts.length;
                    hiddenParts.push(units(serializeInner(e, pieces, null).text));
                }
            }
            reply.ranges = ranges.buffer;
            reply.hiddenParts = hiddenParts;
        }
        return reply;
    };

    const textOf = (e) => {
        const text = innerTextOf.call(e);
        return typeof text === 'string' ? text : null;
    };
    const readTexts = () => {
        const all = documentElementsByTag.call(document, '*');
        const parts = [];
        for (let k = 0, n = collectionLength.call(all); k < n; ++k) {
            let text = null;
            try {
                text = textOf(collectionItem.call(all, k));
            } catch (error) {}
            parts.push(text === null ? null : units(text));
        }
        return {parts};
    };
    // Whether the root's markup holds `text`, read from the engine's own serialization (which differs
    // from the document text only in the case of element names).
    const holdsText = (text) => {
        const root = documentElementOf.call(document);
        return root !== null && innerHtmlOf.call(root).indexOf(text) >= 0;
    };
    const hrefOf = (e) => {
        if (e instanceof HTMLAnchorElement) return anchorHrefOf.call(e);
        if (e instanceof HTMLAreaElement) return areaHrefOf.call(e);
        if (e instanceof SVGAElement) return animatedBaseOf.call(svgHrefOf.call(e));
        return null;
    };
    const readLinks = () => {
        const links = linksOf.call(document);
        const result = [];
        for (let k = 0, n = collectionLength.call(links); k < n; ++k) {
            const a = collectionItem.call(links, k);
            let text = null, href = null;
            try {
                text = textOf(a);
            } catch (error) {}
            try {
                href = hrefOf(a);
            } catch (error) {}
            result.push([ text === null ? null : units(text), typeof href === 'string' ? href : null ]);
        }
        return result;
    };

    // The answer goes only into an element that holds a value the user could type or pick, through that
    // element's own setter: a page cannot redefine `value`, and a <meta> or <a name> of the field's name
    // is reported as no field rather than as written.
    const setterOf = (proto, name) => Object.getOwnPropertyDescriptor(proto, name).set;
    const inputTypeOf = getterOf(HTMLInputElement.prototype, 'type');
    const valueSetters = {
        input : setterOf(HTMLInputElement.prototype, 'value'),
        textarea : setterOf(HTMLTextAreaElement.prototype, 'value'),
        select : setterOf(HTMLSelectElement.prototype, 'value'),
    };
    const textInputTypes = [ 'text', 'search', 'url', 'tel', 'email', 'password' ];
    const arrayIncludes = Array.prototype.includes;
    const hasOwn = Object.prototype.hasOwnProperty;
    const valueSetterFor = (element) => {
        if (namespaceOf.call(element) !== XHTML) return null;
        const kind = localNameOf.call(element);
        if (!hasOwn.call(valueSetters, kind)) return null;
        try {
            if (kind === 'input' && !arrayIncludes.call(textInputTypes, inputTypeOf.call(element))) return null;
        } catch (error) {
            return null; // not really an input element
        }
        return valueSetters[kind];
    };

    const api = Object.freeze({
        // One read of the document, as `request` asks: {part, rootOnly, links, kept, requiredText} and,
        // for comparing the two ways of writing the markup, {piecesOnly}.
        // Always {hasDocument, token, links, scriptMs}: the links as [text, href] (the text as UTF-16 code
        // units, either null when it cannot be read), when `links`. Then by `part`:
        // - "html": {kept: true} when `kept` ({token, generation}) names the read this document still keeps;
        //   else a new read, {markup, route, checked, generation} (the markup a string, or its UTF-16 code
        //   units when it holds a lone surrogate), with the scan {names, tagNames} (each tagName to write
        //   over the engine's name at an offset: see scanNames) and, unless `rootOnly` (or when needed),
        //   {ranges, hiddenParts}: see readMarkup.
        // - "text": {parts}, each element's inner text as UTF-16 code units, or null when unreadable.
        // - none: {keptGeneration, quietMs}: the generation of the read kept (0: none) and how long ago a
        //   change last dropped a read; {holdsRequiredText} with `requiredText`.
        read : (request) => {
            const start = now();
            takeChanges();
            const root = documentElementOf.call(document);
            const reply = {hasDocument : root !== null, token, links : request.links ? readLinks() : []};
            if (request.part === 'html' && root !== null) {
                const wanted = request.kept;
                if (wanted && wanted.token === token && kept !== null && kept.generation === wanted.generation)
                    reply.kept = true;
                else
                    Object.assign(reply, readMarkup(root, !request.rootOnly, request.piecesOnly === true));
            } else if (request.part === 'text' && root !== null) {
                Object.assign(reply, readTexts());
            } else if (!request.part) {
                reply.keptGeneration = kept === null ? 0 : kept.generation;
                reply.quietMs = now() - lastDropAt;
                if (request.requiredText) reply.holdsRequiredText = holdsText(request.requiredText);
            }
            reply.scriptMs = now() - start;
            return reply;
        },
        // The window's word on the read of `generation` of the document `documentToken` names: keep it
        // while no change can touch `stretches` ([start, end, start, end, ...] offsets into its markup) or
        // put in any of `characters`. True when the read is kept.
        keepRead : (documentToken, readGeneration, stretches, characters) =>
            documentToken === token && keepRead(readGeneration, stretches, characters),
        // Sets the value of the first element named `name` (a text-like input, a textarea or a select;
        // anything else is no field) and dispatches input and change on it, as typing would, only in the
        // document that `documentToken` names. With `keepUserEdit`, a field the user has typed into since
        // the last write keeps what the user typed.
        writeField : (documentToken, name, value, keepUserEdit) => {
            if (documentToken !== token) return 'page-left';
            const field = nodeListItem.call(documentElementsByName.call(document, name), 0);
            const setValue = field ? valueSetterFor(field) : null;
            if (!setValue) return 'no-field';
            if (keepUserEdit && typedInto.has(field)) return 'kept-edit';
            try {
                setValue.call(field, value);
            } catch (error) { return 'no-field'; }
            typedInto.delete(field);
            dispatchEventOn.call(field, new Event('input', {bubbles : true}));
            dispatchEventOn.call(field, new Event('change', {bubbles : true}));
            return 'written';
        },
        // The link target of the element that has the focus in this document, or null.
        focusedLinkTarget : () => {
            const e = activeElementOf.call(document);
            const href = e ? hrefOf(e) : null;
            return typeof href === 'string' && href !== '' ? href : null;
        },
    });
    Object.defineProperty(window, API, {value : api});
})();
