#include "platform/FileSystem.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace signetrix::fs {

QByteArray nativeFromWide(const QString& path) { return QFile::encodeName(path); }
QString wideFromNative(const QByteArray& path) { return QFile::decodeName(path); }

bool isFile(const QByteArray& nativePath)
{
    struct stat st;
    return !nativePath.isEmpty() && ::stat(nativePath.constData(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool isFolder(const QByteArray& nativePath)
{
    struct stat st;
    return !nativePath.isEmpty() && ::stat(nativePath.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const QByteArray& nativePath)
{
    struct stat st;
    return !nativePath.isEmpty() && ::lstat(nativePath.constData(), &st) == 0;
}

std::optional<FileId> fileId(const QByteArray& nativePath)
{
    struct stat st;
    if (nativePath.isEmpty() || ::stat(nativePath.constData(), &st) != 0 || S_ISDIR(st.st_mode)) return std::nullopt;
    return FileId{std::uint64_t(st.st_dev), std::uint64_t(st.st_ino)};
}

bool isRegularFile(const QByteArray& nativePath)
{
    struct stat st;
    return !nativePath.isEmpty() && ::stat(nativePath.constData(), &st) == 0 && S_ISREG(st.st_mode);
}

int openRegularFile(const QByteArray& nativePath, int* error)
{
    auto fail = [error](int e) {
        if (error) *error = e;
        return -1;
    };
    if (nativePath.isEmpty()) return fail(ENOENT);
    const int fd = ::open(nativePath.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return fail(errno);
    struct stat st;
    int e = 0;
    if (::fstat(fd, &st) != 0) e = errno;
    else if (S_ISDIR(st.st_mode)) e = EISDIR;
    else if (!S_ISREG(st.st_mode)) e = EINVAL;
    // Regular files never block; reads go on in the ordinary blocking mode.
    else if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) e = errno;
    if (e) {
        ::close(fd);
        return fail(e);
    }
    return fd;
}

bool isTempFileName(QByteArrayView name)
{
    constexpr QByteArrayView prefix(kTempFilePrefix);
    return name.size() == prefix.size() + 6 && name.startsWith(prefix);
}

int createTempFile(const QByteArray& folder, QByteArray& tempPath)
{
    // A fixed short name: a long favorite name plus a suffix could pass the
    // file system's name length limit.
    tempPath = folder + kTempFilePrefix + "XXXXXX";
    return ::mkostemp(tempPath.data(), O_CLOEXEC);
}

bool readFile(const QByteArray& nativePath, QByteArray& contents, qint64 maxBytes)
{
    contents.clear();
    const int fd = openRegularFile(nativePath);
    if (fd < 0) return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || st.st_size > maxBytes) {
        ::close(fd);
        return false;
    }
    contents.resize(st.st_size);
    qint64 total = 0;
    for (;;) {
        if (total == contents.size()) {
            if (total >= maxBytes) break;
            contents.resize(total + 4096); // the file grew, or reports no size (procfs)
        }
        const ssize_t got = ::read(fd, contents.data() + total, contents.size() - total);
        if (got < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            contents.clear();
            return false;
        }
        if (got == 0) break;
        total += got;
    }
    ::close(fd);
    if (total > maxBytes) {
        contents.clear();
        return false;
    }
    contents.resize(total);
    return true;
}

bool isReadOnly(const QByteArray& nativePath)
{
    struct stat st;
    if (::stat(nativePath.constData(), &st) != 0) return false;
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return true;
    return ::access(nativePath.constData(), W_OK) != 0;
}

QString lastErrorText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

bool readFully(int fd, char* buffer, std::int64_t size, std::int64_t offset)
{
    std::int64_t done = 0;
    while (done < size) {
        const ssize_t got = offset < 0 ? ::read(fd, buffer + done, size_t(size - done))
                                       : ::pread(fd, buffer + done, size_t(size - done), off_t(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (got == 0) errno = EIO; // shorter than its size said
            return false;
        }
        done += got;
    }
    return true;
}

bool writeFully(int fd, const char* data, std::int64_t size)
{
    while (size > 0) {
        const ssize_t put = ::write(fd, data, size_t(size));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            if (put == 0) errno = EIO;
            return false;
        }
        data += put;
        size -= put;
    }
    return true;
}

int openRegularAt(int dirFd, const char* name, struct ::stat* st, bool keepAccessTime)
{
    constexpr int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int fd = ::openat(dirFd, name, keepAccessTime ? flags | O_NOATIME : flags);
    if (fd < 0 && keepAccessTime && errno == EPERM) fd = ::openat(dirFd, name, flags); // not the file's owner
    if (fd < 0) return -1;
    int e = 0;
    if (::fstat(fd, st) != 0) e = errno;
    else if (!S_ISREG(st->st_mode)) e = S_ISDIR(st->st_mode) ? EISDIR : EINVAL;
    else if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) e = errno;
    if (e) {
        ::close(fd);
        errno = e;
        return -1;
    }
    return fd;
}

int openFolderAt(int dirFd, const char* name)
{
    return ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

bool makeFolderPath(const QByteArray& folder)
{
    if (folder.isEmpty()) return false;
    if (isFolder(folder)) return true;
    for (int slash = folder.indexOf('/', 1); ; slash = folder.indexOf('/', slash + 1)) {
        const QByteArray part = slash < 0 ? folder : folder.left(slash);
        if (!part.isEmpty() && !isFolder(part) && ::mkdir(part.constData(), 0777) != 0 && errno != EEXIST)
            return false;
        if (slash < 0) break;
    }
    return isFolder(folder);
}

int openFolderPathAt(int baseFd, const QByteArray& relative, bool create)
{
    int fd = ::fcntl(baseFd, F_DUPFD_CLOEXEC, 0);
    if (relative.isEmpty() || fd < 0) return fd;
    for (const QByteArray& segment : relative.split('/')) {
        if (create && ::mkdirat(fd, segment.constData(), 0777) != 0 && errno != EEXIST) {
            const int e = errno;
            ::close(fd);
            errno = e;
            return -1;
        }
        const int next = openFolderAt(fd, segment.constData());
        const int e = errno;
        ::close(fd);
        if (next < 0) {
            errno = e;
            return -1;
        }
        fd = next;
    }
    return fd;
}

bool sameContents(int a, const struct ::stat& sa, int b, const struct ::stat& sb)
{
    if (sa.st_size != sb.st_size) return false;
    if (sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino) return true;
    constexpr std::int64_t kChunk = 64 * 1024;
    QByteArray ba(kChunk, Qt::Uninitialized), bb(kChunk, Qt::Uninitialized);
    for (std::int64_t at = 0; at < sa.st_size; at += kChunk) {
        const std::int64_t n = std::min<std::int64_t>(kChunk, sa.st_size - at);
        if (!readFully(a, ba.data(), n, at) || !readFully(b, bb.data(), n, at) ||
            std::memcmp(ba.constData(), bb.constData(), size_t(n)) != 0)
            return false;
    }
    return true;
}

int renameNoReplace(int dirFd, const QByteArray& temp, const QByteArray& target)
{
    if (::renameat2(dirFd, temp.constData(), dirFd, target.constData(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    if (::linkat(dirFd, temp.constData(), dirFd, target.constData(), 0) != 0) return errno;
    ::unlinkat(dirFd, temp.constData(), 0);
    return 0;
}

QByteArray numberedName(const QByteArray& leaf, int n)
{
    const qsizetype dot = leaf.lastIndexOf('.');
    const QByteArray tag = " (" + QByteArray::number(n) + ')';
    return dot > 0 ? leaf.left(dot) + tag + leaf.mid(dot) : leaf + tag;
}

void Fd::reset(int fd)
{
    if (m_fd >= 0) ::close(m_fd);
    m_fd = fd;
}

int Fd::close()
{
    const int fd = release();
    if (fd < 0) return 0;
    return ::close(fd) == 0 ? 0 : errno;
}

} // namespace signetrix::fs
