// Faults that the soak run found, each pinned down where it lives.
#include "support/CannedHttpServer.h"

#include "support/TestSupport.h"

#include "pipeline/OdbcConnection.h"
#include "pipeline/ReportRun.h"
#include "service/HttpTransport.h"
#include "service/ServiceClient.h"

#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

class TestSoakFindings : public QObject
{
    Q_OBJECT

private:
    CannedHttpServer* m_http = nullptr;
    ServiceClient m_client;

private slots:
    void init()
    {
        m_http = new CannedHttpServer;
        m_client = ServiceClient({m_http->baseUrl(), 5000});
    }
    void cleanup()
    {
        delete m_http;
        m_http = nullptr;
    }

    // A profile look-up answered by an error page or by bytes that are no text is a failed
    // look-up: taken as the value, "Internal Server Error" became the company name and the agent
    // polled for that company until it was restarted, so no report ever arrived.
    void lookupsRefuseAnswersThatAreNoValue_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("isValue");
        QTest::addColumn<QString>("value");

        QTest::newRow("value") << 200 << QByteArray("Toko Maju") << true << "Toko Maju";
        QTest::newRow("empty value") << 200 << QByteArray() << true << "";
        QTest::newRow("non-ASCII value")
            << 200 << QByteArray("Caf\xc3\xa9 \xe6\x97\xa5") << true << "Café 日";
        QTest::newRow("server error page")
            << 500 << QByteArray("Internal Server Error") << false << "";
        QTest::newRow("not found page") << 404 << QByteArray("<html>404</html>") << false << "";
        QTest::newRow("bad gateway") << 502 << QByteArray("Bad Gateway") << false << "";
        QTest::newRow("random bytes") << 200 << QByteArray("\x8f\xff\x01Tok\xc3", 8) << false << "";
        // Not UTF-8, so read as Windows-1252, the agent's own code page: never refused for that.
        QTest::newRow("cut inside a character") << 200 << QByteArray("Caf\xc3") << true << "CafÃ";
        QTest::newRow("undefined Windows-1252 byte")
            << 200 << QByteArray("Toko\x81") << false << "";
    }
    void lookupsRefuseAnswersThatAreNoValue()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, isValue);
        m_http->status = status;
        m_http->body = body;

        const std::function<QString()> lookups[] = {
            [this] { return m_client.GetApiKey("00:1A"); },
            [this] { return m_client.GetCompanyName("00:1A"); },
            [this] { return m_client.GetTelp("00:1A", "k"); },
            [this] { return m_client.GetConnectionString("00:1A", "k"); },
            [this] { return m_client.GetAppHide("00:1A", "k"); },
        };
        for (const auto& lookup : lookups) {
            if (isValue) {
                QTEST(lookup(), "value");
                continue;
            }
            try {
                const QString taken = lookup();
                QFAIL(qPrintable("taken as a value: " + taken));
            } catch (const TransportError& e) {
                // The start-up shows the failure and tries again later.
                QCOMPARE(e.number(), qint32(HttpTransport::DownloadFailed));
                QVERIFY(!e.description().isEmpty());
            }
        }
    }

    // A report whose database cannot be reached right now must stay pending and run again
    // later: flagged done, it was lost for good whenever the database restarted under the agent.
    // An SQL text that the database refuses is still flagged, or it would run again forever.
    void onlyAFailingSqlIsFlagged_data()
    {
        QTest::addColumn<QString>("connectionString");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<bool>("flagged");

        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        const quint16 closedPort = probe.serverPort();
        probe.close();
        m_dir = std::make_unique<QTemporaryDir>();
        const QString db = m_dir->filePath("toko.db");
        createSqliteDatabase(db, {"CREATE TABLE sales (id INTEGER, name TEXT)"});

        QTest::newRow("database server down")
            << QStringLiteral("DRIVER={PostgreSQL Unicode};Server=127.0.0.1;Port=%1;"
                              "Database=toko;Uid=u;Pwd=p;")
                   .arg(closedPort)
            << "SELECT 1" << false;
        QTest::newRow("database file not there (share not mounted)")
            << QStringLiteral("DRIVER={SQLite3};Database=%1;NoCreat=1;")
                   .arg(m_dir->filePath("missing/toko.db"))
            << "SELECT 1" << false;
        QTest::newRow("SQL refused")
            << sqliteConnectionString(db) << "SELECT nope FROM nowhere" << true;
        QTest::newRow("statement without rows")
            << sqliteConnectionString(db) << "DELETE FROM sales" << true;
    }
    void onlyAFailingSqlIsFlagged()
    {
        QFETCH(QString, connectionString);
        QFETCH(QString, sql);
        QFETCH(bool, flagged);

        QStringList shown;
        ReportRunHost host;
        host.service = &m_client;
        host.prompting = [&shown](const QString& text) { shown << text; };
        host.setTxtRs = [&shown](const QString& text) { shown << text; };
        host.messageBox = [&shown](const QString& text, int) { shown << text; };
        std::unique_ptr<OdbcConnection> connection;
        const ReportRun run =
            RunReportQuery(sql, "sales", "Sales", connectionString, connection, host);
        QVERIFY2(run.outcome != ReportRun::Uploaded, qPrintable(shown.join('|')));
        QVERIFY2(run.flagRequest() == flagged, qPrintable(shown.join('|')));
        // Either way the failure is in view.
        QVERIFY(std::any_of(shown.cbegin(), shown.cend(), [](const QString& t) {
            return t.startsWith(QLatin1String("[Error: "));
        }));
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

QTEST_MAIN(TestSoakFindings)
#include "tst_soak_findings.moc"
