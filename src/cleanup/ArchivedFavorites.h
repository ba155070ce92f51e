#pragma once
// Undo for the cleanup: the favorites it copied into "Devodav Archives/<date>/"
// before deleting or overwriting them, listed by date folder, put back into
// the Favorites tree, and the date folders removed to reclaim the space.
// Plain logic on the calling thread; the dialog only shows and asks.
//
// Every path below the archive root, today's archive folder and the
// Favorites folder is walked one folder at a time without following a link:
// a link is never listed, never written through and never removed through.
// The roots themselves are taken as given (a Favorites folder that is itself
// a link is the user's choice). Only regular files are listed, read or
// replaced; the program's own temporary files are never listed. A name whose
// bytes do not decode to text that encodes back to the same bytes cannot be
// named by a QString path, so it is left out of the listing.
//
// Failure modes: the listing skips what it cannot open (an unreadable folder
// contributes nothing, an unreadable copy gets an empty address). The plan
// refuses, by relative path, what it must not write. The restore never
// throws; each failure becomes one French sentence naming the relative path
// and leaves that favorite as it was (an interrupted write leaves at most a
// temporary file beside it, which the favorites listing sweeps). A removal
// can stop half-way (a file that cannot be unlinked); the folder is then
// reported and whatever could be removed is gone.
#include <QDate>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <vector>

namespace signetrix::cleanup {

// A copy compared with the Favorites tree now, byte for byte. Different also
// covers a place taken by what is no regular file (a folder, a link, a pipe)
// or reached through one.
enum class ArchivedState { Absent, Same, Different };

struct ArchivedFavorite {
    QString day;          // the date folder's name
    QString relativePath; // below the date folder = below the Favorites folder, "/"-separated
    QString displayName;  // file name without ".url"
    QString address;      // URL= of the copy; empty when unreadable
    QString archivedPath; // full path of the copy
    ArchivedState state = ArchivedState::Absent;
};

struct ArchiveDay {
    QString name; // folder name
    QString path;
    QDate date;   // parsed back from the name (locale short format with "-" for "/", or ISO); invalid if not
    std::vector<ArchivedFavorite> favorites; // sorted by relativePath (case-insensitive first)
};

// Every date folder of archiveRoot, newest first: folders whose name parses
// as a date by that date, then those that do not, by modification time; ties
// by modification time, then by name. Each holds every regular file below it,
// recursively. A missing or unreadable root gives an empty list. Two-digit
// years are read as 20xx.
std::vector<ArchiveDay> ListArchiveDays(const QString& archiveRoot, const QString& favoritesFolder,
                                        const QLocale& locale = QLocale());

// True when text is empty or found (case-insensitive) in the relative path,
// display name or address.
bool MatchesFilter(const ArchivedFavorite& favorite, const QString& text);

struct RestorePlan {
    std::vector<ArchivedFavorite> copies;    // absent or same now (same: nothing to write, counted as unchanged)
    std::vector<ArchivedFavorite> conflicts; // different bytes there now: written only with the user's one answer
    QStringList refused;                     // relative paths that must not be written
};

// Sorts the checked favorites against the tree now (states recomputed). When
// one relative path is checked in several days, the newest day (the order of
// ListArchiveDays, dates parsed with locale) wins and the others are dropped.
// Refused: an empty or absolute path, an empty, "." or ".." part, a NUL, the
// temporary-file pattern; a copy that is gone, is no regular file or is not
// at day/relativePath without a link below the day folder; a target path
// through a link or a non-folder of the tree, or whose place is taken by a
// folder, a link or another non-regular file; a path whose folder would be
// another checked favorite's file; everything when the Favorites folder is
// missing. Outputs are sorted by relative path.
RestorePlan PlanRestore(const std::vector<ArchivedFavorite>& checked, const QString& favoritesFolder,
                        const QLocale& locale = QLocale());

struct RestoreResult {
    int restored = 0;      // files written
    int unchanged = 0;     // already identical
    int archivedFirst = 0; // overwritten versions copied into todayArchiveFolder first (not: one already there)
    QStringList errors;    // French, one per failure, naming the relative path
};

// Writes plan.copies (and plan.conflicts when overwriteConflicts) to
// favoritesFolder + "/" + relativePath, creating folders, each through a
// temporary file renamed into place, with the copy's permission bits and
// modification and access times. A file about to be replaced is first copied
// to todayArchiveFolder + "/" + relativePath (a copy already there with the
// same bytes is kept; beside a different one it becomes "name (2).url",
// "name (3).url"...); when that copy fails, the file is not replaced. Each
// target is checked again just before writing: a link or folder there (or on
// the way) is an error, never followed; a planned copy whose target has
// meanwhile got other bytes is an error (it was not part of the question);
// a new file never replaces one that appeared meanwhile. Nothing is written
// outside favoritesFolder and todayArchiveFolder.
RestoreResult CarryOutRestore(const RestorePlan& plan, bool overwriteConflicts, const QString& favoritesFolder,
                              const QString& todayArchiveFolder);

// Removes the named date folders (names, not paths) and everything below
// them. Refused: an empty name, one holding "/", ".." or a NUL, and one that
// is not a direct child folder of archiveRoot (a link named so included).
// Links inside are removed, never followed; a folder on another file system
// is not entered (its mount point stays, so the day is reported). Returns the
// names that could not be removed (refused ones included).
QStringList RemoveArchiveDays(const QStringList& dayNames, const QString& archiveRoot);

} // namespace signetrix::cleanup
