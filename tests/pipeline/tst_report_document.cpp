// The report document as the agent writes it from a real SQLite database through ODBC, and the
// failures of a run that never reach the service.
#include "support/TestPostgres.h"
#include "support/TestSupport.h"

#include "pipeline/OdbcConnection.h"
#include "pipeline/ReportFooter.h"
#include "pipeline/ReportJsonWriter.h"
#include "pipeline/ReportRun.h"

#include <QBuffer>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

class TestReportDocument : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void workedExample_data();
    void workedExample();
    void document_data();
    void document();
    void longValuesInPieces_data();
    void longValuesInPieces();
    void runFailures_data();
    void runFailures();
    void postgres_data();
    void postgres();
    void cleanupTestCase();

private:
    static void fetchModes();
    QByteArray documentFor(const QString& sql, const QString& title, const QString& fileName,
                           const QString& footer, const QString& connectionString = {});
    bool startPostgres(QString* why);
    QTemporaryDir m_dir;
    QString m_db;
    std::unique_ptr<Postgres> m_pg;
    QString m_pgConnection;
};

void TestReportDocument::initTestCase()
{
    QVERIFY(m_dir.isValid());
    qputenv("XDG_DATA_HOME", m_dir.filePath(QStringLiteral("data")).toUtf8());
    m_db = m_dir.filePath(QStringLiteral("shop.db"));
    createSqliteDatabase(
        m_db,
        {
            "CREATE TABLE people (id INTEGER, name TEXT)",
            "INSERT INTO people VALUES (1, 'Ann'), (2, NULL)",
            "CREATE TABLE texts (id INTEGER, t TEXT)",
            "INSERT INTO texts VALUES (1, 'say \"hi\"'), (2, 'C:\\dir\\'), "
            "(3, 'a' || char(10) || 'b' || char(13) || char(9) || char(1)), "
            "(4, 'caf' || char(233) || ' ' || char(26085) || char(128512)), (5, '')",
            "CREATE TABLE typed (i INTEGER, big INTEGER, d DECIMAL(12,2), r REAL, dt DATE, "
            "ts DATETIME, tm TIME, b BLOB, flag BOOLEAN)",
            "INSERT INTO typed VALUES (42, 9007199254740993, 45445.00, 1.0, '2026-12-07', "
            "'2026-12-07 10:15:00', '10:15:00', x'00ff10', 1)",
            "INSERT INTO typed VALUES (-7, 0, 40237.80, 0.1, '2024-02-29', "
            "'2024-02-29 23:59:59', '00:00:01', x'', 0)",
            "INSERT INTO typed VALUES (NULL, NULL, NULL, 2.5, NULL, NULL, NULL, NULL, NULL)",
            // Values the declared type cannot hold: SQLite keeps whatever it is given.
            "CREATE TABLE awkward (id INTEGER, d DATE, ts DATETIME, tm TIME, f FLOAT, "
            "n NUMERIC, r REAL, flag BOOLEAN)",
            "INSERT INTO awkward VALUES (1, 'not a date', '10:15:00', 'noon', 'abc', 'xyz', "
            "'n/a', 'yes')",
            "INSERT INTO awkward VALUES (2, '2026-12-7', '2026-12-07T10:15:00.5', '10:15', '1.0', "
            "'12.50', 1e300, 2)",
            "INSERT INTO awkward VALUES (3, '2026-12-07 10:00:00', '2026-12-07', '10:15:00.25', "
            "'', 3, 1.0, 'True')",
            "CREATE TABLE empty (a INTEGER, b TEXT)",
            "CREATE TABLE \"odd names\" (\"x\"\"y\" INTEGER, \"back\\slash\" INTEGER, "
            "\"line\nbreak\" INTEGER)",
            "INSERT INTO \"odd names\" VALUES (1, 2, 3)",
            // Far longer than one piece of the fetch, with pairs that straddle piece ends.
            "CREATE TABLE long (t TEXT, u TEXT, b BLOB)",
            "INSERT INTO long VALUES (replace(hex(zeroblob(5000)), '00', char(128512) || 'x'), "
            "replace(hex(zeroblob(5000)), '00', char(128512) || 'xy'), "
            "CAST(replace(hex(zeroblob(5000)), '00', 'a\"b') AS BLOB))",
            // Texts at and just over the bound buffer of either fetch (511 UTF-8 bytes, 255
            // UTF-16 units), characters across its end, a form's text longer than its buffer,
            // and an unbound column between bound ones.
            "CREATE TABLE edges (id INTEGER, t TEXT, b BLOB, d DATE)",
            "INSERT INTO edges VALUES (1, replace(hex(zeroblob(255)), '00', 'x'), x'01', "
            "'2026-12-07'), (2, replace(hex(zeroblob(256)), '00', 'x'), NULL, NULL), "
            "(3, replace(hex(zeroblob(511)), '00', 'x'), x'', '2026-12-7'), "
            "(4, replace(hex(zeroblob(512)), '00', 'x'), NULL, NULL), "
            "(5, replace(hex(zeroblob(254)), '00', 'x') || char(128512), NULL, NULL), "
            "(6, replace(hex(zeroblob(510)), '00', 'x') || char(233), NULL, "
            "replace(hex(zeroblob(70)), '00', 'y')), (7, NULL, NULL, NULL)",
        });
}

