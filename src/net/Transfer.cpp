#include "net/Transfer.h"

#include "net/Outcome.h"
#include "platform/FileSystem.h"

#include <curl/curl.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <utility>

namespace signetrix::net {
namespace {

// Building a store from the system bundle costs more CPU than a loopback
// request; the client keeps it per multi handle, so every transfer of a
// thread goes through that thread's one multi handle.
constexpr long kCaCacheSeconds = 24 * 60 * 60;

class ThreadMulti {
public:
    ThreadMulti() : m_multi(curl_multi_init()) {}
    ~ThreadMulti()
    {
        if (m_multi) curl_multi_cleanup(m_multi);
    }
    CURLM* get() const { return m_multi; }

private:
    CURLM* m_multi;
};

CURLM* CurrentMulti()
{
    thread_local ThreadMulti multi;
    return multi.get();
}

constexpr int kWakeMs = 100;

// Runs one easy handle to its end on a multi handle (the thread's by default).
CURLcode Perform(CURL* h, CURLM* multi = nullptr)
{
    if (!multi) multi = CurrentMulti();
    if (!multi) return CURLE_OUT_OF_MEMORY;
    if (curl_multi_add_handle(multi, h) != CURLM_OK) return CURLE_FAILED_INIT;
    CURLcode result = CURLE_OK;
    bool done = false;
    int running = 1;
    while (running) {
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            result = CURLE_OUT_OF_MEMORY;
            break;
        }
        // Frequent wakes, so the progress callbacks see time pass and a
        // caller's time-out ends a silent transfer close to its figure.
        if (running && curl_multi_poll(multi, nullptr, 0, kWakeMs, nullptr) != CURLM_OK) {
            result = CURLE_OUT_OF_MEMORY;
            break;
        }
    }
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == h) {
            result = message->data.result;
            done = true;
        }
    }
    curl_multi_remove_handle(multi, h);
    if (!done && result == CURLE_OK) result = CURLE_GOT_NOTHING;
    return result;
}

QByteArray ProxyHostForCurl(const QByteArray& host)
{
    if (host.contains(':') && !host.startsWith('[')) return '[' + host + ']';
    return host;
}

// One easy handle and what must live as long as it does.
class Handle {
public:
    Handle() : m_h(curl_easy_init()) {}
    ~Handle()
    {
        if (m_h) curl_easy_cleanup(m_h);
        curl_slist_free_all(m_headers);
        curl_slist_free_all(m_proxyHeaders);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    CURL* get() const { return m_h; }
    char* errorText() { return m_errorText; }
    // Points the configured handle at another address.
    void setUrl(const QByteArray& url)
    {
        m_url = url;
        m_errorText[0] = 0;
        curl_easy_setopt(m_h, CURLOPT_URL, m_url.constData());
    }

    // keepConnection: later transfers of this handle reuse its connection
    // (an FTP session); otherwise each transfer has a connection of its own.
    void configure(const QByteArray& url, const ClientOptions& o, bool keepConnection = false)
    {
        m_url = url;
        m_options = o;
        CURL* h = m_h;
        curl_easy_setopt(h, CURLOPT_ERRORBUFFER, m_errorText);
        curl_easy_setopt(h, CURLOPT_URL, m_url.constData());
        curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, m_options.protocols.constData());
        if (m_options.http11) curl_easy_setopt(h, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
        if (!m_options.userAgent.isEmpty()) curl_easy_setopt(h, CURLOPT_USERAGENT, m_options.userAgent.constData());
        for (const QByteArray& header : m_options.headers) m_headers = curl_slist_append(m_headers, header.constData());
        if (m_headers) curl_easy_setopt(h, CURLOPT_HTTPHEADER, m_headers);
        curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
        // Each transfer on a connection and a name look-up of its own, as with a
        // handle of its own; only the CA store is kept between transfers.
        curl_easy_setopt(h, CURLOPT_FRESH_CONNECT, keepConnection ? 0L : 1L);
        curl_easy_setopt(h, CURLOPT_FORBID_REUSE, keepConnection ? 0L : 1L);
        curl_easy_setopt(h, CURLOPT_DNS_CACHE_TIMEOUT, 0L);
        if (m_options.connectTimeoutMs > 0)
            curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, long(m_options.connectTimeoutMs));
        if (m_options.totalTimeoutMs > 0) curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, m_options.totalTimeoutMs);
        if (m_options.stallTimeoutMs > 0) {
            curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
            curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, long((m_options.stallTimeoutMs + 999) / 1000));
        }

        curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, m_options.verifyTls ? 1L : 0L);
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, m_options.verifyTls ? 2L : 0L);
        if (!m_options.caInfo.isEmpty()) curl_easy_setopt(h, CURLOPT_CAINFO, m_options.caInfo.constData());
        // The client caches only a store built from a bundle file alone; the
        // hashed folder holds the same certificates as the system bundle.
        curl_easy_setopt(h, CURLOPT_CAPATH, nullptr);
        curl_easy_setopt(h, CURLOPT_CA_CACHE_TIMEOUT, kCaCacheSeconds);

        applyProxy();
    }

