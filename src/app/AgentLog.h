// The agent's own log file. Started from the auto-start entry, the agent's stderr goes nowhere:
// the status line's history and every warning also go to a small file in its data folder.
#pragma once

#include <QFile>
#include <QMutex>
#include <QString>

// A file that does not grow past `cap` bytes (unless one line does): when the next line would
// not fit, and when it is opened with an earlier run's lines, it becomes "<name>.1", "<name>.1"
// becomes "<name>.2", and so on up to `kept`. A folder that cannot be written costs only the file.
class RotatingLog
{
public:
    RotatingLog(const QString& filePath, qint64 cap, int kept);
    void write(const QByteArray& line); // from any thread

private:
    void rotate();

    QMutex m_mutex;
    QFile m_file;
    const qint64 m_cap;
    const int m_kept;
};

namespace AgentLog {

// Opens the log in `folder` and puts a message handler before the present one (stderr), which
// still gets everything: the status category and every warning or worse go to the file too.
void install(const QString& folder);
// Where the log file is, or will be before install(): for the About window.
QString filePath();
// The folder the agent keeps its own files in; the temporary folder when there is none.
QString dataFolder();

} // namespace AgentLog
