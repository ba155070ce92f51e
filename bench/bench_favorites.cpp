// Building the favorite file list and the favorites table over a large tree,
// against a plain POSIX loop that only opens and reads the same files.
// Goal: listing plus filling within twice the plain loop.
#include "favorites/FavoritesFolder.h"
#include "platform/AppPaths.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include "BenchFavoritesTree.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

using bench::kFilesPerFolder;
using bench::kSubFolders;
using bench::kTopFolders;

struct Tree {
    QTemporaryDir dir;
    QByteArray root;                 // 8-bit path of the favorites folder
    QStringList files;               // the favorite file list
    std::vector<QByteArray> native;  // the same files as native paths

    Tree()
    {
        if (!dir.isValid()) {
            std::fprintf(stderr, "cannot create a temporary folder\n");
            std::exit(1);
        }
        // Keep the log of any unreadable favorite out of the build tree.
        signetrix::platform::setExecutablePathForTesting(dir.path() + QStringLiteral("/Signetrix"));
        const QString favorites = dir.path() + QStringLiteral("/Favorites");
        bench::WriteFavoritesTree(favorites, QStringLiteral("Dossier "));
        root = QFile::encodeName(favorites);
        files = signetrix::ListFavoriteFiles(root);
        for (const QString& f : files) native.push_back(QFile::encodeName(f));
        if (files.size() != kTopFolders * kSubFolders * kFilesPerFolder) {
            std::fprintf(stderr, "listed %lld files\n", static_cast<long long>(files.size()));
            std::exit(1);
        }
    }
};

Tree& tree()
{
    static Tree t;
    return t;
}

void BM_ListFavoriteFiles(benchmark::State& state)
{
    const QByteArray root = tree().root;
    for (auto _ : state) {
        QStringList files = signetrix::ListFavoriteFiles(root);
        benchmark::DoNotOptimize(files);
    }
    state.SetItemsProcessed(state.iterations() * tree().files.size());
}
BENCHMARK(BM_ListFavoriteFiles)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FillFavoritesTable(benchmark::State& state)
{
    const QStringList files = tree().files;
    signetrix::FavoritesTable table;
    for (auto _ : state) {
        signetrix::FillFavoritesTable(files, QString(), table);
        benchmark::DoNotOptimize(table.rows().data());
    }
    int waiting = 0;
    for (const auto& row : table.rows()) waiting += row.iStatut == -1 && !row.stUrl.isEmpty();
    if (waiting != files.size()) state.SkipWithError("not every favorite was read");
    state.SetItemsProcessed(state.iterations() * files.size());
}
BENCHMARK(BM_FillFavoritesTable)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ListAndFill(benchmark::State& state)
{
    const QByteArray root = tree().root;
    signetrix::FavoritesTable table;
    for (auto _ : state) {
        signetrix::FillFavoritesTable(signetrix::ListFavoriteFiles(root), QString(), table);
        benchmark::DoNotOptimize(table.rows().data());
    }
    state.SetItemsProcessed(state.iterations() * tree().files.size());
}
BENCHMARK(BM_ListAndFill)->Unit(benchmark::kMillisecond)->UseRealTime();

// The floor: open, read to the end and close every file, nothing else.
void BM_PlainPosixRead(benchmark::State& state)
{
    const std::vector<QByteArray>& paths = tree().native;
    char buffer[4096];
    for (auto _ : state) {
        size_t bytes = 0;
        for (const QByteArray& p : paths) {
            const int fd = ::open(p.constData(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) continue;
            ssize_t got;
            while ((got = ::read(fd, buffer, sizeof buffer)) > 0) bytes += size_t(got);
            ::close(fd);
        }
        benchmark::DoNotOptimize(bytes);
    }
    state.SetItemsProcessed(state.iterations() * int64_t(paths.size()));
}
BENCHMARK(BM_PlainPosixRead)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
