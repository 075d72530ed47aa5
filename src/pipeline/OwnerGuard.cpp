// The owner's guard.
#include "OwnerGuard.h"

#include "DriverCheck.h"

#include <QRegularExpression>
#include <QSettings>
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

namespace {

// How a database may read an SQL text. The guard accepts a text only when every reading finds
// one statement that begins with SELECT or WITH: whichever the database is, its own reading is
// among them.
struct Reading
{
    bool backslashInStrings; // '\'' escapes a quote (MySQL; PostgreSQL without standard strings)
    bool escapeStrings;      // E'...' takes backslash escapes (PostgreSQL)
    bool nestedComments;     // /* /* */ */ nests (PostgreSQL)
    bool bracketNames;       // [name] is a quoted name (SQLite)
    bool dollarQuotes;       // $tag$...$tag$ is a string (PostgreSQL)
    bool hashComments;       // # runs to the end of the line (MySQL)
    bool backtickNames;      // `name` is a quoted name (MySQL, SQLite)
};

struct Scan
{
    QString firstWord; // upper case; empty when the first token is not a word
    bool twoStatements = false;
};

bool isWordChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('$');
}

qsizetype skipQuoted(const QString& s, qsizetype i, QChar close, bool backslash)
{
    const qsizetype n = s.size();
    ++i;
    while (i < n) {
        if (backslash && s[i] == QLatin1Char('\\')) {
            i += 2;
            continue;
        }
        if (s[i] == close) {
            if (i + 1 < n && s[i + 1] == close) {
                i += 2;
                continue;
            }
            return i + 1;
        }
        ++i;
    }
    return n; // unclosed: the rest is inside it in this reading
}

Scan scan(const QString& s, const Reading& r)
{
    Scan result;
    bool firstSeen = false, afterSemicolon = false;
    const qsizetype n = s.size();
    qsizetype i = 0;
    auto token = [&](const QString& word) {
        if (afterSemicolon)
            result.twoStatements = true;
        if (!firstSeen) {
            firstSeen = true;
            result.firstWord = word.toUpper();
        }
    };
    while (i < n) {
        const QChar c = s[i];
        const QChar next = i + 1 < n ? s[i + 1] : QChar();
        if (c.isSpace()) {
            ++i;
        } else if ((c == QLatin1Char('-') && next == QLatin1Char('-')) ||
                   (r.hashComments && c == QLatin1Char('#'))) {
            while (i < n && s[i] != QLatin1Char('\n'))
                ++i;
        } else if (c == QLatin1Char('/') && next == QLatin1Char('*')) {
            int depth = 1;
            i += 2;
            while (i < n && depth > 0) {
                if (s[i] == QLatin1Char('*') && i + 1 < n && s[i + 1] == QLatin1Char('/')) {
                    --depth;
                    i += 2;
                } else if (r.nestedComments && s[i] == QLatin1Char('/') && i + 1 < n &&
                           s[i + 1] == QLatin1Char('*')) {
                    ++depth;
                    i += 2;
                } else {
                    ++i;
                }
            }
        } else if (c == QLatin1Char(';')) {
            afterSemicolon = true;
            ++i;
        } else if (c == QLatin1Char('\'') || c == QLatin1Char('"') ||
                   (r.backtickNames && c == QLatin1Char('`'))) {
            token({});
            i = skipQuoted(s, i, c, c == QLatin1Char('\'') && r.backslashInStrings);
        } else if (r.bracketNames && c == QLatin1Char('[')) {
            token({});
            const qsizetype close = s.indexOf(QLatin1Char(']'), i + 1);
            i = close < 0 ? n : close + 1;
        } else if (r.dollarQuotes && c == QLatin1Char('$') && !next.isDigit()) {
            token({});
            qsizetype j = i + 1;
            while (j < n && isWordChar(s[j]) && s[j] != QLatin1Char('$'))
                ++j;
            if (j < n && s[j] == QLatin1Char('$')) {
                const QString tag = s.mid(i, j - i + 1);
                const qsizetype close = s.indexOf(tag, j + 1);
                i = close < 0 ? n : close + tag.size();
            } else {
                ++i;
            }
        } else if (isWordChar(c)) {
            qsizetype j = i;
            while (j < n && isWordChar(s[j]))
                ++j;
            const QString word = s.mid(i, j - i);
            token(word);
            i = j;
            if (r.escapeStrings && j < n && s[j] == QLatin1Char('\'') &&
                word.compare(QLatin1String("E"), Qt::CaseInsensitive) == 0)
                i = skipQuoted(s, j, QLatin1Char('\''), true);
        } else {
            token({});
            ++i;
        }
    }
    return result;
}

// Runs `set`, then reads the switch back: the first value of `read`.
QString setAndRead(QSqlDatabase db, const QString& set, const QString& read)
{
    QSqlQuery query(db);
    if (!query.exec(set) || !query.exec(read) || !query.next())
        throw GuardError(DbError::kDriverError, DriverMessage(query.lastError()));
    return query.value(0).toString();
}

QString guardText(const QString& text)
{
    return QStringLiteral("Penjaga hanya-baca ") + text;
}

} // namespace

OwnerGuard OwnerGuard::Load(const QSettings& store)
{
    OwnerGuard guard;
    guard.readOnly = store.value(QLatin1String(kReadOnlyKey), false).toBool();
    bool ok = false;
    const int seconds = store.value(QLatin1String(kTimeLimitKey)).toInt(&ok);
    if (ok && seconds > 0)
        guard.timeLimitSeconds = seconds;
    const qint64 rows = store.value(QLatin1String(kRowLimitKey)).toLongLong(&ok);
    if (ok && rows > 0)
        guard.rowLimit = rows;
    return guard;
}

