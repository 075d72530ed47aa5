// The registered drivers and data sources as unixODBC reads them (odbcinst.ini, odbc.ini).
#include "DriverCheck.h"

#include <odbcinst.h>

namespace {

QString profileString(const QString& section, const char* entry, const char* file)
{
    char value[1024] = {};
    const QByteArray name = section.toLocal8Bit();
    const int length =
        SQLGetPrivateProfileString(name.constData(), entry, "", value, sizeof value, file);
    return length > 0 ? QString::fromLocal8Bit(value, qstrnlen(value, sizeof value)) : QString();
}

} // namespace

DriverRegistry InstalledDrivers()
{
    DriverRegistry registry;
    // The driver manager takes a name it finds no library for as a file name: a registered
    // driver is a section with a library entry, nothing less.
    registry.isRegisteredDriver = [](const QString& name) {
        return !name.isEmpty() && (!profileString(name, "Driver64", "ODBCINST.INI").isEmpty() ||
                                   !profileString(name, "Driver", "ODBCINST.INI").isEmpty());
    };
    registry.dsnDriver = [](const QString& dsn) -> std::optional<QString> {
        const QString driver = dsn.isEmpty() ? QString() : profileString(dsn, "Driver", "ODBC.INI");
        return driver.isEmpty() ? std::nullopt : std::optional(driver);
    };
    return registry;
}
