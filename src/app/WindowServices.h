#pragma once
// What a page controller may ask of the main window: the page modes, the
// shared panels it lends, and the setting values the run reads, typed. A
// controller holds this and its own pages, never the window itself.
#include "cleanup/Corrections.h"
#include "cleanup/Duplicates.h"
#include "settings/Proxy.h"

#include <QString>

class QTabWidget;
class QWidget;

namespace signetrix {

class HttpProgress;

// Places a control whose "Tag" is 1 in the middle of the group box (integer
// halves, rounded towards zero), then shows it.
void ShowPanelCentredIn(QWidget* control, QWidget* groupBox);
// Makes one page of a page control visible and active and hides the tabs of
// all others; no changing guard applies and no page reaction runs.
void ShowOnlySubPage(QTabWidget* control, QWidget* page);

// The settings a run reads, as the settings page shows them now.
struct RunSettings {
    QString fileLimitText;  // the stored file limit, empty for none
    int priorityIndex = 1;  // "Priorité d'exécution"
    int simultaneousChecks = 1; // "Vérifications simultanées"; 1: one after another
    bool recheckFailures = true; // "Revérifier les favoris en échec"
    ProxyValues proxy;
    cleanup::CorrectionSettings corrections;
    bool deleteDuplicates = false;
    cleanup::DuplicateMode duplicateMode = cleanup::DuplicateMode::Automatic;
    bool deleteEmptyFolders = false;
};

class WindowServices {
public:
    virtual ~WindowServices() = default;

    // The window itself: painted before a fixed pause.
    virtual QWidget* window() = 0;
    // Shows one page of the main page control alone.
    virtual void ShowOnlyPage(QWidget* page) = 0;
    // Back to the start mode, with the favorite file list built again.
    virtual void LoadFavoritesList() = 0;
    // Shows the settings tab again once an analysis has a summary.
    virtual void ShowSetupTab() = 0;

    // The summary panel, placed on the analysis page or put back.
    virtual QWidget* SummaryPanel() = 0;
    virtual void ParkSummaryPanel() = 0;
    // The progress panel and the closing panel: lent to a group box (centred
    // there and shown), then taken back (hidden on their holder page).
    enum class SharedPanel { Process, Finish };
    // Lent as it stands (not centred) when centred is false: at its own place
    // on its holder page.
    virtual void LendPanel(SharedPanel panel, QWidget* groupBox, bool centred = true) = 0;
    virtual void TakeBackPanel(SharedPanel panel) = 0;

    virtual RunSettings runSettings() const = 0;
    // The progress handlers of the window's HTTP client.
    virtual HttpProgress& IdHTTP1() = 0;
    // The texts of the empty-folder step's phases.
    virtual const QStringList& emptyFolderPhases() const = 0;
};

} // namespace signetrix
