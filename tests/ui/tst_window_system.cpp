// What the window system receives for the agent's windows: their captions, the main window's
// fixed border and where each window opens. Only a real X server with a window manager can tell
// (run by under-xvfb.sh with Xvfb and openbox); elsewhere the whole test is skipped with a note.
#include "support/TestSupport.h"

#include "app/AppControl.h"
#include "app/ProfileState.h"
#include "ui/Form1.h"
#include "ui/Form2.h"
#include "ui/FrmAkun.h"

#include <QApplication>
#include <QDebug>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

enum class Window
{
    Main,
    Account,
    Connection,
    About,
    Consent,
    MessageBox
};

// One property of a top-level window as the X server holds it.
QString xprop(WId id, const QString& property)
{
    QProcess process;
    process.start(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(id), property});
    process.waitForFinished(5000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// The caption the window manager shows: _NET_WM_NAME(UTF8_STRING) = "...".
QString captionOf(QWidget* window)
{
    static const QRegularExpression quoted(QStringLiteral("= \"(.*)\"$"));
    return quoted.match(xprop(window->winId(), QStringLiteral("_NET_WM_NAME"))).captured(1);
}

// The window's frame as the window manager drew it: the window's rectangle widened by the frame
// extents the window manager published (Qt's own idea of the frame can lag behind); null until
// the window manager has framed the window.
QRect frameOf(QWidget* window)
{
    static const QRegularExpression extents(QStringLiteral("= (\\d+), (\\d+), (\\d+), (\\d+)"));
    const auto m = extents.match(xprop(window->winId(), QStringLiteral("_NET_FRAME_EXTENTS")));
    if (!m.hasMatch())
        return {};
    return window->geometry().adjusted(-m.captured(1).toInt(), -m.captured(3).toInt(),
                                       m.captured(2).toInt(), m.captured(4).toInt());
}

// Waits until the window manager has framed the window.
bool framed(QWidget* window)
{
    if (!QTest::qWaitForWindowExposed(window))
        return false;
    return QTest::qWaitFor([window] { return !frameOf(window).isNull(); });
}

// The frame's centre may lie off the window's by the decorations (a title bar on top only).
void verifyCentredOn(QWidget* window, const QRect& area)
{
    const QRect frame = frameOf(window);
    const int slackX = frame.width() - window->width() + 2;
    const int slackY = frame.height() - window->height() + 2;
    const QPoint offset = frame.center() - area.center();
    QString where;
    QDebug(&where) << "frame" << frame << "is off the centre of" << area << "by" << offset;
    QVERIFY2(qAbs(offset.x()) <= slackX && qAbs(offset.y()) <= slackY, qPrintable(where));
}

// Shows a real message box through the program's own dialogs and runs `inspect` on it while it
// is up; the box is then closed as a click on OK would.
void withRealMessageBox(const QString& text, const QString& title,
                        const std::function<void(QWidget*)>& inspect)
{
    bool inspected = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box) {
            inspect(box);
            inspected = true;
            box->accept();
        }
    });
    WidgetDialogs().messageBox(text, Dialogs::Information, title);
    QVERIFY2(inspected, "no message box came up");
}

// Opens a window the way the program does (menu command or entry point) and runs `inspect` on
// it while it is shown. The connection window loads from a service of its own.
void openThrough(Window window, Form1& form, ServiceClient& client, ScriptedDialogs& dialogs,
                 const std::function<void(QWidget*)>& inspect)
{
    bool opened = false;
    dialogs.onModal = [&](QWidget* w) {
        opened = true;
        w->show();
        inspect(w);
        w->hide();
    };
    switch (window) {
    case Window::Main:
        opened = true;
        inspect(&form);
        break;
    case Window::Account:
        form.mnuPerbarui->trigger();
        delete form.findChild<FrmAkun*>();
        break;
    case Window::Connection: {
        TestService service;
        const ServiceSwap swap(client, service.baseUrl());
        form.mnuKoneksi->trigger();
        break;
    }
    case Window::About:
        form.mnuTtg->trigger();
        break;
    case Window::Consent: {
        Form2 consent(client.hostDisplay(), dialogs, &form);
        dialogs.showModal(&consent);
        break;
    }
    case Window::MessageBox:
        withRealMessageBox(QStringLiteral("Connected!"), QStringLiteral("Test Koneksi"), inspect);
        opened = true;
        break;
    }
    dialogs.onModal = nullptr;
    QVERIFY2(opened, "the window did not open");
}

} // namespace

Q_DECLARE_METATYPE(Window)

