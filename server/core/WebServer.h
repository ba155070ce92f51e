#pragma once
// The web side: plain HTTP on fixed routes only (no generic file serving, no
// listing). The banner page, the registration page and its form target, the
// confirmation link, the release archive and its signature, and each
// account's last backup from the folder the FTP side writes.
//
// Every request path is checked before routing: "..", "." segments, empty
// segments, back-slashes, NUL bytes and escapes that decode to any of them
// (such as "%2e%2e") answer 400 with a page saying so. Form posts are limited
// in size and rate per client address. Files are streamed from an open
// descriptor, so a file replaced meanwhile is served whole, old or new.
#include "core/RateLimiter.h"
#include "core/Registration.h"

#include <QAbstractHttpServer>
#include <QHostAddress>
#include <QString>

#include <memory>

class QHttpServerRequest;
class QTcpSocket;

namespace signetrix::server {

inline constexpr char kFormTargetPath[] = "/download/inscription";
inline constexpr char kConfirmationPath[] = "/download/confirmation";
inline constexpr char kConfirmationTokenParameter[] = "jeton";

struct WebConfig {
    QString dataFolder;
    QString backupFolder;
    int formPostsPerMinute = 30;     // all form posts of one client address
    int registrationsPerMinute = 3;  // ADD posts of one client address
    int confirmationsPerMinute = 30; // confirmation links opened by one client address
    qint64 maxBodyBytes = 8 * 1024;
    qint64 maxRequestBytes = 64 * 1024; // headers and body of one request
    int idleTimeoutMs = 60 * 1000;
};

// Where the files of the data folder are.
struct DataLayout {
    explicit DataLayout(const QString& root);
    QString root;
    QString banner;   // www/err/Signetrix.htm
    QString download; // download/ (release archive and signature)
    QString ftpRoot;  // ftp/ (the FTP side's root)
    QString outbox;   // outbox/
    QString database; // accounts.sqlite
    QString backups(const QString& folder) const;
};

// The checks every request path passes; false with the reason otherwise.
bool IsSafeRequestPath(const QByteArray& encodedPath, QByteArray* decoded, QString* reason);

class WebServer : public QAbstractHttpServer {
    Q_OBJECT

public:
    WebServer(WebConfig config, Registration& registration, QObject* parent = nullptr);
    ~WebServer() override;

    // Listens on the address (port 0: any free one); false with a text.
    bool start(const QHostAddress& address, quint16 port, QString* error);
    quint16 port() const;

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    struct Reply;
    void answer(const QHttpServerRequest& request, QTcpSocket* socket, const Reply& reply);
    // Answers the file, or `missing` when there is no regular file; returns the status sent.
    int serveFile(const QHttpServerRequest& request, QTcpSocket* socket, const QString& path,
                  const QByteArray& contentType, const Reply& missing);
    void handleForm(const QHttpServerRequest& request, QTcpSocket* socket, const QString& client);
    void handleConfirmation(const QHttpServerRequest& request, QTcpSocket* socket, const QString& client);
    void sendAnswer(const QHttpServerRequest& request, QTcpSocket* socket, const Answer& answer);

    WebConfig m_config;
    DataLayout m_layout;
    Registration& m_registration;
    RateLimiter m_formPosts;
    RateLimiter m_registrations;
    RateLimiter m_confirmations;
    class Listener;
    Listener* m_listener = nullptr;
};

} // namespace signetrix::server
