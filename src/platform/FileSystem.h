#pragma once
// File-system services on the two forms of a path: the wide (Unicode) form and
// the 8-bit form of the code page, whose bytes are used as the native name.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <compare>
#include <cstdint>
#include <functional>
#include <optional>

struct stat;

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
// Creates a folder and its missing parents. True when it exists afterwards.
bool makeFolderPath(const QByteArray& nativePath);

// A file as the file system knows it: two paths name the same file when
// their identities are equal, whatever links or mounts lie on the way.
struct FileId {
    std::uint64_t dev = 0;
    std::uint64_t ino = 0;
    auto operator<=>(const FileId&) const = default;
};
struct FileIdHash {
    size_t operator()(const FileId& id) const noexcept
    {
        return std::hash<std::uint64_t>()(id.ino * 1000003u ^ id.dev);
    }
};
// The identity of the file the path leads to (links followed); none when
// nothing is there or it is a folder, so that one call answers both "is it a
// file" and "which one".
std::optional<FileId> fileId(const QByteArray& nativePath);

// True when the path leads (links followed) to a regular file: not a folder,
// pipe, socket or device.
bool isRegularFile(const QByteArray& nativePath);

// Opens a regular file for reading without ever blocking on a pipe or a
// device: the open is non-blocking and the descriptor itself is checked.
// Returns the descriptor, or -1 with *error set (EINVAL for what is no
// regular file, EISDIR for a folder).
int openRegularFile(const QByteArray& nativePath, int* error = nullptr);

// Temporary files the program writes beside a file it replaces carry this
// name pattern (the prefix and six random characters), so that listings can
// tell them from the user's files and sweep what a killed run left behind.
inline constexpr char kTempFilePrefix[] = ".signetrix-tmp-";
bool isTempFileName(QByteArrayView name);
// Creates a new temporary file of that pattern in folder (which ends with '/'
// or is empty for the current folder); returns its descriptor and sets
// tempPath, or -1 with errno set.
int createTempFile(const QByteArray& folder, QByteArray& tempPath);
// Temporary files older than this were left by a run that ended abnormally.
inline constexpr std::int64_t kStaleTempFileSeconds = 24 * 60 * 60;

// The system's text for the last error number.
QString lastErrorText(int error);

// Owns one file descriptor; closes it at the end of its scope.
class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& other) noexcept : m_fd(other.release()) {}
    Fd& operator=(Fd&& other) noexcept
    {
        if (this != &other) reset(other.release());
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1);
    // Closes and reports the close error: on some file systems a failed write
    // shows up only here. 0 when it closed cleanly (or there was nothing).
    int close();

private:
    int m_fd;
};

// Descriptor-level helpers for the code that walks a tree without following
// links. All retry on EINTR; a short read or a zero-length write fails with EIO.
// Reads size bytes from the current position (offset < 0) or at offset.
bool readFully(int fd, char* buffer, std::int64_t size, std::int64_t offset = -1);
bool writeFully(int fd, const char* data, std::int64_t size);
// Opens a regular file below dirFd for reading without following a final
// link and without blocking on what is no regular file; *st receives its
// status. With keepAccessTime the read leaves the access time alone where
// the file system lets us (the file's owner). -1 with errno set otherwise
// (EISDIR for a folder, EINVAL for anything else that is no regular file).
int openRegularAt(int dirFd, const char* name, struct ::stat* st, bool keepAccessTime = false);
// Opens a folder below dirFd without following a final link.
int openFolderAt(int dirFd, const char* name);
// Opens the folder at the '/'-separated relative path below baseFd (baseFd
// itself, duplicated, for an empty path) without following a link at any
// step; with create, missing folders are made on the way. -1 with errno set.
int openFolderPathAt(int baseFd, const QByteArray& relative, bool create = false);
// Whether two open regular files (with their status) hold the same bytes:
// the same file, or the same size and contents.
bool sameContents(int a, const struct ::stat& sa, int b, const struct ::stat& sb);
// Renames temp to target in dirFd unless target exists: 0, or the errno
// (EEXIST when target is there). Where the file system has no exclusive
// rename, a hard link stands in (it never replaces either).
int renameNoReplace(int dirFd, const QByteArray& temp, const QByteArray& target);
// "name (2).ext": the name of the n-th copy of leaf beside older, different ones.
QByteArray numberedName(const QByteArray& leaf, int n);

} // namespace signetrix::fs
