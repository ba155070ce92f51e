// The network layer against real loopback servers: GET into memory and into a
// file with receive progress, time-outs, the proxy record (and never the
// environment's proxy), the CA store kept between transfers, and FTP uploads
// to a real FTP server with send progress.
#include "net/Outcome.h"
#include "net/Transfer.h"
#include "net/UserAgents.h"
#include "support/HttpTestProxy.h"
#include "support/HttpTestServer.h"
#include "support/TestCertificates.h"
#include "support/TestSupport.h"
#include "net/FtpTestServer.h"

#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <optional>

namespace signetrix::net {
namespace {

using test::HttpReply;
using test::HttpTestProxy;
using test::HttpTestServer;
using test::TestCertificates;

// Bytes that a text-mode transfer or a string copy would alter.
QByteArray BinaryBody(qsizetype size)
{
    QByteArray bytes(size, '\0');
    for (qsizetype i = 0; i < size; ++i) bytes[i] = char((i * 7 + i / 251) & 0xFF);
    for (qsizetype i = 0; i + 1 < size; i += 97) {
        bytes[i] = '\r';
        bytes[i + 1] = '\n';
    }
    return bytes;
}

ClientOptions Http()
{
    ClientOptions options;
    options.userAgent = kCheckUserAgent;
    options.connectTimeoutMs = 5000;
    options.totalTimeoutMs = 20000;
    return options;
}

// Every progress report of one transfer, checked for a steady count.
struct ProgressLog {
    std::vector<qint64> counts;
    std::vector<qint64> totals;
    qint64 last() const { return counts.empty() ? -1 : counts.back(); }
    bool neverShrinks() const { return std::is_sorted(counts.begin(), counts.end()); }
};

QStringList TempFilesIn(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral(".signetrix-tmp-*")}, QDir::Files | QDir::Hidden);
}

class GetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        server.addStandardRoutes();
        server.route("/big", HttpReply::status(200, body));
    }
    const QByteArray body = BinaryBody(300 * 1024);
    HttpTestServer server;
};

TEST_F(GetTest, IntoMemoryReportsEveryByteAndStopsAtTheLimit)
{
    ProgressLog log;
    const MemoryResult whole = GetIntoMemory(server.url("/big"), Http(), 1 << 20, [&](const ReceiveProgress& p) {
        log.counts.push_back(p.bodyBytes);
        log.totals.push_back(p.expectedBytes);
        return Verdict::Continue;
    });
    ASSERT_TRUE(whole.transfer.ok()) << whole.transfer.errorText.constData();
    EXPECT_EQ(whole.transfer.responseCode, 200);
    EXPECT_EQ(whole.body, body);
    EXPECT_FALSE(whole.tooLarge);
    EXPECT_TRUE(log.neverShrinks());
    EXPECT_EQ(log.last(), body.size());
    EXPECT_EQ(log.totals.back(), body.size()) << "the announced length";

    const MemoryResult cut = GetIntoMemory(server.url("/big"), Http(), 1000);
    EXPECT_TRUE(cut.tooLarge);
    EXPECT_FALSE(cut.transfer.ok());
    EXPECT_EQ(cut.transfer.endedBy, Verdict::Cut);
    EXPECT_LE(cut.body.size(), 1000);
}

