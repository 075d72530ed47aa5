// The agent-facing API of the reference service: look-ups, accounts, the request/report/flag
// cycle and update files, over real HTTP against an in-process server.
#include "Envelope.h"
#include "FormFields.h"
#include "HttpTestClient.h"
#include "TallyServer.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {

const QString device = QStringLiteral("00:1A:2B:3C:4D:5E");
const QString deviceEncoded = QStringLiteral("00%3A1A%3A2B%3A3C%3A4D%3A5E");
const QString apiKey = QStringLiteral("0123456789abcdef0123456789abcdef");
const QString connStr = QStringLiteral("Driver={SQLite3};\r\nDatabase=toko.db");
const QString apiKeyPath =
    QStringLiteral("/api/get_api_key_with_mac_on_your_pc_pix482pix917pix6035pixqrmvdsb.php");

QByteArray reportDocument(const QString& fileName, int rows, const QString& title = {})
{
    QByteArray doc = "{";
    if (!title.isEmpty())
        doc += "\"title\":\"" + title.toUtf8() + "\",";
    if (!fileName.isNull())
        doc += "\"fileName\":\"" + fileName.toUtf8() + "\",";
    doc += "\"header\":[\"id\",\"name\"],\"data\":[";
    for (int i = 0; i < rows; ++i)
        doc +=
            QByteArray(i ? "," : "") + "{\"id\":\"" + QByteArray::number(i) + "\",\"name\":\"n\"}";
    doc += "],\"footer\":\"Query termutakhir pada: 2026-12-07 10:15:00 | Cx7055475\"}";
    return doc;
}

// The agent's reading of a request text: LF becomes CR LF, blocks are cut at empty lines.
QStringList agentBlocks(const QByteArray& reply)
{
    QString text = QString::fromUtf8(reply);
    text.replace("\n", "\r\n");
    return text.split("\r\n\r\n");
}

} // namespace

