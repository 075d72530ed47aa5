// The courier loop on the main window, against the reference service in this process and a real
// SQLite database through ODBC: polls, runs, uploads, flags, and what happens when any of these
// goes wrong.
#include "support/TestSupport.h"

#include "support/CannedHttpServer.h"
#include "support/TestPostgres.h"

#include "TallyStore.h"
#include "app/ProfileState.h"
#include "pipeline/OdbcConnection.h"
#include "pipeline/ReportCourier.h"
#include "pipeline/ReportFooter.h"
#include "pipeline/ReportRun.h"
#include "pipeline/ReportService.h"
#include "service/HttpTransport.h"
#include "ui/Form1.h"
#include "ui/FrmAkun.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <csignal>
#include <cstdio>
#ifdef Q_OS_WIN
#include <windows.h>
#endif
#ifndef Q_OS_WIN
#include <sys/resource.h>
#endif

namespace {

const QString kCompany = QStringLiteral("Toko Maju");
const QString kDevice = QStringLiteral("00:1A:2B:3C:4D:5E");
const QString kSalesSql = QStringLiteral("SELECT id, name FROM people ORDER BY id");
const QByteArray kWorkedExample =
    R"({"title":"Daily sales","fileName":"sales_daily","header":["id","name"],)"
    R"("data":[{"id":"1","name":"Ann"},{"id":"2","name":""}],)"
    R"("footer":"Query termutakhir pada: 2026-12-07 10:15:00 | Cx7055475"})";

// Scripted boxes with a hook that runs while an input box "is open".
class HookedDialogs : public ScriptedDialogs
{
public:
    std::function<void(const QString& prompt)> onInput;
    QString inputBox(const QString& prompt, const QString& title,
                     const QString& defaultText) override
    {
        if (onInput)
            onInput(prompt);
        return ScriptedDialogs::inputBox(prompt, title, defaultText);
    }
};

// A loopback address where nothing listens.
QString deadServiceUrl()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return QStringLiteral("http://127.0.0.1:%1").arg(port);
}

FaultConfig faults(const QStringList& kinds, quint32 seed = 1)
{
    FaultConfig config;
    config.rate = kinds.isEmpty() ? 0.0 : 1.0;
    config.kinds = QSet<QString>(kinds.begin(), kinds.end());
    config.seed = seed;
    return config;
}

// A request text as the service writes it, blocks split by empty lines (labels of 9, 7 and 10
// characters).
QByteArray requestText(const QByteArray& urut, const QByteArray& sql, const QByteArray& title)
{
    return "Urut:" + urut + "\r\n\r\nFileName:report\r\n\r\nSQLText" + sql + "\r\n\r\nReportName" +
           title;
}

// Another program holding an SQLite database locked, until released or destroyed.
class SqliteLockHolder
{
public:
    explicit SqliteLockHolder(const QString& path)
    {
        m_shell.start(QStringLiteral("sqlite3"), {path});
        m_shell.write("BEGIN EXCLUSIVE;\nSELECT 'held';\n");
        while (m_shell.waitForReadyRead(5000) && !m_out.contains("held"))
            m_out += m_shell.readAll();
    }
    ~SqliteLockHolder() { release(); }
    bool holds() const { return m_out.contains("held"); }
    void release()
    {
        if (m_shell.state() == QProcess::NotRunning)
            return;
        m_shell.write("ROLLBACK;\n.quit\n");
        m_shell.closeWriteChannel();
        m_shell.waitForFinished(5000);
    }

private:
    QProcess m_shell;
    QByteArray m_out;
};

} // namespace

class TestCourierLoop : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void requestRunsEndToEnd();
    void failingSqlIsFlagged();
    void pollFailure_data();
    void pollFailure();
    void lostConnectionPausesAndCountsDown();
    void serviceGoesAwayMidReport_data();
    void serviceGoesAwayMidReport();
    void refusedReportIsFlagged();
    void flagReply_data();
    void flagReply();
    void flagWithoutAnswer();
    void malformedRequestIsNotRun();
    void malformedRequestPauses_data();
    void malformedRequestPauses();
    void redirectedUploadIsNotDelivered_data();
    void redirectedUploadIsNotDelivered();
    void failedFlagPauses_data();
    void failedFlagPauses();
    void longAnswerIsShownCut_data();
    void longAnswerIsShownCut();
    void longTitleTravelsWhole();
    void spoolThatCannotBeWritten_data();
    void spoolThatCannotBeWritten();
    void databaseFailureClass_data();
    void databaseFailureClass();
    void lockWaitIsBounded_data();
    void lockWaitIsBounded();
    void lockedDatabasePasses_data();
    void lockedDatabasePasses();
    void failedOpenLeavesNoConnection_data();
    void failedOpenLeavesNoConnection();
    void missingSqlAndFileNameAreAskedFor();
    void noTickWhileAnEarlierTickWaits();
    void windowRunsWhileReportsRun_data();
    void courierEndsWhileAQuestionWaits();
    void windowRunsWhileReportsRun();
    void textBoxReactions_data();
    void textBoxReactions();
    void labelFollowsItsText_data();
    void labelFollowsItsText();
    void labelClicks();
    void connectionStringRemedy();

private:
    void tick();
    void tickThroughPause();
    std::unique_ptr<CannedHttpServer> cannedService(const QByteArray& pollAnswer);
    int requestsTo(const CannedHttpServer& http, const QByteArray& path) const;
    qint64 queue(const QString& sql, const QString& fileName = QStringLiteral("sales_daily"),
                 const QString& title = QStringLiteral("Daily sales"));
    qint64 apiRequests() const;
    bool isDone(qint64 urut) const;
    // An uploaded document, its footer's time written as the worked example's when it is a time
    // of this test's run (the footer shows the local time of the run).
    QByteArray uploaded(qint64 reportId) const;
    QStringList spoolFiles() const;

    QTemporaryDir m_dir;
    QString m_connStr;
    std::unique_ptr<DeviceNameGuard> m_device;
    std::unique_ptr<TestService> m_service;
    std::unique_ptr<HookedDialogs> m_dialogs;
    ServiceClient m_client; // the window's, of the service the test started
    std::unique_ptr<Form1> m_form;
    TallyStore::Company m_company;
    QTemporaryDir m_pgDir;
    std::unique_ptr<Postgres> m_pg;
    QString m_pgProblem;
    QString m_dbPath;
    QDateTime m_started;
};

