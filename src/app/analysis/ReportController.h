#pragma once
// "Exporter le rapport..." on the summary panel: asks where to save the
// analysis report and writes it there, as CSV or as an HTML page by the name's
// extension. A cancelled dialog writes nothing; a failed write shows why and
// leaves no file behind. The button sits on the summary panel, so it is only
// reachable once an analysis has completed.
#include <QObject>
#include <QString>

namespace Ui {
class ParkingPage4;
} // namespace Ui

namespace signetrix {

class FavoritesTable;

class ReportController : public QObject {
    Q_OBJECT

public:
    // favoritesFolder: the folder the report's paths are given below.
    ReportController(Ui::ParkingPage4& summary, const FavoritesTable& table, QString favoritesFolder,
                     QObject* parent = nullptr);

    void btnExportRapportClick();

private:
    const FavoritesTable& m_table;
    QString m_favoritesFolder;
};

} // namespace signetrix
