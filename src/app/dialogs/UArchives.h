#pragma once
// "Restaurer des favoris archivés": the archive copies the cleanup left in
// "Devodav Archives/<date>/", newest day first, each day's favorites under
// their folders with their address and whether they are in the Favorites
// tree now. "Restaurer" puts the checked favorites back (one question for all
// that would replace different local bytes, whose version is archived first);
// "Supprimer les archives" removes the checked days after a confirmation.
// The file work is the cleanup logic's; this dialog only shows and asks.
#include "cleanup/ArchivedFavorites.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <vector>

class QTreeWidgetItem;

namespace Ui {
class ArchivesDialog;
}

namespace signetrix::dialogs {

class TfrmArchives : public QDialog {
    Q_OBJECT

public:
    TfrmArchives(const QString& archiveRoot, const QString& favoritesFolder, const QString& todayArchiveFolder,
                 QWidget* owner = nullptr);
    ~TfrmArchives() override;

    void Refresh();
    void edFiltreChange(const QString& text);
    void btnRestaurerClick();
    void btnSupprimerArchivesClick();

    // Called after a restore wrote something, so the window lists the favorites again.
    std::function<void()> onRestored;

    static inline const QString kConflictQuestion = QStringLiteral(
        "%1 favori(s) existe(nt) déjà dans vos favoris avec un contenu différent.\n"
        "Voulez-vous les remplacer ? Leur version actuelle sera d'abord archivée.");
    static inline const QString kRemoveQuestion =
        QStringLiteral("Supprimer définitivement les archives des dates suivantes ?\n%1");

private:
    std::vector<cleanup::ArchivedFavorite> checkedFavorites() const;

    std::unique_ptr<Ui::ArchivesDialog> m_ui;
    QString m_archiveRoot, m_favorites, m_today;
    std::vector<cleanup::ArchiveDay> m_days;
};

// Opens the dialog modally over owner, on the program's archive folder and
// the user's Favorites folder.
void showArchivesDialog(QWidget* owner, const std::function<void()>& afterRestore);

} // namespace signetrix::dialogs
