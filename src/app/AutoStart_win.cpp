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

QString productExecutable(const ExeIdentity& exe)
{
    const QString product = ProductBaseName(exe.baseName);
    const QFileInfo real(QCoreApplication::applicationFilePath());
    if (QDir::toNativeSeparators(real.absolutePath()) == exe.folder &&
        real.completeBaseName() == product)
        return QDir::toNativeSeparators(real.absoluteFilePath());
    return exe.folder + QLatin1Char('\\') + product + QStringLiteral(".exe");
}

bool writeValue(const QString& key, const QString& name, const QString& data)
{
    QSettings run(key, QSettings::NativeFormat);
    run.setValue(name, data);
    run.sync();
    return run.status() == QSettings::NoError && run.value(name).toString() == data;
}

bool hasValue(const QString& key, const QString& name)
{
    return QSettings(key, QSettings::NativeFormat).contains(name);
}

// True when the value is gone afterwards (also when it was never there).
bool removeValue(const QString& key, const QString& name)
{
    QSettings run(key, QSettings::NativeFormat);
    if (!run.contains(name))
        return true;
    run.remove(name);
    run.sync();
    return run.status() == QSettings::NoError && !run.contains(name);
}

} // namespace

QString AutoStartCommand(const ExeIdentity& exe)
{
    return QLatin1Char('"') + productExecutable(exe) + QStringLiteral("\" --auto-start");
}

// The value's name is the product's, also while a file of the update's hand-over runs.
QString AutoStartLocation(const ExeIdentity& exe)
{
    return kMachineRun + QLatin1Char('\\') + ProductBaseName(exe.baseName);
}

bool AutoStartEntryExists(const ExeIdentity& exe)
{
    const QString name = ProductBaseName(exe.baseName);
    return hasValue(kMachineRun, name) || hasValue(kUserRun, name);
}

void SetAutoStart(bool enable, qint32& errorNumber, const ExeIdentity& exe)
{
    const QString name = ProductBaseName(exe.baseName);
    const QString data = AutoStartCommand(exe);
    if (enable) {
        // Two entries would start the agent twice at log-on: keep exactly one.
        if (writeValue(kMachineRun, name, data) ||
            QSettings(kMachineRun, QSettings::NativeFormat).value(name).toString() == data) {
            removeValue(kUserRun, name);
            return;
        }
        if (!writeValue(kUserRun, name, data))
            errorNumber = kAccessDenied;
        return;
    }

    const bool existed = hasValue(kMachineRun, name) || hasValue(kUserRun, name);
    const bool machineGone = removeValue(kMachineRun, name);
    const bool userGone = removeValue(kUserRun, name);
    if (!machineGone || !userGone)
        errorNumber = kAccessDenied;
    else if (!existed)
        errorNumber = kNotFound;
}
