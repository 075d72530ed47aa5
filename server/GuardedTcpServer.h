// The listening socket of the reporting service, with limits that Qt HttpServer 6.4 does not
// have: it reads every request whole into memory (the body twice over while it arrives), accepts
// any header and waits for ever. Each connection is watched as its bytes come in, before the HTTP
// server reads them; a request over a limit is answered here (413, 431, 411 or 408) and the
// connection closed, and an address with too many open connections is turned away (429).
#pragma once

#include <QHash>
#include <QTcpServer>

struct ConnectionLimits
{
    qint64 maxBodyBytes = qint64(512) << 20; // a large report
    qint64 maxHeaderBytes = 32 * 1024;       // request line and headers together
    int maxHeaderCount = 100;
    int idleMs = 30'000;       // silence while a request is half sent
    int keepAliveMs = 120'000; // silence between requests
    int requestMs = 600'000;   // one whole request, first byte to last
    int maxConnectionsPerAddress = 32;
};

class GuardedTcpServer : public QTcpServer
{
    Q_OBJECT
public:
    explicit GuardedTcpServer(const ConnectionLimits& limits, QObject* parent = nullptr);

    const ConnectionLimits& limits() const { return m_limits; }
    void setLimits(const ConnectionLimits& limits) { m_limits = limits; }

signals:
    // A request or connection was turned away; reason is for the log and the counters.
    void refused(const QString& reason);

protected:
    void incomingConnection(qintptr handle) override;

private:
    ConnectionLimits m_limits;
    QHash<QString, int> m_open; // connections by client address
};
