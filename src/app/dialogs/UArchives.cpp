#include "app/dialogs/UArchives.h"

#include "app/ErrorDisplay.h"
#include "cleanup/CleanupFiles.h"
#include "platform/AppPaths.h"
#include "platform/Clock.h"
#include "platform/MessageBoxes.h"

#include "ui_ArchivesDialog.h"

#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QMap>

namespace signetrix::dialogs {
namespace {

using cleanup::ArchivedFavorite;
using cleanup::ArchivedState;

constexpr int kDayRole = Qt::UserRole;
constexpr int kFavoriteRole = Qt::UserRole + 1;

QString StateText(ArchivedState state)
{
    switch (state) {
    case ArchivedState::Absent: return QStringLiteral("absent");
    case ArchivedState::Same: return QStringLiteral("identique");
    case ArchivedState::Different: return QStringLiteral("différent");
    }
    return QString();
}

QTreeWidgetItem* CheckableItem(QTreeWidgetItem* parent, const QString& text)
{
    auto* item = new QTreeWidgetItem(parent, {text});
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable | Qt::ItemIsAutoTristate);
    item->setCheckState(0, Qt::Unchecked);
    return item;
}

} // namespace

TfrmArchives::TfrmArchives(const QString& archiveRoot, const QString& favoritesFolder,
                           const QString& todayArchiveFolder, QWidget* owner)
    : QDialog(owner),
      m_ui(std::make_unique<Ui::ArchivesDialog>()),
      m_archiveRoot(archiveRoot),
      m_favorites(favoritesFolder),
      m_today(todayArchiveFolder)
{
    m_ui->setupUi(this);
    m_ui->tvArchives->header()->setSectionResizeMode(0, QHeaderView::Interactive);
    m_ui->tvArchives->setColumnWidth(0, 300);
    m_ui->tvArchives->setColumnWidth(1, 280);
    connectHandler(m_ui->edFiltre, &QLineEdit::textChanged, this, [this](const QString& t) { edFiltreChange(t); });
    connectHandler(m_ui->btnRestaurer, &QPushButton::clicked, this, [this] { btnRestaurerClick(); });
    connectHandler(m_ui->btnSupprimerArchives, &QPushButton::clicked, this, [this] { btnSupprimerArchivesClick(); });
    connect(m_ui->btnFermer, &QPushButton::clicked, this, &QDialog::accept);
    Refresh();
}

TfrmArchives::~TfrmArchives() = default;

void TfrmArchives::Refresh()
{
    m_days = cleanup::ListArchiveDays(m_archiveRoot, m_favorites);
    QTreeWidget* tree = m_ui->tvArchives;
    tree->clear();
    for (int d = 0; d < int(m_days.size()); ++d) {
        const cleanup::ArchiveDay& day = m_days[size_t(d)];
        QTreeWidgetItem* dayItem = CheckableItem(tree->invisibleRootItem(), day.name);
        dayItem->setData(0, kDayRole, d);
        QMap<QString, QTreeWidgetItem*> folders;
        for (int f = 0; f < int(day.favorites.size()); ++f) {
            const ArchivedFavorite& favorite = day.favorites[size_t(f)];
            const QString folder = QFileInfo(favorite.relativePath).path();
            QTreeWidgetItem* parent = dayItem;
            if (folder != QLatin1String(".")) {
                QTreeWidgetItem*& folderItem = folders[folder];
                if (!folderItem) folderItem = CheckableItem(dayItem, folder);
                parent = folderItem;
            }
            QTreeWidgetItem* item = CheckableItem(parent, favorite.displayName);
            item->setText(1, favorite.address);
            item->setText(2, StateText(favorite.state));
            item->setToolTip(0, favorite.relativePath);
            item->setData(0, kDayRole, d);
            item->setData(0, kFavoriteRole, f);
        }
    }
    tree->expandToDepth(0);
    edFiltreChange(m_ui->edFiltre->text());
}

