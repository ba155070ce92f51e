#include "support/HttpTestServer.h"

#include "support/ServerThread.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTimer>

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>

namespace signetrix::test {

HttpReply HttpReply::status(int code, const QByteArray& body)
{
    HttpReply r;
    r.code = code;
    r.body = body;
    return r;
}

HttpReply HttpReply::redirect(int code, const QByteArray& location)
{
    return status(code).header("Location", location);
}

HttpReply HttpReply::of(Kind kind)
{
    HttpReply r;
    r.kind = kind;
    return r;
}

HttpReply& HttpReply::header(const QByteArray& name, const QByteArray& value)
{
    headers.append({name, value});
    return *this;
}

HttpReply& HttpReply::delayed(int ms)
{
    delayMs = ms;
    return *this;
}

HttpReply& HttpReply::withoutLength()
{
    announceLength = false;
    return *this;
}

QByteArray HttpRequestRecord::header(const QByteArray& name) const
{
    for (const auto& [key, value] : headers)
        if (key.compare(name, Qt::CaseInsensitive) == 0) return value;
    return {};
}

bool HttpRequestRecord::hasHeader(const QByteArray& name) const
{
    for (const auto& h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0) return true;
    return false;
}

bool ParseRequestHead(const QByteArray& head, HttpRequestRecord& record)
{
    const QList<QByteArray> lines = head.split('\n');
    if (lines.isEmpty()) return false;
    const QList<QByteArray> parts = lines.first().trimmed().split(' ');
    if (parts.size() != 3 || !parts[2].startsWith("HTTP/")) return false;
    record.method = parts[0];
    record.target = parts[1];
    record.version = parts[2];
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0) continue;
        record.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    }
    return true;
}

QByteArray ReasonPhrase(int code)
{
    static const std::map<int, QByteArray> phrases = {
        {200, "OK"}, {301, "Moved Permanently"}, {302, "Found"}, {304, "Not Modified"},
        {400, "Bad Request"}, {401, "Unauthorized"}, {403, "Forbidden"}, {404, "Not Found"},
        {407, "Proxy Authentication Required"}, {410, "Gone"}, {431, "Request Header Fields Too Large"},
        {500, "Internal Server Error"}, {502, "Bad Gateway"}, {503, "Service Unavailable"}};
    const auto it = phrases.find(code);
    return it == phrases.end() ? QByteArray("Status") : it->second;
}

struct HttpTestServer::Shared {
    mutable std::mutex mutex;
    std::map<QByteArray, HttpReply> routes;
    std::map<QByteArray, std::pair<std::vector<HttpReply>, size_t>> sequences; // replies, next one
    HttpReply fallback = HttpReply::status(404, "not found");
    std::vector<HttpRequestRecord> requests;
    int connections = 0;
    int open = 0;
    int peakOpen = 0;
    std::vector<std::chrono::steady_clock::time_point> acceptTimes;
};

namespace {
constexpr qsizetype kMaxHead = 64 * 1024;
const QByteArray kEndlessChunk(64 * 1024, 'x');
} // namespace

