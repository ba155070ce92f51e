#include "favorites/FavoritesFolder.h"
#include "favorites/ResultCodes.h"

#include "favorites/ShortcutFile.h"
#include "platform/AppPaths.h"
#include "platform/CodePage.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/Log.h"

#include <QFile>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>
#include <utility>

namespace signetrix {
namespace {

// What one listing has met so far: each real folder is searched once and each
// file listed once, however many links or mounts lead to them, so that links
// cannot multiply the list (two links per level would double it per level)
// and no favorite appears under two paths that a cleanup could both act on.
struct Walk {
    std::unordered_set<fs::FileId, fs::FileIdHash> folders;
    std::unordered_set<fs::FileId, fs::FileIdHash> files;
    QStringList out;
    std::int64_t staleBefore = 0; // temporary files older than this are swept
};

fs::FileId idOf(const struct stat& st) { return {std::uint64_t(st.st_dev), std::uint64_t(st.st_ino)}; }

// A temporary file of the program's own pattern was left by a rewrite that
// never finished (the program was killed): it is no favorite. Once it is old
// enough that no running rewrite can still own it, it goes.
void sweepTempFile(int dirFd, const char* name, std::int64_t staleBefore)
{
    struct stat st;
    if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
        std::int64_t(st.st_mtim.tv_sec) < staleBefore)
        ::unlinkat(dirFd, name, 0);
}

// folder is the 8-bit path with its trailing '/'.
void listFolder(const QByteArray& folder, Walk& walk)
{
    DIR* dir = ::opendir(folder.constData());
    if (!dir) return;
    const int dirFd = ::dirfd(dir);
    struct stat st;
    if (::fstat(dirFd, &st) != 0 || !walk.folders.insert(idOf(st)).second) {
        ::closedir(dir);
        return;
    }

    const QString wideFolder = codepage::fromAnsi(folder);
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
        // A plain file is known by the entry's inode on the folder's device (no
        // stat call for the common case); links and entries of unknown type
        // are followed, a link to a folder being searched like the folder.
        struct stat target;
        bool known = true;
        if (entry->d_type == DT_REG) {
            target.st_mode = S_IFREG;
            target.st_dev = st.st_dev;
            target.st_ino = entry->d_ino;
        } else {
            known = ::fstatat(dirFd, name, &target, 0) == 0;
        }
        const QString wideName = QFile::decodeName(name);
        if (known && S_ISDIR(target.st_mode)) {
            // The sub-folder is searched under its 8-bit form, which may no
            // longer name it when its name holds characters outside the page.
            listFolder(folder + codepage::toAnsi(wideName) + '/', walk);
        } else if (fs::isTempFileName(name)) {
            sweepTempFile(dirFd, name, walk.staleBefore);
        } else if (!known || walk.files.insert(idOf(target)).second) {
            // A broken link is listed: it becomes an unreadable favorite.
            walk.out.push_back(wideFolder + wideName);
        }
    }
    ::closedir(dir);
}

void markUnreadable(const char* tag, FavoriteRow& row)
{
    WriteLog(tag, row.fullPath);
    WriteLog(tag, row.stFileComplet);
    row.iStatut = kCodeUnreadable;
}

} // namespace

QByteArray GetFavoritesFolder() { return codepage::toAnsi(platform::favoritesFolder()); }

QStringList ListFavoriteFiles(const QByteArray& folder)
{
    if (folder.isEmpty()) return {};
    Walk walk;
    walk.staleBefore = std::int64_t(::time(nullptr)) - fs::kStaleTempFileSeconds;
    listFolder(folder.endsWith('/') ? folder : folder + '/', walk);
    return std::move(walk.out);
}

void FillFavoritesTable(const QStringList& files, const QString& fileLimitText, FavoritesTable& table)
{
    qsizetype count = files.size();
    if (!fileLimitText.isEmpty()) count = std::clamp<qsizetype>(StrToInt(fileLimitText), 0, files.size());

    table.clear();
    table.rows().reserve(size_t(count));
    for (qsizetype i = 0; i < count; ++i) {
        FavoriteRow& row = table.append();
        try {
            const QString& wide = files[i];
            row.Index = qint32(i);
            row.widePath = wide;
            row.fullPath = codepage::toAnsi(wide);
            row.stFileComplet = cutField(row.fullPath);
            row.stFile = cutField(ShortcutDisplayName(row.fullPath));
            // Later operations act on the 8-bit form, so that is the one that
            // must name an existing file; the address is read through the
            // Unicode path.
            if (fs::nativeFromWide(wide) == row.fullPath) {
                // Both forms name the same bytes (the usual case): one open
                // answers the existence test and reads the file.
                QByteArray contents;
                switch (ReadShortcutBytes(row.fullPath, contents)) {
                case ShortcutBytes::Read:
                    row.iStatut = kCodeWaiting;
                    row.fullUrl = ShortcutUrlFromBytes(contents);
                    row.stUrl = cutField(row.fullUrl);
                    continue;
                case ShortcutBytes::Folder:
                    markUnreadable("btnScanClick", row);
                    continue;
                case ShortcutBytes::NotOpened:
                    markUnreadable(fs::isFile(row.fullPath) ? "except:btnScanClick" : "btnScanClick", row);
                    continue;
                case ShortcutBytes::Unreadable:
                    markUnreadable("except:btnScanClick", row);
                    continue;
                }
            }
            if (!fs::isFile(row.fullPath)) {
                markUnreadable("btnScanClick", row);
                continue;
            }
            row.iStatut = kCodeWaiting;
            try {
                row.fullUrl = ReadShortcutUrlWide(wide);
                row.stUrl = cutField(row.fullUrl);
            } catch (const Error&) {
                markUnreadable("except:btnScanClick", row);
            }
        } catch (...) {
            // The row keeps what was filled; one bad favorite never stops the list.
        }
    }
    std::stable_sort(table.rows().begin(), table.rows().end(),
                     [](const FavoriteRow& a, const FavoriteRow& b) { return a.iStatut < b.iStatut; });
}

} // namespace signetrix
