#include "cleanup/CleanupFiles.h"

#include "favorites/FavoritesFolder.h"
#include "platform/AppPaths.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"

#include <cerrno>
#include <sys/stat.h>

namespace signetrix::cleanup {

QString ArchiveDateText(const QDate& date, const QLocale& locale)
{
    QString text = locale.toString(date, QLocale::ShortFormat);
    text.replace(QLatin1Char('/'), QLatin1Char('-'));
    // A date text of "." or ".." would not be a folder of its own.
    if (text.isEmpty() || text == QLatin1String(".") || text == QLatin1String(".."))
        text = date.toString(Qt::ISODate);
    return text;
}

QByteArray ArchiveTarget(const QByteArray& path, const QByteArray& root, const QByteArray& base)
{
    if (root.isEmpty() || base.isEmpty()) return QByteArray();
    if (!path.startsWith(root) || path.size() <= root.size() + 1 || path.at(root.size()) != '/')
        return QByteArray();
    return base + path.mid(root.size());
}

CleanupFiles::CleanupFiles(TFileOperation& fileOperationDelete)
    : m_delete(fileOperationDelete), m_today([] { return QDate::currentDate(); })
{
}

QByteArray CleanupFiles::favoritesRoot()
{
    QByteArray root = GetFavoritesFolder();
    while (root.size() > 1 && root.endsWith('/')) root.chop(1);
    return root;
}

QByteArray CleanupFiles::archiveBase() const
{
    return codepage::toAnsi(platform::executableFolder() + QLatin1String(kArchiveFolderName) + QLatin1Char('/') +
                            ArchiveDateText(m_today(), m_locale));
}

ArchiveOutcome CleanupFiles::ArchiveFavorite(const QByteArray& path) const
{
    if (!fs::exists(path)) return ArchiveOutcome::NoSource;
    // A pipe, a device or a broken link is no favorite: no copy, so no delete.
    if (!fs::isRegularFile(path)) return ArchiveOutcome::Failed;
    const QByteArray target = ArchiveTarget(path, favoritesRoot(), archiveBase());
    if (target.isEmpty()) return ArchiveOutcome::Failed;
    if (fs::isFile(target)) return ArchiveOutcome::AlreadyArchived;
    if (!fs::makeFolderPath(target.left(target.lastIndexOf('/')))) return ArchiveOutcome::Failed;

    TFileOperation copy;
    copy.Operation = TStFileOp::fopCopy;
    copy.FailIfExists = true;
    copy.Destination = target;
    copy.SourceFiles = {path};
    if (copy.Execute()) return ArchiveOutcome::Copied;
    // Another run may have written the same copy meanwhile.
    return fs::isFile(target) ? ArchiveOutcome::AlreadyArchived : ArchiveOutcome::Failed;
}

bool CleanupFiles::DeleteFavorite(const QByteArray& path) { return DeleteFavorites({path}); }

bool CleanupFiles::DeleteFavorites(const QByteArrayList& paths)
{
    m_delete.Operation = TStFileOp::fopDelete;
    m_delete.SourceFiles = paths;
    return m_delete.Execute();
}

} // namespace signetrix::cleanup