QByteArray TestReportDocument::documentFor(const QString& sql, const QString& title,
                                           const QString& fileName, const QString& footer,
                                           const QString& connectionString)
{
    OdbcConnection connection(connectionString.isEmpty() ? sqliteConnectionString(m_db)
                                                         : connectionString);
    QSqlQuery query(connection.database());
    query.setForwardOnly(true);
    if (!query.exec(sql))
        qFatal("fixture query failed: %s: %s", qPrintable(sql),
               qPrintable(query.lastError().text()));
    QByteArray document;
    QBuffer buffer(&document);
    buffer.open(QIODevice::WriteOnly);
    ReportSink sink(&buffer);
    RecordsetToJson(query, fileName, title, footer, sink);
    return document;
}

// Text is fetched as UTF-16 or, where narrow text is UTF-8, as UTF-8: both give the same bytes.
void TestReportDocument::fetchModes()
{
    QTest::addColumn<QByteArray>("fetch");
    QTest::newRow("utf16") << QByteArray("utf16");
    QTest::newRow("utf8") << QByteArray("utf8");
}

void TestReportDocument::workedExample_data()
{
    fetchModes();
}

void TestReportDocument::workedExample()
{
    QFETCH(QByteArray, fetch);
    qputenv("TALLYFRAME_TEXT_FETCH", fetch);
    const QString footer =
        FooterText(QDateTime(QDate(2026, 12, 7), QTime(10, 15, 0)), QStringLiteral("7055475"));
    QCOMPARE(documentFor(QStringLiteral("SELECT id, name FROM people ORDER BY id"),
                         QStringLiteral("Daily sales"), QStringLiteral("sales_daily"), footer),
             QByteArray(R"({"title":"Daily sales","fileName":"sales_daily","header":["id","name"],)"
                        R"("data":[{"id":"1","name":"Ann"},{"id":"2","name":""}],)"
                        R"("footer":"Query termutakhir pada: 2026-12-07 10:15:00 | Cx7055475"})"));
}

// The document of `SELECT * FROM edges ORDER BY id` (both databases hold the same rows).
static QByteArray edgesDocument(const QByteArray& longDate)
{
    const auto x = [](int n) { return QByteArray(n, 'x'); };
    return R"({"header":["id","t","b","d"],"data":[{"id":"1","t":")" + x(255) +
           R"(","b":"AQ==","d":"2026-12-07"},{"id":"2","t":")" + x(256) +
           R"(","b":"","d":""},{"id":"3","t":")" + x(511) +
           R"(","b":"","d":"2026-12-07"},{"id":"4","t":")" + x(512) +
           R"(","b":"","d":""},{"id":"5","t":")" + x(254) +
           "\xf0\x9f\x98\x80"
           R"(","b":"","d":""},{"id":"6","t":")" +
           x(510) +
           "\xc3\xa9"
           R"(","b":"","d":")" +
           longDate + R"("},{"id":"7","t":"","b":"","d":""}],"footer":"F"})";
}

