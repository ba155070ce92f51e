#pragma once
// Counts events per key (a client address, a mail recipient) in a sliding
// window and says whether one more is allowed. The clock is a seam so tests
// can move time. Keys whose window has passed are forgotten, so memory stays
// bounded by the keys active in one window. A limit of 0 allows everything.
#include <QHash>
#include <QString>

#include <deque>
#include <functional>

namespace signetrix::server {

class RateLimiter {
public:
    using Clock = std::function<long long()>; // milliseconds, never going back

    RateLimiter(int limit, long long windowMs, Clock clock = {});
    // Records the event and answers true when it is within the limit; a
    // refused event is not recorded, so a client that stops asking is let in
    // again once its window has passed.
    bool allow(const QString& key);
    int limit() const { return m_limit; }
    qsizetype trackedKeys() const { return m_events.size(); }

private:
    void forgetIdle(long long now);

    int m_limit;
    long long m_windowMs;
    Clock m_clock;
    QHash<QString, std::deque<long long>> m_events;
    long long m_lastSweep = 0;
};

} // namespace signetrix::server
