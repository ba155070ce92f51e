// Several checks at once and the second look at failures, against real
// servers on many loopback addresses (each address is a host of its own).
#include "analysis/ConcurrentChecks.h"
#include "analysis/LinkCheck.h"
#include "analysis/ResultCodes.h"
#include "analysis/ThreadCheckURL.h"
#include "analysis/WorkerFixture.h"
#include "support/HttpTestServer.h"

#include <QPointer>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>
#include <set>

namespace signetrix {
namespace {

using namespace std::chrono_literals;
using test::AddRow;
using test::Fast;
using test::HttpReply;
using test::HttpTestServer;
using test::RecordingView;
using test::RunToEnd;
using Kind = HttpReply::Kind;
using SteadyClock = std::chrono::steady_clock;

// Servers on 127.0.0.2, 127.0.0.3, ...
std::vector<std::unique_ptr<HttpTestServer>> Hosts(int count)
{
    std::vector<std::unique_ptr<HttpTestServer>> hosts;
    for (int i = 0; i < count; ++i) {
        hosts.push_back(std::make_unique<HttpTestServer>("127.0.0." + QByteArray::number(i + 2)));
        hosts.back()->addStandardRoutes();
    }
    return hosts;
}

int TotalConnections(const std::vector<std::unique_ptr<HttpTestServer>>& hosts)
{
    int total = 0;
    for (const auto& host : hosts) total += host->connectionCount();
    return total;
}

qint64 Ms(SteadyClock::duration d) { return std::chrono::duration_cast<std::chrono::milliseconds>(d).count(); }

TEST(HostPacing, LimitsEachHostAndSpacesItsStarts)
{
    HostPacing pacing(2, 100ms);
    const auto t0 = SteadyClock::now();
    EXPECT_EQ(pacing.earliestStart("a", t0), t0) << "an unknown host starts at once";
    pacing.started("a", t0);
    EXPECT_EQ(pacing.earliestStart("a", t0 + 30ms), t0 + 100ms) << "the next start waits for the spacing";
    EXPECT_EQ(pacing.earliestStart("b", t0 + 30ms), t0 + 30ms) << "another host is not held back";
    pacing.started("a", t0 + 100ms);
    EXPECT_EQ(pacing.earliestStart("a", t0 + 500ms), std::nullopt) << "two in flight: the host is full";
    pacing.finished("a");
    EXPECT_EQ(pacing.inFlight("a"), 1);
    EXPECT_EQ(pacing.earliestStart("a", t0 + 150ms), t0 + 200ms);
    EXPECT_EQ(pacing.earliestStart("a", t0 + 500ms), t0 + 500ms);
    pacing.finished("a");
    pacing.finished("a"); // one too many is harmless
    EXPECT_EQ(pacing.inFlight("a"), 0);
}

TEST(SecondLookDelay, PausesAtLeastAndHonoursRetryAfterUpToTheCap)
{
    const QDateTime answered(QDate(2026, 12, 10), QTime(12, 0, 0), Qt::UTC);
    const struct { const char* retryAfter; int delayMs; } cases[] = {
        {"", 2000},
        {"1", 2000},
        {"5", 5000},
        {" 7 ", 7000},
        {"60", 60000},
        {"120", 60000},
        {"99999999999999999999", 60000},
        {"-5", 2000},
        {"1.5", 2000},
        {"soon", 2000},
        {"Thu, 10 Dec 2026 12:00:10 GMT", 10000},
        {"Thu, 10 Dec 2026 11:00:00 GMT", 2000},
        {"Fri, 11 Dec 2026 12:00:00 GMT", 60000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.retryAfter);
        EXPECT_EQ(SecondLookDelayMs(c.retryAfter, answered, 2000, 60000), c.delayMs);
    }
}

// Which failures deserve a second look, as the client reports them.
TEST(SecondLook, TimeOutsAndDropsYesRefusalsAndRealAnswersNo)
{
    HttpTestServer server;
    server.addStandardRoutes();
    server.route("/408", HttpReply::status(408));
    server.route("/429", HttpReply::status(429));
    server.route("/502", HttpReply::status(502));
    server.route("/504", HttpReply::status(504));
    const QByteArray refused = "http://127.0.0.1:" + QByteArray::number(test::closedLoopbackPort()) + "/";
    const struct { QByteArray url; int code; bool worth; } cases[] = {
        {server.url("/never"), kCodeNoAnswer, true},  // read time-out
        {server.url("/close"), kCodeNoAnswer, true},  // closed without an answer
        {refused, kCodeNoAnswer, false},
        {"javascript:void(0)", kCodeNoAnswer, false},
        {server.url("/408"), 408, true},
        {server.url("/429"), 429, true},
        {server.url("/500"), 500, true},
        {server.url("/502"), 502, true},
        {server.url("/503"), 503, true},
        {server.url("/504"), 504, true},
        {server.url("/404"), 404, false},
        {server.url("/410"), 410, false},
        {server.url("/301"), 301, false},
        {server.url("/garbage"), kCodeNoAnswer, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url.constData());
        const LinkCheckOutcome outcome = CheckUrl(c.url, {}, Fast());
        EXPECT_EQ(outcome.code, c.code);
        EXPECT_EQ(WorthSecondLook(outcome), c.worth);
    }
}

// A tree over eight hosts with every kind of answer.
struct Tree {
    std::vector<std::unique_ptr<HttpTestServer>> hosts = Hosts(8);
    FavoritesTable table;

