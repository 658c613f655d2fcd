// The hidden page's script (renderedpage.h): whether the document has changed since the loader last
// looked, and the document's markup as the engine serializes it. Installed in the application's own script world of
// every document of the hidden page before the page's own scripts run; the page shares the document with it but none of
// its globals, so it cannot reach this script or change what it reads.
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
    const outerHtmlOf = getterOf(Element.prototype, 'outerHTML');
    const readyStateOf = getterOf(Document.prototype, 'readyState');

    // A change is a node added or removed, or a text changed: that is how a list built from data arrives.
    // Attribute changes are left out, as animations and hover states change style and class attributes all
    // the time and would make the loader read a page that has nothing new.
    //
    // The parser's own changes are of no account: the loader reads the document once the parser is done
    // in any case, and watching a long document being parsed would slow its load by a third. So the
    // watch begins once the parser is done, and counts that as the first change.
    let changes = 0;
    const observer = new MutationObserver(() => { ++changes; });
    const watch = () => {
        ++changes;
        MutationObserver.prototype.observe.call(observer, document,
                                                {childList : true, characterData : true, subtree : true});
    };
    if (readyStateOf.call(document) === 'loading')
        EventTarget.prototype.addEventListener.call(document, 'DOMContentLoaded', watch, {once : true});
    else
        watch();

    Object.defineProperty(window, API, {
        value : Object.freeze({
            // How many times the document has changed since the watch began: the loader reads the
            // document again only when this has moved.
            changes : () => changes,
            // The doctype as the engine's serializer writes one ("<!DOCTYPE html>"), then the root's own outer
            // markup: the whole document, as a served page would begin, with names as the engine writes them.
            markup : () => {
                const root = documentElementOf.call(document);
                const doctype = doctypeOf.call(document);
                return (doctype ? '<!DOCTYPE ' + doctypeNameOf.call(doctype) + '>' : '') +
                       (root ? outerHtmlOf.call(root) : '');
            },
        })
    });
})
