// Failure counting per address.
#include "FailureThrottle.h"

bool FailureThrottle::recordFailure(const QString& address, qint64 nowMs)
{
    forgetOld(nowMs);
    Window& window = m_windows[address];
    if (window.failures == 0 || nowMs - window.startMs >= m_windowMs)
        window = {nowMs, 0};
    return ++window.failures == m_limit + 1;
}

bool FailureThrottle::isBlocked(const QString& address, qint64 nowMs)
{
    const auto it = m_windows.constFind(address);
    return it != m_windows.cend() && nowMs - it->startMs < m_windowMs && it->failures > m_limit;
}

void FailureThrottle::forgetOld(qint64 nowMs)
{
    // A scan from many addresses must not grow the table without end.
    if (m_windows.size() < 4096)
        return;
    m_windows.removeIf(
        [&](const auto& entry) { return nowMs - entry.value().startMs >= m_windowMs; });
}
