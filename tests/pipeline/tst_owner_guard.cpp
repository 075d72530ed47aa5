// What a hostile service cannot make the agent do, against the real drivers: load a library named
// by the connection string or by a query, and, with the owner's guard on, change data, run past
// the time limit or upload a result cut short. SQLite always; PostgreSQL in a private cluster
// when its programs are installed.
#include "support/TestPostgres.h"
#include "support/TestSupport.h"

#include "TallyStore.h"
#include "app/ProfileState.h"
#include "app/SettingsStore.h"
#include "pipeline/DriverCheck.h"
#include "pipeline/OdbcConnection.h"
#include "pipeline/ReportRun.h"
#include "service/HttpTransport.h"
#include "ui/Form1.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHttpServer>
#include <QHttpServerResponse>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QScopeGuard>
#include <QSettings>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <sql.h>
#include <sqlext.h>

#include <cstring>

namespace {

const QString kMarkerLibrary = QStringLiteral(TALLYFRAME_MARKER_LIBRARY);

// Takes uploads and keeps their bodies.
class UploadCatcher
{
public:
    UploadCatcher()
    {
        m_port = m_http.listen(QHostAddress::LocalHost, 0);
        m_http.route(QStringLiteral("/api/save-json.php"), [this](const QHttpServerRequest& r) {
            uploads << r.body();
            return QHttpServerResponse("text/plain", "Data saved");
        });
        client = ServiceClient({QStringLiteral("http://127.0.0.1:%1").arg(m_port), 5000});
    }
    QList<QByteArray> uploads;
    ServiceClient client;

private:
    QHttpServer m_http;
    quint16 m_port = 0;
};

struct Ran
{
    ReportRun run;
    QStringList prompts;
    QStringList boxTexts;
    qint64 ms = 0;
};

} // namespace

class TestOwnerGuard : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void driverByPathIsNeverLoaded_data();
    void driverByPathIsNeverLoaded();
    void dsnWithARegisteredDriverOpens();
    void queryCannotLoadALibrary();
    void markerShowsALoad();

    void accessModeAloneDoesNotStopWrites_data();
    void accessModeAloneDoesNotStopWrites();
    void guardChangesNothing_data();
    void guardChangesNothing();
    void guardStopsAtTheTimeLimit_data();
    void guardStopsAtTheTimeLimit();
    void guardRefusesAResultOverTheRowLimit_data();
    void guardRefusesAResultOverTheRowLimit();
    void windowRunsUnderTheOwnersSettings();

private:
    QString connectionString(const QString& database) const;
    Ran runReport(const QString& database, const QString& sql, const OwnerGuard& guard);
    qint64 rowCount(const QString& database, const QString& table);

    QTemporaryDir m_dir;
    QString m_marker;
    QString m_sqlite;
    std::unique_ptr<Postgres> m_postgres;
    QString m_postgresProblem;
    std::unique_ptr<UploadCatcher> m_service;
};

