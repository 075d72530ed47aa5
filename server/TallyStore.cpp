// SQLite storage of the reporting service.
#include "TallyStore.h"

#include <QAtomicInteger>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

Q_LOGGING_CATEGORY(lcStore, "tallyframe.server.store", QtInfoMsg)

#ifdef Q_OS_WIN
// Windows builds (the agent's tests there) have no Qt SQLite driver: they reach the same file
// through the SQLite ODBC driver, whose connection string the test support knows how to write.
QString sqliteConnectionString(const QString& path);
#endif

namespace {

QAtomicInteger<quint64> connectionCounter;

// Case-insensitive uniqueness of names must hold for any script, which SQLite's NOCASE (ASCII
// only) does not give; the folded name is kept in a column of its own.
QString nameKey(const QString& name)
{
    return name.toCaseFolded();
}

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

QDateTime fromMs(const QVariant& value)
{
    return value.isNull() ? QDateTime() : QDateTime::fromMSecsSinceEpoch(value.toLongLong());
}

const char* const companyColumns = "id, name, api_key, telp, conn_str, device_name, app_hide";
const char* const requestColumns =
    "urut, company_id, sql, file_name, title, done, times_handed_out, created, last_handed_out, "
    "modified, token";
const char* const savedQueryColumns = "id, company_id, name, sql, file_name, title";

// API keys, connection strings and reports: nothing in the data folder is anyone else's business.
constexpr QFile::Permissions ownerOnlyDir = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
constexpr QFile::Permissions ownerOnlyFile = QFile::ReadOwner | QFile::WriteOwner;
const char* const reportColumns =
    "id, company_id, urut, file_name, title, received, row_count, size";

TallyStore::Company companyFrom(const QSqlQuery& query)
{
    TallyStore::Company company;
    company.id = query.value(0).toLongLong();
    company.name = query.value(1).toString();
    company.apiKey = query.value(2).toString();
    company.telp = query.value(3).toString();
    company.connStr = query.value(4).toString();
    company.deviceName = query.value(5).toString();
    company.appHide = query.value(6).toInt();
    return company;
}

TallyStore::Request requestFrom(const QSqlQuery& query)
{
    TallyStore::Request request;
    request.urut = query.value(0).toLongLong();
    request.companyId = query.value(1).toLongLong();
    request.sql = query.value(2).toString();
    request.fileName = query.value(3).toString();
    request.title = query.value(4).toString();
    request.done = query.value(5).toBool();
    request.timesHandedOut = query.value(6).toInt();
    request.created = fromMs(query.value(7));
    request.lastHandedOut = fromMs(query.value(8));
    request.modified = fromMs(query.value(9));
    request.token = query.value(10).toString();
    return request;
}

// The row id of the row the query inserted. Qt's ODBC driver does not know how to ask SQLite;
// SQLite keeps it per connection.
qint64 insertedId(const QSqlQuery& query, const QSqlDatabase& db)
{
    const QVariant id = query.lastInsertId();
    if (id.isValid())
        return id.toLongLong();
    QSqlQuery ask(db);
    return ask.exec(QStringLiteral("SELECT last_insert_rowid()")) && ask.next()
               ? ask.value(0).toLongLong()
               : 0;
}

TallyStore::Report reportFrom(const QSqlQuery& query)
{
    TallyStore::Report report;
    report.id = query.value(0).toLongLong();
    report.companyId = query.value(1).toLongLong();
    report.urut = query.value(2).toLongLong();
    report.fileName = query.value(3).toString();
    report.title = query.value(4).toString();
    report.received = fromMs(query.value(5));
    report.rowCount = query.value(6).toLongLong();
    report.size = query.value(7).toLongLong();
    return report;
}

TallyStore::SavedQuery savedQueryFrom(const QSqlQuery& query)
{
    TallyStore::SavedQuery saved;
    saved.id = query.value(0).toLongLong();
    saved.companyId = query.value(1).toLongLong();
    saved.name = query.value(2).toString();
    saved.sql = query.value(3).toString();
    saved.fileName = query.value(4).toString();
    saved.title = query.value(5).toString();
    return saved;
}

} // namespace

TallyStore::TallyStore(const QString& dataDir)
    : m_dataDir(QDir(dataDir).absolutePath()),
      m_connectionName(QStringLiteral("tallyframe-store-%1").arg(++connectionCounter))
{}

TallyStore::~TallyStore()
{
    if (!QSqlDatabase::contains(m_connectionName))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
}

