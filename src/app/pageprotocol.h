#pragma once

#include "pagetext/browserpane.h"

#include <QString>
#include <QVariant>

// The protocol between the window and the page script (scripts/page.js), both ways: the script itself,
// installed once per document in the application's own script world, every call the window sends it,
// and what the window makes of each reply. The browser page only runs the calls and hands the replies
// back here. Values go into a call as escaped string literals, never spliced in as code.
namespace Quillory::PageProtocol {

// The page script's source.
QString scriptSource();

// Whether a call found the document without the page script (one the engine made before the script was
// installed, or an error page): run `scriptSource()` in it, then the call again.
bool isNotInstalled(const QVariant &reply);

// A JavaScript string literal that reads back as exactly `text`, every UTF-16 code unit included
// (lone surrogates too): everything outside printable ASCII, and quotes, backslash, '<', '>' and '&',
// is written as a \uXXXX escape.
QString stringLiteral(const QString &text);

// One read of the document as `request` asks: see `read` in the page script. `piecesOnly`: the markup
// with every piece but the names from the engine, never from the script's own serializer.
QString readCall(const PageReadRequest &request, bool piecesOnly = false);
// The read's reply; `scope` is the request's. No reply (an invalid variant) reads as no document.
PageSnapshot readReply(const QVariant &reply, ElementScope scope);

// Asks the page to keep a read (`keepRead` in the page script); the reply: whether it does.
QString keepReadCall(const ReadToKeep &keep);
bool keepReadReply(const QVariant &reply);

// Writes the answer field of the document that `documentToken` names, unless `keepUserEdit` and the user
// has typed into it since the last write. A reply the page script never gives, or none, is NoAnswer.
QString writeFieldCall(const QString &documentToken, const QString &fieldName, const QString &value,
                       bool keepUserEdit);
FieldWrite writeFieldReply(const QVariant &reply);

// The link target of the element that has the focus in the top-level document; "" when it has none.
QString focusedLinkCall();
QString focusedLinkReply(const QVariant &reply);

} // namespace Quillory::PageProtocol
