// Reading report documents.
#include "ReportDocument.h"

#include "ReportView.h"

#include <QJsonObject>

std::optional<ReportDocument> ReportDocument::parse(const QByteArray& bytes)
{
    QJsonParseError error;
    ReportDocument report;
    report.m_document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !report.m_document.isObject())
        return std::nullopt;
    const QJsonObject root = report.m_document.object();
    if (!root.value("header").isArray() || !root.value("data").isArray())
        return std::nullopt;
    for (const QJsonValue& name : root.value("header").toArray())
        report.m_header.append(name.toVariant().toString());
    report.m_data = root.value("data").toArray();
    return report;
}

QString ReportDocument::title() const
{
    return m_document.object().value("title").toVariant().toString();
}

QString ReportDocument::fileName() const
{
    return m_document.object().value("fileName").toVariant().toString();
}

bool ReportDocument::hasFileName() const
{
    return m_document.object().contains("fileName");
}

QString ReportDocument::footer() const
{
    return m_document.object().value("footer").toVariant().toString();
}

QString ReportDocument::cell(qsizetype row, qsizetype column) const
{
    if (row < 0 || row >= m_data.size() || column < 0 || column >= m_header.size())
        return {};
    const QJsonValue value = m_data.at(row).toObject().value(m_header.at(column));
    // The agent writes every value as a string; other JSON values are shown as Qt writes them.
    return value.isString() ? value.toString() : value.toVariant().toString();
}

namespace {

// A spreadsheet takes a cell that begins with one of these for a formula (or, with a tab or a
// line break, shifts it); a leading apostrophe makes it text. Plain signed numbers stay numbers.
bool looksLikeFormula(const QString& field)
{
    static const QString starts = QStringLiteral("=+-@\t\r");
    return !field.isEmpty() && starts.contains(field.front()) && !ReportView::isPlainNumber(field);
}

void appendCsvField(QByteArray& out, const QString& field)
{
    const QByteArray bytes = looksLikeFormula(field) ? '\'' + field.toUtf8() : field.toUtf8();
    const bool quote =
        bytes.contains('"') || bytes.contains(',') || bytes.contains('\r') || bytes.contains('\n');
    if (!quote) {
        out += bytes;
        return;
    }
    out += '"';
    for (char ch : bytes) {
        if (ch == '"')
            out += '"';
        out += ch;
    }
    out += '"';
}

} // namespace

QByteArray ReportDocument::toCsv() const
{
    // The byte-order mark is how Excel on Windows knows the file is UTF-8.
    QByteArray out = "\xEF\xBB\xBF";
    const auto appendRow = [&out](const QStringList& fields) {
        for (qsizetype i = 0; i < fields.size(); ++i) {
            if (i > 0)
                out += ',';
            appendCsvField(out, fields.at(i));
        }
        out += "\r\n";
    };
    appendRow(m_header);
    QStringList fields;
    for (qsizetype row = 0; row < m_data.size(); ++row) {
        fields.clear();
        for (qsizetype column = 0; column < m_header.size(); ++column)
            fields.append(cell(row, column));
        appendRow(fields);
    }
    return out;
}
