#pragma once
// The file work of the self-update that needs no window: unpacking the update
// archive, reading file times the way the version test compares them, and
// listing the unpack folder. Plain logic on the calling thread.
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

namespace signetrix::update {

struct UnpackUpdateResult {
    bool ok = false;
    QString error;     // for the log
    QStringList files; // full paths written, in archive order
};

// Extracts every file entry directly into folder (created, with its parents,
// when missing): stored folder paths are dropped (the name after the last
// "/"), folder entries (no data, and a name ending in "/" or folder
// attributes) skipped, a file of the same name replaced through a temporary
// file renamed into place (a link of that name is replaced, never followed).
// When two entries end up with one name the later wins, as extracting in
// order would. Each file gets the stored modification time: the extended
// timestamp (0x5455) or old Unix (0x5855) extra field when present, else the
// DOS time read as local time (an invalid DOS date leaves the time of writing).
// Stored Unix permissions keep their rwx bits for owner, group and others,
// never set-id or sticky; without a stored mode a file gets 0644.
//
// Refused before anything is written (the folder not even created): a corrupt,
// truncated or encrypted archive, a bad CRC or size (every entry is read to
// its end first), an entry name holding a NUL, a name that after dropping is
// empty, ".", "..", longer than 255 bytes, holds a backslash or has the
// program's temporary-file pattern, an invalid UTF-8 name under the UTF-8
// flag, a stored link or device, a folder entry holding data, more than 1 GB
// of data in all, and a folder of the same name as a file to write. The data
// is read a second time (and its CRC checked again) while written; a write
// failure removes the temporary files, so nothing is replaced. Only a failed
// rename (the folder's file system failing between two renames) can leave
// some files replaced and others not; the error says so.
UnpackUpdateResult UnpackUpdateArchive(const QString& archivePath, const QString& folder);

struct FileTimes {
    QDateTime creation, lastAccess, lastWrite; // UTC date-times shifted by the standard offset
};

// False when the file does not exist or cannot be opened for reading (a
// folder, pipe or device counts as unreadable; opening never blocks). The
// times are the file's in UTC (creation: the birth time where the file
// system keeps one, else the status-change time), to the millisecond, each
// plus StandardOffsetMinutes(): the local standard time, daylight saving left
// out. times may be null to test readability alone.
bool GetFileTimes(const QString& path, FileTimes* times);

// The local zone's standard offset in minutes east of UTC (daylight saving
// never included); 0 when the zone cannot be read. Tests may fix it; nullopt
// restores the zone's.
int StandardOffsetMinutes();
void SetStandardOffsetForTesting(std::optional<int> minutesEast);

// True exactly when both files' times can be read and the new one's last
// write is strictly later than the running one's (equal: not newer).
bool IsUpdateNewer(const QString& newExecutable, const QString& runningExecutable);

// folder + name of every entry directly inside folder that is not a folder
// (hidden files, links to files and other non-folders included; links are
// followed to tell), in directory-listing order, not recursing. The program's
// own temporary files are left out. A "/" is put between folder and name when
// folder does not end with one. Empty when the folder cannot be read.
QStringList ListFolderFiles(const QString& folder);

} // namespace signetrix::update
