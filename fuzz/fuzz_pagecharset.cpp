// decodePageBody on a Content-Type value and a body: never crashes and gives the same text twice. A
// charset parameter that names a known charset decides alone, whatever the body holds: the text is the
// body through decoderForCharset of that name, except that ISO-8859-1 and US-ASCII read as
// windows-1252. A parameter that names no known charset counts as no header at all. Without one, a
// byte-order mark decides; without that and without any <meta, the text is the body as UTF-8 when the
// bytes are valid UTF-8, else as GB18030. Every name of the GBK family decodes as GB18030.
// Input: Content-Type value 01 body.

#include "fuzzinput.h"
#include "pagetext/pagecharset.h"

#include <QList>
#include <QStringDecoder>

using namespace QuilloryFuzz;

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

QByteArray trimmedBlanks(QByteArray text)
{
    while (!text.isEmpty() && isBlank(text.front()))
        text.remove(0, 1);
    while (!text.isEmpty() && isBlank(text.back()))
        text.chop(1);
    return text;
}

// The charset parameter written out: the pieces after the first ";" are the parameters; the first whose
// name (before its first "=", blanks trimmed) is "charset" in any case gives its value, blanks trimmed,
// one pair of like quotes around it taken off, blanks trimmed again.
QByteArray charsetParameterLiterally(const QByteArray &contentType)
{
    const QList<QByteArray> pieces = contentType.split(';');
    for (qsizetype i = 1; i < pieces.size(); ++i) {
        const qsizetype equals = pieces[i].indexOf('=');
        if (equals < 0 || trimmedBlanks(pieces[i].left(equals)).toLower() != "charset")
            continue;
        QByteArray value = trimmedBlanks(pieces[i].mid(equals + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.mid(1, value.size() - 2);
        return trimmedBlanks(value);
    }
    return {};
}

bool nameIs(QByteArrayView name, QByteArrayView other)
{
    return name.compare(other, Qt::CaseInsensitive) == 0;
}

// A decoder that keeps nothing back: an incomplete sequence at the end decodes as a replacement.
constexpr auto stateless = QStringConverter::Flag::Stateless;

QString decodeWhole(QStringDecoder decoder, QByteArrayView bytes)
{
    return decoder.decode(bytes);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto [headerBytes, bodyBytes] = splitFields(bytesOf(data, size));
    const QByteArray contentType = headerBytes.toByteArray();
    const QByteArray body = bodyBytes.toByteArray();

    const QString text = Quillory::decodePageBody(body, contentType);
    FUZZ_CHECK(text == Quillory::decodePageBody(body, contentType));

    const QByteArray label = charsetParameterLiterally(contentType);
    QStringDecoder named = Quillory::decoderForCharset(label);
    if (named.isValid()) {
        const QByteArrayView name(named.name());
        for (const char *member : {"GB2312", "GBK", "GB_2312-80", "windows-936"})
            FUZZ_CHECK(!nameIs(name, member));
        if (nameIs(name, "ISO-8859-1") || nameIs(name, "US-ASCII"))
            named = Quillory::decoderForCharset("windows-1252");
        FUZZ_CHECK(named.isValid());
        FUZZ_CHECK(text == decodeWhole(std::move(named), body));
        return 0;
    }
    FUZZ_CHECK(text == Quillory::decodePageBody(body, QByteArray()));

    if (body.startsWith("\xEF\xBB\xBF")) {
        FUZZ_CHECK(text == QString::fromUtf8(QByteArrayView(body).sliced(3)));
    } else if (body.startsWith("\xFE\xFF")) {
        FUZZ_CHECK(text == decodeWhole(QStringDecoder(QStringConverter::Utf16BE, stateless),
                                       QByteArrayView(body).sliced(2)));
    } else if (body.startsWith("\xFF\xFE")) {
        FUZZ_CHECK(text == decodeWhole(QStringDecoder(QStringConverter::Utf16LE, stateless),
                                       QByteArrayView(body).sliced(2)));
    } else if (!body.toLower().contains("<meta")) {
        // Valid UTF-8 is exactly what decodes and encodes back to the same bytes.
        const QString utf8 = QString::fromUtf8(body);
        const bool validUtf8 = utf8.toUtf8() == body;
        FUZZ_CHECK(text == (validUtf8 ? utf8 : decodeWhole(QStringDecoder("GB18030", stateless), body)));
    }
    return 0;
}