void TestCourierLoop::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // Report documents are spooled under the agent's data folder.
    qputenv("XDG_DATA_HOME", m_dir.filePath(QStringLiteral("data")).toUtf8());
    const QString db = m_dir.filePath(QStringLiteral("shop.db"));
    createSqliteDatabase(db, {"CREATE TABLE people (id INTEGER, name TEXT)",
                              "INSERT INTO people VALUES (1, 'Ann'), (2, NULL)"});
    m_connStr = sqliteConnectionString(db);
    m_dbPath = db;
    qputenv("TALLYFRAME_HTTP_TIMEOUT_MS", "5000");
#ifdef SIGXFSZ
    // Beyond a file size limit a write must fail, not end the process.
    std::signal(SIGXFSZ, SIG_IGN);
#endif

    // A private PostgreSQL for the cases that need the second driver.
    const QString bin = postgresBinaries();
    if (bin.isEmpty()) {
        m_pgProblem = QStringLiteral("PostgreSQL's programs are not installed");
        return;
    }
    // The cluster may belong to the postgres account, which must reach its folder.
    QFile::setPermissions(m_pgDir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                              QFile::ExeGroup | QFile::ExeOther);
    m_pg = std::make_unique<Postgres>(bin, m_pgDir.filePath(QStringLiteral("pg")));
    if (!m_pg->prepare(&m_pgProblem) ||
        !m_pg->psql(
            QStringLiteral("postgres"),
            QStringLiteral("CREATE TABLE people (id integer, name text);"
                           "INSERT INTO people VALUES (1, 'Ann'), (2, NULL);"
                           "CREATE FUNCTION fail_with(code text) RETURNS integer LANGUAGE plpgsql "
                           "AS $$ BEGIN RAISE EXCEPTION 'failed on purpose' USING ERRCODE = code; "
                           "END $$;"),
            &m_pgProblem)) {
        m_pg->stop();
        m_pg.reset();
    }
}

void TestCourierLoop::cleanupTestCase()
{
    if (m_pg)
        m_pg->stop();
}

void TestCourierLoop::init()
{
    m_device = std::make_unique<DeviceNameGuard>(kDevice);
    m_service = std::make_unique<TestService>();
    m_company =
        m_service->store().createCompany(kCompany, kDevice, QStringLiteral("0812"), m_connStr);
    QVERIFY(m_company.id != 0);
    m_dialogs = std::make_unique<HookedDialogs>();

    ProfileState& p = ProfileState::instance();
    p = ProfileState();
    p.CompanyName = kCompany;
    p.ApiKey = m_company.apiKey;
    p.Telp = m_company.telp;
    p.ConnectionString = m_connStr;

    m_client = ServiceClient();

    m_form = std::make_unique<Form1>(m_client, *m_dialogs);
    m_form->Label7->setText(kCompany);
    m_form->setTxtRs(QStringLiteral("Welcome ") + kCompany +
                     QStringLiteral("...\r\nNothing is impossible ^_^"));

    m_started = QDateTime::currentDateTime().addSecs(-1); // the footer shows whole seconds
    footerRandom().reset();
}

void TestCourierLoop::cleanup()
{
    m_form.reset();
    m_dialogs.reset();
    m_service.reset();
    m_device.reset();
    ProfileState::instance() = ProfileState();
}

void TestCourierLoop::tick()
{
    // Through the timer's own signal, so that the window's guard against overlaps applies.
    runCourierTick(*m_form->courier(), [this] {
        QVERIFY(QMetaObject::invokeMethod(m_form->Timer2, "timeout", Qt::DirectConnection));
    });
}

void TestCourierLoop::tickThroughPause()
{
    // The 29 pausing ticks; the next tick polls again.
    for (int k = 1; k <= 29; ++k)
        tick();
    QCOMPARE(m_form->courier()->backoffCount(), qint16(0));
}

std::unique_ptr<CannedHttpServer> TestCourierLoop::cannedService(const QByteArray& pollAnswer)
{
    auto http = std::make_unique<CannedHttpServer>();
    http->routes.insert("/api/get_rs_req.php", {200, pollAnswer});
    http->routes.insert("/api/save-json.php", {200, "Report received"});
    http->routes.insert("/api/update_flag.php", {200, "OK"});
    pointAt(m_client, http->baseUrl());
    return http;
}

int TestCourierLoop::requestsTo(const CannedHttpServer& http, const QByteArray& path) const
{
    int count = 0;
    for (const QByteArray& line : http.requestLines)
        count += line.split(' ').value(1).startsWith(path) ? 1 : 0;
    return count;
}

qint64 TestCourierLoop::queue(const QString& sql, const QString& fileName, const QString& title)
{
    return m_service->store().queueRequest(m_company.id, sql, fileName, title);
}

qint64 TestCourierLoop::apiRequests() const
{
    return m_service->server().stats().value(QStringLiteral("api_requests"));
}

QStringList TestCourierLoop::spoolFiles() const
{
    return QDir(ReportSpoolFolder())
        .entryList({QStringLiteral("tallyframe-report-*")}, QDir::Files);
}

bool TestCourierLoop::isDone(qint64 urut) const
{
    const auto request = m_service->store().request(urut);
    return request && request->done;
}

QByteArray TestCourierLoop::uploaded(qint64 reportId) const
{
    QByteArray document = m_service->store().report(reportId)->document;
    const qsizetype at = document.lastIndexOf("pada: ") + 6;
    const QDateTime when = QDateTime::fromString(QString::fromLatin1(document.mid(at, 19)),
                                                 QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (at >= 6 && when >= m_started && when <= QDateTime::currentDateTime())
        document.replace(at, 19, "2026-12-07 10:15:00");
    return document;
}

void TestCourierLoop::requestRunsEndToEnd()
{
    const qint64 urut = queue(kSalesSql);
    tick();

    const auto reports = m_service->store().reports(m_company.id);
    QCOMPARE(reports.size(), 1);
    QCOMPARE(reports[0].urut, urut);
    QCOMPARE(uploaded(reports[0].id), kWorkedExample);
    QVERIFY(isDone(urut));
    const QStringList lines = m_form->txtRs().split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines[0].contains(QStringLiteral("sales_daily")), qPrintable(lines[0]));
    QCOMPARE(lines[1], QStringLiteral("Response: OK"));
    QVERIFY(m_form->Frame1->isHidden());
    QCOMPARE(m_form->LblResponse->text(), QStringLiteral("Terhubung database"));
    QVERIFY(!ProfileState::instance().DbConnection); // released after a finished run
    QVERIFY(!m_form->courier()->holdsConnection());
    QCOMPARE(spoolFiles(), QStringList());

    tick();
    QCOMPARE(m_form->txtRs(), QStringLiteral("nothing"));
    QVERIFY(!m_form->Frame1->isHidden());
    QCOMPARE(m_service->store().reports(m_company.id).size(), 1);
}

