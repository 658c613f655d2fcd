#pragma once

#include "browserpane.h"

#include <QString>

#include <functional>
#include <optional>

namespace Quillory {

// The joining rule of the document text: a carriage return before each element's part, in document
// order. A part that could not be read adds nothing, not even its carriage return; an empty part adds
// the carriage return alone.
QString joinDocumentParts(const QList<std::optional<QString>> &parts);

// The shown document as one text, from each element's inner markup (getWebHtml) or inner text
// (getWebContent). No document gives the empty text. The result arrives through `done`.
void getWebHtml(BrowserPane &Browser, QObject *context, std::function<void(const QString &)> done);
void getWebContent(BrowserPane &Browser, QObject *context, std::function<void(const QString &)> done);

} // namespace Quillory
