// The report-request text the service hands out: "Urut:" and a number, then blocks for the file
// name, the SQL and the title, separated by empty lines.
#pragma once

#include <QString>

struct ReportRequest
{
    qint32 Urut = 0;
    QString FileName;
    QString Sql;
    QString Title;
};

// Every bare LF becomes CR LF; a CR LF that is already there stays as it is, so that a reply
// written either way splits into the same blocks.
QString NormalizeLineEnds(const QString& text);

struct ParsedRequest
{
    enum Status
    {
        NotARequest, // does not begin with "Urut:" (letter case as written): silently ignored
        Malformed,   // begins with "Urut:" but cannot be run; `problem` says why
        Ok
    };
    Status status = NotARequest;
    ReportRequest request;
    QString problem;
};

// Reads a normalised reply. Labels are skipped by their length (9, 7 and 10 characters) and
// never compared; values run to the end of their block, line breaks and blanks included.
ParsedRequest ParseReportRequest(const QString& text);
