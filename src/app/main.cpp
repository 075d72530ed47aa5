// Entry point: create the main window and run its start-up. The command line is not read.
#include "app/LoopMonitor.h"
#include "ui/Form1.h"
#include "ui/Form2.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    qSetMessagePattern(QStringLiteral("%{time yyyy-MM-dd HH:mm:ss.zzz} %{category}: %{message}"));
    QApplication app(argc, argv);
    LoopMonitor::startIfRequested();
    QApplication::setApplicationName(QStringLiteral("Q17 Tallyframe"));
    QApplication::setApplicationDisplayName(QStringLiteral("Q17 Tallyframe"));
    QApplication::setOrganizationName(QStringLiteral("Instansi"));
    // The agent lives on in the tray with no window shown.
    QApplication::setQuitOnLastWindowClosed(false);

    Form1& form = Form1::instance();
    // A new machine hears what the agent will do before it does any of it.
    Form2::showAtFirstStart(&form);
    form.watchSessionEnd();
    form.Tampil();
    return app.exec();
}
