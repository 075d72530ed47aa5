// The main window's small commands: clipboard copies, web links, device information and the
// About window.
#include "UiTestHelpers.h"
#include "support/TestSupport.h"

#include "BuildInfo.h"
#include "app/AgentLog.h"
#include "app/OpenUrl.h"
#include "app/ProfileState.h"
#include "ui/Form1.h"
#include "ui/FrmTtg.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

enum class Command
{
    MnuAPIKey,
    MnuUserName,
    MnuKlikUntukCopy,
    Label4,
    MnuQueriesEditor,
    Label6,
    MnuViewReports,
    MnuOnTheWeb,
    MnuMeetUs,
    MnuTechSupport
};

} // namespace

Q_DECLARE_METATYPE(Command)

class TestCommands : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ScriptedDialogs> m_dialogs;
    ServiceClient m_client; // the window's, of the service the test started
    std::unique_ptr<Form1> m_form;

    void run(Command command)
    {
        Form1& f = *m_form;
        switch (command) {
        case Command::MnuAPIKey:
            f.mnuAPIKey->trigger();
            break;
        case Command::MnuUserName:
            f.mnuUserName->trigger();
            break;
        case Command::MnuKlikUntukCopy:
            f.mnuKlikUntukCopy->trigger();
            break;
        case Command::Label4:
            QTest::mouseClick(f.Label4, Qt::LeftButton);
            break;
        case Command::MnuQueriesEditor:
            f.mnuQueriesEditor->trigger();
            break;
        case Command::Label6:
            QTest::mouseClick(f.Label6, Qt::LeftButton);
            break;
        case Command::MnuViewReports:
            f.mnuViewReports->trigger();
            break;
        case Command::MnuOnTheWeb:
            f.mnuOnTheWeb->trigger();
            break;
        case Command::MnuMeetUs:
            f.mnuMeetUs->trigger();
            break;
        case Command::MnuTechSupport:
            f.mnuTechSupport->trigger();
            break;
        }
    }

