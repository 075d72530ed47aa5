// Measures how responsive the agent's window stays over a long run. A timer ticks every 100 ms;
// a late tick means the event loop was blocked (the window could not even repaint), and a tick
// that finds a service call waiting means user input was held back (the window paints, but
// ignores clicks and keys). The longest of each is logged whenever it grows, and a summary once
// a minute, so that a soak run can read the figures from the log of a process it later kills.
// Switched on by TALLYFRAME_LOOP_MONITOR=1; otherwise nothing runs.
#pragma once

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QObject>
#include <QTimer>

#include <functional>

Q_DECLARE_LOGGING_CATEGORY(lcLoopMonitor)

class LoopMonitor : public QObject
{
public:
    static constexpr int kIntervalMs = 100;
    // A tick this late counts as a blocked loop: twice the interval leaves room for a busy
    // machine's ordinary timer slack.
    static constexpr int kLateMs = 2 * kIntervalMs;

    // Starts a process-wide monitor when TALLYFRAME_LOOP_MONITOR is 1; returns it, or null.
    static LoopMonitor* startIfRequested(std::function<bool()> inputHeld);

    // `inputHeld` tells whether user input is being held back right now (a waiting call).
    explicit LoopMonitor(std::function<bool()> inputHeld, QObject* parent = nullptr);
    void start();

    // The longest gap between two ticks, the interval itself included.
    qint64 longestGapMs() const { return m_longestGap; }
    // The longest stretch in which the loop was blocked or input held back, whichever it was.
    qint64 longestUnresponsiveMs() const { return m_longestUnresponsive; }
    qint64 ticks() const { return m_ticks; }

    // One tick at the given time on the monitor's clock (tests drive it directly).
    void tickAt(qint64 nowMs);

private:
    std::function<bool()> m_inputHeld;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_lastTick = -1;
    qint64 m_spanStart = -1; // start of the current unresponsive stretch, -1 when responsive
    qint64 m_longestGap = 0;
    qint64 m_longestUnresponsive = 0;
    qint64 m_ticks = 0;
    qint64 m_lastSummary = 0;
};