void TestCourierLoop::failingSqlIsFlagged()
{
    m_form->Check1->setChecked(true);
    const qint64 urut = queue(QStringLiteral("SELECT * FROM nowhere"));
    tick();

    QVERIFY(m_service->store().reports(m_company.id).isEmpty());
    QVERIFY(isDone(urut)); // a broken SQL must not come back on every poll
    QCOMPARE(m_form->txtRs(), QStringLiteral("\r\nResponse: OK"));
    const ScriptedDialogs::Shown* box = m_dialogs->last(QStringLiteral("message"));
    QVERIFY(box);
    QCOMPARE(box->title, QStringLiteral("Stop Error"));
    QCOMPARE(box->style, 64);
    QVERIFY2(box->text.startsWith(QStringLiteral("[Error: -2147467259] \r\n")),
             qPrintable(box->text));
    QVERIFY(box->text.contains(QStringLiteral("no such table")));
    QCOMPARE(m_form->courier()->backoffCount(), 0);
}

void TestCourierLoop::pollFailure_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("textStart");
    QTest::addColumn<bool>("pauses");
    QTest::newRow("nobody listens")
        << deadServiceUrl()
        << "[Error:-2146697211] The system cannot locate the resource specified." << true;
    QTest::newRow("scheme the agent cannot speak")
        << "ftp://127.0.0.1:1"
        << "[Error:-2146697214] The URL is invalid." << false;
}

void TestCourierLoop::pollFailure()
{
    QFETCH(QString, url);
    QFETCH(QString, textStart);
    QFETCH(bool, pauses);
    pointAt(m_client, url);
    const QString before = m_form->LblResponse->text();
    tick();
    QVERIFY2(m_form->txtRs().startsWith(textStart), qPrintable(m_form->txtRs()));
    QVERIFY(m_form->Frame1->isHidden());
    QCOMPARE(m_form->courier()->backoffCount(), qint16(pauses ? 1 : 0));
    QCOMPARE(m_form->LblResponse->text(),
             pauses ? QStringLiteral("Sepertinya hubungan ke internet terputus?") : before);
    // Not a request: nothing asked, nothing run.
    QVERIFY(m_dialogs->shown.isEmpty());
}

void TestCourierLoop::lostConnectionPausesAndCountsDown()
{
    const QString serviceUrl = m_service->baseUrl();
    pointAt(m_client, deadServiceUrl());
    tick();
    QCOMPARE(m_form->courier()->backoffCount(), qint16(1));
    pointAt(m_client, serviceUrl);

    const qint64 requestsBefore = apiRequests();
    for (int k = 1; k <= 29; ++k) {
        tick();
        const QString expected =
            k < 29 ? QStringLiteral("Coffee time for a next good internet connection in %1. "
                                    "Cheers!")
                         .arg(30 - k)
                   : QStringLiteral("We're back!");
        QCOMPARE(m_form->LblResponse->text(), expected);
    }
    QCOMPARE(apiRequests(), requestsBefore); // no request during the pause
    QCOMPARE(m_form->courier()->backoffCount(), qint16(0));
    tick(); // the 30th tick after the failure polls again
    QCOMPARE(apiRequests(), requestsBefore + 1);
    QCOMPARE(m_form->txtRs(), QStringLiteral("nothing"));
}

void TestCourierLoop::serviceGoesAwayMidReport_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("textStart");
    QTest::newRow("connection dropped") << "drop"
                                        << "[Error: -2146697211] \r\nThe system";
    QTest::newRow("server error") << "500"
                                  << "[Error: 500] \r\n";
}

void TestCourierLoop::serviceGoesAwayMidReport()
{
    QFETCH(QString, fault);
    QFETCH(QString, textStart);
    const qint64 urut = queue(kSalesSql, QString());
    // The file name is asked for after the poll and before the upload: the service goes away
    // while the user answers.
    bool away = true;
    m_dialogs->onInput = [&](const QString&) {
        if (away)
            m_service->server().setFaults(faults({fault}));
    };
    m_dialogs->inputAnswers = {QStringLiteral("sales_daily"), QStringLiteral("sales_daily")};
    tick();

    QVERIFY(m_service->store().reports(m_company.id).isEmpty());
    QVERIFY(!isDone(urut)); // still pending on the service
    QVERIFY2(m_form->txtRs().startsWith(textStart), qPrintable(m_form->txtRs()));
    QCOMPARE(m_form->courier()->backoffCount(),
             qint16(1)); // tried again after a pause, not on every tick
    QCOMPARE(spoolFiles(), QStringList());

    away = false;
    m_service->server().setFaults(faults({}));
    for (int k = 1; k <= 29; ++k)
        tick();
    QVERIFY(m_service->store().reports(m_company.id).isEmpty());
    tick();

    const auto reports = m_service->store().reports(m_company.id);
    QCOMPARE(reports.size(), 1);
    QCOMPARE(reports[0].urut, urut);
    QVERIFY(isDone(urut));
    // Same rows as a run that never failed; only the footer's suffix moved on by one.
    QByteArray expected = kWorkedExample;
    expected.replace("Cx7055475", "Cx533424");
    QCOMPARE(uploaded(reports[0].id), expected);
    QVERIFY(m_form->txtRs().endsWith(QStringLiteral("\r\nResponse: OK")));
}

void TestCourierLoop::refusedReportIsFlagged()
{
    // The request is done on the service before the upload arrives (as when its author deletes
    // or closes it): the service answers 404 and would answer so forever.
    const qint64 urut = queue(kSalesSql, QString());
    m_dialogs->onInput = [&](const QString&) {
        m_service->store().setRequestDone(urut, true, false);
    };
    m_dialogs->inputAnswers = {QStringLiteral("sales_daily")};
    tick();

    QVERIFY(m_service->store().reports(m_company.id).isEmpty());
    QVERIFY2(m_form->txtRs().startsWith(QStringLiteral("\r\nResponse: ")),
             qPrintable(m_form->txtRs()));
    QCOMPARE(m_form->courier()->backoffCount(),
             qint16(0)); // no pause: the queue moves on at the next tick
    QCOMPARE(spoolFiles(), QStringList());
}

