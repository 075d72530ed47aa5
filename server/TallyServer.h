// The reference reporting service: the agent's API under /api/, the query editor and report
// viewer pages, the product site pages, and the optional fault mode.
#pragma once

#include "FailureThrottle.h"
#include "FaultInjector.h"
#include "GuardedTcpServer.h"
#include "HttpReply.h"
#include "TallyStore.h"

#include <QHostAddress>
#include <QHttpServer>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

class WebApp;

class TallyServer : public QObject
{
    Q_OBJECT
public:
    explicit TallyServer(const QString& dataDir, QObject* parent = nullptr);
    ~TallyServer() override;

    // Refuses (false, errorString()) a non-loopback address while faults are configured.
    bool listen(const QHostAddress& address = QHostAddress::LocalHost, quint16 port = 0);
    quint16 port() const;
    QString baseUrl() const; // "http://127.0.0.1:PORT"
    QString errorString() const;
    TallyStore& store();

    // Limits of body and header size, time and connections per address; for the next listen()
    // and the connections that come after a change.
    void setLimits(const ConnectionLimits& limits);
    const ConnectionLimits& limits() const;

    // Refuses (false, errorString()) while listening on an address that is not loopback.
    bool setFaults(const FaultConfig& faults);
    const FaultConfig& faults() const;

    // Counters since start: faults injected by kind, requests handed out and flagged, reports
    // received. statsText() gives them as key=value lines.
    QMap<QString, qint64> stats() const;
    QString statsText() const;

    // Lets POST /api/_faults (rate, kinds, seed, delay as form fields) set the fault mode: for
    // tests of builds that cannot run the service in their own process (the Windows build).
    void enableFaultControl();

private:
    using Handler = std::function<HttpReply(const QHttpServerRequest&)>;
    enum class Faults
    {
        Exempt,
        Apply,
        ApplyToPoll
    };
    void addRoute(const QString& path, Faults faults, Handler handler);
    void dispatch(const QHttpServerRequest& request, QHttpServerResponder&& responder,
                  Faults faults, const Handler& handler);
    void count(const QString& key, qint64 by = 1);

    // The company a look-up names by its device; counts and throttles failures per address.
    // A throttled address gets no company and a refusal.
    std::optional<TallyStore::Company> lookUp(const QHttpServerRequest& request, bool checkKey,
                                              HttpReply* refusal);
    HttpReply apiKeyByDevice(const QHttpServerRequest& request);
    HttpReply companyNameByDevice(const QHttpServerRequest& request);
    HttpReply telpByDevice(const QHttpServerRequest& request);
    HttpReply connectionStringByDevice(const QHttpServerRequest& request);
    HttpReply appHideByDevice(const QHttpServerRequest& request);
    HttpReply registerCompany(const QHttpServerRequest& request);
    HttpReply editCompany(const QHttpServerRequest& request);
    HttpReply nextReportRequest(const QHttpServerRequest& request);
    HttpReply saveReport(const QHttpServerRequest& request);
    HttpReply updateFlag(const QHttpServerRequest& request);
    HttpReply queueRequest(const QHttpServerRequest& request);
    HttpReply appFile(const QString& name, const QHttpServerRequest& request);

    TallyStore m_store;
    QHttpServer m_http;
    std::unique_ptr<WebApp> m_web;
    FaultInjector m_faults;
    FailureThrottle m_lookupThrottle;
    QMap<QString, qint64> m_stats;
    ConnectionLimits m_limits;
    QPointer<GuardedTcpServer> m_tcp;
    QHostAddress m_address;
    quint16 m_port = 0;
    QString m_error;
};