    Tree()
    {
        const QByteArray paths[] = {"/200", "/301", "/302", "/404", "/410", "/500", "/503", "/close",
                                    "/garbage", "/never", "/slow", "/200-location", "/650"};
        int n = 0;
        for (const auto& host : hosts)
            for (const QByteArray& path : paths) AddRow(table, host->url(path + "?" + QByteArray::number(n++)), "fav");
        AddRow(table, "http://127.0.0.1:" + QByteArray::number(test::closedLoopbackPort()) + "/", "refused");
        AddRow(table, "javascript:void(0)", "script");
        AddRow(table, "http://127.0.0.2:80a/", "bad port");
        AddRow(table, hosts[0]->url("/200"), "unreadable", kCodeUnreadable);
    }
};

TEST(ConcurrentChecks, SameCodesAsOneAfterAnother)
{
    Tree sequential, simultaneous;
    RecordingView view1, view16;
    ASSERT_TRUE(RunToEnd(view1, sequential.table, 1, Fast(), {1, false}));
    ASSERT_TRUE(RunToEnd(view16, simultaneous.table, 1, Fast(), {16, false}));
    ASSERT_EQ(sequential.table.size(), simultaneous.table.size());
    std::set<int> codes;
    for (int i = 0; i < sequential.table.size(); ++i) {
        SCOPED_TRACE(sequential.table[i].fullUrl.constData());
        EXPECT_EQ(simultaneous.table[i].iStatut, sequential.table[i].iStatut);
        EXPECT_NE(simultaneous.table[i].iStatut, kCodeWaiting) << "every favorite was checked";
        codes.insert(sequential.table[i].iStatut);
        // Locations name each host's own address, so compare them by path.
        const auto path = [](const QByteArray& location) { return location.mid(location.indexOf('/', 8)); };
        EXPECT_EQ(path(simultaneous.table[i].location), path(sequential.table[i].location));
    }
    EXPECT_EQ(codes, (std::set<int>{200, 301, 302, 404, 410, 500, 503, 650, kCodeNoAnswer, kCodeOtherFailure,
                                    kCodeUnreadable}));
    // The worker keeps the Location of the answer, redirect or not.
    EXPECT_EQ(simultaneous.table[1].iStatut, 301);
    EXPECT_EQ(simultaneous.table[1].location, simultaneous.hosts[0]->url("/200"));
    EXPECT_EQ(simultaneous.table[11].location, simultaneous.hosts[0]->url("/200"));
    EXPECT_TRUE(simultaneous.table[0].location.isEmpty());
    for (const auto& host : simultaneous.hosts) EXPECT_EQ(host->requestCount(), 13) << "one GET per favorite";

    // The count and the meter follow the favorites finished, and end on all of them.
    EXPECT_EQ(view16.counts.last(), QString::number(simultaneous.table.size()));
    EXPECT_EQ(view16.meters.front(), 0);
    EXPECT_EQ(view16.meters.back(), 100);
    int previous = -1;
    for (const QString& count : view16.counts) {
        EXPECT_GE(count.toInt(), previous) << "the count never goes back";
        previous = count.toInt();
    }
}

TEST(ConcurrentChecks, AtMostTwoAtATimeToOneHostWithStartsSpaced)
{
    auto hosts = Hosts(6);
    FavoritesTable table;
    for (auto& host : hosts) {
        host->route("/slow", HttpReply::status(200).delayed(600));
        for (int i = 0; i < 5; ++i) AddRow(table, host->url("/slow?" + QByteArray::number(i)), "slow");
    }
    LinkCheckOptions patient = Fast();
    patient.readTimeoutMs = 3000;
    RecordingView view;
    ASSERT_TRUE(RunToEnd(view, table, 1, patient, {16, false}));
    SteadyClock::time_point firstStarts[6];
    for (size_t h = 0; h < hosts.size(); ++h) {
        SCOPED_TRACE(h);
        EXPECT_EQ(hosts[h]->peakOpenConnections(), 2) << "two at once to each host, never more";
        const auto accepted = hosts[h]->acceptTimes();
        ASSERT_EQ(accepted.size(), 5u);
        for (size_t i = 1; i < accepted.size(); ++i) EXPECT_GE(Ms(accepted[i] - accepted[i - 1]), 90);
        firstStarts[h] = accepted.front();
    }
    // The hosts were checked side by side: each one's first request came
    // before any host's first answer (600 ms).
    const auto [earliest, latest] = std::minmax_element(std::begin(firstStarts), std::end(firstStarts));
    EXPECT_LT(Ms(*latest - *earliest), 500);
    for (int i = 0; i < table.size(); ++i) EXPECT_EQ(table[i].iStatut, 200);
}

TEST(ConcurrentChecks, StopStartsNothingNewAndLetsTransfersInFlightEnd)
{
    auto hosts = Hosts(8);
    FavoritesTable table;
    for (auto& host : hosts)
        for (int i = 0; i < 2; ++i) AddRow(table, host->url("/never?" + QByteArray::number(i)), "silent");
    LinkCheckOptions options = Fast();
    options.readTimeoutMs = 1500;
    RecordingView view;
    QPointer<TThreadCheckURL> worker =
        new TThreadCheckURL(view, table, 1, tyiProxyConnectionInfo(), options, CheckPlan{4, true});
    ASSERT_TRUE(QTest::qWaitFor([&] { return TotalConnections(hosts) == 4; }, 10000));
    worker->requestStop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return worker.isNull(); }, 30000));
    int written = 0;
    for (int i = 0; i < table.size(); ++i) {
        if (table[i].iStatut == kCodeWaiting) continue;
        EXPECT_EQ(table[i].iStatut, kCodeNoAnswer);
        ++written;
    }
    EXPECT_EQ(written, 4) << "the four in flight end with their time-out; the rest were never started";
    EXPECT_EQ(TotalConnections(hosts), 4);
    EXPECT_TRUE(view.secondLookTexts.isEmpty()) << "a stopped run takes no second look";
    EXPECT_EQ(view.meters.back(), 100);
}

