#pragma once
// The banner strip: a small page fetched from the banner host and shown in
// the embedded browser at start and every two minutes.
//
// The fetch runs on a worker thread so that a slow or dead banner host never
// holds up the window; the page is handed to the browser when it arrives. Any
// failure (no connection, time-out, an HTTP status other than 2xx) gives an
// empty banner and is reported to nobody. A refresh that starts while an older
// fetch is still under way abandons the older one.
#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <memory>
#include <vector>

QT_BEGIN_NAMESPACE
class QThread;
class QTimer;
QT_END_NAMESPACE

namespace signetrix {

namespace platform {
class EmbeddedBrowser;
}

namespace banner {

inline constexpr char kBannerPath[] = "/err/Signetrix.htm";
inline constexpr int kReadTimeoutMs = 5000;
inline constexpr int kRefreshIntervalMs = 120000;

// The banner page's address on the given host ("http://host[:port]").
QString BannerPageUrl(const QString& host);
// The banner page's address on the host this build was configured with, or on
// the host a test put in its place.
QString DefaultBannerPageUrl();
void setBannerHostForTesting(const QString& host); // empty restores the build's host

struct BannerPage {
    QByteArray html;    // empty on any failure
    QByteArray charset; // from the answer's Content-Type, when it names one
};

// One GET of url with the banner's user agent and no proxy (whatever the
// environment says). readTimeoutMs bounds both the connection and every wait
// for the next bytes. Blocks the calling thread. Setting *abort from another
// thread ends the transfer early (with an empty result).
BannerPage FetchBannerPage(const QString& url, int readTimeoutMs = kReadTimeoutMs,
                           const std::atomic_bool* abort = nullptr);

// The charset parameter of a Content-Type value ("text/html; charset=UTF-8"
// -> "UTF-8"), or empty.
QByteArray CharsetOf(const QByteArray& contentType);

// Owned by the main window; drives its banner browser.
class BannerController : public QObject {
    Q_OBJECT

public:
    BannerController(platform::EmbeddedBrowser* browser, QString bannerUrl, QObject* parent = nullptr);
    // Abandons a fetch under way and waits for its thread (at most about a
    // second: the transfer checks the abandon flag while it waits).
    ~BannerController() override;

    // Stops an unfinished load in the browser, then fetches the banner page in
    // the background; the browser shows it (or an empty page) when the fetch
    // ends.
    void RefreshBanner();

    // RefreshBanner now and then every kRefreshIntervalMs until destruction.
    void start();
    QTimer* refreshTimer() const { return m_timer; }

    bool isFetching() const { return static_cast<bool>(m_current); }
    QString bannerUrl() const { return m_url; }
    void setReadTimeout(int milliseconds) { m_readTimeoutMs = milliseconds; }

signals:
    // A banner document (the page, or the empty one) has completed and its
    // scroll bars are hidden.
    void bannerShown();

private:
    struct Fetch {
        std::atomic_bool abort{false};
        BannerPage page;
    };
    struct Running {
        QPointer<QThread> thread;
        std::shared_ptr<Fetch> fetch;
    };

    void LoadHtmlIntoBrowser(const BannerPage& page);
    void WebBrowser1DocumentComplete();
    void WebBrowser1NewWindow2(bool* cancel);

    QPointer<platform::EmbeddedBrowser> m_browser;
    QString m_url;
    int m_readTimeoutMs = kReadTimeoutMs;
    QTimer* m_timer = nullptr;
    std::shared_ptr<Fetch> m_current;
    std::vector<Running> m_running;
};

} // namespace banner
} // namespace signetrix