void TestReportDocument::document_data()
{
    QTest::addColumn<QByteArray>("fetch");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("expected");
    for (const QByteArray& fetch : {QByteArray("utf16"), QByteArray("utf8")}) {
        const auto row = [&fetch](const char* tag) -> QTestData& {
            return QTest::addRow("%s, %s", fetch.constData(), tag) << fetch;
        };

        row("no rows") << "SELECT a, b FROM empty"
                       << "T"
                       << "f"
                       << QByteArray(R"({"title":"T","fileName":"f","header":["a","b"],)"
                                     R"("data":[],"footer":"F"})");
        row("no title, no file name")
            << "SELECT id FROM people WHERE id = 1"
            << ""
            << "" << QByteArray(R"({"header":["id"],"data":[{"id":"1"}],"footer":"F"})");
        row("file name only") << "SELECT id FROM people WHERE id = 1"
                              << ""
                              << "f"
                              << QByteArray(R"({"fileName":"f","header":["id"],)"
                                            R"("data":[{"id":"1"}],"footer":"F"})");
        row("quotes, backslashes, controls, non-ASCII, empty")
            << "SELECT t FROM texts ORDER BY id"
            << ""
            << ""
            << QByteArray(R"({"header":["t"],"data":[{"t":"say \"hi\""},{"t":"C:\\dir\\"},)"
                          R"({"t":"a\nb\r\t\u0001"},{"t":"caf)"
                          "\xc3\xa9 \xe6\x97\xa5\xf0\x9f\x98\x80"
                          R"("},{"t":""}],"footer":"F"})");
        row("numbers, dates, binary and flags as strings")
            << "SELECT * FROM typed"
            << ""
            << ""
            << QByteArray(
                   R"({"header":["i","big","d","r","dt","ts","tm","b","flag"],"data":[)"
                   R"({"i":"42","big":"9007199254740993","d":"45445","r":"1","dt":"2026-12-07",)"
                   R"("ts":"2026-12-07 10:15:00","tm":"10:15:00","b":"AP8Q","flag":"True"},)"
                   R"({"i":"-7","big":"0","d":"40237.8","r":"0.1","dt":"2024-02-29",)"
                   R"("ts":"2024-02-29 23:59:59","tm":"00:00:01","b":"","flag":"False"},)"
                   R"({"i":"","big":"","d":"","r":"2.5","dt":"","ts":"","tm":"","b":"",)"
                   R"("flag":""}],"footer":"F"})");
        // A value the declared type cannot hold comes out as stored, never empty or made up.
        row("values the declared type cannot hold")
            << "SELECT * FROM awkward ORDER BY id"
            << ""
            << ""
            << QByteArray(
                   R"({"header":["id","d","ts","tm","f","n","r","flag"],"data":[)"
                   R"({"id":"1","d":"not a date","ts":"10:15:00","tm":"noon","f":"abc",)"
                   R"("n":"xyz","r":"n/a","flag":"yes"},)"
                   R"({"id":"2","d":"2026-12-07","ts":"2026-12-07 10:15:00","tm":"10:15:00",)"
                   R"("f":"1","n":"12.5","r":"1e+300","flag":"2"},)"
                   R"({"id":"3","d":"2026-12-07 10:00:00","ts":"2026-12-07 00:00:00",)"
                   R"("tm":"10:15:00","f":"","n":"3","r":"1","flag":"True"}],"footer":"F"})");
        row("values at and over the bound buffers") << "SELECT * FROM edges ORDER BY id"
                                                    << ""
                                                    << "" << edgesDocument(QByteArray(70, 'y'));
        row("duplicate column names")
            << "SELECT id AS a, name AS a FROM people WHERE id = 1"
            << ""
            << ""
            << QByteArray(R"({"header":["a","a"],"data":[{"a":"1","a":"Ann"}],"footer":"F"})");
        row("non-ASCII column names")
            << QString::fromUtf8("SELECT 1 AS \"\u540d\u524d\", 2 AS \"Gr\u00f6\u00dfe\", "
                                 "3 AS \"na\u00efve \u540d\", 4 AS \"\u00e9\"")
            << ""
            << ""
            << QByteArray("{\"header\":[\"\u540d\u524d\",\"Gr\u00f6\u00dfe\",\"na\u00efve \u540d\","
                          "\"\u00e9\"],\"data\":[{\"\u540d\u524d\":\"1\",\"Gr\u00f6\u00dfe\":\"2\","
                          "\"na\u00efve \u540d\":\"3\",\"\u00e9\":\"4\"}],\"footer\":\"F\"}");
        row("names, title and file name escaped")
            << "SELECT * FROM \"odd names\""
            << "Q \"4\"\\"
            << "a\tb"
            << QByteArray(
                   R"({"title":"Q \"4\"\\","fileName":"a\tb",)"
                   R"("header":["x\"y","back\\slash","line\nbreak"],)"
                   R"("data":[{"x\"y":"1","back\\slash":"2","line\nbreak":"3"}],"footer":"F"})");
    }
}

