// The start-up and reload sequence against the reference service and a real SQLite database
// through ODBC; the answers the reference service never gives come from a canned server.
#include "support/CannedHttpServer.h"
#include "support/TestSupport.h"

#include "TallyStore.h"
#include "app/ProfileState.h"
#include "service/HttpTransport.h"
#include "service/ServiceConfig.h"
#include "ui/Form1.h"

#include <QAction>
#include <QDir>
#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

namespace {

QStringList g_statuses;
QtMessageHandler g_previousHandler = nullptr;

void recordStatus(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (qstrcmp(context.category, "tallyframe.status") == 0)
        g_statuses << message;
    if (g_previousHandler)
        g_previousHandler(type, context, message);
}

// True when `expected` appears in `actual` in this order (other texts may stand between).
bool inOrder(const QStringList& actual, const QStringList& expected)
{
    qsizetype at = 0;
    for (const QString& text : actual) {
        if (at < expected.size() && text == expected[at])
            ++at;
    }
    return at == expected.size();
}

const QStringList kLoadingTexts = {"Loading CompanyName...", "Loading APIKey...",
                                   "Loading Personal Contact...", "Loading ConnectionString...",
                                   "Get ready!"};

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_dbPath;

    QString salesDb()
    {
        if (m_dbPath.isEmpty()) {
            m_dbPath = m_dir.filePath("sales.db");
            createSqliteDatabase(m_dbPath, {"CREATE TABLE sales(id INTEGER, total REAL)",
                                            "INSERT INTO sales VALUES (1, 9.5)"});
        }
        return m_dbPath;
    }

    // A service that knows one device and answers the connection string look-up as given.
    void cannedProfile(CannedHttpServer& http, const QByteArray& connectionString)
    {
        http.routes["/api/get_app_hide.php"] = {200, "0"};
        http.routes["/api/get_company_name.php"] = {200, "Toko Maju"};
        http.routes["/api/get_api_key_with_mac_on_your_pc_pix482pix917pix6035pixqrmvdsb.php"] = {
            200, "key-1"};
        http.routes["/api/get_telp.php"] = {200, "0812"};
        http.routes["/api/get_connection_string.php"] = {200, connectionString};
        qputenv("TALLYFRAME_SERVICE_URL", http.baseUrl().toUtf8());
    }

private slots:
    void initTestCase()
    {
        g_previousHandler = qInstallMessageHandler(recordStatus);
        qputenv("TALLYFRAME_HTTP_TIMEOUT_MS", "3000");
    }
    void init()
    {
        g_statuses.clear();
        ProfileState::instance() = ProfileState();
    }

    void knownDeviceConnectsAndPolls()
    {
        TestService service;
        DeviceNameGuard device("AA:BB:CC:00:00:01");
        const auto company = service.store().createCompany(
            "Toko & Maju", "AA:BB:CC:00:00:01", "0812", sqliteConnectionString(salesDb()), 0);
        ScriptedDialogs dialogs;
        ServiceClient client;
        Form1 form(client, dialogs);
        form.Tampil();

        QVERIFY2(inOrder(g_statuses,
                         kLoadingTexts + QStringList{"Mencari informasi keamanan "
                                                     "hubungan...",
                                                     "Menghubungkan...", "Terhubung database."}),
                 qPrintable(g_statuses.join(" | ")));
        QCOMPARE(form.LblResponse->text(), QString("Terhubung database."));
        QVERIFY(form.Timer2->isActive());
        QVERIFY(!form.startupRetryTimer()->isActive());
        QVERIFY(ProfileState::instance().DbConnection &&
                ProfileState::instance().DbConnection->isOpen());
        QCOMPARE(form.txtRs(), QString("Welcome Toko & Maju...\r\nNothing is impossible ^_^"));
        QVERIFY(form.Frame1->isVisible());
        QCOMPARE(form.Label7->text(), QString("Toko & Maju"));
        QCOMPARE(form.windowTitle(), "Q17 Tallyframe - Versi " + ServiceConfig::versionText());
        QCOMPARE(form.mnuUserName->text(), QString("User   : Toko && Maju"));
        QCOMPARE(form.mnuAPIKey->text(), "APIKey : " + company.apiKey);
        QVERIFY(form.mnuStartupOpt[0]->isChecked());
        QVERIFY(form.isVisible());
        QVERIFY(dialogs.shown.isEmpty());
        QCOMPARE(ProfileState::instance().Telp, QString("0812"));
    }

