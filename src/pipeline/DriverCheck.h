// What a connection string may make the agent load. The string comes from the service; on Linux
// the driver manager loads whatever file a DRIVER names, so only drivers the owner registered on
// this machine are let through, and keys that load or write files are refused.
#pragma once

#include "OdbcConnection.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

struct OdbcAttribute
{
    QString key; // as written, without the '='
    QString value;
};

struct ParsedConnectionString
{
    QList<OdbcAttribute> attributes; // in the order written, duplicates kept
    QString problem;                 // set when a braced value is never closed
};

// Reads an ODBC connection string the way the driver manager does: pairs separated by ';',
// blanks and ';' before a key skipped, a key running to the next '=', a value in braces running
// to the first '}' that is not doubled ("}}" stands for one '}'), any other value to the next ';'.
ParsedConnectionString ParseConnectionString(const QString& text);

// The text that Qt's ODBC driver hands to the driver manager for a database name: a name that
// mentions ".dsn" is taken as a file DSN, one without "DRIVER=" or "SERVER=" as a DSN name.
QString ConnectionStringAsSent(const QString& databaseName);

// What this machine has registered.
struct DriverRegistry
{
    // True when odbcinst.ini (the registry on Windows) has a driver of this exact name.
    std::function<bool(const QString& name)> isRegisteredDriver;
    // The Driver entry of a data source in odbc.ini; nothing when the source is not defined.
    std::function<std::optional<QString>(const QString& dsn)> dsnDriver;
};
DriverRegistry InstalledDrivers();

// Why a connection string must not be opened, or nothing when it may.
std::optional<QString> ConnectionStringRefusal(const QString& connectionString,
                                               const DriverRegistry& registry);

// A connection string refused before anything was loaded.
class ConnectionRefused : public DbError
{
public:
    using DbError::DbError;
};

// Why an SQL text must not run on any connection, or nothing: SQLite's driver lets a query load
// a library into the agent.
std::optional<QString> SqlLibraryRefusal(const QString& sql);