class TestWindowSystem : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X server with a window manager: run through tests/ui/under-xvfb.sh "
                  "(packages xvfb, openbox and x11-utils)");
        if (QStandardPaths::findExecutable(QStringLiteral("xprop")).isEmpty())
            QSKIP("needs xprop (package x11-utils) to read what the window system received");
        QProcess root;
        root.start(QStringLiteral("xprop"),
                   {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")});
        root.waitForFinished(5000);
        if (!root.readAllStandardOutput().contains("window id"))
            QSKIP("no window manager runs on this X server");
        // As the program sets itself up: its names decide what Qt adds to the captions.
        SetUpApplication();
    }

    void init() { ProfileState::instance() = {}; }

    void captionsAreExactlyTheWindowsOwn_data()
    {
        QTest::addColumn<Window>("window");
        QTest::addColumn<QString>("caption");
        QTest::newRow("main window") << Window::Main << "Q17 Tallyframe - Versi ?";
        QTest::newRow("account") << Window::Account << "Akun";
        QTest::newRow("connection") << Window::Connection << "Koneksi Database";
        QTest::newRow("about") << Window::About << "Tentang Q17 Tallyframe";
        QTest::newRow("consent") << Window::Consent << "Izin menjalankan aplikasi";
        QTest::newRow("small box") << Window::MessageBox << "Test Koneksi";
    }
    void captionsAreExactlyTheWindowsOwn()
    {
        QFETCH(Window, window);
        QFETCH(QString, caption);
        ScriptedDialogs dialogs;
        DeviceNameGuard device(QStringLiteral("00:1A:2B:3C:4D:5E"));
        ServiceClient client;
        Form1 form(client, dialogs);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));

        QString received;
        openThrough(window, form, client, dialogs, [&received](QWidget* w) {
            if (QTest::qWaitForWindowExposed(w))
                received = captionOf(w);
        });
        QCOMPARE(received, caption);
    }

    void mainWindowHasAFixedBorderAndOpensCentred()
    {
        ScriptedDialogs dialogs;
        ServiceClient client;
        Form1 form(client, dialogs);
        form.show();
        QVERIFY(framed(&form));

        // One size only: the window manager offers neither resizing nor maximizing.
        const QString hints = xprop(form.winId(), QStringLiteral("WM_NORMAL_HINTS"));
        static const QRegularExpression minimum(QStringLiteral("minimum size: (\\d+) by (\\d+)"));
        static const QRegularExpression maximum(QStringLiteral("maximum size: (\\d+) by (\\d+)"));
        const auto least = minimum.match(hints);
        const auto most = maximum.match(hints);
        QVERIFY2(least.hasMatch() && most.hasMatch(), qPrintable(hints));
        QCOMPARE(least.captured(0).mid(8), most.captured(0).mid(8));
        QTRY_VERIFY(!xprop(form.winId(), QStringLiteral("_NET_WM_ALLOWED_ACTIONS")).isEmpty());
        const QString actions = xprop(form.winId(), QStringLiteral("_NET_WM_ALLOWED_ACTIONS"));
        QVERIFY2(!actions.contains(QLatin1String("MAXIMIZE")), qPrintable(actions));
        QVERIFY2(!actions.contains(QLatin1String("_NET_WM_ACTION_RESIZE")), qPrintable(actions));
        QVERIFY2(actions.contains(QLatin1String("_NET_WM_ACTION_MINIMIZE")), qPrintable(actions));

        verifyCentredOn(&form, form.screen()->availableGeometry());
    }

    void windowsOpenCentredOnTheirOwner_data()
    {
        QTest::addColumn<Window>("window");
        QTest::newRow("account") << Window::Account;
        QTest::newRow("connection") << Window::Connection;
        QTest::newRow("about") << Window::About;
        QTest::newRow("message box") << Window::MessageBox;
    }
    void windowsOpenCentredOnTheirOwner()
    {
        QFETCH(Window, window);
        ScriptedDialogs dialogs;
        DeviceNameGuard device(QStringLiteral("00:1A:2B:3C:4D:5E"));
        ServiceClient client;
        Form1 form(client, dialogs);
        // Away from the screen's centre, so that centred on the owner is not centred on the
        // screen by chance, yet far enough in that a wider window is not pushed back on screen.
        form.move(180, 140);
        form.show();
        QVERIFY(framed(&form));
        form.activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), &form);

        openThrough(window, form, client, dialogs, [&form](QWidget* w) {
            if (framed(w))
                verifyCentredOn(w, frameOf(&form));
            else
                QFAIL("the window manager never framed the window");
        });
    }
};

QTEST_MAIN(TestWindowSystem)
#include "tst_window_system.moc"
