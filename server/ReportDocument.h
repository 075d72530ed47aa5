// A received report document: {"title", "fileName", "header": [...], "data": [{...}], "footer"}.
#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QString>
#include <QStringList>
#include <optional>

class ReportDocument
{
public:
    // Accepts a JSON object with "header" and "data" arrays; anything else is no report.
    static std::optional<ReportDocument> parse(const QByteArray& bytes);

    QString title() const;
    QString fileName() const;
    QString footer() const;
    bool hasFileName() const;
    QStringList header() const { return m_header; }
    qsizetype rowCount() const { return m_data.size(); }
    // The value of one cell as text. Rows are looked up by column name, so two columns of the
    // same name both show the value that JSON keeps for that name (the last one).
    QString cell(qsizetype row, qsizetype column) const;

    // RFC 4180 in UTF-8 with a byte-order mark: CR LF line ends, a field quoted when it holds a
    // quote, comma, CR or LF, the header row first; a field that a spreadsheet would run as a
    // formula gets a leading apostrophe.
    QByteArray toCsv() const;

private:
    QJsonDocument m_document;
    QStringList m_header;
    QJsonArray m_data;
};
