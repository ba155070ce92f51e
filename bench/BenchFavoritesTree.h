#pragma once
// The large Favorites tree the benchmarks share: 20 top folders of 20
// sub-folders of 50 shortcuts each (20,000 favorites) with French names, each
// file a real shortcut as a browser writes it. Exits the benchmark when the
// tree cannot be written.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace bench {

constexpr int kTopFolders = 20;
constexpr int kSubFolders = 20;      // 20 x 20 = 400 folders
constexpr int kFilesPerFolder = 50;  // 400 x 50 = 20,000 favorites
constexpr int kTreeFavorites = kTopFolders * kSubFolders * kFilesPerFolder;

// subFolderStem names the sub-folders ("Dossier " + number).
inline void WriteFavoritesTree(const QString& favorites, const QString& subFolderStem)
{
    int n = 0;
    for (int t = 0; t < kTopFolders; ++t) {
        for (int s = 0; s < kSubFolders; ++s) {
            const QString folder = favorites + QStringLiteral("/Rubrique %1/").arg(t) + subFolderStem + QString::number(s);
            QDir().mkpath(folder);
            for (int f = 0; f < kFilesPerFolder; ++f, ++n) {
                const QByteArray path = QFile::encodeName(folder + QStringLiteral("/Favori n\u00b0%1.url").arg(n));
                const QByteArray body = "[DEFAULT]\r\nBASEURL=http://site" + QByteArray::number(n) +
                                        ".example/\r\n[InternetShortcut]\r\nURL=http://site" + QByteArray::number(n) +
                                        ".example/page/" + QByteArray::number(n) +
                                        ".html\r\nIconIndex=0\r\nModified=C0B2F1A9D5E3D801B3\r\n";
                const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
                if (fd < 0 || ::write(fd, body.constData(), size_t(body.size())) != body.size()) {
                    std::fprintf(stderr, "cannot write %s\n", path.constData());
                    std::exit(1);
                }
                ::close(fd);
            }
        }
    }
}

} // namespace bench
