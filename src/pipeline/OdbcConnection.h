// One ODBC database connection opened from a connection string, closed when destroyed.
#pragma once

#include "service/AgentError.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>

// One diagnostic record of a failed driver call.
struct DbDiagnostic
{
    QString sqlState;
    qint32 nativeCode = 0;
};

// A database failure, numbered the way the data-access layer numbers a driver error, with the
// driver's own diagnostics where it gave any.
class DbError : public AgentError
{
public:
    static constexpr qint32 kDriverError = -2147467259;
    using AgentError::AgentError;
    DbError(const QString& description, QList<DbDiagnostic> diagnostics)
        : AgentError(kDriverError, description), m_diagnostics(std::move(diagnostics))
    {}
    const QList<DbDiagnostic>& diagnostics() const { return m_diagnostics; }

private:
    QList<DbDiagnostic> m_diagnostics;
};

// The failure of the last call on an ODBC statement handle, with its diagnostic records;
// `fallback` describes it when the driver left no message.
DbError StatementError(void* statement, const QString& fallback);
// The failure of a query run through Qt Sql: Qt's text, the statement's diagnostics.
DbError QueryError(const class QSqlQuery& query);
// The ODBC handle inside the handle() of a Qt Sql driver or result; nullptr when there is none.
void* OdbcHandle(const class QVariant& handle);

// A lock, a busy database, a time-out or a lost connection passes, like a database that cannot
// be reached; anything else (an error in the SQL itself) would fail the same way again.
// Native codes are the driver's own numbers, so they count only for the DBMS that defines them.
bool IsTemporaryDbFailure(const QString& dbmsName, const QList<DbDiagnostic>& diagnostics);

// How long a statement waits for a database that another program holds locked before the run
// gives up for now. SQLite's driver waits 100 s by default, PostgreSQL for ever.
inline constexpr int kLockWaitMs = 5000;

// The connection string with SQLite's busy wait bounded to kLockWaitMs when it names the
// SQLite driver and sets no "Timeout" of its own: no connection attribute reaches that wait.
QString WithBoundedLockWait(const QString& connectionString);

// Line breaks never mean anything in an ODBC connection string, but left in they become part
// of a value: SQLite's driver then silently creates a new, empty database file.
QString NormalizeConnectionString(const QString& connectionString);

class OdbcConnection
{
public:
    // Opens at once; throws DbError when the driver refuses, ConnectionRefused (a DbError) when
    // the string may not be opened on this machine. A login time-out of 0 leaves the
    // driver's own default.
    explicit OdbcConnection(const QString& connectionString, int loginTimeoutSeconds = 30);
    ~OdbcConnection();
    OdbcConnection(const OdbcConnection&) = delete;
    OdbcConnection& operator=(const OdbcConnection&) = delete;

    bool isOpen() const;
    // True when the driver knows the connection to the database is lost (a server that went
    // down or restarted under it); false when it is alive or the driver cannot tell.
    bool isDead() const;
    // The DBMS as the driver names it ("SQLite", "PostgreSQL", ...), empty when unknown.
    QString dbmsName() const;
    QSqlDatabase database() const;
    // The ODBC connection handle; nullptr when the connection is gone.
    void* handle() const;

private:
    QString m_name;
};

// The text of a Qt Sql error as the driver wrote it.
QString DriverMessage(const class QSqlError& error);
