// The backup archive of a 20,000-favorite tree: building it and restoring it
// into an empty folder, each timed in the same iteration as the command-line
// tools on the same data (zip -1 -r -q of the tree, unzip -o -q of the same
// archive). Goal: within 1.5x of each tool. The iteration time is ours; the
// counters give both times and the ratio.
#include "backup/BackupArchive.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include "BenchFavoritesTree.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <ftw.h>
#include <unistd.h>

namespace {

using bench::kFilesPerFolder;
using bench::kSubFolders;
using bench::kTopFolders;

// Removes a tree by its bytes: unzip writes the code page 850 names as they
// are, which are no valid UTF-8, so Qt cannot name them to remove them.
void removeTree(const QString& path)
{
    ::nftw(
        QFile::encodeName(path).constData(), [](const char* p, const struct stat*, int, FTW*) { return ::remove(p); },
        64, FTW_DEPTH | FTW_PHYS);
}

struct Tree {
    QTemporaryDir dir;
    QString favorites;
    QString archive; // ours, built once, for the restore

    Tree()
    {
        if (!dir.isValid()) {
            std::fprintf(stderr, "cannot create a temporary folder\n");
            std::exit(1);
        }
        favorites = dir.path() + QStringLiteral("/Favorites");
        bench::WriteFavoritesTree(favorites, QStringLiteral("Dossier é"));
        archive = dir.path() + QStringLiteral("/restore.zip");
        const auto r = signetrix::backup::CreateFavoritesArchive(favorites, archive);
        if (!r.ok || r.entries != kTopFolders * kSubFolders * kFilesPerFolder) {
            std::fprintf(stderr, "archive: %s (%d entries)\n", qPrintable(r.error), r.entries);
            std::exit(1);
        }
    }
    ~Tree() { removeTree(dir.path()); }
};

Tree& tree()
{
    static Tree t;
    return t;
}

// Runs a tool to its end; the wall-clock seconds, or a negative value on failure.
double runTool(const QString& program, const QStringList& args, const QString& folder)
{
    const QString exe = QStandardPaths::findExecutable(program);
    if (exe.isEmpty()) return -1;
    QProcess p;
    p.setWorkingDirectory(folder);
    QElapsedTimer timer;
    timer.start();
    p.start(exe, args);
    if (!p.waitForFinished(600000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) return -1;
    return double(timer.nsecsElapsed()) / 1e9;
}

void report(benchmark::State& state, double ours, double tool, const char* toolName)
{
    state.counters["ours_ms"] = benchmark::Counter(ours * 1000, benchmark::Counter::kAvgIterations);
    state.counters[std::string(toolName) + "_ms"] = benchmark::Counter(tool * 1000, benchmark::Counter::kAvgIterations);
    state.counters["ratio"] = ours / tool;
}

void BM_CreateArchive(benchmark::State& state)
{
    Tree& t = tree();
    const QString ours = t.dir.path() + QStringLiteral("/ours.zip");
    const QString theirs = t.dir.path() + QStringLiteral("/zip.zip");
    double oursTotal = 0, toolTotal = 0;
    for (auto _ : state) {
        QFile::remove(ours);
        QElapsedTimer timer;
        timer.start();
        const auto r = signetrix::backup::CreateFavoritesArchive(t.favorites, ours);
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        if (!r.ok) {
            state.SkipWithError(qPrintable(r.error));
            return;
        }
        state.SetIterationTime(seconds);
        QFile::remove(theirs);
        const double tool =
            runTool(QStringLiteral("zip"),
                    {QStringLiteral("-1"), QStringLiteral("-r"), QStringLiteral("-q"), theirs, QStringLiteral(".")},
                    t.favorites);
        if (tool < 0) {
            state.SkipWithError("zip failed (is it installed?)");
            return;
        }
        oursTotal += seconds;
        toolTotal += tool;
    }
    report(state, oursTotal, toolTotal, "zip");
    state.counters["archive_kB"] = double(QFile(ours).size()) / 1024;
    state.counters["zip_archive_kB"] = double(QFile(theirs).size()) / 1024;
}
BENCHMARK(BM_CreateArchive)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_UnpackArchive(benchmark::State& state)
{
    Tree& t = tree();
    double oursTotal = 0, toolTotal = 0;
    // The folders go once all is measured: removing 40,000 files between two
    // timings would weigh on the next one (the disk discards freed blocks).
    QStringList written;
    auto freshFolder = [&](const char* name) {
        const QString path = t.dir.path() + '/' + name + QString::number(written.size());
        QDir().mkpath(path);
        written << path;
        return path;
    };
    for (auto _ : state) {
        const QString ours = freshFolder("ours-"), theirs = freshFolder("unzip-");
        QElapsedTimer timer;
        timer.start();
        const auto r = signetrix::backup::UnpackFavoritesArchive(t.archive, ours, t.dir.path() + "/copies");
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        if (!r.ok || r.written != kTopFolders * kSubFolders * kFilesPerFolder) {
            state.SkipWithError(qPrintable(r.error));
            break;
        }
        state.SetIterationTime(seconds);
        const double tool = runTool(
            QStringLiteral("unzip"),
            {QStringLiteral("-o"), QStringLiteral("-q"), t.archive, QStringLiteral("-d"), theirs}, t.dir.path());
        if (tool < 0) {
            state.SkipWithError("unzip failed (is it installed?)");
            break;
        }
        oursTotal += seconds;
        toolTotal += tool;
    }
    for (const QString& path : written) removeTree(path);
    report(state, oursTotal, toolTotal, "unzip");
}
BENCHMARK(BM_UnpackArchive)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv); // for QProcess
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
