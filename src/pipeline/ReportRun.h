// Running one report: the request's SQL on a fresh database connection, the result written as
// the report document, the document uploaded.
#pragma once

#include "OwnerGuard.h"
#include "ReportService.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <memory>

class OdbcConnection;
class QSqlQuery;
class ReportSink;

// What a run needs from the window around it.
struct ReportRunHost
{
    std::function<void(const QString&)> prompting;                  // the status line (Prompting)
    std::function<void(const QString&)> setTxtRs;                   // the request text box
    std::function<void(const QString& text, int style)> messageBox; // style as in Dialogs
    OwnerGuard guard; // the owner's settings on this PC; off unless switched on there
    ServiceClient* service = nullptr; // takes the upload
    // The footer's clock: the local time unless given (a fixed time makes documents comparable
    // byte for byte).
    std::function<QDateTime()> now;
};

struct ReportRun
{
    enum Outcome
    {
        Uploaded,            // the service took the document: its reply is the text
        NoSql,               // nothing to run
        NotOpen,             // the connection opened but is not usable
        DatabaseFailure,     // running or reading failed: the text box holds "[Error: "
        DatabaseUnreachable, // the connection could not be opened, or was lost on the way
        NotDelivered,        // the service did not take the document (no answer, 3xx, 5xx, ...)
        Refused,             // the service answered 4xx: it will never take this document
        NotWritten           // the document could not be written whole here (a full disk)
    };
    Outcome outcome = NoSql;
    QString text; // the result: the service's reply, the empty text, or the failure text

    // The request is flagged done unless the document never reached the service: then it stays
    // pending there and runs again, so no report is lost to a network drop. The same holds for
    // a database that cannot be reached right now (a server restarting, a share not mounted
    // yet, a lock held by another program), and for a report that could not be written here.
    // A refusal is flagged like a failing SQL: sent again it would only be refused again, and
    // the oldest pending request would block the company's queue for good.
    bool flagRequest() const
    {
        return outcome != NotDelivered && outcome != DatabaseUnreachable && outcome != NotWritten;
    }
};

// Where a report document is written before it is uploaded: the agent's own data folder,
// else the system's temporary folder.
QString ReportSpoolFolder();

// Replaces `dbConnection` by a new connection with `connectionString`; it is released after a
// run that got as far as the upload and kept after a database failure.
ReportRun RunReportQuery(const QString& sql, const QString& fileName, const QString& title,
                         const QString& connectionString,
                         std::unique_ptr<OdbcConnection>& dbConnection, const ReportRunHost& host);

// Writes the whole result of an executed query as the report document, row by row as it is
// read. Throws DbError when reading fails, ReportWriteError when writing does.
// A row limit above 0 refuses a longer result with GuardError.
void RecordsetToJson(QSqlQuery& recordset, const QString& fileName, const QString& title,
                     const QString& footer, ReportSink& sink, qint64 rowLimit = 0);
