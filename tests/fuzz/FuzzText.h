// Helpers shared by the fuzz targets: turning fuzzer bytes into texts that reach every UTF-16
// code unit, and a check that ends the run loudly so that libFuzzer keeps the input.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

// Fails the run: libFuzzer saves the input as a crash.
[[noreturn]] inline void fail(const char* what, const QString& detail = {})
{
    std::fprintf(stderr, "FUZZ CHECK FAILED: %s\n%s\n", what, detail.toUtf8().constData());
    std::abort();
}

#define FUZZ_CHECK(cond, detail)                                                                   \
    do {                                                                                           \
        if (!(cond))                                                                               \
            ::fuzz::fail(#cond, (detail));                                                         \
    } while (false)

// Reads bytes as UTF-8, but lets through what a strict decoder refuses, so that the corpus stays
// readable while lone surrogates and every control character stay reachable: a three-byte form
// of a surrogate gives that surrogate alone, and a byte that starts no valid sequence stands for
// the character of the same value.
inline QString decodeLoose(const char* data, qsizetype size)
{
    QString out;
    out.reserve(size);
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    qsizetype i = 0;
    const auto cont = [&](qsizetype at) { return at < size && (p[at] & 0xC0) == 0x80; };
    while (i < size) {
        const unsigned char b = p[i];
        if (b >= 0xC2 && b < 0xE0 && cont(i + 1)) {
            out += QChar(char16_t(((b & 0x1F) << 6) | (p[i + 1] & 0x3F)));
            i += 2;
        } else if (b >= 0xE0 && b < 0xF0 && cont(i + 1) && cont(i + 2)) {
            const char16_t u =
                char16_t(((b & 0x0F) << 12) | ((p[i + 1] & 0x3F) << 6) | (p[i + 2] & 0x3F));
            out += QChar(u >= 0x800 ? u : char16_t(b));
            i += u >= 0x800 ? 3 : 1;
        } else if (b >= 0xF0 && b < 0xF5 && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
            const char32_t cp = (char32_t(b & 0x07) << 18) | (char32_t(p[i + 1] & 0x3F) << 12) |
                                (char32_t(p[i + 2] & 0x3F) << 6) | char32_t(p[i + 3] & 0x3F);
            if (cp >= 0x10000 && cp <= 0x10FFFF) {
                out += QString::fromUcs4(&cp, 1);
                i += 4;
            } else {
                out += QChar(char16_t(b));
                ++i;
            }
        } else {
            out += QChar(char16_t(b));
            ++i;
        }
    }
    return out;
}

inline QString decodeLoose(const uint8_t* data, size_t size)
{
    return decodeLoose(reinterpret_cast<const char*>(data), qsizetype(size));
}

// Splits at a separator character, keeping empty fields.
inline QList<QString> fields(const QString& text, QChar separator)
{
    return text.split(separator, Qt::KeepEmptyParts);
}

// What a JSON string written from `text` reads back as: a surrogate without its partner cannot
// be written as UTF-8 and becomes U+FFFD.
inline QString withLoneSurrogatesReplaced(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            out += c;
            out += text[++i];
        } else if (c.isSurrogate()) {
            out += QChar(0xFFFD);
        } else {
            out += c;
        }
    }
    return out;
}

// A short, printable rendering of a text for failure messages.
inline QString show(const QString& text)
{
    QString out;
    for (const QChar c : text.left(200)) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || c.isSurrogate())
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return QLatin1Char('"') + out + (text.size() > 200 ? QStringLiteral("...\"") : "\"");
}

} // namespace fuzz
