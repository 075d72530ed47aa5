// The main window's life: the start-up option against the reference service, the orderly exit,
// the end of a desktop session, the hidden uninstall and the consent window's first-start flow.
#include "support/CannedHttpServer.h"
#include "support/TestSupport.h"

#include "TallyStore.h"
#include "app/AppControl.h"
#include "app/AutoStart.h"
#include "app/ProfileState.h"
#include "app/SettingsStore.h"
#include "service/HttpTransport.h"
#include "ui/Form1.h"
#include "ui/Form2.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
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

const char kDevice[] = "AA:BB:CC:10:00:01";

} // namespace

class TestLifecycle : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    // The auto-start entry of the platform: the Run value on Windows, the XDG file elsewhere.
#ifdef Q_OS_WIN
    static constexpr char kAppFolder[] = "C:\\Q17";
    static QString runKey(bool machine)
    {
        return QString(machine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER") +
               "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    }
    QByteArray entryText(const QString& base = QStringLiteral("Q17-Tallyframe")) const
    {
        return QSettings(runKey(true), QSettings::NativeFormat).value(base).toString().toUtf8();
    }
    bool entryExists(const QString& base = QStringLiteral("Q17-Tallyframe")) const
    {
        return QSettings(runKey(true), QSettings::NativeFormat).contains(base) ||
               QSettings(runKey(false), QSettings::NativeFormat).contains(base);
    }
    void writeEntry(const QString& base, const QByteArray& text)
    {
        QSettings(runKey(true), QSettings::NativeFormat).setValue(base, QString::fromUtf8(text));
    }
    static QByteArray expectedEntry(const QString& base)
    {
        return "\"C:\\Q17\\" + base.toUtf8() + ".exe\" --auto-start";
    }
    void removeEntries()
    {
        for (const bool machine : {true, false}) {
            QSettings run(runKey(machine), QSettings::NativeFormat);
            for (const char* base : {"Q17-Tallyframe", "Bundle1"})
                run.remove(QLatin1String(base));
        }
    }
#else
    static constexpr char kAppFolder[] = "/opt/q17";
    QString entryPath(const QString& base) const
    {
        return m_dir.filePath("config/autostart/" + base + ".desktop");
    }
    QByteArray entryText(const QString& base = QStringLiteral("Q17-Tallyframe")) const
    {
        QFile file(entryPath(base));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    bool entryExists(const QString& base = QStringLiteral("Q17-Tallyframe")) const
    {
        return QFile::exists(entryPath(base));
    }
    void writeEntry(const QString& base, const QByteArray& text)
    {
        QDir().mkpath(m_dir.filePath("config/autostart"));
        QFile file(entryPath(base));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(text);
    }
    static QByteArray expectedEntry(const QString& base)
    {
        return "Exec=\"/opt/q17/" + base.toUtf8() + "\" --auto-start\n";
    }
    void removeEntries()
    {
        QDir(m_dir.filePath("config")).removeRecursively();
    }
#endif
    // The agent as installed there; a test of another name makes its own.
    const ExeIdentity m_exe{kAppFolder, "Q17-Tallyframe"};
    static QStringList storeKeys()
    {
        return SettingsStore::open()->allKeys();
    }
    static void checkStartupTicks(const Form1& form, int ticked)
    {
        QCOMPARE(form.mnuStartupOpt[0]->isChecked(), ticked == 0);
        QCOMPARE(form.mnuStartupOpt[1]->isChecked(), ticked == 1);
    }

private slots:
    void initTestCase()
    {
        g_previousHandler = qInstallMessageHandler(recordStatus);
        qputenv("TALLYFRAME_HTTP_TIMEOUT_MS", "3000");
        qputenv("XDG_CONFIG_HOME", m_dir.filePath("config").toUtf8());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           m_dir.filePath("settings"));
    }
    void init()
    {
        g_statuses.clear();
        ProfileState::instance() = ProfileState();
        removeEntries();
        SettingsStore::open()->clear();
    }

    // --- start-up option -------------------------------------------------------------------

    void startupOptionIsStoredAndReloads_data()
    {
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("chosen");
        QTest::newRow("shown to tray") << 0 << 1;
        QTest::newRow("tray to shown") << 1 << 0;
        QTest::newRow("the ticked one again") << 0 << 0;
    }
    void startupOptionIsStoredAndReloads()
    {
        QFETCH(int, stored);
        QFETCH(int, chosen);
        TestService service;
        DeviceNameGuard device(kDevice);
        const auto company =
            service.store().createCompany("Toko Startup", kDevice, "0812", {}, stored);
        ScriptedDialogs dialogs;
        ServiceClient client;
        Form1 form(client, dialogs, m_exe);
        ProfileState::instance().ApiKey = company.apiKey;
        ProfileState::instance().AppHide = qint16(stored);
        form.mnuStartupOpt[stored]->setChecked(true);
        g_statuses.clear();

        form.mnuStartupOpt_Click(chosen);

        QCOMPARE(dialogs.messages(), QStringList{"Data berhasil diperbarui"});
        QCOMPARE(dialogs.last("message")->style, 0);
        QCOMPARE(dialogs.last("message")->title, QString("Edit ConnectionString"));
        QCOMPARE(service.store().companyByDevice(kDevice)->appHide, chosen);
        // The profile was reloaded: only the start-up sequence sets the mode from the service.
        QCOMPARE(ProfileState::instance().AppHide, qint16(chosen));
        QVERIFY(g_statuses.contains("Mencari informasi keamanan hubungan..."));
        QCOMPARE(form.mnuAPIKey->text(), "APIKey : " + company.apiKey);
        checkStartupTicks(form, chosen);
        // On tray the window is hidden; where there is no notification area it stays in reach.
        if (chosen == 1)
            QVERIFY(!form.isVisible() || form.isMinimized());
        else
            QVERIFY(form.isVisible() && !form.isMinimized());
    }

    void failureEnvelopeKeepsTheNewTick()
    {
        TestService service;
        DeviceNameGuard device(kDevice);
        const auto company = service.store().createCompany("Toko Gagal", kDevice, {}, {}, 0);
        FaultConfig faults;
        faults.rate = 1.0;
        faults.kinds = {"500"};
        QVERIFY(service.server().setFaults(faults));
        ScriptedDialogs dialogs;
        ServiceClient client;
        Form1 form(client, dialogs, m_exe);
        ProfileState::instance().ApiKey = company.apiKey;
        form.mnuStartupOpt[0]->setChecked(true);

        form.mnuStartupOpt_Click(1);

        QCOMPARE(dialogs.messages(), QStringList{"Failed to connect to API."});
        QCOMPARE(dialogs.last("message")->style, 16);
        QCOMPARE(dialogs.last("message")->title, QString("Edit ConnectionString"));
        checkStartupTicks(form, 1); // although the service did not store it
        QCOMPARE(service.store().companyByDevice(kDevice)->appHide, 0);
        QVERIFY(!g_statuses.contains("Mencari informasi keamanan hubungan...")); // no reload
        QCOMPARE(dialogs.endApps, 0);
    }

    void startupOptionAnswers_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("style");
        QTest::addColumn<QString>("apiKey");
        QTest::addColumn<bool>("reloads");
        QTest::newRow("error") << QByteArray(R"({"status":"error","message":"APIKey tidak valid"})")
                               << "APIKey tidak valid" << 16 << "old-key" << false;
        QTest::newRow("no message, new key")
            << QByteArray(R"({"status":"ERROR","api_key":"new-key"})") << "" << 16 << "new-key"
            << false;
        QTest::newRow("Success is not success")
            << QByteArray(R"({"status":"Success","message":"ok"})") << "ok" << 0 << "old-key"
            << false;
        QTest::newRow("success") << QByteArray(R"({"status":"success","message":"Tersimpan"})")
                                 << "Tersimpan" << 0 << "" << true;
        // The words are looked for after the final `"}` is cut off, as in the connection window.
        QTest::newRow("success as the last value is no success")
            << QByteArray(R"({"message":"Tersimpan","status":"success"})") << "Tersimpan" << 0
            << "old-key" << false;
    }
    void startupOptionAnswers()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QString, text);
        QFETCH(int, style);
        QFETCH(QString, apiKey);
        QFETCH(bool, reloads);
        CannedHttpServer http;
        http.routes["/api/edit_company.php"] = {200, answer};
        http.routes["/api/get_app_hide.php"] = {200, "0"};
        qputenv("TALLYFRAME_SERVICE_URL", http.baseUrl().toUtf8());
        DeviceNameGuard device(kDevice);
        ScriptedDialogs dialogs;
        ServiceClient client;
        Form1 form(client, dialogs, m_exe);
        ProfileState::instance().ApiKey = "old-key";

        form.mnuStartupOpt_Click(1);

        QVERIFY(!http.requestBodies.isEmpty());
        QCOMPARE(http.requestBodies.first(),
                 QByteArray("APIKey=old%2Dkey&DeviceName=AA%3ABB%3ACC%3A10%3A00%3A01&AppHide=1"));
        QCOMPARE(dialogs.messages().value(0), text);
        QCOMPARE(dialogs.shown.first().style, style);
        QCOMPARE(http.requestLines.size() > 1, reloads);
        if (!reloads) {
            QCOMPARE(ProfileState::instance().ApiKey, apiKey);
            // The key in the menu changes only with a reload.
            QCOMPARE(form.mnuAPIKey->text(), QString("APIKey:"));
        }
        qunsetenv("TALLYFRAME_SERVICE_URL");
    }

    void startupOptionWithoutAnswerKeepsRunning()
    {
        CannedHttpServer http;
        http.mode = CannedHttpServer::Mode::CloseAtOnce;
        qputenv("TALLYFRAME_SERVICE_URL", http.baseUrl().toUtf8());
        ScriptedDialogs dialogs;
        ServiceClient client;
        Form1 form(client, dialogs, m_exe);
        form.mnuStartupOpt[0]->setChecked(true); // the service holds "Show"
        form.mnuStartupOpt[1]->trigger();        // ticks itself, as a click on the menu does
        qunsetenv("TALLYFRAME_SERVICE_URL");
        QCOMPARE(dialogs.messages().size(), 1);
        QVERIFY(!dialogs.messages().first().isEmpty());
        QCOMPARE(dialogs.last("message")->style, 16);
        // Nothing reached the service: the ticks show the mode it still holds.
        checkStartupTicks(form, 0);
        QCOMPARE(dialogs.endApps, 0);
    }

    // --- orderly exit --------------------------------------------------------------------

    void shutDownShowsItsTextsAndEndsOneTickLater()
    {
        ScriptedDialogs dialogs;
        ServiceClient client;
        Form1 form(client, dialogs, m_exe);
        form.hide(); // as when running in the tray
        form.mnuExit_Click();

        QCOMPARE(g_statuses, (QStringList{"Shutting down... Please wait...", "Terminating..."}));
        QCOMPARE(form.LblResponse->text(), QString("Terminating..."));
        QVERIFY(form.isVisible());
        QVERIFY(form.TmrExit->isActive());
        QCOMPARE(form.TmrExit->interval(), 1000);
        QCOMPARE(dialogs.endApps, 0); // not at once
        QVERIFY(dialogs.shown.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(dialogs.endApps, 1, 5000);
        QVERIFY(!form.TmrExit->isActive());
    }

    void closeRequestRunsTheOrderlyExit()
    {
        ScriptedDialogs dialogs;
        ServiceClient client;
        Form1 form(client, dialogs, m_exe);
        form.show();
        QVERIFY(!form.close()); // refused: the window stays until the exit timer ends it
        QVERIFY(form.isVisible());
        QCOMPARE(g_statuses, (QStringList{"Shutting down... Please wait...", "Terminating..."}));
        QVERIFY(form.TmrExit->isActive());
    }

    void shutDownWritesAutoStartUnlessBundle_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<bool>("entryBefore");
        QTest::addColumn<bool>("rewritten");
        QTest::newRow("agent, no entry") << "Q17-Tallyframe" << false << true;
        QTest::newRow("agent, stale entry") << "Q17-Tallyframe" << true << true;
        QTest::newRow("Bundle1, no entry") << "Bundle1" << false << false;
        QTest::newRow("Bundle1, entry") << "Bundle1" << true << false;
        QTest::newRow("bundle1 is not Bundle1") << "bundle1" << false << true;
    }
    void shutDownWritesAutoStartUnlessBundle()
    {
        QFETCH(QString, base);
        QFETCH(bool, entryBefore);
        QFETCH(bool, rewritten);
        const ExeIdentity exe{kAppFolder, base};
        const QByteArray stale = "[Desktop Entry]\nExec=/old/place --auto-start\n";
        if (entryBefore)
            writeEntry(base, stale);
        ScriptedDialogs dialogs;
        ServiceClient client;
        Form1 form(client, dialogs, exe);
        form.ShutDown();

        const bool exists = entryExists(base);
        const QByteArray content = entryText(base);
        if (rewritten) {
            QVERIFY2(content.contains(expectedEntry(base)), content.constData());
        } else {
            QCOMPARE(exists, entryBefore);
            if (entryBefore)
                QCOMPARE(content, stale);
        }
    }

    void sessionEndRunsTheExitOnceAndDoesNotWait()
    {
        ScriptedDialogs dialogs;
        ServiceClient client;
        Form1 form(client, dialogs, m_exe);
        form.hide();
        form.watchSessionEnd();
        QVERIFY(QMetaObject::invokeMethod(qApp, "aboutToQuit", Qt::DirectConnection));
        QVERIFY(QMetaObject::invokeMethod(qApp, "aboutToQuit", Qt::DirectConnection));
        QCOMPARE(g_statuses, (QStringList{"Shutting down... Please wait...", "Terminating..."}));
        QVERIFY(dialogs.shown.isEmpty()); // nothing asks the user while the session ends
        QVERIFY(entryExists());
        QVERIFY(form.TmrExit->isActive());
    }

    // --- hidden uninstall ----------------------------------------------------------------

    void uninstallNeedsTheRightButtonAndYes_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<bool>("yes");
        QTest::addColumn<int>("boxes");
        QTest::newRow("left") << int(Qt::LeftButton) << true << 0;
        QTest::newRow("middle") << int(Qt::MiddleButton) << true << 0;
        QTest::newRow("right, No") << int(Qt::RightButton) << false << 1;
    }
    void uninstallNeedsTheRightButtonAndYes()
    {
        QFETCH(int, button);
        QFETCH(bool, yes);
        QFETCH(int, boxes);
        qint32 error = 0;
        SetAutoStart(true, error, m_exe);
        SettingsStore::open()->setValue("Sekuritas/APIKey", "k");
        ScriptedDialogs dialogs;
        dialogs.yesNoAnswers = {yes};
        ServiceClient client;
        Form1 form(client, dialogs, m_exe);
        form.Label7_MouseUp(Qt::MouseButton(button));

        QCOMPARE(dialogs.shown.size(), boxes);
        if (boxes == 1) {
            const auto& ask = dialogs.shown.first();
            QCOMPARE(ask.kind, QString("yesno"));
            QCOMPARE(ask.text, QString("Ya. Ini tombol yang anda temukan untuk uninstall "
                                       "Aplikasi? Sungguh anda akan melanjutkannya?"));
            QCOMPARE(ask.style, 0);
            QCOMPARE(ask.title, QString("Uninstall Aplikasi"));
        }
        QVERIFY(entryExists());
        QCOMPARE(storeKeys(), QStringList{"Sekuritas/APIKey"});
        QCOMPARE(dialogs.endApps, 0);
    }

    void uninstallClearsKeysAndEntryAndEnds_data()
    {
        QTest::addColumn<bool>("leftovers");
        QTest::newRow("keys and entry there") << true;
        QTest::newRow("nothing there") << false;
    }
    void uninstallClearsKeysAndEntryAndEnds()
    {
        QFETCH(bool, leftovers);
        if (leftovers) {
            qint32 error = 0;
            SetAutoStart(true, error, m_exe);
            const auto store = SettingsStore::open();
            store->setValue("Sekuritas/APIKey", "k");
            store->setValue("Identitas/Nama", "Toko");
            store->setValue("Identitas/Telp", "0812");
            store->setValue("Aplikasi/Hide", "1");
            // The update's memory goes too: a reinstalled agent may fetch any build again.
            store->setValue("Aplikasi/UpdateInstalled", "2024-03-05 14:07:09");
            store->setValue("Aplikasi/UpdateRefused", "2024-03-06 09:00:00");
        }
        // A key that is not one of the four stays.
        SettingsStore::open()->setValue("Aplikasi/Lain", "x");
        ScriptedDialogs dialogs;
        dialogs.yesNoAnswers = {true};
        ServiceClient client;
        Form1 form(client, dialogs, m_exe);
        form.Label7_MouseUp(Qt::RightButton);

        QCOMPARE(dialogs.shown.size(), 4);
        QCOMPARE(dialogs.messages(),
                 (QStringList{"Membersihkan registry", "Membuang startup aplikasi",
                              "Aplikasi telah berhasil dilepas dari perangkat. Silakan jalankan "
                              "lagi aplikasi jika anda ingin melakukan instalasi ulang."}));
        const QStringList titles = {dialogs.shown[1].title, dialogs.shown[2].title,
                                    dialogs.shown[3].title};
        QCOMPARE(titles,
                 (QStringList{"Uninstalling...", "Uninstalling...", "Q17 says goodbye to you..."}));
        for (int i = 1; i < 4; ++i)
            QCOMPARE(dialogs.shown[i].style, 64);
        QCOMPARE(storeKeys(), QStringList{"Aplikasi/Lain"});
        QVERIFY(!entryExists());
        QVERIFY(!AutoStartEntryExists(m_exe));
        QCOMPARE(dialogs.endApps, 1);
        QVERIFY(!form.TmrExit->isActive()); // the orderly exit is not run
    }

    // --- consent window ------------------------------------------------------------------

    void consentWindowTexts()
    {
        qputenv("TALLYFRAME_SERVICE_URL", "http://127.0.0.1:8123");
        ScriptedDialogs dialogs;
        ServiceClient client;
        Form1 owner(client, dialogs, m_exe);
        Form2 consent(client.hostDisplay(), dialogs, &owner);
        qunsetenv("TALLYFRAME_SERVICE_URL");
        QCOMPARE(consent.windowTitle(), QString("Izin menjalankan aplikasi"));
        QCOMPARE(consent.windowIcon().cacheKey(), owner.windowIcon().cacheKey());
        QVERIFY(!(consent.windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(consent.windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(consent.Label3->text().contains(
            "Alamat host tersebut adalah 127.0.0.1:8123 (kecuali atas perjanjian"));
        QCOMPARE(consent.Label7->text(), QString("Q17 Tallyframe"));
        QCOMPARE(consent.Command2->text(), QString("Batal"));
        QCOMPARE(consent.Command1->text(), QString("Saya mengerti"));

        // Every paragraph is wrapped inside the window and shown whole, with nothing overlapping.
        consent.show();
        QVERIFY(QTest::qWaitForWindowExposed(&consent));
        QWidget* previous = nullptr;
        for (QWidget* w : std::initializer_list<QWidget*>{
                 consent.Label6, consent.Label1, consent.Label2, consent.Label3, consent.Label4,
                 consent.Label5, consent.Label7, consent.Command1}) {
            QVERIFY(consent.rect().contains(w->geometry()));
            if (auto* label = qobject_cast<QLabel*>(w)) {
                QVERIFY(label->wordWrap());
                QVERIFY2(label->height() >= label->heightForWidth(label->width()),
                         qPrintable(label->text()));
            }
            if (previous)
                QVERIFY(previous->geometry().bottom() < w->geometry().top());
            previous = w;
        }
        QVERIFY(consent.Command2->geometry().right() < consent.Command1->geometry().left());
    }

    void consentAtFirstStart_data()
    {
        QTest::addColumn<bool>("entryBefore");
        QTest::addColumn<QString>("click"); // "accept", "cancel", "close"
        QTest::addColumn<bool>("shown");
        QTest::addColumn<bool>("entryAfter");
        QTest::addColumn<int>("endApps");
        QTest::newRow("first start, Saya mengerti") << false << "accept" << true << true << 0;
        QTest::newRow("first start, Batal") << false << "cancel" << true << false << 1;
        QTest::newRow("first start, close box") << false << "close" << true << false << 0;
        QTest::newRow("entry exists") << true << "accept" << false << true << 0;
    }
    void consentAtFirstStart()
    {
        QFETCH(bool, entryBefore);
        QFETCH(QString, click);
        QFETCH(bool, shown);
        QFETCH(bool, entryAfter);
        QFETCH(int, endApps);
        qint32 error = 0;
        if (entryBefore)
            SetAutoStart(true, error, m_exe);
        ScriptedDialogs dialogs;
        bool visibleAfter = true;
        int result = -1;
        dialogs.onModal = [&](QWidget* window) {
            auto* consent = qobject_cast<Form2*>(window);
            QVERIFY(consent);
            consent->show();
            if (click == "accept")
                consent->Command1->click();
            else if (click == "cancel")
                consent->Command2->click();
            else
                consent->close();
            visibleAfter = consent->isVisible();
            result = consent->result();
        };
        ServiceClient client;
        Form1 form(client, dialogs, m_exe);
        Form2::showAtFirstStart(client.hostDisplay(), dialogs, &form, m_exe);

        QCOMPARE(dialogs.shown.size(), shown ? 1 : 0);
        if (shown) {
            QCOMPARE(dialogs.shown.first().text, QString("Izin menjalankan aplikasi"));
            QVERIFY(!visibleAfter);
            QCOMPARE(result, click == "accept" ? int(QDialog::Accepted) : int(QDialog::Rejected));
        }
        QCOMPARE(entryExists(), entryAfter);
        QCOMPARE(dialogs.endApps, endApps);
    }
};

QTEST_MAIN(TestLifecycle)
#include "tst_lifecycle.moc"
