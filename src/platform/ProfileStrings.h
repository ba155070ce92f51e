#pragma once
// INI files read and written one key at a time, with the rules of the classic
// private-profile service: section and key names compare without regard to
// case, an existing key is replaced in place, a new key goes to the end of its
// section, a new section to the end of the file, a missing file is created,
// new lines end with CR LF, and every other byte of the file is kept.
//
// A rewrite goes to a temporary file beside the original and is renamed over
// it, so a crash or a full disk never leaves half a file. A read-only file is
// refused before anything is written.
#include <QByteArray>
#include <QString>

namespace signetrix::platform {

// The value of [section] key, trimmed of blanks and control characters and of
// one pair of surrounding double quotes, cut to maxChars; def when the file,
// section or key is missing.
QByteArray getProfileString(const QByteArray& nativePath, const QByteArray& section, const QByteArray& key,
                            const QByteArray& def, int maxChars = 2047);

// Sets [section] key=value. Returns false, with errno-style error set, when the
// file could not be written; the original is then untouched.
bool writeProfileString(const QByteArray& nativePath, const QByteArray& section, const QByteArray& key,
                        const QByteArray& value, int* error = nullptr);

// The pure text transformation behind writeProfileString.
QByteArray applyProfileWrite(const QByteArray& contents, const QByteArray& section, const QByteArray& key,
                             const QByteArray& value);

// Writes data to path through a temporary file and a rename, keeping the
// existing file's permissions; refuses a read-only file.
bool replaceFileContents(const QByteArray& nativePath, const QByteArray& data, int* error = nullptr);

} // namespace signetrix::platform
