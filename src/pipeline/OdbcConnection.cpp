// ODBC connections through Qt Sql; each gets a connection name of its own so that a report run,
// the connection test and the start-up never share one.
#include "OdbcConnection.h"

#include "DriverCheck.h"

#include <QAtomicInteger>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlResult>
#include <QVariant>

#ifdef Q_OS_WIN
// The ODBC headers of Windows rely on its base types without including them.
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstring>
#include <iterator>

namespace {

QAtomicInteger<quint64> g_counter;

QList<DbDiagnostic> diagnosticsOf(SQLHANDLE statement, QString* message)
{
    QList<DbDiagnostic> result;
    if (!statement)
        return result;
    SQLWCHAR state[6] = {};
    SQLWCHAR text[1024];
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    for (SQLSMALLINT record = 1;
         SQL_SUCCEEDED(SQLGetDiagRecW(SQL_HANDLE_STMT, statement, record, state, &native, text,
                                      SQLSMALLINT(std::size(text)), &length));
         ++record) {
        result.append({QString::fromUtf16(reinterpret_cast<const char16_t*>(state), 5), native});
        if (message) {
            if (!message->isEmpty())
                *message += QLatin1Char(' ');
            *message += QString::fromUtf16(reinterpret_cast<const char16_t*>(text),
                                           std::clamp<qsizetype>(length, 0, std::size(text) - 1));
        }
    }
    return result;
}

} // namespace

void* OdbcHandle(const QVariant& handle)
{
    SQLHANDLE result = nullptr;
    if (handle.isValid() && handle.metaType().sizeOf() == sizeof(SQLHANDLE))
        std::memcpy(&result, handle.constData(), sizeof(SQLHANDLE));
    return result;
}

DbError StatementError(void* statement, const QString& fallback)
{
    QString message;
    QList<DbDiagnostic> diagnostics = diagnosticsOf(statement, &message);
    return DbError(message.isEmpty() ? fallback : message, std::move(diagnostics));
}

DbError QueryError(const QSqlQuery& query)
{
    const QSqlResult* result = query.result();
    QList<DbDiagnostic> diagnostics =
        diagnosticsOf(result ? OdbcHandle(result->handle()) : nullptr, nullptr);
    if (diagnostics.isEmpty()) {
        bool ok = false;
        const int native = query.lastError().nativeErrorCode().toInt(&ok);
        if (ok)
            diagnostics.append({QString(), native});
    }
    return DbError(DriverMessage(query.lastError()), std::move(diagnostics));
}

bool IsTemporaryDbFailure(const QString& dbmsName, const QList<DbDiagnostic>& diagnostics)
{
    // SQLite: SQLITE_BUSY and SQLITE_LOCKED, extended codes included (the low byte).
    const bool sqlite = dbmsName.compare(QLatin1String("SQLite"), Qt::CaseInsensitive) == 0;
    for (const DbDiagnostic& d : diagnostics) {
        const QString state = d.sqlState.toUpper();
        if (state == QLatin1String("55P03")           // lock_not_available
            || state == QLatin1String("40001")        // serialization_failure
            || state == QLatin1String("40P01")        // deadlock_detected
            || state == QLatin1String("HYT00")        // time-out expired
            || state == QLatin1String("HYT01")        // connection time-out expired
            || state == QLatin1String("S1T00")        // the same, as ODBC 2 names it
            || state.startsWith(QLatin1String("08"))) // the connection failed or was lost
            return true;
        if (sqlite && ((d.nativeCode & 0xFF) == 5 || (d.nativeCode & 0xFF) == 6))
            return true;
    }
    return false;
}

