// The maker's server under load on loopback: 50 clients storing a 2 MB backup
// by FTP (active mode, the program's own upload) and 50 fetching one over HTTP,
// all at once, against the real signetrix_server and its FTP daemon. Reports
// the throughput of each side and the peak memory (VmHWM) of the server and of
// its FTP child.
#include "net/Transfer.h"
#include "server/web/ServerProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

using namespace signetrix;

namespace {

constexpr int kUploaders = 50;
constexpr int kDownloaders = 50;
constexpr qsizetype kArchiveBytes = 2 * 1024 * 1024;
constexpr char kDownloadedId[] = "100000000000000";

// Peak resident memory of a process in KiB, from /proc; 0 when unknown.
long PeakKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (pid <= 0 || !status.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').first().toLong();
    return 0;
}

struct Fixture {
    QTemporaryDir dir;
    std::unique_ptr<test::ServerProcess> server;
    QByteArray archivePath;
    QByteArray archive;
    qint64 ftpPid = 0;
    QByteArray error;

    Fixture()
    {
        const QString data = dir.filePath(QStringLiteral("data"));
        server = std::make_unique<test::ServerProcess>(data);
        if (!server->ready()) {
            error = server->startError().toUtf8();
            return;
        }
        const QList<qint64> ftp = test::ProcessesMentioning(data + QStringLiteral("/ftp"));
        ftpPid = ftp.isEmpty() ? 0 : ftp.first();
        // A backup of one large favorite that does not compress.
        archive = test::MakeZip({{"Favoris/gros.bin", test::PseudoRandomBytes(kArchiveBytes - 200, 11)}});
        archivePath = QFile::encodeName(dir.filePath(QStringLiteral("backup.zip")));
        QFile file(QFile::decodeName(archivePath));
        if (archive.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(archive) != archive.size()) {
            error = "cannot write the archive";
            return;
        }
        file.close();
        if (!upload(kDownloadedId).ok()) error = "the first upload failed";
    }

    net::TransferResult upload(const QByteArray& id) const
    {
        net::ClientOptions options;
        options.protocols = "ftp";
        options.connectTimeoutMs = 10000;
        options.totalTimeoutMs = 120000;
        net::FtpUploadOptions ftp{test::kFtpUser, test::kFtpPassword, true};
        return net::UploadFile(server->ftpUrl("/" + QByteArray(test::kBackupFolder) + "/" + id + ".zip"), archivePath,
                               options, ftp);
    }

    bool download() const
    {
        net::ClientOptions options;
        options.userAgent = "bench";
        options.protocols = "http";
        options.connectTimeoutMs = 10000;
        options.totalTimeoutMs = 120000;
        const net::MemoryResult result = net::GetIntoMemory(
            server->url("/" + QByteArray(test::kBackupFolder) + "/" + kDownloadedId + ".zip"), options, 4 * kArchiveBytes);
        return result.transfer.ok() && result.transfer.responseCode == 200 && result.body == archive;
    }
};

Fixture& fixture()
{
    static Fixture f;
    return f;
}

struct Figures {
    double uploadMiBps = 0;
    double downloadMiBps = 0;
};
Figures g_best;

// One iteration: every uploader and downloader started together; each side's
// throughput is its bytes over the time until its last client finished.
void BM_UploadsAndDownloadsAtOnce(benchmark::State& state)
{
    Fixture& f = fixture();
    if (!f.error.isEmpty()) {
        state.SkipWithError(f.error.constData());
        return;
    }
    using Clock = std::chrono::steady_clock;
    for (auto _ : state) {
        std::atomic<int> failures{0};
        std::atomic<long long> uploadEndNs{0}, downloadEndNs{0};
        const Clock::time_point start = Clock::now();
        const auto record = [&](std::atomic<long long>& end) {
            const long long ns = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
            long long seen = end.load();
            while (ns > seen && !end.compare_exchange_weak(seen, ns)) {
            }
        };
        std::vector<std::thread> clients;
        for (int i = 0; i < kUploaders; ++i)
            clients.emplace_back([&, i] {
                if (!f.upload(QByteArray::number(200000000000000LL + i)).ok()) ++failures;
                record(uploadEndNs);
            });
        for (int i = 0; i < kDownloaders; ++i)
            clients.emplace_back([&] {
                if (!f.download()) ++failures;
                record(downloadEndNs);
            });
        for (std::thread& client : clients) client.join();
        if (failures > 0) {
            state.SkipWithError("a transfer failed");
            return;
        }
        const double mib = double(f.archive.size()) / (1024.0 * 1024.0);
        const double up = kUploaders * mib / (double(uploadEndNs) / 1e9);
        const double down = kDownloaders * mib / (double(downloadEndNs) / 1e9);
        g_best.uploadMiBps = std::max(g_best.uploadMiBps, up);
        g_best.downloadMiBps = std::max(g_best.downloadMiBps, down);
        state.counters["ftp_upload_MiB_per_s"] = up;
        state.counters["http_download_MiB_per_s"] = down;
    }
    state.counters["server_peak_MiB"] = PeakKiB(f.server->pid()) / 1024.0;
    state.counters["ftp_child_peak_MiB"] = PeakKiB(f.ftpPid) / 1024.0;
    state.SetBytesProcessed(state.iterations() * (kUploaders + kDownloaders) * f.archive.size());
}

BENCHMARK(BM_UploadsAndDownloadsAtOnce)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    net::EnsureInitialised();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Fixture& f = fixture();
    if (f.error.isEmpty())
        std::printf("%d FTP uploads and %d HTTP downloads of %.1f MiB at once, best: uploads %.1f MiB/s, downloads "
                    "%.1f MiB/s; peak memory: server %.1f MiB, FTP child %.1f MiB\n",
                    kUploaders, kDownloaders, double(f.archive.size()) / (1024.0 * 1024.0), g_best.uploadMiBps,
                    g_best.downloadMiBps, PeakKiB(f.server->pid()) / 1024.0, PeakKiB(f.ftpPid) / 1024.0);
    return 0;
}
