#pragma once

#include "pagetext/browserpane.h"

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

// One read of the document as `request` asks: see `read` in the page script. `piecesOnly`: the markup
// with every piece but the names from the engine, never from the script's own serializer.
QString readPage(const PageReadRequest &request, bool piecesOnly = false);

// Asks the page to keep a read: true when it does (`keepRead` in the page script).
QString keepRead(const ReadToKeep &keep);

// Writes the answer field of the document that `documentToken` names, unless `keepUserEdit` and the user
// has typed into it since the last write: 'written', 'kept-edit', 'no-field' or
// 'page-left'.
QString writeField(const QString &documentToken, const QString &fieldName, const QString &value,
                   bool keepUserEdit);

// The link target of the element that has the focus in the top-level document, or null.
QString focusedLinkTarget();

} // namespace Quillory::PageScripts
