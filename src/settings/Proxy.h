#pragma once
// The proxy the user configured, applied to the network clients just before
// they are used, and the proxy record the link check worker copies (the
// record and the client settings themselves belong to the network layer).
#include "net/ProxyRecord.h"

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

// Both throw ConvertError ("'%s' is not a valid integer value") for a port that
// is not a whole number when the proxy is on, before anything is changed.
void PrepareProxySettings(const ProxyValues& values, HttpClientProxySettings& client,
                          tyiProxyConnectionInfo& record);
void PrepareFtpProxy(const ProxyValues& values, FtpClientProxySettings& client, tyiProxyConnectionInfo& record);

} // namespace signetrix
