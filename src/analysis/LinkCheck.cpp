#include "analysis/LinkCheck.h"

#include "analysis/ResultCodes.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <mutex>

namespace signetrix {
namespace {

using Clock = std::chrono::steady_clock;

void EnsureCurlInitialised()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool IsUnreserved(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u < 0x7F;
}

// State shared with the transfer callbacks of one request.
struct Transfer {
    const LinkCheckOptions* options = nullptr;
    int lastStatus = 0;
    bool statusSeen = false;
    bool requestSent = false;   // connected; from here the read time-out runs
    bool cutOnPurpose = false;  // endless body or receive cap
    bool readTimedOut = false;
    bool aborted = false;
    qint64 bodyBytes = 0;
    Clock::time_point lastActivity;
    Clock::time_point receiveStart;

    void touch() { lastActivity = Clock::now(); }
};

size_t OnHeader(char* data, size_t size, size_t count, void* user)
{
    auto* t = static_cast<Transfer*>(user);
    const size_t n = size * count;
    t->touch();
    const QByteArray line = QByteArray::fromRawData(data, static_cast<qsizetype>(n));
    if (line.startsWith("HTTP/")) {
        const qsizetype space = line.indexOf(' ');
        if (space > 0) {
            bool ok = false;
            const int status = line.mid(space + 1, 3).toInt(&ok);
            if (ok) {
                t->lastStatus = status;
                t->statusSeen = true;
            }
        }
    }
    return n;
}

size_t OnBody(char*, size_t size, size_t count, void* user)
{
    auto* t = static_cast<Transfer*>(user);
    const size_t n = size * count;
    t->touch();
    t->bodyBytes += static_cast<qint64>(n);
    if (t->bodyBytes > t->options->maxBodyBytes) {
        t->cutOnPurpose = true;
        return 0; // ends the transfer with a write error
    }
    return n;
}

int OnRequestReady(void* user, char*, char*, int, int)
{
    auto* t = static_cast<Transfer*>(user);
    t->requestSent = true;
    t->receiveStart = Clock::now();
    t->touch();
    return CURL_PREREQFUNC_OK;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    auto* t = static_cast<Transfer*>(user);
    if (t->options->abort && t->options->abort->load()) {
        t->aborted = true;
        return 1;
    }
    if (!t->requestSent) return 0; // still connecting: the connect time-out applies
    const auto now = Clock::now();
    using std::chrono::milliseconds;
    if (now - t->lastActivity >= milliseconds(t->options->readTimeoutMs)) {
        t->readTimedOut = true;
        return 1;
    }
    if (t->statusSeen && now - t->receiveStart >= milliseconds(t->options->maxReceiveMs)) {
        t->cutOnPurpose = true;
        return 1;
    }
    return 0;
}

bool IsSecureTransportFailure(CURLcode rc)
{
    switch (rc) {
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
        return true;
    default:
        return false;
    }
}

// Failures that leave the site without an answer of its own.
bool IsNoAnswerFailure(CURLcode rc)
{
    switch (rc) {
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
        return true;
    default:
        return false;
    }
}

QByteArray ProxyHostForCurl(const QByteArray& host)
{
    if (host.contains(':') && !host.startsWith('[')) return '[' + host + ']';
    return host;
}

std::atomic<int> g_secureOverride{-1}; // -1: ask the client

} // namespace

void SetSecureTransportForTesting(std::optional<bool> available)
{
    g_secureOverride.store(available ? int(*available) : -1);
}

bool ClientHasSecureTransport()
{
    if (const int forced = g_secureOverride.load(); forced >= 0) return forced == 1;
    EnsureCurlInitialised();
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    return info && (info->features & CURL_VERSION_SSL);
}

PreparedAddress PrepareAddress(const QByteArray& raw)
{
    const QByteArray url = raw.trimmed();
    if (url.isEmpty()) return {{}, kCodeNoAnswer};

    // scheme ":" "//" authority
    qsizetype i = 0;
    while (i < url.size() && (std::isalnum(static_cast<unsigned char>(url[i])) || url[i] == '+' || url[i] == '-' ||
                              url[i] == '.'))
        ++i;
    if (i == 0 || i >= url.size() || url[i] != ':' || !std::isalpha(static_cast<unsigned char>(url[0])))
        return {{}, kCodeNoAnswer};
    const QByteArray scheme = url.left(i).toLower();
    if (scheme != "http" && scheme != "https") return {{}, kCodeNoAnswer};
    if (url.mid(i + 1, 2) != "//") return {{}, kCodeNoAnswer};
    if (scheme == "https" && !ClientHasSecureTransport()) return {{}, kCodeSecureConnection};

    const qsizetype authorityStart = i + 3;
    qsizetype authorityEnd = authorityStart;
    while (authorityEnd < url.size() && url[authorityEnd] != '/' && url[authorityEnd] != '?' &&
           url[authorityEnd] != '#' && url[authorityEnd] != '\\')
        ++authorityEnd;
    QByteArray hostPort = url.mid(authorityStart, authorityEnd - authorityStart);
    const qsizetype at = hostPort.lastIndexOf('@');
    if (at >= 0) hostPort = hostPort.mid(at + 1);

    QByteArray host = hostPort;
    QByteArray port;
    bool hasPort = false;
    if (hostPort.startsWith('[')) {
        const qsizetype close = hostPort.indexOf(']');
        if (close < 0) return {{}, kCodeNoAnswer};
        host = hostPort.left(close + 1);
        const QByteArray rest = hostPort.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(':')) return {{}, kCodeNoAnswer};
            hasPort = true;
            port = rest.mid(1);
        }
    } else if (const qsizetype colon = hostPort.lastIndexOf(':'); colon >= 0) {
        host = hostPort.left(colon);
        hasPort = true;
        port = hostPort.mid(colon + 1);
    }
    if (host.isEmpty() || host == "[]") return {{}, kCodeNoAnswer};
    if (hasPort && !port.isEmpty()) {
        bool ok = false;
        const uint value = port.toUInt(&ok, 10);
        const bool digitsOnly = std::all_of(port.begin(), port.end(),
                                            [](char c) { return c >= '0' && c <= '9'; });
        if (!ok || !digitsOnly || value > 65535) return {{}, kCodeOtherFailure};
    }

    PreparedAddress prepared;
    prepared.url.reserve(url.size());
    static const char hex[] = "0123456789ABCDEF";
    for (const char c : url) {
        if (IsUnreserved(c)) {
            prepared.url.append(c);
        } else {
            const auto u = static_cast<unsigned char>(c);
            prepared.url.append('%').append(hex[u >> 4]).append(hex[u & 15]);
        }
    }
    return prepared;
}