void TestCourierLoop::flagReply_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("result");
    QTest::newRow("200") << ""
                         << "Response: OK";
    QTest::newRow("201 counts as failure") << "201"
                                           << "Failed to update. HTTP Status: 201";
    QTest::newRow("500") << "500"
                         << "Failed to update. HTTP Status: 500";
}

void TestCourierLoop::flagReply()
{
    QFETCH(QString, fault);
    QFETCH(QString, result);
    const qint64 urut = queue(kSalesSql);
    if (!fault.isEmpty())
        m_service->server().setFaults(faults({fault}));
    QCOMPARE(UpdateFlag(m_client, qint32(urut), QStringLiteral("0")), result);
    QCOMPARE(isDone(urut), fault != QLatin1String("500"));
}

void TestCourierLoop::flagWithoutAnswer()
{
    // A seed whose first fault leaves the upload through (201 is still success for an upload)
    // and whose next ones drop the flag request, retries included.
    const QStringList kinds = {QStringLiteral("201"), QStringLiteral("drop")};
    quint32 seed = 0;
    for (; seed < 10000; ++seed) {
        FaultInjector probe;
        probe.configure(faults(kinds, seed));
        if (probe.draw(false) == FaultKind::Status201 && probe.draw(false) == FaultKind::Drop &&
            probe.draw(false) == FaultKind::Drop && probe.draw(false) == FaultKind::Drop)
            break;
    }
    QVERIFY(seed < 10000);

    const qint64 urut = queue(kSalesSql, QString());
    m_dialogs->onInput = [&](const QString&) {
        m_service->server().setFaults(faults(kinds, seed));
    };
    m_dialogs->inputAnswers = {QStringLiteral("sales_daily")};
    tick();
    m_service->server().setFaults(faults({}));

    QCOMPARE(m_service->store().reports(m_company.id).size(), 1);
    QVERIFY(!isDone(urut));
    const QStringList lines = m_form->txtRs().split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines[1].startsWith(
                 QStringLiteral("[Error:-2146697211] The system cannot locate the resource")),
             qPrintable(lines[1]));
    // The agent runs on: the next tick gets the request again, runs it and flags it.
    QCOMPARE(m_form->courier()->backoffCount(), qint16(1)); // not again twice a second
    m_dialogs->onInput = nullptr;
    m_dialogs->inputAnswers = {QStringLiteral("sales_daily")};
    tickThroughPause();
    tick();
    QVERIFY(isDone(urut));
    QCOMPARE(m_service->store().reports(m_company.id).size(), 2);
}

void TestCourierLoop::malformedRequestIsNotRun()
{
    const qint64 urut = queue(kSalesSql);
    m_service->server().setFaults(faults({QStringLiteral("half")}));
    tick();
    m_service->server().setFaults(faults({}));

    QVERIFY(m_form->txtRs().startsWith(QStringLiteral("Urut:")));
    QCOMPARE(m_form->LblResponse->text(),
             QStringLiteral("Permintaan laporan tidak dijalankan: hanya 2 dari 4 blok."));
    QVERIFY(m_dialogs->shown.isEmpty());
    QVERIFY(m_service->store().reports(m_company.id).isEmpty());
    QVERIFY(!isDone(urut));
    QCOMPARE(m_form->courier()->backoffCount(), qint16(1)); // not again on the next tick

    tickThroughPause();
    tick(); // the whole request arrives and runs
    QCOMPARE(m_service->store().reports(m_company.id).size(), 1);
    QVERIFY(isDone(urut));
}

void TestCourierLoop::malformedRequestPauses_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("problem");
    QTest::newRow("number that is none")
        << requestText("abc", "SELECT 1", "t") << "Permintaan laporan tidak dijalankan: ";
    QTest::newRow("too few blocks")
        << QByteArray("Urut:5\r\n\r\nFileName:report") << "Permintaan laporan tidak dijalankan: ";
}

void TestCourierLoop::malformedRequestPauses()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, problem);
    const auto http = cannedService(answer);
    tick();
    QVERIFY2(m_form->LblResponse->text().startsWith(problem),
             qPrintable(m_form->LblResponse->text()));
    QCOMPARE(requestsTo(*http, "/api/save-json.php"), 0);
    QCOMPARE(requestsTo(*http, "/api/update_flag.php"), 0);
    QCOMPARE(m_form->courier()->backoffCount(), qint16(1));

    // It comes back at the pace of a lost connection, not twice a second.
    tickThroughPause();
    QCOMPARE(requestsTo(*http, "/api/get_rs_req.php"), 1);
    tick();
    QCOMPARE(requestsTo(*http, "/api/get_rs_req.php"), 2);
    QCOMPARE(m_form->courier()->backoffCount(), qint16(1));
}

void TestCourierLoop::redirectedUploadIsNotDelivered_data()
{
    QTest::addColumn<int>("status");
    for (const int status : {301, 302, 303, 307, 308})
        QTest::newRow(QByteArray::number(status).constData()) << status;
}

void TestCourierLoop::redirectedUploadIsNotDelivered()
{
    QFETCH(int, status);
    const auto http = cannedService(requestText("7", "SELECT id FROM people", "t"));
    http->routes.insert("/api/save-json.php", {status, "Moved"});
    http->locations.insert("/api/save-json.php", http->baseUrl().toLatin1() + "/stored");
    http->routes.insert("/stored", {200, "stored"});
    tick();

    QCOMPARE(requestsTo(*http, "/stored"), 0); // the redirect is not followed
    QCOMPARE(requestsTo(*http, "/api/save-json.php"), 1);
    QCOMPARE(requestsTo(*http, "/api/update_flag.php"), 0); // not flagged: still pending
    QCOMPARE(m_form->courier()->backoffCount(), qint16(1));
    QVERIFY2(m_form->txtRs().startsWith(QStringLiteral("[Error: %1] \r\nThe service did not "
                                                       "store the report.")
                                            .arg(status)),
             qPrintable(m_form->txtRs()));
}

void TestCourierLoop::failedFlagPauses_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("answered");
    QTest::newRow("500") << 500 << true;
    QTest::newRow("302") << 302 << true;
    QTest::newRow("no answer") << 0 << false;
}

