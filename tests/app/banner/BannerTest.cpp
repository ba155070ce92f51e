// The banner strip against a banner host on loopback: what is requested, what
// the browser shows, that failures leave it empty, and that a silent host does
// not hold up the event loop.
#include "app/banner/Banner.h"
#include "platform/AppPaths.h"
#include "platform/browser/EmbeddedBrowser.h"
#include "support/HttpTestServer.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>

using signetrix::banner::BannerController;
using signetrix::platform::EmbeddedBrowser;
using signetrix::test::HttpReply;
using signetrix::test::HttpTestServer;

namespace {

constexpr int kWait = 20000;
constexpr char kPath[] = "/err/Signetrix.htm";

// Sets (or clears, for a null value) environment variables for a scope.
class EnvGuard {
public:
    void set(const char* name, const QByteArray& value)
    {
        m_saved.push_back({name, qgetenv(name), qEnvironmentVariableIsSet(name)});
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~EnvGuard()
    {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
            if (it->wasSet)
                qputenv(it->name, it->value);
            else
                qunsetenv(it->name);
        }
    }

private:
    struct Saved {
        const char* name;
        QByteArray value;
        bool wasSet;
    };
    std::vector<Saved> m_saved;
};

quint16 deadPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort(); // closed again when probe goes
}

class BannerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        browser = std::make_unique<EmbeddedBrowser>();
        browser->resize(722, 90);
        browser->show();
        controller = std::make_unique<BannerController>(browser.get(), QString::fromLatin1(server.url(kPath)));
        shown = std::make_unique<QSignalSpy>(controller.get(), &BannerController::bannerShown);
    }
    void TearDown() override
    {
        controller.reset();
        EmbeddedBrowser::setExternalOpener({});
    }

    // One refresh, waited for until the browser shows its outcome.
    bool refresh()
    {
        const int before = shown->count();
        controller->RefreshBanner();
        return QTest::qWaitFor([&] { return !controller->isFetching() && shown->count() > before; }, kWait);
    }

    signetrix::test::ExeFolderGuard exe; // the log file lands in a temporary folder
    HttpTestServer server;
    std::unique_ptr<EmbeddedBrowser> browser;
    std::unique_ptr<BannerController> controller;
    std::unique_ptr<QSignalSpy> shown;
};

TEST_F(BannerTest, PageFromTheBannerHostIsShownWithoutScrollBars)
{
    server.route(kPath, HttpReply::status(200, "<html><head><meta charset=\"windows-1252\"></head><body>"
                                               "<p>Offre sp\xE9" "ciale</p><div style=\"height:900px\"></div>"
                                               "</body></html>"));
    ASSERT_TRUE(refresh());

    EXPECT_EQ(browser->bodyInnerText(), QStringLiteral("Offre spéciale"));
    const EmbeddedBrowser::Overflow overflow = browser->bodyOverflow();
    EXPECT_EQ(overflow.x, QStringLiteral("hidden"));
    EXPECT_EQ(overflow.y, QStringLiteral("hidden"));

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].target, kPath); // origin form: asked directly, not through a proxy
    EXPECT_EQ(requests[0].header("User-Agent"), "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)");
}

TEST_F(BannerTest, AProxyNamedByTheEnvironmentIsNotUsed)
{
    EnvGuard env;
    const QByteArray proxy = "http://127.0.0.1:" + QByteArray::number(deadPort());
    for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) env.set(name, proxy);
    for (const char* name : {"no_proxy", "NO_PROXY"}) env.set(name, QByteArray());

    server.route(kPath, HttpReply::status(200, "<body>direct</body>"));
    ASSERT_TRUE(refresh());
    EXPECT_EQ(browser->bodyInnerText(), QStringLiteral("direct"));
    EXPECT_EQ(server.requestCount(), 1);
}

// Each failure replaces a banner that was showing with an empty one, silently.
TEST_F(BannerTest, AnyFailureGivesAnEmptyBanner)
{
    using Kind = HttpReply::Kind;
    struct Case {
        const char* name;
        HttpReply reply;
    };
    const Case cases[] = {
        {"not found with a page", HttpReply::status(404, "<body>Page introuvable</body>")},
        {"server error with a page", HttpReply::status(500, "<body>Erreur interne</body>")},
        {"redirect", HttpReply::redirect(301, "/elsewhere")},
        {"connection closed unanswered", HttpReply::of(Kind::CloseWithoutAnswer)},
        {"no HTTP at all", HttpReply::of(Kind::Garbage)},
        {"silent after the status line", HttpReply::of(Kind::StallAfterStatusLine)},
        {"never answering", HttpReply::of(Kind::NeverAnswer)},
    };
    server.route("/elsewhere", HttpReply::status(200, "<body>ailleurs</body>"));
    controller->setReadTimeout(1000);
    signetrix::test::ScriptedMessageBoxes boxes;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.route(kPath, HttpReply::status(200, "<body>Banni\xE8re</body>"));
        ASSERT_TRUE(refresh());
        ASSERT_EQ(browser->bodyInnerText(), QStringLiteral("Bannière"));

        server.route(kPath, c.reply);
        ASSERT_TRUE(refresh());
        EXPECT_EQ(browser->bodyInnerText(), QString());
        EXPECT_EQ(browser->currentAddress(), QStringLiteral("about:blank"));
    }
    EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(BannerTest, NoBannerHostGivesAnEmptyBanner)
{
    browser->loadHtml(QStringLiteral("<body>ancienne</body>"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown->count() == 1; }, kWait));

    BannerController dead(browser.get(), QStringLiteral("http://127.0.0.1:%1%2").arg(deadPort()).arg(kPath));
    QSignalSpy deadShown(&dead, &BannerController::bannerShown);
    dead.RefreshBanner();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dead.isFetching() && deadShown.count() == 1; }, kWait));
    EXPECT_EQ(browser->bodyInnerText(), QString());
}

