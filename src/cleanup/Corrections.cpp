#include "cleanup/Corrections.h"

#include "favorites/ResultCodes.h"
#include "settings/SettingsTable.h"

namespace signetrix::cleanup {

const QStringList& ActionWords() { return actionWords(); }

CategoryAction ActionForText(const QString& text)
{
    switch (ActionWords().indexOf(text)) {
    case 1: return CategoryAction::Update;
    case 2: return CategoryAction::Delete;
    default: return CategoryAction::None;
    }
}

const QStringList& CategoryKeys()
{
    static const QStringList keys{QStringLiteral("301"), QStringLiteral("302"), QStringLiteral("3XX"),
                                  QStringLiteral("404"), QStringLiteral("4XX"), QStringLiteral("5XX"),
                                  QStringLiteral("777"), QStringLiteral("1000"), QStringLiteral("9")};
    return keys;
}

QString CategoryKey(int code)
{
    switch (code) {
    case 9:
    case 301:
    case 302:
    case 404:
    case 777:
    case 1000: return QString::number(code);
    default: break;
    }
    if (code == 300 || (code >= 303 && code <= 399)) return QStringLiteral("3XX");
    if (code >= 400 && code <= 499) return QStringLiteral("4XX"); // 404 is handled above
    if (code >= 500 && code <= 599) return QStringLiteral("5XX");
    return QString();
}

CorrectionSettings DefaultCorrectionSettings()
{
    CorrectionSettings s;
    for (const QString& key : CategoryKeys())
        if (const SettingKey* list = settingKey(QStringLiteral("cbError%1.ItemIndex").arg(key)))
            s.actionTexts.insert(key, list->defaultItem());
    const SettingKey* backup = settingKey(QStringLiteral("chkbBackupBeforeDelete.Checked"));
    s.backupBeforeDelete = !backup || backup->value == QLatin1String("True");
    return s;
}

DeletionForecast ForecastDeletions(const FavoritesTable& table, const CorrectionSettings& settings)
{
    DeletionForecast f;
    f.tableSize = table.size();
    for (int i = 0; i < f.tableSize; ++i) {
        const int code = table[i].iStatut;
        if (code != kCodeWaiting) ++f.checked;
        if (code == kCodeNoAnswer) ++f.noAnswer;
        const QString key = CategoryKey(code);
        if (key.isEmpty() || correctionsLeaveAlone(code)) continue;
        if (ActionForText(settings.actionTexts.value(key)) == CategoryAction::Delete) ++f.toDelete;
    }
    return f;
}

bool NeedsMassDeletionConfirmation(const DeletionForecast& f)
{
    // Strictly more than half: exactly half goes on without a question.
    return 2 * qint64(f.toDelete) > f.tableSize || 2 * qint64(f.noAnswer) > f.checked;
}

void Corrections::RunCorrections(const FavoritesTable& table, const RowCallback& onRow)
{
    m_queue.clear();
    const int n = table.size();
    for (int i = 0; i < n; ++i) {
        if (onRow) onRow(i, meterPercent(i, n));
        const FavoriteRow& row = table[i];
        const QString key = CategoryKey(row.iStatut);
        if (key.isEmpty() || correctionsLeaveAlone(row.iStatut)) continue;
        ApplyCategoryAction(rowPath(row), key);
    }
}

void Corrections::ApplyCategoryAction(const QByteArray& path, const QString& key)
{
    // Archiving comes first and applies to every favorite with a category,
    // whatever its action.
    ArchiveOutcome archived = ArchiveOutcome::NoSource;
    if (m_settings.backupBeforeDelete) archived = m_files.ArchiveFavorite(path);

    const auto list = m_settings.actionTexts.constFind(key);
    if (list == m_settings.actionTexts.cend() || list->isEmpty()) return;
    switch (ActionForText(*list)) {
    case CategoryAction::Update: QueueRedirection(path); break;
    case CategoryAction::Delete:
        if (safeToDelete(archived)) m_files.DeleteFavorite(path);
        break;
    case CategoryAction::None: break;
    }
}

} // namespace signetrix::cleanup
