// The main window's side of the self-update: the check at start-up, on the timer and on the
// banner's double-click, with its progress in the status line.
#include "Form1.h"

#include "app/AppControl.h"
#include "app/SettingsStore.h"
#include "app/SingleInstance.h"
#include "service/ServiceConfig.h"
#include "ui/Dialogs.h"
#include "update/SelfUpdate.h"
#include "update/UpdateCheck.h"
#include "update/UpdateSignature.h"

#include <QScopedValueRollback>
#include <QSettings>

void Form1::CekUpdt()
{
    // The check waits for the network and for files in local event loops: no poll or start-up
    // retry may run in between, whoever started the check.
    const QScopedValueRollback<bool> inTick(m_inTick, true);

    const UpdateSite site{m_exe.folder, m_exe.baseName, ExeFileName(QString()), UpdatePublicKey(),
                          ServiceConfig::versionText()};
    UpdateHooks hooks;
    hooks.prompt = [this](const QString& text) { Prompting(text); };
    hooks.start = [this](const QString& path) { return m_dialogs.openUrl(path, 1); };
    hooks.end = [this] {
        // The successor waits for this lock: hand it over before ending.
        if (SingleInstance* instance = SingleInstance::current())
            instance->release();
        m_dialogs.endApp();
    };
    // The update's memory lives with the agent's other local settings.
    const QString section = QStringLiteral("Aplikasi/");
    hooks.recall = [section](const QString& key) {
        return SettingsStore::open()->value(section + key).toString();
    };
    hooks.remember = [section](const QString& key, const QString& value) {
        const auto store = SettingsStore::open();
        store->setValue(section + key, value);
        store->sync();
    };
    UpdateOutcome outcome = UpdateOutcome::Continued;
    try {
        outcome = RunUpdateCheck(m_service, site, hooks);
    } catch (const std::exception& e) {
        // The program runs on without its update, whatever went wrong.
        qCWarning(lcUpdate) << "update check failed:" << e.what();
        Prompting(QLatin1String(UpdateText::CheckFailed));
    }
    if (outcome != UpdateOutcome::HandedOver)
        setWindowCaption();
}

void Form1::TmrAutoUpdt_Timer()
{
    // One counter for the life of the process, as the timer itself lives that long.
    static UpdateTickCounter counter;
    if (counter.tick())
        CekUpdt();
}
