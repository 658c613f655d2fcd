#pragma once

#include <QString>

// Every script the window runs in a page, in one place. They run in the application's own script
// world: they see the page's document but none of the page's globals, and the page cannot see theirs.
// Values go in as escaped string literals, never spliced in as code.
namespace Quillory::PageScripts {

// A JavaScript string literal that reads back as exactly `text`, every UTF-16 code unit included
// (lone surrogates too): everything outside printable ASCII, and quotes, backslash, '<', '>' and '&',
// is written as a \uXXXX escape.
QString stringLiteral(const QString &text);

// Returns {hasDocument, links, token} and either {parts} or {markup, tagNames}: each element's part (its
// inner markup with element names as tagName gives them, or its inner text; null when it cannot be
// read), or, for markup of an HTML document unless `exact` is set, the engine's own inner markup of
// the root element with the tagNames of the elements inside it (space-separated), the document's
// links as [text, href] pairs, and the token that names this document in our script world.
QString readPage(const QString &part, bool rootOnly, bool exact, bool withLinks, const QString &freshToken);

// Sets the value of the first element named `fieldName` and dispatches input and change on it, only
// while the document is still the one that `documentToken` names. Returns 'written', 'no-field' or
// 'page-left'.
QString writeField(const QString &documentToken, const QString &fieldName, const QString &value);

// The link target of the element that has the focus in the top-level document, or null.
QString focusedLinkTarget();

} // namespace Quillory::PageScripts