bool TallyStore::open(QString* error)
{
    const auto fail = [error](const QString& message) {
        qCWarning(lcStore).noquote() << message;
        if (error)
            *error = message;
        return false;
    };
    QDir dir;
    for (const QString& path : {m_dataDir, appDir(), m_dataDir + "/reports"}) {
        if (!dir.mkpath(path) || !QFile::setPermissions(path, ownerOnlyDir))
            return fail(QStringLiteral("cannot create the data folder %1").arg(path));
    }
    // SQLite gives its journal files the database file's permissions.
    const QString dbPath = m_dataDir + "/service.db";
    {
        QFile dbFile(dbPath);
        if (!dbFile.open(QIODevice::ReadWrite) || !dbFile.setPermissions(ownerOnlyFile))
            return fail(QStringLiteral("cannot create %1: %2").arg(dbPath, dbFile.errorString()));
    }
    for (const char* suffix : {"-wal", "-shm"}) {
        if (QFile::exists(dbPath + suffix))
            QFile::setPermissions(dbPath + suffix, ownerOnlyFile);
    }

#ifdef Q_OS_WIN
    QSqlDatabase db = QSqlDatabase::contains(m_connectionName)
                          ? QSqlDatabase::database(m_connectionName, false)
                          : QSqlDatabase::addDatabase("QODBC", m_connectionName);
    db.setDatabaseName(sqliteConnectionString(m_dataDir + "/service.db") + "Timeout=5000;");
#else
    QSqlDatabase db = QSqlDatabase::contains(m_connectionName)
                          ? QSqlDatabase::database(m_connectionName, false)
                          : QSqlDatabase::addDatabase("QSQLITE", m_connectionName);
    db.setDatabaseName(dbPath);
    // The admin commands of the executable may write while a server runs on the same folder.
    db.setConnectOptions("QSQLITE_BUSY_TIMEOUT=5000");
#endif
    if (!db.open())
        return fail(
            QStringLiteral("cannot open %1: %2").arg(db.databaseName(), db.lastError().text()));

    const QStringList schema = {
        "PRAGMA journal_mode=WAL",
        "PRAGMA synchronous=NORMAL",
        "CREATE TABLE IF NOT EXISTS companies ("
        " id INTEGER PRIMARY KEY AUTOINCREMENT,"
        " name TEXT NOT NULL,"
        " name_key TEXT NOT NULL UNIQUE,"
        " api_key TEXT NOT NULL UNIQUE,"
        " telp TEXT NOT NULL DEFAULT '',"
        " conn_str TEXT NOT NULL DEFAULT '',"
        " device_name TEXT NOT NULL UNIQUE,"
        " app_hide INTEGER NOT NULL DEFAULT 0,"
        " last_handed_urut INTEGER)",
        "CREATE TABLE IF NOT EXISTS requests ("
        " urut INTEGER PRIMARY KEY AUTOINCREMENT,"
        " company_id INTEGER NOT NULL REFERENCES companies(id),"
        " sql TEXT NOT NULL,"
        " file_name TEXT NOT NULL,"
        " title TEXT NOT NULL,"
        " done INTEGER NOT NULL DEFAULT 0,"
        " times_handed_out INTEGER NOT NULL DEFAULT 0,"
        " created INTEGER NOT NULL,"
        " last_handed_out INTEGER,"
        " handout_seq INTEGER,"
        " modified INTEGER)",
        "CREATE INDEX IF NOT EXISTS requests_pending ON requests(company_id, done, urut)",
        "CREATE TABLE IF NOT EXISTS reports ("
        " id INTEGER PRIMARY KEY AUTOINCREMENT,"
        " company_id INTEGER NOT NULL,"
        " urut INTEGER NOT NULL,"
        " file_name TEXT NOT NULL,"
        " title TEXT NOT NULL,"
        " received INTEGER NOT NULL,"
        " row_count INTEGER NOT NULL,"
        " size INTEGER NOT NULL)",
        "CREATE INDEX IF NOT EXISTS reports_company ON reports(company_id, id)",
        "CREATE TABLE IF NOT EXISTS saved_queries ("
        " id INTEGER PRIMARY KEY AUTOINCREMENT,"
        " company_id INTEGER NOT NULL REFERENCES companies(id),"
        " name TEXT NOT NULL,"
        " sql TEXT NOT NULL,"
        " file_name TEXT NOT NULL,"
        " title TEXT NOT NULL,"
        " UNIQUE (company_id, name))",
    };
    const auto exec = [&db](const QString& statement) {
        QSqlQuery query(db);
        return query.exec(statement) ? QString() : query.lastError().text();
    };
    for (const QString& statement : schema) {
        const QString problem = exec(statement);
        if (!problem.isEmpty())
            return fail(QStringLiteral("cannot prepare %1: %2").arg(db.databaseName(), problem));
    }
    // Data folders from before hand-out tokens get the column; their requests get a token at
    // their next hand-out.
    QSqlQuery columns(db);
    bool hasToken = false;
    columns.exec("PRAGMA table_info(requests)");
    while (columns.next())
        hasToken = hasToken || columns.value(1).toString() == QLatin1String("token");
    columns.finish();
    for (const QString& statement :
         {hasToken ? QString() : QStringLiteral("ALTER TABLE requests ADD COLUMN token TEXT"),
          QStringLiteral("CREATE UNIQUE INDEX IF NOT EXISTS requests_token ON requests(token)")}) {
        const QString problem = statement.isEmpty() ? QString() : exec(statement);
        if (!problem.isEmpty())
            return fail(QStringLiteral("cannot prepare %1: %2").arg(db.databaseName(), problem));
    }
    return true;
}