TEST_F(GetTest, IntoFileReplacesTheTargetOnlyOnSuccess)
{
    test::TempTree tree;
    struct Case {
        const char* path;
        bool written;
    } cases[] = {{"/big", true}, {"/404", false}, {"/close", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const QString target = tree.write(QStringLiteral("download.bin"), "old contents");
        ProgressLog log;
        const FileResult result = GetIntoFile(server.url(c.path), QFile::encodeName(target), Http(),
                                              [&](const ReceiveProgress& p) {
                                                  log.counts.push_back(p.bodyBytes);
                                                  return Verdict::Continue;
                                              });
        EXPECT_EQ(result.written, c.written) << result.fileError.constData();
        EXPECT_EQ(tree.read(QStringLiteral("download.bin")), c.written ? body : QByteArray("old contents"));
        EXPECT_TRUE(TempFilesIn(tree.path()).isEmpty()) << TempFilesIn(tree.path()).join(' ').toStdString();
        if (c.written) EXPECT_EQ(log.last(), body.size());
    }
}

TEST_F(GetTest, IntoFileInAMissingFolderFailsWithoutRequest)
{
    test::TempTree tree;
    const FileResult result = GetIntoFile(server.url("/big"), QFile::encodeName(tree.abs("none/file.bin")), Http());
    EXPECT_FALSE(result.written);
    EXPECT_FALSE(result.fileError.isEmpty());
    EXPECT_EQ(server.connectionCount(), 0);
}

TEST_F(GetTest, SendsTheConfiguredAgentAndHeadersAndOnlyAllowedProtocols)
{
    ClientOptions options = Http();
    options.headers = {"Accept: text/html, */*"};
    options.http11 = true;
    EXPECT_TRUE(Get(server.url("/200"), options, {}).ok());
    ASSERT_EQ(server.requestCount(), 1);
    const auto request = server.requests().front();
    EXPECT_EQ(request.header("User-Agent"), kCheckUserAgent);
    EXPECT_EQ(request.header("Accept"), "text/html, */*");
    EXPECT_EQ(request.version, "HTTP/1.1");

    options.protocols = "ftp";
    const TransferResult refused = Get(server.url("/200"), options, {});
    EXPECT_EQ(refused.failure, Failure::NoAnswer) << refused.errorText.constData();
    EXPECT_EQ(server.connectionCount(), 1) << "no connection for a protocol the caller does not allow";
}

TEST_F(GetTest, TimeOutsEndAHangingTransfer)
{
    struct Case {
        const char* name;
        long totalTimeoutMs;
        Verdict verdict; // what the callback answers once the request has waited 300 ms
        Verdict endedBy;
        int code;
    } cases[] = {
        {"client's own time-out", 300, Verdict::Continue, Verdict::Continue, kOutcomeNoAnswer},
        {"caller's read time-out", 0, Verdict::TimedOut, Verdict::TimedOut, kOutcomeNoAnswer},
        {"caller abandons", 0, Verdict::Cancel, Verdict::Cancel, kOutcomeNoAnswer},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClientOptions options = Http();
        options.totalTimeoutMs = c.totalTimeoutMs;
        const auto started = Clock::now();
        ReceiveHooks hooks;
        hooks.progress = [&](const ReceiveProgress& p) {
            if (Clock::now() - started > std::chrono::seconds(30)) return Verdict::Cancel; // never hang the suite
            if (p.requestSent && Clock::now() - p.requestSentAt >= std::chrono::milliseconds(300)) return c.verdict;
            return Verdict::Continue;
        };
        const TransferResult result = Get(server.url("/never"), options, hooks);
        EXPECT_FALSE(result.ok());
        EXPECT_FALSE(result.statusSeen);
        EXPECT_EQ(result.endedBy, c.endedBy);
        EXPECT_EQ(MapOutcome(result).code, c.code);
        EXPECT_LT(Clock::now() - started, std::chrono::seconds(10));
    }
}

// Restores one environment variable at the end of a scope.
class EnvGuard {
public:
    EnvGuard(const char* name, const QByteArray& value)
        : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name))
    {
        qputenv(name, value);
    }
    ~EnvGuard()
    {
        if (m_had) qputenv(m_name, m_old);
        else qunsetenv(m_name);
    }

private:
    const char* m_name;
    bool m_had;
    QByteArray m_old;
};

TEST_F(GetTest, OnlyTheProxyRecordChoosesTheProxy)
{
    HttpTestProxy proxy;
    const QByteArray viaEnvironment = "http://127.0.0.1:" + QByteArray::number(proxy.port());
    EnvGuard http("http_proxy", viaEnvironment);
    EnvGuard all("ALL_PROXY", viaEnvironment);
    EnvGuard none("no_proxy", "127.0.0.1,localhost");

    ClientOptions direct = Http();
    EXPECT_EQ(Get(server.url("/404"), direct, {}).responseCode, 404);
    EXPECT_TRUE(proxy.requests().empty()) << "the environment's proxy was used";
    EXPECT_EQ(server.requestCount(), 1);

    ClientOptions proxied = Http();
    proxied.proxy.ProxyServer = "127.0.0.1";
    proxied.proxy.ProxyPort = proxy.port();
    proxied.proxy.BasicAuthentication = true;
    proxied.proxy.ProxyUsername = "user";
    proxied.proxy.ProxyPassword = "secret";
    EXPECT_EQ(Get(server.url("/404"), proxied, {}).responseCode, 404);
    ASSERT_EQ(proxy.requests().size(), 1u) << "no_proxy from the environment kept the proxy out";
    EXPECT_EQ(proxy.requests().front().target, server.url("/404"));
    EXPECT_EQ(proxy.requests().front().header("Proxy-Authorization"), "Basic dXNlcjpzZWNyZXQ=");
}