void TestReportDocument::document()
{
    QFETCH(QByteArray, fetch);
    qputenv("TALLYFRAME_TEXT_FETCH", fetch);
    QFETCH(QString, sql);
    QFETCH(QString, title);
    QFETCH(QString, fileName);
    QFETCH(QByteArray, expected);
    const QByteArray written = documentFor(sql, title, fileName, QStringLiteral("F"));
    QCOMPARE(written, expected);
    QJsonParseError error;
    const QJsonDocument parsed = QJsonDocument::fromJson(written, &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    QVERIFY(parsed.isObject());
    QCOMPARE(parsed.object().value("footer").toString(), QStringLiteral("F"));
}

void TestReportDocument::longValuesInPieces_data()
{
    fetchModes();
}

void TestReportDocument::longValuesInPieces()
{
    QFETCH(QByteArray, fetch);
    qputenv("TALLYFRAME_TEXT_FETCH", fetch);
    const QByteArray written =
        documentFor(QStringLiteral("SELECT t, u, b FROM long"), {}, {}, QStringLiteral("F"));
    QJsonParseError error;
    const QJsonObject row =
        QJsonDocument::fromJson(written, &error).object().value("data").toArray().at(0).toObject();
    QCOMPARE(error.error, QJsonParseError::NoError);
    // Pieces end inside a UTF-16 pair in t and inside a UTF-8 sequence in u.
    QString text, text2;
    for (int i = 0; i < 5000; ++i) {
        text += QString::fromUtf8("\xf0\x9f\x98\x80x");
        text2 += QString::fromUtf8("\xf0\x9f\x98\x80xy");
    }
    QCOMPARE(row.value("t").toString(), text);
    QCOMPARE(row.value("u").toString(), text2);
    QByteArray bytes;
    for (int i = 0; i < 5000; ++i)
        bytes += "a\"b";
    QCOMPARE(row.value("b").toString().toLatin1(), bytes.toBase64());
}

void TestReportDocument::runFailures_data()
{
    QTest::addColumn<QString>("connectionString");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("inDescription");
    QTest::addColumn<bool>("connectionKept");
    // A statement that ran takes its footer number, whether or not its result can be read.
    QTest::addColumn<bool>("footerDrawn");

    const QString good = sqliteConnectionString(m_db);
    QTest::newRow("missing table") << good << "SELECT * FROM nowhere"
                                   << "no such table" << true << false;
    QTest::newRow("syntax") << good << "SELEC 1"
                            << "syntax error" << true << false;
    QTest::newRow("statement without rows") << good << "UPDATE people SET name = name WHERE id = 0"
                                            << "no rows" << true << true;
    // Row 2 fails only when it is fetched, with half the document already written.
    QTest::newRow("failure while reading")
        << good + "StepAPI=1;"
        << "SELECT CASE WHEN id = 2 THEN abs(-9223372036854775807 - 1) ELSE id END FROM people"
        << "overflow" << true << true;
    QTest::newRow("database cannot be opened")
        << "DRIVER={SQLite3};Database=/nonexistent/dir/x.db;NoCreat=1;"
        << "SELECT 1"
        << "" << false << false;
}

void TestReportDocument::runFailures()
{
    QFETCH(QString, connectionString);
    QFETCH(QString, sql);
    QFETCH(QString, inDescription);
    QFETCH(bool, connectionKept);
    QFETCH(bool, footerDrawn);

    footerRandom().reset();
    FooterRandom expected;
    if (footerDrawn)
        expected.next();
    QStringList prompts, boxTexts;
    ServiceClient service;
    ReportRunHost host;
    host.service = &service;
    host.prompting = [&](const QString& text) { prompts << text; };
    host.setTxtRs = [&](const QString& text) { boxTexts << text; };
    host.messageBox = [](const QString& text, int) { QFAIL(qPrintable(text)); };
    std::unique_ptr<OdbcConnection> connection;

    const ReportRun run = RunReportQuery(sql, QStringLiteral("f"), QStringLiteral("t"),
                                         connectionString, connection, host);
    // A broken SQL must not come back on every poll; a database that cannot be opened right now
    // leaves the request pending, its failure text in view, to run again after a pause.
    QCOMPARE(run.outcome,
             connectionKept ? ReportRun::DatabaseFailure : ReportRun::DatabaseUnreachable);
    QCOMPARE(run.text.isEmpty(), connectionKept);
    QCOMPARE(run.flagRequest(), connectionKept);
    QCOMPARE(boxTexts.size(), 1);
    QVERIFY2(boxTexts[0].startsWith(QStringLiteral("[Error: -2147467259] \r\n")),
             qPrintable(boxTexts[0]));
    QVERIFY2(boxTexts[0].contains(inDescription, Qt::CaseInsensitive), qPrintable(boxTexts[0]));
    QCOMPARE(prompts.value(0), QStringLiteral("Menghubungkan..."));
    QCOMPARE(bool(connection), connectionKept);
    QCOMPARE(footerRandom().state(), expected.state());
    // Nothing of the half-written document is left behind.
    QCOMPARE(QDir(ReportSpoolFolder()).entryList({"tallyframe-report-*"}, QDir::Files), {});
}

bool TestReportDocument::startPostgres(QString* why)
{
    if (!m_pgConnection.isEmpty())
        return true;
    const QString script = QStringLiteral(
        "ALTER DATABASE postgres SET timezone = 'UTC';"
        "CREATE TABLE awkward (id int, d date, ts timestamp, tz timestamptz, tm time, "
        "f float8, r float4, n numeric, b boolean);"
        "INSERT INTO awkward VALUES "
        "(1, '2026-12-07', '2026-12-07 10:15:00.5', '2026-12-07 10:15:00+07', '24:00:00', "
        "'Infinity', 'NaN', 'NaN', true),"
        "(2, '2024-02-29', '2024-02-29 23:59:59', '2024-02-29 23:59:59.999+00', '10:15:00.25', "
        "0.1, 0.1, 12.50, false),"
        "(3, NULL, NULL, NULL, NULL, '-Infinity', 1, -3, NULL);"
        "CREATE TABLE edges (id int, t text, b bytea, d date);"
        "INSERT INTO edges VALUES (1, repeat('x', 255), '\\x01', '2026-12-07'), "
        "(2, repeat('x', 256), NULL, NULL), (3, repeat('x', 511), '', '2026-12-07'), "
        "(4, repeat('x', 512), NULL, NULL), (5, repeat('x', 254) || chr(128512), NULL, NULL), "
        "(6, repeat('x', 510) || chr(233), NULL, NULL), (7, NULL, NULL, NULL);");
    // The Windows build cannot start PostgreSQL's Linux programs: its launcher starts a cluster
    // and hands its connection string in, and the table is made through the driver under test.
    const QString given = qEnvironmentVariable("TALLYFRAME_TEST_PG_CONNECTION");
    if (!given.isEmpty()) {
        OdbcConnection setup(given);
        QSqlQuery query(setup.database());
        for (const QString& statement : script.split(u';', Qt::SkipEmptyParts)) {
            if (!query.exec(statement)) {
                *why = query.lastError().text();
                return false;
            }
        }
        m_pgConnection = given;
        return true;
    }
    const QString bin = postgresBinaries();
    if (bin.isEmpty()) {
        *why = QStringLiteral("PostgreSQL's programs are not installed");
        return false;
    }
    // The cluster may belong to the postgres account, which must reach its folder.
    QFile::setPermissions(m_dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                            QFile::ExeGroup | QFile::ExeOther);
    auto pg = std::make_unique<Postgres>(bin, m_dir.filePath(QStringLiteral("pg")));
    if (!pg->prepare(why) || !pg->psql(QStringLiteral("postgres"), script, why)) {
        pg->stop();
        return false;
    }
    m_pgConnection = pg->connectionString(QStringLiteral("postgres"));
    m_pg = std::move(pg);
    return true;
}

void TestReportDocument::cleanupTestCase()
{
    if (m_pg)
        m_pg->stop();
}

void TestReportDocument::postgres_data()
{
    QTest::addColumn<QByteArray>("fetch");
    QTest::addColumn<QString>("options");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QByteArray>("expected");
    QByteArray rows130 = R"({"header":["i","t","d"],"data":[)";
    for (int i = 1; i <= 130; ++i)
        rows130 += (i > 1 ? "," : "") + QStringLiteral(R"({"i":"%1","t":"%2","d":"%3"})")
                                            .arg(i)
                                            .arg(QString(i % 7, QChar(0xe9)),
                                                 QDate(2026, 1, 1).addDays(i).toString(Qt::ISODate))
                                            .toUtf8();
    rows130 += R"(],"footer":"F"})";
    // The driver's own cursor hands rows over in tens then, across the reader's blocks.
    for (const auto& [fetch, options] : {std::pair<QByteArray, QString>("utf16", ""),
                                         {"utf8", ""},
                                         {"utf16", "UseDeclareFetch=1;Fetch=10;"},
                                         {"utf8", "UseDeclareFetch=1;Fetch=10;"}}) {
        const auto row = [&fetch, &options](const char* tag) -> QTestData& {
            return QTest::addRow("%s%s, %s", fetch.constData(),
                                 options.isEmpty() ? "" : ", declare-fetch", tag)
                   << fetch << options;
        };
        row("non-ASCII column names")
            << QString::fromUtf8("SELECT 1 AS \"\u540d\u524d\", 2 AS \"Gr\u00f6\u00dfe\", "
                                 "3 AS \"\U0001F600\"")
            << QByteArray("{\"header\":[\"\u540d\u524d\",\"Gr\u00f6\u00dfe\",\"\U0001F600\"],"
                          "\"data\":[{\"\u540d\u524d\":\"1\",\"Gr\u00f6\u00dfe\":\"2\","
                          "\"\U0001F600\":\"3\"}],\"footer\":\"F\"}");
        // Special values that the platform's floating-point types hold but write otherwise.
        row("values beyond the platform's forms")
            << "SELECT * FROM awkward ORDER BY id"
            << QByteArray(
                   R"({"header":["id","d","ts","tz","tm","f","r","n","b"],"data":[)"
                   R"({"id":"1","d":"2026-12-07","ts":"2026-12-07 10:15:00",)"
                   R"("tz":"2026-12-07 03:15:00","tm":"24:00:00","f":"Infinity","r":"NaN",)"
                   R"("n":"NaN","b":"True"},)"
                   R"({"id":"2","d":"2024-02-29","ts":"2024-02-29 23:59:59",)"
                   R"("tz":"2024-02-29 23:59:59","tm":"10:15:00","f":"0.1","r":"0.1",)"
                   R"("n":"12.50","b":"False"},)"
                   R"({"id":"3","d":"","ts":"","tz":"","tm":"","f":"-Infinity","r":"1","n":"-3",)"
                   R"("b":""}],)"
                   R"("footer":"F"})");
        row("values at and over the bound buffers")
            << "SELECT * FROM edges ORDER BY id" << edgesDocument("");
        row("rows that do not fill the last block")
            << "SELECT i, repeat(chr(233), i % 7) AS t, date '2026-01-01' + i AS d "
               "FROM generate_series(1, 130) AS i"
            << rows130;
        row("no rows") << "SELECT 1 AS a WHERE false"
                       << QByteArray(R"({"header":["a"],"data":[],"footer":"F"})");
    }
}

void TestReportDocument::postgres()
{
    QString why;
    if (!startPostgres(&why))
        QSKIP(qPrintable(QStringLiteral("no private PostgreSQL: ") + why));
    QFETCH(QByteArray, fetch);
    qputenv("TALLYFRAME_TEXT_FETCH", fetch);
    QFETCH(QString, options);
    QFETCH(QString, sql);
    QFETCH(QByteArray, expected);
    const QByteArray written =
        documentFor(sql, {}, {}, QStringLiteral("F"), m_pgConnection + options);
    if (written != expected)
        qWarning("%s", written.constData());
    QCOMPARE(written, expected);
}

QTEST_MAIN(TestReportDocument)
#include "tst_report_document.moc"
