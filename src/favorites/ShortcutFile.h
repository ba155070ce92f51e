#pragma once
// Internet shortcut files: small INI-form text files whose section
// "InternetShortcut" holds the page address under the key "URL".
//
// Reading is strict (section and key names compared exactly, first match
// wins) and never trims values; writing goes through the profile-string
// service, which matches names without regard to case and keeps every other
// line of the file. Addresses are always handed out as 8-bit code-page text.
//
// Readers throw signetrix::Error when the file cannot be opened or read, is a
// folder, is no regular file (pipe, device) or is larger than
// kMaxShortcutFileSize (such a file is no shortcut); a missing section or key
// is no error and gives an empty address.
#include <QByteArray>
#include <QList>
#include <QString>

namespace signetrix {

inline constexpr qint64 kMaxShortcutFileSize = 1024 * 1024;

// Splits 8-bit text into lines at CR LF, lone LF or lone CR (LF CR gives an
// empty line between). The text ends at its first NUL.
QList<QByteArray> SplitShortcutLines(const QByteArray& text);

// The lines of the first section named exactly `section`, without the header
// and without lines that are blank after trimming; empty when there is none.
QList<QByteArray> ReadIniSection(const QList<QByteArray>& lines, const QByteArray& section);

// The text after the first '=' of the first line whose text before its first
// '=' equals `key` exactly; empty when there is none.
QByteArray ReadIniValue(const QList<QByteArray>& lines, const QByteArray& key);

// The address of a shortcut named by its 8-bit path (the bytes are the file
// name), decoded as ReadShortcutUrlWide decodes it, so that every reader of
// the program sees the same address in the same file.
QByteArray ReadShortcutUrl(const QByteArray& path);

// The address of a shortcut named by its Unicode path. A UTF-8, UTF-16 LE or
// UTF-16 BE byte-order mark selects that encoding; other files are 8-bit text.
// Characters the code page cannot hold come back as '?'.
QByteArray ReadShortcutUrlWide(const QString& path);

// Decodes the contents of a shortcut file as ReadShortcutUrlWide does and
// returns its address (exposed for callers that already hold the bytes).
QByteArray ShortcutUrlFromBytes(const QByteArray& contents);

// The raw bytes of a shortcut file by its native path, with the same checks as
// the readers above, without throwing: for callers that test many files and
// must tell a file that is not there from one that cannot be read.
enum class ShortcutBytes { Read, NotOpened, Folder, Unreadable };
ShortcutBytes ReadShortcutBytes(const QByteArray& nativePath, QByteArray& contents, int* error = nullptr);

// Sets the URL key of the InternetShortcut section of the file at the 8-bit
// path, creating key, section or file as needed. A file with a byte-order mark
// keeps its encoding. Returns false, leaving the file as it was, when it cannot
// be written or when the address holds a line break or NUL (which would turn
// into extra lines of the file).
bool WriteShortcutUrl(const QByteArray& path, const QByteArray& url);

// The file name of a path without its last four characters (".url"), applied
// to every name whatever its extension ("desktop.ini" gives "desktop").
QByteArray ShortcutDisplayName(const QByteArray& path);
QString ShortcutDisplayName(const QString& path);

} // namespace signetrix
