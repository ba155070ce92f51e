#pragma once
// The whole server: the data folder laid out (with a default banner page on
// first start), the account store opened, the web side listening, the FTP
// side started as a child. start() fails with a text when any of them cannot
// be had; once it succeeded, readyLine() is the line printed for scripts and
// tests. A later death of the FTP child is reported by ftpLost, after which
// the caller ends the server.
#include "core/FtpChild.h"
#include "core/Options.h"
#include "core/Registration.h"
#include "core/WebServer.h"

#include <QObject>
#include <QTimer>

#include <memory>

namespace signetrix::server {

class ServerApp : public QObject {
    Q_OBJECT

public:
    explicit ServerApp(ServeOptions options, QObject* parent = nullptr);
    ~ServerApp() override;

    bool start(QString* error);
    QString readyLine() const; // "http=HOST:PORT ftp=HOST:PORT"
    void stop();

signals:
    void ftpLost(const QString& why);

private:
    bool prepareDataFolder(QString* error);

    ServeOptions m_options;
    DataLayout m_layout;
    std::unique_ptr<SqlAccountStore> m_store;
    std::unique_ptr<Mailer> m_mailer;
    std::unique_ptr<PasswordHasher> m_hasher;
    std::unique_ptr<Registration> m_registration;
    std::unique_ptr<WebServer> m_web;
    std::unique_ptr<FtpChild> m_ftp;
    HostPort m_httpBound;
    QTimer m_purge;
};

} // namespace signetrix::server