QString WithBoundedLockWait(const QString& connectionString)
{
    static const QRegularExpression sqliteDriver(
        QStringLiteral("(^|;)\\s*DRIVER\\s*=\\s*\\{?[^;]*sqlite"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression timeoutKey(QStringLiteral("(^|;)\\s*Timeout\\s*="),
                                               QRegularExpression::CaseInsensitiveOption);
    if (!sqliteDriver.match(connectionString).hasMatch() ||
        timeoutKey.match(connectionString).hasMatch())
        return connectionString;
    QString bounded = connectionString.trimmed();
    if (!bounded.isEmpty() && !bounded.endsWith(QLatin1Char(';')))
        bounded += QLatin1Char(';');
    return bounded + QStringLiteral("Timeout=%1;").arg(kLockWaitMs);
}

QString NormalizeConnectionString(const QString& connectionString)
{
    return QString(connectionString).remove(QLatin1Char('\r')).remove(QLatin1Char('\n'));
}

QString DriverMessage(const QSqlError& error)
{
    const QString db = error.databaseText().trimmed();
    const QString driver = error.driverText().trimmed();
    if (db.isEmpty())
        return driver;
    if (driver.isEmpty() || db.contains(driver))
        return db;
    return driver + QStringLiteral(": ") + db;
}

OdbcConnection::OdbcConnection(const QString& connectionString, int loginTimeoutSeconds)
    : m_name(QStringLiteral("tallyframe-db-%1").arg(++g_counter))
{
    // Before anything is loaded: the string may name a library of its own choosing.
    if (const auto refusal = ConnectionStringRefusal(connectionString, InstalledDrivers()))
        throw ConnectionRefused(DbError::kDriverError, *refusal);
    QString failure;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), m_name);
        if (!db.isValid()) {
            failure = QStringLiteral("The ODBC driver of Qt Sql is missing.");
        } else {
            db.setDatabaseName(WithBoundedLockWait(NormalizeConnectionString(connectionString)));
            if (loginTimeoutSeconds > 0)
                db.setConnectOptions(
                    QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1").arg(loginTimeoutSeconds));
            if (!db.open())
                failure = DriverMessage(db.lastError());
        }
    }
    if (!failure.isEmpty()) {
        // The destructor does not run for a constructor that throws: without this every failed
        // open (one every 30 s while a database is down) would stay registered for good.
        QSqlDatabase::removeDatabase(m_name);
        throw DbError(DbError::kDriverError, failure);
    }
    if (dbmsName() == QLatin1String("PostgreSQL")) {
        // PostgreSQL waits for a lock for ever by default; a session setting, the user's
        // connection string stays as it is.
        QSqlQuery set(database());
        if (!set.exec(QStringLiteral("SET lock_timeout = %1").arg(kLockWaitMs)))
            qWarning("lock_timeout not set: %s", qPrintable(DriverMessage(set.lastError())));
    }
}

OdbcConnection::~OdbcConnection()
{
    database().close(); // a temporary: no handle on the connection is left when it is removed
    QSqlDatabase::removeDatabase(m_name);
}

bool OdbcConnection::isOpen() const
{
    return database().isOpen();
}

bool OdbcConnection::isDead() const
{
    const SQLHANDLE connection = handle();
    SQLUINTEGER dead = SQL_CD_FALSE;
    return connection &&
           SQL_SUCCEEDED(
               SQLGetConnectAttr(connection, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) &&
           dead == SQL_CD_TRUE;
}

QString OdbcConnection::dbmsName() const
{
    const SQLHANDLE connection = handle();
    SQLWCHAR name[128] = {};
    SQLSMALLINT bytes = 0;
    if (!connection ||
        !SQL_SUCCEEDED(SQLGetInfoW(connection, SQL_DBMS_NAME, name, sizeof name, &bytes)))
        return {};
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(name),
                              std::min<qsizetype>(bytes, sizeof name - sizeof(SQLWCHAR)) /
                                  qsizetype(sizeof(SQLWCHAR)));
}

QSqlDatabase OdbcConnection::database() const
{
    return QSqlDatabase::database(m_name, false);
}

void* OdbcConnection::handle() const
{
    const QSqlDatabase db = database();
    return db.driver() ? OdbcHandle(db.driver()->handle()) : nullptr;
}
