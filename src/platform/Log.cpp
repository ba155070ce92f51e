#include "platform/Log.h"

#include "platform/AppPaths.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"

#include <QLocale>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace signetrix {

QByteArray FormatLogLine(const QByteArray& tag, const QByteArray& text, const QDateTime& now)
{
    if (tag.isEmpty()) return QByteArray(102, '-');
    QByteArray padded = tag.left(30);
    padded.append(QByteArray(30 - padded.size(), ' '));
    // The C locale's "short" date has month names and blanks; a system without
    // regional settings gets a plain numeric day/month/year instead.
    const QLocale locale = QLocale::system();
    const QString dateText = locale.language() == QLocale::C
                                 ? now.date().toString(QStringLiteral("dd/MM/yyyy"))
                                 : locale.toString(now.date(), QLocale::ShortFormat);
    const QByteArray date = codepage::toAnsi(dateText);
    // Hours and minutes on the 24-hour clock, whatever the locale's long form.
    const QByteArray time = codepage::toAnsi(now.time().toString(QStringLiteral("HH:mm"))).left(5);
    return date + ' ' + time + ' ' + padded + ' ' + text;
}

void WriteLog(const QByteArray& tag, const QByteArray& text) noexcept
{
    try {
        const QByteArray path = fs::nativeFromWide(platform::logFilePath());
        const QByteArray line = FormatLogLine(tag, text, QDateTime::currentDateTime()) + "\r\n";
        if (fs::isReadOnly(path)) return;
        int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            ::close(fd);
            fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
        } else {
            fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        }
        if (fd < 0) return;
        qint64 done = 0;
        while (done < line.size()) {
            const ssize_t w = ::write(fd, line.constData() + done, line.size() - done);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) break;
            done += w;
        }
        ::close(fd);
    } catch (...) {
        // The entry is lost; the caller goes on.
    }
}

} // namespace signetrix
