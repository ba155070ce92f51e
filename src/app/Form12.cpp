#include "app/Form12.h"

#include "app/DataModules.h"
#include "app/ErrorDisplay.h"
#include "app/EventPump.h"
#include "app/TabIcons.h"
#include "app/banner/Banner.h"
#include "app/cleanup/CleanupController.h"
#include "app/HttpProgress.h"
#include "app/account/AccountController.h"
#include "app/backup/BackupController.h"
#include "app/update/UpdateController.h"
#include "app/analysis/AnalysisController.h"
#include "app/analysis/ReportController.h"
#include "app/settings/SettingsPages.h"
#include "app/widgets/PageControl.h"
#include "app/widgets/EditBox.h"
#include "app/widgets/StoredValue.h"

#include "ui_AnalysePage.h"
#include "ui_BackupPage.h"
#include "ui_DoublonsPage.h"
#include "ui_EmptyFoldersPage.h"
#include "ui_ParkingPages4.h"
#include "ui_ParkingPages5.h"
#include "ui_RedirectionsPage.h"
#include "ui_SetupPage.h"
#include "ui_UpdatePage.h"

#include "app/dialogs/UArchives.h"
#include "app/dialogs/UKelAbout.h"
#include "app/dialogs/UTemplateHint.h"
#include "favorites/FavoritesFolder.h"
#include "platform/AppPaths.h"
#include "platform/Errors.h"
#include "platform/browser/EmbeddedBrowser.h"

#include "app/widgets/RadioGroup.h"
#include "cleanup/FileOperation.h"

#include <QApplication>
#include <QComboBox>
#include <QCloseEvent>
#include <QDate>
#include <QScreen>
#include <QSpinBox>
#include <QTabBar>
#include <QTimer>

#include <optional>

