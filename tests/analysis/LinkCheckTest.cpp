// The check of one address against real loopback servers: plain HTTP, TLS with
// a trusted and untrusted certificates, and a forward proxy.
#include "analysis/LinkCheck.h"
#include "analysis/ResultCodes.h"
#include "net/Transfer.h"
#include "support/HttpTestProxy.h"
#include "support/HttpTestServer.h"
#include "support/TestCertificates.h"

#include <QTcpServer>
#include <gtest/gtest.h>

namespace signetrix {
namespace {

using test::HttpReply;
using test::HttpTestProxy;
using test::HttpTestServer;
using test::TestCertificates;

LinkCheckOptions FastOptions()
{
    LinkCheckOptions options;
    options.readTimeoutMs = 400;
    options.maxBodyBytes = 256 * 1024;
    if (TestCertificates::instance().available()) options.caInfo = TestCertificates::instance().caFile().toLocal8Bit();
    return options;
}

struct AddressCase {
    const char* url;
    int failureCode;        // 0: usable
    const char* onTheWire;  // expected prepared form when usable
};

TEST(PrepareAddress, RefusesWhatCannotBeRequested)
{
    const AddressCase cases[] = {
        {"", 1000, nullptr},
        {"   ", 1000, nullptr},
        {"javascript:alert(1)", 1000, nullptr},
        {"ftp://127.0.0.1/file.zip", 1000, nullptr},
        {"file:///home/user/page.html", 1000, nullptr},
        {"mailto:someone@example.org", 1000, nullptr},
        {"www.example.org/page", 1000, nullptr},
        {"http:/missing-slash", 1000, nullptr},
        {"http://", 1000, nullptr},
        {"http://:8080/", 1000, nullptr},
        {"http://[::1/", 1000, nullptr},
        {"http://127.0.0.1:80a/", 999, nullptr},
        {"http://127.0.0.1:99999/", 999, nullptr},
        {"http://127.0.0.1:-1/", 999, nullptr},
        {"http://[::1]:8x/", 999, nullptr},
        {"http://127.0.0.1/", 0, "http://127.0.0.1/"},
        {"HTTP://127.0.0.1/Page", 0, "HTTP://127.0.0.1/Page"},
        {"http://127.0.0.1:/", 0, "http://127.0.0.1:/"},
        {"http://user:pw@127.0.0.1:8080/x?a=1#top", 0, "http://user:pw@127.0.0.1:8080/x?a=1#top"},
        {"  http://127.0.0.1/a b\t", 0, "http://127.0.0.1/a%20b"},
        {"http://127.0.0.1/caf\xc3\xa9", 0, "http://127.0.0.1/caf%C3%A9"},
        {"http://[::1]:8080/", 0, "http://[::1]:8080/"},
    };
    for (const AddressCase& c : cases) {
        SCOPED_TRACE(c.url);
        const PreparedAddress prepared = PrepareAddress(QByteArray(c.url));
        EXPECT_EQ(prepared.failureCode, c.failureCode);
        if (c.onTheWire) {
            EXPECT_EQ(prepared.url, QByteArray(c.onTheWire));
        }
    }
}

class LinkCheckTest : public ::testing::Test {
protected:
    void SetUp() override { server.addStandardRoutes(); }
    HttpTestServer server;
    tyiProxyConnectionInfo direct;
};

struct StatusCase {
    const char* path;
    int code;
    bool statusReceived;
    bool succeeded;
};

TEST_F(LinkCheckTest, EveryAnswerGetsItsCode)
{
    const StatusCase cases[] = {
        {"/200", 200, true, true},
        {"/200-location", 200, true, true},
        {"/slow", 200, true, true},
        {"/301", 301, true, false},
        {"/302", 302, true, false},
        {"/304", 304, true, false},
        {"/401", 401, true, false},
        {"/403", 403, true, false},
        {"/404", 404, true, false},
        {"/407", 407, true, false},
        {"/410", 410, true, false},
        {"/500", 500, true, false},
        {"/503", 503, true, false},
        {"/650", 650, true, false},
        {"/stall", 200, true, false},    // time-out after the status line keeps the status
        {"/endless", 200, true, true},   // cut after the body limit, the status stands
        {"/close", 1000, false, false},
        {"/never", 1000, false, false},
        {"/garbage", 1000, false, false},
    };
    for (const StatusCase& c : cases) {
        SCOPED_TRACE(c.path);
        const LinkCheckOutcome outcome = CheckUrl(server.url(c.path), direct, FastOptions());
        EXPECT_EQ(outcome.code, c.code) << outcome.detail.constData();
        EXPECT_EQ(outcome.statusReceived, c.statusReceived);
        EXPECT_EQ(outcome.succeeded(), c.succeeded);
    }
}

TEST_F(LinkCheckTest, SendsOneGetAsTheOldBrowserAndFollowsNoRedirect)
{
    EXPECT_EQ(CheckUrl(server.url("/301"), direct, FastOptions()).code, 301);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u) << "the redirect target must not be requested";
    const auto& r = requests.front();
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.target, "/301");
    EXPECT_EQ(r.version, "HTTP/1.1");
    EXPECT_EQ(r.header("User-Agent"), "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)");
    EXPECT_EQ(r.header("Accept"), "text/html, */*");
    EXPECT_FALSE(r.hasHeader("Proxy-Authorization"));
}

