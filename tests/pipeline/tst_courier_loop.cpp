// The courier loop on the main window, against the reference service in this process and a real
// SQLite database through ODBC: polls, runs, uploads, flags, and what happens when any of these
// goes wrong.
#include "support/TestSupport.h"

#include "FaultInjector.h"
#include "TallyServer.h"
#include "TallyStore.h"
#include "app/ProfileState.h"
#include "pipeline/ReportFooter.h"
#include "pipeline/ReportRun.h"
#include "pipeline/ReportService.h"
#include "service/HttpTransport.h"
#include "ui/Form1.h"
#include "ui/FrmAkun.h"

#include <QCheckBox>
#include <QDir>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

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

} // namespace

class TestCourierLoop : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
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
    void missingSqlAndFileNameAreAskedFor();
    void noTickWhileAnEarlierTickWaits();
    void textBoxReactions_data();
    void textBoxReactions();
    void labelFollowsItsText_data();
    void labelFollowsItsText();
    void labelClicks();
    void connectionStringRemedy();

private:
    void tick();
    qint64 queue(const QString& sql, const QString& fileName = QStringLiteral("sales_daily"),
                 const QString& title = QStringLiteral("Daily sales"));
    qint64 apiRequests() const;
    bool isDone(qint64 urut) const;
    QStringList spoolFiles() const;

    QTemporaryDir m_dir;
    QString m_connStr;
    std::unique_ptr<DeviceNameGuard> m_device;
    std::unique_ptr<TestService> m_service;
    std::unique_ptr<HookedDialogs> m_dialogs;
    std::unique_ptr<Form1> m_form;
    TallyStore::Company m_company;
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
    HttpTransport::setTimeoutMs(5000);
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
    p.reset();
    p.CompanyName = kCompany;
    p.ApiKey = m_company.apiKey;
    p.Telp = m_company.telp;
    p.ConnectionString = m_connStr;

    m_form = std::make_unique<Form1>();
    m_form->Label7->setText(kCompany);
    m_form->setTxtRs(QStringLiteral("Welcome ") + kCompany +
                     QStringLiteral("...\r\nNothing is impossible ^_^"));

    setBackoffCount(0);
    const QDateTime fixed(QDate(2026, 12, 7), QTime(10, 15, 0));
    setFooterClock([fixed] { return fixed; });
    footerRandom().reset();
}

void TestCourierLoop::cleanup()
{
    m_form.reset();
    if (FrmAkun* akun = FrmAkun::existing())
        delete akun;
    m_dialogs.reset();
    m_service.reset();
    m_device.reset();
    ProfileState::instance().reset();
    setFooterClock({});
}

void TestCourierLoop::tick()
{
    // Through the timer's own signal, so that the window's guard against overlaps applies.
    QVERIFY(QMetaObject::invokeMethod(m_form->Timer2, "timeout", Qt::DirectConnection));
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

void TestCourierLoop::requestRunsEndToEnd()
{
    const qint64 urut = queue(kSalesSql);
    tick();

    const auto reports = m_service->store().reports(m_company.id);
    QCOMPARE(reports.size(), 1);
    QCOMPARE(reports[0].urut, urut);
    QCOMPARE(m_service->store().report(reports[0].id)->document, kWorkedExample);
    QVERIFY(isDone(urut));
    const QStringList lines = m_form->txtRs().split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines[0].contains(QStringLiteral("sales_daily")), qPrintable(lines[0]));
    QCOMPARE(lines[1], QStringLiteral("Response: OK"));
    QVERIFY(m_form->Frame1->isHidden());
    QCOMPARE(m_form->LblResponse->text(), QStringLiteral("Terhubung database"));
    QVERIFY(!ProfileState::instance().DbConnection); // released after a finished run
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
    QCOMPARE(BackoffCount(), 0);
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
    qputenv("TALLYFRAME_SERVICE_URL", url.toUtf8());
    const QString before = m_form->LblResponse->text();
    tick();
    QVERIFY2(m_form->txtRs().startsWith(textStart), qPrintable(m_form->txtRs()));
    QVERIFY(m_form->Frame1->isHidden());
    QCOMPARE(BackoffCount(), qint16(pauses ? 1 : 0));
    QCOMPARE(m_form->LblResponse->text(),
             pauses ? QStringLiteral("Sepertinya hubungan ke internet terputus?") : before);
    // Not a request: nothing asked, nothing run.
    QVERIFY(m_dialogs->shown.isEmpty());
}

void TestCourierLoop::lostConnectionPausesAndCountsDown()
{
    const QString serviceUrl = m_service->baseUrl();
    qputenv("TALLYFRAME_SERVICE_URL", deadServiceUrl().toUtf8());
    tick();
    QCOMPARE(BackoffCount(), qint16(1));
    qputenv("TALLYFRAME_SERVICE_URL", serviceUrl.toUtf8());

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
    QCOMPARE(BackoffCount(), qint16(0));
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
    QCOMPARE(BackoffCount(), qint16(1)); // tried again after a pause, not on every tick
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
    QCOMPARE(m_service->store().report(reports[0].id)->document, expected);
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
    QCOMPARE(BackoffCount(), qint16(0)); // no pause: the queue moves on at the next tick
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
    QCOMPARE(UpdateFlag(qint32(urut), QStringLiteral("0")), result);
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
    m_dialogs->onInput = nullptr;
    m_dialogs->inputAnswers = {QStringLiteral("sales_daily")};
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

    tick(); // the whole request arrives and runs
    QCOMPARE(m_service->store().reports(m_company.id).size(), 1);
    QVERIFY(isDone(urut));
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
    QCOMPARE(m_service->store().report(reports[0].id)->document,
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

QTEST_MAIN(TestCourierLoop)
#include "tst_courier_loop.moc"
