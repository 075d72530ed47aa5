// One report run, from the SQL to the service's reply.
#include "ReportRun.h"

#include "DriverCheck.h"
#include "OdbcConnection.h"
#include "OdbcReportReader.h"
#include "ReportFooter.h"
#include "ReportJsonWriter.h"
#include "service/HttpTransport.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace {

// Spool files older than this are left over from a run that never ended (the process was
// killed): nothing else would ever remove them.
constexpr qint64 kStaleSpoolSeconds = 24 * 3600;

void removeStaleSpoolFiles(const QString& folder)
{
    const QDateTime limit = QDateTime::currentDateTime().addSecs(-kStaleSpoolSeconds);
    const QFileInfoList files = QDir(folder).entryInfoList(
        {QStringLiteral("tallyframe-report-*.json")}, QDir::Files | QDir::Hidden);
    for (const QFileInfo& file : files) {
        if (file.lastModified() < limit)
            QFile::remove(file.absoluteFilePath());
    }
}

// "[Error: " + number + "] " + CR LF + description.
QString runFailureText(qint64 number, const QString& description)
{
    return QStringLiteral("[Error: ") + QString::number(number) + QStringLiteral("] \r\n") +
           description;
}

} // namespace

QString ReportSpoolFolder()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    if (folder.isEmpty() || !QDir().mkpath(folder))
        folder = QDir::tempPath();
    static bool cleaned = false;
    if (!std::exchange(cleaned, true))
        removeStaleSpoolFiles(folder);
    return folder;
}

void RecordsetToJson(QSqlQuery& recordset, const QString& fileName, const QString& title,
                     const QString& footer, ReportSink& sink, qint64 rowLimit)
{
    OdbcReportReader reader(recordset, rowLimit);
    JsonReportWriter writer(sink);
    writer.begin(title, fileName, reader.columnNames());
    reader.writeRows(writer);
    writer.end(footer);
}

