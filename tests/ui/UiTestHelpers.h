// Helpers for the window tests: a stand-in service with fixed answers (for answers the
// reference service never gives), an address where nothing listens, and an environment guard.
#pragma once

#include "support/CannedHttpServer.h"

#include <QByteArray>
#include <QHostAddress>
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
    StubService()
    {
        m_http.status = 404;
        m_http.body.clear();
    }

    void answer(const QString& path, int status, const QByteArray& body)
    {
        m_http.routes.insert(path.toUtf8(), {status, body});
    }

    QString baseUrl() const { return m_http.baseUrl(); }

    // The query of the first request to a path ("" when there was none).
    QString firstQuery(const QString& path) const
    {
        for (const QString& r : requests()) {
            if (r.startsWith(path + QLatin1Char('?')))
                return r.mid(path.size() + 1);
        }
        return {};
    }

    // Every request as path?query, in order.
    QStringList requests() const
    {
        QStringList all;
        for (const QByteArray& line : m_http.requestLines) {
            const QString target = QString::fromUtf8(line.split(' ').value(1));
            all << (target.contains(QLatin1Char('?')) ? target : target + QLatin1Char('?'));
        }
        return all;
    }

private:
    CannedHttpServer m_http;
};
