#include "analysis/ThreadCheckURL.h"

#include "analysis/ResultCodes.h"
#include "platform/CodePage.h"
#include "platform/ThreadPriority.h"

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

TThreadCheckURL::TThreadCheckURL(CheckProgressView& view, FavoritesTable& table, int priorityIndex,
                                 const tyiProxyConnectionInfo& proxy, const LinkCheckOptions& options)
    : m_view(view), m_table(table), m_proxy(proxy), m_options(options), m_priority(PriorityForIndex(priorityIndex))
{
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

    const int n = static_cast<int>(m_entries.size());
    for (int i = 0; i < n; ++i) {
        if (m_stop.load()) break;
        FCurrentIndex = i;
        m_rowsDone = i + 1;
        const Entry& entry = m_entries[static_cast<size_t>(i)];
        if (entry.status == kCodeUnreadable) {
            synchronize(&TThreadCheckURL::ShowProgress);
            continue;
        }
        FCurrentUrl = entry.shownUrl;
        FCurrentName = entry.name;
        const LinkCheckOutcome outcome = CheckUrl(entry.url, m_proxy, m_options);
        FResult = outcome.code;
        // A failed request (any status but a whole 2xx answer) skips the progress
        // update; a success writes and shows in one visit to the user-interface thread.
        synchronize(outcome.succeeded() ? &TThreadCheckURL::WriteStatusAndShowProgress : &TThreadCheckURL::WriteStatus);
    }
    synchronize(&TThreadCheckURL::ClearProgress);
    m_runReturned.store(true);
}

void TThreadCheckURL::WriteStatus()
{
    if (FCurrentIndex < m_table.size()) m_table[FCurrentIndex].iStatut = FResult;
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
        m_view.setCountText(QString::number(FCurrentIndex + 1));
        m_view.setMeter(MeterPercent(FCurrentIndex, static_cast<int>(m_entries.size())));
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
        m_view.setCountText(QString::number(m_rowsDone));
        m_view.refresh();
    } catch (...) {
    }
}

} // namespace signetrix
