#pragma once
// The network check of one favorite: one HTTP/1.1 GET on a connection of its
// own, redirects not followed, the body read and discarded, and the outcome
// mapped onto a result code (net/Outcome.h):
//   status line received           -> that status (also when a time-out or a
//                                     broken connection follows it)
//   secure connection impossible   -> 777 (handshake or certificate failure, or
//                                     https in a build without TLS)
//   nothing usable before a status -> 1000 (unknown host, refused, time-outs,
//                                     closed without answer, unsupported scheme,
//                                     empty or unparsable address)
//   anything else                  -> 999 (a port that is not a number, client
//                                     failures)
// Never throws; safe to call from any thread.
#include "net/ProxyRecord.h"
#include "net/Transfer.h"

#include <QByteArray>
#include <QDateTime>

#include <atomic>

namespace signetrix {

inline constexpr char kCheckAccept[] = "Accept: text/html, */*";

struct LinkCheckOptions {
    int connectTimeoutMs = 21000;  // the usual desktop figure; curl's own would be 300 s
    int readTimeoutMs = 5000;      // no data for this long ends the request
    // A body is read to its end, but a site that streams forever must not hold
    // the run: past these limits the rest is dropped and the status stands.
    qint64 maxBodyBytes = 8 * 1024 * 1024;
    int maxReceiveMs = 60000;
    QByteArray caInfo;             // CA bundle file; empty uses the system store
    // Set from another thread to end the request in progress at once.
    const std::atomic<bool>* abort = nullptr;

    // With several checks at once: per host name, at most this many at a time
    // and at least this long between two starts.
    int perHostLimit = 2;
    int hostSpacingMs = 100;
    // The second look at failures that often pass: the pause before it and
    // the longest Retry-After honoured.
    int secondLookPauseMs = 2000;
    int maxRetryAfterMs = 60000;
};

struct LinkCheckOutcome {
    int code = 0;
    bool statusReceived = false;   // a status line came back
    bool completed = false;        // the answer arrived whole (or was cut on purpose)
    QByteArray detail;             // the client's error text, for diagnostics
    QByteArray location;           // Location header of the answer, if any
    QByteArray retryAfter;         // Retry-After header of the answer, if any
    bool droppedOrTimedOut = false; // 1000 from a time-out or a dropped connection
    // The request went through as a plain success: a 2xx status read to its end.
    bool succeeded() const { return completed && code >= 200 && code <= 299; }
};

LinkCheckOutcome CheckUrl(const QByteArray& url, const tyiProxyConnectionInfo& proxy,
                          const LinkCheckOptions& options = {});

// The address as it goes on the wire, or a code when no request can be made:
// 1000 for an empty, scheme-less or non-http(s) address, 999 for a port that
// is not a number. Bytes that are not allowed in a URL are percent-encoded.
struct PreparedAddress {
    QByteArray url;
    QByteArray host;     // lower case, without port or user; what the per-host limits count
    int failureCode = 0; // 0: usable
};
PreparedAddress PrepareAddress(const QByteArray& url);

// CheckUrl in two halves, for a caller that runs many transfers at once: the
// request as CheckUrl would send it (no request when address.failureCode is
// set), and the reading of its result. The hooks keep a copy of what they
// need from the options, except the abort flag, which must outlive them.
struct CheckRequest {
    PreparedAddress address;
    net::ClientOptions client;
    net::ReceiveHooks hooks;
};
CheckRequest PrepareCheck(const QByteArray& url, const tyiProxyConnectionInfo& proxy, const LinkCheckOptions& options);
LinkCheckOutcome OutcomeOfCheck(const net::TransferResult& result);
LinkCheckOutcome OutcomeOfRefusedAddress(int failureCode);

// A failure that often passes and deserves one more request before the
// favorite is judged: 1000 from a time-out or a dropped connection (not from
// an unknown host or a refused connection), 408, 429, 500, 502, 503 and 504.
bool WorthSecondLook(const LinkCheckOutcome& outcome);
// A second answer replaces the first when it is a success or a redirect.
bool SecondLookReplaces(int code);
// How long to wait after an answer before asking again: pauseMs, or the
// answer's Retry-After (seconds or an HTTP date) when it asks for longer,
// never more than maxMs.
int SecondLookDelayMs(const QByteArray& retryAfter, const QDateTime& answeredAtUtc, int pauseMs, int maxMs);

} // namespace signetrix
