#pragma once
// The analysis run of the main window: "Commencer l'analyse" rebuilds the
// favorites table, starts the link check worker and keeps the window
// responsive while it runs; "Annuler l'analyse" stops it after a question; the
// end of the run shows the summary with "Corriger >>" and "Annuler".
//
// Each run has its own worker with its own stop request. While the worker of
// a cancelled run is still finishing its last request, "Commencer l'analyse"
// stays disabled, so a new run never rebuilds the table under a living worker.
// Handlers run inside the general error display.
#include "analysis/LinkCheck.h"
#include "analysis/ResultCodes.h"
#include "analysis/ThreadCheckURL.h"
#include "settings/Proxy.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

#include <functional>
#include <optional>

class QEventLoop;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class QWidget;

namespace Ui {
class AnalysePage;
class ParkingPage4;
} // namespace Ui

namespace signetrix {

struct RunData;
class WindowServices;

class AnalysisController : public QObject, private CheckProgressView {
    Q_OBJECT

public:
    // Connects the analysis page's controls; the summary page holds the
    // summary panel the run fills at its end.
    AnalysisController(Ui::AnalysePage& page, Ui::ParkingPage4& summary, RunData& run, WindowServices& window);
    // A worker still running is abandoned (its request cut short) and awaited.
    ~AnalysisController() override;

    void btnStartAnalyseClick();
    void btnScanClick();
    void btnCancelAnalyseClick();
    void tmTempsEcouleTimer();
    void BuildSummary();

    const Summary& MemoryTableSommaire() const { return m_summary; }
    const tyiProxyConnectionInfo& ProxyRecord() const { return m_proxyRecord; }
    const HttpClientProxySettings& IdHTTP1() const { return m_idHttp1; }
    QTimer* tmTempsEcoule() const { return m_timer; }

    // Seam: the check options (time-outs, CA file) of the workers. The pause
    // after a run and the elapsed time follow the platform clock.
    static void setCheckOptionsForTesting(std::optional<LinkCheckOptions> options);

private:
    // CheckProgressView, on the user-interface thread.
    void setMeter(int percent) override;
    void setUrlText(const QString& text) override;
    void setNameText(const QString& text) override;
    void setCountText(const QString& text) override;
    void setSecondLookText(const QString& text) override;
    void refresh() override;

    void applyProgress();
    void stopProgressDisplay();
    void showFinalElapsedTime();
    void placeSummaryPanel(bool show);

    Ui::AnalysePage& m_page;
    Ui::ParkingPage4& m_summaryPage;
    RunData& m_run;
    WindowServices& m_window;
    QTimer* m_timer = nullptr;
    QEventLoop* m_runLoop = nullptr; // the wait of the run in progress

    static constexpr int kPaintIntervalMs = 40;
    struct PendingProgress {
        std::optional<int> meter;
        std::optional<QString> url, name, count, secondLook;
    } m_pending;
    QTimer* m_paintTimer = nullptr;
    QElapsedTimer m_lastPaint;

    QPointer<TThreadCheckURL> m_worker;
    HttpClientProxySettings m_idHttp1;
    tyiProxyConnectionInfo m_proxyRecord;
    QDateTime m_startedAt;
    Summary m_summary;
    bool m_running = false;
};

} // namespace signetrix
