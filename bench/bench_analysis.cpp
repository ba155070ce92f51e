// A whole analysis through the offscreen main window (table fill, worker,
// synchronised table writes and progress updates) against a bare libcurl loop
// with a fresh handle per address, both over the same 5,000 favorites served
// by a loopback server that answers 200 at once. Prints both and the ratio.
#include "platform/Clock.h"
#include "app/DataModules.h"
#include "app/Form12.h"
#include "app/analysis/AnalysisController.h"
#include "support/HttpTestServer.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QPushButton>
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <chrono>
#include <cstdio>
#include <limits>

using namespace signetrix;

namespace {

constexpr int kFavorites = 5000;

struct Fixture {
    test::ExeFolderGuard exe;
    test::HomeGuard home;
    test::ScriptedMessageBoxes boxes;
    test::HttpTestServer server;
    std::vector<QByteArray> urls;

    Fixture()
    {
        server.setFallback(test::HttpReply::status(200, "ok"));
        QDir().mkpath(home.favorites());
        for (int i = 0; i < kFavorites; ++i) {
            const QByteArray url = server.url("/page" + QByteArray::number(i));
            urls.push_back(url);
            const QString folder = home.favorites() + QStringLiteral("/f%1").arg(i / 100);
            QDir().mkpath(folder);
            QFile file(folder + QStringLiteral("/fav%1.url").arg(i));
            file.open(QIODevice::WriteOnly);
            file.write("[InternetShortcut]\r\nURL=" + url + "\r\n");
        }
    }
};

Fixture& fixture()
{
    static Fixture f;
    return f;
}

double g_bestAnalysis = std::numeric_limits<double>::max();
double g_bestBare = std::numeric_limits<double>::max();
double g_sumAnalysis = 0, g_sumBare = 0;
int g_runsAnalysis = 0, g_runsBare = 0;

size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

void BM_WholeAnalysis(benchmark::State& state)
{
    fixture(); // the favorites tree and its server
    platform::setPauseForTesting([](int) {});
    TdmCommon common;
    TReVuvidizEdevav program;
    TForm12 form(common, program);
    form.show();
    // Normal priority: the idle default would measure the machine's other load.
    form.findChild<QObject*>(QStringLiteral("rdgPriorite"))->setProperty("currentIndex", 1);
    auto* start = form.findChild<QPushButton*>(QStringLiteral("btnStartAnalyse"));
    for (auto _ : state) {
        form.LoadFavoritesList();
        form.runData().MemoryTable1.clear(); // a click that starts no run then shows as an error

        const auto t0 = std::chrono::steady_clock::now();
        start->click();
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        state.SetIterationTime(s);
        g_bestAnalysis = std::min(g_bestAnalysis, s);
        g_sumAnalysis += s;
        ++g_runsAnalysis;
        int checked = 0;
        for (const FavoriteRow& row : form.runData().MemoryTable1.rows()) checked += row.iStatut == 200;
        if (checked != kFavorites) state.SkipWithError("not every favorite was checked");
    }
    state.SetItemsProcessed(state.iterations() * kFavorites);
    platform::setPauseForTesting({});
}

// The worker with a view that only stores the values: the cost of the check and
// the hand-overs without any painting.
class BareView : public CheckProgressView {
public:
    void setMeter(int percent) override { meter = percent; }
    void setUrlText(const QString& text) override { url = text; }
    void setNameText(const QString& text) override { name = text; }
    void setCountText(const QString& text) override { count = text; }
    void setSecondLookText(const QString&) override {}
    void refresh() override {}
    int meter = 0;
    QString url, name, count;
};

void BM_WorkerOnly(benchmark::State& state)
{
    Fixture& f = fixture();
    for (auto _ : state) {
        FavoritesTable table;
        for (const QByteArray& url : f.urls) {
            FavoriteRow& row = table.append();
            row.fullUrl = row.stUrl = url;
        }
        BareView view;
        const auto t0 = std::chrono::steady_clock::now();
        QPointer<TThreadCheckURL> worker = new TThreadCheckURL(view, table, 1, tyiProxyConnectionInfo());
        while (!worker.isNull()) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        if (view.count != QString::number(kFavorites)) state.SkipWithError("worker did not finish");
    }
    state.SetItemsProcessed(state.iterations() * kFavorites);
}

void BM_BareCurlLoop(benchmark::State& state)
{
    Fixture& f = fixture();
    curl_global_init(CURL_GLOBAL_DEFAULT);
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        int ok = 0;
        for (const QByteArray& url : f.urls) {
            CURL* h = curl_easy_init();
            curl_easy_setopt(h, CURLOPT_URL, url.constData());
            curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, Discard);
            curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
            curl_easy_setopt(h, CURLOPT_PROXY, "");
            if (curl_easy_perform(h) == CURLE_OK) ++ok;
            curl_easy_cleanup(h);
        }
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        state.SetIterationTime(s);
        g_bestBare = std::min(g_bestBare, s);
        g_sumBare += s;
        ++g_runsBare;
        if (ok != kFavorites) state.SkipWithError("a request failed");
    }
    state.SetItemsProcessed(state.iterations() * kFavorites);
}

BENCHMARK(BM_BareCurlLoop)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WorkerOnly)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WholeAnalysis)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX")) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_runsAnalysis > 0 && g_runsBare > 0) {
        std::printf("%d favorites, best: analysis %.3f s, bare libcurl loop %.3f s, ratio %.2fx\n", kFavorites,
                    g_bestAnalysis, g_bestBare, g_bestAnalysis / g_bestBare);
        const double meanAnalysis = g_sumAnalysis / g_runsAnalysis, meanBare = g_sumBare / g_runsBare;
        std::printf("%d favorites, mean: analysis %.3f s, bare libcurl loop %.3f s, ratio %.2fx\n", kFavorites,
                    meanAnalysis, meanBare, meanAnalysis / meanBare);
    }
    return 0;
}
