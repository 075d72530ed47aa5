// Helpers for the window tests: a stand-in service with fixed answers (for answers the
// reference service never gives), an address where nothing listens, and an environment guard.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QStringList>
#include <QTcpServer>
#include <QUrl>

// Sets an environment variable for its life and puts the old value back.
class EnvGuard
{
public:
    EnvGuard(const char* name, const QString& value)
        : m_name(name), m_previous(qgetenv(name)), m_wasSet(qEnvironmentVariableIsSet(name))
    {
        qputenv(name, value.toUtf8());
    }
    ~EnvGuard()
    {
        if (m_wasSet)
            qputenv(m_name, m_previous);
        else
            qunsetenv(m_name);
    }
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;

private:
    const char* m_name;
    QByteArray m_previous;
    bool m_wasSet;
};

// A loopback address whose port was just given up: a request there is refused outright.
inline QString refusingServiceUrl()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return QStringLiteral("http://127.0.0.1:%1").arg(port);
}

// Answers the given paths with a fixed status and body and records every request's path and
// query; any other path gets 404. Point the agent at it with EnvGuard.
class StubService
{
public:
    StubService() { m_port = m_http.listen(QHostAddress::LocalHost, 0); }

    void answer(const QString& path, int status, const QByteArray& body)
    {
        m_http.route(path, [this, status, body](const QHttpServerRequest& request) {
            requests << request.url().path() + QLatin1Char('?') + request.url().query();
            return QHttpServerResponse("text/plain", body,
                                       static_cast<QHttpServerResponse::StatusCode>(status));
        });
    }

    QString baseUrl() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_port); }

    // The query of the first request to a path ("" when there was none).
    QString firstQuery(const QString& path) const
    {
        for (const QString& r : requests) {
            if (r.startsWith(path + QLatin1Char('?')))
                return r.mid(path.size() + 1);
        }
        return {};
    }

    QStringList requests;

private:
    QHttpServer m_http;
    quint16 m_port = 0;
};
