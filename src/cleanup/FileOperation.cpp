#include "cleanup/FileOperation.h"

#include "platform/FileSystem.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace signetrix {
namespace {

using fs::Fd;

int copyBytes(int in, int out)
{
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (got == 0) return 0;
        ssize_t done = 0;
        while (done < got) {
            const ssize_t w = ::write(out, buffer + done, static_cast<size_t>(got - done));
            if (w < 0) {
                if (errno == EINTR) continue;
                return errno;
            }
            done += w;
        }
    }
}

// Fills the new target from the source, gives it the source's permission bits
// and times, and closes it; returns 0 or the errno of the first failure.
int writeTarget(int in, Fd& out, const struct stat& source)
{
    int e = copyBytes(in, out.get());
    if (!e && ::fchmod(out.get(), source.st_mode & 07777) != 0) e = errno;
    const struct timespec times[2] = {source.st_atim, source.st_mtim};
    if (!e && ::futimens(out.get(), times) != 0) e = errno;
    const int c = out.close();
    return e ? e : c;
}

// Returns 0 or the errno of the failure; never leaves a partial target behind.
int copyFile(const QByteArray& source, const QByteArray& target, bool failIfExists)
{
    if (source.isEmpty() || target.isEmpty()) return ENOENT;
    // Only a regular file is copied, read from the very descriptor that was
    // checked: a pipe would block the copy, a device would never end it.
    int openError = 0;
    Fd in(fs::openRegularFile(source, &openError));
    if (in.get() < 0) return openError;
    struct stat st;
    if (::fstat(in.get(), &st) != 0) return errno;

    struct stat existing;
    const bool targetExists = ::stat(target.constData(), &existing) == 0;
    if (targetExists) {
        if (failIfExists) return EEXIST;
        if (S_ISDIR(existing.st_mode)) return EISDIR;
        if (existing.st_dev == st.st_dev && existing.st_ino == st.st_ino) return EINVAL; // onto itself
        if (fs::isReadOnly(target)) return EACCES;
    }

    if (failIfExists) {
        // O_EXCL settles the race with another writer of the same name.
        Fd out(::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (out.get() < 0) return errno;
        const int e = writeTarget(in.get(), out, st);
        if (e) ::unlink(target.constData());
        return e;
    }

    // Replacing goes through a temporary file and a rename, so the old target
    // stays whole until the new one is complete (and a running program can be
    // replaced).
    QByteArray temp;
    Fd out(fs::createTempFile(target.left(target.lastIndexOf('/') + 1), temp));
    if (out.get() < 0) return errno;
    int e = writeTarget(in.get(), out, st);
    if (!e && ::rename(temp.constData(), target.constData()) != 0) e = errno;
    if (e) ::unlink(temp.constData());
    return e;
}

// Deletes a regular file, or a link to one (the link goes, its target stays).
// Pipes, sockets, devices and links to them or to nothing are no favorites
// and are left alone.
int deleteFile(const QByteArray& path)
{
    if (path.isEmpty()) return ENOENT;
    struct stat st;
    if (::lstat(path.constData(), &st) != 0) return errno;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    const bool link = S_ISLNK(st.st_mode);
    if (link) {
        if (::stat(path.constData(), &st) != 0) return errno;
        if (S_ISDIR(st.st_mode)) return EISDIR;
    }
    if (!S_ISREG(st.st_mode)) return EINVAL;
    if (!link && fs::isReadOnly(path)) return EACCES;
    return ::unlink(path.constData()) == 0 ? 0 : errno;
}

TFileOperation* createNamed(QObject* owner, const QString& name, TStFileOp operation)
{
    auto* op = new TFileOperation(owner);
    op->setObjectName(name);
    op->Operation = operation;
    return op;
}

} // namespace

TFileOperation::TFileOperation(QObject* owner) : QObject(owner) {}

bool TFileOperation::Execute()
{
    bool allDone = true;
    for (const QByteArray& source : SourceFiles) {
        const int e = Operation == TStFileOp::fopCopy ? copyFile(source, Destination, FailIfExists)
                                                      : deleteFile(source);
        if (e) {
            ErrorString.append(fs::lastErrorText(e));
            allDone = false;
        }
    }
    return allDone;
}

TFileOperation* createFileOperation(QObject* owner)
{
    return createNamed(owner, QStringLiteral("FileOperation"), TStFileOp::fopCopy);
}

TFileOperation* createFileOperationDelete(QObject* owner)
{
    return createNamed(owner, QStringLiteral("FileOperationDelete"), TStFileOp::fopDelete);
}

} // namespace signetrix
