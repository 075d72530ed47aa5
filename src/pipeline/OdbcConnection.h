// One ODBC database connection opened from a connection string, closed when destroyed.
#pragma once

#include "service/AgentError.h"

#include <QSqlDatabase>
#include <QString>

#include <exception>

// A database failure, numbered the way the data-access layer numbers a driver error.
class DbError : public AgentError
{
public:
    static constexpr qint32 kDriverError = -2147467259;
    using AgentError::AgentError;
};

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
    QSqlDatabase database() const;

private:
    QString m_name;
};

// The text of a Qt Sql error as the driver wrote it.
QString DriverMessage(const class QSqlError& error);
