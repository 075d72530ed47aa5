// The notification-area icon and the main window's double-click gestures. The offscreen
// platform has no notification area: the parts that need one are skipped there (run this test
// under a desktop with a tray to cover them).
#include "support/CannedHttpServer.h"
#include "support/TestSupport.h"

#include "app/AppControl.h"
#include "app/ProfileState.h"
#include "service/ServiceConfig.h"
#include "tray/TrayIcon.h"
#include "ui/Form1.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <map>

namespace {

void doubleClick(QWidget* widget)
{
    const QPointF at(5, 5);
    QMouseEvent event(QEvent::MouseButtonDblClick, at, widget->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

} // namespace

class TestTray : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_config; // the exit writes an auto-start entry: keep it out of the real one
    const ExeIdentity m_exe{"/opt/q17", "Q17-Tallyframe"};

private slots:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8()); }
    void init() { ProfileState::instance() = {}; }

    void notifications_data()
    {
        QTest::addColumn<int>("reason");
        QTest::addColumn<bool>("windowShown");
        QTest::addColumn<bool>("menuShown");
        QTest::newRow("left button") << int(QSystemTrayIcon::Trigger) << true << false;
        QTest::newRow("right button") << int(QSystemTrayIcon::Context) << false << true;
        QTest::newRow("double click") << int(QSystemTrayIcon::DoubleClick) << false << false;
        QTest::newRow("middle button") << int(QSystemTrayIcon::MiddleClick) << false << false;
        QTest::newRow("unknown") << int(QSystemTrayIcon::Unknown) << false << false;
    }
    void notifications()
    {
        QFETCH(int, reason);
        QFETCH(bool, windowShown);
        QFETCH(bool, menuShown);
        ScriptedDialogs dialogs;
        ServiceClient client;
        Form1 form(client, dialogs, m_exe);
        form.hide(); // started in the tray
        TrayIcon tray(&form, form.mnuBantuan);
        tray.onActivated(QSystemTrayIcon::ActivationReason(reason));
        QCOMPARE(form.isVisible(), windowShown);
        QCOMPARE(form.mnuBantuan->isVisible(), menuShown);
        if (menuShown) {
            // The help menu with its four commands, as the menu bar has it.
            QStringList captions;
            for (QAction* action : form.mnuBantuan->actions()) {
                if (!action->isSeparator())
                    captions << action->text();
            }
            QCOMPARE(captions.size(), 4);
            QCOMPARE(captions.first(), QString("&Q17 Tallyframe on the web"));
            form.mnuBantuan->hide();
        }
    }

    void leftButtonBringsBackAMinimisedWindow()
    {
        ScriptedDialogs dialogs;
        ServiceClient client;
        Form1 form(client, dialogs, m_exe);
        form.showMinimized();
        TrayIcon tray(&form, form.mnuBantuan);
        tray.onActivated(QSystemTrayIcon::Trigger);
        QVERIFY(form.isVisible());
        QVERIFY(!form.isMinimized());
        // Shown already: it stays shown.
        tray.onActivated(QSystemTrayIcon::Trigger);
        QVERIFY(form.isVisible());
    }

    void withoutNotificationAreaTheWindowStaysReachable()
    {
        if (QSystemTrayIcon::isSystemTrayAvailable())
            QSKIP("this desktop has a notification area");
        ScriptedDialogs dialogs;
        ServiceClient client;
        Form1 form(client, dialogs, m_exe);
        form.hide(); // a start in the tray hides the window before the icon is added
        form.AddTrayIcon(form.PicQ17);
        TrayIcon* tray = form.trayIcon();
        QVERIFY(tray);
        const QSystemTrayIcon* icon = form.findChild<QSystemTrayIcon*>();
        QVERIFY(!icon || !icon->isVisible());
        QVERIFY(form.isVisible());
        QVERIFY(form.isMinimized());

        // A reload while shown leaves the window as it is and makes no second tray object.
        form.showNormal();
        form.AddTrayIcon(form.PicQ17);
        QCOMPARE(form.trayIcon(), tray);
        QVERIFY(!form.isMinimized());
    }

    void oneIconAcrossReloadsAndGoneAfterShutDown()
    {
        if (!QSystemTrayIcon::isSystemTrayAvailable())
            QSKIP("no notification area on this platform");
        ScriptedDialogs dialogs;
        ServiceClient client;
        Form1 form(client, dialogs, m_exe);
        form.hide();
        form.AddTrayIcon(form.PicQ17);
        form.AddTrayIcon(form.PicQ17);
        QCOMPARE(form.findChildren<QSystemTrayIcon*>().size(), 1);
        const QSystemTrayIcon* icon = form.findChild<QSystemTrayIcon*>();
        QVERIFY(icon->isVisible());
        QCOMPARE(icon->toolTip(), QString("Q17-Tallyframe"));
        QVERIFY(!form.isVisible()); // the icon is the way back: the window stays hidden
        form.ShutDown();
        QVERIFY(!icon->isVisible());
        QVERIFY(form.isVisible());
    }

    void tipIsTheExecutableName()
    {
        if (!ServiceConfig::buildComments().isEmpty())
            QSKIP("this build has a comments line");
        QCOMPARE(TrayIcon::tipText("Agen-Toko"), QString("Agen-Toko"));
    }

    void panelDoubleClickTogglesStopError()
    {
        ScriptedDialogs dialogs;
        ServiceClient client;
        Form1 form(client, dialogs, m_exe);
        QVERIFY(form.Check1->isHidden());
        doubleClick(form.Frame1);
        QVERIFY(!form.Check1->isHidden());
        QCOMPARE(form.Check1->text(), QString("Stop Error"));
        doubleClick(form.Frame1);
        QVERIFY(form.Check1->isHidden());
    }

    // The labels pass a double-click on to the panel under them; it is still not the panel's.
    void doubleClickOnThePanelsChildrenLeavesStopError_data()
    {
        QTest::addColumn<QString>("child");
        for (const char* name :
             {"Label1", "Label3", "Label4", "Label5", "Label6", "Image2", "LblResponse", "Label7"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void doubleClickOnThePanelsChildrenLeavesStopError()
    {
        QFETCH(QString, child);
        ScriptedDialogs dialogs;
        ServiceClient client;
        Form1 form(client, dialogs, m_exe);
        form.show();
        form.Frame1->show();
        const std::map<QString, QWidget*> children = {
            {"Label1", form.Label1},           {"Label3", form.Label3}, {"Label4", form.Label4},
            {"Label5", form.Label5},           {"Label6", form.Label6}, {"Image2", form.Image2},
            {"LblResponse", form.LblResponse}, {"Label7", form.Label7}};
        doubleClick(children.at(child));
        QVERIFY(form.Check1->isHidden());
    }

    void bannerDoubleClickRunsTheUpdateCheck()
    {
        CannedHttpServer http;
        http.status = 404;
        qputenv("TALLYFRAME_SERVICE_URL", http.baseUrl().toUtf8());
        // The check compares with the running file's time, so the window is given the running
        // file, not the made-up one of the other tests.
        ScriptedDialogs dialogs;
        ServiceClient client;
        Form1 form(client, dialogs, ExeIdentity{});
        doubleClick(form.Image1);
        qunsetenv("TALLYFRAME_SERVICE_URL");
        QVERIFY(!http.requestLines.isEmpty());
        QVERIFY2(http.requestLines.first().contains("/api/app/get_file_time.php"),
                 http.requestLines.first().constData());
    }
};

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
