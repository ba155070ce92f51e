// With --smtp the confirmation mail goes to an SMTP server instead of the
// outbox: a small SMTP listener of the test's own, on loopback, records the
// envelope and the message the real server hands it.
#include "net/Endpoints.h"
#include "server/web/ServerProcess.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

namespace signetrix::test {
namespace {

namespace ep = net::endpoints;

// Speaks just enough SMTP for one client at a time; runs on the test's
// thread, so tests wait with QTest::qWaitFor.
class SmtpSink {
public:
    SmtpSink()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) serve(socket);
        });
    }
    QByteArray url() const { return "smtp://127.0.0.1:" + QByteArray::number(m_server.serverPort()); }

    QByteArray mailFrom;
    QList<QByteArray> recipients;
    QList<QByteArray> messages;
    int sessionsEnded = 0;

private:
    void serve(QTcpSocket* socket)
    {
        socket->write("220 sink ready\r\n");
        auto buffer = std::make_shared<QByteArray>();
        auto inData = std::make_shared<bool>(false);
        QObject::connect(socket, &QTcpSocket::disconnected, socket, [this, socket] {
            ++sessionsEnded;
            socket->deleteLater();
        });
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer, inData] {
            *buffer += socket->readAll();
            for (;;) {
                if (*inData) {
                    const qsizetype end = buffer->indexOf("\r\n.\r\n");
                    if (end < 0) return;
                    messages.append(buffer->left(end + 2));
                    buffer->remove(0, end + 5);
                    *inData = false;
                    socket->write("250 queued\r\n");
                    continue;
                }
                const qsizetype end = buffer->indexOf("\r\n");
                if (end < 0) return;
                const QByteArray line = buffer->left(end);
                buffer->remove(0, end + 2);
                const QByteArray verb = line.left(4).toUpper();
                if (verb == "EHLO" || verb == "HELO") socket->write("250 sink\r\n");
                else if (verb == "MAIL") { mailFrom = line.mid(10).trimmed(); socket->write("250 ok\r\n"); }
                else if (verb == "RCPT") { recipients.append(line.mid(8).trimmed()); socket->write("250 ok\r\n"); }
                else if (verb == "DATA") { *inData = true; socket->write("354 go on\r\n"); }
                else if (verb == "QUIT") { socket->write("221 bye\r\n"); socket->disconnectFromHost(); return; }
                else socket->write("250 ok\r\n");
            }
        });
    }

    QTcpServer m_server;
};

TEST(SmtpDelivery, ConfirmationMailGoesToTheSmtpServerWithItsLink)
{
    QTemporaryDir dir;
    const QString data = dir.filePath(QStringLiteral("data"));
    SmtpSink sink;
    ServerProcess server(data, {QStringLiteral("--smtp"), QString::fromLatin1(sink.url()), QStringLiteral("--mail-from"),
                                QStringLiteral("Signetrix <inscription@exemple.fr>")});
    ASSERT_TRUE(server.ready()) << server.startError().toStdString();

    // The post answers at once; the mail follows in the background, so the
    // sink is served while the test waits.
    HttpAnswer added;
    added = PostForm(server.url("/download/inscription"),
                     {{ep::kFieldReferer, ep::kRefererProgram}, {ep::kFieldEmail, QStringLiteral("moi@exemple.fr")},
                      {ep::kFieldPassword, QStringLiteral("abc")}, {ep::kFieldAction, ep::kActionAdd}});
    EXPECT_TRUE(BodyText(added.body).contains(QLatin1String(ep::kAddAcceptedMarker)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !sink.messages.isEmpty(); }, kServerWaitMs)) << server.log().toStdString();

    EXPECT_EQ(sink.mailFrom, "<inscription@exemple.fr>");
    EXPECT_EQ(sink.recipients, QList<QByteArray>{"<moi@exemple.fr>"});
    const QString message = QString::fromUtf8(sink.messages.first());
    EXPECT_TRUE(message.contains(QStringLiteral("\r\nTo: moi@exemple.fr\r\n")));
    const QByteArray link = ConfirmationLink(message);
    ASSERT_FALSE(link.isEmpty()) << message.toStdString();
    EXPECT_TRUE(OutboxMails(data).isEmpty());
    // The client ends its session (the sink's last reply must reach it before
    // the test stops serving); the server says the mail left.
    ASSERT_TRUE(QTest::qWaitFor([&] { return sink.sessionsEnded > 0; }, kServerWaitMs));
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.log().contains(QLatin1String("handed to the SMTP server")); },
                                kServerWaitMs));
    EXPECT_EQ(Get(link).status, 200);
    EXPECT_EQ(server.stop(), 0);
}

} // namespace
} // namespace signetrix::test
