// Writing the account envelope; JSON escaping itself is left to Qt's JSON writer.
#include "Envelope.h"

#include <QJsonArray>
#include <QJsonDocument>

QByteArray Envelope::escapeValue(const QString& value)
{
    // ["escaped"] -> escaped
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    QByteArray escaped = array.mid(2, array.size() - 4);
    // Inside escaped text a quote is always preceded by its own backslash, so \", can only be an
    // escaped quote followed by a comma.
    escaped.replace("\\\",", "\\u0022,");
    return escaped;
}

QByteArray Envelope::write(const std::vector<std::pair<const char*, QString>>& fields)
{
    QByteArray out = "{";
    bool first = true;
    for (const auto& [name, value] : fields) {
        if (!first)
            out += ',';
        first = false;
        out += '"';
        out += name;
        out += "\":\"";
        out += escapeValue(value);
        out += '"';
    }
    out += '}';
    return out;
}

QByteArray Envelope::error(const QString& message)
{
    return write({{"status", QStringLiteral("error")}, {"message", message}});
}
