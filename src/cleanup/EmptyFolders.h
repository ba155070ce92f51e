#pragma once
// Removal of the empty folders of the favorites tree. Every folder that is not
// hidden (nor inside a hidden folder) is listed, ordered so that each folder
// comes before the folder holding it, and the file system is asked to remove
// it; it refuses every folder that still holds anything, hidden entries
// included, so exactly the empty folders go, chains of them in one pass. The
// favorites folder itself is never removed.
#include <QByteArray>
#include <QByteArrayList>
#include <QString>

#include <functional>
#include <vector>

namespace signetrix::cleanup {

// Every entry below folder (native bytes), depth first in the order the file
// system returns them: folder + name, "." and ".." included, then a
// sub-folder's own entries. Hidden entries (a leading ".") are skipped with
// everything inside them; symbolic links are listed but never entered. A
// folder that cannot be read gives nothing.
QByteArrayList ListFolderEntries(const QByteArray& folder);

// Mirrors the ASCII letters (A<->Z, b<->y, ...); everything else stays.
QString MirrorLetters(const QString& text);

// One row of the folder table (MemoryTableDeleteDossiers).
struct FolderRow {
    QString NomDossier;     // full folder path with a trailing separator, cut to 255 characters
    int Longueur = 0;       // length of the uncut path in characters
    QString NomDossierSort; // MirrorLetters of the path, cut to 255 characters
    QByteArray nativePath;  // the uncut folder path as the file system names it
};

inline constexpr int kFolderFieldWidth = 255;

// The folder set of the listed entries (each entry's folder part, once, in
// order of first appearance) as table rows.
std::vector<FolderRow> BuildFolderTable(const QByteArrayList& entries);
// Descending on NomDossierSort (the locale's case-sensitive collation), then
// on Longueur: contained folders first, siblings in alphabetical order.
void SortFolderTable(std::vector<FolderRow>& rows);

struct EmptyFolderProgress {
    std::function<void(int phase)> phase;          // 0 "Recherche des dossiers vides", 1 "Suppression des dossiers"
    std::function<void(int percent)> meter;
    std::function<void(const QString& folder)> folder; // folder being handled, below the favorites folder
    std::function<void()> pump;                    // lets the window process pending events
};

struct EmptyFolderResult {
    std::vector<FolderRow> table; // the sorted folder table
    QByteArrayList removed;       // folders the file system removed
};

// The whole step over the favorites folder root (native bytes, with or
// without a trailing separator). An empty root lists and removes nothing.
// Folders whose path is longer than the table's field width stay: the cut
// path could name another folder.
EmptyFolderResult RemoveEmptyFolders(const QByteArray& root, const EmptyFolderProgress& progress = {});

} // namespace signetrix::cleanup
