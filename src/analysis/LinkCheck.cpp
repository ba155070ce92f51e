#include "analysis/LinkCheck.h"

#include "analysis/ResultCodes.h"
#include "net/Outcome.h"
#include "net/Transfer.h"
#include "net/UserAgents.h"

#include <QLocale>
#include <QTimeZone>

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
    if (url.isEmpty()) return {{}, {}, kCodeNoAnswer};

    // scheme ":" "//" authority
    qsizetype i = 0;
    while (i < url.size() && (std::isalnum(static_cast<unsigned char>(url[i])) || url[i] == '+' || url[i] == '-' ||
                              url[i] == '.'))
        ++i;
    if (i == 0 || i >= url.size() || url[i] != ':' || !std::isalpha(static_cast<unsigned char>(url[0])))
        return {{}, {}, kCodeNoAnswer};
    const QByteArray scheme = url.left(i).toLower();
    if (scheme != "http" && scheme != "https") return {{}, {}, kCodeNoAnswer};
    if (url.mid(i + 1, 2) != "//") return {{}, {}, kCodeNoAnswer};
    if (scheme == "https" && !net::ClientHasSecureTransport()) return {{}, {}, kCodeSecureConnection};

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
        if (close < 0) return {{}, {}, kCodeNoAnswer};
        host = hostPort.left(close + 1);
        const QByteArray rest = hostPort.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(':')) return {{}, {}, kCodeNoAnswer};
            hasPort = true;
            port = rest.mid(1);
        }
    } else if (const qsizetype colon = hostPort.lastIndexOf(':'); colon >= 0) {
        host = hostPort.left(colon);
        hasPort = true;
        port = hostPort.mid(colon + 1);
    }
    if (host.isEmpty() || host == "[]") return {{}, {}, kCodeNoAnswer};
    if (hasPort && !port.isEmpty()) {
        bool ok = false;
        const uint value = port.toUInt(&ok, 10);
        const bool digitsOnly = std::all_of(port.begin(), port.end(),
                                            [](char c) { return c >= '0' && c <= '9'; });
        if (!ok || !digitsOnly || value > 65535) return {{}, {}, kCodeOtherFailure};
    }

    PreparedAddress prepared;
    prepared.host = host.toLower();
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

CheckRequest PrepareCheck(const QByteArray& url, const tyiProxyConnectionInfo& proxy, const LinkCheckOptions& options)
{
    CheckRequest request;
    request.address = PrepareAddress(url);
    if (request.address.failureCode != 0) return request;

    net::ClientOptions& client = request.client;
    client.userAgent = net::kCheckUserAgent;
    client.protocols = "http,https";
    client.http11 = true;
    client.headers = {kCheckAccept};
    client.connectTimeoutMs = options.connectTimeoutMs;
    // Backstop only; the read time-out and the receive cap normally end first.
    client.totalTimeoutMs = long(options.connectTimeoutMs) + options.maxReceiveMs + 2L * options.readTimeoutMs;
    client.caInfo = options.caInfo;
    client.proxy = proxy;

    const qint64 limit = options.maxBodyBytes;
    request.hooks.body = [limit, received = qint64(0)](QByteArrayView chunk) mutable {
        received += chunk.size();
        return received <= limit;
    };
    using std::chrono::milliseconds;
    const milliseconds readTimeout(options.readTimeoutMs), maxReceive(options.maxReceiveMs);
    const std::atomic<bool>* abort = options.abort;
    request.hooks.progress = [abort, readTimeout, maxReceive](const net::ReceiveProgress& p) {
        if (abort && abort->load()) return net::Verdict::Cancel;
        if (!p.requestSent) return net::Verdict::Continue; // still connecting: the connect time-out applies
        const auto now = net::Clock::now();
        if (now - std::max(p.requestSentAt, p.lastReceivedAt) >= readTimeout) return net::Verdict::TimedOut;
        if (p.statusSeen && now - p.requestSentAt >= maxReceive) return net::Verdict::Cut;
        return net::Verdict::Continue;
    };
    return request;
}

LinkCheckOutcome OutcomeOfRefusedAddress(int failureCode)
{
    LinkCheckOutcome outcome;
    outcome.code = failureCode;
    outcome.detail = "address refused before any request";
    return outcome;
}

LinkCheckOutcome OutcomeOfCheck(const net::TransferResult& result)
{
    LinkCheckOutcome outcome;
    const net::Outcome mapped = net::MapOutcome(result);
    outcome.code = mapped.code;
    outcome.statusReceived = mapped.statusReceived;
    outcome.completed = mapped.completed;
    outcome.detail = result.endedBy == net::Verdict::TimedOut ? QByteArray("read time-out") : result.errorText;
    outcome.location = result.location;
    outcome.retryAfter = result.retryAfter;
    outcome.droppedOrTimedOut = outcome.code == kCodeNoAnswer && net::EndedByTimeOutOrDrop(result);
    return outcome;
}

LinkCheckOutcome CheckUrl(const QByteArray& url, const tyiProxyConnectionInfo& proxy, const LinkCheckOptions& options)
{
    const CheckRequest request = PrepareCheck(url, proxy, options);
    if (request.address.failureCode != 0) return OutcomeOfRefusedAddress(request.address.failureCode);
    return OutcomeOfCheck(net::Get(request.address.url, request.client, request.hooks));
}

bool WorthSecondLook(const LinkCheckOutcome& outcome)
{
    switch (outcome.code) {
    case 408: case 429: case 500: case 502: case 503: case 504:
        return true;
    case kCodeNoAnswer:
        return outcome.droppedOrTimedOut;
    default:
        return false;
    }
}

bool SecondLookReplaces(int code) { return code >= 200 && code <= 399; }

int SecondLookDelayMs(const QByteArray& retryAfter, const QDateTime& answeredAtUtc, int pauseMs, int maxMs)
{
    const QByteArray value = retryAfter.trimmed();
    qint64 askedMs = 0;
    if (!value.isEmpty() && std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        // Any run of digits counts; past the cap the exact figure does not matter.
        askedMs = value.size() > 9 ? qint64(maxMs) : value.toLongLong() * 1000;
    } else if (!value.isEmpty()) {
        // An HTTP date: "Sun, 06 Nov 1994 08:49:37 GMT", always in English and in GMT.
        QDateTime at = QLocale::c().toDateTime(QString::fromLatin1(value), QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'"));
        if (at.isValid()) {
            at.setTimeZone(QTimeZone::utc());
            askedMs = answeredAtUtc.msecsTo(at);
        }
    }
    const qint64 delay = std::max<qint64>(pauseMs, askedMs);
    return int(std::min<qint64>(delay, std::max(maxMs, pauseMs)));
}

} // namespace signetrix