void OwnerGuard::save(QSettings& store) const
{
    store.setValue(QLatin1String(kReadOnlyKey), readOnly);
    store.setValue(QLatin1String(kTimeLimitKey), timeLimitSeconds);
    store.setValue(QLatin1String(kRowLimitKey), rowLimit);
    store.sync();
}

std::optional<QString> GuardStatementRefusal(const QString& sql)
{
    for (int bits = 0; bits < 128; ++bits) {
        const Reading reading{bool(bits & 1),  bool(bits & 2),  bool(bits & 4), bool(bits & 8),
                              bool(bits & 16), bool(bits & 32), bool(bits & 64)};
        const Scan result = scan(sql, reading);
        if ((result.firstWord != QLatin1String("SELECT") &&
             result.firstWord != QLatin1String("WITH")) ||
            result.twoStatements)
            return guardText(QStringLiteral("menolak permintaan ini: hanya satu pernyataan yang "
                                            "diawali SELECT atau WITH yang dijalankan."));
    }
    return std::nullopt;
}

std::optional<QString> GuardConnectionRefusal(const QString& connectionString)
{
    // psqlODBC runs ConnSettings as SQL right after connecting.
    static const QRegularExpression connectSql(
        QStringLiteral(R"((?:^|[;{}\s])\s*ConnSettings\s*=)"),
        QRegularExpression::CaseInsensitiveOption);
    if (NormalizeConnectionString(connectionString).contains(connectSql))
        return guardText(QStringLiteral("menolak connection string dengan ConnSettings (ia "
                                        "menjalankan SQL saat terhubung)."));
    return std::nullopt;
}

QString GuardTimeLimitText(int seconds)
{
    return guardText(
        QStringLiteral("menghentikan kueri setelah batas waktu %1 detik.").arg(seconds));
}

std::optional<QString> GuardWriteRefusalText(const QString& driverMessage)
{
    if (!driverMessage.contains(QLatin1String("readonly database"), Qt::CaseInsensitive) &&
        !driverMessage.contains(QLatin1String("read-only transaction"), Qt::CaseInsensitive))
        return std::nullopt;
    return guardText(QStringLiteral("menolak kueri yang mengubah data; tidak ada yang diubah."));
}

QString GuardRowLimitText(qint64 rows)
{
    return guardText(QStringLiteral("menolak laporan: hasilnya lebih dari %1 baris (batas baris); "
                                    "tidak ada yang diunggah.")
                         .arg(rows));
}

void MakeReadOnly(OdbcConnection& connection)
{
    const SQLHANDLE hdbc = connection.handle();
    if (!hdbc)
        throw GuardError(DbError::kDriverError,
                         guardText(QStringLiteral("tidak menemukan koneksi ODBC.")));
    // Advisory in most drivers (the two below accept it and write all the same), binding in
    // some; set it everywhere.
    SQLSetConnectAttr(hdbc, SQL_ATTR_ACCESS_MODE, reinterpret_cast<SQLPOINTER>(SQL_MODE_READ_ONLY),
                      0);
    const QString dbms = connection.dbmsName();
    QSqlDatabase db = connection.database();
    if (dbms.contains(QLatin1String("SQLite"), Qt::CaseInsensitive)) {
        if (setAndRead(db, QStringLiteral("PRAGMA query_only=1"),
                       QStringLiteral("PRAGMA query_only")) == QLatin1String("1"))
            return;
    } else if (dbms.contains(QLatin1String("PostgreSQL"), Qt::CaseInsensitive)) {
        if (setAndRead(db, QStringLiteral("SET SESSION CHARACTERISTICS AS TRANSACTION READ ONLY"),
                       QStringLiteral("SHOW default_transaction_read_only")) == QLatin1String("on"))
            return;
    }
    throw GuardError(DbError::kDriverError,
                     guardText(QStringLiteral("tidak dapat membuat basis data \"%1\" hanya-baca; "
                                              "permintaan tidak dijalankan.")
                                   .arg(dbms)));
}

StatementWatchdog::~StatementWatchdog()
{
    disarm();
}

void StatementWatchdog::arm(void* statement, int seconds)
{
    disarm();
    m_stop = false;
    m_thread = std::thread([this, statement, seconds] {
        std::unique_lock lock(m_mutex);
        if (m_wake.wait_for(lock, std::chrono::seconds(seconds), [this] { return m_stop; }))
            return;
        m_fired = true;
        // Cancelling from another thread is what SQLCancel is for; the reading thread's call
        // then fails and the run ends as a failure.
        SQLCancel(statement);
    });
}

void StatementWatchdog::disarm()
{
    if (!m_thread.joinable())
        return;
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void ExecGuarded(QSqlQuery& recordset, const QString& sql, const OwnerGuard& guard,
                 StatementWatchdog& watchdog)
{
    if (!recordset.prepare(sql))
        throw QueryError(recordset);
    const QSqlResult* result = recordset.result();
    const SQLHANDLE stmt = result ? OdbcHandle(result->handle()) : nullptr;
    if (!stmt)
        throw DbError(DbError::kDriverError,
                      QStringLiteral("The query has no ODBC statement to run."));
    SQLSetStmtAttr(stmt, SQL_ATTR_QUERY_TIMEOUT,
                   reinterpret_cast<SQLPOINTER>(SQLULEN(guard.timeLimitSeconds)), 0);
    watchdog.arm(stmt, guard.timeLimitSeconds);
    if (!recordset.exec())
        throw QueryError(recordset);
}