bool TallyStore::isOpen() const
{
    return QSqlDatabase::contains(m_connectionName) && database().isOpen();
}

QString TallyStore::dataDir() const
{
    return m_dataDir;
}

QString TallyStore::appDir() const
{
    return m_dataDir + "/app";
}

QSqlDatabase TallyStore::database() const
{
    return QSqlDatabase::database(m_connectionName, false);
}

std::optional<QSqlQuery> TallyStore::run(const QString& sql, const QVariantList& values) const
{
    QSqlQuery query(database());
    if (!query.prepare(sql)) {
        qCWarning(lcStore).noquote() << "prepare failed:" << query.lastError().text() << sql;
        return std::nullopt;
    }
    for (const QVariant& value : values) {
        // A null QString binds as SQL NULL; a field that was simply not sent is empty text.
        const bool nullText = value.typeId() == QMetaType::QString && value.toString().isNull();
        query.addBindValue(nullText ? QVariant(QStringLiteral("")) : value);
    }
    if (!query.exec()) {
        qCWarning(lcStore).noquote() << "query failed:" << query.lastError().text() << sql;
        return std::nullopt;
    }
    return query;
}

std::optional<TallyStore::Company> TallyStore::companyWhere(const QString& condition,
                                                            const QVariant& value) const
{
    auto query = run(QStringLiteral("SELECT %1 FROM companies WHERE %2")
                         .arg(QLatin1String(companyColumns), condition),
                     {value});
    if (!query || !query->next())
        return std::nullopt;
    return companyFrom(*query);
}

std::optional<TallyStore::Company> TallyStore::companyByDevice(const QString& deviceName) const
{
    return companyWhere("device_name = ?", deviceName);
}

std::optional<TallyStore::Company> TallyStore::companyByApiKey(const QString& apiKey) const
{
    return companyWhere("api_key = ?", apiKey);
}

std::optional<TallyStore::Company> TallyStore::companyByName(const QString& name) const
{
    return companyWhere("name_key = ?", nameKey(name));
}

std::optional<TallyStore::Company> TallyStore::companyById(qint64 id) const
{
    return companyWhere("id = ?", id);
}

QString TallyStore::newApiKey()
{
    QString key;
    key.reserve(32);
    for (int i = 0; i < 4; ++i)
        key += QStringLiteral("%1").arg(QRandomGenerator::system()->generate(), 8, 16, QChar('0'));
    return key;
}

TallyStore::Company TallyStore::createCompany(const QString& name, const QString& deviceName,
                                              const QString& telp, const QString& connStr,
                                              int appHide, const QString& apiKey)
{
    Company company;
    company.name = name;
    company.deviceName = deviceName;
    company.telp = telp;
    company.connStr = connStr;
    company.appHide = appHide;
    company.apiKey = apiKey.isEmpty() ? newApiKey() : apiKey;
    auto query = run("INSERT INTO companies (name, name_key, api_key, telp, conn_str, device_name,"
                     " app_hide) VALUES (?, ?, ?, ?, ?, ?, ?)",
                     {name, nameKey(name), company.apiKey, telp, connStr, deviceName, appHide});
    if (query)
        company.id = insertedId(*query, database());
    return company;
}

bool TallyStore::updateCompany(const Company& company)
{
    auto query = run("UPDATE companies SET name = ?, name_key = ?, api_key = ?, telp = ?,"
                     " conn_str = ?, device_name = ?, app_hide = ? WHERE id = ?",
                     {company.name, nameKey(company.name), company.apiKey, company.telp,
                      company.connStr, company.deviceName, company.appHide, company.id});
    return query && query->numRowsAffected() == 1;
}

