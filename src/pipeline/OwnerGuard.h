// The owner's guard: a read-only switch with a time and a row limit, set on this PC by its owner
// in the connection window and kept in the local settings store, never sent to or taken from the
// service. When it is on, a report may only read.
#pragma once

#include "OdbcConnection.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

class QSettings;
class QSqlQuery;

struct OwnerGuard
{
    static constexpr int kDefaultTimeLimitSeconds = 300;
    static constexpr qint64 kDefaultRowLimit = 1000000;

    // Keys in the settings store; the uninstall clears them with the rest.
    static constexpr const char* kReadOnlyKey = "Sekuritas/HanyaBaca";
    static constexpr const char* kTimeLimitKey = "Sekuritas/BatasWaktu";
    static constexpr const char* kRowLimitKey = "Sekuritas/BatasBaris";

    // Off unless the owner switched it on: existing installations keep working as they did.
    bool readOnly = false;
    int timeLimitSeconds = kDefaultTimeLimitSeconds;
    qint64 rowLimit = kDefaultRowLimit;

    // A missing or unreadable limit is the default; a limit is never 0 or negative.
    static OwnerGuard Load(const QSettings& store);
    void save(QSettings& store) const;
};

// A request the guard stops: flagged like a failing SQL, its text names the guard.
class GuardError : public DbError
{
public:
    using DbError::DbError;
};

// Why the guard refuses to run `sql`, or nothing. Only one statement beginning with SELECT or
// WITH (after blanks and comments) runs; the SQL is read in every way the supported databases
// could read it (string escapes, comment nesting, quoting), and all readings must agree.
std::optional<QString> GuardStatementRefusal(const QString& sql);

// Why the guard refuses a connection string for a report, or nothing: keys that run SQL of
// their own while connecting would do so before the connection is made read-only.
std::optional<QString> GuardConnectionRefusal(const QString& connectionString);

QString GuardTimeLimitText(int seconds);
// The status text for a statement that the read-only connection stopped from writing (SQLite's
// and PostgreSQL's own words for it), or nothing for any other failure.
std::optional<QString> GuardWriteRefusalText(const QString& driverMessage);
QString GuardRowLimitText(qint64 rows);

// Makes an open report connection read-only: the ODBC access mode, and the database's own
// switch where the driver ignores the access mode (SQLite's and PostgreSQL's both do). A database
// whose own switch is not known is refused: GuardError.
void MakeReadOnly(OdbcConnection& connection);

// Cancels a statement that runs past its time, whether the driver is executing it or its rows
// are being read (SQLite's driver ignores the query time-out, and with StepAPI=1 it runs the
// query while the rows are fetched).
class StatementWatchdog
{
public:
    ~StatementWatchdog(); // not copyable: the thread and the mutex are not

    void arm(void* statement, int seconds);
    // Stops watching; the statement must outlive the watch, so disarm before it is freed.
    void disarm();
    bool fired() const { return m_fired; }

private:
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::atomic<bool> m_fired = false;
};

// Executes `sql` under the guard's time limit: the limit as the statement's query time-out, and
// the watchdog armed until it is disarmed. Throws DbError.
void ExecGuarded(QSqlQuery& recordset, const QString& sql, const OwnerGuard& guard,
                 StatementWatchdog& watchdog);
