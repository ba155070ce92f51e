#include "app/banner/Banner.h"

#include "net/Transfer.h"
#include "net/UserAgents.h"
#include "platform/Log.h"
#include "platform/browser/EmbeddedBrowser.h"

#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>

namespace signetrix::banner {

namespace {

// The browser cannot show a larger document handed over as content; a bigger
// answer is no banner.
constexpr qsizetype kMaxPageBytes = 2 * 1024 * 1024;

} // namespace

QString BannerPageUrl(const QString& host)
{
    QString base = host;
    while (base.endsWith(QLatin1Char('/'))) base.chop(1);
    return base + QLatin1String(kBannerPath);
}

namespace {
QString& bannerHostOverride()
{
    static QString host;
    return host;
}
} // namespace

void setBannerHostForTesting(const QString& host) { bannerHostOverride() = host; }

QString DefaultBannerPageUrl()
{
    if (!bannerHostOverride().isEmpty()) return BannerPageUrl(bannerHostOverride());
#ifdef SIGNETRIX_BANNER_HOST
    return BannerPageUrl(QStringLiteral(SIGNETRIX_BANNER_HOST));
#else
    return BannerPageUrl(QStringLiteral("http://127.0.0.1"));
#endif
}

BannerPage FetchBannerPage(const QString& url, int readTimeoutMs, const std::atomic_bool* abort)
{
    net::ClientOptions client;
    client.userAgent = net::kBannerUserAgent;
    client.protocols = "http,https";
    client.connectTimeoutMs = readTimeoutMs;
    // client.proxy stays empty: never a proxy, not even from the environment.

    // Called while the transfer waits, at least once a second: the read
    // time-out (no byte for readTimeout once connected) and the abandon flag.
    const std::chrono::milliseconds readTimeout(readTimeoutMs);
    bool connected = false;
    net::Clock::time_point connectedAt;
    const auto progress = [&](const net::ReceiveProgress& p) {
        if (abort && abort->load()) return net::Verdict::Cancel;
        const net::Clock::time_point now = net::Clock::now();
        if (!connected) {
            // Until connected, the connection time-out applies; once it has
            // passed, the client either gave up or is connected, so the read
            // time-out is armed even if the connect time was too short to be
            // measured.
            if (p.connected || now - p.startedAt > readTimeout) {
                connected = true;
                connectedAt = now;
            }
            return net::Verdict::Continue;
        }
        return now - std::max(connectedAt, p.lastReceivedAt) > readTimeout ? net::Verdict::TimedOut
                                                                             : net::Verdict::Continue;
    };

    const net::MemoryResult result = net::GetIntoMemory(url.toUtf8(), client, kMaxPageBytes, progress);
    const int status = result.transfer.responseCode;
    if (!result.transfer.ok() || result.tooLarge || status < 200 || status > 299) return {};
    return {result.body, CharsetOf(result.transfer.contentType)};
}

QByteArray CharsetOf(const QByteArray& contentType)
{
    for (const QByteArray& part : contentType.split(';')) {
        const QByteArray item = part.trimmed();
        if (item.toLower().startsWith("charset=")) {
            QByteArray value = item.mid(8).trimmed();
            if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"')) value = value.mid(1, value.size() - 2);
            return value;
        }
    }
    return QByteArray();
}

BannerController::BannerController(platform::EmbeddedBrowser* browser, QString bannerUrl, QObject* parent)
    : QObject(parent), m_browser(browser), m_url(std::move(bannerUrl)), m_timer(new QTimer(this))
{
    m_timer->setObjectName(QStringLiteral("bannerRefreshTimer"));
    m_timer->setInterval(kRefreshIntervalMs);
    connect(m_timer, &QTimer::timeout, this, &BannerController::RefreshBanner);
    if (m_browser) {
        connect(m_browser, &platform::EmbeddedBrowser::documentComplete, this,
                &BannerController::WebBrowser1DocumentComplete);
        connect(m_browser, &platform::EmbeddedBrowser::newWindow, this,
                [this](const QUrl&, bool* cancel) { WebBrowser1NewWindow2(cancel); }, Qt::DirectConnection);
    }
}

BannerController::~BannerController()
{
    for (Running& running : m_running) running.fetch->abort = true;
    for (Running& running : m_running)
        if (running.thread) running.thread->wait();
}

void BannerController::start()
{
    RefreshBanner();
    m_timer->start();
}

void BannerController::RefreshBanner()
{
    if (!m_browser) return;
    if (m_browser->readyState() != platform::EmbeddedBrowser::Complete) m_browser->stop();

    net::EnsureInitialised(); // on this thread, before any worker can race it
    if (m_current) m_current->abort = true;
    std::erase_if(m_running, [](const Running& r) { return !r.thread || r.thread->isFinished(); });

    auto fetch = std::make_shared<Fetch>();
    m_current = fetch;
    const QString url = m_url;
    const int timeout = m_readTimeoutMs;
    QThread* thread = QThread::create([fetch, url, timeout] { fetch->page = FetchBannerPage(url, timeout, &fetch->abort); });
    thread->setObjectName(QStringLiteral("banner fetch"));
    connect(thread, &QThread::finished, this, [this, fetch] {
        if (fetch != m_current) return; // abandoned for a newer refresh
        m_current.reset();
        LoadHtmlIntoBrowser(fetch->page);
    });
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    m_running.push_back({thread, fetch});
    thread->start();
}

void BannerController::LoadHtmlIntoBrowser(const BannerPage& page)
{
    if (m_browser) m_browser->loadHtml(page.html, page.charset);
}

void BannerController::WebBrowser1DocumentComplete()
{
    if (!m_browser) return;
    m_browser->setBodyOverflow(QStringLiteral("hidden"), QStringLiteral("hidden"));
    emit bannerShown();
}

void BannerController::WebBrowser1NewWindow2(bool* cancel)
{
    // A banner link that wants a window of its own opens in the user's browser.
    WriteLog("WebBrowser1NewWindow2", "");
    *cancel = false;
}

} // namespace signetrix::banner