// Second looks in both modes: passing failures are forgiven once, lasting
// ones stay, real answers are not asked again.
TEST(SecondLook, OneMoreRequestPerPassingFailure)
{
    for (const int simultaneous : {1, 16}) {
        SCOPED_TRACE(simultaneous);
        auto hosts = Hosts(8);
        hosts[0]->routeSequence("/flaky", {HttpReply::status(503), HttpReply::status(200)});
        hosts[1]->routeSequence("/twice", {HttpReply::of(Kind::CloseWithoutAnswer),
                                           HttpReply::of(Kind::CloseWithoutAnswer), HttpReply::status(200)});
        hosts[2]->routeSequence("/busy", {HttpReply::status(429).header("Retry-After", "1"), HttpReply::status(200)});
        hosts[3]->routeSequence("/moved", {HttpReply::status(502), HttpReply::redirect(301, "http://127.0.0.9/new")});
        hosts[4]->route("/down", HttpReply::status(500));
        hosts[5]->routeSequence("/silent", {HttpReply::of(Kind::NeverAnswer), HttpReply::status(200)});
        const QByteArray refused = "http://127.0.0.1:" + QByteArray::number(test::closedLoopbackPort()) + "/";
        const struct { QByteArray url; int code; int requests; } rows[] = {
            {hosts[0]->url("/flaky"), 200, 2},
            {hosts[1]->url("/twice"), kCodeNoAnswer, 2},
            {hosts[2]->url("/busy"), 200, 2},
            {hosts[3]->url("/moved"), 301, 2},
            {hosts[4]->url("/down"), 500, 2},
            {hosts[5]->url("/silent"), 200, 2},
            {hosts[6]->url("/404"), 404, 1},
            {hosts[7]->url("/200"), 200, 1},
            {refused, kCodeNoAnswer, 0},
        };
        FavoritesTable table;
        for (const auto& r : rows) AddRow(table, r.url, "fav");
        LinkCheckOptions options = Fast();
        options.secondLookPauseMs = 200; // so that the Retry-After decides for the 429
        RecordingView view;
        ASSERT_TRUE(RunToEnd(view, table, 1, options, {simultaneous, true}));
        for (size_t i = 0; i < std::size(rows); ++i) {
            SCOPED_TRACE(rows[i].url.constData());
            EXPECT_EQ(table[int(i)].iStatut, rows[i].code);
            if (i < hosts.size()) EXPECT_EQ(hosts[i]->requestCount(), rows[i].requests);
        }
        EXPECT_EQ(table[3].location, "http://127.0.0.9/new") << "the replacing answer brings its Location";
        const auto busy = hosts[2]->acceptTimes();
        ASSERT_EQ(busy.size(), 2u);
        EXPECT_GE(Ms(busy[1] - busy[0]), 950) << "Retry-After: 1 is honoured";
        ASSERT_FALSE(view.secondLookTexts.isEmpty());
        EXPECT_EQ(view.secondLookTexts.front(), "Deuxième vérification des favoris en échec : 0 / 6");
        EXPECT_EQ(view.secondLookTexts.last(), "Deuxième vérification des favoris en échec : 6 / 6");
    }
}