void TestCourierLoop::failedFlagPauses()
{
    QFETCH(int, status);
    QFETCH(bool, answered);
    const auto http = cannedService(requestText("7", "SELECT id FROM people", "t"));
    if (answered)
        http->routes.insert("/api/update_flag.php", {status, "down"});
    else
        http->routeModes.insert("/api/update_flag.php", CannedHttpServer::Mode::CloseAtOnce);
    tick();
    QCOMPARE(requestsTo(*http, "/api/save-json.php"), 1);
    // Qt sends a request again once when the connection closes before any answer.
    const int flags = requestsTo(*http, "/api/update_flag.php");
    QVERIFY(flags >= 1);
    QCOMPARE(m_form->courier()->backoffCount(), qint16(1));

    // The request is still pending on the service: it runs again, but only after the pause.
    tickThroughPause();
    QCOMPARE(requestsTo(*http, "/api/save-json.php"), 1);
    QCOMPARE(requestsTo(*http, "/api/update_flag.php"), flags);
    QCOMPARE(requestsTo(*http, "/api/get_rs_req.php"), 1);
    tick();
    QCOMPARE(requestsTo(*http, "/api/save-json.php"), 2);
}

void TestCourierLoop::longAnswerIsShownCut_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("shownLines");
    QTest::newRow("short, shown as it is") << "Report received\r\nResponse: OK" << 2;
    QTest::newRow("one line of 1 MB") << QString(1 << 20, QLatin1Char('x')) << 1;
    QString manyLines;
    for (int i = 0; i < 50000; ++i)
        manyLines += QStringLiteral("line %1\r\n").arg(i);
    QTest::newRow("50,000 lines") << manyLines << int(kShownLines) + 1;
}

void TestCourierLoop::longAnswerIsShownCut()
{
    QFETCH(QString, text);
    QFETCH(int, shownLines);
    m_form->setTxtRs(text);
    QCOMPARE(m_form->txtRs(), text); // the text itself is whole
    const QString shown = m_form->TxtRs->toPlainText();
    const QStringList lines = shown.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), shownLines);
    for (const QString& line : lines)
        QVERIFY2(line.size() <= kShownLineChars + 3, qPrintable(QString::number(line.size())));
    if (text.size() <= kShownLineChars)
        QCOMPARE(shown, QString(text).remove(QLatin1Char('\r')));
}

void TestCourierLoop::longTitleTravelsWhole()
{
    // A poll answer whose title is one line of 1 MB: the box shows it cut, the report carries
    // it whole.
    const QByteArray title(1 << 20, 'T');
    const auto http = cannedService(requestText("7", "SELECT id FROM people", title));
    tick();
    QCOMPARE(requestsTo(*http, "/api/save-json.php"), 1);
    const int upload =
        int(http->requestLines.indexOf(QByteArray("POST /api/save-json.php HTTP/1.1")));
    QVERIFY(upload >= 0);
    QVERIFY(http->requestBodies[upload].startsWith("{\"title\":\"" + title + "\","));
    QVERIFY(m_form->TxtRs->toPlainText().size() < 3 * kShownLineChars);
}

void TestCourierLoop::spoolThatCannotBeWritten_data()
{
    QTest::addColumn<int>("shortBy"); // bytes under the report's size; -1: nothing fits
    QTest::newRow("the last few bytes") << 5;
    QTest::newRow("half of it") << -2;
    QTest::newRow("not one byte") << -1;
}

void TestCourierLoop::spoolThatCannotBeWritten()
{
#ifdef Q_OS_WIN
    QSKIP("Windows has no per-process file size limit to fill the disk with");
#else
    QFETCH(int, shortBy);
    const QString sql = QStringLiteral(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
        "SELECT i, 'row number ' || i AS name FROM n");
    // The same report once with room, to learn its size.
    queue(sql);
    tick();
    QCOMPARE(m_service->store().reports(m_company.id).size(), 1);
    const qint64 size =
        m_service->store().report(m_service->store().reports(m_company.id)[0].id)->document.size();
    QVERIFY(size > 50000);
    footerRandom().reset();

    // The file name is asked for after the poll, before the run: the disk fills then.
    const qint64 urut = queue(sql, QString());
    rlimit previous{};
    QVERIFY(getrlimit(RLIMIT_FSIZE, &previous) == 0);
    bool limited = false;
    m_dialogs->onInput = [&](const QString&) {
        if (limited)
            return;
        limited = true;
        rlimit small = previous;
        small.rlim_cur = shortBy == -1   ? 0
                         : shortBy == -2 ? rlim_t(size / 2)
                                         : rlim_t(size - shortBy);
        setrlimit(RLIMIT_FSIZE, &small);
    };
    m_dialogs->inputAnswers = {QStringLiteral("sales_daily"), QStringLiteral("sales_daily")};
    const qint64 requestsBefore = apiRequests();
    tick();
    setrlimit(RLIMIT_FSIZE, &previous);

    QCOMPARE(apiRequests(), requestsBefore + 1); // the poll: nothing uploaded, nothing flagged
    QVERIFY(!isDone(urut));
    QCOMPARE(m_form->courier()->backoffCount(), qint16(1));
    QVERIFY2(m_form->txtRs().contains(QStringLiteral("The report could not be written")),
             qPrintable(m_form->txtRs()));
    QCOMPARE(spoolFiles(), QStringList());

    // With room again, the same request runs after the pause and arrives whole.
    tickThroughPause();
    footerRandom().reset();
    tick();
    QVERIFY(isDone(urut));
    const auto reports = m_service->store().reports(m_company.id);
    QCOMPARE(reports.size(), 2);
    QCOMPARE(m_service->store().report(reports.last().id)->document.size(), size);
#endif
}