qint64 TallyStore::queueRequest(qint64 companyId, const QString& sql, const QString& fileName,
                                const QString& title)
{
    auto query = run("INSERT INTO requests (company_id, sql, file_name, title, created, token)"
                     " VALUES (?, ?, ?, ?, ?, ?)",
                     {companyId, sql, fileName, title, nowMs(), newApiKey()});
    return query ? insertedId(*query, database()) : 0;
}

std::optional<TallyStore::Request> TallyStore::requestWhere(const QString& condition,
                                                            const QVariantList& values) const
{
    auto query = run(QStringLiteral("SELECT %1 FROM requests WHERE %2")
                         .arg(QLatin1String(requestColumns), condition),
                     values);
    if (!query || !query->next())
        return std::nullopt;
    return requestFrom(*query);
}

QList<TallyStore::Request> TallyStore::requests(qint64 companyId) const
{
    QList<Request> list;
    auto query = run(QStringLiteral("SELECT %1 FROM requests WHERE company_id = ?"
                                    " ORDER BY urut DESC")
                         .arg(QLatin1String(requestColumns)),
                     {companyId});
    while (query && query->next())
        list.append(requestFrom(*query));
    return list;
}

std::optional<TallyStore::Request> TallyStore::request(qint64 urut) const
{
    return requestWhere("urut = ?", {urut});
}

std::optional<TallyStore::Request> TallyStore::oldestPendingRequest(qint64 companyId) const
{
    return requestWhere("company_id = ? AND done = 0 ORDER BY urut LIMIT 1", {companyId});
}

QString TallyStore::recordHandOut(const Request& request)
{
    const QString token = request.token.isEmpty() ? newApiKey() : request.token;
    // handout_seq orders hand-outs strictly even within one millisecond.
    run("UPDATE requests SET times_handed_out = times_handed_out + 1, last_handed_out = ?,"
        " handout_seq = (SELECT IFNULL(MAX(handout_seq), 0) + 1 FROM requests),"
        " token = ? WHERE urut = ?",
        {nowMs(), token, request.urut});
    run("UPDATE companies SET last_handed_urut = ? WHERE id = ?",
        {request.urut, request.companyId});
    return token;
}

std::optional<qint64> TallyStore::lastHandedOutUrut(qint64 companyId) const
{
    auto query = run("SELECT last_handed_urut FROM companies WHERE id = ?", {companyId});
    if (!query || !query->next() || query->value(0).isNull())
        return std::nullopt;
    return query->value(0).toLongLong();
}

bool TallyStore::setRequestDone(qint64 urut, bool done, bool touchModified)
{
    auto query = touchModified
                     ? run("UPDATE requests SET done = ?, modified = ? WHERE urut = ?",
                           {done ? 1 : 0, nowMs(), urut})
                     : run("UPDATE requests SET done = ? WHERE urut = ?", {done ? 1 : 0, urut});
    return query && query->numRowsAffected() == 1;
}

bool TallyStore::deletePendingRequest(qint64 companyId, qint64 urut)
{
    auto query = run("DELETE FROM requests WHERE urut = ? AND company_id = ? AND done = 0",
                     {urut, companyId});
    return query && query->numRowsAffected() == 1;
}

std::optional<TallyStore::Request> TallyStore::requestByToken(const QString& token) const
{
    if (token.isEmpty())
        return std::nullopt;
    return requestWhere("done = 0 AND handout_seq IS NOT NULL AND token = ?", {token});
}

QString TallyStore::reportPath(qint64 id) const
{
    return QStringLiteral("%1/reports/%2.json").arg(m_dataDir).arg(id);
}

qint64 TallyStore::addReport(const Report& info, const QByteArray& document, QString* error)
{
    return addReport(info, QList<QByteArrayView>{document}, error);
}

