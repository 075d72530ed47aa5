// The report document as the agent writes it from a real SQLite database through ODBC, and the
// failures of a run that never reach the service.
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

private:
    static void fetchModes();
    QByteArray documentFor(const QString& sql, const QString& title, const QString& fileName,
                           const QString& footer);
    QTemporaryDir m_dir;
    QString m_db;
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
            "CREATE TABLE empty (a INTEGER, b TEXT)",
            "CREATE TABLE \"odd names\" (\"x\"\"y\" INTEGER, \"back\\slash\" INTEGER, "
            "\"line\nbreak\" INTEGER)",
            "INSERT INTO \"odd names\" VALUES (1, 2, 3)",
            // Far longer than one piece of the fetch, with pairs that straddle piece ends.
            "CREATE TABLE long (t TEXT, u TEXT, b BLOB)",
            "INSERT INTO long VALUES (replace(hex(zeroblob(5000)), '00', char(128512) || 'x'), "
            "replace(hex(zeroblob(5000)), '00', char(128512) || 'xy'), "
            "CAST(replace(hex(zeroblob(5000)), '00', 'a\"b') AS BLOB))",
        });
}

QByteArray TestReportDocument::documentFor(const QString& sql, const QString& title,
                                           const QString& fileName, const QString& footer)
{
    OdbcConnection connection(sqliteConnectionString(m_db));
    QSqlQuery query(connection.database());
    query.setForwardOnly(true);
    if (!query.exec(sql))
        qFatal("fixture query failed: %s", qPrintable(sql));
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
        row("duplicate column names")
            << "SELECT id AS a, name AS a FROM people WHERE id = 1"
            << ""
            << ""
            << QByteArray(R"({"header":["a","a"],"data":[{"a":"1","a":"Ann"}],"footer":"F"})");
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

    const QString good = sqliteConnectionString(m_db);
    QTest::newRow("missing table") << good << "SELECT * FROM nowhere"
                                   << "no such table" << true;
    QTest::newRow("syntax") << good << "SELEC 1"
                            << "syntax error" << true;
    QTest::newRow("statement without rows") << good << "UPDATE people SET name = name WHERE id = 0"
                                            << "no rows" << true;
    // Row 2 fails only when it is fetched, with half the document already written.
    QTest::newRow("failure while reading")
        << good + "StepAPI=1;"
        << "SELECT CASE WHEN id = 2 THEN abs(-9223372036854775807 - 1) ELSE id END FROM people"
        << "overflow" << true;
    QTest::newRow("database cannot be opened")
        << "DRIVER={SQLite3};Database=/nonexistent/dir/x.db;NoCreat=1;"
        << "SELECT 1"
        << "" << false;
}

void TestReportDocument::runFailures()
{
    QFETCH(QString, connectionString);
    QFETCH(QString, sql);
    QFETCH(QString, inDescription);
    QFETCH(bool, connectionKept);

    QStringList prompts, boxTexts;
    ReportRunHost host;
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
    // Nothing of the half-written document is left behind.
    QCOMPARE(QDir(ReportSpoolFolder()).entryList({"tallyframe-report-*"}, QDir::Files), {});
}

QTEST_MAIN(TestReportDocument)
#include "tst_report_document.moc"
