#include "support/HttpTestProxy.h"

#include "support/ServerThread.h"

#include <QTcpSocket>
#include <QUrl>

#include <mutex>

namespace signetrix::test {

struct HttpTestProxy::Shared {
    mutable std::mutex mutex;
    QByteArray requiredAuthorization;
    std::vector<HttpRequestRecord> requests;
};

class HttpTestProxy::Core : public QTcpServer {
public:
    explicit Core(std::shared_ptr<Shared> shared) : m_shared(std::move(shared)) {}

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto* client = new QTcpSocket(this);
        if (!client->setSocketDescriptor(descriptor)) {
            delete client;
            return;
        }
        auto buffer = std::make_shared<QByteArray>();
        auto upstream = std::make_shared<QTcpSocket*>(nullptr);
        connect(client, &QTcpSocket::disconnected, client, [client, upstream] {
            if (*upstream) (*upstream)->disconnectFromHost();
            client->deleteLater();
        });
        connect(client, &QTcpSocket::readyRead, client, [this, client, buffer, upstream] {
            if (*upstream) {
                (*upstream)->write(client->readAll());
                return;
            }
            buffer->append(client->readAll());
            const qsizetype end = buffer->indexOf("\r\n\r\n");
            if (end < 0) return;
            HttpRequestRecord record;
            const bool parsed = ParseRequestHead(buffer->left(end), record);
            const QByteArray rest = buffer->mid(end + 4);
            buffer->clear();
            QByteArray required;
            {
                std::lock_guard lock(m_shared->mutex);
                if (parsed) m_shared->requests.push_back(record);
                required = m_shared->requiredAuthorization;
            }
            if (!parsed) return refuse(client, 400);
            if (!required.isEmpty() && record.header("Proxy-Authorization") != required) return refuse(client, 407);
            open(client, upstream, record, rest);
        });
    }

private:
    static void refuse(QTcpSocket* client, int code)
    {
        QByteArray answer = "HTTP/1.1 " + QByteArray::number(code) + ' ' + ReasonPhrase(code) + "\r\n";
        if (code == 407) answer += "Proxy-Authenticate: Basic realm=\"test\"\r\n";
        answer += "Content-Length: 0\r\nConnection: close\r\n\r\n";
        client->write(answer);
        client->disconnectFromHost();
    }

    void open(QTcpSocket* client, const std::shared_ptr<QTcpSocket*>& upstream, const HttpRequestRecord& record,
              const QByteArray& rest)
    {
        const bool tunnel = record.method == "CONNECT";
        QString host;
        int port = 0;
        QByteArray forward;
        if (tunnel) {
            const qsizetype colon = record.target.lastIndexOf(':');
            host = QString::fromLatin1(record.target.left(colon));
            port = record.target.mid(colon + 1).toInt();
        } else {
            const QUrl target(QString::fromLatin1(record.target));
            if (!target.isValid() || target.scheme() != QLatin1String("http") || target.host().isEmpty())
                return refuse(client, 400);
            host = target.host();
            port = target.port(80);
            QByteArray path = target.path(QUrl::FullyEncoded).toLatin1();
            if (path.isEmpty()) path = "/";
            if (target.hasQuery()) path += '?' + target.query(QUrl::FullyEncoded).toLatin1();
            forward = record.method + ' ' + path + ' ' + record.version + "\r\n";
            for (const auto& [name, value] : record.headers) {
                if (name.toLower().startsWith("proxy-")) continue;
                forward += name + ": " + value + "\r\n";
            }
            forward += "\r\n" + rest;
        }
        auto* site = new QTcpSocket(client);
        *upstream = site;
        connect(site, &QTcpSocket::connected, site, [client, site, tunnel, forward] {
            if (tunnel) client->write("HTTP/1.1 200 Connection established\r\n\r\n");
            else site->write(forward);
        });
        connect(site, &QTcpSocket::readyRead, site, [client, site] { client->write(site->readAll()); });
        connect(site, &QTcpSocket::disconnected, client, [client] { client->disconnectFromHost(); });
        connect(site, &QAbstractSocket::errorOccurred, client, [client, site](QAbstractSocket::SocketError) {
            if (site->state() != QAbstractSocket::ConnectedState && client->state() == QAbstractSocket::ConnectedState &&
                site->property("answered").isNull()) {
                site->setProperty("answered", true);
                refuse(client, 502);
            }
        });
        site->connectToHost(host, static_cast<quint16>(port));
    }

    std::shared_ptr<Shared> m_shared;
};

HttpTestProxy::HttpTestProxy() : m_shared(std::make_shared<Shared>()), m_thread(std::make_unique<QThread>())
{
    m_core = new Core(m_shared);
    m_port = StartServerThread(m_core, *m_thread);
}

HttpTestProxy::~HttpTestProxy() { StopServerThread(m_core, *m_thread); }

quint16 HttpTestProxy::port() const { return m_port; }

void HttpTestProxy::requireAuthorization(const QByteArray& value)
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->requiredAuthorization = value;
}

std::vector<HttpRequestRecord> HttpTestProxy::requests() const
{
    std::lock_guard lock(m_shared->mutex);
    return m_shared->requests;
}

} // namespace signetrix::test
