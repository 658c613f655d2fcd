#include "directfetch.h"

#include "pagecharset.h"
#include "pagedownloader.h"

#include <QUrl>

// The direct fetches share the page downloader's network plumbing (one manager per call, a local
// event loop, the time-outs, the size cap, http and https only, redirects to http and https only) and
// its decoders. They differ from it only in what they add to the request and how they fail.

namespace Quillory {

std::optional<QString> GetText(const QString &url)
{
    // A synchronous request whose wait lets the window's events run: a local event loop that
    // processes everything. The body is the page's text whatever the status, decoded in the
    // response's own charset (Content-Type, BOM, <meta>, else UTF-8 or GB18030).
    DownloadRequest request;
    request.url = QUrl(url);
    request.waitFlags = QEventLoop::AllEvents;
    DownloadResult result = PageDownloader().fetch(request);
    if (!result.ok())
        return std::nullopt;
    return std::move(result.text);
}

QVariant GetBody(const QString &url, const QString &Coding)
{
    // Never fails: no response leaves the result empty; a charset name it does not know leaves the bytes.
    // The window blocks until the response is complete: its input waits, as it would behind a
    // synchronous request, while the network events that make progress still run.
    DownloadRequest request;
    request.url = QUrl(url);
    request.headers.append({QByteArrayLiteral("If-Modified-Since"), QByteArrayLiteral("0")});
    request.decodeText = false;
    request.waitFlags = QEventLoop::ExcludeUserInputEvents;
    DownloadResult result = PageDownloader().fetch(request);
    if (!result.ok())
        return {};
    QVariant body(std::move(result.body));
    if (std::optional<QVariant> text = BytesToBstr(body, QVariant(Coding)))
        return std::move(*text);
    return body;
}

std::optional<QVariant> BytesToBstr(const QVariant &strBody, const QVariant &CodeBase)
{
    if (strBody.typeId() != QMetaType::QByteArray || CodeBase.typeId() != QMetaType::QString)
        return std::nullopt;
    QStringDecoder decoder = decoderForCharset(CodeBase.toString().toLatin1());
    if (!decoder.isValid())
        return std::nullopt;
    // The whole body, from its first byte; a byte-order mark of the named charset at the start is no
    // part of the text.
    return QVariant(decoder.decode(strBody.toByteArray()));
}

} // namespace Quillory
