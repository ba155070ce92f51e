#pragma once
// The program's transfers: one GET (into memory, into a file or into the
// caller's own sink) and one FTP upload, each on a handle configured in one
// place (user agent, time-outs, allowed protocols, proxy from the proxy
// record, TLS verification against a CA store loaded once per thread and kept
// for every later transfer of that thread).
//
// Every transfer uses a connection of its own and blocks the calling thread;
// the progress callbacks run on that thread, several times a second while the
// transfer waits, and may end it. Nothing here throws: failures come back in
// TransferResult (see Outcome.h for what they mean to the check).
#include "net/ProxyRecord.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace signetrix::net {

using Clock = std::chrono::steady_clock;

// The process-wide client set-up; every transfer calls it, later calls are free.
void EnsureInitialised();
// Whether the client was built with TLS.
bool ClientHasSecureTransport();
// Tests can take the secure transport away; nullopt restores the client's own answer.
void SetSecureTransportForTesting(std::optional<bool> available);

struct ClientOptions {
    QByteArray userAgent;
    QByteArray protocols = "http,https"; // only what the caller needs, e.g. "ftp"
    int connectTimeoutMs = 0;            // 0: the client's own
    long totalTimeoutMs = 0;             // 0: none
    int stallTimeoutMs = 0;              // ends a transfer that moves no byte this long (whole seconds); 0: never
    bool http11 = false;                 // HTTP/1.1 only, never HTTP/2
    QList<QByteArray> headers;           // extra request headers ("Name: value")
    // The environment's proxy variables are never used: an empty record is a
    // direct connection.
    tyiProxyConnectionInfo proxy;
    bool verifyTls = true;               // peer certificate and host name
    QByteArray caInfo;                   // CA bundle file; empty: the system bundle
};

// What a progress callback decides.
enum class Verdict {
    Continue,
    Cut,      // enough has arrived: end here, what came stands
    TimedOut, // the caller's own time-out
    Cancel,   // abandoned: nothing that came counts
};

struct ReceiveProgress {
    qint64 bodyBytes = 0;
    qint64 expectedBytes = 0;     // announced length, 0 when unknown
    bool connected = false;       // a connection to the site (or proxy) is made
    bool requestSent = false;     // past TLS and any tunnel, the request goes out
    bool statusSeen = false;      // a status line came back
    Clock::time_point startedAt;
    Clock::time_point requestSentAt;  // valid once requestSent
    Clock::time_point lastReceivedAt; // last header or body bytes; startedAt before
};

struct SendProgress {
    qint64 sentBytes = 0;
    qint64 totalBytes = 0;
};

// How a failed transfer failed, as the check counts it.
enum class Failure {
    None,
    SecureTransport, // no secure connection (handshake, certificate, TLS set-up)
    NoAnswer,        // nothing usable from the site (name, refused, time-outs, no HTTP)
    Other,           // client failures, local files
};

struct TransferResult {
    int clientCode = 0;          // the client's own result number; 0 on success
    Failure failure = Failure::None;
    QByteArray errorText;        // the client's text, for diagnostics
    bool statusSeen = false;     // a status line was received
    int lastStatus = 0;          // from the last status line received
    int responseCode = 0;        // the client's view of the final status
    int connectCode = 0;         // a proxy's answer to CONNECT, 0 if none
    bool requestSent = false;
    bool handshakeFailed = false; // reached the host but never through the TLS handshake
    Verdict endedBy = Verdict::Continue; // a callback's decision that ended it
    QByteArray contentType;
    // Headers of the last answer whose status line came back; empty without one.
    QByteArray location;
    QByteArray retryAfter;
    bool ok() const { return clientCode == 0; }
};

struct ReceiveHooks {
    // Body bytes as they arrive; false ends the transfer as Cut. Empty: discarded.
    std::function<bool(QByteArrayView)> body;
    std::function<Verdict(const ReceiveProgress&)> progress;
};

TransferResult Get(const QByteArray& url, const ClientOptions& options, const ReceiveHooks& hooks);

