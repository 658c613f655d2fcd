#pragma once

#include "browserpane.h"

#include <QString>

#include <functional>
#include <optional>

// The document text: the page the pane shows as one text, a carriage return before each element's
// part (its inner markup, or its inner text), in document order.
namespace Quillory {

// The joining rule: a carriage return before each element's part, in document order. A part that could
// not be read adds nothing, not even its carriage return; an empty part adds the carriage return alone.
QString joinDocumentParts(const QList<std::optional<QString>> &parts);

// The document text of what one read returned: no document gives the empty text, and so does a read
// the page answered with "kept" (the reader holds that text's outcome already). The markup's element
// names are already as tagName gives them; a read of the root's part alone gives that part alone.
QString documentText(const PageSnapshot &page);

// Reads the page and gives the document text with the snapshot it came from. `done` runs later,
// never once `context` is gone.
void readDocumentText(BrowserPane &pane, const PageReadRequest &request, QObject *context,
                      std::function<void(const PageSnapshot &page, const QString &text)> done);

// The shown document as one text, from each element's inner markup (getWebHtml) or inner text
// (getWebContent). No document gives the empty text. The result arrives through `done`.
void getWebHtml(BrowserPane &Browser, QObject *context, std::function<void(const QString &)> done);
void getWebContent(BrowserPane &Browser, QObject *context, std::function<void(const QString &)> done);

} // namespace Quillory
