// Form body decoding: "+" is a space, %XX a byte, the bytes are text in the body's charset.
#include "FormFields.h"

#include <QStringDecoder>

namespace {

QString decodeComponent(QByteArray raw, FormFields::Charset charset)
{
    raw.replace('+', ' ');
    const QByteArray bytes = QByteArray::fromPercentEncoding(raw);
    return charset == FormFields::Charset::Utf8 ? QString::fromUtf8(bytes) : Cp1252::decode(bytes);
}

} // namespace

FormFields FormFields::parse(const QByteArray& body, Charset charset)
{
    FormFields form;
    for (const QByteArray& pair : body.split('&')) {
        if (pair.isEmpty())
            continue;
        const qsizetype equals = pair.indexOf('=');
        const QByteArray key = equals < 0 ? pair : pair.left(equals);
        const QByteArray value = equals < 0 ? QByteArray() : pair.mid(equals + 1);
        // A key sent twice keeps its last value, as PHP services behave.
        form.m_fields.insert(decodeComponent(key, charset), decodeComponent(value, charset));
    }
    return form;
}

QString Cp1252::decode(const QByteArray& bytes)
{
    QStringDecoder decoder("windows-1252");
    if (decoder.isValid())
        return decoder.decode(bytes);
    return decodeWithTable(bytes);
}

QString Cp1252::decodeWithTable(const QByteArray& bytes)
{
    static const char16_t block80[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    QString text = QString::fromLatin1(bytes);
    for (QChar& ch : text) {
        if (ch.unicode() >= 0x80 && ch.unicode() <= 0x9F)
            ch = QChar(block80[ch.unicode() - 0x80]);
    }
    return text;
}
