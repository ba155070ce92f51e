#pragma once
// The FTP side: the FTP daemon script (pyftpdlib, run by Debian's own
// /usr/bin/python3) started as a child process with the backup account, its
// root inside the data folder and the listening address. It reports
// "ftp=HOST:PORT" once it listens. Its standard input stays open for as long
// as we live: the child ends at its end of file, so it also goes away when we
// are killed; on Linux it is also sent SIGTERM when we die.
//
// start() fails (false with a text) when the child cannot run, exits, or says
// nothing within the time given; unexpectedExit reports a later death.
#include <QObject>
#include <QProcess>
#include <QString>

namespace signetrix::server {

struct FtpChildConfig {
    QString python = QStringLiteral("/usr/bin/python3");
    QString script;
    QString listen; // HOST:PORT, port 0 for any free one
    QString user;
    QString password;
    QString root;   // the data folder's ftp/
    QString folder; // the backup folder below root
    int startTimeoutMs = 20000;
};

class FtpChild : public QObject {
    Q_OBJECT

public:
    explicit FtpChild(FtpChildConfig config, QObject* parent = nullptr);
    ~FtpChild() override; // stops the child

    bool start(QString* error);
    QString listenAddress() const { return m_listen; } // as the child reported it
    qint64 processId() const { return m_process.processId(); }
    // Closes the child's input, then terminates and at last kills it.
    void stop(int graceMs = 5000);

signals:
    void unexpectedExit(const QString& why);

private:
    FtpChildConfig m_config;
    QProcess m_process;
    QString m_listen;
    bool m_stopping = false;
};

} // namespace signetrix::server
