#include "core/TempFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace signetrix::server {

QString UniqueTemporaryPath(const QString& target)
{
    const QFileInfo info(target);
    QTemporaryFile file(info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".XXXXXX.tmp"));
    file.setAutoRemove(false);
    if (!file.open()) return QString();
    return file.fileName();
}

bool IsTemporaryName(const QString& fileName)
{
    static const QRegularExpression pattern(QStringLiteral("^\\..+\\.[A-Za-z0-9]{6}\\.tmp$"));
    return pattern.match(fileName).hasMatch();
}

bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error, int mode)
{
    const auto fail = [&](const QString& what) {
        if (error) *error = QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    };
    const QString temporary = UniqueTemporaryPath(path);
    if (temporary.isEmpty()) return fail(path);
    const QByteArray native = QFile::encodeName(temporary);
    const int fd = ::open(native.constData(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        const bool result = fail(temporary);
        ::unlink(native.constData());
        return result;
    }
    qsizetype done = 0;
    bool ok = ::fchmod(fd, mode_t(mode)) == 0;
    while (ok && done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += n;
    }
    ok = ok && ::fsync(fd) == 0;
    ::close(fd);
    ok = ok && ::rename(native.constData(), QFile::encodeName(path).constData()) == 0;
    if (ok) return true;
    fail(path);
    ::unlink(native.constData());
    return false;
}

} // namespace signetrix::server
