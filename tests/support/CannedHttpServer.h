// A loopback HTTP server that records each raw request and answers with a canned reply, for
// checking exactly what the client sends and how it reads odd answers.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QPair>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

class CannedHttpServer : public QObject
{
public:
    enum class Mode
    {
        Answer,
        CloseAtOnce,
        NeverAnswer,
        ShortBody,
        Endless // status 200 and a body that never ends
    };

    CannedHttpServer()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection())
                serve(socket);
        });
    }

    QString baseUrl() const
    {
        return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort());
    }

    int status = 200;
    QByteArray body = "ok";
    // Answers by path (without the query); paths not listed get status/body above.
    QMap<QByteArray, QPair<int, QByteArray>> routes;
    // Location headers by path: with a 3xx route, a redirect.
    QMap<QByteArray, QByteArray> locations;
    Mode mode = Mode::Answer;
    QMap<QByteArray, Mode> routeModes; // modes by path, over `mode`
    int disconnects = 0;               // connections the client closed
    QList<QByteArray> requestLines;    // "GET /path?query HTTP/1.1"
    QList<QByteArray> requestBodies;
    QList<QByteArray> contentTypes;

private:
    void serve(QTcpSocket* socket)
    {
        connect(socket, &QTcpSocket::disconnected, this, [this] { ++disconnects; });
        auto buffer = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
            buffer->append(socket->readAll());
            const qsizetype headerEnd = buffer->indexOf("\r\n\r\n");
            if (headerEnd < 0)
                return;
            const QByteArray head = buffer->left(headerEnd);
            qsizetype length = 0;
            QByteArray contentType;
            for (const QByteArray& line : head.split('\n')) {
                const QByteArray l = line.trimmed();
                if (l.toLower().startsWith("content-length:"))
                    length = l.mid(15).trimmed().toLongLong();
                if (l.toLower().startsWith("content-type:"))
                    contentType = l.mid(13).trimmed();
            }
            if (buffer->size() < headerEnd + 4 + length)
                return;
            requestLines << head.left(head.indexOf("\r\n"));
            requestBodies << buffer->mid(headerEnd + 4, length);
            contentTypes << contentType;
            buffer->clear();
            respond(socket, head.left(head.indexOf("\r\n")));
        });
    }

    void respond(QTcpSocket* socket, const QByteArray& requestLine)
    {
        QByteArray path = requestLine.split(' ').value(1);
        path = path.left(path.indexOf('?') < 0 ? path.size() : path.indexOf('?'));
        const auto route = routes.constFind(path);
        switch (routeModes.value(path, mode)) {
        case Mode::Endless: {
            // A body without a length that runs until the connection closes. (Chunked, it
            // stalled Qt 6.4's reader now and then: the client stopped reading its socket with
            // data waiting, and only the time-out ended the call.)
            socket->write("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
            auto* pump = new QTimer(socket);
            connect(pump, &QTimer::timeout, socket, [socket] {
                if (socket->bytesToWrite() < (1 << 20))
                    socket->write(QByteArray(0x10000, 'x'));
            });
            pump->start(0);
            return;
        }
        case Mode::CloseAtOnce:
            socket->abort();
            return;
        case Mode::NeverAnswer:
            return;
        case Mode::ShortBody:
            socket->write(
                "HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\nhalf");
            socket->flush();
            QTimer::singleShot(50, socket, [socket] { socket->disconnectFromHost(); });
            return;
        case Mode::Answer:
            break;
        }
        const int answerStatus = route != routes.cend() ? route->first : status;
        const QByteArray answerBody = route != routes.cend() ? route->second : body;
        const QByteArray location = locations.value(path);
        socket->write("HTTP/1.1 " + QByteArray::number(answerStatus) +
                      " X\r\nContent-Length: " + QByteArray::number(answerBody.size()) +
                      (location.isEmpty() ? QByteArray() : "\r\nLocation: " + location) +
                      "\r\nContent-Type: text/plain\r\n\r\n" + answerBody);
    }

    QTcpServer m_server;
};