private:
    void applyProxy()
    {
        CURL* h = m_h;
        const tyiProxyConnectionInfo& proxy = m_options.proxy;
        // Only the proxy record decides: the environment's proxy variables are ignored.
        curl_easy_setopt(h, CURLOPT_NOPROXY, "");
        m_proxyHost = ProxyHostForCurl(proxy.ProxyServer);
        curl_easy_setopt(h, CURLOPT_PROXY, m_proxyHost.constData());
        if (proxy.ProxyServer.isEmpty()) return;
        curl_easy_setopt(h, CURLOPT_PROXYTYPE, long(CURLPROXY_HTTP));
        curl_easy_setopt(h, CURLOPT_PROXYPORT, long(proxy.ProxyPort));
        curl_easy_setopt(h, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
        if (proxy.BasicAuthentication) {
            // Built by hand: the header must go out even with an empty user and password.
            const QByteArray credentials = (proxy.ProxyUsername + ':' + proxy.ProxyPassword).toBase64();
            const QByteArray header = "Proxy-Authorization: Basic " + credentials;
            m_proxyHeaders = curl_slist_append(nullptr, header.constData());
        }
        // Proxy headers go to the proxy only, never to the site behind a tunnel.
        curl_easy_setopt(h, CURLOPT_HEADEROPT, long(CURLHEADER_SEPARATE));
        curl_easy_setopt(h, CURLOPT_PROXYHEADER, m_proxyHeaders);
    }

    CURL* m_h;
    QByteArray m_url;
    ClientOptions m_options; // the strings the handle points into
    QByteArray m_proxyHost;
    curl_slist* m_headers = nullptr;
    curl_slist* m_proxyHeaders = nullptr;
    char m_errorText[CURL_ERROR_SIZE] = {};
};

// State shared with the callbacks of one GET.
struct Receive {
    CURL* h = nullptr;
    const ReceiveHooks* hooks = nullptr;
    ReceiveProgress progress;
    int lastStatus = 0;
    QByteArray location;   // of the last status line's header block
    QByteArray retryAfter;
    Verdict endedBy = Verdict::Continue;
};

