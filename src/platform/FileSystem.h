#pragma once
// File-system services on the two forms of a path: the wide (Unicode) form and
// the 8-bit form of the code page, whose bytes are used as the native name.
#include <QByteArray>
#include <QString>

namespace signetrix::fs {

QByteArray nativeFromWide(const QString& path); // the file system's own bytes
QString wideFromNative(const QByteArray& path);

bool isFile(const QByteArray& nativePath);       // exists and is not a folder
bool isFolder(const QByteArray& nativePath);
bool exists(const QByteArray& nativePath);

// Reads a whole file. Files larger than maxBytes are refused (returns false).
bool readFile(const QByteArray& nativePath, QByteArray& contents, qint64 maxBytes = 64 * 1024 * 1024);

// A file whose write permission bits are all clear counts as read-only even for
// the super-user, as a read-only attribute would.
bool isReadOnly(const QByteArray& nativePath);

// The system's text for the last error number.
QString lastErrorText(int error);

} // namespace signetrix::fs