void TfrmArchives::edFiltreChange(const QString& text)
{
    // A favorite shows when it matches; a folder or a day when one of its favorites shows.
    const std::function<bool(QTreeWidgetItem*)> apply = [&](QTreeWidgetItem* item) -> bool {
        bool shown = false;
        if (item->data(0, kFavoriteRole).isValid()) {
            const auto& day = m_days[size_t(item->data(0, kDayRole).toInt())];
            shown = cleanup::MatchesFilter(day.favorites[size_t(item->data(0, kFavoriteRole).toInt())], text);
        } else {
            for (int i = 0; i < item->childCount(); ++i) shown |= apply(item->child(i));
            shown |= text.isEmpty();
        }
        item->setHidden(!shown);
        return shown;
    };
    QTreeWidgetItem* root = m_ui->tvArchives->invisibleRootItem();
    for (int i = 0; i < root->childCount(); ++i) apply(root->child(i));
}

std::vector<ArchivedFavorite> TfrmArchives::checkedFavorites() const
{
    std::vector<ArchivedFavorite> checked;
    const std::function<void(QTreeWidgetItem*)> collect = [&](QTreeWidgetItem* item) {
        if (item->isHidden()) return;
        if (item->data(0, kFavoriteRole).isValid()) {
            if (item->checkState(0) == Qt::Checked)
                checked.push_back(m_days[size_t(item->data(0, kDayRole).toInt())]
                                      .favorites[size_t(item->data(0, kFavoriteRole).toInt())]);
            return;
        }
        for (int i = 0; i < item->childCount(); ++i) collect(item->child(i));
    };
    collect(m_ui->tvArchives->invisibleRootItem());
    return checked;
}

void TfrmArchives::btnRestaurerClick()
{
    const std::vector<ArchivedFavorite> checked = checkedFavorites();
    if (checked.empty()) {
        platform::showMessage(QStringLiteral("Cochez d'abord les favoris à restaurer."));
        return;
    }
    const cleanup::RestorePlan plan = cleanup::PlanRestore(checked, m_favorites);
    bool overwrite = false;
    if (!plan.conflicts.empty())
        overwrite = platform::confirm(kConflictQuestion.arg(plan.conflicts.size()));
    const cleanup::RestoreResult result = cleanup::CarryOutRestore(plan, overwrite, m_favorites, m_today);
    QString text = QStringLiteral("%1 favori(s) restauré(s).").arg(result.restored);
    if (!plan.refused.isEmpty())
        text += QStringLiteral("\nRefusés (hors de vos favoris) :\n") + plan.refused.join(QLatin1Char('\n'));
    if (!result.errors.isEmpty()) text += QLatin1Char('\n') + result.errors.join(QLatin1Char('\n'));
    platform::showMessage(text, result.errors.isEmpty() && plan.refused.isEmpty() ? platform::MessageKind::Information
                                                                                  : platform::MessageKind::Warning);
    if (result.restored > 0 && onRestored) onRestored();
    Refresh();
}

void TfrmArchives::btnSupprimerArchivesClick()
{
    QStringList days;
    QTreeWidgetItem* root = m_ui->tvArchives->invisibleRootItem();
    for (int i = 0; i < root->childCount(); ++i)
        if (root->child(i)->checkState(0) == Qt::Checked) days << root->child(i)->text(0);
    if (days.isEmpty()) {
        platform::showMessage(QStringLiteral("Cochez d'abord les dates dont les archives sont à supprimer."));
        return;
    }
    if (!platform::confirm(kRemoveQuestion.arg(days.join(QLatin1Char('\n'))))) return;
    const QStringList failed = cleanup::RemoveArchiveDays(days, m_archiveRoot);
    if (!failed.isEmpty())
        platform::showMessage(QStringLiteral("Ces archives n'ont pas pu être supprimées :\n") + failed.join(QLatin1Char('\n')),
                              platform::MessageKind::Warning);
    Refresh();
}

void showArchivesDialog(QWidget* owner, const std::function<void()>& afterRestore)
{
    const QString root = platform::executableFolder() + QString::fromLatin1(cleanup::kArchiveFolderName);
    const QString today = root + QLatin1Char('/') + cleanup::ArchiveDateText(platform::now().date());
    TfrmArchives dialog(root, platform::favoritesFolderPath(), today, owner);
    dialog.onRestored = afterRestore;
    dialog.exec();
}

} // namespace signetrix::dialogs
