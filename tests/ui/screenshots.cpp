// Pictures the agent's windows for docs/screenshots as a user sees them: real top-level windows
// on an X server with a window manager, taken from the screen with their frames and title bars.
// Made-up account data, no service: the windows are filled through their own entry points
// wherever those need no network; the failed start-up is a real one against a closed port.
//
//   tallyframe_screenshots <output folder>      (run by scripts/screenshots.sh)
#include "app/AppControl.h"
#include "app/ProfileState.h"
#include "service/ServiceConfig.h"
#include "ui/Dialogs.h"
#include "ui/Form1.h"
#include "ui/Form2.h"
#include "ui/FrmAkun.h"
#include "ui/FrmConn.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTcpServer>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <cstdio>

namespace {

QString g_outDir;
QString g_nextName;
int g_failures = 0;

// The window's frame as the window manager drew it: the window's own rectangle widened by the
// frame extents the window manager published (Qt's own idea of the frame can lag behind).
QRect frameOf(QWidget* window)
{
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(window->winId()),
                                          QStringLiteral("_NET_FRAME_EXTENTS")});
    xprop.waitForFinished(5000);
    static const QRegularExpression extents(QStringLiteral("= (\\d+), (\\d+), (\\d+), (\\d+)"));
    const auto m = extents.match(QString::fromUtf8(xprop.readAllStandardOutput()));
    if (!m.hasMatch())
        return {};
    return window->geometry().adjusted(-m.captured(1).toInt(), -m.captured(3).toInt(),
                                       m.captured(2).toInt(), m.captured(4).toInt());
}

void pause(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(20);
    }
}

// Lets the window manager frame and focus the window, and Qt paint it.
QRect settle(QWidget* window)
{
    QRect frame;
    for (int i = 0; i < 100 && frame.isNull(); ++i) {
        pause(50);
        if (window->windowHandle() && window->windowHandle()->isExposed())
            frame = frameOf(window);
    }
    // A focused window's title bar, as the user has it when the window comes up. The window
    // manager may hold focus back from a window that asks for it itself; a pager's request
    // (what xdotool sends) it follows.
    if (!frame.isNull())
        QProcess::execute(QStringLiteral("xdotool"),
                          {QStringLiteral("windowactivate"), QString::number(window->winId())});
    for (int i = 0; i < 40 && !window->isActiveWindow(); ++i)
        pause(50);
    pause(400);
    return frame.isNull() ? frame : frameOf(window);
}

void save(QWidget* window, const QString& name)
{
    window->show();
    window->raise();
    window->activateWindow();
    const QRect frame = settle(window);
    const QString path = QDir(g_outDir).filePath(name + QStringLiteral(".png"));
    if (frame.isNull()) {
        std::fprintf(stderr, "%s: no window manager framed the window\n", qPrintable(name));
        ++g_failures;
        return;
    }
    // From the screen, so that the frame and the caption the window manager drew are in it.
    const QPixmap picture =
        window->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    if (picture.isNull() || !picture.save(path)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
        ++g_failures;
        return;
    }
    std::printf("%s (%dx%d)\n", qPrintable(path), picture.width(), picture.height());
}

// Instead of running a modal loop, each modal window is pictured and put away again.
class CaptureDialogs : public Dialogs
{
public:
    void messageBox(const QString& text, int, const QString&) override
    {
        std::fprintf(stderr, "message box: %s\n", qPrintable(text));
    }
    bool askYesNo(const QString&, int, const QString&) override { return false; }
    QString inputBox(const QString&, const QString&, const QString&) override { return {}; }
    void showModal(QDialog* window) override
    {
        save(window, g_nextName);
        window->hide();
    }
    bool openUrl(const QString& target, int) override
    {
        std::fprintf(stderr, "open: %s\n", qPrintable(target));
        return true;
    }
    void endApp() override { std::fprintf(stderr, "end\n"); }
};

// A loopback port where nothing listens: the service is down.
QString closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return QStringLiteral("http://127.0.0.1:%1").arg(port);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    SetUpApplication();
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        std::fprintf(stderr, "needs an X server with a window manager (scripts/screenshots.sh)\n");
        return 2;
    }
    g_outDir = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(g_outDir)) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    CaptureDialogs dialogs;
    qputenv("TALLYFRAME_DEVICE_NAME", "00:1A:2B:3C:4D:5E");

    {
        // A first start while the service cannot be reached: the window says why and when it
        // tries again.
        ServiceClient client;
        Form1 failed(client, dialogs); // its links show the build's service address
        client = ServiceClient({closedPort()});
        failed.Tampil();
        failed.startupRetryTimer()->stop();
        save(&failed, QStringLiteral("startup-failed"));
        ProfileState::instance() = ProfileState();
    }

    ProfileState& profile = ProfileState::instance();
    profile.CompanyName = QStringLiteral("Toko Maju Jaya");
    profile.ApiKey = QStringLiteral("5f2c9a41d7e84b0c9e13a6f0b2d4c8e7");
    profile.Telp = QStringLiteral("081234567890");

    // The main window as it stands after a successful start: idle panel, connected.
    ServiceClient client;
    Form1 main(client, dialogs);
    main.setWindowTitle(QStringLiteral("Q17 Tallyframe - Versi ") + ServiceConfig::versionText());
    main.Label7->setText(profile.CompanyName);
    main.setTxtRs(QStringLiteral("Welcome ") + profile.CompanyName +
                  QStringLiteral("...\r\nNothing is impossible ^_^"));
    main.Prompting(QStringLiteral("Terhubung database."));
    save(&main, QStringLiteral("main-window"));

    auto* account = new FrmAkun(client, dialogs, &main);
    g_nextName = QStringLiteral("account-register");
    account->Register(QStringLiteral("Anonymous"));
    g_nextName = QStringLiteral("account-update");
    account->UpdtAccount();

    {
        FrmConn connection(client, dialogs, &main);
        connection.TxtConnStr->setPlainText(
            QStringLiteral("DRIVER={PostgreSQL Unicode};SERVER=192.168.1.10;DATABASE=penjualan;"
                           "UID=kasir;PASSWORD=rahasia;PORT=5432\r\n;OPTION=;STMT=;\r\n"));
        save(&connection, QStringLiteral("connection"));
    }
    {
        // A device the service holds no string for yet.
        FrmConn connection(client, dialogs, &main);
        connection.TxtConnStr->setPlainText({});
        save(&connection, QStringLiteral("connection-empty"));
    }

    g_nextName = QStringLiteral("about");
    main.mnuTtg_Click();

    // A small box of the program's own, as the connection test shows it.
    QTimer::singleShot(0, [] {
        if (QWidget* box = QApplication::activeModalWidget()) {
            save(box, QStringLiteral("test-connection-box"));
            box->close();
        }
    });
    WidgetDialogs().messageBox(QStringLiteral("Connected!"), Dialogs::Information,
                               QStringLiteral("Test Koneksi"));

    {
        Form2 consent(client.hostDisplay(), dialogs, &main);
        save(&consent, QStringLiteral("consent"));
    }

    return g_failures == 0 ? 0 : 1;
}
