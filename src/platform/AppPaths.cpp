#include "platform/AppPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMutex>

namespace signetrix::platform {
namespace {
QMutex g_mutex;
QString g_override;

QString realExecutable()
{
    if (QCoreApplication::instance()) return QCoreApplication::applicationFilePath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
}
} // namespace

QString executablePath()
{
    QMutexLocker lock(&g_mutex);
    if (!g_override.isEmpty()) return g_override;
    return realExecutable();
}

QString executableFolder()
{
    QString path = executablePath();
    const int slash = path.lastIndexOf('/');
    QString folder = slash >= 0 ? path.left(slash + 1) : QString();
    if (!folder.endsWith('/')) folder += '/';
    return folder;
}

void setExecutablePathForTesting(const QString& path)
{
    QMutexLocker lock(&g_mutex);
    g_override = path;
}

QString logFilePathFor(const QString& executable)
{
    const int slash = executable.lastIndexOf('/');
    const QString name = executable.mid(slash + 1);
    const int dot = name.lastIndexOf('.');
    if (dot >= 0 && dot == name.size() - 4) return executable.left(executable.size() - 3) + QStringLiteral("log");
    return executable + QStringLiteral(".log");
}

QString logFilePath() { return logFilePathFor(executablePath()); }

QString settingsFilePath() { return executableFolder() + QStringLiteral("Signetrix.ini"); }

QString favoritesFolderPath()
{
    return QDir::homePath() + QStringLiteral("/Favorites");
}

QString favoritesFolder()
{
    const QString path = favoritesFolderPath();
    QFileInfo info(path);
    if (!info.isDir()) return QString();
    return path;
}

} // namespace signetrix::platform
