#include "analysis/LinkCheck.h"

#include "analysis/ResultCodes.h"
#include "net/Outcome.h"
#include "net/Transfer.h"
#include "net/UserAgents.h"

#include <algorithm>
#include <cctype>
#include <chrono>

namespace signetrix {
namespace {

static_assert(net::kOutcomeSecureTransport == kCodeSecureConnection && net::kOutcomeNoAnswer == kCodeNoAnswer &&
              net::kOutcomeOtherFailure == kCodeOtherFailure);

bool IsUnreserved(char c)
{
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u < 0x7F;
}

} // namespace

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
    if (scheme == "https" && !net::ClientHasSecureTransport()) return {{}, kCodeSecureConnection};

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
    LinkCheckOutcome outcome;
    const PreparedAddress address = PrepareAddress(url);
    if (address.failureCode != 0) {
        outcome.code = address.failureCode;
        outcome.detail = "address refused before any request";
        return outcome;
    }

    net::ClientOptions client;
    client.userAgent = net::kCheckUserAgent;
    client.protocols = "http,https";
    client.http11 = true;
    client.headers = {kCheckAccept};
    client.connectTimeoutMs = options.connectTimeoutMs;
    // Backstop only; the read time-out and the receive cap normally end first.
    client.totalTimeoutMs = long(options.connectTimeoutMs) + options.maxReceiveMs + 2L * options.readTimeoutMs;
    client.caInfo = options.caInfo;
    client.proxy = proxy;

    net::ReceiveHooks hooks;
    qint64 limit = options.maxBodyBytes;
    hooks.body = [limit, received = qint64(0)](QByteArrayView chunk) mutable {
        received += chunk.size();
        return received <= limit;
    };
    hooks.progress = [&options](const net::ReceiveProgress& p) {
        if (options.abort && options.abort->load()) return net::Verdict::Cancel;
        if (!p.requestSent) return net::Verdict::Continue; // still connecting: the connect time-out applies
        const auto now = net::Clock::now();
        using std::chrono::milliseconds;
        if (now - std::max(p.requestSentAt, p.lastReceivedAt) >= milliseconds(options.readTimeoutMs))
            return net::Verdict::TimedOut;
        if (p.statusSeen && now - p.requestSentAt >= milliseconds(options.maxReceiveMs)) return net::Verdict::Cut;
        return net::Verdict::Continue;
    };

    const net::TransferResult result = net::Get(address.url, client, hooks);
    const net::Outcome mapped = net::MapOutcome(result);
    outcome.code = mapped.code;
    outcome.statusReceived = mapped.statusReceived;
    outcome.completed = mapped.completed;
    outcome.detail = result.endedBy == net::Verdict::TimedOut ? QByteArray("read time-out") : result.errorText;
    return outcome;
}

} // namespace signetrix
