// Fault mode: what each kind does to an answer and to the request behind it, the seeded choice,
// and the endpoints and addresses it leaves alone.
#include "HttpTestClient.h"
#include "TallyServer.h"

#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {

const QString poll = QStringLiteral("/api/get_rs_req.php?companyName=Toko");

FaultConfig faults(double rate, const QStringList& kinds, quint32 seed = 42, int delaySeconds = 20)
{
    FaultConfig config;
    config.rate = rate;
    config.kinds = QSet<QString>(kinds.cbegin(), kinds.cend());
    config.seed = seed;
    config.delaySeconds = delaySeconds;
    return config;
}

} // namespace

class TestServerFaults : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TallyServer> m_server;
    std::unique_ptr<HttpTestClient> m_http;
    qint64 m_urut = 0;
    QByteArray m_requestText;
    QByteArray m_token;

    void start(const FaultConfig& config)
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_server = std::make_unique<TallyServer>(m_dir->path());
        QVERIFY(m_server->setFaults(config));
        QVERIFY(m_server->listen());
        m_http = std::make_unique<HttpTestClient>(m_server->baseUrl());
        const auto company = m_server->store().createCompany("Toko", "DEV", "", "", 0, "key");
        m_urut = m_server->store().queueRequest(company.id, "SELECT 1", "f", "Title");
        m_token = m_server->store().request(m_urut)->token.toLatin1();
        m_requestText = "Urut:" + QByteArray::number(m_urut) + "\n\nFileName:f~" + m_token +
                        "\n\nSQLstr:SELECT 1\n\nRptTitle: Title";
    }

    QList<int> statuses(int count)
    {
        QList<int> list;
        for (int i = 0; i < count; ++i)
            list.append(m_http->get("/api/get_app_hide.php?DeviceName=DEV").status);
        return list;
    }

