#include "core/WebServer.h"

#include "core/FormDecoding.h"
#include "core/Log.h"
#include "core/Pages.h"
#include "net/Endpoints.h"

#include <QDir>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QPointer>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrlQuery>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace signetrix::server {
namespace {

namespace ep = signetrix::net::endpoints;
using Status = QHttpServerResponder::StatusCode;

constexpr char kHtml[] = "text/html; charset=utf-8";
constexpr char kZip[] = "application/zip";
constexpr char kText[] = "text/plain; charset=utf-8";
// Pages of our own load nothing from elsewhere and post only here.
constexpr char kPagePolicy[] = "default-src 'none'; style-src 'unsafe-inline'; form-action 'self'; "
                               "frame-ancestors 'none'; base-uri 'none'";
constexpr qint64 kStreamChunk = 64 * 1024;
constexpr qint64 kStreamHighWater = 256 * 1024;
constexpr long long kMinuteMs = 60 * 1000;

// Cuts connections that send too much for one request or go quiet: the HTTP
// layer keeps a request whole in memory until it is complete.
class ConnectionGuard : public QObject {
public:
    ConnectionGuard(QTcpSocket* socket, qint64 maxRequestBytes, int idleMs)
        : QObject(socket), m_socket(socket), m_max(maxRequestBytes)
    {
        setObjectName(QLatin1String(kName));
        m_idle.setSingleShot(true);
        m_idle.setInterval(idleMs);
        connect(&m_idle, &QTimer::timeout, this, [this] {
            if (m_socket->bytesToWrite() == 0) m_socket->abort();
            else m_idle.start();
        });
        connect(socket, &QTcpSocket::readyRead, this, [this] {
            m_idle.start();
            noteRequestLine();
            m_received += m_socket->bytesAvailable();
            if (m_received > m_max) {
                LogLine(QStringLiteral("%1: request over %2 bytes, connection cut")
                            .arg(m_socket->peerAddress().toString())
                            .arg(m_max));
                m_socket->abort();
            }
        });
        connect(socket, &QTcpSocket::bytesWritten, &m_idle, qOverload<>(&QTimer::start));
        m_idle.start();
    }
    // The request's target as the client sent it: the HTTP layer reads
    // "//etc/passwd" as host "etc" and path "/passwd", so the path checks
    // need the original. Empty when it could not be seen (pipelined requests).
    QByteArray takeTarget()
    {
        const QByteArray target = m_target;
        m_received = 0;
        m_head.clear();
        m_target.clear();
        m_headDone = false;
        return target;
    }
    static ConnectionGuard* of(QTcpSocket* socket)
    {
        return dynamic_cast<ConnectionGuard*>(
            socket->findChild<QObject*>(QLatin1String(kName), Qt::FindDirectChildrenOnly));
    }

private:
    static constexpr char kName[] = "signetrix-connection-guard";
    static constexpr qsizetype kMaxRequestLine = 8192;

    void noteRequestLine()
    {
        if (m_headDone) return;
        m_head += m_socket->peek(qMin(m_socket->bytesAvailable(), kMaxRequestLine - m_head.size()));
        const qsizetype end = m_head.indexOf("\r\n");
        if (end < 0 && m_head.size() < kMaxRequestLine) return;
        m_headDone = true;
        const QList<QByteArray> parts = m_head.left(end).split(' ');
        if (parts.size() == 3) m_target = parts[1];
    }
    QByteArray m_head;
    QByteArray m_target;
    bool m_headDone = false;
    QTcpSocket* m_socket;
    qint64 m_max;
    qint64 m_received = 0;
    QTimer m_idle;
};

// Sends the rest of an open file as the socket drains, a piece at a time, so
// fifty downloads hold fifty small buffers and not fifty archives.
class FileStream : public QObject {
public:
    FileStream(int fd, qint64 size, QTcpSocket* socket) : QObject(socket), m_fd(fd), m_left(size), m_socket(socket)
    {
        connect(socket, &QTcpSocket::bytesWritten, this, &FileStream::pump);
        pump();
    }
    ~FileStream() override { ::close(m_fd); }

private:
    void pump()
    {
        QByteArray buffer;
        while (m_left > 0 && m_socket->bytesToWrite() < kStreamHighWater) {
            buffer.resize(qMin(kStreamChunk, m_left));
            const ssize_t n = ::read(m_fd, buffer.data(), size_t(buffer.size()));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                // The file shrank under us: the announced length cannot be kept.
                m_socket->abort();
                return;
            }
            m_left -= n;
            m_socket->write(buffer.constData(), n);
        }
        if (m_left == 0) deleteLater();
    }

    int m_fd;
    qint64 m_left;
    QTcpSocket* m_socket;
};

