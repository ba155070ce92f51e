// The link check worker over a real loopback server: codes written into the
// table, the progress shown, the stop request, shutdown and priorities.
#include "analysis/ResultCodes.h"
#include "analysis/ThreadCheckURL.h"
#include "analysis/WorkerFixture.h"
#include "support/HttpTestServer.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>

#include <sched.h>
#include <sys/resource.h>

namespace signetrix {
namespace {

using test::AddRow;
using test::Fast;
using test::HttpReply;
using test::HttpTestServer;
using test::RecordingView;
using test::RunToEnd;

class WorkerTest : public ::testing::Test {
protected:
    void SetUp() override { server.addStandardRoutes(); }
    HttpTestServer server;
    RecordingView view;
    FavoritesTable table;
};

TEST(MeterPercent, FollowsTheRowCount)
{
    const struct { int index, rows, percent; } cases[] = {
        {0, 0, 0}, {0, 1, 0}, {0, 2, 0}, {1, 2, 100}, {1, 3, 50}, {2, 3, 100}, {1, 4, 33}, {2, 4, 66}, {4999, 5000, 100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.index << " of " << c.rows);
        EXPECT_EQ(MeterPercent(c.index, c.rows), c.percent);
    }
}

TEST(PriorityForIndex, MapsTheFourItems)
{
    const struct { int index; QThread::Priority priority; int nice; } cases[] = {
        {0, QThread::HighestPriority, -5}, {1, QThread::NormalPriority, 0}, {2, QThread::LowestPriority, 5},
        {3, QThread::IdlePriority, 19},    {4, QThread::LowPriority, 2},    {-1, QThread::LowPriority, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.index);
        EXPECT_EQ(PriorityForIndex(c.index).qtPriority, c.priority);
        EXPECT_EQ(PriorityForIndex(c.index).niceIncrement, c.nice);
    }
}

TEST_F(WorkerTest, WritesEveryCodeIntoItsRow)
{
    const QByteArray port = QByteArray::number(server.port());
    const struct { QByteArray url; int initial; int code; } rows[] = {
        {server.url("/200"), kCodeWaiting, 200},
        {server.url("/404"), kCodeWaiting, 404},
        {server.url("/200"), kCodeUnreadable, kCodeUnreadable},
        {server.url("/301"), kCodeWaiting, 301},
        {server.url("/200-location"), kCodeWaiting, 200},
        {"", kCodeWaiting, kCodeNoAnswer},
        {"javascript:void(0)", kCodeWaiting, kCodeNoAnswer},
        {"http://127.0.0.1:" + port + "a/200", kCodeWaiting, kCodeOtherFailure},
        {"https://127.0.0.1:" + port + "/200", kCodeWaiting, kCodeSecureConnection},
        {server.url("/never"), kCodeWaiting, kCodeNoAnswer},
        {server.url("/650"), kCodeWaiting, 650},
    };
    for (const auto& r : rows) AddRow(table, r.url, "name", r.initial);
    ASSERT_TRUE(RunToEnd(view, table));
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(rows[i].url.constData());
        EXPECT_EQ(table[int(i)].iStatut, rows[i].code);
    }
    EXPECT_EQ(server.requestCount(), 6) << "no request for the unreadable file or unusable addresses";
    EXPECT_EQ(view.meters.back(), 100);
}

TEST_F(WorkerTest, ProgressSkipsFailedRowsAndKeepsLabelsOverUnreadableOnes)
{
    AddRow(table, server.url("/200?a"), "first");
    AddRow(table, "", "unreadable", kCodeUnreadable);
    AddRow(table, server.url("/404"), "missing");
    AddRow(table, server.url("/200?b"), "last");
    ASSERT_TRUE(RunToEnd(view, table));
    // Rows 0, 1 and 3 report progress; the failed row 2 does not; then the clear.
    EXPECT_EQ(view.counts, (QStringList{"1", "2", "4", "4"}));
    EXPECT_EQ(view.urlsAtCount[1], QString::fromLatin1(server.url("/200?a"))) << "the unreadable row keeps the labels";
    EXPECT_EQ(view.urlsAtCount[2], QString::fromLatin1(server.url("/200?b")));
    EXPECT_EQ(view.meters, (std::vector<int>{0, 0, 33, 100, 100}));
    EXPECT_TRUE(view.url.isEmpty());
    EXPECT_TRUE(view.name.isEmpty());
}

TEST_F(WorkerTest, MeterEndsAt100ThroughTheReleaseOnly)
{
    const struct { const char* name; std::vector<QByteArray> paths; std::vector<int> meters; } cases[] = {
        {"one row", {"/200"}, {0, 0, 100}},
        {"last row fails", {"/200", "/500"}, {0, 0, 100}},
        {"empty table", {}, {0, 100}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingView fresh;
        FavoritesTable rows;
        for (const QByteArray& path : c.paths) AddRow(rows, server.url(path), "n");
        ASSERT_TRUE(RunToEnd(fresh, rows));
        EXPECT_EQ(fresh.meters, c.meters);
        EXPECT_EQ(fresh.counts.last(), QString::number(c.paths.size())) << "rows done, 0 for an empty table";
    }
}

TEST_F(WorkerTest, ChecksTheUncutAddress)
{
    const QByteArray path = "/" + QByteArray(400, 'p');
    server.route(path, HttpReply::status(200));
    AddRow(table, server.url(path), "long");
    ASSERT_EQ(table[0].stUrl.size(), kFieldWidth);
    ASSERT_TRUE(RunToEnd(view, table));
    EXPECT_EQ(table[0].iStatut, 200);
    EXPECT_EQ(server.requests().front().target, path);
}

TEST_F(WorkerTest, StopRequestEndsBeforeTheNextFavorite)
{
    for (int i = 0; i < 4; ++i) AddRow(table, server.url("/200"), "n");
    QPointer<TThreadCheckURL> worker = new TThreadCheckURL(view, table, 1, tyiProxyConnectionInfo(), Fast());
    view.onCount = [&](const QString&) { if (worker) worker->requestStop(); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return worker.isNull(); }, 30000));
    EXPECT_EQ(table[0].iStatut, 200);
    for (int i = 1; i < 4; ++i) EXPECT_EQ(table[i].iStatut, kCodeWaiting) << i;
    EXPECT_EQ(server.requestCount(), 1);
    EXPECT_EQ(view.meters.back(), 100);
    EXPECT_EQ(view.counts.last(), "1") << "the last count is the rows done";
}

