#include "app/analysis/AnalysisController.h"

#include "app/ErrorDisplay.h"
#include "app/EventPump.h"
#include "app/Form12.h"
#include "app/widgets/BusyAnimation.h"
#include "app/widgets/PageControl.h"
#include "analysis/ElapsedTime.h"
#include "favorites/FavoritesFolder.h"
#include "platform/Errors.h"
#include "platform/MessageBoxes.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QMovie>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <utility>

namespace signetrix {
namespace {

AnalysisController::Pause& pauseHook()
{
    static AnalysisController::Pause pause;
    return pause;
}

std::function<QDateTime()>& clockHook()
{
    static std::function<QDateTime()> clock;
    return clock;
}

std::optional<LinkCheckOptions>& optionsHook()
{
    static std::optional<LinkCheckOptions> options;
    return options;
}

QDateTime now()
{
    return clockHook() ? clockHook()() : QDateTime::currentDateTime();
}

constexpr int kPauseAfterRunMs = 2000;

} // namespace

void AnalysisController::setPauseForTesting(Pause pause) { pauseHook() = std::move(pause); }
void AnalysisController::setClockForTesting(std::function<QDateTime()> clock) { clockHook() = std::move(clock); }
void AnalysisController::setCheckOptionsForTesting(std::optional<LinkCheckOptions> options)
{
    optionsHook() = std::move(options);
}

template <typename T>
T* AnalysisController::find(const char* name) const
{
    T* found = m_form.findChild<T*>(QLatin1String(name));
    if (!found) throw Error(QStringLiteral("Missing control %1").arg(QLatin1String(name)));
    return found;
}

AnalysisController::AnalysisController(TForm12& form) : m_form(form)
{
    m_timer = new QTimer(this);
    m_timer->setObjectName(QStringLiteral("tmTempsEcoule"));
    m_timer->setInterval(1000);
    m_meter = find<QProgressBar>("OvcMeterData");
    m_url = find<QLabel>("lFavoriURL");
    m_name = find<QLabel>("lFavoriName");
    m_count = find<QLabel>("lFavorisAnalyse");
    m_start = find<QPushButton>("btnStartAnalyse");
    m_elapsed = find<QLabel>("lFavorisAnalyseTime");
    setBusyAnimation(find<QLabel>("JvGIFAnimatorProcessAnalyse"));
    m_paintTimer = new QTimer(this);
    m_paintTimer->setSingleShot(true);
    connect(m_paintTimer, &QTimer::timeout, this, [this] { applyProgress(); });

    connectHandler(m_start, &QPushButton::clicked, this, [this] { btnStartAnalyseClick(); });
    connectHandler(find<QPushButton>("btnCancelAnalyse"), &QPushButton::clicked, this,
                   [this] { btnCancelAnalyseClick(); });
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
    find<QWidget>("pBeforeAnalyse")->setVisible(false);
    find<QWidget>("pProcessAnalyse")->setVisible(true);
    // Kept to the second, as the label shows it.
    const QDateTime start = now();
    m_startedAt = start.addMSecs(-start.time().msec());
    // The locale's long time format names the time zone; the label shows the
    // clock time only.
    find<QLabel>("lFavorisAnalyseStart")
        ->setText(QLocale().toString(m_startedAt.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                  m_startedAt.time().toString(QStringLiteral("HH:mm:ss")));
    m_elapsed->setText(ElapsedTimeText(0));
    btnScanClick();
}

void AnalysisController::btnScanClick()
{
    if (m_worker || m_running) return;
    m_running = true;
    auto* animation = find<QLabel>("JvGIFAnimatorProcessAnalyse");
    auto* cancel = find<QPushButton>("btnCancelAnalyse");
    auto* progression = find<QLabel>("lProgression");

    m_form.ShowOnlyPage(find<QWidget>("tsAnalyse"));
    animation->setVisible(true);
    if (QMovie* movie = animation->movie()) movie->start();
    m_timer->start();
    cancel->setVisible(true);
    m_form.AnalysisCancelled = false;
    progression->setVisible(true);
    m_meter->setVisible(true);

    bool proxyStepBegun = false;
    try {
        FillFavoritesTable(m_form.FavoriteFiles(), find<QObject>("edFileMax")->property("text").toString(),
                           m_form.MemoryTable1);
        proxyStepBegun = true;
        PrepareProxySettings(m_form.proxyValues(), m_idHttp1, m_proxyRecord);
        const int priority = find<QObject>("rdgPriorite")->property("currentIndex").toInt();
        LinkCheckOptions options = optionsHook().value_or(LinkCheckOptions());
        m_worker = new TThreadCheckURL(*this, m_form.MemoryTable1, priority, m_proxyRecord, options);
        connect(m_worker, &QObject::destroyed, m_start, [start = m_start] { start->setEnabled(true); });
        while (m_meter->value() < 100 && !m_form.AnalysisCancelled)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        // The meter reaches 100 % with the last row, a moment before the worker
        // has ended; wait for it, or a new run asked for at once would be refused.
        while (m_worker && !m_form.AnalysisCancelled) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    } catch (...) {
        showFinalElapsedTime();
        if (proxyStepBegun) paintThenPause(&m_form, kPauseAfterRunMs, pauseHook());
        stopProgressDisplay();
        m_running = false;
        // The run ends where it began: back in the start mode, then the message.
        m_form.LoadFavoritesList();
        throw;
    }
    showFinalElapsedTime();
    paintThenPause(&m_form, kPauseAfterRunMs, pauseHook());
    stopProgressDisplay();
    m_running = false;

    if (m_form.AnalysisCancelled) {
        placeSummaryPanel(false);
        return;
    }
    placeSummaryPanel(true);
    if (auto* setup = m_form.findChild<QWidget*>(QStringLiteral("tsSetup")))
        m_form.PageControl1()->setPageTabVisible(setup, true);
    BuildSummary();
}

void AnalysisController::stopProgressDisplay()
{
    auto* animation = find<QLabel>("JvGIFAnimatorProcessAnalyse");
    animation->setVisible(false);
    if (QMovie* movie = animation->movie()) movie->stop();
    find<QPushButton>("btnCancelAnalyse")->setVisible(false);
    m_meter->setVisible(false);
    find<QLabel>("lProgression")->setVisible(false);
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
    auto* panel = find<QWidget>("pResultatSommaire");
    panel->setParent(find<QGroupBox>("gbAnalyse"));
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
        m_start->setEnabled(false); // until that worker has ended
    }
    m_form.AnalysisCancelled = true;
    m_form.LoadFavoritesList();
}

void AnalysisController::tmTempsEcouleTimer()
{
    if (find<QLabel>("lFavorisAnalyseStart")->text().isEmpty() || !m_startedAt.isValid()) return;
    m_elapsed->setText(ElapsedTimeText(m_startedAt.secsTo(now())));
}

void AnalysisController::BuildSummary()
{
    m_summary = signetrix::BuildSummary(m_form.MemoryTable1);
    auto* designations = find<QLabel>("lSommaireResults");
    auto* counts = find<QLabel>("lSommaireResultsCount");
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

void AnalysisController::refresh()
{
    if (!m_lastPaint.isValid() || m_lastPaint.elapsed() >= kPaintIntervalMs) applyProgress();
    else if (!m_paintTimer->isActive()) m_paintTimer->start(kPaintIntervalMs - int(m_lastPaint.elapsed()));
}

void AnalysisController::applyProgress()
{
    m_paintTimer->stop();
    m_lastPaint.start();
    if (m_pending.url) m_url->setText(*std::exchange(m_pending.url, std::nullopt));
    if (m_pending.name) m_name->setText(*std::exchange(m_pending.name, std::nullopt));
    if (m_pending.count) m_count->setText(*std::exchange(m_pending.count, std::nullopt));
    if (m_pending.meter) m_meter->setValue(*std::exchange(m_pending.meter, std::nullopt));
}

} // namespace signetrix