void TestOwnerGuard::initTestCase()
{
    QVERIFY(m_dir.isValid());
    qputenv("XDG_DATA_HOME", m_dir.filePath(QStringLiteral("data")).toUtf8());
    qputenv("XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral("config")).toUtf8());
    m_marker = m_dir.filePath(QStringLiteral("marker"));
    qputenv("TALLYFRAME_MARKER_FILE", m_marker.toUtf8());
    QVERIFY(QFile::exists(kMarkerLibrary));
    qputenv("TALLYFRAME_HTTP_TIMEOUT_MS", "5000");

    const QStringList table = {"CREATE TABLE t (id INTEGER, name TEXT)",
                               "INSERT INTO t VALUES (1, 'a'), (2, 'b'), (3, 'c'), (4, 'd'), "
                               "(5, 'e')"};
    m_sqlite = m_dir.filePath(QStringLiteral("toko.db"));
    createSqliteDatabase(m_sqlite, table);

    // The user's data sources, as unixODBC reads them: one by a registered driver name, one by
    // a library's path.
    const QString odbcIni = m_dir.filePath(QStringLiteral("odbc.ini"));
    QFile ini(odbcIni);
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write(("[Toko]\nDriver=SQLite3\nDatabase=" + m_sqlite +
               "\n[Berkas]\nDriver=" + kMarkerLibrary + "\nDatabase=" + m_sqlite + "\n")
                  .toUtf8());
    ini.close();
    qputenv("ODBCINI", odbcIni.toUtf8());

    const QString bin = postgresBinaries();
    if (bin.isEmpty()) {
        m_postgresProblem = QStringLiteral("PostgreSQL's programs are not installed");
        return;
    }
    // The cluster's account has to reach its folder inside this one.
    QFile::setPermissions(m_dir.path(),
                          QFile::permissions(m_dir.path()) | QFile::ExeOther | QFile::ReadOther);
    m_postgres = std::make_unique<Postgres>(bin, m_dir.filePath(QStringLiteral("pg")));
    QString error;
    if (!m_postgres->prepare(&error) ||
        !m_postgres->psql(QStringLiteral("postgres"), QStringLiteral("CREATE DATABASE toko;"),
                          &error) ||
        !m_postgres->psql(QStringLiteral("toko"), table.join(QStringLiteral(";\n")) + ';',
                          &error)) {
        m_postgresProblem = QStringLiteral("PostgreSQL did not start: ") + error;
        m_postgres->stop();
        m_postgres.reset();
    }
}

void TestOwnerGuard::cleanupTestCase()
{
    if (m_postgres)
        m_postgres->stop();
}

void TestOwnerGuard::init()
{
    m_service.reset();
    m_service = std::make_unique<UploadCatcher>();
    const QString database =
        QTest::currentDataTag() &&
                QString::fromLatin1(QTest::currentDataTag()).startsWith(QLatin1String("pg"))
            ? QStringLiteral("pg")
            : QString();
    if (database == QLatin1String("pg") && !m_postgres)
        QSKIP(qPrintable(m_postgresProblem));
}

QString TestOwnerGuard::connectionString(const QString& database) const
{
    if (database == QLatin1String("pg"))
        return m_postgres->connectionString(QStringLiteral("toko"));
    if (database == QLatin1String("sqlite step"))
        return sqliteConnectionString(m_sqlite) + QStringLiteral("StepAPI=1;");
    return sqliteConnectionString(m_sqlite);
}

Ran TestOwnerGuard::runReport(const QString& database, const QString& sql, const OwnerGuard& guard)
{
    Ran ran;
    ReportRunHost host;
    host.service = &m_service->client;
    host.prompting = [&ran](const QString& text) { ran.prompts << text; };
    host.setTxtRs = [&ran](const QString& text) { ran.boxTexts << text; };
    host.messageBox = [](const QString& text, int) { QFAIL(qPrintable(text)); };
    host.guard = guard;
    std::unique_ptr<OdbcConnection> connection;
    QElapsedTimer clock;
    clock.start();
    ran.run = RunReportQuery(sql, QStringLiteral("f"), QStringLiteral("t"),
                             connectionString(database), connection, host);
    ran.ms = clock.elapsed();
    return ran;
}

qint64 TestOwnerGuard::rowCount(const QString& database, const QString& table)
{
    const OdbcConnection connection(connectionString(database));
    QSqlQuery query(connection.database());
    if (!query.exec(QStringLiteral("SELECT count(*) FROM ") + table) || !query.next())
        return -1; // no such table
    return query.value(0).toLongLong();
}

// ---- no library by path -----------------------------------------------------------------

void TestOwnerGuard::driverByPathIsNeverLoaded_data()
{
    QTest::addColumn<QString>("connectionString");
    QTest::addColumn<QString>("refusal");
    const QString lib = kMarkerLibrary;
    QTest::newRow("driver path") << "DRIVER=" + lib + ";"
                                 << "bukan file";
    QTest::newRow("driver path in braces") << "DRIVER={" + lib + "};"
                                           << "bukan file";
    QTest::newRow("driver path after a DSN") << "DSN=x;DRIVER=" + lib << "bukan file";
    QTest::newRow("a path that does not exist")
        << QStringLiteral("DRIVER=/nonexistent/tallyframe/driver.so;") << "bukan file";
    QTest::newRow("unregistered name")
        << QStringLiteral("DRIVER={Tallyframe No Such Driver};Database=x;") << "tidak terdaftar";
    QTest::newRow("SQLite's LoadExt") << "DRIVER={SQLite3};Database=%DB%;LoadExt=" + lib + ";"
                                      << "LoadExt";
    QTest::newRow("file DSN") << "FILEDSN=" + m_dir.filePath("x.dsn") + ";"
                              << "FILEDSN";
}

void TestOwnerGuard::driverByPathIsNeverLoaded()
{
    QFETCH(QString, connectionString);
    QFETCH(QString, refusal);
    connectionString.replace(QLatin1String("%DB%"), m_sqlite);

    // The connection every opener uses: start-up, report run and the window's test.
    try {
        const OdbcConnection connection(connectionString);
        QFAIL("opened");
    } catch (const ConnectionRefused& e) {
        QVERIFY2(e.description().contains(refusal), qPrintable(e.description()));
        QCOMPARE(e.number(), DbError::kDriverError);
    }
    // A report run says why in the status line and keeps the request pending.
    std::unique_ptr<OdbcConnection> connection;
    QStringList prompts;
    ReportRunHost host;
    host.service = &m_service->client;
    host.prompting = [&prompts](const QString& text) { prompts << text; };
    host.setTxtRs = [](const QString&) {};
    host.messageBox = [](const QString&, int) {};
    const ReportRun run = RunReportQuery(QStringLiteral("SELECT 1"), QStringLiteral("f"), {},
                                         connectionString, connection, host);
    QCOMPARE(run.outcome, ReportRun::DatabaseUnreachable);
    QVERIFY(!run.flagRequest());
    QVERIFY2(prompts.last().startsWith(QLatin1String("Koneksi ditolak: ")),
             qPrintable(prompts.join('|')));
    QVERIFY2(!QFile::exists(m_marker), "the library was loaded");
}

void TestOwnerGuard::dsnWithARegisteredDriverOpens()
{
    const OdbcConnection connection(QStringLiteral("DSN=Toko;SERVER=x;"));
    QVERIFY(connection.isOpen());
    QSqlQuery query(connection.database());
    QVERIFY(query.exec(QStringLiteral("SELECT count(*) FROM t")) && query.next());
    QCOMPARE(query.value(0).toInt(), 5);
}

void TestOwnerGuard::queryCannotLoadALibrary()
{
    for (const QString& sql : {"SELECT load_extension('" + kMarkerLibrary + "')",
                               "SELECT \"LOAD_EXTENSION\"('" + kMarkerLibrary + "', 'x')"}) {
        const Ran ran = runReport({}, sql, OwnerGuard());
        QCOMPARE(ran.run.outcome, ReportRun::DatabaseFailure);
        QVERIFY(ran.run.flagRequest());
        QVERIFY2(ran.prompts.value(0).contains(QLatin1String("load_extension")),
                 qPrintable(ran.prompts.join('|')));
        QVERIFY(m_service->uploads.isEmpty());
        QVERIFY2(!QFile::exists(m_marker), "the library was loaded");
    }
}

void TestOwnerGuard::markerShowsALoad()
{
    // The checks above would pass with a marker that never appears: SQLite's driver, asked
    // directly, loads the library and the marker is there.
    QVERIFY(!QFile::exists(m_marker));
    const OdbcConnection connection(sqliteConnectionString(m_sqlite));
    QSqlQuery query(connection.database());
    query.exec("SELECT load_extension('" + kMarkerLibrary + "')");
    QVERIFY(QFile::exists(m_marker));
}

// ---- the owner's guard ------------------------------------------------------------------

void TestOwnerGuard::accessModeAloneDoesNotStopWrites_data()
{
    QTest::addColumn<QString>("database");
    QTest::newRow("sqlite") << "sqlite";
    QTest::newRow("pg") << "pg";
}

void TestOwnerGuard::accessModeAloneDoesNotStopWrites()
{
    // Both drivers accept SQL_ATTR_ACCESS_MODE and write all the same: the guard's own switch of
    // each database is what stops them.
    QFETCH(QString, database);
    for (const bool guarded : {false, true}) {
        OdbcConnection connection(connectionString(database));
        QSqlDatabase db = connection.database();
        const QVariant handle = db.driver()->handle();
        SQLHANDLE hdbc = nullptr;
        std::memcpy(&hdbc, handle.constData(), sizeof hdbc);
        SQLSetConnectAttr(hdbc, SQL_ATTR_ACCESS_MODE,
                          reinterpret_cast<SQLPOINTER>(SQL_MODE_READ_ONLY), 0);
        if (guarded)
            MakeReadOnly(connection);
        QSqlQuery query(db);
        const bool wrote = query.exec(QStringLiteral("UPDATE t SET name = name WHERE id = 1"));
        QCOMPARE(wrote, !guarded);
    }
}

void TestOwnerGuard::guardChangesNothing_data()
{
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("runsNothing"); // refused before a connection is made

    for (const QString& db : {QStringLiteral("sqlite"), QStringLiteral("pg")}) {
        const QByteArray tag = db.toLatin1() + ": ";
        QTest::newRow(tag + "delete") << db << "DELETE FROM t" << true;
        QTest::newRow(tag + "update") << db << "UPDATE t SET name = 'x'" << true;
        QTest::newRow(tag + "create as select")
            << db << "CREATE TABLE c AS SELECT * FROM t" << true;
        QTest::newRow(tag + "two statements") << db << "SELECT 1; DELETE FROM t" << true;
    }
    QTest::newRow("sqlite: data-modifying with")
        << "sqlite"
        << "WITH x AS (SELECT 1) DELETE FROM t WHERE id IN (SELECT * FROM x)" << false;
    QTest::newRow("pg: data-modifying with")
        << "pg"
        << "WITH d AS (DELETE FROM t RETURNING id) SELECT * FROM d" << false;
    QTest::newRow("pg: select into") << "pg"
                                     << "SELECT * INTO c FROM t" << false;
    QTest::newRow("pg: read-write again for the next statement")
        << "pg"
        << "SELECT set_config('default_transaction_read_only', 'off', false); COMMIT; "
           "DELETE FROM t"
        << true;
    QTest::newRow("pg: SQL while connecting")
        << "pg"
        << "SELECT 1 %CONN%ConnSettings={DELETE FROM t};" << true;
}

void TestOwnerGuard::guardChangesNothing()
{
    QFETCH(QString, database);
    QFETCH(QString, sql);
    QFETCH(bool, runsNothing);
    OwnerGuard guard;
    guard.readOnly = true;
    const qint64 before = rowCount(database, QStringLiteral("t"));
    QCOMPARE(before, 5);

    Ran ran;
    if (sql.contains(QLatin1String("%CONN%"))) {
        // The connection string carries the write.
        ReportRunHost host;
        host.service = &m_service->client;
        host.prompting = [&ran](const QString& text) { ran.prompts << text; };
        host.setTxtRs = [](const QString&) {};
        host.messageBox = [](const QString&, int) {};
        host.guard = guard;
        std::unique_ptr<OdbcConnection> connection;
        const QStringList parts = sql.split(QLatin1String("%CONN%"));
        ran.run = RunReportQuery(parts[0], QStringLiteral("f"), {},
                                 connectionString(database) + parts[1], connection, host);
    } else {
        ran = runReport(database, sql, guard);
    }

    // Flagged like a failing SQL, nothing uploaded, nothing changed.
    QCOMPARE(ran.run.outcome, ReportRun::DatabaseFailure);
    QVERIFY(ran.run.flagRequest());
    QVERIFY(m_service->uploads.isEmpty());
    QCOMPARE(rowCount(database, QStringLiteral("t")), before);
    QCOMPARE(rowCount(database, QStringLiteral("c")), -1);
    if (runsNothing) {
        QCOMPARE(ran.prompts.size(), 1);
        QVERIFY2(ran.prompts[0].startsWith(QLatin1String("Penjaga hanya-baca menolak")),
                 qPrintable(ran.prompts[0]));
    } else {
        // Stopped by the read-only connection, and the status line says whose doing it is.
        QVERIFY(ran.prompts.contains(QStringLiteral("Terhubung database")));
        QCOMPARE(ran.prompts.last(), QStringLiteral("Penjaga hanya-baca menolak kueri yang "
                                                    "mengubah data; tidak ada yang diubah."));
    }
}

void TestOwnerGuard::guardStopsAtTheTimeLimit_data()
{
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("sql");
    // Far more work than a test may take: only the limit ends it.
    const QString endless =
        QStringLiteral("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c "
                       "WHERE x < 9000000000) SELECT count(*) FROM c");
    QTest::newRow("sqlite: while executing") << "sqlite" << endless;
    QTest::newRow("sqlite: while fetching (StepAPI=1)") << "sqlite step" << endless;
    QTest::newRow("pg: pg_sleep") << "pg"
                                  << "SELECT pg_sleep(600)";
}

void TestOwnerGuard::guardStopsAtTheTimeLimit()
{
    QFETCH(QString, database);
    QFETCH(QString, sql);
    OwnerGuard guard;
    guard.readOnly = true;
    guard.timeLimitSeconds = 2;

    const Ran ran = runReport(database, sql, guard);

    QCOMPARE(ran.run.outcome, ReportRun::DatabaseFailure);
    QVERIFY(ran.run.flagRequest());
    QVERIFY(m_service->uploads.isEmpty());
    QVERIFY2(ran.prompts.last() ==
                 QStringLiteral("Penjaga hanya-baca menghentikan kueri setelah batas waktu 2 "
                                "detik."),
             qPrintable(ran.prompts.join('|')));
    QVERIFY2(ran.boxTexts.value(0).contains(QLatin1String("batas waktu 2 detik")),
             qPrintable(ran.boxTexts.join('|')));
    // Stopped, not finished: the query alone would run for hours.
    QVERIFY2(ran.ms < 60000, qPrintable(QString::number(ran.ms)));
}

void TestOwnerGuard::guardRefusesAResultOverTheRowLimit_data()
{
    QTest::addColumn<QString>("database");
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<bool>("uploaded");
    for (const QString& db : {QStringLiteral("sqlite"), QStringLiteral("pg")}) {
        const QByteArray tag = db.toLatin1() + ": ";
        QTest::newRow(tag + "one row over") << db << qint64(4) << false;
        QTest::newRow(tag + "far over") << db << qint64(1) << false;
        QTest::newRow(tag + "exactly the limit") << db << qint64(5) << true;
    }
}

void TestOwnerGuard::guardRefusesAResultOverTheRowLimit()
{
    QFETCH(QString, database);
    QFETCH(qint64, limit);
    QFETCH(bool, uploaded);
    OwnerGuard guard;
    guard.readOnly = true;
    guard.rowLimit = limit;

    const Ran ran =
        runReport(database, QStringLiteral("SELECT id, name FROM t ORDER BY id"), guard);

    if (uploaded) {
        QCOMPARE(ran.run.outcome, ReportRun::Uploaded);
        QCOMPARE(m_service->uploads.size(), 1);
        const QJsonObject document = QJsonDocument::fromJson(m_service->uploads[0]).object();
        QCOMPARE(document.value("data").toArray().size(), 5);
        return;
    }
    // Refused whole: no document goes out cut short, and the status line says why.
    QCOMPARE(ran.run.outcome, ReportRun::DatabaseFailure);
    QVERIFY(ran.run.flagRequest());
    QVERIFY(m_service->uploads.isEmpty());
    const QString text = GuardRowLimitText(limit);
    QVERIFY(text.contains(QStringLiteral("lebih dari %1 baris").arg(limit)));
    QCOMPARE(ran.prompts.last(), text);
    QVERIFY(ran.boxTexts.value(0).endsWith(text));
    QCOMPARE(QDir(ReportSpoolFolder()).entryList({"tallyframe-report-*"}, QDir::Files), {});
}

void TestOwnerGuard::windowRunsUnderTheOwnersSettings()
{
    // The main window's report run takes the guard from the owner's settings on this PC.
    OwnerGuard guard;
    guard.readOnly = true;
    guard.rowLimit = 2;
    guard.save(*SettingsStore::open());
    const auto clear = qScopeGuard([] {
        SettingsStore::clearAll();
        ProfileState::instance() = ProfileState();
    });
    const QString device = QStringLiteral("00:1A:2B:3C:4D:5E");
    TestService service;
    const DeviceNameGuard deviceName(device);
    ScriptedDialogs dialogs;
    const auto company = service.store().createCompany(QStringLiteral("Toko"), device, {},
                                                       sqliteConnectionString(m_sqlite));
    ProfileState& p = ProfileState::instance();
    p = ProfileState();
    p.CompanyName = company.name;
    p.ApiKey = company.apiKey;
    p.ConnectionString = company.connStr;
    ServiceClient client;
    Form1 form(client, dialogs);
    form.Label7->setText(company.name);

    const QList<QPair<QString, QString>> requests = {
        {QStringLiteral("DELETE FROM t"), QStringLiteral("Penjaga hanya-baca menolak permintaan")},
        {QStringLiteral("SELECT * FROM t"), QStringLiteral("lebih dari 2 baris")}};
    for (const auto& [sql, status] : requests) {
        const qint64 urut =
            service.store().queueRequest(company.id, sql, QStringLiteral("f"), QStringLiteral("t"));
        runCourierTick(*form.courier(), [&form] { form.Timer2_Timer(); });
        QVERIFY2(form.LblResponse->text().contains(status), qPrintable(form.LblResponse->text()));
        QVERIFY(service.store().request(urut)->done);
    }
    QCOMPARE(rowCount(QStringLiteral("sqlite"), QStringLiteral("t")), 5);
    QVERIFY(service.store().reports(company.id).isEmpty());
}

QTEST_MAIN(TestOwnerGuard)
#include "tst_owner_guard.moc"
