#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringDecoder>

// The character set of a downloaded page: which one the response and the page declare, and the
// decoders behind the names. Plain bytes in, text out: no network.
namespace Quillory {

// Decodes a downloaded page: the Content-Type charset, else a byte-order mark, else a <meta> charset
// declaration near the start, else UTF-8 when the bytes are valid UTF-8, else GB18030.
QString decodePageBody(const QByteArray &body, const QByteArray &contentType);

// A stateless decoder for the charset called `name` (trimmed; any name or alias ICU knows). The GBK
// family (every name ICU resolves to GB2312, GB_2312-80, GBK or GB18030: "gb2312", "x-gbk", "cp936",
// "euc-cn", ...) decodes as GB18030, its superset: pages that say GB2312 are written in GBK, and ICU's
// own GB2312 knows only EUC-CN and would garble their GBK characters. An invalid decoder when the name
// is unknown.
QStringDecoder decoderForCharset(QByteArrayView name);

} // namespace Quillory
