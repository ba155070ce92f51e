#pragma once
// The link check worker: one background thread per analysis that walks the
// favorites table, checks each favorite with one GET (CheckUrl; one after
// another, or several at once on one multi handle when the plan asks) and
// writes the result code into its row, then, when asked, takes a second look
// at the failures that often pass. Every table write and every screen update runs on
// the thread that created the worker (the user-interface thread) while the
// worker waits for it, so the table and the controls are only ever touched
// there. The worker releases itself when it ends; its destructor puts the
// meter at 100 % and then signals ended(), which is what the analysis run
// waits for.
#include "analysis/LinkCheck.h"
#include "favorites/FavoritesTable.h"
#include "net/ProxyRecord.h"

#include <QThread>

#include <QDateTime>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace signetrix {

// The analysis page as the worker sees it. Called on the user-interface thread only.
class CheckProgressView {
public:
    virtual ~CheckProgressView() = default;
    virtual void setMeter(int percent) = 0;          // OvcMeterData
    virtual void setUrlText(const QString& text) = 0; // lFavoriURL
    virtual void setNameText(const QString& text) = 0; // lFavoriName
    virtual void setCountText(const QString& text) = 0; // lFavorisAnalyse
    // What the second look at failures is doing; empty when none is under way.
    virtual void setSecondLookText(const QString& text) = 0;
    virtual void refresh() = 0;                      // repaint what changed
};

// "Priorité d'exécution" item -> thread scheduling on this platform.
struct WorkerPriority {
    QThread::Priority qtPriority;
    int niceIncrement; // added to the thread's nice value; raising needs privileges
};
WorkerPriority PriorityForIndex(int itemIndex);

// Meter value after row `index` of a table of `rowCount` rows.
int MeterPercent(int index, int rowCount);

// How the worker runs its checks.
struct CheckPlan {
    int simultaneous = 1;    // 1: one favorite after another
    bool secondLook = false; // ask once more where a failure often passes
};
inline constexpr int kMaxSimultaneousChecks = 64;
// The second look asks one favorite per host at a time, this many hosts at once.
inline constexpr int kSecondLookHosts = 64;

QString SecondLookText(int done, int total);

class TThreadCheckURL final : public QThread {
    Q_OBJECT
public:
    // Starts at once. `view` and `table` must stay alive until the worker has
    // been destroyed or abandon() has returned.
    TThreadCheckURL(CheckProgressView& view, FavoritesTable& table, int priorityIndex,
                    const tyiProxyConnectionInfo& proxy, const LinkCheckOptions& options = {},
                    const CheckPlan& plan = {});
    ~TThreadCheckURL() override;

    // This worker's own stop request: it starts no further request. The
    // requests in progress end with their answer or their time-out.
    void requestStop() { m_stop.store(true); }

    // For shutdown: stops, ends the request in progress, no longer touches the
    // view or the table, and waits until the thread has returned.
    void abandon();

    // Scheduling the thread actually got (for diagnostics and tests).
    int appliedNice() const { return m_appliedNice.load(); }
    int appliedPolicy() const { return m_appliedPolicy.load(); }

signals:
    // The worker has checked its last favorite (or stopped on request) and is
    // going away; not signalled for an abandoned worker.
    void ended();

public:
    // Runs on the user-interface thread through synchronize().
    void WriteStatus();
    void ShowProgress();
    void ClearProgress();
    void WriteStatusAndShowProgress();
    void ShowSecondLook();

protected:
    void run() override; // Execute

private:
    struct Entry {
        qint32 status;
        QByteArray url;     // uncut address: what is checked
        QByteArray shownUrl; // stUrl
        QByteArray name;    // stFile
    };
    // A failure kept for the second look.
    struct Failed {
        int row;
        std::chrono::steady_clock::time_point answeredAt;
        QDateTime answeredAtUtc;
        QByteArray retryAfter;
    };
    void synchronize(void (TThreadCheckURL::*method)());
    void checkOneAfterAnother();
    void checkSimultaneously();
    void secondLook();
    void noteOutcome(int row, const LinkCheckOutcome& outcome);

    CheckProgressView& m_view;
    FavoritesTable& m_table;
    std::vector<Entry> m_entries; // read-only copy taken on the user-interface thread
    const tyiProxyConnectionInfo m_proxy;
    LinkCheckOptions m_options;
    WorkerPriority m_priority;
    CheckPlan m_plan;
    std::vector<Failed> m_failed; // written by the worker thread only

    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_abandoned{false};
    std::atomic<bool> m_runReturned{false};
    std::atomic<int> m_appliedNice{0};
    std::atomic<int> m_appliedPolicy{-1};

    std::mutex m_syncMutex;
    std::condition_variable m_syncDone;
    quint64 m_syncIssued = 0;
    quint64 m_syncFinished = 0;

    int FCurrentIndex = 0;
    int m_rowsDone = 0; // rows walked, for the last count (0 when none was)
    int FResult = 0;
    QByteArray FLocation;
    int FProgressIndex = 0; // favorites finished, less one: what the count and the meter show
    int FSecondLookDone = 0;
    int FSecondLookTotal = 0;
    QByteArray FCurrentUrl;
    QByteArray FCurrentName;
};

} // namespace signetrix
