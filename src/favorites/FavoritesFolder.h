#pragma once
// The Favorites folder, the favorite file list built from its tree, and the
// favorites table filled from that list at the start of an analysis.
#include "favorites/FavoritesTable.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace signetrix {

// 8-bit form of the user's Favorites folder; empty when there is none.
QByteArray GetFavoritesFolder();

// The Unicode full path of every file of the tree under the 8-bit folder path,
// depth first in the order the directory search returns the entries (a
// folder's files come where the folder is met in its parent), hidden files
// included, folders not listed. A folder that cannot be searched, including
// one whose 8-bit path does not name it, contributes nothing; an empty folder
// path gives an empty list. Links are followed, but each real folder is
// searched once and each file listed once (by device and inode), under the
// first path met. The program's own temporary files are never listed; those
// older than a day, left by a run that was killed, are removed.
QStringList ListFavoriteFiles(const QByteArray& folder);

// Rebuilds the table from the favorite file list. fileLimitText empty means
// every file, otherwise only the first N files enter the table; a limit that
// is not a whole number throws ConvertError before the table is touched.
// A file whose 8-bit path names no file gets code 9 and two log entries tagged
// "btnScanClick"; a file whose address cannot be read gets code 9 and two
// entries tagged "except:btnScanClick"; every other row waits with code -1.
// The rows end up sorted by iStatut, ascending.
void FillFavoritesTable(const QStringList& files, const QString& fileLimitText, FavoritesTable& table);

} // namespace signetrix
