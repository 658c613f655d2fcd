#include "pagecharset.h"

#include <QList>

#include <cstring>

namespace Quillory {

namespace {

bool isAsciiSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

QByteArrayView trimmedAscii(QByteArrayView text)
{
    while (!text.isEmpty() && isAsciiSpace(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && isAsciiSpace(text.back()))
        text.chop(1);
    return text;
}

bool startsWithIgnoringCase(QByteArrayView text, qsizetype at, QByteArrayView prefix)
{
    return text.size() - at >= prefix.size() &&
           text.sliced(at, prefix.size()).compare(prefix, Qt::CaseInsensitive) == 0;
}

bool isAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The charset parameter of a Content-Type header value: `text/html; charset="gbk"` gives `gbk`.
QByteArray charsetParameter(QByteArrayView contentType)
{
    const QList<QByteArray> parts = contentType.toByteArray().split(';');
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QByteArray &part = parts.at(i);
        const qsizetype equals = part.indexOf('=');
        if (equals < 0 ||
            trimmedAscii(QByteArrayView(part).first(equals)).compare("charset", Qt::CaseInsensitive) != 0)
            continue;
        QByteArrayView value = trimmedAscii(QByteArrayView(part).sliced(equals + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.sliced(1, value.size() - 2);
        return trimmedAscii(value).toByteArray();
    }
    return {};
}

// The charset named in the content attribute of an http-equiv meta element ("text/html; charset=gbk"):
// the value after the first "charset" (any case) that is followed, blanks between, by "=". A quoted
// value runs to its closing quote (none: no charset), another to the first blank or ";".
QByteArray charsetFromMetaContent(QByteArrayView content)
{
    qsizetype pos = 0;
    for (;;) {
        qsizetype found = -1;
        for (qsizetype i = pos; i + 7 <= content.size(); ++i) {
            if (startsWithIgnoringCase(content, i, "charset")) {
                found = i;
                break;
            }
        }
        if (found < 0)
            return {};
        pos = found + 7;
        while (pos < content.size() && isAsciiSpace(content[pos]))
            ++pos;
        if (pos >= content.size() || content[pos] != '=')
            continue; // "charset" not followed by "=": look for the next one
        ++pos;
        while (pos < content.size() && isAsciiSpace(content[pos]))
            ++pos;
        if (pos >= content.size())
            return {};
        const char quote = content[pos];
        if (quote == '"' || quote == '\'') {
            const qsizetype end = content.indexOf(quote, pos + 1);
            return end < 0 ? QByteArray() : content.sliced(pos + 1, end - pos - 1).toByteArray();
        }
        qsizetype end = pos;
        while (end < content.size() && !isAsciiSpace(content[end]) && content[end] != ';')
            ++end;
        return content.sliced(pos, end - pos).toByteArray();
    }
}

struct TagAttribute
{
    QByteArray name; // lower case
    QByteArray value;
};

// Reads the attribute at `pos` inside a tag and moves past it; false at the tag's end. Blanks and "/"
// come before a name; the name (lower-cased) runs to a blank, "/", ">" or an "=" that is not its first
// character; a value follows an "=" (blanks around it allowed) and is quoted, to the closing quote or
// the end of the text, or unquoted, to a blank or ">".
bool readAttribute(QByteArrayView text, qsizetype &pos, TagAttribute &attribute)
{
    while (pos < text.size() && (isAsciiSpace(text[pos]) || text[pos] == '/'))
        ++pos;
    if (pos >= text.size() || text[pos] == '>')
        return false;
    attribute = {};
    while (pos < text.size()) {
        const char c = text[pos];
        if (c == '=' && !attribute.name.isEmpty())
            break;
        if (isAsciiSpace(c) || c == '/' || c == '>')
            break;
        attribute.name += char(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
        ++pos;
    }
    while (pos < text.size() && isAsciiSpace(text[pos]))
        ++pos;
    if (pos >= text.size() || text[pos] != '=')
        return true; // an attribute without a value
    ++pos;
    while (pos < text.size() && isAsciiSpace(text[pos]))
        ++pos;
    if (pos >= text.size())
        return true;
    const char quote = text[pos];
    if (quote == '"' || quote == '\'') {
        const qsizetype end = text.indexOf(quote, pos + 1);
        const qsizetype stop = end < 0 ? text.size() : end;
        attribute.value = text.sliced(pos + 1, stop - pos - 1).toByteArray();
        pos = end < 0 ? text.size() : end + 1;
        return true;
    }
    const qsizetype start = pos;
    while (pos < text.size() && !isAsciiSpace(text[pos]) && text[pos] != '>')
        ++pos;
    attribute.value = text.sliced(start, pos - start).toByteArray();
    return true;
}

// A label found inside the page itself: a page whose <meta> a scan of ASCII bytes could read is not
// UTF-16, whatever it declares, so every UTF-16 label ("unicode", "ucs-2", ...) means UTF-8 there.
QByteArray metaLabelFix(QByteArray label)
{
    const QByteArray lower = label.trimmed().toLower();
    if (lower.startsWith("utf-16") || lower == "unicode" || lower == "ucs-2" || lower == "iso-10646-ucs-2" ||
        lower == "unicodefeff" || lower == "unicodefffe" || lower == "csunicode")
        return "UTF-8";
    return label;
}

// A decoder for a label found in a page or its header. US-ASCII and ISO-8859-1 mean windows-1252: pages
// so labelled use its letters and signs at 0x80-0x9F (the euro sign, curly quotes), where the named
// charsets hold control codes or nothing.
QStringDecoder pageDecoderFor(QByteArrayView label)
{
    QStringDecoder decoder = decoderForCharset(label);
    if (decoder.isValid()) {
        const QByteArrayView canonical(decoder.name());
        if (canonical.compare("US-ASCII", Qt::CaseInsensitive) == 0 ||
            canonical.compare("ISO-8859-1", Qt::CaseInsensitive) == 0)
            return QStringDecoder("windows-1252", QStringConverter::Flag::Stateless);
    }
    return decoder;
}

// The first <meta charset> or <meta http-equiv="Content-Type" content="...charset=..."> that starts
// within the first `window` bytes and names a charset we can decode. Comments are skipped, and so are
// other tags, with their quoted attribute values (a ">" inside quotes does not end a tag).
QStringDecoder metaDeclaredDecoder(QByteArrayView body)
{
    constexpr qsizetype window = 4096;
    const qsizetype scanEnd = qMin(body.size(), window);
    // A tag that starts inside the window may end a little after it.
    const QByteArrayView text = body.first(qMin(body.size(), window + 1024));
    qsizetype pos = 0;
    while (pos < scanEnd) {
        const qsizetype lt = text.indexOf('<', pos);
        if (lt < 0 || lt >= scanEnd)
            break;
        pos = lt;
        if (startsWithIgnoringCase(text, pos, "<!--")) {
            const qsizetype end = text.indexOf("-->", pos + 4);
            if (end < 0)
                break;
            pos = end + 3;
            continue;
        }
        if (startsWithIgnoringCase(text, pos, "<meta") && pos + 5 < text.size() &&
            (isAsciiSpace(text[pos + 5]) || text[pos + 5] == '/')) {
            pos += 5;
            QByteArray charset;
            QByteArray content;
            bool contentTypeEquiv = false;
            TagAttribute attribute;
            while (readAttribute(text, pos, attribute)) {
                if (attribute.name == "charset" && charset.isNull())
                    charset = attribute.value.isNull() ? QByteArray("") : attribute.value;
                else if (attribute.name == "http-equiv")
                    contentTypeEquiv =
                        trimmedAscii(attribute.value).compare("content-type", Qt::CaseInsensitive) == 0;
                else if (attribute.name == "content" && content.isNull())
                    content = attribute.value.isNull() ? QByteArray("") : attribute.value;
            }
            QByteArray label = charset;
            if (label.isNull() && contentTypeEquiv && !content.isNull())
                label = charsetFromMetaContent(content);
            if (!label.trimmed().isEmpty()) {
                QStringDecoder decoder = pageDecoderFor(metaLabelFix(label));
                if (decoder.isValid())
                    return decoder;
            }
            continue;
        }
        if (pos + 1 < text.size() && (isAsciiLetter(text[pos + 1]) || text[pos + 1] == '/')) {
            // Another tag: skip its name and attributes.
            ++pos;
            while (pos < text.size() && !isAsciiSpace(text[pos]) && text[pos] != '>')
                ++pos;
            TagAttribute attribute;
            while (readAttribute(text, pos, attribute)) {
            }
            continue;
        }
        if (startsWithIgnoringCase(text, pos, "<!") || startsWithIgnoringCase(text, pos, "</") ||
            startsWithIgnoringCase(text, pos, "<?")) {
            const qsizetype end = text.indexOf('>', pos);
            if (end < 0)
                break;
            pos = end + 1;
            continue;
        }
        ++pos;
    }
    return {};
}

// Whether `bytes` are well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
// Stops at the first fault, so GBK pages are turned away after their first Chinese character.
bool isValidUtf8(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const auto *end = p + bytes.size();
    while (p < end) {
        // Plain ASCII, eight bytes at a time.
        while (end - p >= 8) {
            quint64 word;
            std::memcpy(&word, p, 8);
            if (word & 0x8080808080808080ull)
                break;
            p += 8;
        }
        if (p == end)
            break;
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int extra;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            if (c == 0xE0)
                low = 0xA0;
            else if (c == 0xED)
                high = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            if (c == 0xF0)
                low = 0x90;
            else if (c == 0xF4)
                high = 0x8F;
        } else {
            return false;
        }
        if (end - p <= extra)
            return false;
        if (p[1] < low || p[1] > high)
            return false;
        for (int i = 2; i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
        }
        p += extra + 1;
    }
    return true;
}

QString decodeWith(QStringDecoder &decoder, QByteArrayView bytes)
{
    return decoder.decode(bytes);
}

} // namespace

QStringDecoder decoderForCharset(QByteArrayView name)
{
    const QByteArray label = trimmedAscii(name).toByteArray();
    if (label.isEmpty())
        return {};
    QStringDecoder decoder(label.constData(), QStringConverter::Flag::Stateless);
    if (!decoder.isValid())
        return {};
    // ICU resolves every alias (and loose spellings) to its converter's name: decide on that.
    const QByteArrayView canonical(decoder.name());
    for (const char *member : {"GB2312", "GBK", "GB_2312-80", "GB18030", "windows-936"}) {
        if (canonical.compare(member, Qt::CaseInsensitive) == 0)
            return QStringDecoder("GB18030", QStringConverter::Flag::Stateless);
    }
    return decoder;
}

QString decodePageBody(const QByteArray &body, const QByteArray &contentType)
{
    const QByteArray declared = charsetParameter(contentType);
    if (!declared.isEmpty()) {
        QStringDecoder decoder = pageDecoderFor(declared);
        if (decoder.isValid())
            return decodeWith(decoder, body);
    }
    if (body.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(QByteArrayView(body).sliced(3));
    if (body.startsWith("\xFE\xFF")) {
        QStringDecoder decoder(QStringConverter::Utf16BE, QStringConverter::Flag::Stateless);
        return decoder.decode(QByteArrayView(body).sliced(2));
    }
    if (body.startsWith("\xFF\xFE")) {
        QStringDecoder decoder(QStringConverter::Utf16LE, QStringConverter::Flag::Stateless);
        return decoder.decode(QByteArrayView(body).sliced(2));
    }
    QStringDecoder meta = metaDeclaredDecoder(body);
    if (meta.isValid())
        return decodeWith(meta, body);
    if (isValidUtf8(body))
        return QString::fromUtf8(body);
    QStringDecoder gb18030("GB18030", QStringConverter::Flag::Stateless);
    return decodeWith(gb18030, body);
}

} // namespace Quillory