// The value of a header line "Name: value" when it is the named one.
bool HeaderValue(const QByteArray& line, const char* name, QByteArray& value)
{
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0 || line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) != 0) return false;
    value = line.mid(colon + 1).trimmed();
    return true;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user)
{
    auto* r = static_cast<Receive*>(user);
    const size_t n = size * count;
    r->progress.lastReceivedAt = Clock::now();
    const QByteArray line = QByteArray::fromRawData(data, static_cast<qsizetype>(n));
    if (line.startsWith("HTTP/")) {
        const qsizetype space = line.indexOf(' ');
        if (space > 0) {
            bool ok = false;
            const int status = line.mid(space + 1, 3).toInt(&ok);
            if (ok) {
                r->lastStatus = status;
                r->progress.statusSeen = true;
                // Headers belong to the answer they follow (a 100 Continue has its own).
                r->location.clear();
                r->retryAfter.clear();
            }
        }
    } else if (!HeaderValue(line, "Location", r->location)) {
        HeaderValue(line, "Retry-After", r->retryAfter);
    }
    return n;
}

size_t OnBody(char* data, size_t size, size_t count, void* user)
{
    auto* r = static_cast<Receive*>(user);
    const size_t n = size * count;
    r->progress.lastReceivedAt = Clock::now();
    r->progress.bodyBytes += static_cast<qint64>(n);
    if (r->hooks->body && !r->hooks->body(QByteArrayView(data, static_cast<qsizetype>(n)))) {
        r->endedBy = Verdict::Cut;
        return 0; // ends the transfer with a write error
    }
    return n;
}

int OnRequestReady(void* user, char*, char*, int, int)
{
    auto* r = static_cast<Receive*>(user);
    r->progress.requestSent = true;
    r->progress.requestSentAt = Clock::now();
    return CURL_PREREQFUNC_OK;
}

int OnReceiveProgress(void* user, curl_off_t dltotal, curl_off_t, curl_off_t, curl_off_t)
{
    auto* r = static_cast<Receive*>(user);
    if (!r->progress.connected) {
        curl_off_t connectTime = 0;
        r->progress.connected =
            curl_easy_getinfo(r->h, CURLINFO_CONNECT_TIME_T, &connectTime) == CURLE_OK && connectTime > 0;
    }
    r->progress.expectedBytes = static_cast<qint64>(dltotal);
    if (!r->hooks->progress) return 0;
    const Verdict verdict = r->hooks->progress(r->progress);
    if (verdict == Verdict::Continue) return 0;
    r->endedBy = verdict;
    return 1;
}

void FillResult(CURL* h, CURLcode rc, const char* errorText, TransferResult& result)
{
    result.clientCode = int(rc);
    result.failure = ClassifyClientCode(int(rc));
    result.errorText = errorText[0] ? QByteArray(errorText) : QByteArray(curl_easy_strerror(rc));
    long code = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
    result.responseCode = int(code);
    long connectCode = 0;
    curl_easy_getinfo(h, CURLINFO_HTTP_CONNECTCODE, &connectCode);
    result.connectCode = int(connectCode);
    const char* contentType = nullptr;
    curl_easy_getinfo(h, CURLINFO_CONTENT_TYPE, &contentType);
    if (contentType) result.contentType = contentType;
}

std::once_flag g_initOnce;

} // namespace

