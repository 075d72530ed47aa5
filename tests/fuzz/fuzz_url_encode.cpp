// Fuzzes the two encoders of values sent to the service. The form encoding is decoded again
// with an independent Windows-1252 table (ICU's, through Qt) and must give every character back,
// or "?" for one the code page lacks; the query encoding must round-trip through QUrl.
#include "FuzzText.h"

#include "service/ServiceClient.h"

#include <QStringEncoder>
#include <QUrl>

namespace {

bool isAsciiAlnum(char16_t c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

// The Windows-1252 byte of a character, or -1 when the code page has none (ICU writes nothing
// at all for the default-ignorable ones). The table is made once per process.
int windows1252Byte(char32_t cp)
{
    static const QList<int> table = [] {
        QList<int> values(0x10000, -1);
        for (char32_t c = 0; c < 0x10000; ++c) {
            if (QChar::isSurrogate(c))
                continue;
            QStringEncoder encoder("windows-1252", QStringConverter::Flag::Stateless);
            const QByteArray bytes = encoder.encode(QString(QChar(char16_t(c))));
            if (!encoder.hasError() && bytes.size() == 1)
                values[c] = uchar(bytes[0]);
        }
        return values;
    }();
    return cp < 0x10000 ? table[cp] : -1;
}

int hexDigit(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1; // lower-case digits are not what the service has always received
}

void checkFormEncoding(const QString& text)
{
    const QString encoded = UrlEncode(text);
    const QList<uint> codePoints = text.toUcs4();

    // Decode: letters and digits stand for themselves, "+" for a blank, "%XY" for one byte.
    QList<int> bytes;
    QList<bool> literal;
    for (qsizetype i = 0; i < encoded.size(); ++i) {
        const char16_t c = encoded[i].unicode();
        literal.append(isAsciiAlnum(c));
        if (isAsciiAlnum(c)) {
            bytes.append(c);
        } else if (c == u'+') {
            bytes.append(' ');
        } else {
            FUZZ_CHECK(c == u'%' && i + 2 < encoded.size() &&
                           hexDigit(encoded[i + 1].unicode()) >= 0 &&
                           hexDigit(encoded[i + 2].unicode()) >= 0,
                       fuzz::show(text) + " -> " + fuzz::show(encoded));
            bytes.append(hexDigit(encoded[i + 1].unicode()) * 16 +
                         hexDigit(encoded[i + 2].unicode()));
            i += 2;
        }
    }
    FUZZ_CHECK(bytes.size() == codePoints.size(), fuzz::show(text) + " -> " + fuzz::show(encoded));

    for (qsizetype i = 0; i < codePoints.size(); ++i) {
        const char32_t cp = codePoints[i];
        const int expected = windows1252Byte(cp);
        const auto where = [&] {
            return fuzz::show(text) + " -> " + fuzz::show(encoded) +
                   QStringLiteral(" at U+%1").arg(uint(cp), 4, 16, QLatin1Char('0'));
        };
        if (cp >= 0x80 && cp <= 0x9F && expected == int(cp)) {
            // The five bytes Windows-1252 leaves undefined: ICU maps them to the C1 controls of
            // the same value, the agent sends "?" for those controls. Either is acceptable.
            FUZZ_CHECK(bytes[i] == int(cp) || bytes[i] == '?', where());
            continue;
        }
        FUZZ_CHECK(bytes[i] == (expected < 0 ? '?' : expected), where());
        // Letters and digits, and only they, pass unencoded.
        FUZZ_CHECK(literal[i] == (cp < 0x80 && isAsciiAlnum(char16_t(cp))), where());
    }
}

void checkQueryEncoding(const QString& text)
{
    const QString encoded = QueryValue(text);
    for (const QChar c : encoded) {
        // Nothing that would end or split a query value may stay as it is.
        FUZZ_CHECK(c.unicode() > 0x20 && c.unicode() < 0x7F && c != QLatin1Char('&') &&
                       c != QLatin1Char('#') && c != QLatin1Char('=') && c != QLatin1Char('+'),
                   fuzz::show(text) + " -> " + fuzz::show(encoded));
    }
    // Lone surrogates cannot survive UTF-8 in any encoder; compare what can.
    if (fuzz::withLoneSurrogatesReplaced(text) == text)
        FUZZ_CHECK(QUrl::fromPercentEncoding(encoded.toLatin1()) == text,
                   fuzz::show(text) + " -> " + fuzz::show(encoded));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = fuzz::decodeLoose(data, size);
    checkFormEncoding(text);
    checkQueryEncoding(text);
    return 0;
}
