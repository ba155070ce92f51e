#include "net/Outcome.h"

#include <curl/curl.h>

namespace signetrix::net {

Failure ClassifyClientCode(int clientCode)
{
    switch (static_cast<CURLcode>(clientCode)) {
    case CURLE_OK:
        return Failure::None;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CLIENTCERT:
    case CURLE_USE_SSL_FAILED:
        return Failure::SecureTransport;
    // Failures that leave the site without an answer of its own.
    case CURLE_UNSUPPORTED_PROTOCOL: // also a reply that is no HTTP at all
    case CURLE_URL_MALFORMAT:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_ABORTED_BY_CALLBACK:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_HTTP3:
    case CURLE_PROXY:
        return Failure::NoAnswer;
    default:
        return Failure::Other;
    }
}

bool EndedByTimeOutOrDrop(const TransferResult& r)
{
    if (r.statusSeen || r.ok()) return false;
    if (r.endedBy == Verdict::TimedOut) return true;
    if (r.endedBy != Verdict::Continue) return false; // cut or abandoned by the caller
    switch (static_cast<CURLcode>(r.clientCode)) {
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
        return true;
    default:
        return false;
    }
}

Outcome MapOutcome(const TransferResult& r)
{
    Outcome outcome;
    if (r.ok()) {
        outcome.code = r.responseCode ? r.responseCode : r.lastStatus;
        outcome.statusReceived = true;
        outcome.completed = true;
    } else if (r.statusSeen) {
        outcome.code = r.lastStatus;
        outcome.statusReceived = true;
        outcome.completed = r.endedBy == Verdict::Cut;
    } else if (r.connectCode >= 300) {
        outcome.code = r.connectCode;
        outcome.statusReceived = true;
    } else if (r.endedBy == Verdict::Cancel) {
        outcome.code = kOutcomeNoAnswer;
    } else if (r.failure == Failure::SecureTransport || r.handshakeFailed) {
        outcome.code = kOutcomeSecureTransport;
    } else if (r.failure == Failure::NoAnswer) {
        outcome.code = kOutcomeNoAnswer;
    } else {
        outcome.code = kOutcomeOtherFailure;
    }
    return outcome;
}

} // namespace signetrix::net