// The fetch of a host that never answers runs while the event loop goes on:
// a timer fires while the request is known to be waiting at the server.
TEST_F(BannerTest, ASilentHostDoesNotHoldUpTheEventLoop)
{
    server.route(kPath, HttpReply::of(HttpReply::Kind::NeverAnswer));
    controller->setReadTimeout(1500);

    bool sawFetchInProgress = false;
    QTimer probe;
    probe.setInterval(10);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (server.requestCount() >= 1 && controller->isFetching()) sawFetchInProgress = true;
    });
    probe.start();
    const int before = shown->count();
    controller->RefreshBanner();
    EXPECT_TRUE(QTest::qWaitFor([&] { return sawFetchInProgress; }, kWait));

    // The read time-out then ends it with an empty banner.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !controller->isFetching() && shown->count() > before; }, kWait));
    EXPECT_EQ(browser->bodyInnerText(), QString());
}

TEST_F(BannerTest, ANewerRefreshReplacesAnUnfinishedOne)
{
    server.route(kPath, HttpReply::of(HttpReply::Kind::NeverAnswer));
    controller->RefreshBanner();
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.requestCount() == 1; }, kWait));

    server.route(kPath, HttpReply::status(200, "<body>nouvelle</body>"));
    ASSERT_TRUE(refresh());
    EXPECT_EQ(browser->bodyInnerText(), QStringLiteral("nouvelle"));
    EXPECT_EQ(server.requestCount(), 2);

    // Destroying the controller abandons nothing left running for long: it
    // returns, and the browser keeps the banner.
    controller.reset();
    EXPECT_EQ(browser->bodyInnerText(), QStringLiteral("nouvelle"));
}

TEST_F(BannerTest, DestructionDuringAFetchAbandonsIt)
{
    server.route(kPath, HttpReply::of(HttpReply::Kind::NeverAnswer));
    browser->loadHtml(QStringLiteral("<body>gardée</body>"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown->count() == 1; }, kWait));

    controller->RefreshBanner();
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.requestCount() == 1; }, kWait));
    controller.reset(); // with the default 5000 ms read time-out still far away
    QTest::qWait(0);
    EXPECT_EQ(browser->bodyInnerText(), QStringLiteral("gardée"));
}

TEST_F(BannerTest, NewWindowRequestsAreLoggedAndOpenInTheUsersBrowser)
{
    std::vector<QUrl> opened;
    EmbeddedBrowser::setExternalOpener([&](const QUrl& url) { opened.push_back(url); });
    server.route("/pub", HttpReply::status(200, "<body>pub</body>"));
    // The page is loaded from text, so only an absolute link names the server.
    server.route(kPath, HttpReply::status(200, "<body><a id=\"l\" target=\"_blank\" href=\"" + server.url("/pub") +
                                                   "\">publicit\xE9</a><script>window.onload=function(){"
                                                   "document.getElementById('l').click();};</script></body>"));
    const QString logPath = signetrix::platform::logFilePath();
    ASSERT_TRUE(refresh());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            QFile log(logPath);
            return log.open(QIODevice::ReadOnly) && log.readAll().contains("WebBrowser1NewWindow2");
        },
        kWait));

    QFile log(logPath);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = log.readAll().split('\n');
    ASSERT_GE(lines.size(), 1);
    EXPECT_TRUE(lines[0].trimmed().endsWith("WebBrowser1NewWindow2"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !opened.empty(); }, kWait));
    EXPECT_EQ(opened.front().path(), QStringLiteral("/pub"));
    EXPECT_EQ(browser->bodyInnerText(), QStringLiteral("publicité")); // the banner stays on its page
    for (const auto& request : server.requests()) EXPECT_NE(request.target, "/pub");
}

TEST_F(BannerTest, StartShowsTheBannerAtOnceAndArmsTheTwoMinuteRefresh)
{
    server.route(kPath, HttpReply::status(200, "<body>début</body>").header("Content-Type", "text/html; charset=UTF-8"));
    const int before = shown->count();
    controller->start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !controller->isFetching() && shown->count() > before; }, kWait));
    EXPECT_EQ(browser->bodyInnerText(), QStringLiteral("début"));
    EXPECT_TRUE(controller->refreshTimer()->isActive());
    EXPECT_EQ(controller->refreshTimer()->interval(), 120000);
}

TEST(BannerUrl, IsTheBannerPathOnTheHost)
{
    const std::pair<QString, QString> cases[] = {
        {"http://127.0.0.1:8088", "http://127.0.0.1:8088/err/Signetrix.htm"},
        {"http://banner.example/", "http://banner.example/err/Signetrix.htm"},
    };
    for (const auto& [host, url] : cases) {
        SCOPED_TRACE(host.toStdString());
        EXPECT_EQ(signetrix::banner::BannerPageUrl(host), url);
    }
    EXPECT_EQ(signetrix::banner::DefaultBannerPageUrl(), QStringLiteral(SIGNETRIX_BANNER_HOST "/err/Signetrix.htm"));
}

TEST(BannerCharset, IsTakenFromTheContentType)
{
    const std::pair<QByteArray, QByteArray> cases[] = {
        {"text/html; charset=UTF-8", "UTF-8"},
        {"text/html;Charset=\"iso-8859-1\"", "iso-8859-1"},
        {"text/html", ""},
        {"", ""},
    };
    for (const auto& [type, charset] : cases) {
        SCOPED_TRACE(type.toStdString());
        EXPECT_EQ(signetrix::banner::CharsetOf(type), charset);
    }
}

} // namespace
