#include "settings/Proxy.h"

#include "platform/CodePage.h"
#include "platform/Errors.h"

namespace signetrix {
namespace {

// What either client is given: everything empty when the proxy is off, no
// credentials without authentication.
struct ProxyFields {
    QByteArray server;
    qint32 port = 0;
    QByteArray user;
    QByteArray password;
};

// Converts the port first, so a bad one throws before any client or record is touched.
ProxyFields proxyFields(const ProxyValues& values)
{
    ProxyFields fields;
    if (!values.useProxy) return fields;
    fields.port = StrToInt(values.port);
    fields.server = codepage::toAnsi(values.host);
    if (values.authentication) {
        fields.user = codepage::toAnsi(values.user);
        fields.password = codepage::toAnsi(values.password);
    }
    return fields;
}

void fillRecord(bool useProxy, const ProxyFields& fields, tyiProxyConnectionInfo& record)
{
    record.BasicAuthentication = useProxy;
    record.ProxyServer = fields.server;
    record.ProxyPort = fields.port;
    record.ProxyUsername = fields.user;
    record.ProxyPassword = fields.password;
}

} // namespace

void PrepareProxySettings(const ProxyValues& values, HttpClientProxySettings& client,
                          tyiProxyConnectionInfo& record)
{
    const ProxyFields fields = proxyFields(values);
    client.basicAuthentication = values.useProxy;
    client.proxyServer = fields.server;
    client.proxyPort = fields.port;
    client.username = fields.user;
    client.password = fields.password;
    fillRecord(values.useProxy, fields, record);
}

void PrepareFtpProxy(const ProxyValues& values, FtpClientProxySettings& client, tyiProxyConnectionInfo& record)
{
    const ProxyFields fields = proxyFields(values);
    client.host = fields.server;
    client.port = fields.port;
    client.username = fields.user;
    client.password = fields.password;
    // On, the proxy method stays as it is: the transfer itself decides how to use the proxy.
    if (!values.useProxy) client.method = FtpClientProxySettings::Method::None;
    fillRecord(values.useProxy, fields, record);
}

} // namespace signetrix
