#pragma once
// The one reading of a transfer's result as the check reports it:
//   status line received           -> that status (also when a time-out or a
//                                     broken connection follows it)
//   a proxy refused the tunnel      -> the proxy's status
//   abandoned by the caller         -> 1000
//   secure connection impossible   -> 777
//   nothing usable before a status -> 1000
//   anything else                  -> 999
#include "net/Transfer.h"

namespace signetrix::net {

inline constexpr int kOutcomeSecureTransport = 777;
inline constexpr int kOutcomeOtherFailure = 999;
inline constexpr int kOutcomeNoAnswer = 1000;

struct Outcome {
    int code = 0;
    bool statusReceived = false; // a status came back (from the site or the proxy)
    bool completed = false;      // the answer arrived whole, or was cut on purpose
};

Outcome MapOutcome(const TransferResult& result);

// No status came back because the wait ran out or the peer dropped the
// connection (time-outs, a reset, a connection closed without an answer): a
// failure that often passes. An unknown host or a refused connection is not.
bool EndedByTimeOutOrDrop(const TransferResult& result);

// The failure class of one of the client's result numbers.
Failure ClassifyClientCode(int clientCode);

} // namespace signetrix::net
