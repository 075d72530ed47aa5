// ODBC connections through Qt Sql; each gets a connection name of its own so that a report run,
// the connection test and the start-up never share one.
#include "OdbcConnection.h"

#include "DriverCheck.h"

#include <QAtomicInteger>
#include <QSqlDriver>
#include <QSqlError>
#include <QVariant>

#include <sql.h>
#include <sqlext.h>

#include <cstring>

namespace {
QAtomicInteger<quint64> g_counter;
}

QString NormalizeConnectionString(const QString& connectionString)
{
    QString s = connectionString;
    s.remove(QLatin1Char('\r'));
    s.remove(QLatin1Char('\n'));
    return s;
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
    CheckConnectionString(connectionString);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QODBC"), m_name);
    if (!db.isValid())
        throw DbError(DbError::kDriverError,
                      QStringLiteral("The ODBC driver of Qt Sql is missing."));
    db.setDatabaseName(NormalizeConnectionString(connectionString));
    if (loginTimeoutSeconds > 0)
        db.setConnectOptions(QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1").arg(loginTimeoutSeconds));
    if (!db.open())
        throw DbError(DbError::kDriverError, DriverMessage(db.lastError()));
}

OdbcConnection::~OdbcConnection()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        if (db.isValid())
            db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
}

bool OdbcConnection::isOpen() const
{
    return QSqlDatabase::database(m_name, false).isOpen();
}

bool OdbcConnection::isDead() const
{
    const QSqlDatabase db = database();
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || handle.metaType().sizeOf() != sizeof(SQLHANDLE))
        return false;
    SQLHANDLE connection = nullptr;
    std::memcpy(&connection, handle.constData(), sizeof(SQLHANDLE));
    SQLUINTEGER dead = SQL_CD_FALSE;
    return connection &&
           SQL_SUCCEEDED(
               SQLGetConnectAttr(connection, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) &&
           dead == SQL_CD_TRUE;
}

QSqlDatabase OdbcConnection::database() const
{
    return QSqlDatabase::database(m_name, false);
}
