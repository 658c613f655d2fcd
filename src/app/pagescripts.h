#pragma once

#include <QString>

// The window's side of the page script (scripts/page.js): the script itself, installed once per
// document in the application's own script world, and the short calls that the window sends it.
// Values go into a call as escaped string literals, never spliced in as code.
namespace Quillory::PageScripts {

// What a call evaluates to when the document lacks the page script (one the engine made before the
// script was installed, or an error page): run `setup()` in it, then the call again.
inline constexpr auto notInstalled = "quillory:not-installed";

// The page script's source.
QString setup();

// A JavaScript string literal that reads back as exactly `text`, every UTF-16 code unit included
// (lone surrogates too): everything outside printable ASCII, and quotes, backslash, '<', '>' and '&',
// is written as a \uXXXX escape.
QString stringLiteral(const QString &text);

// {hasDocument, token, links} and either {parts} or {markup} with {tagNames} or {elementCount}: see
// `read` in the page script. `part` is "html", "text", or "" for no parts.
QString readPage(const QString &part, bool rootOnly, bool exact, bool withLinks, const QString &requiredText);

// Writes the answer field of the document that `documentToken` names, unless `keepUserEdit` and the user
// has typed into it since the last write: 'written', 'kept-edit', 'no-field' or
// 'page-left'.
QString writeField(const QString &documentToken, const QString &fieldName, const QString &value,
                   bool keepUserEdit);

// The link target of the element that has the focus in the top-level document, or null.
QString focusedLinkTarget();

} // namespace Quillory::PageScripts
