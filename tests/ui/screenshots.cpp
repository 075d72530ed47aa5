// Renders the agent's windows to PNG files (docs/screenshots) the way Qt paints them, with
// made-up account data and no service: the windows are filled through their own entry points
// wherever those need no network.
//
//   tallyframe_screenshots <output folder>
#include "app/ProfileState.h"
#include "ui/Dialogs.h"
#include "ui/Form1.h"
#include "ui/FrmAkun.h"
#include "ui/FrmConn.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QTextStream>
#include <QWidget>

#include <cstdio>

namespace {

QString g_outDir;
QString g_nextName;
int g_failures = 0;

void settle()
{
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
}

void save(QWidget* window, const QString& name)
{
    window->show();
    settle();
    const QString path = QDir(g_outDir).filePath(name + QStringLiteral(".png"));
    const QPixmap picture = window->grab();
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
    void showModal(QWidget* window) override
    {
        save(window, g_nextName);
        window->hide();
    }
};

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Q17 Tallyframe"));
    QApplication::setApplicationDisplayName(QStringLiteral("Q17 Tallyframe"));
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    g_outDir = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(g_outDir)) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    CaptureDialogs dialogs;
    Dialogs::install(&dialogs);

    ProfileState& profile = ProfileState::instance();
    profile.CompanyName = QStringLiteral("Toko Maju Jaya");
    profile.ApiKey = QStringLiteral("5f2c9a41d7e84b0c9e13a6f0b2d4c8e7");
    profile.Telp = QStringLiteral("081234567890");

    // The main window as it stands after a successful start: idle panel, connected.
    Form1 main;
    main.setWindowTitle(QStringLiteral("Q17 Tallyframe - Versi 1.0.0"));
    main.Label7->setText(profile.CompanyName);
    main.setTxtRs(QStringLiteral("Welcome ") + profile.CompanyName +
                  QStringLiteral("...\r\nNothing is impossible ^_^"));
    main.Prompting(QStringLiteral("Terhubung database."));
    save(&main, QStringLiteral("main-window"));

    g_nextName = QStringLiteral("account-register");
    FrmAkun::instance().Register(QStringLiteral("Anonymous"));
    g_nextName = QStringLiteral("account-update");
    FrmAkun::instance().UpdtAccount();

    FrmConn connection;
    connection.setConnectionString(
        QStringLiteral("DRIVER={PostgreSQL Unicode};SERVER=192.168.1.10;DATABASE=penjualan;"
                       "UID=kasir;PASSWORD=rahasia;PORT=5432\r\n;OPTION=;STMT=;\r\n"));
    save(&connection, QStringLiteral("connection"));

    g_nextName = QStringLiteral("about");
    main.mnuTtg_Click();

    delete FrmAkun::existing();
    Dialogs::install(nullptr);
    return g_failures == 0 ? 0 : 1;
}
