// The agent's own log file. Started from the auto-start entry, the agent's stderr goes nowhere:
// the status line's history and every warning also go to a small file in its data folder, for
// whoever has to find out afterwards what happened. stderr keeps getting everything.
#pragma once

#include <QFile>
#include <QMutex>
#include <QString>

// A file that never grows past `cap` bytes (unless one line does): when the next line would not
// fit, the file becomes "<name>.1", "<name>.1" becomes "<name>.2" and so on, `kept` older files
// in all. An earlier run's file is moved aside the same way when it is opened. A folder that
// cannot be written costs nothing but the file.
class RotatingLog
{
public:
    RotatingLog(const QString& filePath, qint64 cap, int kept);
    // Safe from any thread.
    void write(const QByteArray& line);

private:
    void rotate();

    QMutex m_mutex;
    QFile m_file;
    const qint64 m_cap;
    const int m_kept;
};

namespace AgentLog {

// Opens the log in `folder` and chains Qt's message handler to it: the messages of the status
// category and every warning or worse are written there, formatted by the message pattern.
void install(const QString& folder);
// Where the log file is (or would be, before install()): for the About window.
QString filePath();
// The folder the agent keeps its own files in; the temporary folder when there is none.
QString dataFolder();

} // namespace AgentLog
