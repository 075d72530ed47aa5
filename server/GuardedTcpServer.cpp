// Per-connection limits in front of Qt HttpServer.
#include "GuardedTcpServer.h"

#include <QLoggingCategory>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

Q_DECLARE_LOGGING_CATEGORY(lcServer)

namespace {

QByteArray statusLine(int status)
{
    switch (status) {
    case 408:
        return "408 Request Timeout";
    case 411:
        return "411 Length Required";
    case 413:
        return "413 Payload Too Large";
    case 429:
        return "429 Too Many Requests";
    case 431:
        return "431 Request Header Fields Too Large";
    default:
        return "400 Bad Request";
    }
}

// Follows one connection's byte stream request by request: the head up to its empty line, then
// as many body bytes as Content-Length says. It only looks; the HTTP server reads the bytes
// after it, unless this refused the request.
class ConnectionWatch : public QObject
{
public:
    ConnectionWatch(QTcpSocket* socket, GuardedTcpServer* server)
        : QObject(socket), m_socket(socket), m_server(server)
    {
        const ConnectionLimits& limits = server->limits();
        m_idle.setSingleShot(true);
        m_deadline.setSingleShot(true);
        m_deadline.setInterval(limits.requestMs);
        connect(&m_idle, &QTimer::timeout, this, [this]() {
            if (m_inRequest)
                refuse(408, "no data for a while in the middle of a request");
            else
                m_socket->disconnectFromHost(); // an idle keep-alive connection
        });
        connect(&m_deadline, &QTimer::timeout, this,
                [this]() { refuse(408, "a request took too long to arrive"); });
        // Connected before the HTTP server connects its own slot, so this one runs first.
        connect(socket, &QTcpSocket::readyRead, this, &ConnectionWatch::onReadyRead);
        m_idle.start(limits.keepAliveMs);
    }

private:
    void onReadyRead()
    {
        if (m_refused) {
            m_socket->skip(m_socket->bytesAvailable());
            return;
        }
        // Body bytes are only counted: a large upload is not copied once more on its way.
        const qint64 available = m_socket->bytesAvailable();
        if (m_inRequest && m_bodyLeft >= available) {
            m_bodyLeft -= available;
            if (m_bodyLeft == 0)
                requestDone();
            m_idle.start(m_inRequest ? m_server->limits().idleMs : m_server->limits().keepAliveMs);
            return;
        }
        const QByteArray data = m_socket->peek(available);
        QByteArrayView rest(data);
        while (!rest.isEmpty() && !m_refused) {
            if (!m_inRequest) {
                m_inRequest = true;
                m_deadline.start();
            }
            if (m_bodyLeft > 0) {
                const qint64 take = qMin<qint64>(m_bodyLeft, rest.size());
                m_bodyLeft -= take;
                rest = rest.sliced(take);
                if (m_bodyLeft == 0)
                    requestDone();
                continue;
            }
            rest = rest.sliced(takeHead(rest));
        }
        if (!m_refused)
            m_idle.start(m_inRequest ? m_server->limits().idleMs : m_server->limits().keepAliveMs);
    }

    // Takes head bytes; returns how many it took.
    qsizetype takeHead(QByteArrayView bytes)
    {
        const ConnectionLimits& limits = m_server->limits();
        const qsizetype before = m_head.size();
        const qsizetype room = qMax<qsizetype>(0, limits.maxHeaderBytes + 4 - before);
        const qsizetype appended = qMin(room, bytes.size());
        m_head.append(bytes.first(appended));
        const qsizetype end = m_head.indexOf("\r\n\r\n", qMax<qsizetype>(0, before - 3));
        if (end < 0) {
            if (m_head.size() > limits.maxHeaderBytes)
                refuse(431, "request header too large");
            else if (m_head.count("\r\n") > limits.maxHeaderCount + 1)
                refuse(431, "too many request header fields");
            return m_refused ? bytes.size() : appended;
        }
        const qsizetype headBytes = end + 4;
        const QByteArray head = m_head.first(headBytes);
        m_head.clear();
        if (headBytes - 4 > limits.maxHeaderBytes) {
            refuse(431, "request header too large");
            return bytes.size();
        }
        // The request line and the empty line's break are not header fields.
        if (head.count("\r\n") - 2 > limits.maxHeaderCount) {
            refuse(431, "too many request header fields");
            return bytes.size();
        }
        qint64 length = 0;
        for (const QByteArray& line : head.split('\n')) {
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0)
                continue;
            const QByteArray name = line.first(colon).trimmed().toLower();
            const QByteArray value = line.sliced(colon + 1).trimmed();
            if (name == "transfer-encoding" && value.toLower() != "identity") {
                refuse(411, "a body without Content-Length");
                return bytes.size();
            }
            if (name == "content-length") {
                bool isNumber = false;
                length = value.toLongLong(&isNumber);
                if (!isNumber || length < 0) {
                    refuse(400, "an invalid Content-Length");
                    return bytes.size();
                }
            }
        }
        if (length > limits.maxBodyBytes) {
            refuse(413, QStringLiteral("a body of %1 bytes").arg(length));
            return bytes.size();
        }
        m_bodyLeft = length;
        if (m_bodyLeft == 0)
            requestDone();
        return headBytes - before;
    }

    void requestDone()
    {
        m_inRequest = false;
        m_deadline.stop();
    }

    void refuse(int status, const QString& reason)
    {
        m_refused = true;
        m_idle.stop();
        m_deadline.stop();
        const QString address = m_socket->peerAddress().toString();
        qCWarning(lcServer).noquote()
            << "refused" << statusLine(status) << "to" << address << "for" << reason;
        emit m_server->refused(reason);
        // What the HTTP server has not read yet it never sees.
        m_socket->skip(m_socket->bytesAvailable());
        const QByteArray body = "Error: " + statusLine(status).sliced(4).toLower();
        m_socket->write("HTTP/1.1 " + statusLine(status) +
                        "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
                        QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        m_socket->disconnectFromHost();
    }

    QTcpSocket* m_socket;
    GuardedTcpServer* m_server;
    QTimer m_idle, m_deadline;
    QByteArray m_head;
    qint64 m_bodyLeft = 0;
    bool m_inRequest = false;
    bool m_refused = false;
};

} // namespace

GuardedTcpServer::GuardedTcpServer(const ConnectionLimits& limits, QObject* parent)
    : QTcpServer(parent), m_limits(limits)
{}

void GuardedTcpServer::incomingConnection(qintptr handle)
{
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(handle)) {
        delete socket;
        return;
    }
    const QString address = socket->peerAddress().toString();
    if (m_open.value(address) >= m_limits.maxConnectionsPerAddress) {
        qCWarning(lcServer).noquote() << "refused a connection from" << address << "with"
                                      << m_open.value(address) << "open already";
        emit refused(QStringLiteral("too many connections"));
        const QByteArray body = "Error: too many connections";
        socket->write("HTTP/1.1 429 Too Many Requests\r\nContent-Type: text/plain; "
                      "charset=utf-8\r\nContent-Length: " +
                      QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        socket->disconnectFromHost();
        return;
    }
    ++m_open[address];
    connect(socket, &QObject::destroyed, this, [this, address]() {
        if (--m_open[address] <= 0)
            m_open.remove(address);
    });
    new ConnectionWatch(socket, this);
    addPendingConnection(socket);
}
