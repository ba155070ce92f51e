#include "settings/Proxy.h"

#include "platform/Errors.h"

#include <gtest/gtest.h>

namespace signetrix {
namespace {

struct Expected {
    bool basic;
    QByteArray server;
    qint32 port;
    QByteArray user;
    QByteArray password;
};

struct ProxyCase {
    const char* name;
    ProxyValues values;
    Expected expected;
};

ProxyValues proxy(bool use, const char* host, const char* port, bool auth, const char* user, const char* password)
{
    ProxyValues v;
    v.useProxy = use;
    v.host = QString::fromUtf8(host);
    v.port = QString::fromUtf8(port);
    v.authentication = auth;
    v.user = QString::fromUtf8(user);
    v.password = QString::fromUtf8(password);
    return v;
}

const ProxyCase kCases[] = {
    {"off clears everything whatever the fields hold", proxy(false, "proxy.lan", "80a", true, "bob", "pw"),
     {false, "", 0, "", ""}},
    {"on without authentication keeps no credentials", proxy(true, "proxy.lan", "3128", false, "bob", "pw"),
     {true, "proxy.lan", 3128, "", ""}},
    {"on with authentication", proxy(true, "10.0.0.1", "8080", true, "bob", "pw"), {true, "10.0.0.1", 8080, "bob", "pw"}},
    {"empty credentials are passed as empty", proxy(true, "localhost", "8080", true, "", ""),
     {true, "localhost", 8080, "", ""}},
    {"blanks before the port and hexadecimal ports convert", proxy(true, "h", "  $1F90", false, "", ""),
     {true, "h", 8080, "", ""}},
    {"8-bit text of the code page", proxy(true, "pr\xc3\xb4xy", "1", true, "J\xc3\xa9r\xc3\xb4me", "\xc3\xa9t\xc3\xa9"),
     {true, "pr\xc3\xb4xy", 1, "J\xc3\xa9r\xc3\xb4me", "\xc3\xa9t\xc3\xa9"}},
};

// Both clients start with stale values so that every field must be written.
// The FTP proxy method gets a value no setting names, to see whether it is reset.
constexpr auto kStaleMethod = static_cast<FtpClientProxySettings::Method>(7);
HttpClientProxySettings staleHttp() { return {false, "stale", 1, "stale-user", "stale-pw"}; }
FtpClientProxySettings staleFtp() { return {"stale", 1, "stale-user", "stale-pw", kStaleMethod}; }
tyiProxyConnectionInfo staleRecord() { return {true, "old", 2, "old-user", "old-pw"}; }

void expectRecord(const tyiProxyConnectionInfo& r, const Expected& e)
{
    EXPECT_EQ(r.BasicAuthentication, e.basic);
    EXPECT_EQ(r.ProxyServer, e.server);
    EXPECT_EQ(r.ProxyPort, e.port);
    EXPECT_EQ(r.ProxyUsername, e.user);
    EXPECT_EQ(r.ProxyPassword, e.password);
}

TEST(Proxy, PrepareProxySettingsAppliesTheValues)
{
    for (const ProxyCase& c : kCases) {
        SCOPED_TRACE(c.name);
        HttpClientProxySettings client = staleHttp();
        tyiProxyConnectionInfo record = staleRecord();
        PrepareProxySettings(c.values, client, record);
        EXPECT_EQ(client.basicAuthentication, c.expected.basic);
        EXPECT_EQ(client.proxyServer, c.expected.server);
        EXPECT_EQ(client.proxyPort, c.expected.port);
        EXPECT_EQ(client.username, c.expected.user);
        EXPECT_EQ(client.password, c.expected.password);
        expectRecord(record, c.expected);
    }
}

TEST(Proxy, PrepareFtpProxyAppliesTheValues)
{
    for (const ProxyCase& c : kCases) {
        SCOPED_TRACE(c.name);
        FtpClientProxySettings client = staleFtp();
        tyiProxyConnectionInfo record = staleRecord();
        PrepareFtpProxy(c.values, client, record);
        EXPECT_EQ(client.host, c.expected.server);
        EXPECT_EQ(client.port, c.expected.port);
        EXPECT_EQ(client.username, c.expected.user);
        EXPECT_EQ(client.password, c.expected.password);
        // Off resets the method; on leaves it to the transfer.
        EXPECT_EQ(client.method, c.values.useProxy ? kStaleMethod : FtpClientProxySettings::Method::None);
        expectRecord(record, c.expected);
    }
}

TEST(Proxy, BadPortFailsBeforeAnythingChanges)
{
    for (const char* port : {"80a", "", "8080 ", "99999999999", "port"}) {
        SCOPED_TRACE(port);
        const QString expected = QStringLiteral("'%1' is not a valid integer value").arg(QString::fromUtf8(port));
        const ProxyValues values = proxy(true, "proxy.lan", port, true, "bob", "pw");

        HttpClientProxySettings http = staleHttp();
        tyiProxyConnectionInfo record = staleRecord();
        try {
            PrepareProxySettings(values, http, record);
            ADD_FAILURE() << "no error for the HTTP client";
        } catch (const ConvertError& e) {
            EXPECT_EQ(e.message(), expected);
        }
        EXPECT_EQ(http.proxyServer, QByteArray("stale"));
        EXPECT_FALSE(http.basicAuthentication);
        expectRecord(record, {true, "old", 2, "old-user", "old-pw"});

        FtpClientProxySettings ftp = staleFtp();
        try {
            PrepareFtpProxy(values, ftp, record);
            ADD_FAILURE() << "no error for the FTP client";
        } catch (const ConvertError& e) {
            EXPECT_EQ(e.message(), expected);
        }
        EXPECT_EQ(ftp.host, QByteArray("stale"));
        EXPECT_EQ(ftp.port, 1);
        expectRecord(record, {true, "old", 2, "old-user", "old-pw"});
    }
}

} // namespace
} // namespace signetrix
