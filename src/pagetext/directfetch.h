#pragma once

#include <QString>
#include <QVariant>

#include <optional>

namespace Quillory {

// Direct fetches over HTTP, without the browser pane and without the page downloader.

// The body of a synchronous GET of exactly `url`, whatever the status; nothing when the request fails.
// While it waits, the calling thread's pending events are processed.
std::optional<QString> GetText(const QString &url);

// The body of a GET with "If-Modified-Since: 0", decoded from `Coding`. A value that holds the text,
// or the raw bytes (QByteArray) when `Coding` names no known charset, or an invalid value when no
// response was obtained. Never fails.
QVariant GetBody(const QString &url, const QString &Coding = QStringLiteral("GB2312"));

// Decodes the bytes held by `strBody` from the charset named by `CodeBase`; nothing when either value
// holds the wrong kind of data or the charset is unknown.
std::optional<QVariant> BytesToBstr(const QVariant &strBody, const QVariant &CodeBase);

} // namespace Quillory
