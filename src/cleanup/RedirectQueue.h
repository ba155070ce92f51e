#pragma once
// The queue of favorites waiting for the redirect review, with the position of
// the one on display. The review removes an entry once its favorite has been
// updated or deleted; skipped entries stay. While the queue holds entries the
// position lies within it.
#include <QByteArray>
#include <QByteArrayList>
#include <QString>

namespace signetrix::cleanup {

class RedirectQueue {
public:
    void clear() { m_entries.clear(); }
    void append(const QByteArray& path) { m_entries.append(path); }
    void restart() { m_index = 0; }

    const QByteArrayList& entries() const { return m_entries; }
    int count() const { return static_cast<int>(m_entries.size()); }
    bool isEmpty() const { return m_entries.isEmpty(); }
    int index() const { return m_index; }

    bool canNext() const { return m_index < count() - 1; }
    bool canPrevious() const { return m_index > 0; }
    bool hasCurrent() const { return m_index >= 0 && m_index < count(); }
    QByteArray current() const { return hasCurrent() ? m_entries.at(m_index) : QByteArray(); }

    void next()
    {
        if (canNext()) ++m_index;
    }
    void previous()
    {
        if (canPrevious()) --m_index;
    }
    // Drops the entry on display and shows the one before it (or the new first).
    void removeCurrent();

    // "position/total", as the counter label shows it.
    QString counterText() const;

private:
    QByteArrayList m_entries;
    int m_index = 0;
};

class CleanupFiles;

// The stored address of the favorite on display ("" when the queue is empty or
// the shortcut has no URL). Throws signetrix::Error when the file cannot be read.
QByteArray LoadQueuedUrl(const RedirectQueue& queue);

enum class NewUrlOutcome {
    Written,     // the shortcut holds the new address; its entry left the queue
    NoAddress,   // the preview reports no address: the favorite keeps its URL
    WriteFailed, // the file could not be written: it keeps its URL and stays queued
    NoFavorite,  // the queue is empty
};
// Writes the preview's address into the shortcut on display.
NewUrlOutcome StoreNewUrl(RedirectQueue& queue, const QByteArray& address);

// Deletes the favorite on display (no archive copy) and drops its entry.
void DeleteQueued(RedirectQueue& queue, CleanupFiles& files);

// The favorite's folder below the favorites folder, with its separators
// (e.g. "/Travail/Outils/"), as the review and the duplicate choice show it.
QByteArray relativeFolder(const QByteArray& path, const QByteArray& root);

} // namespace signetrix::cleanup
