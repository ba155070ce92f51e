#pragma once
// The cleanup run of the main window: "Corriger >>" on the summary, the
// corrections with their meter, the redirect review in the preview browser,
// the duplicate choice, the empty-folder removal and the end of the run. The
// file work is done by the cleanup logic; this controller reads the settings
// controls, drives the pages and hands each step over to the next.
//
// Every handler runs inside the general error display: an error ends the
// handler with a message box and leaves the window usable.
#include "cleanup/CleanupFiles.h"
#include "cleanup/Corrections.h"
#include "cleanup/Duplicates.h"
#include "cleanup/RedirectQueue.h"

#include <QObject>
#include <QUrl>

#include <functional>

class QWidget;

namespace Ui {
class AnalysePage;
class ParkingPage4;
class ParkingPage5;
class RedirectionsPage;
class DoublonsPage;
class EmptyFoldersPage;
} // namespace Ui

namespace signetrix {

class TFileOperation;
struct RunData;
class WindowServices;

// The pages a cleanup run acts on.
struct CleanupPages {
    Ui::AnalysePage& analyse;
    Ui::ParkingPage4& summary;     // the summary panel with "Corriger >>"
    Ui::ParkingPage5& panels;      // the progress and closing panels the window lends
    Ui::RedirectionsPage& redirections;
    Ui::DoublonsPage& doublons;
    Ui::EmptyFoldersPage& emptyFolders;
};

class CleanupController : public QObject {
    Q_OBJECT

public:
    // Connects the pages' controls. deleteOperation is the shared delete
    // component that every deletion of the run goes through.
    CleanupController(const CleanupPages& pages, RunData& run, WindowServices& window,
                      TFileOperation& deleteOperation, QObject* parent = nullptr);
    ~CleanupController() override;

    // The fixed pauses of the run block the window (through the platform
    // clock, which tests replace).

    // Summary and corrections.
    void btnCorrectionsClick();
    void btnCancelCorrectionsClick();
    // Asks before a run that would empty most of the favorites (a likely
    // network outage during the analysis); true when the run may go on.
    bool ConfirmMassDeletion();
    void RunCorrections();
    void ContinueCleanup();
    void FinishCleanup();

    // Redirect review.
    QByteArray LoadRedirection();
    void ShowRedirection();
    void btnUpdateNextClick();
    void btnUpdatePrevClick();
    void btnNewURLClick();
    void btnDeleteFavorisClick();
    void btnRefreshClick();
    void btnQuitterRedirectionsClick();
    void lNomURLClick();
    void WebBrowser2NewWindow2(const QUrl& url, bool* cancel);

    // Duplicates.
    void FindDuplicates();
    void ShowDoublonGroup();
    void StoreDoublonChoice();
    void btnDoublonsNextClick();
    void btnDoublonsPrevClick();
    void DeleteDuplicates();
    void btnQuitterDoublonsClick();

    // Empty folders.
    void RemoveEmptyFolders();

    cleanup::CleanupFiles& files() { return m_files; }

    static constexpr int kFinishPauseMs = 2000;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void connectControls();
    void pause(int ms);

    CleanupPages m_pages;
    RunData& m_run;
    WindowServices& m_window;
    cleanup::RedirectQueue& m_queue;     // the run's
    cleanup::DoublonChoices& m_doublons; // the run's
    cleanup::CleanupFiles m_files;
    cleanup::Corrections m_corrections;
    bool m_fillingChoices = false;
    bool m_currentHasAddress = false; // the queued favorite on display has an address
};

} // namespace signetrix
