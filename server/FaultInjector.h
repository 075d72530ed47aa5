// Fault mode: with a seeded random source, some answers of the agent-facing endpoints are lost,
// late, cut or replaced, so that the agent's handling of a bad network can be exercised.
#pragma once

#include <QByteArray>
#include <QRandomGenerator>
#include <QSet>
#include <QString>
#include <QStringList>

struct FaultConfig
{
    double rate = 0.0;   // probability that one request gets a fault
    QSet<QString> kinds; // names from allKinds()
    quint32 seed = 0;
    int delaySeconds = 20; // the "delay" fault answers this late, past the agent's time-out

    bool isActive() const { return rate > 0.0 && !kinds.isEmpty(); }
    // drop, delay, 500, 201, truncate, garbage, half - in the order faults are chosen from.
    static const QStringList& allKinds();
    // Parses "kind,kind,..."; returns false and names the culprit for an unknown kind.
    static bool parseKinds(const QString& list, QSet<QString>* kinds, QString* error);
};

enum class FaultKind
{
    None,
    Drop,      // the connection is closed without an answer; the request is not carried out
    Delay,     // the request is carried out, the answer comes delaySeconds later
    Status500, // 500 Internal Server Error; the request is not carried out
    Status201, // the normal answer with status 201
    Truncate,  // the full Content-Length is announced, half the body sent, the connection closed
    Garbage,   // status 200 with random bytes instead of the answer
    Half,      // a report-request text cut after its second block (request polls only)
};

class FaultInjector
{
public:
    void configure(const FaultConfig& config);
    const FaultConfig& config() const { return m_config; }

    // Draws the fault for one request. Every call on an active configuration consumes the same
    // random numbers, so that a seed replays the same sequence for the same requests.
    FaultKind draw(bool requestPoll);
    QByteArray garbage();

    static QString name(FaultKind kind);

private:
    FaultConfig m_config;
    QRandomGenerator m_random;
};
