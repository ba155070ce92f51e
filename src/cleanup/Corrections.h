#pragma once
// The corrections step of a cleanup run: every favorite whose result code has a
// category gets that category's action (nothing, queue for the redirect
// review, delete), preceded by an archive copy when archiving is on. A failed
// archive copy keeps the favorite: nothing is deleted without its copy.
#include "cleanup/CleanupFiles.h"
#include "cleanup/RedirectQueue.h"
#include "favorites/FavoritesTable.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>

namespace signetrix::cleanup {

// The action words of the settings table, in order: "Aucun", "Mise à jour", "Supprimer".
const QStringList& ActionWords();
enum class CategoryAction { None = 0, Update = 1, Delete = 2 };
// The action of a list's displayed text: its position among the action words;
// a text that is no action word means no action.
CategoryAction ActionForText(const QString& text);

// The category keys, in the settings' order: "301", "302", "3XX", "404",
// "4XX", "5XX", "777", "1000", "9".
const QStringList& CategoryKeys();
// The category of a result code; empty for a code without one (2XX and others).
QString CategoryKey(int code);

struct CorrectionSettings {
    // The displayed text of each category's list, by category key (the list
    // "cbError" + key). A key without an entry has no list: no action.
    QHash<QString, QString> actionTexts;
    bool backupBeforeDelete = true; // chkbBackupBeforeDelete
};

// The settings table's defaults: each category's list at its default item.
CorrectionSettings DefaultCorrectionSettings();

class Corrections {
public:
    Corrections(CleanupFiles& files, RedirectQueue& queue) : m_files(files), m_queue(queue) {}

    void setSettings(const CorrectionSettings& settings) { m_settings = settings; }
    const CorrectionSettings& settings() const { return m_settings; }

    // Called before each row with its position and the meter value; the window
    // moves its meter and processes pending events there.
    using RowCallback = std::function<void(int row, int percent)>;

    // Empties the queue, then handles every row in table order. An exception
    // from the callback ends the loop and reaches the caller.
    void RunCorrections(const FavoritesTable& table, const RowCallback& onRow = {});

    void ApplyCategoryAction(const QByteArray& path, const QString& key);
    void QueueRedirection(const QByteArray& path) { m_queue.append(path); }

private:
    CleanupFiles& m_files;
    RedirectQueue& m_queue;
    CorrectionSettings m_settings;
};

// The uncut 8-bit path of a row (the cut field only when no full path was kept).
inline const QByteArray& rowPath(const FavoriteRow& row)
{
    return row.fullPath.isEmpty() ? row.stFileComplet : row.fullPath;
}

} // namespace signetrix::cleanup
