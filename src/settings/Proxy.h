#pragma once
// The proxy the user configured, applied to the network clients just before
// they are used, and the proxy record the link check worker copies.
#include <QByteArray>
#include <QString>

namespace signetrix {

// The proxy values as the proxy page holds them.
struct ProxyValues {
    bool useProxy = false;        // chkbProxy
    QString host = QStringLiteral("localhost"); // edProxyHote
    QString port = QStringLiteral("8080");      // edProxyPort, free text
    bool authentication = false;  // chkbProxyAuthentification
    QString user;                 // edProxyUser
    QString password;             // edProxyPassword, in clear
};

// The program's one proxy record, copied by the link check worker.
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

// Both throw ConvertError ("'%s' is not a valid integer value") for a port that
// is not a whole number when the proxy is on, before anything is changed.
void PrepareProxySettings(const ProxyValues& values, HttpClientProxySettings& client,
                          tyiProxyConnectionInfo& record);
void PrepareFtpProxy(const ProxyValues& values, FtpClientProxySettings& client, tyiProxyConnectionInfo& record);

} // namespace signetrix