// Lives in the server thread; so do all its sockets.
class HttpTestServer::Core : public QTcpServer {
public:
    Core(std::shared_ptr<Shared> shared, std::optional<TlsSetup> tls) : m_shared(std::move(shared))
    {
        if (tls) {
            QFile cert(tls->certificateFile), key(tls->keyFile);
            if (cert.open(QIODevice::ReadOnly)) m_chain = QSslCertificate::fromData(cert.readAll(), QSsl::Pem);
            if (key.open(QIODevice::ReadOnly)) {
                const QByteArray pem = key.readAll();
                m_key = QSslKey(pem, QSsl::Ec, QSsl::Pem);
                if (m_key.isNull()) m_key = QSslKey(pem, QSsl::Rsa, QSsl::Pem);
            }
            m_tls = true;
        }
    }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        {
            std::lock_guard lock(m_shared->mutex);
            ++m_shared->connections;
            m_shared->peakOpen = std::max(m_shared->peakOpen, ++m_shared->open);
            m_shared->acceptTimes.push_back(std::chrono::steady_clock::now());
        }
        QTcpSocket* socket = m_tls ? new QSslSocket(this) : new QTcpSocket(this);
        // Open until the socket goes, whichever side closed it.
        connect(socket, &QObject::destroyed, [shared = m_shared] {
            std::lock_guard lock(shared->mutex);
            --shared->open;
        });
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        auto buffer = std::make_shared<QByteArray>();
        auto answered = std::make_shared<bool>(false);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer, answered] {
            buffer->append(socket->readAll());
            if (*answered) return;
            if (buffer->isEmpty()) return;
            // A TLS hello or other binary first: answer like a real server would.
            const bool looksLikeHttp = std::isupper(static_cast<unsigned char>(buffer->front()));
            const qsizetype end = buffer->indexOf("\r\n\r\n");
            if (!looksLikeHttp || end > kMaxHead || (end < 0 && buffer->size() > kMaxHead)) {
                *answered = true;
                send(socket, HttpReply::status(looksLikeHttp ? 431 : 400));
                return;
            }
            if (end < 0) return;
            *answered = true;
            HttpRequestRecord record;
            if (!ParseRequestHead(buffer->left(end), record)) {
                send(socket, HttpReply::status(400));
                return;
            }
            HttpReply reply;
            {
                std::lock_guard lock(m_shared->mutex);
                m_shared->requests.push_back(record);
                QByteArray path = record.target;
                if (const qsizetype q = path.indexOf('?'); q >= 0) path.truncate(q);
                if (const auto seq = m_shared->sequences.find(path); seq != m_shared->sequences.end()) {
                    auto& [replies, next] = seq->second;
                    reply = replies[std::min(next, replies.size() - 1)];
                    ++next;
                } else {
                    const auto it = m_shared->routes.find(path);
                    reply = it != m_shared->routes.end() ? it->second : m_shared->fallback;
                }
            }
            if (reply.delayMs > 0) QTimer::singleShot(reply.delayMs, socket, [this, socket, reply] { send(socket, reply); });
            else send(socket, reply);
        });
        if (m_tls) {
            auto* ssl = static_cast<QSslSocket*>(socket);
            ssl->setLocalCertificateChain(m_chain);
            ssl->setPrivateKey(m_key);
            ssl->setPeerVerifyMode(QSslSocket::VerifyNone);
            connect(ssl, &QAbstractSocket::errorOccurred, ssl, [ssl] { ssl->abort(); ssl->deleteLater(); });
            ssl->startServerEncryption();
        }
    }

private:
    static QByteArray head(const HttpReply& reply, bool withLength)
    {
        QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.code) + ' ' +
                         (reply.reason.isEmpty() ? ReasonPhrase(reply.code) : reply.reason) + "\r\n";
        bool hasLength = false;
        for (const auto& [name, value] : reply.headers) {
            out += name + ": " + value + "\r\n";
            hasLength |= name.compare("Content-Length", Qt::CaseInsensitive) == 0;
        }
        if (withLength && !hasLength) out += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n";
        out += "Connection: close\r\n\r\n";
        return out;
    }

    void send(QTcpSocket* socket, const HttpReply& reply)
    {
        using Kind = HttpReply::Kind;
        switch (reply.kind) {
        case Kind::Normal:
            socket->write(head(reply, reply.announceLength) + reply.body);
            socket->disconnectFromHost();
            break;
        case Kind::StallAfterStatusLine:
            socket->write("HTTP/1.1 " + QByteArray::number(reply.code) + ' ' + ReasonPhrase(reply.code) + "\r\n");
            break;
        case Kind::CloseWithoutAnswer:
            socket->disconnectFromHost();
            break;
        case Kind::NeverAnswer:
            break;
        case Kind::Garbage:
            socket->write("\x01\x02\x03 this is no answer at all \xff\xfe\r\n\r\n");
            socket->disconnectFromHost();
            break;
        case Kind::EndlessBody:
            socket->write(head(reply, false));
            socket->write(kEndlessChunk);
            connect(socket, &QTcpSocket::bytesWritten, socket, [socket] {
                if (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() < kEndlessChunk.size())
                    socket->write(kEndlessChunk);
            });
            break;
        }
    }

    std::shared_ptr<Shared> m_shared;
    bool m_tls = false;
    QList<QSslCertificate> m_chain;
    QSslKey m_key;
};

