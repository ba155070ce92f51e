#include "core/RateLimiter.h"

#include <QDateTime>

namespace signetrix::server {

RateLimiter::RateLimiter(int limit, long long windowMs, Clock clock)
    : m_limit(limit), m_windowMs(windowMs), m_clock(std::move(clock))
{
    if (!m_clock) m_clock = [] { return QDateTime::currentMSecsSinceEpoch(); };
}

bool RateLimiter::allow(const QString& key)
{
    if (m_limit <= 0) return true;
    const long long now = m_clock();
    if (now - m_lastSweep >= m_windowMs) forgetIdle(now);
    std::deque<long long>& times = m_events[key];
    while (!times.empty() && now - times.front() >= m_windowMs) times.pop_front();
    if (int(times.size()) >= m_limit) return false;
    times.push_back(now);
    return true;
}

void RateLimiter::forgetIdle(long long now)
{
    m_lastSweep = now;
    for (auto it = m_events.begin(); it != m_events.end();) {
        if (it->empty() || now - it->back() >= m_windowMs)
            it = m_events.erase(it);
        else
            ++it;
    }
}

} // namespace signetrix::server
