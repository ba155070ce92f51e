#include "cleanup/EmptyFolders.h"

#include "cleanup/CleanupFiles.h"
#include "platform/FileSystem.h"

#include <QCollator>
#include <QSet>

#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace signetrix::cleanup {
namespace {

void listInto(const QByteArray& folder, QByteArrayList& out, int depth)
{
    // Deeper than any real tree: a guard against file systems that loop.
    if (depth > 512) return;
    DIR* dir = ::opendir(folder.constData());
    if (!dir) return;
    QByteArrayList names;
    while (const dirent* e = ::readdir(dir)) names.append(QByteArray(e->d_name));
    ::closedir(dir);
    for (const QByteArray& name : names) {
        const bool dots = name == "." || name == "..";
        if (!dots && name.startsWith('.')) continue; // hidden
        const QByteArray full = folder + name;
        out.append(full);
        if (dots) continue;
        struct stat st;
        if (::lstat(full.constData(), &st) == 0 && S_ISDIR(st.st_mode)) listInto(full + '/', out, depth + 1);
    }
}

void call(const std::function<void()>& f)
{
    if (f) f();
}

} // namespace

QByteArrayList ListFolderEntries(const QByteArray& folder)
{
    QByteArrayList out;
    if (folder.isEmpty()) return out;
    listInto(folder.endsWith('/') ? folder : folder + '/', out, 0);
    return out;
}

QString MirrorLetters(const QString& text)
{
    QString out = text;
    for (QChar& c : out) {
        const ushort u = c.unicode();
        if (u >= 'A' && u <= 'Z') c = QChar(ushort(155 - u));
        else if (u >= 'a' && u <= 'z') c = QChar(ushort(219 - u));
    }
    return out;
}

std::vector<FolderRow> BuildFolderTable(const QByteArrayList& entries)
{
    std::vector<FolderRow> rows;
    QSet<QByteArray> seen;
    for (const QByteArray& entry : entries) {
        const QByteArray folder = entry.left(entry.lastIndexOf('/') + 1);
        if (folder.isEmpty() || seen.contains(folder)) continue;
        seen.insert(folder);
        const QString wide = fs::wideFromNative(folder);
        rows.push_back({wide.left(kFolderFieldWidth), static_cast<int>(wide.size()),
                        MirrorLetters(wide).left(kFolderFieldWidth), folder});
    }
    return rows;
}

void SortFolderTable(std::vector<FolderRow>& rows)
{
    QCollator collator{QLocale()};
    collator.setCaseSensitivity(Qt::CaseSensitive);
    std::stable_sort(rows.begin(), rows.end(), [&collator](const FolderRow& a, const FolderRow& b) {
        const int c = collator.compare(a.NomDossierSort, b.NomDossierSort);
        if (c != 0) return c > 0;
        return a.Longueur > b.Longueur;
    });
}

EmptyFolderResult RemoveEmptyFolders(const QByteArray& root, const EmptyFolderProgress& progress)
{
    EmptyFolderResult result;
    auto meter = [&](int p) {
        if (progress.meter) progress.meter(p);
    };
    if (progress.phase) progress.phase(0);
    meter(0);
    call(progress.pump);

    QByteArray rootFolder = root;
    while (rootFolder.endsWith('/') && rootFolder.size() > 1) rootFolder.chop(1);
    const QByteArray rootWithSeparator = rootFolder.isEmpty() ? QByteArray() : rootFolder + '/';

    QByteArrayList entries;
    if (!rootFolder.isEmpty()) entries = ListFolderEntries(rootWithSeparator);
    // The meter walks the entries, then the folders they lie in.
    const int n = static_cast<int>(entries.size());
    for (int p = 0; p < n; ++p) {
        meter(meterPercent(p, n));
        call(progress.pump);
    }
    result.table = BuildFolderTable(entries);
    const int m = static_cast<int>(result.table.size());
    for (int p = 0; p < m; ++p) {
        meter(meterPercent(p, m));
        call(progress.pump);
    }
    SortFolderTable(result.table);

    if (progress.phase) progress.phase(1);
    const QString wideRoot = fs::wideFromNative(rootFolder);
    for (const FolderRow& row : result.table) {
        if (row.nativePath == rootWithSeparator || row.nativePath == rootFolder) continue;
        if (progress.folder) {
            QString shown = row.NomDossier;
            const int at = shown.indexOf(wideRoot);
            if (!wideRoot.isEmpty() && at >= 0) shown.remove(at, wideRoot.size());
            progress.folder(shown);
        }
        call(progress.pump);
        if (row.Longueur <= kFolderFieldWidth && ::rmdir(row.nativePath.constData()) == 0)
            result.removed.append(row.nativePath);
        call(progress.pump);
    }
    meter(100);
    return result;
}

} // namespace signetrix::cleanup
