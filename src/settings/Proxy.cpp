#include "settings/Proxy.h"

#include "platform/CodePage.h"
#include "platform/Errors.h"

namespace signetrix {

void PrepareProxySettings(const ProxyValues& values, HttpClientProxySettings& client,
                          tyiProxyConnectionInfo& record)
{
    // Convert first: a bad port must leave the client and the record as they were.
    const int port = values.useProxy ? StrToInt(values.port) : 0;

    client.basicAuthentication = values.useProxy;
    if (values.useProxy) {
        client.proxyServer = codepage::toAnsi(values.host);
        client.proxyPort = port;
        client.username = values.authentication ? codepage::toAnsi(values.user) : QByteArray();
        client.password = values.authentication ? codepage::toAnsi(values.password) : QByteArray();
    } else {
        client.proxyServer.clear();
        client.proxyPort = 0;
        client.username.clear();
        client.password.clear();
    }

    record.BasicAuthentication = client.basicAuthentication;
    record.ProxyServer = client.proxyServer;
    record.ProxyPort = client.proxyPort;
    record.ProxyUsername = client.username;
    record.ProxyPassword = client.password;
}

void PrepareFtpProxy(const ProxyValues& values, FtpClientProxySettings& client, tyiProxyConnectionInfo& record)
{
    const int port = values.useProxy ? StrToInt(values.port) : 0;

    if (values.useProxy) {
        // The proxy method stays as it is: the transfer itself decides how to use the proxy.
        client.host = codepage::toAnsi(values.host);
        client.port = port;
        client.username = values.authentication ? codepage::toAnsi(values.user) : QByteArray();
        client.password = values.authentication ? codepage::toAnsi(values.password) : QByteArray();
    } else {
        client.host.clear();
        client.port = 0;
        client.username.clear();
        client.password.clear();
        client.method = FtpClientProxySettings::Method::None;
    }

    record.BasicAuthentication = values.useProxy;
    record.ProxyServer = client.host;
    record.ProxyPort = client.port;
    record.ProxyUsername = client.username;
    record.ProxyPassword = client.password;
}

} // namespace signetrix