void EnsureInitialised()
{
    std::call_once(g_initOnce, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

namespace {
std::atomic<int> g_secureOverride{-1}; // -1: ask the client
} // namespace

void SetSecureTransportForTesting(std::optional<bool> available)
{
    g_secureOverride.store(available ? int(*available) : -1);
}

bool ClientHasSecureTransport()
{
    if (const int forced = g_secureOverride.load(); forced >= 0) return forced == 1;
    EnsureInitialised();
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    return info && (info->features & CURL_VERSION_SSL);
}

namespace {

// No handle could be made: the transfer never starts.
TransferResult noClient(TransferResult& result, const char* what)
{
    result.clientCode = int(CURLE_FAILED_INIT);
    result.failure = Failure::Other;
    result.errorText = what;
    return result;
}

} // namespace

namespace {

// One GET on a handle of its own: set up once, run by Perform() or by a
// ConcurrentGets multi handle, read back once it is done.
class GetTransfer {
public:
    GetTransfer(const QByteArray& url, const ClientOptions& options, ReceiveHooks hooks) : m_hooks(std::move(hooks))
    {
        m_url = url;
        CURL* h = m_handle.get();
        if (!h) return;
        m_handle.configure(url, options);
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
        m_receive.h = h;
        m_receive.hooks = &m_hooks;
        m_receive.progress.startedAt = m_receive.progress.lastReceivedAt = Clock::now();
        curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, OnHeader);
        curl_easy_setopt(h, CURLOPT_HEADERDATA, &m_receive);
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, OnBody);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &m_receive);
        curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, OnRequestReady);
        curl_easy_setopt(h, CURLOPT_PREREQDATA, &m_receive);
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, OnReceiveProgress);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, &m_receive);
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    }
    GetTransfer(const GetTransfer&) = delete;
    GetTransfer& operator=(const GetTransfer&) = delete;

    CURL* handle() const { return m_handle.get(); }

    TransferResult finish(CURLcode rc)
    {
        TransferResult result;
        CURL* h = m_handle.get();
        if (!h) return noClient(result, "no HTTP client");
        FillResult(h, rc, m_handle.errorText(), result);
        result.statusSeen = m_receive.progress.statusSeen;
        result.lastStatus = m_receive.lastStatus;
        result.requestSent = m_receive.progress.requestSent;
        result.endedBy = m_receive.endedBy;
        if (result.statusSeen) {
            result.location = m_receive.location;
            result.retryAfter = m_receive.retryAfter;
        }
        // Reached the host but never got through the TLS handshake (a server that
        // does not speak TLS, or one that stalls or hangs up in the handshake).
        curl_off_t connectedAt = 0, secureAt = 0;
        curl_easy_getinfo(h, CURLINFO_CONNECT_TIME_T, &connectedAt);
        curl_easy_getinfo(h, CURLINFO_APPCONNECT_TIME_T, &secureAt);
        result.handshakeFailed = m_url.left(6).toLower() == "https:" && connectedAt > 0 && secureAt == 0 &&
                                 !m_receive.progress.requestSent;
        return result;
    }

private:
    Handle m_handle;
    QByteArray m_url;
    ReceiveHooks m_hooks;
    Receive m_receive;
};

} // namespace

TransferResult Get(const QByteArray& url, const ClientOptions& options, const ReceiveHooks& hooks)
{
    EnsureInitialised();
    GetTransfer transfer(url, options, hooks);
    if (!transfer.handle()) return transfer.finish(CURLE_FAILED_INIT);
    return transfer.finish(Perform(transfer.handle()));
}

struct ConcurrentGets::Running {
    quint64 id;
    std::unique_ptr<GetTransfer> transfer;
};

ConcurrentGets::ConcurrentGets()
{
    EnsureInitialised();
    m_multi = curl_multi_init();
}

ConcurrentGets::~ConcurrentGets()
{
    for (Running& r : m_running) curl_multi_remove_handle(m_multi, r.transfer->handle());
    m_running.clear();
    if (m_multi) curl_multi_cleanup(m_multi);
}

void ConcurrentGets::start(quint64 id, const QByteArray& url, const ClientOptions& options, ReceiveHooks hooks)
{
    auto transfer = std::make_unique<GetTransfer>(url, options, std::move(hooks));
    if (!m_multi || !transfer->handle() || curl_multi_add_handle(m_multi, transfer->handle()) != CURLM_OK) {
        m_done.push_back({id, transfer->finish(CURLE_FAILED_INIT)});
        return;
    }
    m_running.push_back({id, std::move(transfer)});
}

int ConcurrentGets::inFlight() const { return static_cast<int>(m_running.size()); }