void TestCourierLoop::databaseFailureClass_data()
{
    QTest::addColumn<QString>("dbms");
    QTest::addColumn<QString>("state");
    QTest::addColumn<int>("native");
    QTest::addColumn<bool>("passes");
    QTest::newRow("SQLite busy") << "SQLite"
                                 << "S1000" << 5 << true;
    QTest::newRow("SQLite locked") << "SQLite"
                                   << "HY000" << 6 << true;
    QTest::newRow("SQLite busy, extended code") << "SQLite"
                                                << "HY000" << 517 << true;
    QTest::newRow("SQLite, no such table") << "SQLite"
                                           << "HY000" << 1 << false;
    QTest::newRow("another driver's native 5") << "PostgreSQL"
                                               << "HY000" << 5 << false;
    QTest::newRow("lock not available") << "PostgreSQL"
                                        << "55P03" << 7 << true;
    QTest::newRow("serialization failure") << "PostgreSQL"
                                           << "40001" << 7 << true;
    QTest::newRow("deadlock") << "PostgreSQL"
                              << "40P01" << 7 << true;
    QTest::newRow("time-out") << ""
                              << "HYT00" << 0 << true;
    QTest::newRow("connection time-out") << ""
                                         << "HYT01" << 0 << true;
    QTest::newRow("communication link failure") << "PostgreSQL"
                                                << "08S01" << 35 << true;
    QTest::newRow("syntax error") << "PostgreSQL"
                                  << "42601" << 7 << false;
    QTest::newRow("query cancelled (a time limit)") << "PostgreSQL"
                                                    << "57014" << 7 << false;
}

void TestCourierLoop::databaseFailureClass()
{
    QFETCH(QString, dbms);
    QFETCH(QString, state);
    QFETCH(int, native);
    QFETCH(bool, passes);
    QCOMPARE(IsTemporaryDbFailure(dbms, {{state, native}}), passes);
    // A record that passes wins over one that does not, whatever their order.
    if (passes)
        QVERIFY(IsTemporaryDbFailure(dbms, {{QStringLiteral("01000"), 1}, {state, native}}));
}

void TestCourierLoop::lockWaitIsBounded_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("opened");
    QTest::newRow("SQLite") << "DRIVER={SQLite3};Database=/d/shop.db;"
                            << "DRIVER={SQLite3};Database=/d/shop.db;Timeout=5000;";
    QTest::newRow("SQLite, no final semicolon")
        << "Driver={SQLite3 ODBC Driver};Database=/d/shop.db"
        << "Driver={SQLite3 ODBC Driver};Database=/d/shop.db;Timeout=5000;";
    QTest::newRow("a path with the word in it")
        << "DRIVER={SQLite3};Database=/d/Timeout=1.db;"
        << "DRIVER={SQLite3};Database=/d/Timeout=1.db;Timeout=5000;";
    QTest::newRow("the user's own time-out stays")
        << "driver={sqlite3};database=/d/shop.db; timeout=100000"
        << "driver={sqlite3};database=/d/shop.db; timeout=100000";
    QTest::newRow("PostgreSQL is bounded in its session")
        << "DRIVER={PostgreSQL Unicode};Server=h;Database=d;"
        << "DRIVER={PostgreSQL Unicode};Server=h;Database=d;";
    QTest::newRow("a data source name") << "DSN=shop;"
                                        << "DSN=shop;";
}

void TestCourierLoop::lockWaitIsBounded()
{
    QFETCH(QString, given);
    QFETCH(QString, opened);
    QCOMPARE(WithBoundedLockWait(given), opened);
}

void TestCourierLoop::lockedDatabasePasses_data()
{
    QTest::addColumn<bool>("postgres");
    QTest::addColumn<bool>("hold"); // another connection holds a lock during the run
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("passes");
    const QString sales = QStringLiteral("SELECT id, name FROM people ORDER BY id");
    QTest::newRow("SQLite, held by another writer") << false << true << sales << true;
    QTest::newRow("SQLite, error in the SQL")
        << false << false << QStringLiteral("SELECT * FROM nowhere") << false;
    QTest::newRow("PostgreSQL, table locked by another session") << true << true << sales << true;
    QTest::newRow("PostgreSQL, serialization failure")
        << true << false << QStringLiteral("SELECT fail_with('40001')") << true;
    QTest::newRow("PostgreSQL, deadlock")
        << true << false << QStringLiteral("SELECT fail_with('40P01')") << true;
    QTest::newRow("PostgreSQL, error in the SQL")
        << true << false << QStringLiteral("SELECT * FROM nowhere") << false;
}

void TestCourierLoop::lockedDatabasePasses()
{
    QFETCH(bool, postgres);
    QFETCH(bool, hold);
    QFETCH(QString, sql);
    QFETCH(bool, passes);
    if (postgres && !m_pg)
        QSKIP(qPrintable(QStringLiteral("no private PostgreSQL: ") + m_pgProblem));
    if (postgres)
        ProfileState::instance().ConnectionString = m_pg->connectionString("postgres");

    std::unique_ptr<SqliteLockHolder> sqliteLock;
    std::unique_ptr<OdbcConnection> pgLock;
    if (hold && !postgres) {
#ifdef Q_OS_WIN
        QSKIP("the lock is held by the sqlite3 shell, which the Windows build cannot start");
#endif
        sqliteLock = std::make_unique<SqliteLockHolder>(m_dbPath);
        QVERIFY(sqliteLock->holds());
    } else if (hold) {
        pgLock = std::make_unique<OdbcConnection>(m_pg->connectionString("postgres"));
        QSqlDatabase db = pgLock->database();
        QVERIFY(db.transaction());
        QSqlQuery lock(db);
        QVERIFY2(lock.exec(QStringLiteral("LOCK TABLE people IN ACCESS EXCLUSIVE MODE")),
                 qPrintable(lock.lastError().text()));
    }

    const qint64 urut = queue(sql);
    QElapsedTimer waited;
    waited.start();
    tick();
    QVERIFY2(waited.elapsed() < 60000, "the run waited for minutes on a lock");
    QVERIFY(m_service->store().reports(m_company.id).isEmpty());
    QCOMPARE(isDone(urut), !passes);
    QCOMPARE(m_form->courier()->backoffCount(), qint16(passes ? 1 : 0));
    if (!passes)
        return;
    QVERIFY2(m_form->txtRs().startsWith(QStringLiteral("[Error: -2147467259] \r\n")),
             qPrintable(m_form->txtRs()));

    // Runs again after the pause: delivered once the lock is gone.
    if (sqliteLock)
        sqliteLock->release();
    if (pgLock)
        pgLock->database().rollback();
    tickThroughPause();
    const qint64 handedBefore = m_service->server().stats().value(QStringLiteral("handed_out"));
    tick();
    QCOMPARE(m_service->server().stats().value(QStringLiteral("handed_out")), handedBefore + 1);
    if (hold) {
        QVERIFY(isDone(urut));
        QCOMPARE(m_service->store().reports(m_company.id).size(), 1);
    }
}

