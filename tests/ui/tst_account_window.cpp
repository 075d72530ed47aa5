// The account window driven as a user would: entry points, the two checks, register and
// update against the reference service, odd answers, and a service that cannot be reached.
#include "UiTestHelpers.h"
#include "support/TestSupport.h"

#include "TallyStore.h"
#include "app/ProfileState.h"
#include "ui/Form1.h"
#include "ui/FrmAkun.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

namespace {

const QString kDevice = QStringLiteral("00:1A:2B:3C:4D:5E");
const QString kOtherDevice = QStringLiteral("00:1A:2B:3C:4D:99");

enum class Entry
{
    ImgRegister,
    MnuPerbarui,
    Label7Click
};

// What the window showed when it opened, and how it stood after the click.
struct Run
{
    bool opened = false;
    QString caption, company, wa, apiKey;
    qint64 iconKey = 0;
    bool visibleAfterClick = false;
    QWidget* focusAfterClick = nullptr;
    QString companyAfterClick;
    FrmAkun* window = nullptr;
};

} // namespace

Q_DECLARE_METATYPE(Entry)

class TestAccountWindow : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_connStr;
    std::unique_ptr<TestService> m_service;
    std::unique_ptr<DeviceNameGuard> m_device;
    std::unique_ptr<ScriptedDialogs> m_dialogs;
    ServiceClient m_client; // the window's, of the service the test started
    std::unique_ptr<Form1> m_form;

    TallyStore& store() { return m_service->store(); }

    void open(Entry entry)
    {
        switch (entry) {
        case Entry::ImgRegister:
            m_form->show();
            m_form->ImgRegister->show();
            QTest::mouseClick(m_form->ImgRegister, Qt::LeftButton);
            break;
        case Entry::MnuPerbarui:
            m_form->mnuPerbarui->trigger();
            break;
        case Entry::Label7Click:
            m_form->show();
            QTest::mouseClick(m_form->Label7, Qt::LeftButton);
            break;
        }
    }

    // Opens the window through an entry point; when `act` is given it runs inside the modal
    // showing (the window is shown, as the user sees it) before the click.
    Run drive(Entry entry, const std::function<void(FrmAkun*)>& act = {})
    {
        Run run;
        m_dialogs->onModal = [&](QWidget* w) {
            auto* f = qobject_cast<FrmAkun*>(w);
            if (!f)
                return;
            run.opened = true;
            run.window = f;
            run.caption = f->Command1->text();
            run.company = f->TxtCompany->text();
            run.wa = f->TxtWA->text();
            run.apiKey = f->TxtAPIKey->text();
            run.iconKey = f->windowIcon().cacheKey();
            if (!act)
                return;
            f->show();
            act(f);
            run.visibleAfterClick = f->isVisible();
            run.focusAfterClick = f->focusWidget();
            run.companyAfterClick = f->TxtCompany->text();
        };
        open(entry);
        m_dialogs->onModal = nullptr;
        return run;
    }

    static std::function<void(FrmAkun*)> fillAndClick(const QString& company, const QString& wa)
    {
        return [company, wa](FrmAkun* f) {
            f->TxtCompany->setText(company);
            f->TxtWA->setText(wa);
            QTest::mouseClick(f->Command1, Qt::LeftButton);
        };
    }

    // A registered company whose profile the main window has loaded.
    TallyStore::Company loadRegisteredCompany(int appHide = 0)
    {
        const auto company = store().createCompany(QStringLiteral("Toko Lama"), kDevice,
                                                   QStringLiteral("0811"), m_connStr, appHide);
        m_form->Tampil();
        return company;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        const QString db = m_dir.filePath(QStringLiteral("toko.db"));
        createSqliteDatabase(db, {QStringLiteral("CREATE TABLE barang (kode TEXT)")});
        m_connStr = sqliteConnectionString(db);
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

    void registrationMenuIsGreyed() { QVERIFY(!m_form->mnuRegistrasi->isEnabled()); }

    void entryPointsFillTheWindow_data()
    {
        QTest::addColumn<Entry>("entry");
        QTest::addColumn<QString>("telp");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("company");
        QTest::addColumn<QString>("wa");
        QTest::addColumn<QString>("apiKey");

        QTest::newRow("register picture takes the name label") << Entry::ImgRegister << "0811"
                                                               << "Register"
                                                               << "Anonymous-7F3A"
                                                               << "0811"
                                                               << "";
        QTest::newRow("update menu takes the profile") << Entry::MnuPerbarui << "0811"
                                                       << "Perbarui"
                                                       << "Toko Lama"
                                                       << "0811"
                                                       << "KEY-1";
        QTest::newRow("name label click opens update") << Entry::Label7Click << "0811"
                                                       << "Perbarui"
                                                       << "Toko Lama"
                                                       << "0811"
                                                       << "KEY-1";
        QTest::newRow("register hides an error number")
            << Entry::ImgRegister << "Error: company not found"
            << "Register"
            << "Anonymous-7F3A"
            << ""
            << "";
        QTest::newRow("update hides an error number") << Entry::MnuPerbarui << "Error:x"
                                                      << "Perbarui"
                                                      << "Toko Lama"
                                                      << ""
                                                      << "KEY-1";
        QTest::newRow("only the exact prefix is an error") << Entry::MnuPerbarui << "error: 0811"
                                                           << "Perbarui"
                                                           << "Toko Lama"
                                                           << "error: 0811"
                                                           << "KEY-1";
    }

    void entryPointsFillTheWindow()
    {
        QFETCH(Entry, entry);
        QFETCH(QString, telp);
        ProfileState& p = ProfileState::instance();
        p.CompanyName = QStringLiteral("Toko Lama");
        p.ApiKey = QStringLiteral("KEY-1");
        p.Telp = telp;
        m_form->Label7->setText(QStringLiteral("Anonymous-7F3A"));

        const Run run = drive(entry);

        QVERIFY(run.opened);
        QTEST(run.caption, "caption");
        QTEST(run.company, "company");
        QTEST(run.wa, "wa");
        QCOMPARE(m_dialogs->last(QStringLiteral("modal"))->text, QStringLiteral("Akun"));
        QCOMPARE(run.iconKey, m_form->windowIcon().cacheKey());
        // Register mode never fills the key; update mode carries the profile's key.
        if (run.caption == QLatin1String("Perbarui"))
            QTEST(run.apiKey, "apiKey");
    }

    // Enter sends the window's one request from either box, and presses a focused button.
    void enterPressesTheButton_data()
    {
        QTest::addColumn<int>("target"); // 0 name box, 1 number box, 2 the button
        QTest::newRow("in the name box") << 0;
        QTest::newRow("in the number box") << 1;
        QTest::newRow("on the button") << 2;
    }
    void enterPressesTheButton()
    {
        QFETCH(int, target);
        const Run run = drive(Entry::MnuPerbarui, [target](FrmAkun* f) {
            f->TxtCompany->clear(); // the click refuses an empty name: it shows it was pressed
            QWidget* const widgets[] = {f->TxtCompany, f->TxtWA, f->Command1};
            widgets[target]->setFocus();
            QTest::keyClick(widgets[target], Qt::Key_Return);
        });
        QVERIFY(run.opened);
        QCOMPARE(m_dialogs->messages(), QStringList{QStringLiteral("Nama Usaha harus diisi")});
    }

    void emptyFieldsAreRefused_data()
    {
        QTest::addColumn<Entry>("entry");
        QTest::addColumn<QString>("company");
        QTest::addColumn<QString>("wa");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("focusOnName");

        const QString name = QStringLiteral("Nama Usaha harus diisi");
        const QString number = QStringLiteral("Nomor WhatsApp harus diisi");
        QTest::newRow("register, no name") << Entry::ImgRegister << ""
                                           << "0812" << name << true;
        QTest::newRow("register, no number") << Entry::ImgRegister << "Toko Maju"
                                             << "" << number << false;
        QTest::newRow("register, neither") << Entry::ImgRegister << ""
                                           << "" << name << true;
        QTest::newRow("update, no name") << Entry::MnuPerbarui << ""
                                         << "0899" << name << true;
        QTest::newRow("update, no number") << Entry::MnuPerbarui << "Toko Baru"
                                           << "" << number << false;
    }

    void emptyFieldsAreRefused()
    {
        QFETCH(Entry, entry);
        QFETCH(QString, company);
        QFETCH(QString, wa);
        QFETCH(QString, message);
        QFETCH(bool, focusOnName);
        if (entry == Entry::MnuPerbarui)
            loadRegisteredCompany();
        m_dialogs->shown.clear();

        const Run run = drive(entry, fillAndClick(company, wa));

        QCOMPARE(m_dialogs->messages(), QStringList{message});
        const auto* box = m_dialogs->last(QStringLiteral("message"));
        QCOMPARE(box->style, 48);
        QCOMPARE(box->title, QStringLiteral("Registrasi"));
        QVERIFY(run.visibleAfterClick);
        QCOMPARE(run.focusAfterClick, focusOnName ? static_cast<QWidget*>(run.window->TxtCompany)
                                                  : static_cast<QWidget*>(run.window->TxtWA));
        // Nothing reached the service.
        const auto stored = store().companyByDevice(kDevice);
        if (entry == Entry::ImgRegister) {
            QVERIFY(!stored);
        } else {
            QCOMPARE(stored->name, QStringLiteral("Toko Lama"));
            QCOMPARE(stored->telp, QStringLiteral("0811"));
        }
    }

    void registerThenReload_data()
    {
        QTest::addColumn<QString>("company");
        QTest::addColumn<bool>("nameTaken");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("style");
        QTest::addColumn<QString>("storedName");

        QTest::newRow("new company")
            << "Toko Maju" << false << "Registrasi berhasil" << 0 << "Toko Maju";
        // One blank passes the window's check; the service refuses it, and the reload then
        // registers the unknown device on its own.
        QTest::newRow("a blank is sent")
            << " " << false << "Nama usaha (CompanyName) harus diisi" << 16 << "Anonymous";
        QTest::newRow("name taken")
            << "Toko Maju" << true << "Nama usaha sudah digunakan (CompanyName already taken)" << 16
            << "Anonymous";
    }

    void registerThenReload()
    {
        QFETCH(QString, company);
        QFETCH(bool, nameTaken);
        QFETCH(QString, storedName);
        if (nameTaken)
            store().createCompany(QStringLiteral("Toko Maju"), kOtherDevice);

        const Run run = drive(Entry::ImgRegister, fillAndClick(company, QStringLiteral("0812")));

        QVERIFY(!m_dialogs->messages().isEmpty());
        const auto& box = m_dialogs->shown.at(1); // after the modal record
        QCOMPARE(box.kind, QStringLiteral("message"));
        QTEST(box.text, "message");
        QTEST(box.style, "style");
        QCOMPARE(box.title, QString());
        QVERIFY(!run.visibleAfterClick);

        const auto stored = store().companyByDevice(kDevice);
        QVERIFY(stored);
        QCOMPARE(stored->name, storedName);
        // The reload ran and took the account from the service.
        const ProfileState& p = ProfileState::instance();
        QCOMPARE(p.CompanyName, storedName);
        QCOMPARE(p.ApiKey, stored->apiKey);
        QCOMPARE(m_form->Label7->text(), storedName);
        if (storedName == company)
            QCOMPARE(p.Telp, QStringLiteral("0812"));
    }

    void updateThenReload_data()
    {
        QTest::addColumn<QString>("company");
        QTest::addColumn<QString>("wa");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("style");
        QTest::addColumn<QString>("storedName");
        QTest::addColumn<QString>("storedTelp");
        QTest::addColumn<int>("storedAppHide");

        QTest::newRow("new name and number") << "Toko Baru"
                                             << "0899"
                                             << "Data berhasil diperbarui" << 0 << "Toko Baru"
                                             << "0899" << 0;
        QTest::newRow("same name, new number") << "Toko Lama"
                                               << "0899"
                                               << "Data berhasil diperbarui" << 0 << "Toko Lama"
                                               << "0899" << 0;
        QTest::newRow("another company's name")
            << "Toko Lain"
            << "0899"
            << "Nama usaha sudah digunakan (CompanyName already taken)" << 16 << "Toko Lama"
            << "0811" << 1;
    }

    void updateThenReload()
    {
        QFETCH(QString, company);
        QFETCH(QString, wa);
        QFETCH(QString, storedName);
        store().createCompany(QStringLiteral("Toko Lain"), kOtherDevice);
        // Started in the tray: an update always switches back to starting shown.
        const auto before = loadRegisteredCompany(1);
        m_dialogs->shown.clear();

        const Run run = drive(Entry::MnuPerbarui, fillAndClick(company, wa));

        QCOMPARE(run.apiKey, before.apiKey);
        QCOMPARE(m_dialogs->messages().size(), 1);
        const auto* box = m_dialogs->last(QStringLiteral("message"));
        QTEST(box->text, "message");
        QTEST(box->style, "style");
        QCOMPARE(box->title, QString());
        QVERIFY(!run.visibleAfterClick);

        const auto stored = store().companyByDevice(kDevice);
        QCOMPARE(stored->name, storedName);
        QTEST(stored->telp, "storedTelp");
        QTEST(stored->appHide, "storedAppHide");
        QCOMPARE(stored->connStr, m_connStr);
        QCOMPARE(ProfileState::instance().CompanyName, storedName);
        QCOMPARE(m_form->Label7->text(), storedName);
    }

    // Answers the reference service never gives: the icon, the message and the key the reload
    // starts with all come from the answer as the agent reads it.
    void oddAnswers_data()
    {
        QTest::addColumn<Entry>("entry");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("style");
        QTest::addColumn<QString>("reloadKey");

        const QByteArray success =
            R"({"status":"success","message":"OK","api_key":"KEY-NEW","telp":"0812"})";
        QTest::newRow("register: upper-case ERROR")
            << Entry::ImgRegister << 200 << QByteArray(R"({"status":"ERROR","message":"Ditolak"})")
            << "Ditolak" << 16 << "KEY-0";
        QTest::newRow("register: status 500")
            << Entry::ImgRegister << 500 << success << "Failed to connect to API." << 16 << "KEY-0";
        QTest::newRow("register: no envelope")
            << Entry::ImgRegister << 200 << QByteArray("<html>ok</html>") << "" << 0 << "KEY-0";
        QTest::newRow("register: new key")
            << Entry::ImgRegister << 200 << success << "OK" << 0 << "KEY-NEW";
        QTest::newRow("update: status 201")
            << Entry::MnuPerbarui << 201 << success << "Failed to connect to API." << 16 << "KEY-0";
        QTest::newRow("update: new key")
            << Entry::MnuPerbarui << 200 << success << "OK" << 0 << "KEY-NEW";
    }

    void oddAnswers()
    {
        QFETCH(Entry, entry);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, reloadKey);
        StubService stub;
        stub.answer(QStringLiteral("/api/register_company.php"), status, body);
        stub.answer(QStringLiteral("/api/edit_company.php"), status, body);
        stub.answer(QStringLiteral("/api/get_app_hide.php"), 200, "0");
        const ServiceSwap url(m_client, stub.baseUrl());
        ProfileState& p = ProfileState::instance();
        p.CompanyName = QStringLiteral("Toko");
        p.ApiKey = QStringLiteral("KEY-0");
        p.Telp = QStringLiteral("0811");

        const Run run = drive(entry, fillAndClick(QStringLiteral("Toko"), QStringLiteral("0811")));

        const auto* box = m_dialogs->last(QStringLiteral("message"));
        QVERIFY(box);
        QTEST(box->text, "message");
        QTEST(box->style, "style");
        QVERIFY(!run.visibleAfterClick);
        // The reload's first look-up goes out with the key the answer left in the profile.
        QVERIFY2(stub.firstQuery(QStringLiteral("/api/get_app_hide.php"))
                     .endsWith(QStringLiteral("&APIKey=") + reloadKey),
                 qPrintable(stub.requests().join(QLatin1Char(' '))));
    }

    void unreachableServiceKeepsTheWindow_data()
    {
        QTest::addColumn<Entry>("entry");
        QTest::newRow("register") << Entry::ImgRegister;
        QTest::newRow("update") << Entry::MnuPerbarui;
    }

    void unreachableServiceKeepsTheWindow()
    {
        QFETCH(Entry, entry);
        if (entry == Entry::MnuPerbarui)
            loadRegisteredCompany();
        m_dialogs->shown.clear();
        bool visibleAfterRetry = true;

        const Run run = drive(entry, [&](FrmAkun* f) {
            {
                const ServiceSwap down(m_client, refusingServiceUrl());
                fillAndClick(QStringLiteral("Toko Maju"), QStringLiteral("0812"))(f);
            }
            QCOMPARE(f->TxtCompany->text(), QStringLiteral("Toko Maju"));
            QCOMPARE(f->TxtWA->text(), QStringLiteral("0812"));
            QVERIFY(f->isVisible());
            // The service is back: the same click now goes through.
            QTest::mouseClick(f->Command1, Qt::LeftButton);
            visibleAfterRetry = f->isVisible();
        });

        QVERIFY(!m_dialogs->messages().isEmpty());
        const auto& failure = m_dialogs->shown.at(1);
        QVERIFY2(failure.text.startsWith(
                     QLatin1String("The system cannot locate the resource specified.")),
                 qPrintable(failure.text));
        QCOMPARE(failure.style, 16);
        QCOMPARE(failure.title, QStringLiteral("Registrasi"));
        QVERIFY(!visibleAfterRetry);
        QCOMPARE(store().companyByDevice(kDevice)->name, QStringLiteral("Toko Maju"));
        QCOMPARE(ProfileState::instance().CompanyName, QStringLiteral("Toko Maju"));
    }

    void unknownCaptionSendsNothing()
    {
        loadRegisteredCompany();
        m_dialogs->shown.clear();

        const Run run = drive(Entry::MnuPerbarui, [](FrmAkun* f) {
            f->Command1->setText(QStringLiteral("Submit"));
            f->TxtCompany->setText(QStringLiteral("Toko Baru"));
            QTest::mouseClick(f->Command1, Qt::LeftButton);
        });

        QCOMPARE(m_dialogs->messages(),
                 QStringList{QStringLiteral("Perintah Submit tidak dikenal!")});
        QCOMPARE(m_dialogs->last(QStringLiteral("message"))->style, 16);
        QCOMPARE(m_dialogs->last(QStringLiteral("message"))->title,
                 QStringLiteral("Manajemen akun"));
        QVERIFY(!run.visibleAfterClick);
        QCOMPARE(store().companyByDevice(kDevice)->name, QStringLiteral("Toko Lama"));
    }
};

QTEST_MAIN(TestAccountWindow)
#include "tst_account_window.moc"
