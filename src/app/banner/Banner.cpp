#include "app/banner/Banner.h"

#include "platform/Log.h"
#include "platform/browser/EmbeddedBrowser.h"

#include <QThread>
#include <QTimer>

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <mutex>

namespace signetrix::banner {

namespace {

// The browser cannot show a larger document handed over as content; a bigger
// answer is no banner.
constexpr qsizetype kMaxPageBytes = 2 * 1024 * 1024;

using Clock = std::chrono::steady_clock;

struct Transfer {
    CURL* curl = nullptr;
    QByteArray body;
    bool tooLarge = false;
    const std::atomic_bool* abort = nullptr;
    std::chrono::milliseconds readTimeout{kReadTimeoutMs};
    bool connected = false;
    Clock::time_point started = Clock::now();
    Clock::time_point lastActivity = started;
};

size_t onBody(char* data, size_t size, size_t count, void* user)
{
    auto* t = static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    t->lastActivity = Clock::now();
    if (t->body.size() + qsizetype(bytes) > kMaxPageBytes) {
        t->tooLarge = true;
        return 0; // ends the transfer with a write error
    }
    t->body.append(data, qsizetype(bytes));
    return bytes;
}

size_t onHeader(char*, size_t size, size_t count, void* user)
{
    static_cast<Transfer*>(user)->lastActivity = Clock::now();
    return size * count;
}

// Called by curl while it waits, at least once a second: the read time-out
// (no byte for readTimeout once connected) and the abandon flag.
int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    auto* t = static_cast<Transfer*>(user);
    if (t->abort && t->abort->load()) return 1;
    const Clock::time_point now = Clock::now();
    if (!t->connected) {
        // Until connected, the connection time-out applies; once it has
        // passed, curl either gave up or is connected, so the read time-out is
        // armed even if the connect time was too short to be measured.
        curl_off_t connectTime = 0;
        const bool measured =
            curl_easy_getinfo(t->curl, CURLINFO_CONNECT_TIME_T, &connectTime) == CURLE_OK && connectTime > 0;
        if (measured || now - t->started > t->readTimeout) {
            t->connected = true;
            t->lastActivity = now;
        }
        return 0;
    }
    return now - t->lastActivity > t->readTimeout ? 1 : 0;
}

void initCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

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
    initCurlOnce();
    CURL* curl = curl_easy_init();
    if (!curl) return {};

    Transfer transfer;
    transfer.curl = curl;
    transfer.abort = abort;
    transfer.readTimeout = std::chrono::milliseconds(readTimeoutMs);
    const QByteArray address = url.toUtf8();

    curl_easy_setopt(curl, CURLOPT_URL, address.constData());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_USERAGENT, kBannerUserAgent);
    curl_easy_setopt(curl, CURLOPT_PROXY, ""); // never a proxy, not even from the environment
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(readTimeoutMs));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);

    const CURLcode result = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    const char* contentType = nullptr;
    curl_easy_getinfo(curl, CURLINFO_CONTENT_TYPE, &contentType);
    const QByteArray type = contentType ? QByteArray(contentType) : QByteArray();
    curl_easy_cleanup(curl);

    if (result != CURLE_OK || transfer.tooLarge || status < 200 || status > 299) return {};
    return {transfer.body, CharsetOf(type)};
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

    initCurlOnce(); // on this thread, before any worker can race it
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