std::vector<ConcurrentGets::Finished> ConcurrentGets::run(int waitMs)
{
    if (!m_running.empty()) {
        int running = 0;
        CURLMcode mc = curl_multi_perform(m_multi, &running);
        // As in Perform: the callbacks see time pass often.
        if (mc == CURLM_OK && running > 0 && m_done.empty() && waitMs > 0)
            mc = curl_multi_poll(m_multi, nullptr, 0, std::min(waitMs, kWakeMs), nullptr);
        if (mc == CURLM_OK) mc = curl_multi_perform(m_multi, &running);
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(m_multi, &left)) {
            if (message->msg != CURLMSG_DONE) continue;
            const auto it = std::find_if(m_running.begin(), m_running.end(),
                                         [&](const Running& r) { return r.transfer->handle() == message->easy_handle; });
            if (it == m_running.end()) continue;
            const CURLcode rc = message->data.result;
            curl_multi_remove_handle(m_multi, it->transfer->handle());
            m_done.push_back({it->id, it->transfer->finish(rc)});
            m_running.erase(it);
        }
        if (mc != CURLM_OK) {
            // The multi handle is unusable: every transfer in flight ends as a client failure.
            for (Running& r : m_running) {
                curl_multi_remove_handle(m_multi, r.transfer->handle());
                m_done.push_back({r.id, r.transfer->finish(CURLE_OUT_OF_MEMORY)});
            }
            m_running.clear();
        }
    }
    return std::exchange(m_done, {});
}

MemoryResult GetIntoMemory(const QByteArray& url, const ClientOptions& options, qint64 maxBytes,
                           const std::function<Verdict(const ReceiveProgress&)>& progress)
{
    MemoryResult memory;
    ReceiveHooks hooks;
    hooks.progress = progress;
    hooks.body = [&](QByteArrayView chunk) {
        if (memory.body.size() + chunk.size() > maxBytes) {
            memory.tooLarge = true;
            return false;
        }
        memory.body.append(chunk);
        return true;
    };
    memory.transfer = Get(url, options, hooks);
    return memory;
}

FileResult GetIntoFile(const QByteArray& url, const QByteArray& targetPath, const ClientOptions& options,
                       const std::function<Verdict(const ReceiveProgress&)>& progress)
{
    FileResult file;
    const qsizetype slash = targetPath.lastIndexOf('/');
    const QByteArray folder = slash >= 0 ? targetPath.left(slash + 1) : QByteArray();
    QByteArray tempPath;
    const int fd = fs::createTempFile(folder, tempPath);
    if (fd < 0) {
        file.fileError = "cannot create a file in '" + folder + "': " + fs::lastErrorText(errno).toLocal8Bit();
        file.transfer.clientCode = int(CURLE_WRITE_ERROR);
        file.transfer.failure = Failure::Other;
        return file;
    }
    ReceiveHooks hooks;
    hooks.progress = progress;
    hooks.body = [&](QByteArrayView chunk) {
        const char* p = chunk.data();
        qsizetype left = chunk.size();
        while (left > 0) {
            const ssize_t n = ::write(fd, p, size_t(left));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                file.fileError = "cannot write '" + tempPath + "': " + fs::lastErrorText(errno).toLocal8Bit();
                return false;
            }
            p += n;
            left -= n;
        }
        return true;
    };
    file.transfer = Get(url, options, hooks);
    const bool closed = ::close(fd) == 0;
    const int status = file.transfer.responseCode;
    if (file.transfer.ok() && status >= 200 && status <= 299 && file.fileError.isEmpty() && closed) {
        if (std::rename(tempPath.constData(), targetPath.constData()) == 0) {
            file.written = true;
            return file;
        }
        file.fileError = "cannot rename into '" + targetPath + "': " + fs::lastErrorText(errno).toLocal8Bit();
    }
    ::unlink(tempPath.constData());
    return file;
}