private slots:
    void init()
    {
        ProfileState::instance() = ProfileState();
        m_dialogs = std::make_unique<ScriptedDialogs>();
        m_client = ServiceClient();
        m_form = std::make_unique<Form1>(m_client, *m_dialogs);
        m_form->show();
        m_form->Frame1->show();
    }

    void cleanup()
    {
        m_form.reset();
        m_dialogs.reset();
        ProfileState::instance() = ProfileState();
    }

    void clipboardCopies_data()
    {
        QTest::addColumn<Command>("command");
        QTest::addColumn<QString>("company");
        QTest::addColumn<QString>("apiKey");
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("opensQueryEditor");

        const QString keySaved = QStringLiteral("APIKey sudah tersimpan di clipboard");
        const QString keyForLogin =
            QStringLiteral("APIKey sudah ada di clipboard. Silakan paste di halaman login");
        QTest::newRow("api key") << Command::MnuAPIKey << "Toko & Co"
                                 << "5f2c9a41"
                                 << "5f2c9a41" << keySaved << false;
        QTest::newRow("empty api key still reported") << Command::MnuAPIKey << "Toko"
                                                      << ""
                                                      << "" << keySaved << false;
        QTest::newRow("company name kept untrimmed")
            << Command::MnuUserName << " Toko & Co "
            << "5f2c9a41"
            << " Toko & Co "
            << "Company Name sudah tersimpan di clipboard" << false;
        QTest::newRow("both") << Command::MnuKlikUntukCopy << "Toko"
                              << "5f2c9a41"
                              << "Toko\r\n5f2c9a41"
                              << "Company Name dan APIKey sudah tersimpan di clipboard" << false;
        QTest::newRow("both, no company")
            << Command::MnuKlikUntukCopy << ""
            << "5f2c9a41"
            << "\r\n5f2c9a41"
            << "Company Name dan APIKey sudah tersimpan di clipboard" << false;
        QTest::newRow("query editor label") << Command::Label4 << "Toko"
                                            << "5f2c9a41"
                                            << "5f2c9a41" << keyForLogin << true;
        QTest::newRow("query editor menu") << Command::MnuQueriesEditor << "Toko"
                                           << "5f2c9a41"
                                           << "5f2c9a41" << keyForLogin << true;
    }

    void clipboardCopies()
    {
        QFETCH(Command, command);
        QFETCH(QString, company);
        QFETCH(QString, apiKey);
        QFETCH(bool, opensQueryEditor);
        ProfileState::instance().CompanyName = company;
        ProfileState::instance().ApiKey = apiKey;
        QGuiApplication::clipboard()->setText(QStringLiteral("left over"));

        run(command);

        QTEST(QGuiApplication::clipboard()->text(), "clipboard");
        QCOMPARE(m_dialogs->messages().size(), 1);
        const auto* box = m_dialogs->last(QStringLiteral("message"));
        QTEST(box->text, "message");
        QCOMPARE(box->style, 0);
        QCOMPARE(box->title, QString());
        if (opensQueryEditor) {
            // The page opens only once the box is dismissed, at the label's own address.
            QCOMPARE(m_dialogs->opened.size(), 1);
            QCOMPARE(m_dialogs->opened[0].target, m_form->Label4->text());
            QCOMPARE(m_dialogs->opened[0].showMode, 1);
            QCOMPARE(m_dialogs->opened[0].boxesBefore, 1);
        } else {
            QVERIFY(m_dialogs->opened.isEmpty());
        }
    }

    // Another program takes the clipboard the moment the text lands: the user hears that the
    // copy failed instead of being told it is there.
    void clipboardTakenIsReported_data()
    {
        QTest::addColumn<Command>("command");
        QTest::addColumn<bool>("opensQueryEditor");
        QTest::newRow("api key") << Command::MnuAPIKey << false;
        QTest::newRow("both") << Command::MnuKlikUntukCopy << false;
        QTest::newRow("query editor") << Command::Label4 << true;
    }

    void clipboardTakenIsReported()
    {
#ifdef Q_OS_WIN
        // The stand-in for the other program answers the clipboard's change signal, which
        // Windows sends only after the command has read the clipboard back.
        QSKIP("the clipboard's change signal comes later on Windows");
#endif
        QFETCH(Command, command);
        QFETCH(bool, opensQueryEditor);
        ProfileState::instance().CompanyName = QStringLiteral("Toko");
        ProfileState::instance().ApiKey = QStringLiteral("5f2c9a41");
        QClipboard* clipboard = QGuiApplication::clipboard();
        bool taken = false;
        const auto connection = connect(clipboard, &QClipboard::dataChanged, this, [&] {
            if (!taken && clipboard->text().contains(QLatin1String("5f2c9a41"))) {
                taken = true;
                clipboard->setText(QStringLiteral("someone else's text"));
            }
        });

        run(command);
        disconnect(connection);

        QVERIFY(taken);
        QCOMPARE(m_dialogs->messages().size(), 1);
        const auto* box = m_dialogs->last(QStringLiteral("message"));
        QVERIFY(!box->text.contains(QLatin1String("sudah")));
        QVERIFY(box->text.contains(QLatin1String("Clipboard")));
        QCOMPARE(box->style, 16);
        QCOMPARE(m_dialogs->opened.size(), opensQueryEditor ? 1 : 0);
    }

    void webLinks_data()
    {
        QTest::addColumn<Command>("command");
        QTest::addColumn<QString>("target");

        QTest::newRow("report label") << Command::Label6 << "https://r.example/api/report.php?x";
        QTest::newRow("report menu")
            << Command::MnuViewReports << "https://r.example/api/report.php?x";
        QTest::newRow("product site") << Command::MnuOnTheWeb << "https://web.example";
        QTest::newRow("developers") << Command::MnuMeetUs << "https://web.example/developers";
        QTest::newRow("support") << Command::MnuTechSupport << "https://web.example/techsupport";
    }

    void webLinks()
    {
        QFETCH(Command, command);
        const EnvGuard web("TALLYFRAME_WEB_URL", QStringLiteral("https://web.example/"));
        m_client = ServiceClient(); // the address is read when the agent starts
        // The address opened is whatever the label shows at the moment of the click.
        m_form->Label6->setText(QStringLiteral("https://r.example/api/report.php?x"));

        run(command);

        QCOMPARE(m_dialogs->opened.size(), 1);
        QTEST(m_dialogs->opened[0].target, "target");
        QCOMPARE(m_dialogs->opened[0].showMode, 1);
        QVERIFY(m_dialogs->shown.isEmpty());
    }

    void deviceInfo_data()
    {
        QTest::addColumn<QString>("device");
        QTest::newRow("adapter") << "00:1A:2B:3C:4D:5E";
        QTest::newRow("no adapter") << "";
    }

    void deviceInfo()
    {
        QFETCH(QString, device);
#ifdef Q_OS_WIN
        if (device.isEmpty())
            QSKIP("Windows has no empty environment variables to stand for the missing adapter");
#endif
        const DeviceNameGuard guard(device);

        m_form->mnuDeviceInfo->trigger();

        QCOMPARE(m_dialogs->messages().size(), 1);
        const auto* box = m_dialogs->last(QStringLiteral("message"));
        QCOMPARE(box->text,
                 "This device is known as it's mac address that it is: \r\n\r\n" + device +
                     "\r\n\r\n\r\nNote: Kami membaca MAC Address anda semata-mata bertujuan "
                     "untuk perlindungan sekuritas anda. Dengan Mac Address, mesin ini dapat "
                     "dikenali oleh sistem sehingga sistem kami dapat menentukan perangkat "
                     "mana yang berhak memberikan akses ke server kami.");
        QCOMPARE(box->style, 64);
        QCOMPARE(box->title, QStringLiteral("Device Info"));
    }

    void aboutWindow()
    {
        FrmTtg* shown = nullptr;
        QString version, caption, licensee, logPlace;
        QSize logo;
        qint64 iconKey = 0;
        m_dialogs->onModal = [&](QWidget* w) {
            shown = qobject_cast<FrmTtg*>(w);
            if (!shown)
                return;
            caption = shown->windowTitle();
            version = shown->Label3->text();
            logo = shown->Image1->pixmap().size();
            iconKey = shown->windowIcon().cacheKey();
            licensee = shown->Text1->toPlainText();
            logPlace = shown->Label5->text();
        };

        m_form->mnuTtg->trigger();

        QVERIFY(shown);
        QCOMPARE(caption, QStringLiteral("Tentang Q17 Tallyframe"));
        // Each part in plain decimal, so a build "1.00.0049" reads 1.0.49.
        const QStringList parts = QStringLiteral(TALLYFRAME_VERSION).split(QLatin1Char('.'));
        QCOMPARE(version, QStringLiteral("Version: %1.%2.%3")
                              .arg(parts.value(0).toInt())
                              .arg(parts.value(1).toInt())
                              .arg(parts.value(2).toInt()));
        QCOMPARE(logo, QSize(80, 80));
        QCOMPARE(iconKey, m_form->windowIcon().cacheKey());
        QVERIFY(!m_form->windowIcon().isNull());
        QCOMPARE(licensee, QString());
        QVERIFY2(logPlace.contains(QDir::toNativeSeparators(AgentLog::filePath())),
                 qPrintable(logPlace));
    }

    // The real boxes show what the service or a driver wrote, markup and all, as text.
    void realBoxesShowMarkupAsText_data()
    {
        QTest::addColumn<bool>("yesNo");
        QTest::newRow("message box") << false;
        QTest::newRow("yes/no box") << true;
    }
    void realBoxesShowMarkupAsText()
    {
        QFETCH(bool, yesNo);
        const QString text = QStringLiteral("Toko <b>Promo</b> <i>tutup</i>");
        QString shown;
        Qt::TextFormat format = Qt::AutoText;
        QTimer::singleShot(0, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                shown = box->text();
                format = box->textFormat();
                box->reject();
            }
        });
        WidgetDialogs real;
        if (yesNo)
            QVERIFY(!real.askYesNo(text, Dialogs::NoIcon, QStringLiteral("Uninstall Aplikasi")));
        else
            real.messageBox(text, Dialogs::Critical, QStringLiteral("Edit ConnectionString"));
        QCOMPARE(shown, text);
        QCOMPARE(format, Qt::PlainText);
    }
};

QTEST_MAIN(TestCommands)
#include "tst_commands.moc"
