// Counts failures (look-ups of unknown devices, wrong keys) per client address in a fixed window;
// an address with too many is refused until its window has passed.
#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>

class FailureThrottle
{
public:
    explicit FailureThrottle(int limit = 10, qint64 windowMs = 60'000)
        : m_limit(limit), m_windowMs(windowMs)
    {}

    // Records one failure; true when the address has just become blocked.
    bool recordFailure(const QString& address, qint64 nowMs = now());
    bool isBlocked(const QString& address, qint64 nowMs = now());

private:
    struct Window
    {
        qint64 startMs = 0;
        int failures = 0;
    };
    static qint64 now() { return QDateTime::currentMSecsSinceEpoch(); }
    void forgetOld(qint64 nowMs);

    int m_limit;
    qint64 m_windowMs;
    QHash<QString, Window> m_windows;
};
