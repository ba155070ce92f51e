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

class QLabel;
class QProgressBar;
class QWidget;

namespace signetrix {

namespace platform {
class EmbeddedBrowser;
}

class TForm12;

class CleanupController : public QObject {
    Q_OBJECT

public:
    // Finds its controls in the window by name and connects them. The delete
    // component is dmCommon's "FileOperationDelete" (created there when the
    // data module has none yet).
    explicit CleanupController(TForm12& form);
    ~CleanupController() override;

    // The fixed pauses of the run block the window; tests record them instead.
    using Pause = std::function<void(int milliseconds)>;
    static void setPauseForTesting(Pause pause); // empty restores the blocking wait

    // Summary and corrections.
    void btnCorrectionsClick();
    void btnCancelCorrectionsClick();
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

    // The settings as the controls show them now.
    cleanup::CorrectionSettings correctionSettings() const;
    cleanup::DuplicateMode duplicateMode() const;

    cleanup::RedirectQueue& redirections() { return m_queue; }
    cleanup::DoublonChoices& doublons() { return m_doublons; }
    cleanup::CleanupFiles& files() { return m_files; }

    static constexpr int kFinishPauseMs = 2000;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    template <typename T>
    T* find(const char* name) const;
    void connectControls();
    void placeIn(QWidget* panel, QWidget* groupBox);
    void park(QWidget* panel);
    void syncWindowLists();
    void pause(int ms);

    TForm12& m_form;
    cleanup::CleanupFiles m_files;
    cleanup::RedirectQueue m_queue;
    cleanup::Corrections m_corrections;
    cleanup::DoublonChoices m_doublons;
    bool m_fillingChoices = false;
    bool m_currentHasAddress = false; // the queued favorite on display has an address

    QWidget* m_pProcess;
    QProgressBar* m_meter;
    QWidget* m_pFinish;
    QWidget* m_parking; // where the shared panels wait while not on display
    QWidget* m_gbAnalyse;
    QWidget* m_tsRedirections;
    QLabel* m_lNomURL;
    platform::EmbeddedBrowser* m_preview;
};

} // namespace signetrix