private slots:
    void cleanup()
    {
        m_http.reset();
        m_server.reset();
        m_dir.reset();
    }

    void eachKind_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("networkError"); // the answer breaks off or never comes
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("body"); // "normal", "other" or the exact text
        QTest::addColumn<int>("handedOut");
        QTest::newRow("500") << "500" << false << 500 << "Internal Server Error" << 0;
        QTest::newRow("201") << "201" << false << 201 << "normal" << 1;
        QTest::newRow("garbage") << "garbage" << false << 200 << "other" << 1;
        QTest::newRow("half") << "half" << false << 200 << "Urut:URUT\n\nFileName:f~TOKEN" << 1;
        QTest::newRow("truncate") << "truncate" << true << 0 << "" << 1;
        QTest::newRow("drop") << "drop" << true << 0 << "" << 0;
    }

    void eachKind()
    {
        QFETCH(QString, kind);
        QFETCH(bool, networkError);
        QFETCH(int, status);
        QFETCH(QString, body);
        QFETCH(int, handedOut);
        start(faults(1.0, {kind}));
        const HttpResult result = m_http->get(poll);
        // Network-layer errors are 1 to 99; HTTP error statuses have codes of their own.
        QCOMPARE(result.error > 0 && result.error < 100, networkError);
        if (!networkError) {
            QCOMPARE(result.status, status);
            if (body == "normal")
                QCOMPARE(result.body, m_requestText);
            else if (body == "other")
                QVERIFY(result.body != m_requestText && !result.body.isEmpty());
            else
                QCOMPARE(QString::fromUtf8(result.body),
                         QString(body)
                             .replace("URUT", QString::number(m_urut))
                             .replace("TOKEN", QString::fromLatin1(m_token)));
        }
        const QMap<QString, qint64> stats = m_server->stats();
        // The client may try a dropped request again by itself; each try is dropped and counted.
        QVERIFY(stats.value("fault_" + kind) >= 1);
        QCOMPARE(stats.value("faults_total"), stats.value("fault_" + kind));
        QCOMPARE(stats.value("handed_out"), handedOut);
        QCOMPARE(m_server->store().request(m_urut)->timesHandedOut, handedOut);
    }

    void delayOutlastsTheClient()
    {
        start(faults(1.0, {"delay"}, 42, 1));
        const HttpResult impatient = m_http->get(poll, {}, 250);
        QVERIFY(impatient.error != QNetworkReply::NoError);
        QCOMPARE(m_server->stats().value("handed_out"), 1);
        // The late answer finds the connection gone; the service carries on.
        QTest::qWait(1200);
        const HttpResult patient = m_http->get(poll, {}, 5000);
        QCOMPARE(patient.status, 200);
        QCOMPARE(patient.body, m_requestText);
        QVERIFY2(patient.elapsedMs >= 900, qPrintable(QString::number(patient.elapsedMs)));
        QCOMPARE(m_server->stats().value("fault_delay"), 2);
    }

    void seedReplaysTheSameFaults()
    {
        start(faults(0.5, {"500", "201"}, 7));
        const QList<int> first = statuses(40);
        start(faults(0.5, {"500", "201"}, 7));
        QCOMPARE(statuses(40), first);
        QVERIFY(first.contains(200) && first.contains(500) && first.contains(201));
        start(faults(0.5, {"500", "201"}, 8));
        QVERIFY(statuses(40) != first);
    }

    void rateIsTheShareOfFaultedRequests()
    {
        start(faults(0.25, {"201"}, 3));
        const QList<int> list = statuses(400);
        const qsizetype faulted = list.count(201);
        QVERIFY2(faulted > 60 && faulted < 140, qPrintable(QString::number(faulted)));
        QCOMPARE(m_server->stats().value("fault_201"), faulted);
    }

    void exemptEndpoints()
    {
        start(faults(1.0, {"500"}));
        const HttpResult queued =
            m_http->post("/api/queue_request.php", "APIKey=key&Sql=SELECT+2&FileName=g&Title=G");
        QCOMPARE(queued.status, 200);
        QVERIFY(queued.body.startsWith("Urut:"));
        for (const char* path : {"/api/ReportQ.php", "/api/report.php", "/", "/api/_stats"})
            QCOMPARE(m_http->get(path).status, 200);
        QCOMPARE(m_server->stats().value("faults_total"), 0);
        QCOMPARE(m_http->get("/api/get_company_name.php?DeviceName=DEV").status, 500);
    }

    void halfTouchesOnlyRequestTexts()
    {
        start(faults(1.0, {"half"}));
        QCOMPARE(m_http->get("/api/get_company_name.php?DeviceName=DEV").body, "Toko");
        QCOMPARE(m_http->get("/api/get_rs_req.php?companyName=Nobody").body,
                 "Error: company not found");
        QCOMPARE(m_server->stats().value("fault_half"), 0);
    }

    void onlyOnLoopback()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_server = std::make_unique<TallyServer>(m_dir->path());
        QVERIFY(m_server->setFaults(faults(0.1, {"drop"})));
        // Refused before anything is bound.
        QVERIFY(!m_server->listen(QHostAddress::Any));
        QVERIFY(m_server->errorString().contains("loopback"));
        QCOMPARE(m_server->port(), 0);
        QVERIFY(m_server->listen(QHostAddress::LocalHost));
    }

    // The fault mode set over HTTP, for the tests of builds that cannot hold the service.
    void faultControl_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QByteArray>("form");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("lookupStatus"); // what a look-up gets afterwards
        QTest::newRow("off by default")
            << false << QByteArray("rate=1&kinds=500&seed=1&delay=0") << 404 << 200;
        QTest::newRow("all 500") << true << QByteArray("rate=1&kinds=500&seed=1&delay=0") << 200
                                 << 500;
        QTest::newRow("off again")
            << true << QByteArray("rate=0&kinds=&seed=0&delay=20") << 200 << 200;
        QTest::newRow("unknown kind")
            << true << QByteArray("rate=1&kinds=boom&seed=1&delay=0") << 400 << 200;
        QTest::newRow("rate out of range")
            << true << QByteArray("rate=2&kinds=500&seed=1&delay=0") << 400 << 200;
        QTest::newRow("not a number")
            << true << QByteArray("rate=x&kinds=500&seed=1&delay=0") << 400 << 200;
    }
    void faultControl()
    {
        QFETCH(bool, enabled);
        QFETCH(QByteArray, form);
        start(faults(0.0, {}));
        if (enabled)
            m_server->enableFaultControl();
        QTEST(m_http->post("/api/_faults", form).status, "status");
        QTEST(m_http->get("/api/get_company_name.php?DeviceName=DEV").status, "lookupStatus");
        // The control and the counters are not the agent's traffic.
        m_http->get("/api/_stats");
        QCOMPARE(m_server->stats().value("api_requests"), 1);
    }

    void statsText()
    {
        start(faults(1.0, {"201"}));
        m_http->get(poll);
        const QString text = QString::fromUtf8(m_http->get("/api/_stats").body);
        for (const char* line : {"fault_201=1", "fault_drop=0", "faults_total=1", "handed_out=1",
                                 "flagged=0", "reports_received=0"})
            QVERIFY2(text.split('\n').contains(QString(line)), qPrintable(text));
    }
};

QTEST_GUILESS_MAIN(TestServerFaults)
#include "tst_server_faults.moc"
