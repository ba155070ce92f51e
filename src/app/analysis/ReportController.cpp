#include "app/analysis/ReportController.h"

#include "analysis/Report.h"
#include "app/ErrorDisplay.h"
#include "platform/FileDialogs.h"
#include "platform/FileSystem.h"
#include "platform/MessageBoxes.h"
#include "ui_ParkingPages4.h"

#include <QDir>
#include <QPushButton>

#include <utility>

namespace signetrix {
namespace {

const QString kCaption = QStringLiteral("Exporter le rapport");
const QString kFilter = QStringLiteral("Fichier CSV (*.csv);;Page HTML (*.html *.htm)");
const QString kWriteFailed = QStringLiteral("Impossible d'écrire le rapport « %1 » : %2.");

// The home folder, not the Favorites folder: a report saved among the
// favorites would be listed as an unreadable favorite by the next analysis.
QString suggestedPath() { return QDir::home().filePath(QStringLiteral("Rapport d'analyse des favoris.csv")); }

} // namespace

ReportController::ReportController(Ui::ParkingPage4& summary, const FavoritesTable& table, QString favoritesFolder,
                                   QObject* parent)
    : QObject(parent), m_table(table), m_favoritesFolder(std::move(favoritesFolder))
{
    setObjectName(QStringLiteral("ReportController"));
    connectHandler(summary.btnExportRapport, &QPushButton::clicked, this, [this] { btnExportRapportClick(); });
}

void ReportController::btnExportRapportClick()
{
    const QString chosen = platform::askSaveFileName(kCaption, suggestedPath(), kFilter);
    if (chosen.isEmpty()) return;
    const ReportTarget target = ReportTargetFor(chosen);
    if (const int error = WriteReport(m_table, m_favoritesFolder, target))
        platform::showMessage(kWriteFailed.arg(target.path, fs::lastErrorText(error)), platform::MessageKind::Error);
}

} // namespace signetrix
