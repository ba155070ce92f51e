#include "platform/FileSystem.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
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

bool readFile(const QByteArray& nativePath, QByteArray& contents, qint64 maxBytes)
{
    contents.clear();
    const int fd = ::open(nativePath.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) || st.st_size > maxBytes) {
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

} // namespace signetrix::fs
