#pragma once
// Many link checks at once in the calling thread: up to `parallel` transfers
// in flight, at most `perHostLimit` of them to one host name and at least
// `hostSpacingMs` between two starts on one host, each job not before its own
// time. Every job is exactly one CheckUrl, so a code does not depend on how
// many ran beside it. The stop function is asked before each new transfer;
// once it says stop, transfers in flight end with their answer or time-out
// and the jobs not started are left out.
#include "analysis/LinkCheck.h"

#include <QByteArray>

#include <chrono>
#include <functional>
#include <optional>
#include <unordered_map>
#include <vector>

namespace signetrix {

// Admission of requests per host name.
class HostPacing {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    HostPacing(int limit, std::chrono::milliseconds spacing) : m_limit(limit), m_spacing(spacing) {}

    // When a request to host may start (now or later); nullopt while the host
    // has its limit in flight.
    std::optional<TimePoint> earliestStart(const QByteArray& host, TimePoint now) const;
    void started(const QByteArray& host, TimePoint now);
    void finished(const QByteArray& host);
    int inFlight(const QByteArray& host) const;

private:
    struct Host {
        int inFlight = 0;
        std::optional<TimePoint> lastStart;
    };
    int m_limit;
    std::chrono::milliseconds m_spacing;
    std::unordered_map<QByteArray, Host> m_hosts;
};

struct CheckJob {
    QByteArray url;
    std::chrono::steady_clock::time_point notBefore{};
};

struct ConcurrencyLimits {
    int parallel = 1;
    int perHostLimit = 2;
    int hostSpacingMs = 100;
};

// done(job index, outcome) runs in the order the checks end.
void RunConcurrentChecks(const std::vector<CheckJob>& jobs, const ConcurrencyLimits& limits,
                         const tyiProxyConnectionInfo& proxy, const LinkCheckOptions& options,
                         const std::function<bool()>& stop,
                         const std::function<void(size_t, const LinkCheckOutcome&)>& done);

} // namespace signetrix
