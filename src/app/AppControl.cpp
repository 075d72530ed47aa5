#include "AppControl.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>

#include <cstdio>
#include <cstdlib>

Q_LOGGING_CATEGORY(lcApp, "tallyframe.app")
Q_LOGGING_CATEGORY(lcStatus, "tallyframe.status", QtInfoMsg)

void EndApp()
{
    qCInfo(lcApp) << "EndApp";
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(0);
}

QString AppFolder()
{
    QString folder = QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
    if (folder.size() > 1 &&
        (folder.endsWith(QLatin1Char('\\')) || folder.endsWith(QLatin1Char('/'))))
        folder.chop(1);
    return folder;
}

QString ExeBaseName()
{
    const QFileInfo file(QCoreApplication::applicationFilePath());
#ifdef Q_OS_WIN
    return file.completeBaseName();
#else
    // Executables have no extension here: a dot belongs to the name.
    return file.fileName();
#endif
}

QString ExeFileName(const QString& baseName)
{
#ifdef Q_OS_WIN
    return baseName + QStringLiteral(".EXE");
#else
    return baseName;
#endif
}

void logStatus(const QString& text)
{
    qCInfo(lcStatus).noquote() << text;
}

void SetUpApplication()
{
    // The name is also the title of a box that has none of its own.
    QCoreApplication::setApplicationName(QStringLiteral("Q17 Tallyframe"));
    QCoreApplication::setOrganizationName(QStringLiteral("Instansi"));
    // The agent lives on in the tray with no window shown.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    // Boxes and input boxes carry the agent's icon too, not the window system's blank one.
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/images/app-icon.png")));
}