bool IsBackupName(const QString& name)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9]{1,20}\\.zip$"));
    return pattern.match(name).hasMatch();
}

const char* MethodName(QHttpServerRequest::Method method)
{
    switch (method) {
    case QHttpServerRequest::Method::Get: return "GET";
    case QHttpServerRequest::Method::Head: return "HEAD";
    case QHttpServerRequest::Method::Post: return "POST";
    case QHttpServerRequest::Method::Put: return "PUT";
    case QHttpServerRequest::Method::Delete: return "DELETE";
    case QHttpServerRequest::Method::Options: return "OPTIONS";
    case QHttpServerRequest::Method::Patch: return "PATCH";
    case QHttpServerRequest::Method::Connect: return "CONNECT";
    case QHttpServerRequest::Method::Trace: return "TRACE";
    default: return "?";
    }
}

// The path of a request target as sent: its query dropped, and the scheme
// and host of an absolute one ("http://host/path").
QByteArray TargetPath(QByteArray target)
{
    const qsizetype query = target.indexOf('?');
    if (query >= 0) target.truncate(query);
    for (const char* scheme : {"http://", "https://"}) {
        if (target.toLower().startsWith(scheme)) {
            const qsizetype slash = target.indexOf('/', qsizetype(qstrlen(scheme)));
            return slash < 0 ? QByteArray("/") : target.mid(slash);
        }
    }
    return target;
}

Answer Refusal(int status, const QString& title, const QString& text)
{
    return Answer{status, title, text, false};
}

} // namespace

struct WebServer::Reply {
    int status = 200;
    QByteArray contentType;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;
};

class WebServer::Listener : public QTcpServer {
public:
    Listener(const WebConfig& config, QObject* parent) : QTcpServer(parent), m_config(config) {}

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto* socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        // Connected before the HTTP layer connects its own reader, so the
        // guard sees each piece before it is consumed.
        new ConnectionGuard(socket, m_config.maxRequestBytes, m_config.idleTimeoutMs);
        addPendingConnection(socket);
    }

private:
    const WebConfig& m_config;
};

DataLayout::DataLayout(const QString& rootFolder)
    : root(rootFolder),
      banner(rootFolder + QStringLiteral("/www") + QLatin1String(ep::kBannerPath)),
      download(rootFolder + QStringLiteral("/download")),
      ftpRoot(rootFolder + QStringLiteral("/ftp")),
      outbox(rootFolder + QStringLiteral("/outbox")),
      database(rootFolder + QStringLiteral("/accounts.sqlite"))
{
}

QString DataLayout::backups(const QString& folder) const
{
    return ftpRoot + QLatin1Char('/') + folder;
}

bool IsSafeRequestPath(const QByteArray& encodedPath, QByteArray* decoded, QString* reason)
{
    const auto refuse = [&](const QString& why) {
        *reason = why;
        return false;
    };
    if (!encodedPath.startsWith('/')) return refuse(QStringLiteral("le chemin ne commence pas par « / »"));
    if (!PercentDecode(encodedPath, decoded, false)) return refuse(QStringLiteral("le chemin contient un codage invalide"));
    // An escape that decodes to another escape is a way around these checks.
    if (decoded->contains('%')) return refuse(QStringLiteral("le chemin contient un codage en double"));
    if (decoded->contains('\0') || decoded->contains('\\'))
        return refuse(QStringLiteral("le chemin contient un caractère interdit"));
    const QList<QByteArray> segments = decoded->mid(1).split('/');
    for (qsizetype i = 0; i < segments.size(); ++i) {
        const QByteArray& segment = segments[i];
        if (segment == ".." || segment == ".") return refuse(QStringLiteral("le chemin remonte ou tourne sur lui-même"));
        // "//x" would read as an absolute path below a folder.
        if (segment.isEmpty() && i + 1 < segments.size())
            return refuse(QStringLiteral("le chemin contient un chemin absolu"));
    }
    return true;
}

WebServer::WebServer(WebConfig config, Registration& registration, QObject* parent)
    : QAbstractHttpServer(parent),
      m_config(std::move(config)),
      m_layout(m_config.dataFolder),
      m_registration(registration),
      m_formPosts(m_config.formPostsPerMinute, kMinuteMs),
      m_registrations(m_config.registrationsPerMinute, kMinuteMs),
      m_confirmations(m_config.confirmationsPerMinute, kMinuteMs)
{
}

WebServer::~WebServer() = default;

bool WebServer::start(const QHostAddress& address, quint16 port, QString* error)
{
    m_listener = new Listener(m_config, this);
    if (!m_listener->listen(address, port)) {
        *error = QStringLiteral("cannot listen on %1:%2: %3").arg(address.toString()).arg(port).arg(m_listener->errorString());
        delete m_listener;
        m_listener = nullptr;
        return false;
    }
    bind(m_listener);
    return true;
}

