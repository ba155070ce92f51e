#pragma once
// The proxy as the network clients take it: the program's one proxy record
// (copied by the link check worker) and the settings each client holds.
#include <QByteArray>

namespace signetrix {

// The program's one proxy record. An empty ProxyServer means a direct connection.
struct tyiProxyConnectionInfo {
    bool BasicAuthentication = false;
    QByteArray ProxyServer;
    qint32 ProxyPort = 0;
    QByteArray ProxyUsername;
    QByteArray ProxyPassword;
};

// Proxy settings of an HTTP client.
struct HttpClientProxySettings {
    bool basicAuthentication = false;
    QByteArray proxyServer;
    qint32 proxyPort = 0;
    QByteArray username;
    QByteArray password;
};

// Proxy settings of the FTP client.
struct FtpClientProxySettings {
    enum class Method { None };
    QByteArray host;
    qint32 port = 0;
    QByteArray username;
    QByteArray password;
    Method method = Method::None;
};

} // namespace signetrix
