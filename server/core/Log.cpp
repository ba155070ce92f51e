#include "core/Log.h"

#include <QDateTime>

#include <cstdio>
#include <mutex>

namespace signetrix::server {

void LogLine(const QString& text)
{
    static std::mutex lock;
    const QByteArray line = QDateTime::currentDateTime().toString(Qt::ISODate).toUtf8() + ' ' + text.toUtf8() + '\n';
    const std::lock_guard<std::mutex> guard(lock);
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

} // namespace signetrix::server