quint16 WebServer::port() const
{
    return m_listener ? m_listener->serverPort() : 0;
}

void WebServer::answer(const QHttpServerRequest& request, QTcpSocket* socket, const Reply& reply)
{
    QHttpServerResponder responder = makeResponder(request, socket);
    responder.writeStatusLine(Status(reply.status));
    responder.writeHeader("Content-Type", reply.contentType);
    responder.writeHeader("Content-Length", QByteArray::number(reply.body.size()));
    responder.writeHeader("X-Content-Type-Options", "nosniff");
    for (const auto& header : reply.headers) responder.writeHeader(header.first, header.second);
    responder.writeBody(request.method() == QHttpServerRequest::Method::Head ? QByteArray() : reply.body);
}

void WebServer::sendAnswer(const QHttpServerRequest& request, QTcpSocket* socket, const Answer& answerPage)
{
    Reply reply;
    reply.status = answerPage.status;
    reply.contentType = kHtml;
    reply.body = AnswerPage(answerPage, QString::fromLatin1(ep::kRegistrationPagePath));
    reply.headers = {{"Cache-Control", "no-store"}, {"Content-Security-Policy", kPagePolicy}};
    if (answerPage.status == 429) reply.headers.append(qMakePair(QByteArray("Retry-After"), QByteArray("60")));
    answer(request, socket, reply);
}

int WebServer::serveFile(const QHttpServerRequest& request, QTcpSocket* socket, const QString& path,
                         const QByteArray& contentType, const Reply& missing)
{
    // Regular files only, opened without following a final link; the
    // descriptor, not the name, is what gets sent.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (fd >= 0) ::close(fd);
        answer(request, socket, missing);
        return missing.status;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    QHttpServerResponder responder = makeResponder(request, socket);
    responder.writeStatusLine(Status::Ok);
    responder.writeHeader("Content-Type", contentType);
    responder.writeHeader("Content-Length", QByteArray::number(qint64(info.st_size)));
    responder.writeHeader("Cache-Control", "no-cache");
    responder.writeHeader("X-Content-Type-Options", "nosniff");
    responder.writeBody(QByteArray());
    if (request.method() == QHttpServerRequest::Method::Head || info.st_size == 0)
        ::close(fd);
    else
        new FileStream(fd, qint64(info.st_size), socket);
    return 200;
}

bool WebServer::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    ConnectionGuard* guard = ConnectionGuard::of(socket);
    const QByteArray target = guard ? guard->takeTarget() : QByteArray();
    const QString client = request.remoteAddress().toString();
    const QByteArray encodedPath = target.isEmpty() ? request.url().path(QUrl::FullyEncoded).toLatin1() : TargetPath(target);
    const QHttpServerRequest::Method method = request.method();
    const bool read = method == QHttpServerRequest::Method::Get || method == QHttpServerRequest::Method::Head;
    QByteArray path;
    QString reason;
    int status = 200;

    const auto logged = [&](int code) {
        // One arg() call: a "%2" in the path must stay as it came.
        LogLine(QStringLiteral("%1 %2 %3 %4")
                    .arg(client, QLatin1String(MethodName(method)), QString::fromLatin1(encodedPath),
                         QString::number(code)));
    };
    const auto notFound = [&](const QString& title, const QString& text) {
        Reply reply;
        reply.status = 404;
        reply.contentType = kHtml;
        reply.body = AnswerPage(Refusal(404, title, text), QString::fromLatin1(ep::kRegistrationPagePath));
        reply.headers = {{"Cache-Control", "no-store"}, {"Content-Security-Policy", kPagePolicy}};
        return reply;
    };
    const Reply pageMissing = notFound(QStringLiteral("Page introuvable"), QStringLiteral("Cette page n'existe pas."));

    if (!IsSafeRequestPath(encodedPath, &path, &reason)) {
        sendAnswer(request, socket, Refusal(400, QStringLiteral("Chemin refusé"),
                                            QStringLiteral("Demande refusée : %1.").arg(reason)));
        logged(400);
        return true;
    }
    const auto wrongMethod = [&](const QByteArray& allowed) {
        Reply reply;
        reply.status = 405;
        reply.contentType = kText;
        reply.body = "Méthode non permise.\n";
        reply.headers = {{"Allow", allowed}};
        answer(request, socket, reply);
        status = 405;
    };

    const QString route = QString::fromUtf8(path);
    const QStringList segments = route.mid(1).split(QLatin1Char('/'));
    if (route == QLatin1String(kFormTargetPath)) {
        if (method != QHttpServerRequest::Method::Post) {
            wrongMethod("POST");
        } else {
            handleForm(request, socket, client);
            status = 0;
        }
    } else if (!read) {
        wrongMethod("GET, HEAD");
    } else if (route == QLatin1String(ep::kBannerPath)) {
        status = serveFile(request, socket, m_layout.banner, "text/html", pageMissing);
    } else if (route == QLatin1String(ep::kRegistrationPagePath)) {
        Reply reply;
        reply.contentType = kHtml;
        reply.body = RegistrationPage(QString::fromLatin1(kFormTargetPath));
        reply.headers = {{"Cache-Control", "no-store"}, {"Content-Security-Policy", kPagePolicy}};
        answer(request, socket, reply);
    } else if (route == QLatin1String(kConfirmationPath)) {
        // Only a real visit confirms; a HEAD from a link checker must not.
        if (method != QHttpServerRequest::Method::Get) {
            wrongMethod("GET");
        } else {
            handleConfirmation(request, socket, client);
            status = 0;
        }
    } else if (route == QLatin1String(ep::kReleaseArchivePath) || route == QLatin1String(ep::kReleaseSignaturePath)) {
        const bool archive = route == QLatin1String(ep::kReleaseArchivePath);
        status = serveFile(request, socket,
                  m_layout.download + QLatin1Char('/') +
                      QLatin1String(archive ? ep::kReleaseArchiveName : ep::kReleaseSignatureName),
                  archive ? QByteArray(kZip) : QByteArray(kText),
                  notFound(QStringLiteral("Aucune version publiée"),
                           QStringLiteral("Aucune version de Signetrix n'est publiée pour l'instant.")));
    } else if (segments.size() == 2 && segments[0] == m_config.backupFolder && IsBackupName(segments[1])) {
        status = serveFile(request, socket, m_layout.backups(m_config.backupFolder) + QLatin1Char('/') + segments[1], kZip,
                  notFound(QStringLiteral("Aucune sauvegarde"),
                           QStringLiteral("Aucune sauvegarde n'est enregistrée pour ce compte.")));
    } else {
        answer(request, socket, pageMissing);
        status = 404;
    }
    if (status != 0) logged(status);
    return true;
}