namespace {

struct Send {
    int fd = -1;
    const std::function<Verdict(const SendProgress&)>* progress = nullptr;
    SendProgress figures;
    Verdict endedBy = Verdict::Continue;
    int readError = 0;
};

size_t OnRead(char* buffer, size_t size, size_t count, void* user)
{
    auto* s = static_cast<Send*>(user);
    for (;;) {
        const ssize_t n = ::read(s->fd, buffer, size * count);
        if (n >= 0) return size_t(n);
        if (errno == EINTR) continue;
        s->readError = errno;
        return CURL_READFUNC_ABORT;
    }
}

int OnSendProgress(void* user, curl_off_t, curl_off_t, curl_off_t ultotal, curl_off_t ulnow)
{
    auto* s = static_cast<Send*>(user);
    s->figures.sentBytes = qint64(ulnow);
    if (ultotal > 0) s->figures.totalBytes = qint64(ultotal);
    if (!*s->progress) return 0;
    const Verdict verdict = (*s->progress)(s->figures);
    if (verdict == Verdict::Continue) return 0;
    s->endedBy = verdict;
    return 1;
}

// The local file of an upload, open for reading; closed on every way out.
class UploadSource {
public:
    explicit UploadSource(const QByteArray& path) : m_path(path)
    {
        int openError = 0;
        m_fd = fs::openRegularFile(path, &openError);
        struct stat st {};
        if (m_fd >= 0 && ::fstat(m_fd, &st) == 0) {
            m_size = qint64(st.st_size);
            return;
        }
        if (m_fd >= 0) {
            openError = errno;
            ::close(m_fd);
            m_fd = -1;
        }
        m_error = openError;
    }
    ~UploadSource()
    {
        if (m_fd >= 0) ::close(m_fd);
    }
    UploadSource(const UploadSource&) = delete;
    UploadSource& operator=(const UploadSource&) = delete;

    bool open() const { return m_fd >= 0; }
    TransferResult failure(int error = 0) const
    {
        TransferResult result;
        result.clientCode = int(CURLE_READ_ERROR);
        result.failure = Failure::Other;
        result.errorText = "cannot read '" + m_path + "': " + fs::lastErrorText(error ? error : m_error).toLocal8Bit();
        return result;
    }

    // Sends the file from its start on the configured handle.
    TransferResult send(Handle& handle, CURLM* multi, const std::function<Verdict(const SendProgress&)>& progress)
    {
        CURL* h = handle.get();
        if (::lseek(m_fd, 0, SEEK_SET) < 0) return failure(errno);
        curl_easy_setopt(h, CURLOPT_NOBODY, 0L);
        curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(h, CURLOPT_TRANSFERTEXT, 0L);
        curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, curl_off_t(m_size));
        Send state;
        state.fd = m_fd;
        state.progress = &progress;
        state.figures.totalBytes = m_size;
        curl_easy_setopt(h, CURLOPT_READFUNCTION, OnRead);
        curl_easy_setopt(h, CURLOPT_READDATA, &state);
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, OnSendProgress);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, &state);
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);

        TransferResult result;
        const CURLcode rc = Perform(h, multi);
        FillResult(h, rc, handle.errorText(), result);
        result.endedBy = state.endedBy;
        curl_easy_setopt(h, CURLOPT_READDATA, nullptr);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, nullptr);
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 1L);
        if (state.readError) return failure(state.readError);
        return result;
    }

private:
    QByteArray m_path;
    int m_fd = -1;
    qint64 m_size = 0;
    int m_error = 0;
};

void SetFtpAccount(CURL* h, const QByteArray& user, const QByteArray& password, bool activeMode)
{
    curl_easy_setopt(h, CURLOPT_USERNAME, user.constData());
    curl_easy_setopt(h, CURLOPT_PASSWORD, password.constData());
    curl_easy_setopt(h, CURLOPT_FTPPORT, activeMode ? "-" : nullptr);
}

} // namespace

