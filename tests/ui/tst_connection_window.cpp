// The connection window: loading the stored string, testing candidate strings on real SQLite
// ODBC connections, and saving through the service with its different answers.
#include "UiTestHelpers.h"
#include "support/TestSupport.h"

#include "TallyStore.h"
#include "app/ProfileState.h"
#include "app/SettingsStore.h"
#include "pipeline/OwnerGuard.h"
#include "ui/Form1.h"
#include "ui/FrmConn.h"

#include <QAction>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

const QString kDevice = QStringLiteral("00:1A:2B:3C:4D:5E");

enum class Service
{
    Reference,
    NotFoundPath, // the reference service under a path it does not serve: every answer 404
    Refusing      // nothing listens
};

struct Opened
{
    bool shown = false;
    QString title;
    QString loadedText;
    qint64 iconKey = 0;
    bool visibleAfter = false;
    QString textAfter;
};

} // namespace

Q_DECLARE_METATYPE(Service)

class TestConnectionWindow : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_db;
    std::unique_ptr<TestService> m_service;
    std::unique_ptr<DeviceNameGuard> m_device;
    std::unique_ptr<ScriptedDialogs> m_dialogs;
    ServiceClient m_client; // the window's, of the service the test started
    std::unique_ptr<Form1> m_form;

    TallyStore& store() { return m_service->store(); }

    // Opens the window from its menu item; `act` runs on the shown window.
    Opened open(const std::function<void(FrmConn*)>& act = {})
    {
        Opened result;
        m_dialogs->onModal = [&](QWidget* w) {
            auto* f = qobject_cast<FrmConn*>(w);
            if (!f)
                return;
            result.shown = true;
            result.title = f->windowTitle();
            result.loadedText = f->connectionString();
            result.iconKey = f->windowIcon().cacheKey();
            f->show();
            if (act)
                act(f);
            result.visibleAfter = f->isVisible();
            result.textAfter = f->connectionString();
        };
        m_form->mnuKoneksi->trigger();
        m_dialogs->onModal = nullptr;
        return result;
    }

    static std::function<void(FrmConn*)> typeAndClick(const QString& text, bool save)
    {
        return [text, save](FrmConn* f) {
            f->TxtConnStr->setPlainText(text);
            QTest::mouseClick(save ? f->Command1 : f->Command2, Qt::LeftButton);
        };
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // The window keeps the owner's guard in the settings store: a store of this test's own.
        qputenv("XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral("config")).toUtf8());
        qputenv("TALLYFRAME_MARKER_FILE", m_dir.filePath(QStringLiteral("marker")).toUtf8());
        m_db = m_dir.filePath(QStringLiteral("toko.db"));
        createSqliteDatabase(m_db, {QStringLiteral("CREATE TABLE barang (kode TEXT)")});
    }

    void init()
    {
        ProfileState::instance() = ProfileState();
        m_service = std::make_unique<TestService>();
        m_device = std::make_unique<DeviceNameGuard>(kDevice);
        m_dialogs = std::make_unique<ScriptedDialogs>();
        m_client = ServiceClient();
        m_form = std::make_unique<Form1>(m_client, *m_dialogs);
    }

    void cleanup()
    {
        m_form.reset();
        m_dialogs.reset();
        m_device.reset();
        m_service.reset();
        ProfileState::instance() = ProfileState();
    }

    void templateBeforeLoading()
    {
        const FrmConn window(m_client, *m_dialogs);
        const QString text = window.connectionString();
        QCOMPARE(text.size(), 122);
        QCOMPARE(text, QStringLiteral("DRIVER={Engine};SERVER={IPAddress};DATABASE={NamaDatabase};"
                                      "UID={UserID};PASSWORD={Password};PORT={Port}\r\n"
                                      ";OPTION=;STMT=;\r\n"));
    }

    void loadShowsTheServiceAnswer_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("rightKey");
        QTest::addColumn<QString>("shown");

        QTest::newRow("stored string") << "DRIVER={SQLite3};Database=/data/toko.db;" << true
                                       << "DRIVER={SQLite3};Database=/data/toko.db;";
        QTest::newRow("line breaks kept")
            << "DRIVER={SQLite3};\r\nDatabase=/data/toko.db;\r\n"
            << true << "DRIVER={SQLite3};\r\nDatabase=/data/toko.db;\r\n";
        QTest::newRow("nothing stored empties the box") << "" << true << "";
        QTest::newRow("an error text is shown as it came")
            << "DRIVER={SQLite3};" << false << "Error: APIKey tidak valid";
    }

    void loadShowsTheServiceAnswer()
    {
        QFETCH(QString, stored);
        QFETCH(bool, rightKey);
        const auto company = store().createCompany(QStringLiteral("Toko"), kDevice, {}, stored);
        ProfileState::instance().ApiKey = rightKey ? company.apiKey : QStringLiteral("KEY-WRONG");

        const Opened opened = open();

        QVERIFY(opened.shown);
        QCOMPARE(opened.title, QStringLiteral("Koneksi Database"));
        QCOMPARE(opened.iconKey, m_form->windowIcon().cacheKey());
        if (rightKey)
            QTEST(opened.loadedText, "shown");
        else
            QVERIFY2(opened.loadedText.startsWith(QLatin1String("Error")),
                     qPrintable(opened.loadedText));
        QVERIFY(m_dialogs->messages().isEmpty());
    }

    // An empty box shows, greyed, the forms of a connection string that the README gives as
    // working; the box itself stays as empty as the service's answer.
    void emptyBoxShowsTheWorkingForms()
    {
        const auto company = store().createCompany(QStringLiteral("Toko"), kDevice, {}, {});
        ProfileState::instance().ApiKey = company.apiKey;
        QString placeholder;
        const Opened opened =
            open([&placeholder](FrmConn* f) { placeholder = f->TxtConnStr->placeholderText(); });
        QVERIFY(opened.shown);
        QCOMPARE(opened.loadedText, QString());
        QFile readme(qEnvironmentVariable("TALLYFRAME_SOURCE_DIR") + QStringLiteral("/README.md"));
        QVERIFY(readme.open(QIODevice::ReadOnly));
        const QString documented = QString::fromUtf8(readme.readAll());
        const QStringList forms = placeholder.split(QLatin1Char('\n'));
        QCOMPARE(forms.size(), 2);
        QVERIFY(forms[0].startsWith(QLatin1String("DRIVER={SQLite3};")));
        QVERIFY(forms[1].startsWith(QLatin1String("DRIVER={PostgreSQL Unicode};")));
        for (const QString& form : forms)
            QVERIFY2(documented.contains(QLatin1Char('\n') + form + QLatin1Char('\n')),
                     qPrintable(form));
    }

    // Enter presses the focused button; where no button has the focus it tests, which changes
    // nothing (a save would also reset the start-up mode).
    void enterPressesAButton_data()
    {
        QTest::addColumn<int>("target"); // 0 Test, 1 Simpan, 2 the window, 3 a guard limit
        QTest::addColumn<QString>("title");
        QTest::newRow("on Test") << 0 << "Test Koneksi Error: -2147467259";
        QTest::newRow("on Simpan") << 1 << "Edit ConnectionString";
        QTest::newRow("elsewhere") << 2 << "Test Koneksi Error: -2147467259";
        QTest::newRow("after typing a limit") << 3 << "Test Koneksi Error: -2147467259";
    }
    void enterPressesAButton()
    {
        QFETCH(int, target);
        QFETCH(QString, title);
        const auto company = store().createCompany(QStringLiteral("Toko"), kDevice, {}, {});
        ProfileState::instance().ApiKey = company.apiKey;
        open([target](FrmConn* f) {
            f->TxtConnStr->setPlainText(QStringLiteral("DRIVER={Tallyframe No Such Driver};"));
            QWidget* const widgets[] = {f->Command2, f->Command1, f, f->TxtTimeLimit};
            if (target == 3)
                f->ChkReadOnly->setChecked(true); // the limits are editable with the guard on
            widgets[target]->setFocus();
            QTest::keyClick(widgets[target], Qt::Key_Return);
        });
        QCOMPARE(m_dialogs->messages().size(), 1);
        QCOMPARE(m_dialogs->last(QStringLiteral("message"))->title, title);
        if (target == 3) {
            open([](FrmConn* f) { f->ChkReadOnly->setChecked(false); });
            m_dialogs->shown.clear();
        }
    }

    // The menu item clicked again while the window is open brings that window forward.
    void oneWindowAtATime()
    {
        int shown = 0;
        m_dialogs->onModal = [&](QWidget* w) {
            if (qobject_cast<FrmConn*>(w) && ++shown == 1)
                m_form->mnuKoneksi->trigger();
        };
        m_form->mnuKoneksi->trigger();
        m_dialogs->onModal = nullptr;
        QCOMPARE(shown, 1);
        // Loaded afresh at each opening: nothing of the closed one is left.
        QVERIFY(!m_form->findChild<FrmConn*>());
        m_form->mnuKoneksi->trigger();
        QCOMPARE(std::count_if(m_dialogs->shown.cbegin(), m_dialogs->shown.cend(),
                               [](const auto& box) { return box.kind == QLatin1String("modal"); }),
                 2);
    }

    void loadWithoutServiceTellsWhy()
    {
        const ServiceSwap down(m_client, refusingServiceUrl());

        const Opened opened = open();

        QVERIFY(!opened.shown);
        QCOMPARE(m_dialogs->messages().size(), 1);
        const auto* box = m_dialogs->last(QStringLiteral("message"));
        QVERIFY(box->text.startsWith(QLatin1String("The system cannot locate the resource")));
        QCOMPARE(box->style, 16);
    }

    void testOpensAThrowAwayConnection_data()
    {
        QTest::addColumn<QString>("connStr");
        QTest::addColumn<bool>("opens");

        QTest::newRow("sqlite file") << QStringLiteral("DRIVER={SQLite3};Database=%DB%;") << true;
        QTest::newRow("sqlite with the template's line breaks")
            << QStringLiteral("DRIVER={SQLite3};Database=%DB%\r\n;OPTION=;STMT=;\r\n") << true;
        QTest::newRow("driver not installed")
            << QStringLiteral("DRIVER={Tallyframe No Such Driver};Database=%DB%;") << false;
        QTest::newRow("folder missing")
            << QStringLiteral("DRIVER={SQLite3};Database=/nonexistent-folder/x/toko.db;") << false;
        QTest::newRow("template unchanged") << FrmConn::kTemplate << false;
        QTest::newRow("driver by path") << QStringLiteral("DRIVER=%LIB%;Database=%DB%;") << false;
        QTest::newRow("SQLite's LoadExt")
            << QStringLiteral("DRIVER={SQLite3};Database=%DB%;LoadExt=%LIB%;") << false;
    }

    void testOpensAThrowAwayConnection()
    {
        QFETCH(QString, connStr);
        QFETCH(bool, opens);
        connStr.replace(QLatin1String("%DB%"), hostPath(m_db));
        connStr.replace(QLatin1String("%LIB%"), QStringLiteral(TALLYFRAME_MARKER_LIBRARY));
        const auto company = store().createCompany(QStringLiteral("Toko"), kDevice, {}, {});
        ProfileState::instance().ApiKey = company.apiKey;
        QElapsedTimer clock;
        clock.start();

        const Opened opened = open(typeAndClick(connStr, false));

        QVERIFY(clock.elapsed() < FrmConn::kTestLoginTimeoutSeconds * 1000);
        QCOMPARE(m_dialogs->messages().size(), 1);
        const auto* box = m_dialogs->last(QStringLiteral("message"));
        if (opens) {
            QCOMPARE(box->text, QStringLiteral("Connected!"));
            QCOMPARE(box->style, 64);
            QCOMPARE(box->title, QStringLiteral("Test Koneksi"));
        } else {
            QVERIFY(!box->text.isEmpty());
            QVERIFY(box->text != QLatin1String("Connected!"));
            QCOMPARE(box->style, 16);
            QCOMPARE(box->title, QStringLiteral("Test Koneksi Error: -2147467259"));
        }
        // The test changes nothing: window, text and profile stay as they were.
        QVERIFY(opened.visibleAfter);
        QCOMPARE(opened.textAfter, connStr);
        QVERIFY(!ProfileState::instance().DbConnection);
        QCOMPARE(store().companyByDevice(kDevice)->connStr, QString());
        if (connStr.contains(QLatin1String(TALLYFRAME_MARKER_LIBRARY))) {
            QVERIFY2(box->text.startsWith(QLatin1String("Koneksi ditolak: ")),
                     qPrintable(box->text));
            QVERIFY2(!QFile::exists(m_dir.filePath(QStringLiteral("marker"))),
                     "the library was loaded");
        }
    }

    // The start-up refuses a driver by path before loading it, and says so in the status line.
    void startupRefusesADriverByPath()
    {
        const QString lib = QStringLiteral(TALLYFRAME_MARKER_LIBRARY);
        store().createCompany(QStringLiteral("Toko"), kDevice, {},
                              QStringLiteral("DRIVER=") + lib + QStringLiteral(";"));

        m_form->Tampil();

        const QString status = m_form->LblResponse->text();
        QVERIFY2(status.startsWith(QLatin1String("[Err:-2147467259] Koneksi ditolak: DRIVER")),
                 qPrintable(status));
        QVERIFY(status.contains(lib));
        QVERIFY(!m_form->Timer2->isActive());
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("marker"))));
    }

    // The owner's guard: off with its defaults until the owner changes it in the window, kept
    // on this PC at once and shown again at the next opening.
    void guardIsTheOwnersAndStaysLocal()
    {
        SettingsStore::clearAll();
        const auto company = store().createCompany(QStringLiteral("Toko"), kDevice, {}, {});
        ProfileState::instance().ApiKey = company.apiKey;

        const Opened first = open([](FrmConn* f) {
            QVERIFY(!f->ChkReadOnly->isChecked());
            QCOMPARE(f->TxtTimeLimit->value(), 300);
            QCOMPARE(f->TxtRowLimit->value(), 1000000);
            QVERIFY(!f->TxtTimeLimit->isEnabled() && !f->TxtRowLimit->isEnabled());
            QVERIFY(f->LblGuard->text().contains(QLatin1String("SELECT atau WITH")));
            QVERIFY(
                f->LblGuard->text().contains(QLatin1String("tidak pernah diubah oleh layanan")));
            f->ChkReadOnly->setChecked(true);
            QVERIFY(f->TxtTimeLimit->isEnabled() && f->TxtRowLimit->isEnabled());
            f->TxtTimeLimit->setValue(45);
            f->TxtRowLimit->setValue(5000);
        });
        QVERIFY(first.shown);
        OwnerGuard stored = OwnerGuard::Load(*SettingsStore::open());
        QCOMPARE(stored.readOnly, true);
        QCOMPARE(stored.timeLimitSeconds, 45);
        QCOMPARE(stored.rowLimit, qint64(5000));

        open([](FrmConn* f) {
            QVERIFY(f->ChkReadOnly->isChecked());
            QCOMPARE(f->TxtTimeLimit->value(), 45);
            QCOMPARE(f->TxtRowLimit->value(), 5000);
            f->ChkReadOnly->setChecked(false);
        });
        QCOMPARE(OwnerGuard::Load(*SettingsStore::open()).readOnly, false);
        // The uninstall clears the guard with the other local settings.
        stored.readOnly = true;
        stored.save(*SettingsStore::open());
        SettingsStore::clearAll();
        QVERIFY(SettingsStore::open()->allKeys().isEmpty());
    }

    void saveWithTheService_data()
    {
        QTest::addColumn<Service>("service");
        QTest::addColumn<bool>("rightKey");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("style");
        QTest::addColumn<bool>("closes");
        QTest::addColumn<QString>("stored");

        const QString old = QStringLiteral("DRIVER={SQLite3};Database=/old/toko.db;");
        const QString fresh = QStringLiteral("DRIVER={SQLite3};Database=%DB%;");
        QTest::newRow("success") << Service::Reference << true << fresh
                                 << "Data berhasil diperbarui" << 0 << true << fresh;
        QTest::newRow("line breaks reach the service")
            << Service::Reference << true << fresh + QStringLiteral("\r\n;OPTION=;STMT=;\r\n")
            << "Data berhasil diperbarui" << 0 << true
            << fresh + QStringLiteral("\r\n;OPTION=;STMT=;\r\n");
        QTest::newRow("empty box leaves the stored string")
            << Service::Reference << true << ""
            << "Data berhasil diperbarui" << 0 << true << old;
        QTest::newRow("refused: wrong key")
            << Service::Reference << false << fresh << "APIKey tidak valid" << 16 << false << old;
        QTest::newRow("status 404") << Service::NotFoundPath << true << fresh
                                    << "Failed to connect to API." << 16 << false << old;
        QTest::newRow("no service")
            << Service::Refusing << true << fresh
            << "The system cannot locate the resource specified." << 16 << false << old;
    }

    void saveWithTheService()
    {
        QFETCH(Service, service);
        QFETCH(bool, rightKey);
        QFETCH(QString, text);
        QFETCH(QString, message);
        QFETCH(bool, closes);
        QFETCH(QString, stored);
        text.replace(QLatin1String("%DB%"), hostPath(m_db));
        stored.replace(QLatin1String("%DB%"), hostPath(m_db));
        const auto company =
            store().createCompany(QStringLiteral("Toko"), kDevice, QStringLiteral("0811"),
                                  QStringLiteral("DRIVER={SQLite3};Database=/old/toko.db;"), 1);
        ProfileState::instance().ApiKey = rightKey ? company.apiKey : QStringLiteral("KEY-WRONG");

        Opened opened;
        {
            std::unique_ptr<ServiceSwap> url;
            opened = open([&](FrmConn* f) {
                if (service == Service::NotFoundPath)
                    url = std::make_unique<ServiceSwap>(m_client, m_service->baseUrl() +
                                                                      QStringLiteral("/elsewhere"));
                else if (service == Service::Refusing)
                    url = std::make_unique<ServiceSwap>(m_client, refusingServiceUrl());
                typeAndClick(text, true)(f);
            });
        }

        QCOMPARE(m_dialogs->messages().size(), 1);
        const auto* box = m_dialogs->last(QStringLiteral("message"));
        QVERIFY2(box->text.startsWith(message), qPrintable(box->text));
        QTEST(box->style, "style");
        QCOMPARE(box->title, QStringLiteral("Edit ConnectionString"));
        QCOMPARE(opened.visibleAfter, !closes);
        QCOMPARE(opened.textAfter, text);

        const auto after = store().companyByDevice(kDevice);
        QCOMPARE(after->connStr, stored);
        // A save always sends the hide flag 0; a refused or lost one changes nothing.
        QCOMPARE(after->appHide, closes ? 0 : 1);
        if (closes) {
            // The reload ran with the saved string and opened the database with it.
            QCOMPARE(ProfileState::instance().ConnectionString, stored);
            QCOMPARE(m_form->Timer2->isActive(), stored == text && !text.isEmpty());
        } else {
            QVERIFY(!m_form->Timer2->isActive());
            QCOMPARE(ProfileState::instance().ConnectionString, QString());
        }
    }

    // Answers the reference service never gives: success and the error icon are decided by
    // quoted words anywhere in the answer, after its final `"}` is cut off.
    void saveReadsTheAnswerByItsWords_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("style");
        QTest::addColumn<bool>("closes");
        QTest::addColumn<QString>("reloadKey");

        QTest::newRow("success with a new key")
            << QByteArray(R"({"status":"success","message":"OK","api_key":"KEY-NEW","x":"1"})")
            << "OK" << 0 << true << "KEY-NEW";
        QTest::newRow("success without a key keeps it")
            << QByteArray(R"({"status":"success","message":"OK"})") << "OK" << 0 << true << "KEY-0";
        QTest::newRow("an empty key is a key")
            << QByteArray(R"({"status":"success","api_key":"","message":"OK"})") << "OK" << 0
            << true << "";
        QTest::newRow("upper-case ERROR") << QByteArray(R"({"status":"ERROR","message":"Tolak"})")
                                          << "Tolak" << 16 << false << "";
        QTest::newRow("Success is not success")
            << QByteArray(R"({"status":"Success","message":"OK"})") << "OK" << 0 << false << "";
        QTest::newRow("both words: critical and closed")
            << QByteArray(R"({"status":"error","message":"Sebagian","result":"success","n":"1"})")
            << "Sebagian" << 16 << true << "KEY-0";
        QTest::newRow("last value loses its quote")
            << QByteArray(R"({"message":"Tersimpan","status":"success"})") << "Tersimpan" << 0
            << false << "";
    }

    void saveReadsTheAnswerByItsWords()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, closes);
        StubService stub;
        stub.answer(QStringLiteral("/api/get_connection_string.php"), 200, "DRIVER={SQLite3};");
        stub.answer(QStringLiteral("/api/edit_company.php"), 200, body);
        stub.answer(QStringLiteral("/api/get_app_hide.php"), 200, "0");
        const ServiceSwap url(m_client, stub.baseUrl());
        ProfileState::instance().ApiKey = QStringLiteral("KEY-0");

        const Opened opened = open(typeAndClick(QStringLiteral("DRIVER={SQLite3};"), true));

        QCOMPARE(m_dialogs->messages().size(), 1);
        const auto* box = m_dialogs->last(QStringLiteral("message"));
        QTEST(box->text, "message");
        QTEST(box->style, "style");
        QCOMPARE(opened.visibleAfter, !closes);
        const QString reload = stub.firstQuery(QStringLiteral("/api/get_app_hide.php"));
        if (closes) {
            // The reload ran, and its first look-up carried the key the answer left behind.
            QFETCH(QString, reloadKey);
            QVERIFY2(reload.endsWith(QStringLiteral("&APIKey=") + reloadKey), qPrintable(reload));
        } else {
            QVERIFY(reload.isEmpty());
        }
    }
};

QTEST_MAIN(TestConnectionWindow)
#include "tst_connection_window.moc"
