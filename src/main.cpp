// Entry point: create the main window and run its start-up. The command line is not read.
#include "app/AgentLog.h"
#include "app/AppControl.h"
#include "app/LoopMonitor.h"
#include "app/SingleInstance.h"
#include "service/ServiceClient.h"
#include "ui/Dialogs.h"
#include "ui/Form1.h"
#include "ui/Form2.h"
#include "update/SelfUpdate.h"

#include <QApplication>

namespace {

// How long a run of the update's hand-over waits for the build it replaces to end, and how
// long a second start tries to reach the running agent.
constexpr int kHandOverWaitMs = 30000;
constexpr int kWakeWaitMs = 5000;

} // namespace

int main(int argc, char* argv[])
{
    qSetMessagePattern(QStringLiteral("%{time yyyy-MM-dd HH:mm:ss.zzz} %{category}: %{message}"));
    QApplication app(argc, argv);
    // The window's thread talks to the service through this client; the courier makes its own.
    ServiceClient service;
    WidgetDialogs dialogs;
    LoopMonitor::startIfRequested([&service] { return service.busy(); });
    SetUpApplication();

    const UpdateSite site{AppFolder(), ExeBaseName(), ExeFileName(QString())};
    const bool handOver = IsHandOverRun(site);
    // One agent per user session: two would run every report request twice.
    SingleInstance instance(AgentLog::dataFolder());
    if (!instance.acquire(handOver ? kHandOverWaitMs : 0)) {
        if (!instance.wakeRunning(kWakeWaitMs))
            qCWarning(lcApp) << "the running agent did not answer";
        return 0;
    }
    // No other run is under way now: the log file and whatever an interrupted update left are
    // ours.
    AgentLog::install(AgentLog::dataFolder());
    RemoveUpdateLeftovers(site);

    Form1& form = *new Form1(service, dialogs); // lives until the process ends
    QObject::connect(&instance, &SingleInstance::wakeRequested, &form, [&form] {
        form.showNormal();
        form.raise();
        form.activateWindow();
    });
    // A new machine hears what the agent will do before it does any of it; a run of the
    // update's hand-over is no new machine, whatever entry it finds.
    if (!handOver)
        Form2::showAtFirstStart(service.hostDisplay(), dialogs, &form);
    form.watchSessionEnd();
    form.Tampil();
    return app.exec();
}
