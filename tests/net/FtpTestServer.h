#pragma once
// A real FTP server on 127.0.0.1 (Debian's python3-pyftpdlib) serving a
// temporary folder to one user with write rights. The port is chosen by the
// system and read from the server's first output line.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace signetrix::test {

class FtpTestServer {
public:
    static constexpr char kUser[] = "uploader";
    static constexpr char kPassword[] = "s3cret";

    FtpTestServer()
    {
        const QString script = m_dir.filePath(QStringLiteral("server.py"));
        QFile file(script);
        if (!file.open(QIODevice::WriteOnly)) {
            m_error = "cannot write the server script";
            return;
        }
        file.write(R"(import sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer
authorizer = DummyAuthorizer()
authorizer.add_user(sys.argv[2], sys.argv[3], sys.argv[1], perm="elradfmw")
FTPHandler.authorizer = authorizer
server = FTPServer(("127.0.0.1", 0), FTPHandler)
print("PORT", server.socket.getsockname()[1], flush=True)
server.serve_forever()
)");
        file.close();
        m_root = m_dir.filePath(QStringLiteral("root"));
        QDir().mkpath(m_root);
        // Debian's own interpreter: the package installs its module there.
        QString python = QStringLiteral("/usr/bin/python3");
        if (!QFile::exists(python)) python = QStandardPaths::findExecutable(QStringLiteral("python3"));
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start(python, {script, m_root, QString::fromLatin1(kUser), QString::fromLatin1(kPassword)});
        if (!m_process.waitForStarted(10000)) {
            m_error = "python3 did not start";
            return;
        }
        while (!m_process.canReadLine() && m_process.waitForReadyRead(15000)) {
        }
        const QByteArray line = m_process.readLine().trimmed();
        if (!line.startsWith("PORT ")) {
            m_error = "no port from the FTP server: " + line + m_process.readAllStandardError();
            return;
        }
        m_port = line.mid(5).toUShort();
    }

    ~FtpTestServer()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    bool running() const { return m_port != 0; }
    QByteArray error() const { return m_error; }
    quint16 port() const { return m_port; }
    QByteArray url(const QByteArray& path) const { return "ftp://127.0.0.1:" + QByteArray::number(m_port) + path; }
    // The folder the server serves.
    QString root() const { return m_root; }

private:
    QTemporaryDir m_dir;
    QString m_root;
    QProcess m_process;
    quint16 m_port = 0;
    QByteArray m_error;
};

} // namespace signetrix::test
