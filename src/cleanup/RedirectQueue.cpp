#include "cleanup/RedirectQueue.h"

#include "cleanup/CleanupFiles.h"
#include "favorites/ShortcutFile.h"

namespace signetrix::cleanup {

void RedirectQueue::removeCurrent()
{
    if (!hasCurrent()) return;
    m_entries.removeAt(m_index);
    if (m_index > 0) --m_index;
}

QString RedirectQueue::counterText() const
{
    return QString::number(m_index + 1) + QLatin1Char('/') + QString::number(count());
}

QByteArray LoadQueuedUrl(const RedirectQueue& queue)
{
    if (!queue.hasCurrent()) return QByteArray();
    return ReadShortcutUrl(queue.current());
}

NewUrlOutcome StoreNewUrl(RedirectQueue& queue, const QByteArray& address)
{
    if (!queue.hasCurrent()) return NewUrlOutcome::NoFavorite;
    if (address.trimmed().isEmpty()) return NewUrlOutcome::NoAddress;
    if (!WriteShortcutUrl(queue.current(), address)) return NewUrlOutcome::WriteFailed;
    queue.removeCurrent();
    return NewUrlOutcome::Written;
}

void DeleteQueued(RedirectQueue& queue, CleanupFiles& files)
{
    if (!queue.hasCurrent()) return;
    files.DeleteFavorite(queue.current());
    queue.removeCurrent();
}

QByteArray relativeFolder(const QByteArray& path, const QByteArray& root)
{
    const QByteArray folder = path.left(path.lastIndexOf('/') + 1);
    if (root.isEmpty()) return folder;
    const int at = folder.indexOf(root);
    if (at < 0) return folder;
    return folder.left(at) + folder.mid(at + root.size());
}

} // namespace signetrix::cleanup