class TestServerApi : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TallyServer> m_server;
    std::unique_ptr<HttpTestClient> m_http;
    TallyStore::Company m_toko;

    TallyStore& store() { return m_server->store(); }

    qint64 queueAndHandOut(const QString& company, const QString& fileName)
    {
        const auto owner = store().companyByName(company);
        const qint64 urut = store().queueRequest(owner->id, "SELECT 1", fileName, "T");
        const HttpResult poll =
            m_http->get("/api/get_rs_req.php?companyName=" + QUrl::toPercentEncoding(company));
        if (!poll.body.startsWith("Urut:" + QByteArray::number(urut)))
            qWarning() << "unexpected poll answer" << poll.body;
        return urut;
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_server = std::make_unique<TallyServer>(m_dir->path());
        QVERIFY2(m_server->listen(), qPrintable(m_server->errorString()));
        m_http = std::make_unique<HttpTestClient>(m_server->baseUrl());
        m_toko = store().createCompany("Toko Maju", device, "0812", connStr, 0, apiKey);
        QVERIFY(m_toko.id != 0);
        QVERIFY(store().createCompany("Kosong", "EMPTY", "", "", 1, "k2").id != 0);
    }

    void cleanup()
    {
        m_http.reset();
        m_server.reset();
        m_dir.reset();
    }

    void lookups_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        const QString key = "&APIKey=" + apiKey;
        QTest::newRow("key, encoded device")
            << apiKeyPath + "?DeviceName=" + deviceEncoded << apiKey;
        QTest::newRow("key, colons as they are") << apiKeyPath + "?DeviceName=" + device << apiKey;
        QTest::newRow("key, unknown device") << apiKeyPath + "?DeviceName=FF"
                                             << "Error: DeviceName not found";
        QTest::newRow("key, no query") << apiKeyPath << "Error: DeviceName not found";
        QTest::newRow("name") << "/api/get_company_name.php?DeviceName=" + deviceEncoded
                              << "Toko Maju";
        QTest::newRow("name, unknown") << "/api/get_company_name.php?DeviceName=FF"
                                       << "Error: DeviceName not found";
        QTest::newRow("name, no query") << "/api/get_company_name.php"
                                        << "Error: DeviceName not found";
        QTest::newRow("telp") << "/api/get_telp.php?DeviceName=" + device + key << "0812";
        QTest::newRow("telp, wrong key") << "/api/get_telp.php?DeviceName=" + device + "&APIKey=x"
                                         << "Error: invalid APIKey";
        QTest::newRow("telp, none stored") << "/api/get_telp.php?DeviceName=EMPTY&APIKey=k2"
                                           << "Error: telp not found";
        QTest::newRow("telp, unknown device")
            << "/api/get_telp.php?DeviceName=FF" + key << "Error: telp not found";
        QTest::newRow("connection string keeps CR LF")
            << "/api/get_connection_string.php?DeviceName=" + device + key << connStr;
        QTest::newRow("connection string, wrong key")
            << "/api/get_connection_string.php?DeviceName=" + device + "&APIKey=" + apiKey + "x"
            << "Error - invalid APIKey";
        QTest::newRow("connection string, unknown device")
            << "/api/get_connection_string.php?DeviceName=FF" + key << "Error - company not found";
        QTest::newRow("connection string, no query") << "/api/get_connection_string.php"
                                                     << "Error - company not found";
        QTest::newRow("app hide, key not checked")
            << "/api/get_app_hide.php?DeviceName=EMPTY&APIKey="
            << "1";
        QTest::newRow("app hide, shown")
            << "/api/get_app_hide.php?DeviceName=" + device + key << "0";
        QTest::newRow("app hide, unknown") << "/api/get_app_hide.php?DeviceName=FF"
                                           << "0";
    }

    void lookups()
    {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        const HttpResult result = m_http->get(path);
        QCOMPARE(result.status, 200);
        QCOMPARE(result.header("Content-Type"), QByteArray("text/plain; charset=utf-8"));
        QCOMPARE(QString::fromUtf8(result.body), expected);
    }

    void registerAnswersEnvelope()
    {
        const HttpResult result = m_http->post(
            "/api/register_company.php",
            "CompanyName=Toko+Baru&ConnStr=&Telp=0813&DeviceName=AA%3ABB%3ACC%3ADD%3AEE%3AFF");
        QCOMPARE(result.status, 200);
        const auto company = store().companyByDevice("AA:BB:CC:DD:EE:FF");
        QVERIFY(company);
        QVERIFY(QRegularExpression("^[0-9a-f]{32}$").match(company->apiKey).hasMatch());
        QCOMPARE(result.body, "{\"status\":\"success\",\"message\":\"Registrasi berhasil\","
                              "\"api_key\":\"" +
                                  company->apiKey.toUtf8() + "\",\"telp\":\"0813\"}");
        QCOMPARE(company->name, QString("Toko Baru"));
        // The agent reads the profile back right after registering.
        QCOMPARE(m_http->get(apiKeyPath + "?DeviceName=AA:BB:CC:DD:EE:FF").body,
                 company->apiKey.toUtf8());
    }

    void registerRefusals_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("empty name") << QByteArray("CompanyName=&ConnStr=&Telp=&DeviceName=NEW");
        QTest::newRow("blank name") << QByteArray("CompanyName=+&ConnStr=&Telp=&DeviceName=NEW");
        QTest::newRow("empty device") << QByteArray("CompanyName=Baru&ConnStr=&Telp=&DeviceName=");
        QTest::newRow("no fields") << QByteArray();
        QTest::newRow("device registered")
            << QByteArray("CompanyName=Baru&ConnStr=&Telp=&DeviceName=" + deviceEncoded.toUtf8());
        QTest::newRow("name taken, other case")
            << QByteArray("CompanyName=TOKO+maju&ConnStr=&Telp=&DeviceName=NEW");
    }

    void registerRefusals()
    {
        QFETCH(QByteArray, body);
        const HttpResult result = m_http->post("/api/register_company.php", body);
        QCOMPARE(result.status, 200);
        QVERIFY2(result.body.startsWith("{\"status\":\"error\",\"message\":\""), result.body);
        QVERIFY(result.body.endsWith("\"}"));
        QVERIFY(!store().companyByDevice("NEW"));
        QVERIFY(!store().companyByName("Baru"));
    }

    void anonymousGetsSuffixWhenTaken()
    {
        for (const char* dev : {"D1", "D2", "D3"}) {
            const HttpResult result =
                m_http->post("/api/register_company.php",
                             QByteArray("CompanyName=Anonymous&ConnStr=&Telp=&DeviceName=") + dev);
            QVERIFY2(result.body.contains("\"status\":\"success\""), result.body);
        }
        QCOMPARE(store().companyByDevice("D1")->name, QString("Anonymous"));
        const QRegularExpression suffixed("^Anonymous-[0-9a-f]{4}$");
        const QString second = store().companyByDevice("D2")->name;
        const QString third = store().companyByDevice("D3")->name;
        QVERIFY2(suffixed.match(second).hasMatch(), qPrintable(second));
        QVERIFY2(suffixed.match(third).hasMatch(), qPrintable(third));
        QVERIFY(second != third);
    }

    void registerDecodesAgentForm_data()
    {
        QTest::addColumn<QByteArray>("encodedName");
        QTest::addColumn<QString>("name");
        QTest::newRow("cp1252 e acute") << QByteArray("Caf%E9") << QString("Café");
        QTest::newRow("cp1252 euro") << QByteArray("%80uro") << QString("€uro");
        QTest::newRow("plus is a space") << QByteArray("Toko+Sinar") << QString("Toko Sinar");
        QTest::newRow("encoded plus") << QByteArray("A%2BB") << QString("A+B");
        QTest::newRow("punctuation") << QByteArray("a%5Fb%2Ec%2Dd%7Ee") << QString("a_b.c-d~e");
        QTest::newRow("ampersand and equals")
            << QByteArray("50%25%2B5%26x%3D1") << QString("50%+5&x=1");
    }

    void registerDecodesAgentForm()
    {
        QFETCH(QByteArray, encodedName);
        QFETCH(QString, name);
        const HttpResult result = m_http->post("/api/register_company.php",
                                               "CompanyName=" + encodedName +
                                                   "&ConnStr=a%0D%0Ab%7B%7D&Telp=&DeviceName=NEW");
        QVERIFY2(result.body.contains("success"), result.body);
        const auto company = store().companyByDevice("NEW");
        QVERIFY(company);
        QCOMPARE(company->name, name);
        QCOMPARE(company->connStr, QString("a\r\nb{}"));
    }

    void cp1252TableMatchesIcu()
    {
        QStringDecoder icu("windows-1252");
        if (!icu.isValid())
            QSKIP("this Qt has no Windows-1252 codec to compare with");
        for (int byte = 0; byte < 256; ++byte) {
            const QByteArray bytes(1, char(byte));
            QCOMPARE(Cp1252::decodeWithTable(bytes), QStringDecoder("windows-1252").decode(bytes));
        }
    }

    void editAnswersEnvelopeAndTakesEffect()
    {
        const HttpResult result =
            m_http->post("/api/edit_company.php",
                         "APIKey=" + apiKey.toUtf8() +
                             "&CompanyName=Toko+Jaya&Telp=0899&DeviceName=NEW&AppHide=1");
        QCOMPARE(result.status, 200);
        QCOMPARE(result.body,
                 "{\"status\":\"success\",\"message\":\"Data berhasil diperbarui\",\"api_key\":\"" +
                     apiKey.toUtf8() + "\",\"telp\":\"0899\",\"companyName\":\"Toko Jaya\"}");
        QCOMPARE(m_http->get("/api/get_company_name.php?DeviceName=NEW").body, "Toko Jaya");
        QCOMPARE(m_http->get("/api/get_app_hide.php?DeviceName=NEW").body, "1");
        QCOMPARE(m_http->get("/api/get_company_name.php?DeviceName=" + device).body,
                 "Error: DeviceName not found");
        // A field that is not sent keeps its value.
        QCOMPARE(store().companyByDevice("NEW")->connStr, connStr);
    }

    void editRefusals_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("expected"); // empty: any error envelope
        QTest::newRow("no key") << QByteArray("APIKey=&AppHide=1")
                                << QByteArray(
                                       "{\"status\":\"error\",\"message\":\"APIKey tidak valid\"}");
        QTest::newRow("unknown key")
            << QByteArray("APIKey=nope&AppHide=1")
            << QByteArray("{\"status\":\"error\",\"message\":\"APIKey tidak valid\"}");
        const QByteArray key = "APIKey=" + apiKey.toUtf8();
        QTest::newRow("name of another company") << key + "&CompanyName=kosong" << QByteArray();
        QTest::newRow("device of another company") << key + "&DeviceName=EMPTY" << QByteArray();
        QTest::newRow("hide flag not 0 or 1") << key + "&AppHide=2" << QByteArray();
    }

    void editRefusals()
    {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, expected);
        const HttpResult result = m_http->post("/api/edit_company.php", body);
        QCOMPARE(result.status, 200);
        if (expected.isEmpty())
            QVERIFY2(result.body.startsWith("{\"status\":\"error\",\"message\":\""), result.body);
        else
            QCOMPARE(result.body, expected);
        const auto unchanged = store().companyById(m_toko.id);
        QCOMPARE(unchanged->name, m_toko.name);
        QCOMPARE(unchanged->deviceName, m_toko.deviceName);
        QCOMPARE(unchanged->appHide, 0);
    }

    void envelopeValues_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("escaped");
        QTest::newRow("plain") << QString("Toko Maju") << QByteArray("Toko Maju");
        QTest::newRow("quote") << QString("a\"b") << QByteArray("a\\\"b");
        QTest::newRow("quote before comma") << QString("a\",b") << QByteArray("a\\u0022,b");
        QTest::newRow("backslash then quote comma")
            << QString("x\\\",y") << QByteArray("x\\\\\\u0022,y");
        QTest::newRow("backslash") << QString("C:\\db") << QByteArray("C:\\\\db");
        QTest::newRow("line break") << QString("a\r\nb") << QByteArray("a\\r\\nb");
        QTest::newRow("control") << QString("a\x01") << QByteArray("a\\u0001");
        QTest::newRow("non-ASCII as UTF-8") << QString("Café") << QString("Café").toUtf8();
    }

    void envelopeValues()
    {
        QFETCH(QString, value);
        QFETCH(QByteArray, escaped);
        QCOMPARE(Envelope::escapeValue(value), escaped);
        // The agent cuts a value at the first ", after it; JSON readers get the value back.
        const QByteArray envelope = Envelope::write({{"message", value}, {"telp", "1"}});
        const qsizetype start = envelope.indexOf("\"message\":\"") + 11;
        QCOMPARE(envelope.indexOf("\",", start), start + escaped.size());
        QCOMPARE(QJsonDocument::fromJson(envelope).object().value("message").toString(), value);
    }

    void pollAnswersRequestText()
    {
        const qint64 urut = store().queueRequest(m_toko.id, "SELECT id, name\nFROM t",
                                                 "sales_daily", "Daily sales");
        const HttpResult result = m_http->get("/api/get_rs_req.php?companyName=Toko%20Maju");
        QCOMPARE(result.status, 200);
        QCOMPARE(result.body, "Urut:" + QByteArray::number(urut) +
                                  "\n\nFileName:sales_daily\n\nSQLstr:SELECT id, name\nFROM t"
                                  "\n\nRptTitle: Daily sales");
    }

    void pollWithoutRequest_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("no query") << QString() << QByteArray("Error: company name is required");
        QTest::newRow("empty name")
            << QString("?companyName=") << QByteArray("Error: company name is required");
        QTest::newRow("unknown") << QString("?companyName=Nope")
                                 << QByteArray("Error: company not found");
        QTest::newRow("nothing waiting")
            << QString("?companyName=Toko%20Maju") << QByteArray("nothing");
        QTest::newRow("other letter case")
            << QString("?companyName=TOKO%20MAJU") << QByteArray("nothing");
    }

    void pollWithoutRequest()
    {
        QFETCH(QString, query);
        QFETCH(QByteArray, expected);
        QCOMPARE(m_http->get("/api/get_rs_req.php" + query).body, expected);
    }

    void requestIsHandedOutUntilFlagged()
    {
        const qint64 first = store().queueRequest(m_toko.id, "SELECT 1", "one", "One");
        const qint64 second = store().queueRequest(m_toko.id, "SELECT 2", "two", "Two");
        const QString poll = "/api/get_rs_req.php?companyName=Toko%20Maju";
        for (int i = 0; i < 3; ++i)
            QVERIFY(m_http->get(poll).body.startsWith("Urut:" + QByteArray::number(first) + "\n"));
        QCOMPARE(store().request(first)->timesHandedOut, 3);
        QCOMPARE(store().lastHandedOutUrut(m_toko.id), first);

        const QByteArray flag = "Flag=0&Urut=" + QByteArray::number(first) + "&updateDtModified=1";
        QCOMPARE(m_http->post("/api/update_flag.php", flag).body, "OK");
        QVERIFY(store().request(first)->done);
        QVERIFY(m_http->get(poll).body.startsWith("Urut:" + QByteArray::number(second) + "\n"));
        m_http->post("/api/update_flag.php",
                     "Flag=0&Urut=" + QByteArray::number(second) + "&updateDtModified=1");
        QCOMPARE(m_http->get(poll).body, "nothing");
        const QMap<QString, qint64> stats = m_server->stats();
        QCOMPARE(stats.value("handed_out"), 4);
        QCOMPARE(stats.value("flagged"), 2);
    }

    void requestTextKeepsItsFourBlocks_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("title");
        QTest::newRow("empty line in SQL") << QString("SELECT a\n\nFROM t") << QString("T");
        QTest::newRow("CR LF lines") << QString("SELECT a\r\n\r\nFROM t\r\n") << QString("T");
        QTest::newRow("trailing line break") << QString("SELECT a FROM t\n") << QString("T\n\n");
    }

    void requestTextKeepsItsFourBlocks()
    {
        QFETCH(QString, sql);
        QFETCH(QString, title);
        store().queueRequest(m_toko.id, sql, "f", title);
        const QStringList blocks =
            agentBlocks(m_http->get("/api/get_rs_req.php?companyName=Toko%20Maju").body);
        QCOMPARE(blocks.size(), 4);
        QCOMPARE(blocks.at(1), QString("FileName:f"));
        QVERIFY(blocks.at(2).startsWith("SQLstr:SELECT a"));
        QVERIFY(blocks.at(2).contains("FROM t"));
        QVERIFY(!blocks.at(2).endsWith('\n'));
        QCOMPARE(blocks.at(3), QString("RptTitle: T"));
    }

    void reportLinksToRequestHandedOut()
    {
        const auto other = store().companyByName("Kosong");
        const qint64 mine = queueAndHandOut("Toko Maju", "sales");
        const qint64 theirs = queueAndHandOut("Kosong", "stock");
        const QByteArray doc = reportDocument("sales", 2, "Sales");

        HttpResult result = m_http->post("/api/save-json.php", doc, "application/json");
        QCOMPARE(result.status, 200);
        QCOMPARE(result.body, "Report received: sales (2 rows)");
        // The same request answered twice (a lost flag) gives two reports.
        QCOMPARE(m_http->post("/api/save-json.php", doc, "application/json").status, 200);

        const QList<TallyStore::Report> reports = store().reports(m_toko.id);
        QCOMPARE(reports.size(), 2);
        QCOMPARE(reports.at(0).urut, mine);
        QCOMPARE(reports.at(1).urut, mine);
        QCOMPARE(reports.at(0).rowCount, 2);
        QCOMPARE(reports.at(0).title, QString("Sales"));
        QCOMPARE(store().report(reports.at(0).id)->document, doc);
        QVERIFY(store().reports(other->id).isEmpty());
        QVERIFY(!store().request(theirs)->done);
        QCOMPARE(m_server->stats().value("reports_received"), 2);
    }

    void reportMatching_data()
    {
        QTest::addColumn<QString>("requestFile");
        QTest::addColumn<bool>("handOut");
        QTest::addColumn<QString>("documentFile"); // null: the member is left out
        QTest::addColumn<int>("status");
        QTest::newRow("same name") << "a" << true << "a" << 200;
        QTest::newRow("never handed out") << "a" << false << "a" << 404;
        QTest::newRow("other name") << "a" << true << "b" << 404;
        QTest::newRow("name typed at the agent's prompt") << "" << true << "typed" << 200;
        QTest::newRow("no name either side") << "" << true << QString() << 200;
    }

    void reportMatching()
    {
        QFETCH(QString, requestFile);
        QFETCH(bool, handOut);
        QFETCH(QString, documentFile);
        QFETCH(int, status);
        const qint64 urut = store().queueRequest(m_toko.id, "SELECT 1", requestFile, "Req title");
        if (handOut)
            m_http->get("/api/get_rs_req.php?companyName=Toko%20Maju");
        const HttpResult result =
            m_http->post("/api/save-json.php", reportDocument(documentFile, 1), "application/json");
        QCOMPARE(result.status, status);
        const QList<TallyStore::Report> reports = store().reports(m_toko.id);
        QCOMPARE(reports.size(), status == 200 ? 1 : 0);
        if (status == 200) {
            QCOMPARE(reports.at(0).urut, urut);
            QCOMPARE(reports.at(0).fileName, documentFile.isNull() ? requestFile : documentFile);
            QCOMPARE(reports.at(0).title, QString("Req title"));
        }
    }

    void invalidReportDocuments_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("not JSON") << QByteArray("{\"header\":[\"a\"],\"data\":[{\"a\":\"1\"}]");
        QTest::newRow("array") << QByteArray("[1,2]");
        QTest::newRow("no header") << QByteArray("{\"fileName\":\"a\",\"data\":[]}");
        QTest::newRow("data not an array")
            << QByteArray("{\"fileName\":\"a\",\"header\":[],\"data\":{}}");
        // Qt's reader lets raw control characters and unknown escapes pass, but a value that
        // ends in an unescaped backslash swallows its closing quote.
        QTest::newRow("value ending in a backslash")
            << QByteArray("{\"fileName\":\"a\",\"header\":[\"x\"],\"data\":[{\"x\":\"C:\\\"}]}");
    }

    void invalidReportDocuments()
    {
        QFETCH(QByteArray, body);
        queueAndHandOut("Toko Maju", "a");
        const HttpResult result = m_http->post("/api/save-json.php", body, "application/json");
        QCOMPARE(result.status, 400);
        QCOMPARE(result.body, "Error: invalid report document");
        QVERIFY(store().reports(m_toko.id).isEmpty());
    }

    void updateFlag_data()
    {
        QTest::addColumn<QByteArray>("body"); // URUT stands for the queued request's number
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("done");
        QTest::newRow("done") << QByteArray("Flag=0&Urut=URUT&updateDtModified=1") << 200
                              << QByteArray("OK") << true;
        QTest::newRow("opened again") << QByteArray("Flag=1&Urut=URUT&updateDtModified=1") << 200
                                      << QByteArray("OK") << false;
        QTest::newRow("unknown request") << QByteArray("Flag=0&Urut=999&updateDtModified=1") << 404
                                         << QByteArray("Error: request not found") << false;
        QTest::newRow("no Urut") << QByteArray("Flag=0&updateDtModified=1") << 400 << QByteArray()
                                 << false;
        QTest::newRow("Urut not a number")
            << QByteArray("Flag=0&Urut=7x") << 400 << QByteArray() << false;
        QTest::newRow("unknown flag")
            << QByteArray("Flag=5&Urut=URUT") << 400 << QByteArray() << false;
    }

    void updateFlag()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QByteArray, answer);
        QFETCH(bool, done);
        const qint64 urut = store().queueRequest(m_toko.id, "SELECT 1", "f", "t");
        store().setRequestDone(urut, QTest::currentDataTag() == QByteArray("opened again"), false);
        const HttpResult result =
            m_http->post("/api/update_flag.php", body.replace("URUT", QByteArray::number(urut)));
        QCOMPARE(result.status, status);
        if (!answer.isEmpty())
            QCOMPARE(result.body, answer);
        QCOMPARE(store().request(urut)->done, done);
    }

    void updateFiles()
    {
        const QString path = store().appDir() + "/Q17-Tallyframe.exe";
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("MZ build bytes");
        QVERIFY(file.flush());
        const QDateTime stamp(QDate(2024, 3, 5), QTime(14, 7, 9));
        QVERIFY(file.setFileTime(stamp, QFileDevice::FileModificationTime));
        file.close();

        HttpResult result = m_http->get("/api/app/get_file_time.php?file=Q17-Tallyframe.exe");
        QCOMPARE(result.status, 200);
        QCOMPARE(result.body, "2024-03-05 14:07:09");
        result = m_http->get("/api/app/get_file_time.php?file=Other.exe");
        QCOMPARE(result.status, 404);
        QCOMPARE(result.body, "Error: 404");

        result = m_http->get("/api/app/Q17-Tallyframe.exe");
        QCOMPARE(result.status, 200);
        QCOMPARE(result.body, "MZ build bytes");
        QCOMPARE(result.header("Content-Type"), QByteArray("application/octet-stream"));
        QCOMPARE(result.header("Content-Length"), QByteArray("14"));
        QCOMPARE(m_http->get("/api/app/Other.exe").status, 404);
    }

    void updateFileNamesStayInside_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("parent") << "/api/app/get_file_time.php?file=../service.db";
        QTest::newRow("encoded parent") << "/api/app/get_file_time.php?file=..%2Fservice.db";
        QTest::newRow("dot dot") << "/api/app/get_file_time.php?file=..";
        QTest::newRow("backslash") << "/api/app/get_file_time.php?file=..%5Cservice.db";
        QTest::newRow("absolute") << "/api/app/get_file_time.php?file=%2Fetc%2Fpasswd";
        QTest::newRow("empty") << "/api/app/get_file_time.php?file=";
        QTest::newRow("download, encoded parent") << "/api/app/..%2Fservice.db";
    }

    void updateFileNamesStayInside()
    {
        QFETCH(QString, path);
        const HttpResult result = m_http->get(path);
        QVERIFY2(result.status == 400 || result.status == 404, result.body);
        QVERIFY(!result.body.contains("SQLite"));
        if (path.contains("get_file_time"))
            QCOMPARE(result.status, 400);
    }

    void queueRequestEndpoint()
    {
        HttpResult result =
            m_http->post("/api/queue_request.php", "APIKey=wrong&Sql=SELECT+1&FileName=f&Title=t");
        QCOMPARE(result.status, 403);
        QCOMPARE(result.body, "Error: invalid APIKey");

        result = m_http->post("/api/queue_request.php", "APIKey=" + apiKey.toUtf8() +
                                                            "&Sql=SELECT+%27%C3%A9%27&FileName=f"
                                                            "&Title=Caf%C3%A9");
        QCOMPARE(result.status, 200);
        const QList<TallyStore::Request> requests = store().requests(m_toko.id);
        QCOMPARE(requests.size(), 1);
        QCOMPARE(result.body, "Urut:" + QByteArray::number(requests.at(0).urut));
        QCOMPARE(requests.at(0).title, QString("Café"));
        QCOMPARE(requests.at(0).sql, QString("SELECT 'é'"));
    }
};

QTEST_GUILESS_MAIN(TestServerApi)
#include "tst_server_api.moc"
