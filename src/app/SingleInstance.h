// One agent per user session. The agent holds a lock file in its data folder for its whole life
// and listens on a local socket; a second start finds the lock taken, asks the running agent to
// show its window and ends. A run of the update's hand-over instead waits a while for the lock
// of the build it replaces, which is on its way out.
#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QLocalServer;
class QLockFile;

class SingleInstance : public QObject
{
    Q_OBJECT

public:
    // folder: where the lock file lies (the agent's data folder, made when missing).
    explicit SingleInstance(const QString& folder);
    ~SingleInstance() override;

    // Takes the lock, waiting up to waitMs for a holder that is ending. On success the agent
    // listens for later starts from then on. False when another agent keeps it.
    bool acquire(int waitMs);
    // Asks the agent that holds the lock to show its window; it may still be starting, so this
    // tries for up to waitMs. False when none answered.
    bool wakeRunning(int waitMs);
    // Gives the lock up at once (the process is about to end without running destructors).
    void release();

    // The instance of this process, while one exists.
    static SingleInstance* current();

signals:
    // A later start asked for the window.
    void wakeRequested();

private:
    QString m_serverName;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer* m_server = nullptr;
};