namespace signetrix {
namespace {

bool shown(const QWidget* w) { return !w->isHidden(); }

} // namespace

QPoint mainWindowPosition(const QRect& screen, const QRect& available, const QSize& window)
{
    const int left = screen.left() + (screen.width() - window.width()) / 2;
    const int bottomBar = screen.bottom() - available.bottom();
    const bool barAtBottom = bottomBar > 0 && available.top() == screen.top();
    const int top = barAtBottom ? screen.top() + (screen.height() - bottomBar - window.height()) / 2
                                : screen.top() + (screen.height() - window.height()) / 2;
    return {left, top};
}

void ShowPanelCentredIn(QWidget* control, QWidget* groupBox)
{
    if (control->property("Tag").toInt() == 1)
        control->move(groupBox->width() / 2 - control->width() / 2, groupBox->height() / 2 - control->height() / 2);
    control->setVisible(true);
}

TForm12::TForm12(TdmCommon& common, TReVuvidizEdevav& program, QWidget* parent)
    : QWidget(parent), m_common(common), m_program(program)
{
    buildWindow();
    buildPages();
    m_fileMax = new StoredText(QStringLiteral("edFileMax"), this);
    new StoredFlag(QStringLiteral("chkbDebug"), this);

    for (const ComponentStateSpec& spec : componentStateSpecs()) {
        m_states.push_back(std::make_unique<ComponentState>(spec, m_common.OvcIniFileStore));
        m_states.back()->resolve(this);
    }
    m_settingsPages = std::make_unique<SettingsPages>(*m_setup, OvcComponentStateActions(),
                                                      OvcComponentStateDivers(), OvcComponentStateProxy());
    connectHandlers();
    m_aboutBox = &dialogs::showAboutBox;
    m_analysisController = std::make_unique<AnalysisController>(*m_analyse, *m_parking4, m_run, *this);
    new ReportController(*m_parking4, m_run.MemoryTable1, platform::favoritesFolderPath(), this); // owned as a child
    if (!m_common.findChild<TFileOperation*>(QStringLiteral("FileOperation"))) createFileOperation(&m_common);
    auto* deleteOperation = m_common.findChild<TFileOperation*>(QStringLiteral("FileOperationDelete"));
    if (!deleteOperation) deleteOperation = createFileOperationDelete(&m_common);
    m_cleanupController = new CleanupController(
        {*m_analyse, *m_parking4, *m_parking5, *m_redirections, *m_doublons, *m_emptyFolders}, m_run, *this,
        *deleteOperation, this);

    m_accountController = new AccountController(*m_backup, this);
    m_idHttp1 = std::make_unique<HttpProgress>();
    m_processPanelHome = m_parking5->pProcess->pos();
    m_backupController = new BackupController(*m_backup, *this, m_common.JvgStringContainer,
                                              *m_parking5->OvcMeterProcess, *m_idHttp1, this);
    m_updateController = new UpdateController(
        *m_update, *this, *m_idHttp1, *m_common.findChild<TFileOperation*>(QStringLiteral("FileOperation")), this);

    runHandler([this] { FormCreate(); });
    // The account settings follow the window's life: loaded again once its
    // creation is complete.
    runHandler([this] {
        for (auto& state : m_states)
            if (state->active()) state->restore();
    });
}

ComponentState& TForm12::stateNamed(const char* name)
{
    for (auto& state : m_states)
        if (state->name() == QLatin1String(name)) return *state;
    throw Error(QStringLiteral("Missing settings state %1").arg(QLatin1String(name)));
}

TForm12::~TForm12()
{
    saveActiveStates(true);
}

void TForm12::buildWindow()
{
    setObjectName(QStringLiteral("Form12"));
    setWindowTitle(QStringLiteral("Signetrix"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(kClientWidth, kClientHeight);

    m_panel1 = new QFrame(this);
    m_panel1->setObjectName(QStringLiteral("Panel1"));
    m_panel1->setGeometry(0, 0, kClientWidth, kBannerHeight);
    m_browser1 = new platform::EmbeddedBrowser(m_panel1);
    m_browser1->setObjectName(QStringLiteral("WebBrowser1"));
    m_browser1->setGeometry(0, 0, kClientWidth, kBannerHeight);
    // The window's Timer1 drives the refresh; the controller's own timer stays off.
    m_banner = new banner::BannerController(m_browser1, banner::DefaultBannerPageUrl(), this);

    m_background = new QFrame(this);
    m_background->setObjectName(QStringLiteral("pBackground"));
    m_background->setGeometry(0, kBannerHeight, kClientWidth, kClientHeight - kBannerHeight);
    m_background->setStyleSheet(QStringLiteral(
        "#pBackground { background: qlineargradient(x1:0, y1:0, x2:1, y2:0, stop:0 #dfe8f3, stop:1 #7f9fc6); }"));

    m_pageControl = new PageControl(this);
    m_pageControl->setObjectName(QStringLiteral("PageControl1"));
    m_pageControl->setGeometry(20, kBannerHeight, 676, 551);
    QFont tahoma(QStringLiteral("Tahoma"));
    tahoma.setPixelSize(13);
    m_pageControl->setFont(tahoma);
    m_pageControl->setIconSize(QSize(kTabIconSize, kTabIconSize));
    m_pageControl->setUsesScrollButtons(false);
    // Narrow tab margins so the five start tabs and the about caption fit the width.
    m_pageControl->tabBar()->setStyleSheet(QStringLiteral("QTabBar::tab { padding: 2px 3px; }"));

    m_timer1 = new QTimer(this);
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setInterval(120000);
}

void TForm12::buildPages()
{
    m_analyse = std::make_unique<Ui::AnalysePage>();
    m_parking4 = std::make_unique<Ui::ParkingPage4>();
    m_parking5 = std::make_unique<Ui::ParkingPage5>();
    m_setup = std::make_unique<Ui::SetupPage>();
    m_update = std::make_unique<Ui::UpdatePage>();
    m_redirections = std::make_unique<Ui::RedirectionsPage>();
    m_doublons = std::make_unique<Ui::DoublonsPage>();
    m_emptyFolders = std::make_unique<Ui::EmptyFoldersPage>();
    m_backup = std::make_unique<Ui::BackupPage>();

    auto addPage = [this](auto& ui, TabPicture picture) {
        auto* page = new QWidget;
        ui.setupUi(page);
        m_pageControl->addTab(page, tabIcon(picture), QString());
        return page;
    };
    addPage(*m_analyse, TabPicture::Analyse);
    addPage(*m_setup, TabPicture::Setup);
    addPage(*m_update, TabPicture::Update);
    addPage(*m_redirections, TabPicture::Redirections);
    addPage(*m_doublons, TabPicture::Doublons);
    addPage(*m_emptyFolders, TabPicture::EmptyFolders);
    addPage(*m_backup, TabPicture::Backup);

    m_tsAbout = new QWidget;
    m_tsAbout->setObjectName(QStringLiteral("tsAbout"));
    m_pageControl->addTab(m_tsAbout, tabIcon(TabPicture::About), QStringLiteral("A propos"));

    // Holder pages: their tabs are never shown.
    auto* tab4 = new QWidget;
    m_parking4->setupUi(tab4);
    m_pageControl->addTab(tab4, QString());
    auto* tab5 = new QWidget;
    m_parking5->setupUi(tab5);
    m_panelHolder = tab5;
    m_pageControl->addTab(tab5, QString());
    m_pageControl->setPageTabVisible(tab4, false);
    m_pageControl->setPageTabVisible(tab5, false);

    m_pageControl->setActivePage(m_analyse->gbAnalyse->parentWidget());
    m_backup->PageControlBackupWeb->setActivePage(m_backup->tsBackup);
    m_setup->PageControlConfiguration->setActivePage(m_setup->TabSheet1);

    for (QLineEdit* password : {m_setup->edProxyPassword, m_backup->edPassword}) {
        // Every character of a password shows as '*'.
        password->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    }
}

void TForm12::connectHandlers()
{
    m_pageControl->setChangingGuard([this](QWidget* current) { return PageControl1Changing(current); });
    connectHandler(m_pageControl, &PageControl::pageChanged, this, [this](QWidget* page) { PageControl1Change(page); });
    m_backup->PageControlBackupWeb->setChangingGuard(
        [this](QWidget* current) { return PageControlBackupWebChanging(current); });
    connectHandler(m_timer1, &QTimer::timeout, this, [this] { RefreshBanner(); });
    // The favorites the cleanup archived can be put back from the start page.
    connectHandler(m_analyse->btnRestoreArchives, &QPushButton::clicked, this,
                   [this] { dialogs::showArchivesDialog(this, [this] { LoadFavoritesList(); }); });

    const std::pair<QPushButton*, dialogs::HelpTable> helpButtons[] = {
        {m_setup->btnpHelp3XX, dialogs::HelpTable::CodesError3XX},
        {m_setup->btnpHelp4XX, dialogs::HelpTable::CodesError4XX},
        {m_setup->btnpHelp5XX, dialogs::HelpTable::CodesError5XX},
        {m_setup->btnpHelpErrorFile, dialogs::HelpTable::CodesErrorFiles},
    };
    for (const auto& [button, table] : helpButtons)
        connectHandler(button, &QPushButton::clicked, this,
                       [button = button, table = table] { dialogs::showHelp(table, button); });

}

void TForm12::FormCreate()
{
    m_run.AnalysisCancelled = false;
    RefreshBanner();
    m_timer1->start();

    ShowPanelCentred(m_analyse->pLoadFavorisList);
    pumpEvents();
    m_analyse->pLoadFavorisList->setVisible(false);
    pumpEvents();

    m_run.clearQueues();

    m_settingsPages->chkbProxyClick(nullptr);
    LoadFavoritesList();

    OvcComponentStateActions().restore();
    OvcComponentStateProxy().restore();
    OvcComponentStateDivers().restore();
    OvcComponentStateMaxFiles().restore();

    m_settingsPages->fillProxyPasswordFromStored();
    applyDebugLayout();
    PositionMainWindow();

    OvcComponentStateInscriptionBackupWeb().restore();
    m_backup->edPassword->setText(decipheredPassword(m_backup->edPasswordCrypt->text()));

    m_settingsPages->btnCancelProxyClick(nullptr);
    m_setup->rdgModeSectionSuppressionDoublons->setVisible(m_setup->chkbDeleteDuplicate->isChecked());
    m_settingsPages->markDiversUnchanged();
    m_settingsPages->markActionsUnchanged();
}

void TForm12::applyDebugLayout()
{
    const bool debug = findChild<StoredFlag*>(QStringLiteral("chkbDebug"))->isChecked();
    m_panel1->setVisible(!debug);
    if (debug) {
        m_pageControl->move(m_pageControl->x(), 0);
        m_background->setGeometry(0, 0, kClientWidth, kClientHeight - kBannerHeight);
        setFixedSize(kClientWidth, kClientHeight - kBannerHeight);
    }
}

void TForm12::PositionMainWindow()
{
    QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    const QSize frame = frameGeometry().size().expandedTo(size());
    const QPoint at = mainWindowPosition(screen->geometry(), screen->availableGeometry(), frame);
    move(at);
}

void TForm12::RefreshBanner()
{
    m_banner->RefreshBanner();
}

QString TForm12::BuildCreditsText() const
{
    QString text = m_program.JvgStringContainerCredits.join(QStringLiteral("\r\n"));
    text.replace(QStringLiteral("##year##"), QString::number(QDate::currentDate().year()));
    return text;
}

void TForm12::ShowOnlyPage(QWidget* page)
{
    ShowOnlySubPage(m_pageControl, page);
}

void TForm12::ShowOnlySubPage(QTabWidget* control, QWidget* page)
{
    signetrix::ShowOnlySubPage(control, page);
}

void ShowOnlySubPage(QTabWidget* control, QWidget* page)
{
    const int index = control->indexOf(page);
    if (index < 0) return;
    // Pages the program shows pass no changing guard and run no page reaction.
    std::optional<PageControl::ProgrammaticChange> programmatic;
    if (auto* pages = qobject_cast<PageControl*>(control)) programmatic.emplace(pages);
    control->setTabVisible(index, true);
    control->setCurrentIndex(index);
    for (int i = 0; i < control->count(); ++i)
        if (i != index) control->setTabVisible(i, false);
}

void TForm12::ShowPanelCentred(QWidget* panel)
{
    ShowPanelCentredIn(panel, m_analyse->gbAnalyse);
}

void TForm12::ParkSummaryPanel()
{
    QWidget* panel = m_parking4->pResultatSommaire;
    const bool wasHidden = panel->isHidden();
    panel->setParent(m_parking4->GroupBox3);
    panel->move(32, 24);
    panel->setVisible(!wasHidden);
}

void TForm12::LoadFavoritesList()
{
    ParkSummaryPanel();

    ShowOnlyPage(m_analyse->gbAnalyse->parentWidget());
    for (QWidget* page : {m_setup->PageControlConfiguration->parentWidget(), m_update->gbUpdate->parentWidget(),
                          m_backup->PageControlBackupWeb->parentWidget(), m_tsAbout})
        m_pageControl->setPageTabVisible(page, true);
    m_backup->PageControlBackupWeb->setPageTabVisible(m_backup->TabSheet9, false);
    m_pageControl->repaint();

    m_analyse->pProcessAnalyse->setVisible(false);
    m_analyse->pBeforeAnalyse->setVisible(false);
    m_analyse->lProgression->setVisible(true);
    m_analyse->OvcMeterData->setVisible(true);

    ShowPanelCentred(m_analyse->pLoadFavorisList);
    m_run.favoriteFiles = ListFavoriteFiles(GetFavoritesFolder());
    pumpEvents();
    m_analyse->pLoadFavorisList->setVisible(false);
    pumpEvents();
    ShowPanelCentred(m_analyse->pBeforeAnalyse);

    m_analyse->lFavorisTotal0->setText(QString::number(m_run.favoriteFiles.size()));
    m_analyse->lFavorisTotal->setText(m_analyse->lFavorisTotal0->text());
}

QWidget* TForm12::SummaryPanel() { return m_parking4->pResultatSommaire; }

void TForm12::ShowSetupTab() { m_pageControl->setPageTabVisible(m_setup->PageControlConfiguration->parentWidget(), true); }

void TForm12::LendPanel(SharedPanel which, QWidget* groupBox, bool centred)
{
    QWidget* panel = which == SharedPanel::Process ? m_parking5->pProcess : m_parking5->pFinish;
    panel->setParent(groupBox);
    panel->setProperty("Tag", centred ? 1 : 0);
    if (!centred && which == SharedPanel::Process) panel->move(m_processPanelHome);
    ShowPanelCentredIn(panel, groupBox);
    panel->raise();
}

void TForm12::TakeBackPanel(SharedPanel which)
{
    QWidget* panel = which == SharedPanel::Process ? m_parking5->pProcess : m_parking5->pFinish;
    panel->setVisible(false);
    panel->setParent(m_panelHolder);
}

RunSettings TForm12::runSettings() const
{
    RunSettings s;
    s.fileLimitText = m_fileMax->text();
    s.priorityIndex = m_setup->rdgPriorite->currentIndex();
    s.simultaneousChecks = m_setup->seVerificationsSimultanees->value();
    s.recheckFailures = m_setup->chkbReverifierEchecs->isChecked();
    s.proxy = proxyValues();
    const std::pair<const char*, const QComboBox*> lists[] = {
        {"301", m_setup->cbError301}, {"302", m_setup->cbError302}, {"3XX", m_setup->cbError3XX},
        {"404", m_setup->cbError404}, {"4XX", m_setup->cbError4XX}, {"5XX", m_setup->cbError5XX},
        {"1000", m_setup->cbError1000}, {"777", m_setup->cbError777}, {"9", m_setup->cbError9},
    };
    for (const auto& [key, list] : lists) s.corrections.actionTexts.insert(QLatin1String(key), list->currentText());
    s.corrections.backupBeforeDelete = m_setup->chkbBackupBeforeDelete->isChecked();
    s.deleteDuplicates = m_setup->chkbDeleteDuplicate->isChecked();
    s.duplicateMode = m_setup->rdgModeSectionSuppressionDoublons->currentIndex() == 1
                          ? cleanup::DuplicateMode::Manual
                          : cleanup::DuplicateMode::Automatic;
    s.deleteEmptyFolders = m_setup->chkbDeleteDossierEmpty->isChecked();
    return s;
}

const QStringList& TForm12::emptyFolderPhases() const { return m_common.JvgStringContainerDeleteEmptyFolders; }

ProxyValues TForm12::proxyValues() const
{
    ProxyValues v;
    v.useProxy = m_setup->chkbProxy->isChecked();
    v.host = m_setup->edProxyHote->text();
    v.port = m_setup->edProxyPort->text();
    v.authentication = m_setup->chkbProxyAuthentification->isChecked();
    v.user = m_setup->edProxyUser->text();
    v.password = m_setup->edProxyPassword->text();
    return v;
}

bool TForm12::PageControl1Changing(QWidget* current) const
{
    if (current == m_setup->PageControlConfiguration->parentWidget() && m_settingsPages->anyPageChanged())
        return false;
    if (current == m_backup->PageControlBackupWeb->parentWidget() && shown(m_backup->pSubmitUpdateInscription))
        return false;
    return true;
}

bool TForm12::PageControlBackupWebChanging(QWidget* current) const
{
    return !(current == m_backup->tsSettingAccount && shown(m_backup->pSubmitUpdateInscription));
}

void TForm12::PageControl1Change(QWidget* page)
{
    Ui::BackupPage& b = *m_backup;
    if (page == b.PageControlBackupWeb->parentWidget()) {
        b.PageControlBackupWeb->setPageTabVisible(b.TabSheet9, false);
        const bool hasId = !b.edID->text().isEmpty();
        const int state = b.gbSettingAccount->property("Tag").toInt();
        if (hasId || (state != 0 && state != 1)) {
            for (QWidget* sheet : {b.tsBackup, b.tsRestore, b.tsSettingAccount})
                b.PageControlBackupWeb->setPageTabVisible(sheet, true);
            b.pValidationInscription->setVisible(false);
        } else if (state == 1) {
            ShowOnlySubPage(b.PageControlBackupWeb, b.tsSettingAccount);
            ShowPanelCentredIn(b.pInscriptionValide, b.gbSettingAccount);
            b.pCompte->setVisible(false);
            b.pValidationInscription->setVisible(false);
        } else {
            ShowOnlySubPage(b.PageControlBackupWeb, b.tsSettingAccount);
            ShowPanelCentredIn(b.pInscription, b.gbSettingAccount);
            b.pCompte->setVisible(false);
            b.pValidationInscription->setVisible(true);
        }
        const bool validating = shown(b.pValidationInscription);
        b.pUpdateInscription->setVisible(!validating);
        b.pInscription->setVisible(validating);
        SetEditEditable(b.edEmail, validating);
        SetEditEditable(b.edPassword, validating);
    } else if (page == m_tsAbout) {
        // The about tab never stays active, whatever the box does.
        struct BackToAnalyse {
            TForm12* form;
            ~BackToAnalyse() { form->m_pageControl->setActivePage(form->m_analyse->gbAnalyse->parentWidget()); }
        } back{this};
        if (m_aboutBox) m_aboutBox(this, BuildCreditsText());
    }
}

bool TForm12::FormCloseQuery()
{
    m_run.clearQueues();
    return true;
}

void TForm12::saveActiveStates(bool onlyUnsaved) noexcept
{
    for (auto& state : m_states) {
        if (!state->active() || (onlyUnsaved && state->saved())) continue;
        runHandler([&] { state->save(); });
    }
}

void TForm12::showEvent(QShowEvent* event)
{
    m_createdOnScreen = true;
    QWidget::showEvent(event);
}

void TForm12::closeEvent(QCloseEvent* event)
{
    bool allowed = true;
    runHandler([&] { allowed = FormCloseQuery(); });
    if (!allowed) {
        event->ignore();
        return;
    }
    if (m_createdOnScreen) saveActiveStates(false);
    event->accept();
}

} // namespace signetrix
