#include "net/Hosts.h"

#include <QMutex>

#ifndef SIGNETRIX_DOWNLOAD_HOST
#define SIGNETRIX_DOWNLOAD_HOST "http://127.0.0.1:8088"
#endif

namespace signetrix::net {
namespace {

QMutex g_mutex;
QString g_host; // set by tests only

QString WithoutFinalSlash(QString host)
{
    while (host.endsWith(QLatin1Char('/'))) host.chop(1);
    return host;
}

} // namespace

QString DownloadHost()
{
    QMutexLocker lock(&g_mutex);
    return WithoutFinalSlash(g_host.isEmpty() ? QStringLiteral(SIGNETRIX_DOWNLOAD_HOST) : g_host);
}

QString DownloadUrl(const QString& path)
{
    return DownloadHost() + path;
}

void SetDownloadHostForTesting(const QString& host)
{
    QMutexLocker lock(&g_mutex);
    g_host = host;
}

} // namespace signetrix::net
