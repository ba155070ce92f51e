#include "favorites/FavoritesFolder.h"

#include "favorites/ShortcutFile.h"
#include "platform/AppPaths.h"
#include "platform/CodePage.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"
#include "platform/Log.h"

#include <QFile>

#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace signetrix {
namespace {

struct FolderId {
    dev_t dev;
    ino_t ino;
    bool operator==(const FolderId&) const = default;
};

bool isFolderEntry(const QByteArray& folder, const dirent* entry)
{
    if (entry->d_type == DT_DIR) return true;
    if (entry->d_type != DT_UNKNOWN && entry->d_type != DT_LNK) return false;
    // A link to a folder is searched like the folder itself.
    struct stat st;
    const QByteArray path = folder + entry->d_name;
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// folder is the 8-bit path with its trailing '/'; open holds the folders being
// listed above this one.
void listFolder(const QByteArray& folder, std::vector<FolderId>& open, QStringList& out)
{
    DIR* dir = ::opendir(folder.constData());
    if (!dir) return;
    struct stat st;
    if (::fstat(::dirfd(dir), &st) != 0 ||
        std::find(open.begin(), open.end(), FolderId{st.st_dev, st.st_ino}) != open.end()) {
        ::closedir(dir);
        return;
    }
    open.push_back({st.st_dev, st.st_ino});

    const QString wideFolder = codepage::fromAnsi(folder);
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
        const QString wideName = QFile::decodeName(name);
        if (isFolderEntry(folder, entry)) {
            // The sub-folder is searched under its 8-bit form, which may no
            // longer name it when its name holds characters outside the page.
            listFolder(folder + codepage::toAnsi(wideName) + '/', open, out);
        } else {
            out.push_back(wideFolder + wideName);
        }
    }
    ::closedir(dir);
    open.pop_back();
}

void markUnreadable(const char* tag, FavoriteRow& row)
{
    WriteLog(tag, row.fullPath);
    WriteLog(tag, row.stFileComplet);
    row.iStatut = 9;
}

} // namespace

QByteArray GetFavoritesFolder() { return codepage::toAnsi(platform::favoritesFolder()); }

QStringList ListFavoriteFiles(const QByteArray& folder)
{
    QStringList out;
    if (folder.isEmpty()) return out;
    std::vector<FolderId> open;
    listFolder(folder.endsWith('/') ? folder : folder + '/', open, out);
    return out;
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
                    row.iStatut = -1;
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
            row.iStatut = -1;
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
