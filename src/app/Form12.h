#pragma once
// The main window: the banner strip, the tab pages with every control of the
// program, the page modes and the window operations the features share.
//
// Every control carries its fixed object name, so feature controllers find
// them with findChild and connect their own handlers. The window itself owns
// the start-up, the page rules, the settings pages and the settings states.
#include "app/RunData.h"
#include "app/WindowServices.h"
#include "settings/ComponentState.h"
#include "settings/Proxy.h"

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>

class QFrame;
class QGroupBox;
class QLineEdit;
class QTabWidget;
class QTimer;

namespace Ui {
class AnalysePage;
class ParkingPage4;
class ParkingPage5;
class SetupPage;
class UpdatePage;
class RedirectionsPage;
class DoublonsPage;
class EmptyFoldersPage;
class BackupPage;
} // namespace Ui

namespace signetrix {

namespace platform {
class EmbeddedBrowser;
}
namespace banner {
class BannerController;
}

class AccountController;
class BackupController;
class UpdateController;
class HttpProgress;
class AnalysisController;
class CleanupController;
class PageControl;
class SettingsPages;
class StoredText;
class TdmCommon;
class TReVuvidizEdevav;

// Where the main window goes on a screen: centred horizontally; vertically
// centred in the room above a bottom task bar when there is one (the available
// area ends above the screen's bottom), else centred on the whole screen.
QPoint mainWindowPosition(const QRect& screen, const QRect& available, const QSize& window);



class TForm12 : public QWidget, public WindowServices {
    Q_OBJECT

public:
    // Builds the window and runs its creation (start-up sequence, then the
    // account settings are loaded once more). The data modules must outlive it.
    TForm12(TdmCommon& common, TReVuvidizEdevav& program, QWidget* parent = nullptr);
    ~TForm12() override;

    TdmCommon& dmCommon() { return m_common; }
    TReVuvidizEdevav& ReVuvidizEdevav() { return m_program; }

    // Window operations --------------------------------------------------------
    QWidget* window() override { return this; }
    void ShowOnlyPage(QWidget* page) override;         // a page of PageControl1
    void ShowOnlySubPage(QTabWidget* control, QWidget* page);
    void ShowPanelCentred(QWidget* panel);             // centred in gbAnalyse when tagged 1
    void PositionMainWindow();
    QString BuildCreditsText() const;
    // Returns to the start mode and rebuilds the favorite file list.
    void LoadFavoritesList() override;
    // Puts the summary panel back on its parking page.
    void ParkSummaryPanel() override;
    QWidget* SummaryPanel() override;
    void ShowSetupTab() override;
    void LendPanel(SharedPanel panel, QWidget* groupBox, bool centred = true) override;
    HttpProgress& IdHTTP1() override { return *m_idHttp1; }
    void TakeBackPanel(SharedPanel panel) override;
    void RefreshBanner();

    // Shared state ---------------------------------------------------------------
    RunData& runData() { return m_run; }
    const QStringList& FavoriteFiles() const { return m_run.favoriteFiles; }
    ProxyValues proxyValues() const;
    RunSettings runSettings() const override;
    const QStringList& emptyFolderPhases() const override;

    // The settings states, by their window names.
    ComponentState& OvcComponentStateActions() { return stateNamed("OvcComponentStateActions"); }
    ComponentState& OvcComponentStateProxy() { return stateNamed("OvcComponentStateProxy"); }
    ComponentState& OvcComponentStateDivers() { return stateNamed("OvcComponentStateDivers"); }
    ComponentState& OvcComponentStateMaxFiles() { return stateNamed("OvcComponentStateMaxFiles"); }
    ComponentState& OvcComponentStateInscriptionBackupWeb() { return stateNamed("OvcComponentStateInscriptionBackupWeb"); }
    ComponentState& stateNamed(const char* name);
    SettingsPages& settingsPages() { return *m_settingsPages; }

    // Page control reactions --------------------------------------------------
    bool PageControl1Changing(QWidget* current) const;  // false refuses leaving current
    void PageControl1Change(QWidget* page);
    bool PageControlBackupWebChanging(QWidget* current) const;

    // The about box, shown modally for the about tab; tests replace it.
    using AboutBoxRunner = std::function<void(QWidget* owner, const QString& credits)>;
    void setAboutBoxRunner(AboutBoxRunner runner) { m_aboutBox = std::move(runner); }

    PageControl* PageControl1() const { return m_pageControl; }
    QFrame* Panel1() const { return m_panel1; }
    platform::EmbeddedBrowser* WebBrowser1() const { return m_browser1; }
    QTimer* Timer1() const { return m_timer1; }
    banner::BannerController* banner() const { return m_banner; }
    AccountController* accountController() const { return m_accountController; }
    BackupController* backupController() const { return m_backupController; }
    UpdateController* updateController() const { return m_updateController; }

    static constexpr int kClientWidth = 722;
    static constexpr int kClientHeight = 656;
    static constexpr int kBannerHeight = 90;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildWindow();
    void buildPages();
    void connectHandlers();
    void FormCreate();
    bool FormCloseQuery();
    void saveActiveStates(bool onlyUnsaved) noexcept;
    void applyDebugLayout();

    TdmCommon& m_common;
    TReVuvidizEdevav& m_program;

    std::unique_ptr<Ui::AnalysePage> m_analyse;
    std::unique_ptr<Ui::ParkingPage4> m_parking4;
    std::unique_ptr<Ui::ParkingPage5> m_parking5;
    std::unique_ptr<Ui::SetupPage> m_setup;
    std::unique_ptr<Ui::UpdatePage> m_update;
    std::unique_ptr<Ui::RedirectionsPage> m_redirections;
    std::unique_ptr<Ui::DoublonsPage> m_doublons;
    std::unique_ptr<Ui::EmptyFoldersPage> m_emptyFolders;
    std::unique_ptr<Ui::BackupPage> m_backup;

    QFrame* m_panel1 = nullptr;
    platform::EmbeddedBrowser* m_browser1 = nullptr;
    QFrame* m_background = nullptr;
    PageControl* m_pageControl = nullptr;
    QWidget* m_tsAbout = nullptr;
    QTimer* m_timer1 = nullptr;
    QWidget* m_panelHolder = nullptr; // where the lent panels wait
    StoredText* m_fileMax = nullptr; // the stored file limit (no control of its own)
    banner::BannerController* m_banner = nullptr;

    std::vector<std::unique_ptr<ComponentState>> m_states;
    std::unique_ptr<SettingsPages> m_settingsPages;
    RunData m_run;
    AboutBoxRunner m_aboutBox;
    bool m_createdOnScreen = false;
    std::unique_ptr<AnalysisController> m_analysisController;
    CleanupController* m_cleanupController = nullptr;
    AccountController* m_accountController = nullptr;
    BackupController* m_backupController = nullptr;
    UpdateController* m_updateController = nullptr;
    std::unique_ptr<HttpProgress> m_idHttp1;
    QPoint m_processPanelHome; // pProcess's place on its holder page
};

} // namespace signetrix
