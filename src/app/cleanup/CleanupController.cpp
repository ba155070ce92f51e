#include "app/cleanup/CleanupController.h"

#include "app/DataModules.h"
#include "app/ErrorDisplay.h"
#include "app/EventPump.h"
#include "app/Form12.h"
#include "app/dialogs/ShellOpen.h"
#include "app/widgets/BusyAnimation.h"
#include "app/widgets/RadioGroup.h"
#include "cleanup/EmptyFolders.h"
#include "cleanup/FileOperation.h"
#include "favorites/ShortcutFile.h"
#include "platform/AppPaths.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/MessageBoxes.h"
#include "platform/browser/EmbeddedBrowser.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QMovie>
#include <QProgressBar>
#include <QPushButton>

namespace signetrix {
namespace {

CleanupController::Pause& pauseHook()
{
    static CleanupController::Pause hook;
    return hook;
}

QString wide(const QByteArray& ansi) { return codepage::fromAnsi(ansi); }

QStringList wideList(const QByteArrayList& list)
{
    QStringList out;
    out.reserve(list.size());
    for (const QByteArray& item : list) out.append(wide(item));
    return out;
}

const QString kNoAddressText = QStringLiteral(
    "L'aperçu n'affiche encore aucune adresse : le favori garde son adresse actuelle.");
const QString kWriteFailedText = QStringLiteral(
    "Le favori n'a pas pu être modifié (fichier protégé en écriture ou inaccessible) : il garde son adresse actuelle.");

} // namespace

void CleanupController::setPauseForTesting(Pause pause) { pauseHook() = std::move(pause); }

template <typename T>
T* CleanupController::find(const char* name) const
{
    T* control = m_form.findChild<T*>(QString::fromLatin1(name));
    if (!control) qFatal("CleanupController: the window has no control named %s", name);
    return control;
}

CleanupController::CleanupController(TForm12& form)
    : QObject(&form),
      m_form(form),
      m_files(*[&form] {
          auto* existing = form.dmCommon().findChild<TFileOperation*>(QStringLiteral("FileOperationDelete"));
          return existing ? existing : createFileOperationDelete(&form.dmCommon());
      }()),
      m_corrections(m_files, m_queue)
{
    setObjectName(QStringLiteral("CleanupController"));
    if (!form.dmCommon().findChild<TFileOperation*>(QStringLiteral("FileOperation")))
        createFileOperation(&form.dmCommon());

    // Every control the run uses must be there; the handlers rely on it.
    for (const char* name :
         {"btnCorrections", "btnCancelCorrections", "pResultatSommaire", "tsAnalyse", "chkbBackupBeforeDelete",
          "chkbDeleteDuplicate", "chkbDeleteDossierEmpty", "rdgModeSectionSuppressionDoublons", "lNomPage",
          "lNomPath", "lFavorisToProcess", "btnUpdateNext", "btnUpdatePrev", "btnNewURL", "btnDeleteFavoris",
          "btnRefresh", "btnQuitterRedirections", "tsDoublons", "btnDoublonsNext", "btnDoublonsPrev",
          "lDoublonsProcess", "lDoublonsToProcess", "lbSelectionDoublonAGarder", "btnDeleteDoublons",
          "btnQuitterDoublons", "tsDeleteEmptyFolders", "gbDeleteEmptyFolders", "lDeleteEmptyFolders",
          "lEmptyFolderName", "JvGIFAnimatorProcessEmptyFolders", "pDeleteEmptyFolders"})
        find<QObject>(name);
    m_pProcess = find<QWidget>("pProcess");
    m_meter = find<QProgressBar>("OvcMeterProcess");
    m_pFinish = find<QWidget>("pFinish");
    m_parking = m_pProcess->parentWidget();
    m_gbAnalyse = find<QWidget>("gbAnalyse");
    m_tsRedirections = find<QWidget>("tsRedirections");
    m_lNomURL = find<QLabel>("lNomURL");
    m_preview = find<platform::EmbeddedBrowser>("WebBrowser2");
    // Both panels are centred wherever they are placed.
    m_pProcess->setProperty("Tag", 1);
    m_pFinish->setProperty("Tag", 1);
    find<QWidget>("pDeleteEmptyFolders")->setProperty("Tag", 1);
    setBusyAnimation(find<QLabel>("JvGIFAnimatorProcessEmptyFolders"));
    connectControls();
}

CleanupController::~CleanupController() = default;

void CleanupController::connectControls()
{
    const std::pair<const char*, void (CleanupController::*)()> buttons[] = {
        {"btnCorrections", &CleanupController::btnCorrectionsClick},
        {"btnCancelCorrections", &CleanupController::btnCancelCorrectionsClick},
        {"btnUpdateNext", &CleanupController::btnUpdateNextClick},
        {"btnUpdatePrev", &CleanupController::btnUpdatePrevClick},
        {"btnNewURL", &CleanupController::btnNewURLClick},
        {"btnDeleteFavoris", &CleanupController::btnDeleteFavorisClick},
        {"btnRefresh", &CleanupController::btnRefreshClick},
        {"btnQuitterRedirections", &CleanupController::btnQuitterRedirectionsClick},
        {"btnDoublonsNext", &CleanupController::btnDoublonsNextClick},
        {"btnDoublonsPrev", &CleanupController::btnDoublonsPrevClick},
        {"btnDeleteDoublons", &CleanupController::DeleteDuplicates},
        {"btnQuitterDoublons", &CleanupController::btnQuitterDoublonsClick},
    };
    for (const auto& [name, handler] : buttons)
        connectHandler(find<QPushButton>(name), &QPushButton::clicked, this, [this, h = handler] { (this->*h)(); });

    connectHandler(find<QListWidget>("lbSelectionDoublonAGarder"), &QListWidget::currentRowChanged, this, [this](int) {
        if (!m_fillingChoices) StoreDoublonChoice();
    });
    // The answer is read as soon as the signal returns: a direct connection.
    connect(m_preview, &platform::EmbeddedBrowser::newWindow, this,
            [this](const QUrl& url, bool* cancel) { WebBrowser2NewWindow2(url, cancel); }, Qt::DirectConnection);
    m_lNomURL->setCursor(Qt::PointingHandCursor);
    m_lNomURL->installEventFilter(this);
}

bool CleanupController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_lNomURL && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        runHandler([this] { lNomURLClick(); });
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void CleanupController::pause(int ms) { paintThenPause(&m_form, ms, pauseHook()); }

void CleanupController::placeIn(QWidget* panel, QWidget* groupBox)
{
    panel->setParent(groupBox);
    ShowPanelCentredIn(panel, groupBox);
    panel->raise();
}

void CleanupController::park(QWidget* panel)
{
    panel->setVisible(false);
    panel->setParent(m_parking);
}

void CleanupController::syncWindowLists()
{
    m_form.RedirectionsList = wideList(m_queue.entries());
    m_form.DoublonsList = wideList(m_doublons.records());
}

cleanup::CorrectionSettings CleanupController::correctionSettings() const
{
    cleanup::CorrectionSettings s;
    for (const QString& key : cleanup::CategoryKeys()) {
        if (auto* list = m_form.findChild<QComboBox*>(QStringLiteral("cbError") + key))
            s.actionTexts.insert(key, list->currentText());
    }
    s.backupBeforeDelete = find<QCheckBox>("chkbBackupBeforeDelete")->isChecked();
    return s;
}

cleanup::DuplicateMode CleanupController::duplicateMode() const
{
    return find<RadioGroup>("rdgModeSectionSuppressionDoublons")->currentIndex() == 1 ? cleanup::DuplicateMode::Manual
                                                                                       : cleanup::DuplicateMode::Automatic;
}

// --- Summary and corrections ----------------------------------------------------

void CleanupController::btnCorrectionsClick()
{
    m_queue.restart();
    m_form.ParkSummaryPanel();
    find<QWidget>("pResultatSommaire")->setVisible(false);
    RunCorrections();
}

void CleanupController::btnCancelCorrectionsClick() { m_form.LoadFavoritesList(); }

void CleanupController::RunCorrections()
{
    m_corrections.setSettings(correctionSettings());
    placeIn(m_pProcess, m_gbAnalyse);
    m_meter->setVisible(true);
    m_meter->setValue(0);
    try {
        m_corrections.RunCorrections(m_form.MemoryTable1, [this](int, int percent) {
            m_meter->setValue(percent);
            pumpEvents();
        });
    } catch (...) {
        park(m_pProcess);
        syncWindowLists();
        throw;
    }
    park(m_pProcess);
    syncWindowLists();

    if (m_queue.isEmpty()) {
        ContinueCleanup();
        return;
    }
    m_form.ShowOnlyPage(m_tsRedirections);
    LoadRedirection();
    ShowRedirection();
}

void CleanupController::ContinueCleanup()
{
    if (find<QCheckBox>("chkbDeleteDuplicate")->isChecked()) FindDuplicates();
    else if (find<QCheckBox>("chkbDeleteDossierEmpty")->isChecked()) RemoveEmptyFolders();
    else FinishCleanup();
}

void CleanupController::FinishCleanup()
{
    // The run may end on the review or the empty-folder page; the closing
    // panel lives on the analysis page.
    m_form.ShowOnlyPage(find<QWidget>("tsAnalyse"));
    placeIn(m_pFinish, m_gbAnalyse);
    pause(kFinishPauseMs);
    park(m_pFinish);
    m_form.LoadFavoritesList();
}

// --- Redirect review ------------------------------------------------------------

QByteArray CleanupController::LoadRedirection()
{
    if (m_queue.isEmpty()) return QByteArray();
    const QByteArray url = cleanup::LoadQueuedUrl(m_queue);
    m_lNomURL->setText(wide(url));
    m_currentHasAddress = !url.isEmpty();
    m_preview->stop();
    // Without an address the preview must not keep the favorite before's page:
    // its address could be taken for this favorite's new one.
    if (m_currentHasAddress) m_preview->navigate(wide(url));
    else m_preview->loadHtml(QString());
    return url;
}

void CleanupController::ShowRedirection()
{
    const bool any = !m_queue.isEmpty();
    find<QPushButton>("btnUpdateNext")->setEnabled(m_queue.canNext());
    find<QPushButton>("btnUpdatePrev")->setEnabled(m_queue.canPrevious());
    for (const char* name : {"btnDeleteFavoris", "btnRefresh"}) find<QPushButton>(name)->setEnabled(any);
    find<QPushButton>("btnNewURL")->setEnabled(any && m_currentHasAddress);
    find<QLabel>("lFavorisToProcess")->setText(m_queue.counterText());
    syncWindowLists();
    if (!any) {
        btnQuitterRedirectionsClick();
        return;
    }
    const QByteArray entry = m_queue.current();
    find<QLabel>("lNomPage")->setText(wide(ShortcutDisplayName(entry)));
    find<QLabel>("lNomPath")->setText(wide(cleanup::relativeFolder(entry, cleanup::CleanupFiles::favoritesRoot())));
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
    const QString shown = m_preview->currentAddress();
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
    m_preview->stop();
    if (!m_preview->currentAddress().isEmpty()) m_preview->reload();
    else LoadRedirection();
    ShowRedirection();
}

void CleanupController::btnQuitterRedirectionsClick() { ContinueCleanup(); }

void CleanupController::lNomURLClick()
{
    const QString url = m_lNomURL->text();
    if (!url.isEmpty()) dialogs::shellOpen(url);
}

void CleanupController::WebBrowser2NewWindow2(const QUrl&, bool* cancel)
{
    if (cancel) *cancel = true;
}

// --- Duplicates -----------------------------------------------------------------

void CleanupController::FindDuplicates()
{
    m_form.ShowOnlyPage(find<QWidget>("tsDoublons"));
    m_doublons.reset(cleanup::FindDuplicates(m_form.MemoryTable1));
    syncWindowLists();
    if (cleanup::needsChoicePage(duplicateMode(), m_doublons.records())) ShowDoublonGroup();
    else DeleteDuplicates();
}

void CleanupController::ShowDoublonGroup()
{
    const QByteArray root = cleanup::CleanupFiles::favoritesRoot();
    find<QPushButton>("btnDoublonsNext")->setEnabled(m_doublons.canNext());
    find<QPushButton>("btnDoublonsPrev")->setEnabled(m_doublons.canPrevious());
    find<QLabel>("lDoublonsProcess")->setText(m_doublons.groupName(root));
    find<QLabel>("lDoublonsToProcess")->setText(m_doublons.counterText());
    auto* list = find<QListWidget>("lbSelectionDoublonAGarder");
    m_fillingChoices = true;
    list->clear();
    list->addItems(m_doublons.memberLines(root));
    list->setCurrentRow(m_doublons.keep());
    m_fillingChoices = false;
}

void CleanupController::StoreDoublonChoice()
{
    m_doublons.StoreDoublonChoice(find<QListWidget>("lbSelectionDoublonAGarder")->currentRow());
    syncWindowLists();
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
    cleanup::DeleteDuplicates(m_doublons.records(), m_files, find<QCheckBox>("chkbBackupBeforeDelete")->isChecked());
    btnQuitterDoublonsClick();
}

void CleanupController::btnQuitterDoublonsClick()
{
    if (find<QCheckBox>("chkbDeleteDossierEmpty")->isChecked()) RemoveEmptyFolders();
    else FinishCleanup();
}

// --- Empty folders --------------------------------------------------------------

void CleanupController::RemoveEmptyFolders()
{
    auto* group = find<QWidget>("gbDeleteEmptyFolders");
    auto* phase = find<QLabel>("lDeleteEmptyFolders");
    auto* folderName = find<QLabel>("lEmptyFolderName");
    auto* animation = find<QLabel>("JvGIFAnimatorProcessEmptyFolders");
    auto* done = find<QWidget>("pDeleteEmptyFolders");
    const QStringList& phases = m_form.dmCommon().JvgStringContainerDeleteEmptyFolders;

    done->setVisible(false);
    placeIn(m_pProcess, group);
    folderName->clear(); // the last folder of the run before
    folderName->setVisible(true);
    m_meter->setVisible(true);
    m_meter->setValue(0);
    m_form.ShowOnlyPage(find<QWidget>("tsDeleteEmptyFolders"));
    animation->setVisible(true);
    if (QMovie* movie = animation->movie()) movie->start();

    cleanup::EmptyFolderProgress progress;
    progress.phase = [&](int p) { phase->setText(phases.value(p)); };
    progress.meter = [this](int percent) { m_meter->setValue(percent); };
    progress.folder = [folderName](const QString& f) { folderName->setText(f); };
    progress.pump = pumpEvents;

    auto close = [&] {
        animation->setVisible(false);
        if (QMovie* movie = animation->movie()) movie->stop();
        phase->clear();
        folderName->setVisible(false);
        park(m_pProcess);
    };
    try {
        cleanup::RemoveEmptyFolders(fs::nativeFromWide(platform::favoritesFolder()), progress);
    } catch (...) {
        close();
        throw;
    }
    m_meter->setValue(100);
    pumpEvents();
    close();
    ShowPanelCentredIn(done, group);
    pause(kFinishPauseMs);
    done->setVisible(false);
    FinishCleanup();
}

} // namespace signetrix
