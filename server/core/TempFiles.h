#pragma once
// Files the server writes are first written under a temporary name of its own
// pattern (".NAME.XXXXXX.tmp" beside NAME) and renamed into place, so that a
// reader meets either the old file or the whole new one. Failures come back as
// false with a text; a failed write leaves no temporary file behind.
#include <QByteArray>
#include <QString>

namespace signetrix::server {

// Creates an empty file of the temporary pattern beside target and returns
// its path (empty when none could be created).
QString UniqueTemporaryPath(const QString& target);
bool IsTemporaryName(const QString& fileName);

// Writes bytes to a temporary file, flushes them to disk and renames it to
// path. mode: the new file's permissions.
bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error, int mode = 0644);

} // namespace signetrix::server
