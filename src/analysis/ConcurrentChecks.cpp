#include "analysis/ConcurrentChecks.h"


#include <algorithm>
#include <list>
#include <thread>

namespace signetrix {

std::optional<HostPacing::TimePoint> HostPacing::earliestStart(const QByteArray& host, TimePoint now) const
{
    const auto it = m_hosts.find(host);
    if (it == m_hosts.end()) return now;
    if (it->second.inFlight >= m_limit) return std::nullopt;
    if (!it->second.lastStart) return now;
    return std::max(now, *it->second.lastStart + m_spacing);
}

void HostPacing::started(const QByteArray& host, TimePoint now)
{
    Host& h = m_hosts[host];
    ++h.inFlight;
    h.lastStart = now;
}

void HostPacing::finished(const QByteArray& host)
{
    const auto it = m_hosts.find(host);
    if (it != m_hosts.end() && it->second.inFlight > 0) --it->second.inFlight;
}

int HostPacing::inFlight(const QByteArray& host) const
{
    const auto it = m_hosts.find(host);
    return it == m_hosts.end() ? 0 : it->second.inFlight;
}

void RunConcurrentChecks(const std::vector<CheckJob>& jobs, const ConcurrencyLimits& limits,
                         const tyiProxyConnectionInfo& proxy, const LinkCheckOptions& options,
                         const std::function<bool()>& stop,
                         const std::function<void(size_t, const LinkCheckOutcome&)>& done)
{
    using Clock = std::chrono::steady_clock;
    using std::chrono::milliseconds;
    const int parallel = std::max(1, limits.parallel);
    HostPacing pacing(std::max(1, limits.perHostLimit), milliseconds(std::max(0, limits.hostSpacingMs)));

    struct Pending {
        size_t job;
        PreparedAddress address;
    };
    std::list<Pending> pending;
    for (size_t i = 0; i < jobs.size(); ++i) pending.push_back({i, PrepareAddress(jobs[i].url)});
    std::vector<QByteArray> hostOf(jobs.size());

    net::ConcurrentGets gets;
    bool stopping = false;
    for (;;) {
        const Clock::time_point now = Clock::now();
        std::optional<Clock::time_point> nextWake;
        const auto wakeAt = [&](Clock::time_point t) { nextWake = nextWake ? std::min(*nextWake, t) : t; };
        for (auto it = pending.begin(); !stopping && it != pending.end() && gets.inFlight() < parallel;) {
            if (stop()) {
                stopping = true;
                break;
            }
            const CheckJob& job = jobs[it->job];
            if (job.notBefore > now) {
                wakeAt(job.notBefore);
                ++it;
                continue;
            }
            if (it->address.failureCode != 0) {
                done(it->job, OutcomeOfRefusedAddress(it->address.failureCode));
                it = pending.erase(it);
                continue;
            }
            const std::optional<Clock::time_point> when = pacing.earliestStart(it->address.host, now);
            if (!when || *when > now) {
                if (when) wakeAt(*when);
                ++it; // at its limit: an end wakes the loop
                continue;
            }
            CheckRequest request = PrepareCheck(job.url, proxy, options);
            pacing.started(it->address.host, now);
            hostOf[it->job] = it->address.host;
            gets.start(it->job, request.address.url, request.client, std::move(request.hooks));
            it = pending.erase(it);
        }
        if (gets.inFlight() == 0 && (stopping || pending.empty())) break;

        int waitMs = 1000;
        if (nextWake)
            waitMs = int(std::clamp<qint64>(
                std::chrono::duration_cast<milliseconds>(*nextWake - Clock::now()).count() + 1, 0, 1000));
        if (gets.inFlight() == 0) {
            // Only waiting for a start time: short naps, so a stop is seen at once.
            std::this_thread::sleep_for(milliseconds(std::min(waitMs, 100)));
            continue;
        }
        for (net::ConcurrentGets::Finished& finished : gets.run(waitMs)) {
            const size_t job = size_t(finished.id);
            pacing.finished(hostOf[job]);
            done(job, OutcomeOfCheck(finished.result));
        }
    }
}

} // namespace signetrix