    void startInTrayWritesNoLoadingTexts()
    {
        TestService service;
        DeviceNameGuard device("AA:BB:CC:00:00:02");
        service.store().createCompany("Hidden", "AA:BB:CC:00:00:02", "1",
                                      sqliteConnectionString(salesDb()), 1);
        ScriptedDialogs dialogs;
        ServiceClient client;
        Form1 form(client, dialogs);
        // The flag is read with the key from before the load: a first start sends none.
        form.Tampil();
        for (const QString& text : kLoadingTexts)
            QVERIFY2(!g_statuses.contains(text), qPrintable(text));
        QVERIFY(inOrder(g_statuses, {"Menghubungkan...", "Terhubung database."}));
        QCOMPARE(ProfileState::instance().AppHide, qint16(1));
        QVERIFY(form.mnuStartupOpt[1]->isChecked());
        if (QSystemTrayIcon::isSystemTrayAvailable())
            QVERIFY(!form.isVisible());
    }

    void unknownDeviceRegistersAnonymousAndStartsOver()
    {
        TestService service;
        DeviceNameGuard device("AA:BB:CC:00:00:03");
        ScriptedDialogs dialogs;
        ServiceClient client;
        Form1 form(client, dialogs);
        form.Tampil();
        const auto company = service.store().companyByDevice("AA:BB:CC:00:00:03");
        QVERIFY(company.has_value());
        QVERIFY(company->name.startsWith("Anonymous"));
        // The second run loaded the new account.
        QCOMPARE(ProfileState::instance().CompanyName, company->name);
        QCOMPARE(ProfileState::instance().ApiKey, company->apiKey);
        QVERIFY(!form.Timer2->isActive());
    }

    void registrationGivesUpAfterThreeTries()
    {
        CannedHttpServer http;
        cannedProfile(http, "");
        http.routes["/api/get_company_name.php"] = {200, "Error: DeviceName not found"};
        http.routes["/api/register_company.php"] = {200,
                                                    "{\"status\":\"error\",\"message\":\"no\"}"};
        DeviceNameGuard device("AA:BB:CC:00:00:04");
        ScriptedDialogs dialogs;
        ServiceClient client;
        Form1 form(client, dialogs);
        form.Tampil();
        const auto registrations = std::count_if(
            http.requestLines.cbegin(), http.requestLines.cend(),
            [](const QByteArray& line) { return line.contains("/api/register_company.php"); });
        QCOMPARE(registrations, 3);
        QVERIFY(form.LblResponse->text().contains("tidak dapat didaftarkan"));
        QVERIFY(!form.Timer2->isActive());
        // A later reload tries again from the start.
        form.Tampil();
        QCOMPARE(std::count_if(http.requestLines.cbegin(), http.requestLines.cend(),
                               [](const QByteArray& line) {
                                   return line.contains("/api/register_company.php");
                               }),
                 6);
    }