void TestCourierLoop::failedOpenLeavesNoConnection_data()
{
    QTest::addColumn<QString>("connectionString");
    QTest::newRow("unknown driver") << "DRIVER={No Such Driver};Database=x;";
    QTest::newRow("SQLite, missing file")
        << "DRIVER={SQLite3};Database=/nonexistent/folder/shop.db;NoCreat=1;";
    QTest::newRow("PostgreSQL, nobody listening")
        << QStringLiteral("DRIVER={PostgreSQL Unicode};Server=127.0.0.1;Port=%1;Database=d;"
                          "Uid=u;Pwd=p;")
               .arg(QUrl(deadServiceUrl()).port());
}

void TestCourierLoop::failedOpenLeavesNoConnection()
{
    QFETCH(QString, connectionString);
    const QStringList before = QSqlDatabase::connectionNames();
    for (int i = 0; i < 3; ++i)
        QVERIFY_THROWS_EXCEPTION(DbError, OdbcConnection(connectionString, 2));
    QCOMPARE(QSqlDatabase::connectionNames(), before);
}

void TestCourierLoop::missingSqlAndFileNameAreAskedFor()
{
    // An empty SQL block asks for the SQL; cancelling drops the request for this tick only.
    const qint64 urut = queue(QString(), QString(), QString());
    tick();
    QCOMPARE(m_dialogs->shown.size(), 1);
    QCOMPARE(m_dialogs->shown[0].text, QStringLiteral("Buat SQL String!"));
    QVERIFY(!isDone(urut));
    QVERIFY(m_service->store().reports(m_company.id).isEmpty());

    // Answered: the file name is asked for next; cancelling that goes on without one.
    m_dialogs->inputAnswers = {QStringLiteral("SELECT name FROM people WHERE id = 1")};
    tick();
    QCOMPARE(m_dialogs->shown.size(), 3);
    QCOMPARE(m_dialogs->shown[2].text, QStringLiteral("Tentukan nama file"));
    QVERIFY(isDone(urut));
    const auto reports = m_service->store().reports(m_company.id);
    QCOMPARE(reports.size(), 1);
    QCOMPARE(uploaded(reports[0].id),
             QByteArray(R"({"header":["name"],"data":[{"name":"Ann"}],)"
                        R"("footer":"Query termutakhir pada: 2026-12-07 10:15:00 | Cx7055475"})"));
}

void TestCourierLoop::noTickWhileAnEarlierTickWaits()
{
    const qint64 urut = queue(kSalesSql, QString());
    qint64 requestsBefore = -1, requestsAfter = -1;
    m_dialogs->onInput = [&](const QString&) {
        requestsBefore = apiRequests();
        tick(); // the timer fires while the box of the running tick is open
        tick();
        requestsAfter = apiRequests();
    };
    m_dialogs->inputAnswers = {QStringLiteral("sales_daily")};
    tick();
    QVERIFY(requestsBefore > 0);
    QCOMPARE(requestsAfter, requestsBefore);
    QCOMPARE(m_dialogs->shown.size(), 1);
    QCOMPARE(m_service->store().reports(m_company.id).size(), 1);
    QVERIFY(isDone(urut));
}

void TestCourierLoop::windowRunsWhileReportsRun_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("boxLeftOpen");
    // Counting 4 million rows took the window away for over a second when the run was the
    // window's own work.
    const QString longCount = QStringLiteral("WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT "
                                             "n + 1 FROM c WHERE n < 4000000) SELECT count(*) "
                                             "AS n FROM c");
    QTest::newRow("long query") << longCount << false;
    // An unrelated box nobody closes (a night's "Data berhasil diperbarui"): the queue moves
    // on, and no tick runs inside the code that opened the box.
    QTest::newRow("box left open") << kSalesSql << true;
    QTest::newRow("long query under a box left open") << longCount << true;
}

void TestCourierLoop::windowRunsWhileReportsRun()
{
    QFETCH(QString, sql);
    QFETCH(bool, boxLeftOpen);
    const qint64 urut = queue(sql);
    ReportCourier* courier = m_form->courier();
    QSet<QThread*> statusThreads;
    connect(
        courier, &ReportCourier::status, this,
        [&statusThreads](const QString&) { statusThreads.insert(QThread::currentThread()); },
        Qt::DirectConnection);
    int windowEventsDuringRun = 0;
    QTimer pulse;
    pulse.setInterval(5);
    connect(&pulse, &QTimer::timeout, this, [&] { windowEventsDuringRun += courier->busy(); });
    pulse.start();

    bool doneWhileBoxOpen = false;
    if (boxLeftOpen) {
        m_form->Timer2->setInterval(20);
        m_form->Timer2->start();
        QMessageBox box(QMessageBox::Information, {}, QStringLiteral("Data berhasil diperbarui"));
        QTimer watch;
        watch.setInterval(20);
        QElapsedTimer waited;
        waited.start();
        connect(&watch, &QTimer::timeout, &box, [&] {
            doneWhileBoxOpen = isDone(urut);
            if (doneWhileBoxOpen || waited.elapsed() > 60000)
                box.done(0);
        });
        watch.start();
        box.exec();
        m_form->Timer2->stop();
        QVERIFY(doneWhileBoxOpen);
        QVERIFY(QTest::qWaitFor([courier] { return !courier->busy(); }, 30000));
    } else {
        tick();
    }
    QVERIFY(isDone(urut));
    QCOMPARE(m_service->store().reports(m_company.id).size(), 1);
    QVERIFY(windowEventsDuringRun > 0);
    QVERIFY(!statusThreads.isEmpty());
    QVERIFY(!statusThreads.contains(qApp->thread()));
}

void TestCourierLoop::courierEndsWhileAQuestionWaits()
{
    // No window: nobody answers the request's question, and the agent ends meanwhile.
    auto courier = std::make_unique<ReportCourier>();
    courier->startThread(m_client.url({}));
    QStringList asked;
    connect(courier.get(), &ReportCourier::question, this,
            [&asked](const QString& prompt) { asked << prompt; });
    QVERIFY(courier->requestRun(QString::fromUtf8(requestText("7", "", "t")), {}));
    QVERIFY(QTest::qWaitFor([&asked] { return !asked.isEmpty(); }, 30000));
    QCOMPARE(asked, QStringList{QStringLiteral("Buat SQL String!")});
    QVERIFY(courier->busy());
    QVERIFY(!courier->requestTick({})); // the waiting tick is still the one running
    courier.reset();                    // ends the wait and the thread: must not hang
    QCOMPARE(asked.size(), 1);          // the question unanswered: no run, no further question
}

