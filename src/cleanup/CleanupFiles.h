#pragma once
// The two file primitives every cleanup step shares: the archive copy of one
// favorite into "Devodav Archives/<date>/<relative path>" next to the
// executable, and the deletion of one favorite through the delete component.
//
// Paths are the 8-bit form kept in the favorites table; its bytes name the file.
#include "cleanup/FileOperation.h"

#include <QByteArray>
#include <QDate>
#include <QLocale>
#include <QString>

#include <functional>

namespace signetrix::cleanup {

inline constexpr char kArchiveFolderName[] = "Devodav Archives";

// The date folder's name: the locale's short date, kept to one folder level
// (a separator that is the path separator becomes "-").
QString ArchiveDateText(const QDate& date, const QLocale& locale = QLocale());

// The archive path of a favorite: the favorites folder (root) at the start of
// the path replaced by base. Empty when the path does not lie below root, so
// that a favorite is never "archived" onto itself.
QByteArray ArchiveTarget(const QByteArray& path, const QByteArray& root, const QByteArray& base);

enum class ArchiveOutcome {
    Copied,          // a fresh copy was written
    AlreadyArchived, // a copy from earlier today is there and is kept
    NoSource,        // nothing to archive: the file is gone
    Failed,          // no copy could be made, or the path leads to no regular file
};

// True when the favorite may be deleted without losing it: a copy exists, or
// there is nothing left to lose.
inline bool safeToDelete(ArchiveOutcome o) { return o != ArchiveOutcome::Failed; }

class CleanupFiles {
public:
    explicit CleanupFiles(TFileOperation& fileOperationDelete);

    // Today's date for the archive folder; tests fix it.
    void setClock(std::function<QDate()> today) { m_today = std::move(today); }
    void setLocale(const QLocale& locale) { m_locale = locale; }

    // The favorites folder in 8-bit form without a trailing separator, obtained
    // afresh on every call; empty when there is none.
    static QByteArray favoritesRoot();
    // The executable's folder + "Devodav Archives/" + the date text.
    QByteArray archiveBase() const;

    // Copies the file, without overwriting, to its archive path, creating the
    // missing folders. Never throws.
    ArchiveOutcome ArchiveFavorite(const QByteArray& path) const;
    // Deletes one favorite through the delete component; its failures are only
    // collected in the component's ErrorString.
    bool DeleteFavorite(const QByteArray& path);
    // Deletes a list of favorites in one run of the delete component.
    bool DeleteFavorites(const QByteArrayList& paths);

    TFileOperation& deleteOperation() { return m_delete; }

private:
    TFileOperation& m_delete;
    std::function<QDate()> m_today;
    QLocale m_locale;
};

// The meter value at position p of n: p * 100 / (n - 1), truncated; 0 when n <= 1.
inline int meterPercent(int p, int n) { return n <= 1 ? 0 : static_cast<int>(qint64(p) * 100 / (n - 1)); }

} // namespace signetrix::cleanup