ReportRun RunReportQuery(const QString& sql, const QString& fileName, const QString& title,
                         const QString& connectionString,
                         std::unique_ptr<OdbcConnection>& dbConnection, const ReportRunHost& host)
{
    ReportRun run;
    if (sql.isEmpty()) {
        host.messageBox(QStringLiteral("SQL String harus benar!"), 48);
        return run;
    }

    auto fail = [&](ReportRun::Outcome outcome, qint64 number, const QString& description) {
        qCWarning(lcPipeline).noquote() << "report run failed:" << number << description;
        const QString text = runFailureText(number, description);
        host.setTxtRs(text);
        run.outcome = outcome;
        // A report that is tried again later keeps its failure text in view: nothing
        // overwrites it.
        run.text = run.flagRequest() ? QString() : text;
        return run;
    };

    // What the agent or its owner never runs is refused before anything is opened, and flagged
    // like a failing SQL: it would only be refused again.
    const OwnerGuard& guard = host.guard;
    std::optional<QString> refusal = SqlLibraryRefusal(sql);
    if (!refusal && guard.readOnly) {
        refusal = GuardStatementRefusal(sql);
        if (!refusal)
            refusal = GuardConnectionRefusal(connectionString);
    }
    if (refusal) {
        host.prompting(*refusal);
        return fail(ReportRun::DatabaseFailure, DbError::kDriverError, *refusal);
    }

    // The document goes to disk as it is written and is streamed from there: memory stays flat
    // whatever the row count. The file goes when this run ends, however it ends.
    QTemporaryFile spool(ReportSpoolFolder() + QStringLiteral("/tallyframe-report-XXXXXX.json"));
    try {
        host.prompting(QStringLiteral("Menghubungkan..."));
        dbConnection.reset();
        dbConnection = std::make_unique<OdbcConnection>(connectionString);
    } catch (const ConnectionRefused& e) {
        // Kept pending: no report can run until the string is mended, and then this one does.
        host.prompting(e.description());
        return fail(ReportRun::DatabaseUnreachable, e.number(), e.description());
    } catch (const DbError& e) {
        return fail(ReportRun::DatabaseUnreachable, e.number(), e.description());
    }
    StatementWatchdog watchdog;
    QElapsedTimer runClock;
    try {
        if (!dbConnection->isOpen()) {
            host.prompting(QStringLiteral("Tidak terhubung database!"));
            run.outcome = ReportRun::NotOpen;
            return run;
        }
        host.prompting(QStringLiteral("Terhubung database"));

        if (guard.readOnly)
            MakeReadOnly(*dbConnection);
        QSqlQuery recordset(dbConnection->database());
        recordset.setForwardOnly(true);
        // The watch ends before the statement is freed, however this block ends.
        const auto unwatch = qScopeGuard([&] { watchdog.disarm(); });
        runClock.start();
        if (guard.readOnly)
            ExecGuarded(recordset, sql, guard, watchdog);
        else if (!recordset.exec(sql))
            throw QueryError(recordset);
        // The footer is made before the result is read, so a statement that turns out to give
        // no rows to report still takes its random number: the suffixes of the reports after
        // it stay the ones the service has always seen.
        const QString footer =
            NextReportFooter(host.now ? host.now() : QDateTime::currentDateTime());
        if (!recordset.isSelect())
            throw DbError(DbError::kDriverError,
                          QStringLiteral("The statement was carried out but gave no rows to "
                                         "report."));
        if (!spool.open())
            throw ReportWriteError(QStringLiteral("The report could not be written: ") +
                                   spool.fileName() + QStringLiteral(": ") + spool.errorString());
        ReportSink sink(&spool);
        QElapsedTimer timer;
        timer.start();
        RecordsetToJson(recordset, fileName, title, footer, sink,
                        guard.readOnly ? guard.rowLimit : 0);
        // The file buffers too: a disk that fills in the last kilobytes fails only here, and
        // its size then reads short (or 0); uploaded, such a report would be refused, flagged
        // and lost.
        if (!spool.flush())
            throw ReportWriteError(QStringLiteral("The report could not be written: ") +
                                   spool.fileName() + QStringLiteral(": ") + spool.errorString());
        if (spool.size() != sink.written())
            throw ReportWriteError(
                QStringLiteral("The report could not be written: %1 holds %2 of %3 bytes.")
                    .arg(spool.fileName())
                    .arg(spool.size())
                    .arg(sink.written()));
        qCInfo(lcPipeline).nospace()
            << "report written: " << sink.written() << " bytes in " << timer.elapsed() << " ms";
    } catch (const GuardError& e) {
        host.prompting(e.description());
        return fail(ReportRun::DatabaseFailure, e.number(), e.description());
    } catch (const DbError& e) {
        // A statement stopped at the owner's time limit, by the watchdog or by the driver's own
        // time-out, fails like an SQL error, and says why.
        if (guard.readOnly &&
            (watchdog.fired() ||
             (runClock.isValid() && runClock.elapsed() >= qint64(guard.timeLimitSeconds) * 1000))) {
            const QString text = GuardTimeLimitText(guard.timeLimitSeconds);
            host.prompting(text);
            return fail(ReportRun::DatabaseFailure, e.number(),
                        text + QStringLiteral("\r\n") + e.description());
        }
        if (const auto text =
                guard.readOnly ? GuardWriteRefusalText(e.description()) : std::nullopt)
            host.prompting(*text);
        // Only the SQL's own failure is final; a lock, a time-out or a connection lost under it
        // passes.
        const bool passes = dbConnection->isDead() ||
                            IsTemporaryDbFailure(dbConnection->dbmsName(), e.diagnostics());
        return fail(passes ? ReportRun::DatabaseUnreachable : ReportRun::DatabaseFailure,
                    e.number(), e.description());
    } catch (const ReportWriteError& e) {
        host.prompting(QStringLiteral("Laporan tidak dapat ditulis: ") + e.description());
        return fail(ReportRun::NotWritten, DbError::kDriverError, e.description());
    }

    try {
        const qint64 size = spool.size();
        if (!spool.seek(0))
            throw ReportWriteError(spool.errorString());
        QElapsedTimer timer;
        timer.start();
        const TransportReply reply = UploadReport(*host.service, &spool, size);
        qCInfo(lcPipeline).nospace()
            << "report uploaded: status " << reply.status << " in " << timer.elapsed() << " ms";
        if (reply.status >= 400 && reply.status <= 499)
            return fail(ReportRun::Refused, reply.status,
                        QStringLiteral("The service refused the report. HTTP Status: ") +
                            QString::number(reply.status) + QStringLiteral(" ") +
                            reply.text().left(200));
        if (reply.status < 200 || reply.status > 299)
            return fail(ReportRun::NotDelivered, reply.status,
                        QStringLiteral("The service did not store the report. HTTP Status: ") +
                            QString::number(reply.status));
        run.outcome = ReportRun::Uploaded;
        run.text = reply.text();
    } catch (const TransportError& e) {
        return fail(ReportRun::NotDelivered, e.number(), e.description());
    } catch (const ReportWriteError& e) {
        return fail(ReportRun::NotDelivered, DbError::kDriverError, e.description());
    }
    dbConnection.reset();
    return run;
}
