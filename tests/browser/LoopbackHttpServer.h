#pragma once
// A minimal HTTP/1.1 server on 127.0.0.1 (port 0) for the browser tests: it
// records request bodies, which the form tests assert on. It runs on the
// thread that creates it, so the test must pump events (QTest::qWaitFor) while
// the browser talks to it. Each path answers a chosen
// reply; a stalled path accepts the request and never answers. Every request
// is recorded. Unknown paths answer 404.
#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>

#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace signetrix::test {

struct PageReply {
    int status = 200;
    QByteArray body;
    std::vector<std::pair<QByteArray, QByteArray>> headers = {{"Content-Type", "text/html; charset=utf-8"}};
    bool stall = false; // read the request, then keep silent

    static PageReply html(const QByteArray& body) { return PageReply{200, body}; }
    static PageReply redirect(int status, const QByteArray& location)
    {
        return PageReply{status, QByteArray(), {{"Location", location}}};
    }
    static PageReply stalled() { return PageReply{200, QByteArray(), {}, true}; }
};

struct PageRequest {
    QByteArray method;
    QByteArray target; // path and query as sent
    QByteArray path;   // without the query
    QHash<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
};

class LoopbackHttpServer {
public:
    LoopbackHttpServer()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) accept(socket);
        });
    }
    ~LoopbackHttpServer()
    {
        for (const QPointer<QTcpSocket>& socket : m_open)
            if (socket) socket->abort();
    }

    bool listening() const { return m_server.isListening(); }
    quint16 port() const { return m_server.serverPort(); }
    QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(port()); }
    QString url(const QString& path) const { return base() + path; }

    void route(const QByteArray& path, PageReply reply) { m_routes[path] = std::move(reply); }
    const std::vector<PageRequest>& requests() const { return m_requests; }
    int countFor(const QByteArray& path) const
    {
        int n = 0;
        for (const PageRequest& r : m_requests) n += r.path == path;
        return n;
    }
    const PageRequest* lastFor(const QByteArray& path) const
    {
        for (auto it = m_requests.rbegin(); it != m_requests.rend(); ++it)
            if (it->path == path) return &*it;
        return nullptr;
    }
    // Ends every connection still open (stalled ones included).
    void dropAll()
    {
        for (const QPointer<QTcpSocket>& socket : m_open)
            if (socket) socket->abort();
        m_open.clear();
    }

private:
    void accept(QTcpSocket* socket)
    {
        socket->setParent(&m_server);
        m_open.push_back(socket);
        auto buffer = std::make_shared<QByteArray>();
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
            buffer->append(socket->readAll());
            PageRequest request;
            if (!parse(*buffer, request)) return;
            buffer->clear();
            m_requests.push_back(request);
            answer(socket, request);
        });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }

    static bool parse(const QByteArray& data, PageRequest& request)
    {
        const qsizetype end = data.indexOf("\r\n\r\n");
        if (end < 0) return false;
        const QList<QByteArray> lines = data.left(end).split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        request.method = first.value(0);
        request.target = first.value(1);
        request.path = request.target.left(request.target.indexOf('?') < 0 ? request.target.size()
                                                                             : request.target.indexOf('?'));
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon > 0)
                request.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
        }
        const qsizetype length = request.headers.value("content-length", "0").toLongLong();
        if (data.size() - (end + 4) < length) return false;
        request.body = data.mid(end + 4, length);
        return true;
    }

    void answer(QTcpSocket* socket, const PageRequest& request)
    {
        auto found = m_routes.find(request.path);
        const PageReply reply = found != m_routes.end() ? found->second : PageReply{404, "<html><body>404</body></html>"};
        if (reply.stall) return;
        QByteArray out = "HTTP/1.1 " + QByteArray::number(reply.status) + " X\r\n";
        for (const auto& [name, value] : reply.headers) out += name + ": " + value + "\r\n";
        out += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\nConnection: close\r\n\r\n";
        if (request.method != "HEAD") out += reply.body;
        socket->write(out);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    std::map<QByteArray, PageReply> m_routes;
    std::vector<PageRequest> m_requests;
    std::vector<QPointer<QTcpSocket>> m_open;
};

} // namespace signetrix::test
