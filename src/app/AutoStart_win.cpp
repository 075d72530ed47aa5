// Auto-start on Windows: a value named after the product's executable under the machine's Run key.
// Writing there needs administrator rights, which an ordinary log-on does not have; the per-user
// Run key then carries the entry, so that the agent still comes up at the next log-on.
#include "AutoStart.h"

#include "AppControl.h"
#include "update/UpdateCheck.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {

const QString kMachineRun =
    QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
const QString kUserRun =
    QStringLiteral("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");

// The numbers the system gives for these failures (HRESULTs of access denied, file not found).
constexpr qint32 kAccessDenied = -2147024891;
constexpr qint32 kNotFound = -2147024894;

// The value's name: the product's, also while a file of the update's hand-over runs.
QString valueName()
{
    return ProductBaseName(ExeBaseName());
}

QString productExecutable()
{
    const QFileInfo real(QCoreApplication::applicationFilePath());
    if (QDir::toNativeSeparators(real.absolutePath()) == AppFolder() &&
        real.completeBaseName() == valueName())
        return QDir::toNativeSeparators(real.absoluteFilePath());
    return AppFolder() + QLatin1Char('\\') + valueName() + QStringLiteral(".exe");
}

bool writeValue(const QString& key, const QString& data)
{
    QSettings run(key, QSettings::NativeFormat);
    run.setValue(valueName(), data);
    run.sync();
    return run.status() == QSettings::NoError && run.value(valueName()).toString() == data;
}

bool hasValue(const QString& key)
{
    return QSettings(key, QSettings::NativeFormat).contains(valueName());
}

// True when the value is gone afterwards (also when it was never there).
bool removeValue(const QString& key)
{
    QSettings run(key, QSettings::NativeFormat);
    if (!run.contains(valueName()))
        return true;
    run.remove(valueName());
    run.sync();
    return run.status() == QSettings::NoError && !run.contains(valueName());
}

} // namespace

QString AutoStartCommand()
{
    return QLatin1Char('"') + productExecutable() + QStringLiteral("\" --auto-start");
}

QString AutoStartLocation()
{
    return kMachineRun + QLatin1Char('\\') + valueName();
}

bool AutoStartEntryExists()
{
    return hasValue(kMachineRun) || hasValue(kUserRun);
}

void SetAutoStart(bool enable, qint32& errorNumber)
{
    const QString data = AutoStartCommand();
    if (enable) {
        // Two entries would start the agent twice at log-on: keep exactly one.
        if (writeValue(kMachineRun, data) ||
            QSettings(kMachineRun, QSettings::NativeFormat).value(valueName()).toString() == data) {
            removeValue(kUserRun);
            return;
        }
        if (!writeValue(kUserRun, data))
            errorNumber = kAccessDenied;
        return;
    }

    const bool existed = hasValue(kMachineRun) || hasValue(kUserRun);
    const bool machineGone = removeValue(kMachineRun);
    const bool userGone = removeValue(kUserRun);
    if (!machineGone || !userGone)
        errorNumber = kAccessDenied;
    else if (!existed)
        errorNumber = kNotFound;
}
