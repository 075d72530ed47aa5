// The connection-string check, run before every open.
#include "DriverCheck.h"

#include <QRegularExpression>

namespace {

bool isBlank(QChar c)
{
    return QStringView(u" \t\r\n\v\f").contains(c);
}

// A name the driver manager would open as a file: a path, or a library's file name.
bool looksLikeFile(const QString& name)
{
    static const QRegularExpression library(QStringLiteral(R"(\.(so|dll|dylib)(\.|$))"),
                                            QRegularExpression::CaseInsensitiveOption);
    return name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) ||
           name.contains(library);
}

QString refused(const QString& why)
{
    return QStringLiteral("Koneksi ditolak: ") + why;
}

std::optional<QString> driverRefusal(const QString& driver, const DriverRegistry& registry)
{
    if (looksLikeFile(driver))
        return refused(QStringLiteral("DRIVER harus nama driver ODBC yang terdaftar, bukan file "
                                      "(\"%1\").")
                           .arg(driver));
    if (!registry.isRegisteredDriver(driver))
        return refused(
            QStringLiteral("driver ODBC \"%1\" tidak terdaftar di komputer ini.").arg(driver));
    return std::nullopt;
}

} // namespace

ParsedConnectionString ParseConnectionString(const QString& text)
{
    ParsedConnectionString parsed;
    const qsizetype n = text.size();
    qsizetype i = 0;
    for (;;) {
        while (i < n && (isBlank(text[i]) || text[i] == QLatin1Char(';')))
            ++i;
        if (i >= n)
            break;
        const qsizetype equals = text.indexOf(QLatin1Char('='), i);
        if (equals < 0)
            break; // the driver manager drops a last word without '='

        OdbcAttribute attribute;
        attribute.key = text.mid(i, equals - i);
        i = equals + 1;
        if (i < n && text[i] == QLatin1Char('{')) {
            ++i;
            bool closed = false;
            while (i < n) {
                if (text[i] == QLatin1Char('}')) {
                    if (i + 1 < n && text[i + 1] == QLatin1Char('}')) {
                        attribute.value += QLatin1Char('}');
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                attribute.value += text[i++];
            }
            if (!closed)
                parsed.problem =
                    QStringLiteral("kurung kurawal nilai %1 tidak ditutup").arg(attribute.key);
        } else {
            const qsizetype end = text.indexOf(QLatin1Char(';'), i);
            attribute.value = text.mid(i, (end < 0 ? n : end) - i);
            i = end < 0 ? n : end;
        }
        parsed.attributes << attribute;
        if (!parsed.problem.isEmpty())
            break;
    }
    return parsed;
}

QString ConnectionStringAsSent(const QString& databaseName)
{
    if (databaseName.contains(QLatin1String(".dsn"), Qt::CaseInsensitive))
        return QStringLiteral("FILEDSN=") + databaseName;
    if (databaseName.contains(QLatin1String("DRIVER="), Qt::CaseInsensitive) ||
        databaseName.contains(QLatin1String("SERVER="), Qt::CaseInsensitive))
        return databaseName;
    return QStringLiteral("DSN=") + databaseName;
}

std::optional<QString> ConnectionStringRefusal(const QString& connectionString,
                                               const DriverRegistry& registry)
{
    const QString sent = ConnectionStringAsSent(NormalizeConnectionString(connectionString));

    // Keys that make the driver manager or a driver read, write or load a file of the string's
    // choosing, or set any attribute the agent sets: looked for anywhere a key can begin, since
    // every driver reads the string with a parser of its own.
    static const QRegularExpression fileKey(
        QStringLiteral(R"((?:^|[;{}\s])\s*(FILEDSN|SAVEFILE|DMEnvAttr|DMConnAttr|DMStmtAttr|)"
                       R"(LoadExt|TraceFile|Logdir)\s*=)"),
        QRegularExpression::CaseInsensitiveOption);
    if (const QRegularExpressionMatch match = fileKey.match(sent); match.hasMatch())
        return refused(QStringLiteral("kunci %1 tidak diizinkan dalam connection string (ia "
                                      "memuat atau menulis file).")
                           .arg(match.captured(1)));

    const ParsedConnectionString parsed = ParseConnectionString(sent);
    if (!parsed.problem.isEmpty())
        return refused(QStringLiteral("connection string tidak terbaca: ") + parsed.problem +
                       QLatin1Char('.'));

    // The driver manager keeps the last of equal keys, and ignores a DSN after a DRIVER and a
    // DRIVER after a DSN; every DRIVER is checked all the same, whichever one it would take.
    std::optional<QString> driver, dsn;
    for (const OdbcAttribute& attribute : parsed.attributes) {
        if (attribute.key.trimmed().compare(QLatin1String("DRIVER"), Qt::CaseInsensitive) == 0) {
            if (const auto refusal = driverRefusal(attribute.value, registry))
                return refusal;
        }
        if (attribute.key.compare(QLatin1String("DSN"), Qt::CaseInsensitive) == 0) {
            if (!driver)
                dsn = attribute.value;
        } else if (attribute.key.compare(QLatin1String("DRIVER"), Qt::CaseInsensitive) == 0) {
            if (!dsn)
                driver = attribute.value;
        }
    }
    if (!driver && dsn) {
        if (const auto dsnDriver = registry.dsnDriver(*dsn)) {
            if (looksLikeFile(*dsnDriver) || !registry.isRegisteredDriver(*dsnDriver))
                return refused(QStringLiteral("DSN \"%1\" memakai driver \"%2\" yang bukan nama "
                                              "driver ODBC terdaftar.")
                                   .arg(*dsn, *dsnDriver));
        }
    }
    return std::nullopt;
}

std::optional<QString> SqlLibraryRefusal(const QString& sql)
{
    // SQLite has no way to build a function name at run time, so the name itself is the call.
    if (sql.contains(QLatin1String("load_extension"), Qt::CaseInsensitive))
        return QStringLiteral("Permintaan ditolak: load_extension memuat pustaka dari file ke "
                              "dalam aplikasi dan tidak diizinkan.");
    return std::nullopt;
}