TransferResult UploadFile(const QByteArray& url, const QByteArray& localPath, const ClientOptions& options,
                          const FtpUploadOptions& ftp, const std::function<Verdict(const SendProgress&)>& progress)
{
    EnsureInitialised();
    UploadSource source(localPath);
    if (!source.open()) return source.failure();
    TransferResult result;
    Handle handle;
    if (!handle.get()) return noClient(result, "no FTP client");
    handle.configure(url, options);
    const QByteArray user = ftp.user, password = ftp.password;
    SetFtpAccount(handle.get(), user, password, ftp.activeMode);
    return source.send(handle, nullptr, progress);
}

struct FtpSession::Session {
    CURLM* multi = nullptr;
    Handle handle;
    ~Session()
    {
        // Ending the multi handle ends its connections, with QUIT.
        if (multi) curl_multi_cleanup(multi);
    }
};

FtpSession::FtpSession(const ClientOptions& options, const FtpAccess& access) : m_options(options), m_access(access)
{
    m_options.protocols = "ftp";
}

FtpSession::~FtpSession()
{
    close();
}

QByteArray FtpSession::url(const QByteArray& path) const
{
    const QByteArray host = m_access.host.contains(':') ? '[' + m_access.host + ']' : m_access.host;
    return "ftp://" + host + ':' + QByteArray::number(m_access.port) + '/' + path;
}

// The client's texts may name the host, the user or the folder; none of them
// may leave the session.
TransferResult FtpSession::scrubbed(TransferResult result) const
{
    for (const QByteArray* value : {&m_access.password, &m_access.user, &m_access.host, &m_folder})
        if (!value->isEmpty()) result.errorText.replace(*value, "***");
    return result;
}

TransferResult FtpSession::run(const QByteArray& path)
{
    CURL* h = m_session->handle.get();
    m_session->handle.setUrl(url(path));
    curl_easy_setopt(h, CURLOPT_UPLOAD, 0L);
    curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
    using Idle = std::function<void()>;
    const auto onProgress = +[](void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) -> int {
        if (auto* idle = static_cast<Idle*>(user); idle && *idle) (*idle)();
        return 0;
    };
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &m_idle);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    TransferResult result;
    const CURLcode rc = Perform(h, m_session->multi);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 1L);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, nullptr);
    FillResult(h, rc, m_session->handle.errorText(), result);
    return scrubbed(result);
}

TransferResult FtpSession::connect()
{
    EnsureInitialised();
    close();
    m_session = std::make_unique<Session>();
    TransferResult result;
    m_session->multi = curl_multi_init();
    if (!m_session->multi || !m_session->handle.get()) {
        m_session.reset();
        return noClient(result, "no FTP client");
    }
    m_session->handle.configure(url(""), m_options, true);
    SetFtpAccount(m_session->handle.get(), m_access.user, m_access.password, m_access.activeMode);
    // Every later transfer goes into the folder from the login folder.
    curl_easy_setopt(m_session->handle.get(), CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_SINGLECWD));
    result = run("");
    if (!result.ok()) m_session.reset();
    return result;
}

TransferResult FtpSession::changeDirectory(const QByteArray& folder)
{
    TransferResult result;
    if (!m_session) return noClient(result, "not connected");
    m_folder = folder;
    result = run(folder.toPercentEncoding() + '/');
    if (!result.ok()) m_folder.clear();
    return result;
}

TransferResult FtpSession::store(const QByteArray& name, const QByteArray& localPath,
                                 const std::function<Verdict(const SendProgress&)>& progress)
{
    UploadSource source(localPath);
    if (!source.open()) return scrubbed(source.failure());
    TransferResult result;
    if (!m_session) return noClient(result, "not connected");
    const QByteArray folder = m_folder.isEmpty() ? QByteArray() : m_folder.toPercentEncoding() + '/';
    m_session->handle.setUrl(url(folder + name.toPercentEncoding()));
    return scrubbed(source.send(m_session->handle, m_session->multi, progress));
}

void FtpSession::close()
{
    m_session.reset();
    m_folder.clear();
}

bool FtpSession::connected() const
{
    return m_session != nullptr;
}

} // namespace signetrix::net
