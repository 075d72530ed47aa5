// How the viewer shows a report: which columns hold numbers or dates, how such values read in
// Indonesian, and which rows a search and a sort give.
#pragma once

#include "ReportDocument.h"

#include <QList>
#include <QString>

namespace ReportView {

enum class ColumnKind
{
    Text,
    Number,
    Date
};

// A whole or decimal number as the agent writes one: optional sign, digits, one "." or "," before
// the decimals. A leading zero before more digits (a telephone number, a code) is text.
bool isPlainNumber(QStringView value);
// 1234567.5 and 1234567,5 read 1.234.567,5; the digits are kept exactly.
QString numberText(QStringView value);
// 2026-12-07 reads 7 Des 2026; 2026-12-07 10:15:00 reads 7 Des 2026 10.15 (seconds when not
// zero); anything else is empty.
QString dateText(QStringView value);

// Number or Date when every non-empty value of the column's first 5,000 rows is one (and one at
// least is there).
QList<ColumnKind> columnKinds(const ReportDocument& document);

// The rows (indices into the document) that contain the search text in any cell, ignoring letter
// case, in the order of the column sortColumn (-1: as received); empty values last either way.
QList<qsizetype> rows(const ReportDocument& document, const QList<ColumnKind>& kinds,
                      const QString& search, int sortColumn, bool descending);

} // namespace ReportView
