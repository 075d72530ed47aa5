// The fields of an application/x-www-form-urlencoded request body.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

class FormFields
{
public:
    // The agent encodes form values byte by byte in the Windows Western code page; browsers and
    // scripts encode them as UTF-8.
    enum class Charset
    {
        Windows1252,
        Utf8
    };

    static FormFields parse(const QByteArray& body, Charset charset);

    bool contains(const QString& key) const { return m_fields.contains(key); }
    QString value(const QString& key) const { return m_fields.value(key); }

private:
    QHash<QString, QString> m_fields;
};

namespace Cp1252 {
// Decodes Windows-1252 bytes, through ICU where Qt has it, else through decodeWithTable.
QString decode(const QByteArray& bytes);
// The same mapping without ICU: Latin-1 with the 0x80-0x9F block replaced. The five bytes that
// Windows-1252 leaves undefined map to the control characters of the same value, as Windows does.
QString decodeWithTable(const QByteArray& bytes);
} // namespace Cp1252
