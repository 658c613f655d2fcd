#pragma once

// Turning fuzzer bytes into the inputs of the text rules, and the checks every target shares.

#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace QuilloryFuzz {

// A failed invariant is a crash, so that libFuzzer keeps the input that caused it.
#define FUZZ_CHECK(condition)                                                                                \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "invariant failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__);          \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (false)

// Bytes that begin with FF FE are raw UTF-16LE code units (any unit, lone surrogates included); all
// other bytes are UTF-8, so that seeds stay readable and Chinese markers can be written as they are.
// Bytes that are not UTF-8 (GBK, say) become U+FFFD, as a wrongly decoded page would.
inline QString textFrom(QByteArrayView bytes)
{
    if (bytes.size() >= 2 && uint8_t(bytes[0]) == 0xff && uint8_t(bytes[1]) == 0xfe) {
        QString text;
        text.reserve((bytes.size() - 2) / 2);
        for (qsizetype i = 2; i + 1 < bytes.size(); i += 2)
            text.append(QChar(char16_t(uint8_t(bytes[i]) | (uint8_t(bytes[i + 1]) << 8))));
        return text;
    }
    return QString::fromUtf8(bytes);
}

// Splits at the first 01 byte: (before, after). Without one, everything is the first field.
inline std::pair<QByteArrayView, QByteArrayView> splitFields(QByteArrayView bytes)
{
    const qsizetype at = bytes.indexOf('\x01');
    if (at < 0)
        return {bytes, QByteArrayView()};
    return {bytes.first(at), bytes.sliced(at + 1)};
}

inline QByteArrayView bytesOf(const uint8_t *data, size_t size)
{
    return QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(size));
}

// Two bytes read as a signed 16-bit number, consumed from the front of `bytes`.
inline int takeInt16(QByteArrayView &bytes)
{
    if (bytes.size() < 2) {
        bytes = QByteArrayView();
        return 1;
    }
    const int value = int16_t(uint16_t(uint8_t(bytes[0]) | (uint8_t(bytes[1]) << 8)));
    bytes = bytes.sliced(2);
    return value;
}

// Maps a fuzzed number onto positions worth trying for a text of `size` code units: negative values
// stay (they must fail), others land on 0 .. size + 2, so inside, at the end and just past it.
inline qsizetype positionFor(int raw, qsizetype size)
{
    return raw < 0 ? qsizetype(raw) : qsizetype(raw) % (size + 3);
}

} // namespace QuilloryFuzz
