#include "analysis/ThreadCheckURL.h"

#include "analysis/ConcurrentChecks.h"
#include "analysis/ResultCodes.h"
#include "platform/CodePage.h"
#include "platform/ThreadPriority.h"

#include <algorithm>

namespace signetrix {

WorkerPriority PriorityForIndex(int itemIndex)
{
    switch (itemIndex) {
    case 0: return {QThread::HighestPriority, -5}; // "Prioritaire"
    case 1: return {QThread::NormalPriority, 0};   // "Normale"
    case 2: return {QThread::LowestPriority, 5};   // "Faible"
    case 3: return {QThread::IdlePriority, 19};    // "Arrière plan"
    default: return {QThread::LowPriority, 2};
    }
}

int MeterPercent(int index, int rowCount)
{
    if (rowCount < 2) return index * 100;
    return static_cast<int>(static_cast<qint64>(index) * 100 / (rowCount - 1));
}

QString SecondLookText(int done, int total)
{
    return QStringLiteral("Deuxième vérification des favoris en échec : %1 / %2").arg(done).arg(total);
}

TThreadCheckURL::TThreadCheckURL(CheckProgressView& view, FavoritesTable& table, int priorityIndex,
                                 const tyiProxyConnectionInfo& proxy, const LinkCheckOptions& options,
                                 const CheckPlan& plan)
    : m_view(view), m_table(table), m_proxy(proxy), m_options(options), m_priority(PriorityForIndex(priorityIndex)),
      m_plan(plan)
{
    m_plan.simultaneous = std::clamp(m_plan.simultaneous, 1, kMaxSimultaneousChecks);
    // The worker reads its own copy, so nothing the user-interface thread does
    // to the table can race with it.
    m_entries.reserve(static_cast<size_t>(table.size()));
    for (const FavoriteRow& row : table.rows()) m_entries.push_back({row.iStatut, row.fullUrl, row.stUrl, row.stFile});
    m_options.abort = &m_abandoned;

    m_view.setMeter(0);
    connect(this, &QThread::finished, this, &QObject::deleteLater);
    start(m_priority.qtPriority);
}

TThreadCheckURL::~TThreadCheckURL()
{
    if (!m_runReturned.load()) abandon();
    wait();
    if (m_abandoned.load()) return;
    m_view.setMeter(100);
    emit ended();
}

void TThreadCheckURL::abandon()
{
    {
        std::lock_guard lock(m_syncMutex);
        m_abandoned.store(true);
        m_stop.store(true);
    }
    m_syncDone.notify_all();
    wait();
}

void TThreadCheckURL::synchronize(void (TThreadCheckURL::*method)())
{
    quint64 ticket;
    {
        std::lock_guard lock(m_syncMutex);
        if (m_abandoned.load()) return;
        ticket = ++m_syncIssued;
    }
    QMetaObject::invokeMethod(
        this,
        [this, method, ticket] {
            if (!m_abandoned.load()) (this->*method)();
            {
                std::lock_guard lock(m_syncMutex);
                m_syncFinished = ticket;
            }
            m_syncDone.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(m_syncMutex);
    m_syncDone.wait(lock, [&] { return m_syncFinished >= ticket || m_abandoned.load(); });
}

void TThreadCheckURL::run()
{
    const platform::ThreadScheduling scheduling = platform::adjustCurrentThreadNice(m_priority.niceIncrement);
    m_appliedNice.store(scheduling.nice);
    m_appliedPolicy.store(scheduling.policy);

    if (m_plan.simultaneous > 1) checkSimultaneously();
    else checkOneAfterAnother();
    if (m_plan.secondLook && !m_stop.load() && !m_failed.empty()) secondLook();
    synchronize(&TThreadCheckURL::ClearProgress);
    m_runReturned.store(true);
}

void TThreadCheckURL::noteOutcome(int row, const LinkCheckOutcome& outcome)
{
    FCurrentIndex = row;
    FResult = outcome.code;
    FLocation = outcome.location;
    if (m_plan.secondLook && WorthSecondLook(outcome))
        m_failed.push_back({row, std::chrono::steady_clock::now(), QDateTime::currentDateTimeUtc(), outcome.retryAfter});
}

void TThreadCheckURL::checkOneAfterAnother()
{
    const int n = static_cast<int>(m_entries.size());
    for (int i = 0; i < n; ++i) {
        if (m_stop.load()) break;
        FCurrentIndex = FProgressIndex = i;
        m_rowsDone = i + 1;
        const Entry& entry = m_entries[static_cast<size_t>(i)];
        if (entry.status == kCodeUnreadable) {
            synchronize(&TThreadCheckURL::ShowProgress);
            continue;
        }
        FCurrentUrl = entry.shownUrl;
        FCurrentName = entry.name;
        const LinkCheckOutcome outcome = CheckUrl(entry.url, m_proxy, m_options);
        noteOutcome(i, outcome);
        // A failed request (any status but a whole 2xx answer) skips the progress
        // update; a success writes and shows in one visit to the user-interface thread.
        synchronize(outcome.succeeded() ? &TThreadCheckURL::WriteStatusAndShowProgress : &TThreadCheckURL::WriteStatus);
    }
}

// The same walk with several requests in flight: rows are written as their
// answers come, and the count and the meter follow the favorites finished.
void TThreadCheckURL::checkSimultaneously()
{
    std::vector<CheckJob> jobs;
    std::vector<int> rowOfJob;
    int finished = 0;
    const auto countFinished = [&] {
        FProgressIndex = finished++;
        m_rowsDone = finished;
    };
    for (int i = 0; i < static_cast<int>(m_entries.size()); ++i) {
        if (m_entries[size_t(i)].status == kCodeUnreadable) continue;
        jobs.push_back({m_entries[size_t(i)].url, {}});
        rowOfJob.push_back(i);
    }
    // Unreadable files are passed over at once, as the walk would.
    for (int i = 0; i < static_cast<int>(m_entries.size()) && !m_stop.load(); ++i) {
        if (m_entries[size_t(i)].status != kCodeUnreadable) continue;
        countFinished();
        synchronize(&TThreadCheckURL::ShowProgress);
    }
    if (m_stop.load()) return;
    const ConcurrencyLimits limits{m_plan.simultaneous, m_options.perHostLimit, m_options.hostSpacingMs};
    RunConcurrentChecks(
        jobs, limits, m_proxy, m_options, [this] { return m_stop.load(); },
        [&](size_t job, const LinkCheckOutcome& outcome) {
            const int row = rowOfJob[job];
            const Entry& entry = m_entries[size_t(row)];
            FCurrentUrl = entry.shownUrl;
            FCurrentName = entry.name;
            countFinished();
            noteOutcome(row, outcome);
            synchronize(outcome.succeeded() ? &TThreadCheckURL::WriteStatusAndShowProgress
                                            : &TThreadCheckURL::WriteStatus);
        });
}

// One more request for each failure that often passes, one per host at a
// time, after a pause and any Retry-After the first answer asked for. Only a
// success or a redirect replaces the first code.
void TThreadCheckURL::secondLook()
{
    const auto pauseEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_options.secondLookPauseMs);
    std::vector<CheckJob> jobs;
    for (const Failed& failed : m_failed) {
        const int delay = SecondLookDelayMs(failed.retryAfter, failed.answeredAtUtc, m_options.secondLookPauseMs,
                                            m_options.maxRetryAfterMs);
        jobs.push_back({m_entries[size_t(failed.row)].url,
                        std::max(pauseEnd, failed.answeredAt + std::chrono::milliseconds(delay))});
    }
    FSecondLookDone = 0;
    FSecondLookTotal = static_cast<int>(jobs.size());
    synchronize(&TThreadCheckURL::ShowSecondLook);
    const ConcurrencyLimits limits{kSecondLookHosts, 1, m_options.hostSpacingMs};
    RunConcurrentChecks(
        jobs, limits, m_proxy, m_options, [this] { return m_stop.load(); },
        [&](size_t job, const LinkCheckOutcome& outcome) {
            ++FSecondLookDone;
            if (SecondLookReplaces(outcome.code)) {
                FCurrentIndex = m_failed[job].row;
                FResult = outcome.code;
                FLocation = outcome.location;
                synchronize(&TThreadCheckURL::WriteStatus);
            }
            synchronize(&TThreadCheckURL::ShowSecondLook);
        });
}

void TThreadCheckURL::ShowSecondLook()
{
    try {
        m_view.setSecondLookText(SecondLookText(FSecondLookDone, FSecondLookTotal));
        m_view.refresh();
    } catch (...) {
    }
}

void TThreadCheckURL::WriteStatus()
{
    if (FCurrentIndex >= m_table.size()) return;
    FavoriteRow& row = m_table[FCurrentIndex];
    row.iStatut = FResult;
    row.location = FLocation;
}

void TThreadCheckURL::WriteStatusAndShowProgress()
{
    WriteStatus();
    ShowProgress();
}

void TThreadCheckURL::ShowProgress()
{
    try {
        m_view.setUrlText(codepage::fromAnsi(FCurrentUrl));
        m_view.setNameText(codepage::fromAnsi(FCurrentName));
        m_view.setCountText(QString::number(FProgressIndex + 1));
        m_view.setMeter(MeterPercent(FProgressIndex, static_cast<int>(m_entries.size())));
        m_view.refresh();
    } catch (...) {
        // A display failure must not end the check.
    }
}

void TThreadCheckURL::ClearProgress()
{
    try {
        m_view.setUrlText(QString());
        m_view.setNameText(QString());
        m_view.setSecondLookText(QString());
        m_view.setCountText(QString::number(m_rowsDone));
        m_view.refresh();
    } catch (...) {
    }
}

} // namespace signetrix
