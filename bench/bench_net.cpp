// The CPU cost of checking https favorites on one thread, one after another
// and 64 at once on one multi handle: each check of a run against a loopback
// TLS server whose certificate is signed by a test CA. The
// client trusts a bundle of the system's CAs plus that test CA, so it has as
// many certificates to load as a real run. The figure is the checking
// thread's own CPU time per favorite (the server works on a thread of its own).
#include "analysis/ConcurrentChecks.h"
#include "analysis/LinkCheck.h"
#include "support/HttpTestServer.h"
#include "support/TestCertificates.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <time.h>

#include <cstdio>
#include <map>
#include <memory>

using namespace signetrix;

namespace {

constexpr int kFavorites = 1000;
constexpr char kSystemBundle[] = "/etc/ssl/certs/ca-certificates.crt";

double ThreadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

struct Fixture {
    QTemporaryDir dir;
    QByteArray bundle;
    std::unique_ptr<test::HttpTestServer> server;
    QByteArray error;

    Fixture()
    {
        const test::TestCertificates& certificates = test::TestCertificates::instance();
        if (!certificates.available()) {
            error = certificates.error().toLocal8Bit();
            return;
        }
        QFile system(QString::fromLatin1(kSystemBundle));
        QFile ca(certificates.caFile());
        if (!system.open(QIODevice::ReadOnly) || !ca.open(QIODevice::ReadOnly)) {
            error = "no system CA bundle or test CA";
            return;
        }
        const QString path = dir.filePath(QStringLiteral("bundle.pem"));
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly)) {
            error = "cannot write the bundle";
            return;
        }
        out.write(system.readAll());
        out.write("\n");
        out.write(ca.readAll());
        out.close();
        bundle = path.toLocal8Bit();
        server = std::make_unique<test::HttpTestServer>(certificates.trusted());
        server->setFallback(test::HttpReply::status(200, "ok"));
    }
};

Fixture& fixture()
{
    static Fixture f;
    return f;
}

std::map<int, double> g_bestCpuMsPerFavorite;

// One iteration is one run of kFavorites https checks, range(0) at once.
void BM_HttpsFavorites(benchmark::State& state)
{
    const int simultaneous = int(state.range(0));
    Fixture& f = fixture();
    if (!f.server) {
        state.SkipWithError(f.error.constData());
        return;
    }
    LinkCheckOptions options;
    options.caInfo = f.bundle;
    const tyiProxyConnectionInfo direct;
    std::vector<QByteArray> urls;
    for (int i = 0; i < kFavorites; ++i) urls.push_back(f.server->url("/page" + QByteArray::number(i)));
    for (auto _ : state) {
        const double cpu0 = ThreadCpuSeconds();
        int ok = 0;
        if (simultaneous == 1) {
            for (const QByteArray& url : urls) ok += CheckUrl(url, direct, options).code == 200;
        } else {
            std::vector<CheckJob> jobs;
            for (const QByteArray& url : urls) jobs.push_back({url, {}});
            // One host: the per-host limit would hold the run to two at a time.
            const ConcurrencyLimits limits{simultaneous, simultaneous, 0};
            RunConcurrentChecks(
                jobs, limits, direct, options, [] { return false; },
                [&](size_t, const LinkCheckOutcome& outcome) { ok += outcome.code == 200; });
        }
        const double cpuMs = (ThreadCpuSeconds() - cpu0) * 1000.0 / kFavorites;
        auto [best, fresh] = g_bestCpuMsPerFavorite.try_emplace(simultaneous, cpuMs);
        if (!fresh) best->second = std::min(best->second, cpuMs);
        state.counters["cpu_ms_per_favorite"] = cpuMs;
        if (ok != kFavorites) state.SkipWithError("an https favorite did not answer 200");
    }
    state.SetItemsProcessed(state.iterations() * kFavorites);
}

BENCHMARK(BM_HttpsFavorites)->Arg(1)->Arg(64)->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    for (const auto& [simultaneous, ms] : g_bestCpuMsPerFavorite)
        std::printf("%d https favorites, %d at once, best: %.3f ms CPU of the checking thread per favorite\n",
                    kFavorites, simultaneous, ms);
    return 0;
}