// Several GETs at once in the calling thread, on one multi handle of their
// own: each has the same set-up and its own connection, exactly as Get().
// Not thread-safe; the hooks run inside run().
class ConcurrentGets {
public:
    struct Finished {
        quint64 id;
        TransferResult result;
    };
    ConcurrentGets();
    // Transfers still in flight are dropped without their results.
    ~ConcurrentGets();
    ConcurrentGets(const ConcurrentGets&) = delete;
    ConcurrentGets& operator=(const ConcurrentGets&) = delete;

    // Starts a GET whose result run() returns under id.
    void start(quint64 id, const QByteArray& url, const ClientOptions& options, ReceiveHooks hooks);
    int inFlight() const;
    // Moves every transfer on, waiting up to waitMs for one of them to need
    // work, and returns those that ended.
    std::vector<Finished> run(int waitMs);

private:
    struct Running;
    void* m_multi = nullptr;
    std::vector<Running> m_running;
    std::vector<Finished> m_done;
};

struct MemoryResult {
    TransferResult transfer;
    QByteArray body;
    bool tooLarge = false; // more than maxBytes came: the transfer was cut, body is partial
};
MemoryResult GetIntoMemory(const QByteArray& url, const ClientOptions& options, qint64 maxBytes,
                           const std::function<Verdict(const ReceiveProgress&)>& progress = {});

// Writes the body into a temporary file beside target and renames it into
// place only when the transfer succeeded with a 2xx status; otherwise target
// is left as it was and the temporary file is removed.
struct FileResult {
    TransferResult transfer;
    bool written = false;
    QByteArray fileError; // why the file could not be written, empty otherwise
};
FileResult GetIntoFile(const QByteArray& url, const QByteArray& targetPath, const ClientOptions& options,
                       const std::function<Verdict(const ReceiveProgress&)>& progress = {});

struct FtpUploadOptions {
    QByteArray user;
    QByteArray password;
    bool activeMode = false; // PORT instead of PASV
};
// Stores the regular file at localPath as the url ("ftp://host:port/folder/name")
// in binary mode. A local file that cannot be read gives Failure::Other without
// any connection.
TransferResult UploadFile(const QByteArray& url, const QByteArray& localPath, const ClientOptions& options,
                          const FtpUploadOptions& ftp,
                          const std::function<Verdict(const SendProgress&)>& progress = {});

// One FTP session: logged in once, then any number of stores on the same
// control connection (the client reconnects by itself only if the server
// dropped it). Closing it, or destroying it, sends QUIT. Error texts never
// hold the host, the user, the password or the folder. Binary transfers;
// active mode when asked (the client listens, the server connects back).
struct FtpAccess {
    QByteArray host;
    int port = 21;
    QByteArray user;
    QByteArray password;
    bool activeMode = true;
};

class FtpSession {
public:
    FtpSession(const ClientOptions& options, const FtpAccess& access);
    ~FtpSession();
    FtpSession(const FtpSession&) = delete;
    FtpSession& operator=(const FtpSession&) = delete;

    TransferResult connect(); // connects and logs in
    // Enters a folder below the login folder (checked at once, CWD).
    TransferResult changeDirectory(const QByteArray& folder);
    // Stores the regular file at localPath under name in the current folder,
    // replacing a file of that name (STOR).
    TransferResult store(const QByteArray& name, const QByteArray& localPath,
                         const std::function<Verdict(const SendProgress&)>& progress = {});
    void close();
    bool connected() const;
    // Called at least once a second while connect() or changeDirectory() waits.
    void setIdle(std::function<void()> idle) { m_idle = std::move(idle); }

private:
    struct Session;
    QByteArray url(const QByteArray& path) const;
    TransferResult run(const QByteArray& path);
    TransferResult scrubbed(TransferResult result) const;

    ClientOptions m_options;
    FtpAccess m_access;
    QByteArray m_folder;
    std::function<void()> m_idle;
    std::unique_ptr<Session> m_session;
};

} // namespace signetrix::net