void TestCourierLoop::textBoxReactions_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("stopError");
    QTest::addColumn<bool>("idleFace");
    QTest::addColumn<bool>("errorBox");
    QTest::addColumn<bool>("registration");
    QTest::newRow("nothing") << "nothing" << true << true << false << false;
    QTest::newRow("NOTHING with an error, box on")
        << "NOTHING; error" << true << true << true << false;
    QTest::newRow("error, box off") << "[Error:-1] x" << false << false << false << false;
    QTest::newRow("error, box on") << "[Error:-1] x" << true << false << true << false;
    QTest::newRow("company name required")
        << "Company Name Is Required" << false << false << false << true;
    QTest::newRow("a reply") << "Report received" << true << false << false << false;
}

void TestCourierLoop::textBoxReactions()
{
    QFETCH(QString, text);
    QFETCH(bool, stopError);
    QFETCH(bool, idleFace);
    QFETCH(bool, errorBox);
    QFETCH(bool, registration);
    QString registeredName;
    m_dialogs->onModal = [&](QWidget* window) {
        if (auto* akun = qobject_cast<FrmAkun*>(window))
            registeredName = akun->TxtCompany->text();
    };
    m_form->Check1->setChecked(stopError);
    m_form->setTxtRs(text);

    QCOMPARE(!m_form->Frame1->isHidden(), idleFace);
    const ScriptedDialogs::Shown* box = m_dialogs->last(QStringLiteral("message"));
    QCOMPARE(box != nullptr, errorBox);
    if (box) {
        QCOMPARE(box->text, text);
        QCOMPARE(box->style, 64);
        QCOMPARE(box->title, QStringLiteral("Stop Error"));
    }
    QCOMPARE(registeredName, registration ? QStringLiteral("NamaUsahaAnda") : QString());
}

void TestCourierLoop::labelFollowsItsText_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("colour");
    QTest::addColumn<bool>("hand");
    QTest::addColumn<bool>("registerHidden");
    QTest::newRow("not connected") << "Tidak terhubung database!"
                                   << "#ff0000" << true << false;
    QTest::newRow("connected") << "Terhubung database."
                               << "#00ff00" << false << false;
    QTest::newRow("connecting") << "Menghubungkan..."
                                << "#ff8000" << false << false;
    QTest::newRow("ready") << "Get ready!"
                           << "palette(highlight)" << false << false;
    QTest::newRow("start-up failure") << "[Err:-2147467259] connect failed"
                                      << "#ff0000" << true << true;
}

void TestCourierLoop::labelFollowsItsText()
{
    QFETCH(QString, caption);
    QFETCH(QString, colour);
    QFETCH(bool, hand);
    QFETCH(bool, registerHidden);
    m_form->ImgRegister->show();
    m_form->Prompting(caption);
    QVERIFY2(m_form->LblResponse->styleSheet().contains(colour),
             qPrintable(m_form->LblResponse->styleSheet()));
    QCOMPARE(m_form->LblResponse->cursor().shape(),
             hand ? m_form->Label4->cursor().shape() : Qt::ArrowCursor);
    QCOMPARE(m_form->ImgRegister->isHidden(), registerHidden);
}

void TestCourierLoop::labelClicks()
{
    m_form->Prompting(QStringLiteral("Error: wrong APIKey"));
    m_form->LblResponse_Click();
    QCOMPARE(m_dialogs->shown.size(), 1);
    QCOMPARE(m_dialogs->shown[0].text,
             QStringLiteral("Edit APIKey is not avalilable in this version"));
    QCOMPARE(m_dialogs->shown[0].style, 16);
    QCOMPARE(m_dialogs->shown[0].title, QStringLiteral("Event Unknown"));

    QString registeredName;
    m_dialogs->onModal = [&](QWidget* window) {
        if (auto* akun = qobject_cast<FrmAkun*>(window))
            registeredName = akun->TxtCompany->text();
    };
    m_form->Prompting(QStringLiteral("Error: company name is required"));
    m_form->LblResponse_Click();
    QCOMPARE(registeredName, QStringLiteral("NamaUsahaAnda"));

    const qsizetype shown = m_dialogs->shown.size();
    m_form->Prompting(QStringLiteral("Sepertinya hubungan ke internet terputus?"));
    m_form->LblResponse_Click();
    QCOMPARE(m_dialogs->shown.size(), shown);
}

void TestCourierLoop::connectionStringRemedy()
{
    const QString newDb = m_dir.filePath(QStringLiteral("other.db"));
    createSqliteDatabase(newDb, {"CREATE TABLE t (a INTEGER)"});
    m_form->Prompting(QStringLiteral("[Err:-2147467259] connect failed"));
    m_dialogs->inputAnswers = {sqliteConnectionString(newDb)};
    m_form->LblResponse_Click();

    const ScriptedDialogs::Shown* input = m_dialogs->last(QStringLiteral("input"));
    QVERIFY(input);
    QCOMPARE(input->text,
             QStringLiteral("Masukkan ConnectionString untuk terhubung ke database anda"));
    QCOMPARE(input->title, QStringLiteral("ConnectionString"));
    QCOMPARE(input->defaultText, m_connStr);
    // Stored on the service, and the reload took it from there.
    QCOMPARE(m_service->store().companyByDevice(kDevice)->connStr, sqliteConnectionString(newDb));
    QCOMPARE(m_service->store().companyByDevice(kDevice)->appHide, 0);
    QCOMPARE(ProfileState::instance().ConnectionString, sqliteConnectionString(newDb));
    QCOMPARE(m_form->LblResponse->text(), QStringLiteral("Terhubung database."));
    QVERIFY(m_form->Timer2->isActive());
}

// Under Wine this suite's process stays alive after the last test has passed (each half of it
// alone ends). The agent itself never waits for that: it leaves through _Exit. So does the
// suite on Windows, with its result.
int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestCourierLoop test;
    QTEST_SET_MAIN_SOURCE_PATH
    const int result = QTest::qExec(&test, argc, argv);
#ifdef Q_OS_WIN
    std::fflush(nullptr);
    TerminateProcess(GetCurrentProcess(), UINT(result));
#endif
    return result;
}
#include "tst_courier_loop.moc"