TEST(SecondLook, OneRequestPerHostAtATimeAndOffWhenNotAsked)
{
    auto hosts = Hosts(1);
    hosts[0]->route("/busy", HttpReply::status(503).delayed(300));
    FavoritesTable table;
    for (int i = 0; i < 3; ++i) AddRow(table, hosts[0]->url("/busy?" + QByteArray::number(i)), "busy");
    LinkCheckOptions options = Fast();
    options.secondLookPauseMs = 100;
    RecordingView view;
    ASSERT_TRUE(RunToEnd(view, table, 1, options, {1, true}));
    EXPECT_EQ(hosts[0]->requestCount(), 6);
    EXPECT_EQ(hosts[0]->peakOpenConnections(), 1) << "the second look asks a host one favorite at a time";
    for (int i = 0; i < 3; ++i) EXPECT_EQ(table[i].iStatut, 503);

    hosts[0]->clearRequests();
    FavoritesTable again;
    for (int i = 0; i < 3; ++i) AddRow(again, hosts[0]->url("/busy?" + QByteArray::number(i)), "busy");
    RecordingView quiet;
    ASSERT_TRUE(RunToEnd(quiet, again, 1, options, {16, false}));
    EXPECT_EQ(hosts[0]->requestCount(), 3) << "without the option, one GET per favorite";
    EXPECT_TRUE(quiet.secondLookTexts.isEmpty());
}

} // namespace
} // namespace signetrix
