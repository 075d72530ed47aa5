#include "AgentLog.h"

#include "AppControl.h"

#include <QDir>
#include <QStandardPaths>

namespace {

const QString kFileName = QStringLiteral("Q17-Tallyframe.log");
QString g_filePath;
RotatingLog* g_log = nullptr;
QtMessageHandler g_previous = nullptr;
// A message raised while writing one (by the file itself) must not wait for its own thread's lock.
thread_local bool t_writing = false;

void handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const bool wanted = (type != QtDebugMsg && type != QtInfoMsg) ||
                        qstrcmp(context.category, lcStatus().categoryName()) == 0;
    if (wanted && !t_writing) {
        t_writing = true;
        try {
            g_log->write(qFormatLogMessage(type, context, message).toUtf8() + '\n');
        } catch (...) {
            // Out of memory: the message still reaches stderr.
        }
        t_writing = false;
    }
    g_previous(type, context, message);
}

} // namespace

RotatingLog::RotatingLog(const QString& filePath, qint64 cap, int kept)
    : m_file(filePath), m_cap(cap), m_kept(kept)
{
    QDir().mkpath(QFileInfo(filePath).absolutePath());
    if (QFileInfo(filePath).size() > 0)
        rotate();
    else
        m_file.open(QIODevice::Append);
}

void RotatingLog::write(const QByteArray& line)
{
    const QMutexLocker lock(&m_mutex);
    if (m_file.isOpen() && m_file.size() > 0 && m_file.size() + line.size() > m_cap)
        rotate();
    if (m_file.isOpen() && m_file.write(line) > 0)
        m_file.flush();
}

void RotatingLog::rotate()
{
    m_file.close();
    const QString name = m_file.fileName() + QLatin1Char('.');
    QFile::remove(name + QString::number(m_kept));
    for (int older = m_kept - 1; older > 0; --older)
        QFile::rename(name + QString::number(older), name + QString::number(older + 1));
    if (!QFile::rename(m_file.fileName(), name + QLatin1Char('1')))
        QFile::remove(m_file.fileName());
    m_file.open(QIODevice::Append);
}

namespace AgentLog {

void install(const QString& folder)
{
    if (g_log)
        return;
    g_filePath = QDir(folder).filePath(kFileName);
    // Never destroyed: other threads may still log while the process ends.
    g_log = new RotatingLog(g_filePath, 1024 * 1024, 2);
    g_previous = qInstallMessageHandler(handleMessage);
}

QString filePath()
{
    return g_filePath.isEmpty() ? QDir(dataFolder()).filePath(kFileName) : g_filePath;
}

QString dataFolder()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    return folder.isEmpty() ? QDir::tempPath() : folder;
}

} // namespace AgentLog
