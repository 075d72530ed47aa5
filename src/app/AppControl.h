// Ending the process, and the executable's own names.
#pragma once

#include <QLoggingCategory>
#include <QString>

Q_DECLARE_LOGGING_CATEGORY(lcApp)
// The status line's texts, which the log file keeps.
Q_DECLARE_LOGGING_CATEGORY(lcStatus)

// Ends the process at once: no close handler, no orderly shutdown. The windows reach it through
// their Dialogs, which tests replace.
void EndApp();

// The running executable's folder (no trailing separator) and its base name without extension.
QString AppFolder();
QString ExeBaseName();
// The file name an executable of the given base name has on this platform (".EXE" on Windows).
QString ExeFileName(const QString& baseName);

// The executable that the auto-start entry, the tray tip and the update are about: the running
// one unless a caller (a test) names another folder or base name.
struct ExeIdentity
{
    QString folder = AppFolder();
    QString baseName = ExeBaseName();
};

// The application's names and its life in the tray, set once after the application object
// exists; the program and the window tests share it. No display name is set: Qt would append it
// to every window's caption.
void SetUpApplication();

// Every status text also goes to the log with a time stamp, so a headless agent can be followed.
void logStatus(const QString& text);
