#include "SingleInstance.h"

#include "AppControl.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>

#include <utility>

namespace {

SingleInstance* g_current = nullptr;
constexpr char kWake[] = "show\n";

} // namespace

SingleInstance::SingleInstance(const QString& folder)
{
    QDir().mkpath(folder);
    const QDir dir(folder);
    // The socket's name is short and the same for every start from this data folder, that is
    // for this user: a path in the folder itself could pass the length limit of socket names.
    m_serverName = QStringLiteral("q17-tallyframe-") +
                   QString::fromLatin1(QCryptographicHash::hash(dir.absolutePath().toUtf8(),
                                                                QCryptographicHash::Sha256)
                                           .toHex()
                                           .left(24));
    m_lock = std::make_unique<QLockFile>(dir.filePath(QStringLiteral("agent.lock")));
    // A lock is never too old while its holder lives; one whose process is gone is taken over.
    m_lock->setStaleLockTime(0);
    g_current = this;
}

SingleInstance::~SingleInstance()
{
    release();
    if (g_current == this)
        g_current = nullptr;
}

SingleInstance* SingleInstance::current()
{
    return g_current;
}

bool SingleInstance::acquire(int waitMs)
{
    if (!m_lock->tryLock(waitMs)) {
        qint64 pid = 0;
        QString host, app;
        m_lock->getLockInfo(&pid, &host, &app);
        qCInfo(lcApp).noquote() << "another agent runs (process" << pid << ")";
        return false;
    }
    // A socket left by a holder that died would stop the listening.
    QLocalServer::removeServer(m_serverName);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (socket->readAll().contains(kWake)) {
                    qCInfo(lcApp) << "a second start asked for the window";
                    emit wakeRequested();
                }
            });
        }
    });
    if (!m_server->listen(m_serverName))
        qCWarning(lcApp).noquote() << "cannot listen for later starts:" << m_server->errorString();
    return true;
}

bool SingleInstance::wakeRunning(int waitMs)
{
    const QDeadlineTimer deadline(waitMs);
    for (;;) {
        QLocalSocket socket;
        socket.connectToServer(m_serverName);
        if (socket.waitForConnected(1000)) {
            socket.write(kWake);
            const bool sent = socket.waitForBytesWritten(1000);
            socket.disconnectFromServer();
            if (socket.state() != QLocalSocket::UnconnectedState)
                socket.waitForDisconnected(1000);
            if (sent)
                return true;
        }
        if (deadline.hasExpired())
            return false;
        // The running agent may have the lock but not listen yet.
        QThread::msleep(100);
    }
}

void SingleInstance::release()
{
    delete std::exchange(m_server, nullptr); // which stops its listening
    m_lock->unlock();
}