LinkCheckOutcome CheckUrl(const QByteArray& url, const tyiProxyConnectionInfo& proxy, const LinkCheckOptions& options)
{
    EnsureCurlInitialised();
    LinkCheckOutcome outcome;
    const PreparedAddress address = PrepareAddress(url);
    if (address.failureCode != 0) {
        outcome.code = address.failureCode;
        outcome.detail = "address refused before any request";
        return outcome;
    }

    CURL* h = curl_easy_init();
    if (!h) {
        outcome.code = kCodeOtherFailure;
        outcome.detail = "no HTTP client";
        return outcome;
    }
    Transfer transfer;
    transfer.options = &options;
    char errorText[CURL_ERROR_SIZE] = {};

    curl_slist* headers = curl_slist_append(nullptr, kCheckAccept);
    curl_slist* proxyHeaders = nullptr;

    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(h, CURLOPT_URL, address.url.constData());
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(h, CURLOPT_USERAGENT, kCheckUserAgent);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(h, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, long(options.connectTimeoutMs));
    // Backstop only; the read time-out and the receive cap normally end first.
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS,
                     long(options.connectTimeoutMs) + options.maxReceiveMs + 2L * options.readTimeoutMs);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!options.caInfo.isEmpty()) curl_easy_setopt(h, CURLOPT_CAINFO, options.caInfo.constData());

    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, OnRequestReady);
    curl_easy_setopt(h, CURLOPT_PREREQDATA, &transfer);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);

    // Only the proxy record decides: the environment's proxy variables are ignored.
    curl_easy_setopt(h, CURLOPT_NOPROXY, "");
    const QByteArray proxyHost = ProxyHostForCurl(proxy.ProxyServer);
    curl_easy_setopt(h, CURLOPT_PROXY, proxyHost.constData());
    if (!proxy.ProxyServer.isEmpty()) {
        curl_easy_setopt(h, CURLOPT_PROXYTYPE, long(CURLPROXY_HTTP));
        curl_easy_setopt(h, CURLOPT_PROXYPORT, long(proxy.ProxyPort));
        curl_easy_setopt(h, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
        if (proxy.BasicAuthentication) {
            // Built by hand: the header must go out even with an empty user and password.
            const QByteArray credentials = (proxy.ProxyUsername + ':' + proxy.ProxyPassword).toBase64();
            const QByteArray header = "Proxy-Authorization: Basic " + credentials;
            proxyHeaders = curl_slist_append(nullptr, header.constData());
        }
        // Proxy headers go to the proxy only, never to the site behind a tunnel.
        curl_easy_setopt(h, CURLOPT_HEADEROPT, long(CURLHEADER_SEPARATE));
        curl_easy_setopt(h, CURLOPT_PROXYHEADER, proxyHeaders);
    }

    transfer.touch();
    const CURLcode rc = curl_easy_perform(h);
    outcome.detail = errorText[0] ? QByteArray(errorText) : QByteArray(curl_easy_strerror(rc));

    long connectCode = 0;
    curl_easy_getinfo(h, CURLINFO_HTTP_CONNECTCODE, &connectCode);
    // Reached the host but never got through the TLS handshake (a server that
    // does not speak TLS, or one that stalls or hangs up in the handshake).
    curl_off_t connectedAt = 0, secureAt = 0;
    curl_easy_getinfo(h, CURLINFO_CONNECT_TIME_T, &connectedAt);
    curl_easy_getinfo(h, CURLINFO_APPCONNECT_TIME_T, &secureAt);
    const bool handshakeFailed = address.url.left(6).toLower() == "https:" && connectedAt > 0 && secureAt == 0 &&
                                 !transfer.requestSent;

    if (rc == CURLE_OK) {
        long status = 0;
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
        outcome.code = status ? int(status) : transfer.lastStatus;
        outcome.statusReceived = true;
        outcome.completed = true;
    } else if (transfer.statusSeen) {
        outcome.code = transfer.lastStatus;
        outcome.statusReceived = true;
        outcome.completed = transfer.cutOnPurpose;
    } else if (connectCode >= 300) {
        // The proxy refused the tunnel with a status of its own.
        outcome.code = int(connectCode);
        outcome.statusReceived = true;
    } else if (transfer.aborted) {
        outcome.code = kCodeNoAnswer;
    } else if (IsSecureTransportFailure(rc) || handshakeFailed) {
        outcome.code = kCodeSecureConnection;
    } else if (IsNoAnswerFailure(rc)) {
        outcome.code = kCodeNoAnswer;
    } else {
        outcome.code = kCodeOtherFailure;
    }
    if (transfer.readTimedOut) outcome.detail = "read time-out";

    curl_easy_cleanup(h);
    curl_slist_free_all(headers);
    curl_slist_free_all(proxyHeaders);
    return outcome;
}

} // namespace signetrix