TEST(TransportFailures, RealFailuresGetTheirClass)
{
    const TestCertificates& certificates = TestCertificates::instance();
    ASSERT_TRUE(certificates.available()) << certificates.error().toStdString();
    HttpTestServer plain;
    plain.addStandardRoutes();
    HttpTestServer selfSigned(certificates.selfSigned());
    selfSigned.addStandardRoutes();
    ClientOptions options = Http();
    options.caInfo = QFile::encodeName(certificates.caFile());
    struct Case {
        const char* name;
        QByteArray url;
        Failure failure;
        int code;
    } cases[] = {
        {"refused", "http://127.0.0.1:" + QByteArray::number(signetrix::test::closedLoopbackPort()) + "/", Failure::NoAnswer, kOutcomeNoAnswer},
        {"no HTTP", plain.url("/garbage"), Failure::NoAnswer, kOutcomeNoAnswer},
        {"closed without answer", plain.url("/close"), Failure::NoAnswer, kOutcomeNoAnswer},
        {"untrusted certificate", selfSigned.url("/200"), Failure::SecureTransport, kOutcomeSecureTransport},
        {"https to a plain server", "https://127.0.0.1:" + QByteArray::number(plain.port()) + "/200",
         Failure::SecureTransport, kOutcomeSecureTransport},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TransferResult result = Get(c.url, options, {});
        EXPECT_EQ(result.failure, c.failure) << result.errorText.constData();
        EXPECT_EQ(MapOutcome(result).code, c.code);
    }
}

TEST(CaStore, IsLoadedOncePerThreadAndKeptForLaterTransfers)
{
    const TestCertificates& certificates = TestCertificates::instance();
    ASSERT_TRUE(certificates.available()) << certificates.error().toStdString();
    HttpTestServer secure(certificates.trusted());
    secure.addStandardRoutes();
    test::TempTree tree;
    QFile ca(certificates.caFile());
    ASSERT_TRUE(ca.open(QIODevice::ReadOnly));
    const QString copy = tree.write(QStringLiteral("ca.pem"), ca.readAll());

    ClientOptions options = Http();
    options.caInfo = QFile::encodeName(copy);
    const TransferResult first = Get(secure.url("/200"), options, {});
    ASSERT_TRUE(first.ok()) << first.errorText.constData();
    ASSERT_TRUE(QFile::remove(copy));
    const TransferResult second = Get(secure.url("/200"), options, {});
    EXPECT_TRUE(second.ok()) << "the store was read again for the second transfer: "
                             << second.errorText.constData();
    EXPECT_EQ(secure.requestCount(), 2);
}

struct MappingCase {
    const char* name;
    TransferResult result;
    Outcome expected;
};

TransferResult Failed(Failure failure)
{
    TransferResult r;
    r.clientCode = 1;
    r.failure = failure;
    return r;
}

TEST(OutcomeMapping, EachTransportResultGetsOneOutcome)
{
    auto with = [](TransferResult r, auto change) {
        change(r);
        return r;
    };
    TransferResult success;
    success.responseCode = 204;
    TransferResult statusOnlyFromLine;
    statusOnlyFromLine.lastStatus = 301;
    statusOnlyFromLine.statusSeen = true;
    const MappingCase cases[] = {
        {"success", success, {204, true, true}},
        {"success, status from the status line", statusOnlyFromLine, {301, true, true}},
        {"broken after the status", with(Failed(Failure::NoAnswer), [](auto& r) { r.statusSeen = true; r.lastStatus = 200; }),
         {200, true, false}},
        {"cut after the status", with(Failed(Failure::Other), [](auto& r) { r.statusSeen = true; r.lastStatus = 200; r.endedBy = Verdict::Cut; }),
         {200, true, true}},
        {"proxy refused the tunnel", with(Failed(Failure::NoAnswer), [](auto& r) { r.connectCode = 407; }),
         {407, true, false}},
        {"abandoned in the handshake", with(Failed(Failure::SecureTransport), [](auto& r) { r.endedBy = Verdict::Cancel; r.handshakeFailed = true; }),
         {kOutcomeNoAnswer, false, false}},
        {"certificate refused", Failed(Failure::SecureTransport), {kOutcomeSecureTransport, false, false}},
        {"handshake never ended", with(Failed(Failure::NoAnswer), [](auto& r) { r.handshakeFailed = true; }),
         {kOutcomeSecureTransport, false, false}},
        {"read time-out", with(Failed(Failure::NoAnswer), [](auto& r) { r.endedBy = Verdict::TimedOut; }),
         {kOutcomeNoAnswer, false, false}},
        {"client failure", Failed(Failure::Other), {kOutcomeOtherFailure, false, false}},
    };
    for (const MappingCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome outcome = MapOutcome(c.result);
        EXPECT_EQ(outcome.code, c.expected.code);
        EXPECT_EQ(outcome.statusReceived, c.expected.statusReceived);
        EXPECT_EQ(outcome.completed, c.expected.completed);
    }
}

class FtpUploadTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(ftp.running()) << ftp.error().constData(); }
    static ClientOptions Ftp()
    {
        ClientOptions options;
        options.protocols = "ftp";
        options.connectTimeoutMs = 5000;
        options.totalTimeoutMs = 30000;
        return options;
    }
    static FtpUploadOptions Login(bool active = false)
    {
        return {test::FtpTestServer::kUser, test::FtpTestServer::kPassword, active};
    }
    QByteArray served(const QString& name) const
    {
        QFile file(ftp.root() + '/' + name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    test::FtpTestServer ftp;
    test::TempTree local;
};

TEST_F(FtpUploadTest, StoresTheFileByteForByteInEitherMode)
{
    const QByteArray contents = BinaryBody(512 * 1024 + 17);
    const QByteArray source = QFile::encodeName(local.write(QStringLiteral("archive.zip"), contents));
    for (const bool active : {false, true}) {
        SCOPED_TRACE(active ? "active" : "passive");
        const QString name = active ? QStringLiteral("active.zip") : QStringLiteral("passive.zip");
        ProgressLog log;
        const TransferResult result =
            UploadFile(ftp.url("/" + name.toLatin1()), source, Ftp(), Login(active), [&](const SendProgress& p) {
                log.counts.push_back(p.sentBytes);
                log.totals.push_back(p.totalBytes);
                return Verdict::Continue;
            });
        ASSERT_TRUE(result.ok()) << result.errorText.constData();
        EXPECT_EQ(served(name), contents);
        EXPECT_TRUE(log.neverShrinks());
        EXPECT_EQ(log.last(), contents.size());
        EXPECT_EQ(log.totals.back(), contents.size());
    }
}

TEST_F(FtpUploadTest, RefusedLoginOrUnreadableSourceStoresNothing)
{
    const QByteArray source = QFile::encodeName(local.write(QStringLiteral("file.bin"), "data"));
    const QByteArray folder = QFile::encodeName(local.mkdir(QStringLiteral("folder")));
    const QByteArray fifo = QFile::encodeName(local.abs(QStringLiteral("pipe")));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    FtpUploadOptions wrong = Login();
    wrong.password = "wrong";
    struct Case {
        const char* name;
        QByteArray source;
        FtpUploadOptions login;
    } cases[] = {
        {"wrong password", source, wrong},
        {"a folder", folder, Login()},
        {"a pipe (must not block)", fifo, Login()},
        {"missing", QFile::encodeName(local.abs(QStringLiteral("none"))), Login()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TransferResult result = UploadFile(ftp.url("/stored.bin"), c.source, Ftp(), c.login);
        EXPECT_FALSE(result.ok());
        EXPECT_EQ(result.failure, Failure::Other) << result.errorText.constData();
        EXPECT_FALSE(QFile::exists(ftp.root() + QStringLiteral("/stored.bin")));
    }
}

TEST_F(FtpUploadTest, ProgressCallbackCanAbandonTheUpload)
{
    const QByteArray contents = BinaryBody(4 * 1024 * 1024);
    const QByteArray source = QFile::encodeName(local.write(QStringLiteral("big.bin"), contents));
    const TransferResult result = UploadFile(ftp.url("/big.bin"), source, Ftp(), Login(), [](const SendProgress& p) {
        return p.sentBytes > 0 ? Verdict::Cancel : Verdict::Continue;
    });
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.endedBy, Verdict::Cancel);
    EXPECT_NE(served(QStringLiteral("big.bin")), contents);
}

} // namespace
} // namespace signetrix::net
