#pragma once
// A real HTTP server on 127.0.0.1 (port chosen by the system) for tests, with
// its own thread so a test can block in a client while the server answers.
//
//   HttpTestServer server;                       // plain HTTP
//   server.route("/gone", HttpReply::status(410));
//   server.route("/moved", HttpReply::redirect(301, "http://elsewhere/"));
//   QByteArray address = server.url("/gone");    // "http://127.0.0.1:<port>/gone"
//
// Paths are matched without the query; unrouted paths answer the fallback (404).
// addStandardRoutes() adds the set listed at that function. Every answer closes
// the connection. With a TlsSetup the server speaks HTTPS only (see
// TestCertificates.h for certificates). Requests are recorded for assertions.
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

class QThread;

namespace signetrix::test {

struct HttpReply {
    enum class Kind {
        Normal,             // status line, headers, body, close
        StallAfterStatusLine, // status line only, then silence (connection kept)
        CloseWithoutAnswer, // the connection is closed as soon as the request is read
        NeverAnswer,        // the request is read, nothing is ever sent
        Garbage,            // bytes that are no HTTP, then close
        EndlessBody,        // 200 without length, then data for as long as the client reads
    };
    Kind kind = Kind::Normal;
    int code = 200;
    QByteArray reason;                              // empty: a standard phrase
    QList<QPair<QByteArray, QByteArray>> headers;   // sent as given, in order
    QByteArray body;
    int delayMs = 0;                                // wait this long before answering
    bool announceLength = true;                     // Content-Length, or the body ends with the connection

    static HttpReply status(int code, const QByteArray& body = {});
    static HttpReply redirect(int code, const QByteArray& location);
    static HttpReply of(Kind kind);
    HttpReply& header(const QByteArray& name, const QByteArray& value);
    HttpReply& delayed(int ms);
    HttpReply& withoutLength();
};

struct HttpRequestRecord {
    QByteArray method;
    QByteArray target;   // as in the request line (origin or absolute form)
    QByteArray version;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray header(const QByteArray& name) const; // first match, case-insensitive; empty if none
    bool hasHeader(const QByteArray& name) const;
};

class HttpTestServer {
public:
    struct TlsSetup {
        QString certificateFile; // PEM, may hold the chain
        QString keyFile;         // PEM, unencrypted
    };

    explicit HttpTestServer(std::optional<TlsSetup> tls = std::nullopt);
    // Plain HTTP on another loopback address ("127.0.0.7"): each address of
    // 127.0.0.0/8 is a host of its own to a client.
    explicit HttpTestServer(const QByteArray& loopbackAddress);
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    quint16 port() const;
    QByteArray baseUrl() const;                    // "http://127.0.0.1:<port>" or "https://..."
    QByteArray url(const QByteArray& path) const;  // baseUrl() + path

    void route(const QByteArray& path, const HttpReply& reply);
    // The replies in turn, one per request; the last one answers every later request.
    void routeSequence(const QByteArray& path, const std::vector<HttpReply>& replies);
    void setFallback(const HttpReply& reply);

    // "/200" body "ok"; "/200-location" 200 with a Location header; "/301", "/302"
    // with Location; "/304", "/401", "/403", "/404", "/407", "/410", "/500",
    // "/503", "/650" (non-standard), "/stall", "/close", "/never", "/garbage",
    // "/endless", "/slow" (200 after 300 ms).
    void addStandardRoutes();

    std::vector<HttpRequestRecord> requests() const;
    int requestCount() const;
    int connectionCount() const; // connections accepted, with or without a request
    // The server's log of connections open at once: the most there ever were,
    // and when each connection was accepted (steady clock, in order).
    int peakOpenConnections() const;
    std::vector<std::chrono::steady_clock::time_point> acceptTimes() const;
    void clearRequests();        // forgets requests and connections

private:
    struct Shared;
    class Core;
    std::shared_ptr<Shared> m_shared;
    std::unique_ptr<QThread> m_thread;
    Core* m_core = nullptr;
    quint16 m_port = 0;
    bool m_tls = false;
    QByteArray m_host = "127.0.0.1";
};

// Parses one request head ("\r\n\r\n" excluded). False when it is no HTTP request.
bool ParseRequestHead(const QByteArray& head, HttpRequestRecord& record);
QByteArray ReasonPhrase(int code);

// A loopback port where nothing listens (free a moment ago).
quint16 closedLoopbackPort();

} // namespace signetrix::test
