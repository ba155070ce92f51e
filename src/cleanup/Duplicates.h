#pragma once
// Duplicate favorites: shortcut files with the same file name (case-sensitive)
// anywhere in the tree. Each group is kept as one text record
//   keep position ~~;;~~ path 1 ~~;;~~ path 2 ...
// with its members in the locale's case-insensitive order of "name=path"
// lines. One member per group stays; the others are deleted, each after its
// archive copy when archiving is on.
//
// A group never loses every favorite: members whose files are gone, paths that
// hold the record separator and paths to a file already in the list (the same
// device and inode, reached again through a link) are left out of the groups;
// a group whose kept member has vanished, or whose keep position names no
// member, deletes nothing, and no member that leads to the file of a kept
// member is ever deleted.
#include "cleanup/CleanupFiles.h"
#include "favorites/FavoritesTable.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QString>
#include <QStringList>

namespace signetrix::cleanup {

inline constexpr char kDoublonSeparator[] = "~~;;~~";

// rdgModeSectionSuppressionDoublons, by item index.
enum class DuplicateMode { Automatic = 0, Manual = 1 };

struct DoublonRecord {
    int keep = 0;          // -1 when the record's keep field is not a number
    QByteArrayList paths;
};
QByteArray FormatDoublonRecord(const DoublonRecord& record);
// An empty last field (a trailing separator) is ignored.
DoublonRecord ParseDoublonRecord(const QByteArray& record);

// The group records of the table, each keeping its first member.
QByteArrayList FindDuplicates(const FavoritesTable& table);

// Whether the choice page takes over (manual mode with at least one group);
// otherwise the deletion runs at once.
inline bool needsChoicePage(DuplicateMode mode, const QByteArrayList& records)
{
    return mode == DuplicateMode::Manual && !records.isEmpty();
}

// The manual choice: the records and the group on display.
class DoublonChoices {
public:
    void reset(const QByteArrayList& records)
    {
        m_records = records;
        m_index = 0;
    }
    const QByteArrayList& records() const { return m_records; }
    int count() const { return static_cast<int>(m_records.size()); }
    int index() const { return m_index; }
    bool canNext() const { return m_index < count() - 1; }
    bool canPrevious() const { return m_index > 0; }
    void next()
    {
        if (canNext()) ++m_index;
    }
    void previous()
    {
        if (canPrevious()) --m_index;
    }
    QString counterText() const;

    // The group on display: its name (file name without ".url"), one line per
    // member (its folder below the favorites folder) and the kept member.
    QString groupName(const QByteArray& root) const;
    QStringList memberLines(const QByteArray& root) const;
    int keep() const;

    // The member at this position of the group on display stays.
    void StoreDoublonChoice(int position);

private:
    QByteArrayList m_records;
    int m_index = 0;
};

struct DuplicateDeletion {
    QByteArrayList toDelete;   // handed to the delete component
    QByteArrayList notArchived; // kept because their archive copy failed
    bool deleteSucceeded = true;
};

// Deletes every member but the kept one of every group, archiving each first
// when backupBeforeDelete is set, in one run of the delete component.
DuplicateDeletion DeleteDuplicates(const QByteArrayList& records, CleanupFiles& files, bool backupBeforeDelete);

} // namespace signetrix::cleanup
