#include "app/cleanup/CleanupController.h"

#include "app/ErrorDisplay.h"
#include "app/EventPump.h"
#include "app/RunData.h"
#include "app/WindowServices.h"
#include "platform/desktop/ShellOpen.h"
#include "app/widgets/BusyAnimation.h"
#include "cleanup/EmptyFolders.h"
#include "cleanup/FileOperation.h"
#include "favorites/ShortcutFile.h"
#include "platform/AppPaths.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/MessageBoxes.h"
#include "platform/browser/EmbeddedBrowser.h"

#include "ui_AnalysePage.h"
#include "ui_DoublonsPage.h"
#include "ui_EmptyFoldersPage.h"
#include "ui_ParkingPages4.h"
#include "ui_ParkingPages5.h"
#include "ui_RedirectionsPage.h"

#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QMovie>
#include <QProgressBar>
#include <QPushButton>

namespace signetrix {
namespace {

QString wide(const QByteArray& ansi) { return codepage::fromAnsi(ansi); }

const QString kNoAddressText = QStringLiteral(
    "L'aperçu n'affiche encore aucune adresse : le favori garde son adresse actuelle.");
const QString kWriteFailedText = QStringLiteral(
    "Le favori n'a pas pu être modifié (fichier protégé en écriture ou inaccessible) : il garde son adresse actuelle.");

const QString kMassDeletionQuestion = QStringLiteral(
    "Le nettoyage va supprimer %1 favoris sur %2. Votre connexion Internet était peut-être coupée pendant "
    "l'analyse. Voulez-vous vraiment continuer ?");

} // namespace


CleanupController::CleanupController(const CleanupPages& pages, RunData& run, WindowServices& window,
                                     TFileOperation& deleteOperation, QObject* parent)
    : QObject(parent),
      m_pages(pages),
      m_run(run),
      m_window(window),
      m_queue(run.redirections),
      m_doublons(run.doublons),
      m_files(deleteOperation),
      m_corrections(m_files, m_queue)
{
    setObjectName(QStringLiteral("CleanupController"));
    m_pages.emptyFolders.pDeleteEmptyFolders->setProperty("Tag", 1); // centred where it shows
    setBusyAnimation(m_pages.emptyFolders.JvGIFAnimatorProcessEmptyFolders);
    connectControls();
}

CleanupController::~CleanupController() = default;

void CleanupController::connectControls()
{
    const Ui::RedirectionsPage& r = m_pages.redirections;
    const Ui::DoublonsPage& d = m_pages.doublons;
    const std::pair<QPushButton*, void (CleanupController::*)()> buttons[] = {
        {m_pages.summary.btnCorrections, &CleanupController::btnCorrectionsClick},
        {m_pages.summary.btnCancelCorrections, &CleanupController::btnCancelCorrectionsClick},
        {r.btnUpdateNext, &CleanupController::btnUpdateNextClick},
        {r.btnUpdatePrev, &CleanupController::btnUpdatePrevClick},
        {r.btnNewURL, &CleanupController::btnNewURLClick},
        {r.btnDeleteFavoris, &CleanupController::btnDeleteFavorisClick},
        {r.btnRefresh, &CleanupController::btnRefreshClick},
        {r.btnQuitterRedirections, &CleanupController::btnQuitterRedirectionsClick},
        {d.btnDoublonsNext, &CleanupController::btnDoublonsNextClick},
        {d.btnDoublonsPrev, &CleanupController::btnDoublonsPrevClick},
        {d.btnDeleteDoublons, &CleanupController::DeleteDuplicates},
        {d.btnQuitterDoublons, &CleanupController::btnQuitterDoublonsClick},
    };
    for (const auto& [button, handler] : buttons)
        connectHandler(button, &QPushButton::clicked, this, [this, h = handler] { (this->*h)(); });

    connectHandler(d.lbSelectionDoublonAGarder, &QListWidget::currentRowChanged, this, [this](int) {
        if (!m_fillingChoices) StoreDoublonChoice();
    });
    // The answer is read as soon as the signal returns: a direct connection.
    connect(r.WebBrowser2, &platform::EmbeddedBrowser::newWindow, this,
            [this](const QUrl& url, bool* cancel) { WebBrowser2NewWindow2(url, cancel); }, Qt::DirectConnection);
    r.lNomURL->setCursor(Qt::PointingHandCursor);
    r.lNomURL->installEventFilter(this);
}

bool CleanupController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_pages.redirections.lNomURL && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        runHandler([this] { lNomURLClick(); });
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void CleanupController::pause(int ms) { paintThenPause(m_window.window(), ms); }

// --- Summary and corrections ----------------------------------------------------

void CleanupController::btnCorrectionsClick()
{
    // "Non" leaves the summary as it stands, ready for another click.
    if (!ConfirmMassDeletion()) return;
    m_queue.restart();
    m_window.ParkSummaryPanel();
    m_pages.summary.pResultatSommaire->setVisible(false);
    RunCorrections();
}

void CleanupController::btnCancelCorrectionsClick() { m_window.LoadFavoritesList(); }

bool CleanupController::ConfirmMassDeletion()
{
    const cleanup::DeletionForecast forecast =
        cleanup::ForecastDeletions(m_run.MemoryTable1, m_window.runSettings().corrections);
    if (!cleanup::NeedsMassDeletionConfirmation(forecast)) return true;
    return platform::confirm(kMassDeletionQuestion.arg(forecast.toDelete).arg(forecast.tableSize));
}

void CleanupController::RunCorrections()
{
    QProgressBar* meter = m_pages.panels.OvcMeterProcess;
    m_corrections.setSettings(m_window.runSettings().corrections);
    m_window.LendPanel(WindowServices::SharedPanel::Process, m_pages.analyse.gbAnalyse);
    meter->setVisible(true);
    meter->setValue(0);
    try {
        m_corrections.RunCorrections(m_run.MemoryTable1, [meter](int, int percent) {
            meter->setValue(percent);
            pumpEvents();
        });
    } catch (...) {
        m_window.TakeBackPanel(WindowServices::SharedPanel::Process);
        throw;
    }
    m_window.TakeBackPanel(WindowServices::SharedPanel::Process);

    if (m_queue.isEmpty()) {
        ContinueCleanup();
        return;
    }
    m_window.ShowOnlyPage(m_pages.redirections.gbRedirections->parentWidget());
    LoadRedirection();
    ShowRedirection();
}

void CleanupController::ContinueCleanup()
{
    const RunSettings settings = m_window.runSettings();
    if (settings.deleteDuplicates) FindDuplicates();
    else if (settings.deleteEmptyFolders) RemoveEmptyFolders();
    else FinishCleanup();
}

void CleanupController::FinishCleanup()
{
    // The run may end on the review or the empty-folder page; the closing
    // panel lives on the analysis page.
    m_window.ShowOnlyPage(m_pages.analyse.gbAnalyse->parentWidget());
    m_window.LendPanel(WindowServices::SharedPanel::Finish, m_pages.analyse.gbAnalyse);
    pause(kFinishPauseMs);
    m_window.TakeBackPanel(WindowServices::SharedPanel::Finish);
    m_window.LoadFavoritesList();
}

// --- Redirect review ------------------------------------------------------------

QByteArray CleanupController::LoadRedirection()
{
    if (m_queue.isEmpty()) return QByteArray();
    const QByteArray url = cleanup::LoadQueuedUrl(m_queue);
    platform::EmbeddedBrowser* preview = m_pages.redirections.WebBrowser2;
    m_pages.redirections.lNomURL->setText(wide(url));
    m_currentHasAddress = !url.isEmpty();
    preview->stop();
    // Without an address the preview must not keep the favorite before's page:
    // its address could be taken for this favorite's new one.
    if (m_currentHasAddress) preview->navigate(wide(url));
    else preview->loadHtml(QString());
    return url;
}

void CleanupController::ShowRedirection()
{
    Ui::RedirectionsPage& r = m_pages.redirections;
    const bool any = !m_queue.isEmpty();
    r.btnUpdateNext->setEnabled(m_queue.canNext());
    r.btnUpdatePrev->setEnabled(m_queue.canPrevious());
    r.btnDeleteFavoris->setEnabled(any);
    r.btnRefresh->setEnabled(any);
    r.btnNewURL->setEnabled(any && m_currentHasAddress);
    r.lFavorisToProcess->setText(m_queue.counterText());
    if (!any) {
        btnQuitterRedirectionsClick();
        return;
    }
    const QByteArray entry = m_queue.current();
    r.lNomPage->setText(wide(ShortcutDisplayName(entry)));
    r.lNomPath->setText(wide(cleanup::relativeFolder(entry, cleanup::CleanupFiles::favoritesRoot())));
}

void CleanupController::btnUpdateNextClick()
{
    m_queue.next();
    LoadRedirection();
    ShowRedirection();
}

void CleanupController::btnUpdatePrevClick()
{
    m_queue.previous();
    LoadRedirection();
    ShowRedirection();
}

void CleanupController::btnNewURLClick()
{
    // The preview of a favorite without an address shows an empty page of its own.
    if (!m_currentHasAddress) {
        platform::showMessage(kNoAddressText);
        return;
    }
    // The fully encoded form is plain ASCII: it survives the code page intact.
    const QString shown = m_pages.redirections.WebBrowser2->currentAddress();
    const QUrl url(shown);
    const QByteArray address = codepage::toAnsi(url.isValid() ? url.toString(QUrl::FullyEncoded) : shown);
    switch (cleanup::StoreNewUrl(m_queue, address)) {
    case cleanup::NewUrlOutcome::Written: break;
    case cleanup::NewUrlOutcome::NoAddress: platform::showMessage(kNoAddressText); return;
    case cleanup::NewUrlOutcome::WriteFailed: platform::showMessage(kWriteFailedText, platform::MessageKind::Warning); return;
    case cleanup::NewUrlOutcome::NoFavorite: return;
    }
    LoadRedirection();
    ShowRedirection();
}

void CleanupController::btnDeleteFavorisClick()
{
    cleanup::DeleteQueued(m_queue, m_files);
    LoadRedirection();
    ShowRedirection();
}

void CleanupController::btnRefreshClick()
{
    platform::EmbeddedBrowser* preview = m_pages.redirections.WebBrowser2;
    preview->stop();
    if (!preview->currentAddress().isEmpty()) preview->reload();
    else LoadRedirection();
    ShowRedirection();
}

void CleanupController::btnQuitterRedirectionsClick() { ContinueCleanup(); }

void CleanupController::lNomURLClick()
{
    const QString url = m_pages.redirections.lNomURL->text();
    if (!url.isEmpty()) platform::shellOpen(url);
}

void CleanupController::WebBrowser2NewWindow2(const QUrl&, bool* cancel)
{
    if (cancel) *cancel = true;
}

// --- Duplicates -----------------------------------------------------------------

void CleanupController::FindDuplicates()
{
    m_window.ShowOnlyPage(m_pages.doublons.gbDoublons->parentWidget());
    m_doublons.reset(cleanup::FindDuplicates(m_run.MemoryTable1));
    if (cleanup::needsChoicePage(m_window.runSettings().duplicateMode, m_doublons.records())) ShowDoublonGroup();
    else DeleteDuplicates();
}

void CleanupController::ShowDoublonGroup()
{
    const QByteArray root = cleanup::CleanupFiles::favoritesRoot();
    Ui::DoublonsPage& d = m_pages.doublons;
    d.btnDoublonsNext->setEnabled(m_doublons.canNext());
    d.btnDoublonsPrev->setEnabled(m_doublons.canPrevious());
    d.lDoublonsProcess->setText(m_doublons.groupName(root));
    d.lDoublonsToProcess->setText(m_doublons.counterText());
    QListWidget* list = d.lbSelectionDoublonAGarder;
    m_fillingChoices = true;
    list->clear();
    list->addItems(m_doublons.memberLines(root));
    list->setCurrentRow(m_doublons.keep());
    m_fillingChoices = false;
}

void CleanupController::StoreDoublonChoice()
{
    m_doublons.StoreDoublonChoice(m_pages.doublons.lbSelectionDoublonAGarder->currentRow());
}

void CleanupController::btnDoublonsNextClick()
{
    m_doublons.next();
    ShowDoublonGroup();
}

void CleanupController::btnDoublonsPrevClick()
{
    m_doublons.previous();
    ShowDoublonGroup();
}

void CleanupController::DeleteDuplicates()
{
    cleanup::DeleteDuplicates(m_doublons.records(), m_files, m_window.runSettings().corrections.backupBeforeDelete);
    btnQuitterDoublonsClick();
}

void CleanupController::btnQuitterDoublonsClick()
{
    if (m_window.runSettings().deleteEmptyFolders) RemoveEmptyFolders();
    else FinishCleanup();
}

// --- Empty folders --------------------------------------------------------------

void CleanupController::RemoveEmptyFolders()
{
    Ui::EmptyFoldersPage& page = m_pages.emptyFolders;
    QWidget* group = page.gbDeleteEmptyFolders;
    QLabel* phase = page.lDeleteEmptyFolders;
    QLabel* folderName = page.lEmptyFolderName;
    QLabel* animation = page.JvGIFAnimatorProcessEmptyFolders;
    QWidget* done = page.pDeleteEmptyFolders;
    QProgressBar* meter = m_pages.panels.OvcMeterProcess;
    const QStringList& phases = m_window.emptyFolderPhases();

    done->setVisible(false);
    m_window.LendPanel(WindowServices::SharedPanel::Process, group);
    folderName->clear(); // the last folder of the run before
    folderName->setVisible(true);
    meter->setVisible(true);
    meter->setValue(0);
    m_window.ShowOnlyPage(group->parentWidget());
    animation->setVisible(true);
    if (QMovie* movie = animation->movie()) movie->start();

    cleanup::EmptyFolderProgress progress;
    progress.phase = [&](int p) { phase->setText(phases.value(p)); };
    progress.meter = [meter](int percent) { meter->setValue(percent); };
    progress.folder = [folderName](const QString& f) { folderName->setText(f); };
    progress.pump = pumpEvents;

    auto close = [&] {
        animation->setVisible(false);
        if (QMovie* movie = animation->movie()) movie->stop();
        phase->clear();
        folderName->setVisible(false);
        m_window.TakeBackPanel(WindowServices::SharedPanel::Process);
    };
    try {
        cleanup::RemoveEmptyFolders(fs::nativeFromWide(platform::favoritesFolder()), progress);
    } catch (...) {
        close();
        throw;
    }
    meter->setValue(100);
    pumpEvents();
    close();
    ShowPanelCentredIn(done, group);
    pause(kFinishPauseMs);
    done->setVisible(false);
    FinishCleanup();
}

} // namespace signetrix