TEST_F(LinkCheckTest, FailuresWithoutAnyAnswer)
{
    const QByteArray refused = "http://127.0.0.1:" + QByteArray::number(signetrix::test::closedLoopbackPort()) + "/";
    EXPECT_EQ(CheckUrl(refused, direct, FastOptions()).code, kCodeNoAnswer);
    EXPECT_EQ(CheckUrl("ftp://127.0.0.1:" + QByteArray::number(server.port()) + "/", direct, FastOptions()).code,
              kCodeNoAnswer);
    EXPECT_EQ(CheckUrl("http://127.0.0.1:" + QByteArray::number(server.port()) + "x/200", direct, FastOptions()).code,
              kCodeOtherFailure);
    EXPECT_EQ(server.requestCount(), 0) << "no request for unusable addresses";
}

TEST_F(LinkCheckTest, OverLongAddressGetsTheServersAnswer)
{
    const QByteArray address = server.url("/" + QByteArray(100 * 1024, 'a'));
    const LinkCheckOutcome outcome = CheckUrl(address, direct, FastOptions());
    EXPECT_EQ(outcome.code, 431) << outcome.detail.constData();
}

TEST_F(LinkCheckTest, AbortEndsAHangingRequest)
{
    std::atomic<bool> abort{true};
    LinkCheckOptions options = FastOptions();
    options.readTimeoutMs = 600000;
    options.abort = &abort;
    EXPECT_EQ(CheckUrl(server.url("/never"), direct, options).code, kCodeNoAnswer);
}

struct TlsCase {
    const char* name;
    HttpTestServer::TlsSetup (TestCertificates::*setup)() const;
    const char* path;
    int code;
};

TEST(LinkCheckTls, VerifiedConnectionsGetTheirStatusOthers777)
{
    const TestCertificates& certificates = TestCertificates::instance();
    ASSERT_TRUE(certificates.available()) << certificates.error().toStdString();
    ASSERT_TRUE(net::ClientHasSecureTransport());
    const TlsCase cases[] = {
        {"trusted", &TestCertificates::trusted, "/200", 200},
        {"trusted", &TestCertificates::trusted, "/404", 404},
        {"trusted", &TestCertificates::trusted, "/301", 301},
        {"self-signed", &TestCertificates::selfSigned, "/200", kCodeSecureConnection},
        {"other host name", &TestCertificates::wrongHost, "/200", kCodeSecureConnection},
    };
    tyiProxyConnectionInfo direct;
    for (const TlsCase& c : cases) {
        SCOPED_TRACE(std::string(c.name) + c.path);
        HttpTestServer server((certificates.*c.setup)());
        server.addStandardRoutes();
        const LinkCheckOutcome outcome = CheckUrl(server.url(c.path), direct, FastOptions());
        EXPECT_EQ(outcome.code, c.code) << outcome.detail.constData();
        EXPECT_EQ(server.requestCount(), c.code == kCodeSecureConnection ? 0 : 1);
    }
}

TEST(LinkCheckTls, HttpsToAPlainServerIs777)
{
    HttpTestServer plain;
    plain.addStandardRoutes();
    const QByteArray address = "https://127.0.0.1:" + QByteArray::number(plain.port()) + "/200";
    EXPECT_EQ(CheckUrl(address, tyiProxyConnectionInfo(), FastOptions()).code, kCodeSecureConnection);
}

