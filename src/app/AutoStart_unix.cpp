// Auto-start on desktops that follow the XDG autostart convention: a .desktop file named after
// the product's executable under $XDG_CONFIG_HOME/autostart (~/.config/autostart when unset).
#include "AutoStart.h"

#include "AppControl.h"
#include "update/UpdateCheck.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>

namespace {

QString configHome()
{
    // Only an absolute path counts; anything else falls back to the default.
    const QString fromEnv = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!fromEnv.isEmpty() && QDir::isAbsolutePath(fromEnv))
        return fromEnv;
    return QDir::homePath() + QStringLiteral("/.config");
}

// The product's file. When that is the file running, the real path is taken: a name with dots
// in it loses its last part in ExeBaseName().
QString productExecutable(const ExeIdentity& exe)
{
    const QString product = ProductBaseName(exe.baseName);
    const QFileInfo real(QCoreApplication::applicationFilePath());
    if (QDir::toNativeSeparators(real.absolutePath()) == exe.folder &&
        real.completeBaseName() == product)
        return real.absoluteFilePath();
    return exe.folder + QLatin1Char('/') + ExeFileName(product);
}

// One argument of an Exec line: inside double quotes, ", `, $ and \ take a backslash. The whole
// value is then a desktop-entry string, where a backslash is doubled once more and control
// characters are written as escapes (a raw line break would start a new key). A literal % is
// written %% so that it is not read as a field code.
QString quotedExecArgument(const QString& argument)
{
    QString escaped;
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            escaped += QLatin1String("\\\\"); // the shell's backslash, doubled for the entry
        if (c == u'\\')
            escaped += QLatin1String("\\\\");
        else if (c == u'\n')
            escaped += QLatin1String("\\n");
        else if (c == u'\r')
            escaped += QLatin1String("\\r");
        else if (c == u'\t')
            escaped += QLatin1String("\\t");
        else if (c == u'%')
            escaped += QLatin1String("%%");
        else
            escaped += c;
    }
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

qint32 lastErrno(qint32 fallback)
{
    return errno != 0 ? qint32(errno) : fallback;
}

} // namespace

QString AutoStartCommand(const ExeIdentity& exe)
{
    return quotedExecArgument(productExecutable(exe)) + QStringLiteral(" --auto-start");
}

QString AutoStartLocation(const ExeIdentity& exe)
{
    return configHome() + QStringLiteral("/autostart/") + ProductBaseName(exe.baseName) +
           QStringLiteral(".desktop");
}

bool AutoStartEntryExists(const ExeIdentity& exe)
{
    return QFileInfo::exists(AutoStartLocation(exe));
}

void SetAutoStart(bool enable, qint32& errorNumber, const ExeIdentity& exe)
{
    const QString path = AutoStartLocation(exe);
    errno = 0;
    if (!enable) {
        QFile entry(path);
        if (!entry.exists()) {
            errorNumber = ENOENT;
            return;
        }
        if (!entry.remove())
            errorNumber = lastErrno(EACCES);
        return;
    }

    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        errorNumber = lastErrno(EACCES);
        return;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        errorNumber = lastErrno(EACCES);
        return;
    }
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=Q17 Tallyframe\n"
                                        "Exec=") +
                         AutoStartCommand(exe) +
                         QStringLiteral("\n"
                                        "Terminal=false\n"
                                        "X-GNOME-Autostart-enabled=true\n");
    file.write(text.toUtf8());
    if (!file.commit())
        errorNumber = lastErrno(EIO);
}
