#pragma once
// The ZIP archive of the Favorites tree sent by the online backup, and its
// extraction by the restore. Plain logic on libzip, run on the calling thread.
//
// Archive written: one entry per regular file below the base folder (hidden
// and read-only ones included; links, devices, pipes and the program's own
// temporary files skipped; a link is never followed, a folder reached twice is
// searched once), entries sorted (a folder's files, then its sub-folders), no
// folder entries, deflate level 1 marked "super fast" (general-purpose bits 1
// and 2), no encryption, Zip64 only past the 32-bit limits, one volume.
// Names are relative, "/"-separated, in DOS code page 850 without the UTF-8
// flag; a name that page cannot hold is written in UTF-8 with the flag, for
// that entry only. Attributes: Unix permissions without execute bits, plus the
// DOS read-only (no write bit at all), hidden (leading ".") and archive bits.
// Times: the DOS form, local time, two-second steps.
//
// Creation fails, naming the file by its relative path and leaving no archive
// file behind, when a file cannot be opened or read (or is no longer the file
// that was listed), when a name's bytes are not valid UTF-8 (such a name
// could not be restored under the same name, so it is refused rather than
// altered or left out: the user renames it), or when a name holds a
// backslash or begins with a drive ("C:"), which the restore refuses.
//
// Extraction is all or nothing as far as the file system allows: the archive
// is read whole (names, sizes, CRCs) and the tree checked before anything is
// written; every file to write is first written to a temporary file of the
// program's pattern in its folder, then the local versions to be replaced are
// copied aside, then the temporary files are renamed into place. A failure
// before the renames removes the temporary files and the folders it created,
// so the tree is left as it was. It also fails before writing when the disk
// lacks the room, when a local file to replace cannot be read (its copy could
// not be made), and when a path would meet a link, a folder where a file goes
// or a file where a folder goes. Entry data up to 64 MB in total is kept in
// memory between the check and the writing; past that it is read again (and
// its CRC checked again) when written. Files are not synced to the disk: a
// crash can lose a new file, not truncate one in place.
#include <QString>

#include <functional>

namespace signetrix::backup {

// Overall progress, 0 to 100; called at 0 and at 100 and often in between, so
// a caller that processes window events in it keeps the window painted.
using ArchiveProgress = std::function<void(double percent)>;

struct ArchiveResult {
    bool ok = false;
    QString error;   // a French sentence for the user; never empty when !ok
    int entries = 0; // entries written
};

// Creates a new archive at archivePath, replacing any file there (never
// appending), holding every regular file below baseFolder. An empty folder
// gives a valid archive without entries.
ArchiveResult CreateFavoritesArchive(const QString& baseFolder, const QString& archivePath,
                                     const ArchiveProgress& progress = {});

struct UnpackResult {
    bool ok = false;
    QString error;     // French, for the log; the window shows its own message
    int written = 0;   // files written (new or replaced)
    int unchanged = 0; // files already identical, left alone
    int archived = 0;  // copies aside written (not counted: a copy already there with the same bytes)
};

// Extracts every entry into baseFolder (created when missing, its parent must
// exist): missing folders created, existing files replaced (read-only ones
// too), nothing deleted. A local file that would get different bytes is first
// copied to archiveCopyFolder + "/" + its relative path; a copy already there
// is kept, and when it holds other bytes the new copy takes the next free name
// "name (2).ext", "name (3).ext"... so no local version is ever lost. An
// identical local file is left alone. Refused before anything is written: a
// truncated, corrupt or encrypted archive, a bad CRC, and any entry name that
// is empty, absolute, has an empty, "." or ".." part, a backslash, a drive, a
// NUL, invalid UTF-8 under the UTF-8 flag, the program's temporary pattern, or
// that another entry already uses (as a file or as a folder). Written files
// get the stored time; a DOS read-only bit (or Unix permissions without any
// write bit) makes them 0444, otherwise 0666, less the umask; never
// executable, set-id or sticky.
UnpackResult UnpackFavoritesArchive(const QString& archivePath, const QString& baseFolder,
                                    const QString& archiveCopyFolder, const ArchiveProgress& progress = {});

} // namespace signetrix::backup
