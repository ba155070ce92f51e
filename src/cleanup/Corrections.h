#pragma once
// The corrections step of a cleanup run: every favorite whose result code has a
// category gets that category's action (nothing, queue for the redirect
// review, delete), preceded by an archive copy when archiving is on. A failed
// archive copy keeps the favorite: nothing is deleted without its copy. A
// rate-limited favorite (429) is left alone: the site is there, it only asked
// to be checked less often.
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

// 429 keeps its place in the summary under the 4XX category, but the
// corrections never act on it: neither archived, queued nor deleted.
constexpr int kRateLimited = 429;
inline bool correctionsLeaveAlone(int code) { return code == kRateLimited; }

// What the corrections would do to a whole table under the given settings,
// counted before any file is touched.
struct DeletionForecast {
    int toDelete = 0;  // rows whose category's action is "Supprimer"
    int tableSize = 0; // rows of the table
    int checked = 0;   // rows with a result code (not waiting)
    int noAnswer = 0;  // rows with 1000
};
DeletionForecast ForecastDeletions(const FavoritesTable& table, const CorrectionSettings& settings);

// A run that would delete more than half of the table, or an analysis in which
// more than half of the checked favorites got no answer, most likely ran with
// the network down: the user confirms before anything is deleted.
bool NeedsMassDeletionConfirmation(const DeletionForecast& forecast);

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
