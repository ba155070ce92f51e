// A whole check of 1,000 favorites on loopback hosts, through the real worker
// with the window's defaults (5 s read time-out, the second look on), one
// after another and 64 at once:
//   100 favorites on hosts that accept the connection and never answer (each
//       on an address of its own),
//    50 on closed ports,
//   850 spread over 100 addresses that answer 200 at once.
// Prints each wall time (also at 64 without the second look, to show what it
// costs), and for one after another the ratio to the sum of the read
// time-outs of the silent hosts.
#include "analysis/ResultCodes.h"
#include "analysis/ThreadCheckURL.h"
#include "support/HttpTestServer.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>

using namespace signetrix;

namespace {

constexpr int kSilentHosts = 100;
constexpr int kClosedPorts = 50;
constexpr int kHealthyHosts = 100;
constexpr int kHealthyFavorites = 850;

// A host that completes the connection (the kernel's backlog) and never reads or answers.
struct SilentHost {
    int fd = -1;
    QByteArray url;
    explicit SilentHost(const QByteArray& address)
    {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        ::inet_pton(AF_INET, address.constData(), &sa.sin_addr);
        socklen_t len = sizeof sa;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&sa), len) != 0 || ::listen(fd, 16) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
            return;
        url = "http://" + address + ':' + QByteArray::number(ntohs(sa.sin_port)) + "/";
    }
    ~SilentHost()
    {
        if (fd >= 0) ::close(fd);
    }
};

struct BareView : CheckProgressView {
    void setMeter(int) override {}
    void setUrlText(const QString&) override {}
    void setNameText(const QString&) override {}
    void setCountText(const QString&) override {}
    void setSecondLookText(const QString&) override {}
    void refresh() override {}
};

struct Fixture {
    std::vector<std::unique_ptr<SilentHost>> silent;
    std::vector<std::unique_ptr<test::HttpTestServer>> healthy;
    std::vector<QByteArray> urls;
    QByteArray error;

    Fixture()
    {
        for (int i = 0; i < kSilentHosts; ++i) {
            silent.push_back(std::make_unique<SilentHost>("127.0.2." + QByteArray::number(i + 1)));
            if (silent.back()->url.isEmpty()) error = "cannot listen on 127.0.2.x";
        }
        for (int i = 0; i < kHealthyHosts; ++i) {
            healthy.push_back(std::make_unique<test::HttpTestServer>("127.0.3." + QByteArray::number(i + 1)));
            healthy.back()->setFallback(test::HttpReply::status(200, "ok"));
        }
        // Interleaved as a real Favorites tree would be, not sorted by kind.
        int s = 0, c = 0, h = 0;
        for (int i = 0; i < kSilentHosts + kClosedPorts + kHealthyFavorites; ++i) {
            if (i % 10 == 3 && s < kSilentHosts) urls.push_back(silent[size_t(s++)]->url);
            else if (i % 20 == 7 && c < kClosedPorts) {
                urls.push_back("http://127.0.0.1:" + QByteArray::number(test::closedLoopbackPort()) + "/");
                ++c;
            } else if (h < kHealthyFavorites) {
                urls.push_back(healthy[size_t(h % kHealthyHosts)]->url("/page" + QByteArray::number(h)));
                ++h;
            } else if (s < kSilentHosts) urls.push_back(silent[size_t(s++)]->url);
            else {
                urls.push_back("http://127.0.0.1:" + QByteArray::number(test::closedLoopbackPort()) + "/");
                ++c;
            }
        }
    }
};

Fixture& fixture()
{
    static Fixture f;
    return f;
}

std::map<std::pair<int, bool>, double> g_seconds;

void BM_ThousandFavorites(benchmark::State& state)
{
    Fixture& f = fixture();
    if (!f.error.isEmpty()) {
        state.SkipWithError(f.error.constData());
        return;
    }
    const int simultaneous = int(state.range(0));
    const bool secondLook = state.range(1) != 0;
    for (auto _ : state) {
        FavoritesTable table;
        for (const QByteArray& url : f.urls) {
            FavoriteRow& row = table.append();
            row.fullUrl = row.stUrl = url;
            row.iStatut = kCodeWaiting;
        }
        BareView view;
        const auto t0 = std::chrono::steady_clock::now();
        QEventLoop loop;
        auto* worker =
            new TThreadCheckURL(view, table, 1, tyiProxyConnectionInfo(), LinkCheckOptions(), {simultaneous, secondLook});
        QObject::connect(worker, &QObject::destroyed, &loop, &QEventLoop::quit);
        loop.exec();
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        state.SetIterationTime(s);
        g_seconds[{simultaneous, secondLook}] = s;
        std::map<int, int> codes;
        for (const FavoriteRow& row : table.rows()) ++codes[row.iStatut];
        state.counters["ok"] = codes[200];
        state.counters["no_answer"] = codes[kCodeNoAnswer];
        if (codes[200] != kHealthyFavorites || codes[kCodeNoAnswer] != kSilentHosts + kClosedPorts)
            state.SkipWithError("unexpected codes");
    }
}

BENCHMARK(BM_ThousandFavorites)
    ->Args({64, 1})
    ->Args({64, 0})
    ->Args({1, 1})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const double timeouts = kSilentHosts * LinkCheckOptions().readTimeoutMs / 1000.0;
    for (const auto& [run, seconds] : g_seconds)
        std::printf("1,000 favorites, %d at once, second look %s: %.1f s\n", run.first, run.second ? "on" : "off",
                    seconds);
    if (const auto one = g_seconds.find({1, true}); one != g_seconds.end())
        std::printf("one after another: %.2fx the sum of the silent hosts' read time-outs (%.0f s)\n",
                    one->second / timeouts, timeouts);
    return 0;
}