void WebServer::handleForm(const QHttpServerRequest& request, QTcpSocket* socket, const QString& client)
{
    const auto finish = [&](const Answer& a) {
        sendAnswer(request, socket, a);
        LogLine(QStringLiteral("%1 POST %2 %3").arg(client, QLatin1String(kFormTargetPath), QString::number(a.status)));
    };
    if (!m_formPosts.allow(client))
        return finish(Refusal(429, QStringLiteral("Trop de demandes"),
                              QStringLiteral("Trop de demandes venues de votre adresse. Réessayez dans une minute.")));
    const QByteArray type = request.value("Content-Type").split(';').first().trimmed().toLower();
    if (type != "application/x-www-form-urlencoded")
        return finish(Refusal(415, QStringLiteral("Formulaire refusé"),
                              QStringLiteral("Le formulaire doit être envoyé au format "
                                             "application/x-www-form-urlencoded.")));
    if (request.body().size() > m_config.maxBodyBytes)
        return finish(Refusal(413, QStringLiteral("Formulaire refusé"),
                              QStringLiteral("Le formulaire envoyé est trop volumineux.")));
    const DecodedForm form = DecodeForm(request.body(), FormFieldLimits());
    if (!form.ok) return finish(Refusal(400, QStringLiteral("Formulaire refusé"), form.refusal));
    if (form.fields.value(QString::fromLatin1(ep::kFieldAction)) == QLatin1String(ep::kActionAdd) &&
        !m_registrations.allow(client))
        return finish(Refusal(429, QStringLiteral("Trop d'inscriptions"),
                              QStringLiteral("Trop d'inscriptions demandées depuis votre adresse. "
                                             "Réessayez dans une minute.")));
    finish(m_registration.handle(form.fields, client));
}

void WebServer::handleConfirmation(const QHttpServerRequest& request, QTcpSocket* socket, const QString& client)
{
    Answer result;
    if (!m_confirmations.allow(client)) {
        result = Refusal(429, QStringLiteral("Trop de demandes"),
                         QStringLiteral("Trop de demandes venues de votre adresse. Réessayez dans une minute."));
    } else {
        const QByteArray token =
            request.query().queryItemValue(QLatin1String(kConfirmationTokenParameter), QUrl::FullyDecoded).toLatin1();
        result = m_registration.confirm(token);
    }
    sendAnswer(request, socket, result);
    LogLine(QStringLiteral("%1 GET %2 %3").arg(client, QLatin1String(kConfirmationPath), QString::number(result.status)));
}

void WebServer::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    Reply reply;
    reply.status = 404;
    reply.contentType = kText;
    reply.body = "Page introuvable.\n";
    answer(request, socket, reply);
}

} // namespace signetrix::server