TEST_F(WorkerTest, StopDuringAHangingRequestStillWritesItsCode)
{
    AddRow(table, server.url("/never"), "silent");
    AddRow(table, server.url("/200"), "next");
    QPointer<TThreadCheckURL> worker = new TThreadCheckURL(view, table, 1, tyiProxyConnectionInfo(), Fast());
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.requestCount() == 1; }, 10000));
    worker->requestStop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return worker.isNull(); }, 30000));
    EXPECT_EQ(table[0].iStatut, kCodeNoAnswer);
    EXPECT_EQ(table[1].iStatut, kCodeWaiting);
    EXPECT_EQ(server.requestCount(), 1);
}

TEST_F(WorkerTest, AbandonEndsAtOnceAndTouchesNothingMore)
{
    AddRow(table, server.url("/never"), "silent");
    AddRow(table, server.url("/200"), "next");
    LinkCheckOptions patient = Fast();
    patient.readTimeoutMs = 600000;
    auto* worker = new TThreadCheckURL(view, table, 1, tyiProxyConnectionInfo(), patient);
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.requestCount() == 1; }, 10000));
    const size_t meterCalls = view.meters.size();
    worker->abandon();
    EXPECT_TRUE(worker->isFinished());
    delete worker;
    QCoreApplication::processEvents();
    EXPECT_EQ(view.meters.size(), meterCalls) << "no view call after abandon";
    EXPECT_EQ(table[0].iStatut, kCodeWaiting);
    EXPECT_EQ(table[1].iStatut, kCodeWaiting);
}

TEST_F(WorkerTest, PriorityReachesTheThread)
{
    errno = 0;
    const int base = getpriority(PRIO_PROCESS, 0);
    const struct { int index; int nice; int policy; } cases[] = {
        {1, base, SCHED_OTHER},
        {2, std::min(base + 5, 19), SCHED_OTHER},
        {3, 19, SCHED_IDLE},
        {7, std::min(base + 2, 19), SCHED_OTHER},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.index);
        FavoritesTable rows;
        AddRow(rows, server.url("/200"), "n");
        RecordingView fresh;
        int nice = 0, policy = -1;
        QPointer<TThreadCheckURL> worker = new TThreadCheckURL(fresh, rows, c.index, tyiProxyConnectionInfo(), Fast());
        fresh.onCount = [&](const QString&) { nice = worker->appliedNice(); policy = worker->appliedPolicy(); };
        ASSERT_TRUE(QTest::qWaitFor([&] { return worker.isNull(); }, 30000));
        EXPECT_EQ(nice, c.nice);
        EXPECT_EQ(policy, c.policy);
        EXPECT_EQ(rows[0].iStatut, 200);
    }
    // A raise the system may refuse: either applied or ignored, and the check still runs.
    FavoritesTable rows;
    AddRow(rows, server.url("/200"), "n");
    RecordingView fresh;
    int nice = 0;
    QPointer<TThreadCheckURL> worker = new TThreadCheckURL(fresh, rows, 0, tyiProxyConnectionInfo(), Fast());
    fresh.onCount = [&](const QString&) { nice = worker->appliedNice(); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return worker.isNull(); }, 30000));
    EXPECT_TRUE(nice == base || nice == std::max(base - 5, -20)) << nice;
    EXPECT_EQ(rows[0].iStatut, 200);
}

} // namespace
} // namespace signetrix