qint64 TallyStore::addReport(const Report& info, const QList<QByteArrayView>& pieces,
                             QString* error)
{
    qint64 size = 0;
    for (const QByteArrayView piece : pieces)
        size += piece.size();
    const auto fail = [error](const QString& message) -> qint64 {
        qCWarning(lcStore).noquote() << message;
        if (error)
            *error = message;
        return 0;
    };
    QSqlDatabase db = database();
    if (!db.transaction())
        return fail(QStringLiteral("cannot start a transaction: %1").arg(db.lastError().text()));
    const qint64 received = info.received.isValid() ? info.received.toMSecsSinceEpoch() : nowMs();
    auto query =
        run("INSERT INTO reports (company_id, urut, file_name, title, received, row_count,"
            " size) VALUES (?, ?, ?, ?, ?, ?, ?)",
            {info.companyId, info.urut, info.fileName, info.title, received, info.rowCount, size});
    if (!query) {
        db.rollback();
        return fail(QStringLiteral("cannot record the report"));
    }
    const qint64 id = insertedId(*query, database());
    query.reset();

    // The row becomes visible only together with a complete file.
    QSaveFile file(reportPath(id));
    bool written = file.open(QIODevice::WriteOnly);
    for (const QByteArrayView piece : pieces)
        written = written && file.write(piece.data(), piece.size()) == piece.size();
    if (!written || !file.commit() || !QFile::setPermissions(reportPath(id), ownerOnlyFile)) {
        db.rollback();
        return fail(QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString()));
    }
    if (!db.commit()) {
        QFile::remove(reportPath(id));
        return fail(QStringLiteral("cannot commit the report: %1").arg(db.lastError().text()));
    }
    return id;
}

QList<TallyStore::Report> TallyStore::reports(qint64 companyId) const
{
    QList<Report> list;
    auto query = run(QStringLiteral("SELECT %1 FROM reports WHERE company_id = ? ORDER BY id DESC")
                         .arg(QLatin1String(reportColumns)),
                     {companyId});
    while (query && query->next())
        list.append(reportFrom(*query));
    return list;
}

std::optional<TallyStore::Report> TallyStore::reportInfo(qint64 id) const
{
    auto query =
        run(QStringLiteral("SELECT %1 FROM reports WHERE id = ?").arg(QLatin1String(reportColumns)),
            {id});
    if (!query || !query->next())
        return std::nullopt;
    return reportFrom(*query);
}

std::optional<TallyStore::Report> TallyStore::report(qint64 id) const
{
    auto report = reportInfo(id);
    if (!report)
        return std::nullopt;
    QFile file(reportPath(id));
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcStore).noquote() << "cannot read" << file.fileName() << file.errorString();
        return std::nullopt;
    }
    report->document = file.readAll();
    return report;
}

QHash<qint64, qint64> TallyStore::latestReportByUrut(qint64 companyId) const
{
    QHash<qint64, qint64> latest;
    auto query =
        run("SELECT urut, MAX(id) FROM reports WHERE company_id = ? GROUP BY urut", {companyId});
    while (query && query->next())
        latest.insert(query->value(0).toLongLong(), query->value(1).toLongLong());
    return latest;
}

qint64 TallyStore::saveQuery(const SavedQuery& saved)
{
    auto query = run("INSERT INTO saved_queries (company_id, name, sql, file_name, title)"
                     " VALUES (?, ?, ?, ?, ?) ON CONFLICT (company_id, name) DO UPDATE SET"
                     " sql = excluded.sql, file_name = excluded.file_name, title = excluded.title",
                     {saved.companyId, saved.name, saved.sql, saved.fileName, saved.title});
    if (!query)
        return 0;
    query.reset();
    auto id = run("SELECT id FROM saved_queries WHERE company_id = ? AND name = ?",
                  {saved.companyId, saved.name});
    return id && id->next() ? id->value(0).toLongLong() : 0;
}

QList<TallyStore::SavedQuery> TallyStore::savedQueries(qint64 companyId) const
{
    QList<SavedQuery> list;
    auto query = run(QStringLiteral("SELECT %1 FROM saved_queries WHERE company_id = ?"
                                    " ORDER BY name COLLATE NOCASE, id")
                         .arg(QLatin1String(savedQueryColumns)),
                     {companyId});
    while (query && query->next())
        list.append(savedQueryFrom(*query));
    return list;
}

std::optional<TallyStore::SavedQuery> TallyStore::savedQuery(qint64 companyId, qint64 id) const
{
    auto query = run(QStringLiteral("SELECT %1 FROM saved_queries WHERE company_id = ? AND id = ?")
                         .arg(QLatin1String(savedQueryColumns)),
                     {companyId, id});
    if (!query || !query->next())
        return std::nullopt;
    return savedQueryFrom(*query);
}

bool TallyStore::deleteSavedQuery(qint64 companyId, qint64 id)
{
    auto query = run("DELETE FROM saved_queries WHERE company_id = ? AND id = ?", {companyId, id});
    return query && query->numRowsAffected() == 1;
}
