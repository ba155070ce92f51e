#include "app/analysis/AnalysisController.h"

#include "app/ErrorDisplay.h"
#include "app/EventPump.h"
#include "app/RunData.h"
#include "app/WindowServices.h"
#include "app/widgets/BusyAnimation.h"
#include "app/widgets/PageControl.h"
#include "analysis/ElapsedTime.h"
#include "favorites/FavoritesFolder.h"
#include "platform/Clock.h"
#include "platform/MessageBoxes.h"
#include "ui_AnalysePage.h"
#include "ui_ParkingPages4.h"

#include <QEventLoop>
#include <QLabel>
#include <QLocale>
#include <QMovie>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <utility>

namespace signetrix {
namespace {

std::optional<LinkCheckOptions>& optionsHook()
{
    static std::optional<LinkCheckOptions> options;
    return options;
}

QDateTime now() { return platform::now(); }

constexpr int kPauseAfterRunMs = 2000;

} // namespace

void AnalysisController::setCheckOptionsForTesting(std::optional<LinkCheckOptions> options)
{
    optionsHook() = std::move(options);
}

AnalysisController::AnalysisController(Ui::AnalysePage& page, Ui::ParkingPage4& summary, RunData& run,
                                       WindowServices& window)
    : m_page(page), m_summaryPage(summary), m_run(run), m_window(window)
{
    m_timer = new QTimer(this);
    m_timer->setObjectName(QStringLiteral("tmTempsEcoule"));
    m_timer->setInterval(1000);
    setBusyAnimation(m_page.JvGIFAnimatorProcessAnalyse);
    m_paintTimer = new QTimer(this);
    m_paintTimer->setSingleShot(true);
    connect(m_paintTimer, &QTimer::timeout, this, [this] { applyProgress(); });

    connectHandler(m_page.btnStartAnalyse, &QPushButton::clicked, this, [this] { btnStartAnalyseClick(); });
    connectHandler(m_page.btnCancelAnalyse, &QPushButton::clicked, this, [this] { btnCancelAnalyseClick(); });
    connectHandler(m_timer, &QTimer::timeout, this, [this] { tmTempsEcouleTimer(); });
}

AnalysisController::~AnalysisController()
{
    if (m_worker) {
        m_worker->abandon();
        delete m_worker.data();
    }
}

void AnalysisController::btnStartAnalyseClick()
{
    if (m_worker || m_running) return; // the last run's worker is still finishing
    m_page.pBeforeAnalyse->setVisible(false);
    m_page.pProcessAnalyse->setVisible(true);
    // Kept to the second, as the label shows it.
    const QDateTime start = now();
    m_startedAt = start.addMSecs(-start.time().msec());
    // The locale's long time format names the time zone; the label shows the
    // clock time only.
    m_page.lFavorisAnalyseStart->setText(QLocale().toString(m_startedAt.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                  m_startedAt.time().toString(QStringLiteral("HH:mm:ss")));
    m_page.lFavorisAnalyseTime->setText(ElapsedTimeText(0));
    btnScanClick();
}

void AnalysisController::btnScanClick()
{
    if (m_worker || m_running) return;
    m_running = true;
    QLabel* animation = m_page.JvGIFAnimatorProcessAnalyse;

    m_window.ShowOnlyPage(m_page.gbAnalyse->parentWidget());
    animation->setVisible(true);
    if (QMovie* movie = animation->movie()) movie->start();
    m_timer->start();
    m_page.btnCancelAnalyse->setVisible(true);
    m_run.AnalysisCancelled = false;
    m_page.lProgression->setVisible(true);
    m_page.OvcMeterData->setVisible(true);

    bool proxyStepBegun = false;
    try {
        const RunSettings settings = m_window.runSettings();
        FillFavoritesTable(m_run.favoriteFiles, settings.fileLimitText, m_run.MemoryTable1);
        proxyStepBegun = true;
        PrepareProxySettings(settings.proxy, m_idHttp1, m_proxyRecord);
        LinkCheckOptions options = optionsHook().value_or(LinkCheckOptions());
        CheckPlan plan;
        plan.simultaneous = settings.simultaneousChecks;
        plan.secondLook = settings.recheckFailures;
        m_worker = new TThreadCheckURL(*this, m_run.MemoryTable1, settings.priorityIndex, m_proxyRecord, options, plan);
        QPushButton* start = m_page.btnStartAnalyse;
        connect(m_worker, &QObject::destroyed, start, [start] { start->setEnabled(true); });
        // The run ends when its worker has ended (the meter then stands at
        // 100 %), or at once when the user cancels it.
        QEventLoop loop;
        connect(m_worker, &TThreadCheckURL::ended, &loop, &QEventLoop::quit, Qt::QueuedConnection);
        m_runLoop = &loop;
        loop.exec();
        m_runLoop = nullptr;
    } catch (...) {
        showFinalElapsedTime();
        m_runLoop = nullptr;
        if (proxyStepBegun) paintThenPause(m_window.window(), kPauseAfterRunMs);
        stopProgressDisplay();
        m_running = false;
        // The run ends where it began: back in the start mode, then the message.
        m_window.LoadFavoritesList();
        throw;
    }
    showFinalElapsedTime();
    paintThenPause(m_window.window(), kPauseAfterRunMs);
    stopProgressDisplay();
    m_running = false;

    if (m_run.AnalysisCancelled) {
        placeSummaryPanel(false);
        return;
    }
    placeSummaryPanel(true);
    m_window.ShowSetupTab();
    BuildSummary();
}

void AnalysisController::stopProgressDisplay()
{
    QLabel* animation = m_page.JvGIFAnimatorProcessAnalyse;
    animation->setVisible(false);
    if (QMovie* movie = animation->movie()) movie->stop();
    m_page.btnCancelAnalyse->setVisible(false);
    m_page.OvcMeterData->setVisible(false);
    m_page.lProgression->setVisible(false);
    m_timer->stop();
}

// A run shorter than a tick of the timer would otherwise end without its figure.
void AnalysisController::showFinalElapsedTime()
{
    m_timer->stop();
    tmTempsEcouleTimer();
}

void AnalysisController::placeSummaryPanel(bool show)
{
    QWidget* panel = m_window.SummaryPanel();
    panel->setParent(m_page.gbAnalyse);
    if (show) {
        panel->move(32, 160);
        panel->setVisible(true);
        panel->raise();
    } else {
        panel->setVisible(false);
    }
}

void AnalysisController::btnCancelAnalyseClick()
{
    if (!platform::confirm(QStringLiteral("Voulez-vous vraiment annuler l'analyse en cours ?"))) return;
    if (m_worker) {
        m_worker->requestStop();
        m_page.btnStartAnalyse->setEnabled(false); // until that worker has ended
    }
    m_run.AnalysisCancelled = true;
    if (m_runLoop) m_runLoop->quit();
    m_window.LoadFavoritesList();
}

void AnalysisController::tmTempsEcouleTimer()
{
    if (m_page.lFavorisAnalyseStart->text().isEmpty() || !m_startedAt.isValid()) return;
    m_page.lFavorisAnalyseTime->setText(ElapsedTimeText(m_startedAt.secsTo(now())));
}

void AnalysisController::BuildSummary()
{
    m_summary = signetrix::BuildSummary(m_run.MemoryTable1);
    QLabel* designations = m_summaryPage.lSommaireResults;
    QLabel* counts = m_summaryPage.lSommaireResultsCount;
    designations->setText(m_summary.designationColumn);
    counts->setText(m_summary.countColumn);
    designations->setFixedWidth(kSummaryDesignationWidth);
}

// The worker reports every favorite; the screen follows at most every
// kPaintIntervalMs, always with the latest values, so a fast run spends its
// time checking rather than painting. The start and the end (0 and 100 %)
// reach the meter at once: the run waits on it.
void AnalysisController::setMeter(int percent)
{
    m_pending.meter = percent;
    if (percent == 0 || percent >= 100) applyProgress();
}
void AnalysisController::setUrlText(const QString& text) { m_pending.url = text; }
void AnalysisController::setNameText(const QString& text) { m_pending.name = text; }
void AnalysisController::setCountText(const QString& text) { m_pending.count = text; }
void AnalysisController::setSecondLookText(const QString& text) { m_pending.secondLook = text; }

void AnalysisController::refresh()
{
    if (!m_lastPaint.isValid() || m_lastPaint.elapsed() >= kPaintIntervalMs) applyProgress();
    else if (!m_paintTimer->isActive()) m_paintTimer->start(kPaintIntervalMs - int(m_lastPaint.elapsed()));
}

void AnalysisController::applyProgress()
{
    m_paintTimer->stop();
    m_lastPaint.start();
    if (m_pending.url) m_page.lFavoriURL->setText(*std::exchange(m_pending.url, std::nullopt));
    if (m_pending.name) m_page.lFavoriName->setText(*std::exchange(m_pending.name, std::nullopt));
    if (m_pending.count) m_page.lFavorisAnalyse->setText(*std::exchange(m_pending.count, std::nullopt));
    if (m_pending.meter) m_page.OvcMeterData->setValue(*std::exchange(m_pending.meter, std::nullopt));
    if (m_pending.secondLook) {
        const QString text = *std::exchange(m_pending.secondLook, std::nullopt);
        m_page.lSecondeVerification->setText(text);
        m_page.lSecondeVerification->setVisible(!text.isEmpty());
    }
}

} // namespace signetrix