HttpTestServer::HttpTestServer(std::optional<TlsSetup> tls)
    : m_shared(std::make_shared<Shared>()), m_thread(std::make_unique<QThread>()), m_tls(tls.has_value())
{
    m_core = new Core(m_shared, std::move(tls));
    m_port = StartServerThread(m_core, *m_thread);
}

HttpTestServer::HttpTestServer(const QByteArray& loopbackAddress)
    : m_shared(std::make_shared<Shared>()), m_thread(std::make_unique<QThread>()), m_host(loopbackAddress)
{
    m_core = new Core(m_shared, std::nullopt);
    m_port = StartServerThread(m_core, *m_thread, QHostAddress(QString::fromLatin1(loopbackAddress)));
}

HttpTestServer::~HttpTestServer() { StopServerThread(m_core, *m_thread); }

quint16 HttpTestServer::port() const { return m_port; }

QByteArray HttpTestServer::baseUrl() const
{
    return (m_tls ? "https://" : "http://") + m_host + ':' + QByteArray::number(m_port);
}

QByteArray HttpTestServer::url(const QByteArray& path) const { return baseUrl() + path; }

void HttpTestServer::route(const QByteArray& path, const HttpReply& reply)
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->routes[path] = reply;
}

void HttpTestServer::routeSequence(const QByteArray& path, const std::vector<HttpReply>& replies)
{
    if (replies.empty()) return;
    std::lock_guard lock(m_shared->mutex);
    m_shared->sequences[path] = {replies, 0};
}

void HttpTestServer::setFallback(const HttpReply& reply)
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->fallback = reply;
}

void HttpTestServer::addStandardRoutes()
{
    using Kind = HttpReply::Kind;
    route("/200", HttpReply::status(200, "ok"));
    route("/200-location", HttpReply::status(200, "ok").header("Location", url("/200")));
    route("/301", HttpReply::redirect(301, url("/200")));
    route("/302", HttpReply::redirect(302, url("/200")));
    for (int code : {304, 401, 403, 404, 407, 410, 500, 503}) route("/" + QByteArray::number(code), HttpReply::status(code));
    route("/650", HttpReply::status(650, "odd"));
    route("/stall", HttpReply::of(Kind::StallAfterStatusLine));
    route("/close", HttpReply::of(Kind::CloseWithoutAnswer));
    route("/never", HttpReply::of(Kind::NeverAnswer));
    route("/garbage", HttpReply::of(Kind::Garbage));
    route("/endless", HttpReply::of(Kind::EndlessBody));
    route("/slow", HttpReply::status(200, "late").delayed(300));
}

std::vector<HttpRequestRecord> HttpTestServer::requests() const
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->requests;
}

int HttpTestServer::requestCount() const
{
    std::lock_guard lock(m_shared->mutex);
    return static_cast<int>(m_shared->requests.size());
}

int HttpTestServer::connectionCount() const
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->connections;
}

int HttpTestServer::peakOpenConnections() const
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->peakOpen;
}

std::vector<std::chrono::steady_clock::time_point> HttpTestServer::acceptTimes() const
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->acceptTimes;
}

void HttpTestServer::clearRequests()
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->requests.clear();
    m_shared->connections = 0;
    m_shared->peakOpen = m_shared->open;
    m_shared->acceptTimes.clear();
}

quint16 closedLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

} // namespace signetrix::test