    void connectionStringRefusals_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("registerPicture");
        QTest::addColumn<bool>("messageBox");
        QTest::addColumn<QString>("label");
        // Refusals begin "Error" without a colon: an answer with "Error:" is no connection
        // string at all and leaves it empty, so the open fails.
        QTest::newRow("company not found") << QByteArray("Error - company not found") << true
                                           << false << "Error - company not found";
        QTest::newRow("APIKey refused")
            << QByteArray("Error - invalid APIKey") << false << true << "Error - invalid APIKey";
        QTest::newRow("both: picture, no box")
            << QByteArray("Error - company not found (APIKey)") << true << false
            << "Error - company not found (APIKey)";
        QTest::newRow("other error text")
            << QByteArray("Error - maintenance") << false << false << "Error - maintenance";
        QTest::newRow("with a colon: no connection string, the open fails")
            << QByteArray("Error: company not found") << false << false << "[Err:-2147467259]";
        QTest::newRow("lower-case error is no refusal: the open fails")
            << QByteArray("error no colon") << false << false << "[Err:-2147467259]";
    }
    void connectionStringRefusals()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, registerPicture);
        QFETCH(bool, messageBox);
        QFETCH(QString, label);
        CannedHttpServer http;
        cannedProfile(http, answer);
        DeviceNameGuard device("AA:BB:CC:00:00:05");
        ScriptedDialogs dialogs;
        ServiceClient client;
        Form1 form(client, dialogs);
        form.Tampil();
        QVERIFY2(form.LblResponse->text().startsWith(label), qPrintable(form.LblResponse->text()));
        QCOMPARE(form.ImgRegister->isVisible(), registerPicture);
        QCOMPARE(dialogs.messages().size(), messageBox ? 1 : 0);
        if (messageBox) {
            QCOMPARE(dialogs.shown.first().style, int(Dialogs::Critical));
            QCOMPARE(dialogs.shown.first().title, QString("Error!"));
            QCOMPARE(dialogs.shown.first().text, QString::fromUtf8(answer));
        }
        QVERIFY(!form.Timer2->isActive());
        QVERIFY(!ProfileState::instance().DbConnection);
    }

    void databaseThatDoesNotOpen()
    {
        TestService service;
        DeviceNameGuard device("AA:BB:CC:00:00:06");
        service.store().createCompany("Toko", "AA:BB:CC:00:00:06", "1",
                                      "DRIVER={No Such Driver};Database=x;", 0);
        ScriptedDialogs dialogs;
        ServiceClient client;
        Form1 form(client, dialogs);
        form.Tampil();
        QVERIFY2(form.LblResponse->text().startsWith("[Err:-2147467259] "),
                 qPrintable(form.LblResponse->text()));
        QVERIFY(!form.Timer2->isActive());
        // Tried again later: the database may simply not be up yet.
        QVERIFY(form.startupRetryTimer()->isActive());
    }

    // A database that is not up yet: only the open is tried again, not the look-ups and not the
    // update check, until the database is there.
    void databaseRetryOpensOnlyTheDatabase()
    {
        const QTemporaryDir dir;
        const QString path = dir.filePath("later.db");
        CannedHttpServer http;
        cannedProfile(http, sqliteConnectionString(path).toUtf8() + "NoCreat=1;");
        DeviceNameGuard device("AA:BB:CC:00:00:09");
        ScriptedDialogs dialogs;
        ServiceClient client;
        Form1 form(client, dialogs);
        form.Tampil();
        QVERIFY2(form.LblResponse->text().startsWith("[Err:-2147467259] "),
                 qPrintable(form.LblResponse->text()));
        QVERIFY(form.startupRetryTimer()->isActive());
        const auto requestsAtStart = http.requestLines.size();

        g_statuses.clear();
        form.startupRetryTimer()->setInterval(50);
        form.startupRetryTimer()->start();
        QTRY_VERIFY_WITH_TIMEOUT(g_statuses.size() >= 2, 5000);
        QVERIFY2(g_statuses.first() == "Menghubungkan..." &&
                     g_statuses.last().startsWith("[Err:-2147467259] "),
                 qPrintable(g_statuses.join(" | ")));
        QVERIFY(form.startupRetryTimer()->isActive());

        createSqliteDatabase(path, {"CREATE TABLE t(x INTEGER)"});
        form.startupRetryTimer()->start();
        QTRY_COMPARE_WITH_TIMEOUT(form.LblResponse->text(), QString("Terhubung database."), 5000);
        QVERIFY(form.Timer2->isActive());
        form.Timer2->stop();
        QVERIFY(!form.startupRetryTimer()->isActive());
        QCOMPARE(http.requestLines.size(), requestsAtStart);
        QVERIFY(!g_statuses.contains("Mencari informasi keamanan hubungan..."));
    }

    // Texts of the service and of the driver are shown as written: markup is not drawn.
    void serviceTextIsShownAsWritten()
    {
        CannedHttpServer http;
        cannedProfile(http, "Error - <i>maintenance</i>");
        http.routes["/api/get_company_name.php"] = {200, "Toko <b>Promo</b>"};
        DeviceNameGuard device("AA:BB:CC:00:00:0A");
        ScriptedDialogs dialogs;
        ServiceClient client;
        Form1 form(client, dialogs);
        form.Tampil();
        QCOMPARE(form.Label7->text(), QString("Toko <b>Promo</b>"));
        QCOMPARE(form.Label7->textFormat(), Qt::PlainText);
        QCOMPARE(form.LblResponse->text(), QString("Error - <i>maintenance</i>"));
        QCOMPARE(form.LblResponse->textFormat(), Qt::PlainText);
    }

    // A service that answers the look-ups otherwise than the reference one: its own refusal
    // texts count whatever the status, any byte is text, and an error page is still no value.
    void lookupAnswersOfAnotherService_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("companyAnswer");
        QTest::addColumn<QString>("companyName");
        QTest::addColumn<bool>("registers");
        QTest::addColumn<bool>("retries");
        QTest::newRow("404 with the device refusal registers")
            << 404 << QByteArray("Error: DeviceName not found") << "" << true << false;
        QTest::newRow("500 with an Error text is that text")
            << 500 << QByteArray("Error - company not found") << "Error - company not found"
            << false << false;
        QTest::newRow("404 error page is no company name")
            << 404 << QByteArray("<html><body>Not Found</body></html>") << "" << false << true;
        QTest::newRow("Windows-1252 byte")
            << 200 << QByteArray("Toko Caf\xe9 \x80 1") << "Toko Café € 1" << false << false;
        QTest::newRow("UTF-8 stays UTF-8")
            << 200 << QByteArray("Toko Café") << "Toko Café" << false << false;
    }
    void lookupAnswersOfAnotherService()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, companyAnswer);
        QFETCH(bool, registers);
        QFETCH(bool, retries);
        CannedHttpServer http;
        cannedProfile(http, sqliteConnectionString(salesDb()).toUtf8());
        http.routes["/api/get_company_name.php"] = {status, companyAnswer};
        http.routes["/api/register_company.php"] = {200, R"({"status":"success"})"};
        DeviceNameGuard device("AA:BB:CC:00:00:0B");
        ScriptedDialogs dialogs;
        ServiceClient client;
        Form1 form(client, dialogs);
        form.Tampil();
        const bool registered = std::any_of(
            http.requestLines.cbegin(), http.requestLines.cend(),
            [](const QByteArray& line) { return line.contains("/api/register_company.php"); });
        QCOMPARE(registered, registers);
        QCOMPARE(form.startupRetryTimer()->isActive(), retries);
        if (!registers && !retries)
            QTEST(ProfileState::instance().CompanyName, "companyName");
        if (retries)
            QVERIFY2(form.LblResponse->text().contains("HTTP status 404"),
                     qPrintable(form.LblResponse->text()));
    }

    void lineBreaksInTheConnectionStringAreIgnored()
    {
        TestService service;
        DeviceNameGuard device("AA:BB:CC:00:00:07");
        const QString path = salesDb();
        service.store().createCompany(
            "Toko", "AA:BB:CC:00:00:07", "1",
            "DRIVER={SQLite3};\r\nDatabase=" + hostPath(path) + "\r\n;NoCreat=1;", 0);
        ScriptedDialogs dialogs;
        ServiceClient client;
        Form1 form(client, dialogs);
        form.Tampil();
        QCOMPARE(form.LblResponse->text(), QString("Terhubung database."));
        // No stray database file named after the path plus a line break.
        const QStringList files = QDir(m_dir.path()).entryList(QDir::Files);
        QCOMPARE(files, QStringList{"sales.db"});
    }

    void serviceDownThenBack()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        const QByteArray deadUrl =
            QByteArray("http://127.0.0.1:") + QByteArray::number(probe.serverPort());
        probe.close();

        DeviceNameGuard device("AA:BB:CC:00:00:08");
        ScriptedDialogs dialogs;
        ServiceClient client;
        Form1 form(client, dialogs);
        pointAt(client, QString::fromLatin1(deadUrl));
        form.Tampil();
        QVERIFY2(form.LblResponse->text().startsWith(
                     "[Err:-2146697211] The system cannot locate the resource specified."),
                 qPrintable(form.LblResponse->text()));
        QVERIFY(form.startupRetryTimer()->isActive());
        QCOMPARE(form.startupRetryTimer()->interval(), Form1::kStartupRetryMs);
        QVERIFY(form.isVisible()); // a first start shows where it stands
        // ... readable in the window, with the time of the next try.
        QVERIFY(form.LblResponse->isVisible());
        static const QRegularExpression when("\\(dicoba lagi pukul \\d\\d:\\d\\d:\\d\\d\\)$");
        QVERIFY2(when.match(form.LblResponse->text()).hasMatch(),
                 qPrintable(form.LblResponse->text()));

        TestService service; // the network is back
        pointAt(client, service.baseUrl());
        service.store().createCompany("Toko", "AA:BB:CC:00:00:08", "1",
                                      sqliteConnectionString(salesDb()), 0);
        form.startupRetryTimer()->setInterval(50);
        form.startupRetryTimer()->start();
        QTRY_COMPARE_WITH_TIMEOUT(form.LblResponse->text(), QString("Terhubung database."), 10000);
        QVERIFY(form.Timer2->isActive());
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
