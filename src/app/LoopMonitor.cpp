// The responsiveness monitor.
#include "LoopMonitor.h"

#include <QCoreApplication>

Q_LOGGING_CATEGORY(lcLoopMonitor, "tallyframe.loopmonitor")

namespace {
constexpr qint64 kSummaryEveryMs = 60000;
}

LoopMonitor* LoopMonitor::startIfRequested(std::function<bool()> inputHeld)
{
    if (qEnvironmentVariable("TALLYFRAME_LOOP_MONITOR") != QLatin1String("1"))
        return nullptr;
    auto* monitor = new LoopMonitor(std::move(inputHeld), QCoreApplication::instance());
    monitor->start();
    return monitor;
}

LoopMonitor::LoopMonitor(std::function<bool()> inputHeld, QObject* parent)
    : QObject(parent), m_inputHeld(std::move(inputHeld))
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(kIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { tickAt(m_clock.elapsed()); });
}

void LoopMonitor::start()
{
    m_clock.start();
    m_timer.start();
    qCInfo(lcLoopMonitor) << "loop monitor: started, tick" << kIntervalMs << "ms";
}

void LoopMonitor::tickAt(qint64 nowMs)
{
    ++m_ticks;
    if (m_lastTick < 0) {
        m_lastTick = nowMs;
        m_lastSummary = nowMs;
        return;
    }
    const qint64 gap = nowMs - m_lastTick;
    const bool blocked = gap >= kLateMs;
    const bool held = m_inputHeld && m_inputHeld();

    if (gap > m_longestGap) {
        m_longestGap = gap;
        if (blocked)
            qCInfo(lcLoopMonitor).noquote()
                << QStringLiteral("loop monitor: longest gap %1 ms").arg(gap);
    }
    // A blocked loop was unresponsive since the tick before; held input since this tick. The
    // stretch ends at the first tick that finds the loop running and no call waiting.
    if (blocked && m_spanStart < 0)
        m_spanStart = m_lastTick;
    if (held && m_spanStart < 0)
        m_spanStart = nowMs;
    if (!held && m_spanStart >= 0) {
        const qint64 span = nowMs - m_spanStart;
        m_spanStart = -1;
        if (span > m_longestUnresponsive) {
            m_longestUnresponsive = span;
            qCInfo(lcLoopMonitor).noquote()
                << QStringLiteral("loop monitor: longest unresponsive %1 ms").arg(span);
        }
    }
    m_lastTick = nowMs;
    if (nowMs - m_lastSummary >= kSummaryEveryMs) {
        m_lastSummary = nowMs;
        qCInfo(lcLoopMonitor).noquote()
            << QStringLiteral(
                   "loop monitor: %1 ticks, longest gap %2 ms, longest unresponsive %3 ms")
                   .arg(m_ticks)
                   .arg(m_longestGap)
                   .arg(m_longestUnresponsive);
    }
}