TEST(LinkCheckTls, WithoutSecureTransportHttpsIs777WithoutTraffic)
{
    HttpTestServer plain;
    plain.addStandardRoutes();
    const QByteArray address = "HTTPS://127.0.0.1:" + QByteArray::number(plain.port()) + "/200";
    net::SetSecureTransportForTesting(false);
    const int code = CheckUrl(address, tyiProxyConnectionInfo(), FastOptions()).code;
    net::SetSecureTransportForTesting(std::nullopt);
    EXPECT_EQ(code, kCodeSecureConnection);
    EXPECT_EQ(plain.connectionCount(), 0);
    EXPECT_EQ(CheckUrl(plain.url("/200"), tyiProxyConnectionInfo(), FastOptions()).code, 200) << "http unaffected";
    EXPECT_EQ(plain.connectionCount(), 1);
}

class LinkCheckProxyTest : public LinkCheckTest {
protected:
    tyiProxyConnectionInfo viaProxy(bool basic, const QByteArray& user = {}, const QByteArray& password = {}) const
    {
        tyiProxyConnectionInfo record;
        record.BasicAuthentication = basic;
        record.ProxyServer = "127.0.0.1";
        record.ProxyPort = proxy.port();
        record.ProxyUsername = user;
        record.ProxyPassword = password;
        return record;
    }
    HttpTestProxy proxy;
};

struct ProxyCase {
    const char* name;
    bool basic;
    const char* user;
    const char* password;
    const char* required;      // Proxy-Authorization the proxy insists on, or nullptr
    int code;
    const char* sentHeader;    // Proxy-Authorization the proxy saw, or nullptr for none
};

TEST_F(LinkCheckProxyTest, AbsoluteRequestLineAndBasicAuthentication)
{
    const ProxyCase cases[] = {
        {"no authentication", false, "", "", nullptr, 404, nullptr},
        {"credentials", true, "user", "secret", "Basic dXNlcjpzZWNyZXQ=", 404, "Basic dXNlcjpzZWNyZXQ="},
        {"empty credentials still sent", true, "", "", "Basic Og==", 404, "Basic Og=="},
        {"wrong credentials", true, "user", "wrong", "Basic dXNlcjpzZWNyZXQ=", 407, "Basic dXNlcjp3cm9uZw=="},
        {"required but not sent", false, "", "", "Basic Og==", 407, nullptr},
    };
    int seen = 0;
    for (const ProxyCase& c : cases) {
        SCOPED_TRACE(c.name);
        proxy.requireAuthorization(c.required ? QByteArray(c.required) : QByteArray());
        server.clearRequests();
        const LinkCheckOutcome outcome = CheckUrl(server.url("/404"), viaProxy(c.basic, c.user, c.password), FastOptions());
        EXPECT_EQ(outcome.code, c.code) << outcome.detail.constData();
        const auto requests = proxy.requests();
        ASSERT_EQ(requests.size(), size_t(++seen));
        const auto& r = requests.back();
        EXPECT_EQ(r.target, server.url("/404")) << "absolute address in the request line";
        EXPECT_EQ(r.header("Proxy-Authorization"), c.sentHeader ? QByteArray(c.sentHeader) : QByteArray());
        EXPECT_EQ(r.hasHeader("Proxy-Authorization"), c.sentHeader != nullptr);
        if (c.code == 404) {
            ASSERT_EQ(server.requestCount(), 1);
            EXPECT_FALSE(server.requests().front().hasHeader("Proxy-Authorization")) << "credentials reach the site";
        }
    }
}

TEST_F(LinkCheckProxyTest, ProxyThatDoesNotAnswerIsNoAnswer)
{
    tyiProxyConnectionInfo record = viaProxy(true);
    record.ProxyPort = signetrix::test::closedLoopbackPort();
    EXPECT_EQ(CheckUrl(server.url("/200"), record, FastOptions()).code, kCodeNoAnswer);
    EXPECT_EQ(server.requestCount(), 0);
}

TEST_F(LinkCheckProxyTest, HttpsGoesThroughATunnelWithTheProxyCredentials)
{
    const TestCertificates& certificates = TestCertificates::instance();
    ASSERT_TRUE(certificates.available()) << certificates.error().toStdString();
    HttpTestServer secure(certificates.trusted());
    secure.addStandardRoutes();
    proxy.requireAuthorization("Basic dXNlcjpzZWNyZXQ=");
    const LinkCheckOutcome outcome = CheckUrl(secure.url("/410"), viaProxy(true, "user", "secret"), FastOptions());
    EXPECT_EQ(outcome.code, 410) << outcome.detail.constData();
    ASSERT_EQ(proxy.requests().size(), 1u);
    EXPECT_EQ(proxy.requests().front().method, "CONNECT");
    ASSERT_EQ(secure.requestCount(), 1);
    EXPECT_FALSE(secure.requests().front().hasHeader("Proxy-Authorization"));
}

} // namespace
} // namespace signetrix
