// The analysis run through the real main window: a favorites tree whose
// shortcuts point at a loopback server, "Commencer l'analyse", the summary,
// cancelling with Yes and No, and a proxy port that is no number.
#include "platform/Clock.h"
#include "app/DataModules.h"
#include "app/Form12.h"
#include "app/analysis/AnalysisController.h"
#include "app/widgets/PageControl.h"
#include "analysis/ResultCodes.h"
#include "app/PaintWatch.h"
#include "support/HttpTestProxy.h"
#include "support/HttpTestServer.h"
#include "support/TestSupport.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMovie>
#include <QProgressBar>
#include <QSpinBox>
#include <QPushButton>
#include <QTest>
#include <QTimeZone>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>

namespace signetrix {
namespace {

using platform::MessageAnswer;
using test::child;
using test::HttpReply;
using test::HttpTestServer;

constexpr char kCancelQuestion[] = "Voulez-vous vraiment annuler l'analyse en cours ?";

class AnalysisRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        server.addStandardRoutes();
        platform::setPauseForTesting([this](int ms) {
            pauses.push_back(ms);
            if (duringPause) duringPause();
        });
        LinkCheckOptions options;
        options.readTimeoutMs = 400;
        AnalysisController::setCheckOptionsForTesting(options);
        ASSERT_TRUE(QDir().mkpath(home.favorites()));
    }
    void TearDown() override
    {
        form.reset();
        platform::setPauseForTesting({});
        platform::setClockForTesting({});
        AnalysisController::setCheckOptionsForTesting(std::nullopt);
    }

    void shortcut(const QString& name, const QByteArray& url)
    {
        QFile file(home.favorites() + '/' + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[InternetShortcut]\r\nURL=" + url + "\r\n");
    }
    void openWindow()
    {
        form = std::make_unique<TForm12>(common, program);
        form->show();
    }
    QPushButton* button(const char* name) { return child<QPushButton>(form.get(), QLatin1String(name)); }
    QLabel* label(const char* name) { return child<QLabel>(form.get(), QLatin1String(name)); }
    QWidget* widget(const char* name) { return child<QWidget>(form.get(), QLatin1String(name)); }
    const FavoriteRow* rowFor(const QByteArray& url)
    {
        for (const FavoriteRow& row : form->runData().MemoryTable1.rows())
            if (row.fullUrl == url) return &row;
        return nullptr;
    }
    // Starts the run, clicks "Annuler l'analyse" once the server has seen its
    // first request and answers the question with `answer`.
    void startAndCancelAtFirstRequest(MessageAnswer answer)
    {
        boxes.answerNext(answer);
        atFirstRequest([this] { button("btnCancelAnalyse")->click(); });
        button("btnStartAnalyse")->click();
    }
    // Runs look once the server has seen the run's first request.
    void atFirstRequest(std::function<void()> look)
    {
        const int before = server.requestCount();
        auto* poll = new QTimer(form.get());
        poll->setInterval(10);
        QObject::connect(poll, &QTimer::timeout, poll, [this, poll, before, look] {
            if (server.requestCount() == before) return;
            poll->deleteLater();
            look();
        });
        poll->start();
    }

    test::ExeFolderGuard exe;
    test::HomeGuard home;
    test::ScriptedMessageBoxes boxes;
    HttpTestServer server;
    std::vector<int> pauses;
    std::function<void()> duringPause; // looks at the window while a pause runs
    TdmCommon common;
    TReVuvidizEdevav program;
    std::unique_ptr<TForm12> form;
};

TEST_F(AnalysisRunTest, AnalysesTheTreeAndShowsTheSummary)
{
    // One answer that takes longer than a tick of the elapsed-time timer.
    LinkCheckOptions options;
    options.readTimeoutMs = 5000;
    AnalysisController::setCheckOptionsForTesting(options);
    server.route("/late", HttpReply::status(200).delayed(1300));
    const QByteArray urls[] = {server.url("/200"), server.url("/200?2"), server.url("/late"), server.url("/404"),
                               server.url("/404?2"), server.url("/301"), server.url("/302"), server.url("/500"),
                               server.url("/650"), "javascript:history.back()"};
    for (int i = 0; i < int(std::size(urls)); ++i) shortcut(QStringLiteral("fav%1.url").arg(i), urls[i]);
    ASSERT_TRUE(QDir().mkpath(home.favorites() + "/Sub"));
    QFile ini(home.favorites() + "/Sub/desktop.ini");
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[.ShellClassInfo]\r\nIconIndex=1\r\n");
    ini.close();

    const QDateTime t0(QDate(2026, 3, 1), QTime(10, 0, 0));
    int clockCalls = 0;
    platform::setClockForTesting([&] { return clockCalls++ == 0 ? t0 : t0.addSecs(3723); });
    openWindow();
    EXPECT_EQ(label("lFavorisTotal0")->text(), "11");

    button("btnStartAnalyse")->click();

    EXPECT_EQ(label("lSommaireResults")->text(),
              QStringLiteral("Valide(s)\n\nRe-direction(s)\n\nRe-direction(s) temporaire(s)\n\n"
                             "Page(s) non trouvée(s)\n\nErreur 5XX\n\nAuthentification(s) requise(s)\n\n"
                             "Domaine(s) inexistant(s)"));
    EXPECT_EQ(label("lSommaireResultsCount")->text(), QStringLiteral("3\n\n1\n\n1\n\n2\n\n1\n\n1\n\n2"));
    EXPECT_EQ(label("lSommaireResults")->width(), kSummaryDesignationWidth);
    QWidget* summary = widget("pResultatSommaire");
    EXPECT_TRUE(summary->isVisible());
    EXPECT_EQ(summary->parentWidget(), widget("gbAnalyse"));
    EXPECT_EQ(summary->pos(), QPoint(32, 160));
    EXPECT_TRUE(widget("pProcessAnalyse")->isVisible());
    EXPECT_FALSE(button("btnCancelAnalyse")->isVisible());
    EXPECT_FALSE(child<QProgressBar>(form.get(), "OvcMeterData")->isVisible());
    EXPECT_TRUE(form->PageControl1()->isPageTabVisible(widget("tsSetup")));
    EXPECT_TRUE(form->PageControl1()->isPageTabVisible(widget("tsAnalyse")));
    EXPECT_EQ(pauses, std::vector<int>{2000});
    EXPECT_EQ(label("lFavorisAnalyseTime")->text(), QStringLiteral("1 h 2 min 3 sec"));
    EXPECT_FALSE(label("lFavorisAnalyseStart")->text().isEmpty());
    EXPECT_EQ(server.requestCount(), 10) << "one GET per usable address, and a second look at the 500";
    EXPECT_TRUE(boxes.texts().isEmpty()) << boxes.texts().join('|').toStdString();
    ASSERT_NE(rowFor(server.url("/650")), nullptr);
    EXPECT_EQ(rowFor(server.url("/650"))->iStatut, 650);

    // "Annuler" on the summary goes back to the start mode.
    button("btnCancelCorrections")->click();
    EXPECT_TRUE(widget("pBeforeAnalyse")->isVisible());
    EXPECT_FALSE(summary->isVisible());
    EXPECT_EQ(label("lFavorisTotal0")->text(), "11");
}

// "Vérifications simultanées" and "Revérifier les favoris en échec" from the
// options page reach the run: several requests at once, the second look shown
// on the analysis page while it runs, and none when the box is unticked.
TEST_F(AnalysisRunTest, OptionsPageChoosesSimultaneousChecksAndTheSecondLook)
{
    server.route("/slow", HttpReply::status(200).delayed(250));
    server.routeSequence("/flaky", {HttpReply::status(503), HttpReply::status(200)});
    for (int i = 0; i < 4; ++i) shortcut(QStringLiteral("slow%1.url").arg(i), server.url("/slow?" + QByteArray::number(i)));
    shortcut("flaky.url", server.url("/flaky"));
    openWindow();
    auto* simultaneous = child<QSpinBox>(form.get(), "seVerificationsSimultanees");
    auto* recheck = child<QCheckBox>(form.get(), "chkbReverifierEchecs");
    EXPECT_EQ(simultaneous->value(), 1) << "one after another by default";
    EXPECT_EQ(simultaneous->minimum(), 1);
    EXPECT_EQ(simultaneous->maximum(), 64);
    EXPECT_TRUE(recheck->isChecked()) << "the second look is on by default";
    simultaneous->setValue(8);

    QStringList secondLookShown;
    auto* watch = new QTimer(form.get());
    watch->setInterval(5);
    QObject::connect(watch, &QTimer::timeout, watch, [&] {
        QLabel* text = label("lSecondeVerification");
        if (text->isVisible() && !secondLookShown.contains(text->text())) secondLookShown << text->text();
    });
    watch->start();
    button("btnStartAnalyse")->click();
    watch->stop();
    EXPECT_EQ(server.peakOpenConnections(), 2) << "two at once to the one host";
    EXPECT_EQ(rowFor(server.url("/flaky"))->iStatut, 200) << "the 503 was forgiven by the second look";
    EXPECT_TRUE(secondLookShown.contains(QStringLiteral("Deuxième vérification des favoris en échec : 0 / 1")))
        << secondLookShown.join('|').toStdString();
    EXPECT_FALSE(label("lSecondeVerification")->isVisible()) << "the text goes with the second look";

    button("btnCancelCorrections")->click();
    server.clearRequests();
    server.routeSequence("/flaky", {HttpReply::status(503), HttpReply::status(200)});
    recheck->setChecked(false);
    button("btnStartAnalyse")->click();
    EXPECT_EQ(rowFor(server.url("/flaky"))->iStatut, 503);
    EXPECT_EQ(server.requestCount(), 5) << "one GET per favorite without the second look";
}

// The network was down: every favorite points at a closed port and gets 1000.
// "Corriger >>" asks before deleting them all, and "Non" keeps every file.
TEST_F(AnalysisRunTest, AnAnalysisWithoutNetworkAsksBeforeTheCleanupDeletesEverything)
{
    QStringList names;
    for (int i = 0; i < 4; ++i) {
        names << QStringLiteral("fav%1.url").arg(i);
        shortcut(names.last(), "http://127.0.0.1:" + QByteArray::number(test::closedLoopbackPort()) + "/");
    }
    openWindow();
    button("btnStartAnalyse")->click();
    for (const FavoriteRow& row : form->runData().MemoryTable1.rows()) EXPECT_EQ(row.iStatut, kCodeNoAnswer);

    boxes.answerNext(MessageAnswer::No);
    button("btnCorrections")->click();
    EXPECT_EQ(boxes.texts(),
              QStringList{QStringLiteral("Le nettoyage va supprimer 4 favoris sur 4. Votre connexion Internet était "
                                         "peut-être coupée pendant l'analyse. Voulez-vous vraiment continuer ?")});
    for (const QString& name : names) EXPECT_TRUE(QFileInfo::exists(home.favorites() + '/' + name)) << name.toStdString();
    EXPECT_TRUE(widget("pResultatSommaire")->isVisible()) << "back on the summary";
}

// The labels of the run on display: "Démarré à :" as the short date and the
// time to the second, without a zone name; "Temps écoulé :" empty as a run
// begins and the final figure at its end, also for a run shorter than one
// tick of its timer; the animation plays during the run only.
TEST_F(AnalysisRunTest, TimeLabelsAndAnimationBelongToTheRunOnDisplay)
{
    struct LocaleGuard {
        QLocale old;
        ~LocaleGuard() { QLocale::setDefault(old); }
    } localeGuard;
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    // The first run outlasts a tick of the timer, the second does not; both
    // are slow enough for the window to be seen during their request.
    LinkCheckOptions options;
    options.readTimeoutMs = 5000;
    AnalysisController::setCheckOptionsForTesting(options);
    server.route("/late", HttpReply::status(200).delayed(1300));
    server.route("/short", HttpReply::status(200).delayed(300));
    const struct {
        const char* path;
        QDateTime start;
        int seconds;
        const char* startText;
        const char* elapsed;
    } runs[] = {
        {"/late", QDateTime(QDate(2026, 12, 10), QTime(10, 10, 38, 600), QTimeZone::utc()), 12, "10/12/2026 10:10:38",
         "12 sec"},
        {"/short", QDateTime(QDate(2027, 1, 2), QTime(9, 5, 7), QTimeZone::utc()), 3, "02/01/2027 09:05:07", "3 sec"},
    };
    shortcut("run.url", server.url(runs[0].path)); // listed as the window opens
    openWindow();
    auto* animation = label("JvGIFAnimatorProcessAnalyse");
    ASSERT_NE(animation->movie(), nullptr);
    ASSERT_TRUE(animation->movie()->isValid());
    EXPECT_GT(animation->movie()->frameCount(), 1);

    for (const auto& run : runs) {
        SCOPED_TRACE(run.path);
        QFile::remove(home.favorites() + "/run.url");
        shortcut("run.url", server.url(run.path));
        int clockCalls = 0;
        platform::setClockForTesting(
            [&] { return clockCalls++ == 0 ? run.start : run.start.addSecs(run.seconds); });
        QString elapsedAtFirstRequest = QStringLiteral("(no request)");
        QMovie::MovieState stateAtFirstRequest = QMovie::NotRunning;
        atFirstRequest([&] {
            elapsedAtFirstRequest = label("lFavorisAnalyseTime")->text();
            stateAtFirstRequest = animation->movie()->state();
        });
        QStringList elapsedAtPause;
        duringPause = [&] { elapsedAtPause << label("lFavorisAnalyseTime")->text(); };

        button("btnStartAnalyse")->click();

        ASSERT_TRUE(widget("pResultatSommaire")->isVisible());
        EXPECT_EQ(label("lFavorisAnalyseStart")->text(), QString::fromLatin1(run.startText));
        EXPECT_TRUE(elapsedAtFirstRequest.isEmpty() || elapsedAtFirstRequest == QLatin1String(run.elapsed))
            << elapsedAtFirstRequest.toStdString();
        EXPECT_EQ(elapsedAtPause, QStringList{QString::fromLatin1(run.elapsed)});
        EXPECT_EQ(label("lFavorisAnalyseTime")->text(), QString::fromLatin1(run.elapsed));
        EXPECT_EQ(stateAtFirstRequest, QMovie::Running);
        EXPECT_EQ(animation->movie()->state(), QMovie::NotRunning);
        button("btnCancelCorrections")->click();
    }
    duringPause = {};
}

// The summary appears with the last row's result, while the worker is still
// ending; leaving the summary and starting again at once must start a run.
TEST_F(AnalysisRunTest, ASecondRunStartsRightAfterTheFirst)
{
    shortcut(QStringLiteral("a.url"), server.url("/200"));
    shortcut(QStringLiteral("b.url"), server.url("/404"));
    openWindow();
    for (int run = 1; run <= 3; ++run) {
        SCOPED_TRACE(run);
        form->runData().MemoryTable1.clear();
        button("btnStartAnalyse")->click();
        ASSERT_EQ(form->runData().MemoryTable1.size(), 2);
        EXPECT_EQ(server.requestCount(), 2 * run);
        EXPECT_TRUE(widget("pResultatSommaire")->isVisible());
        button("btnCancelCorrections")->click();
    }
}

TEST_F(AnalysisRunTest, EmptyTreeEndsWithAnEmptySummary)
{
    openWindow();
    button("btnStartAnalyse")->click();
    EXPECT_TRUE(widget("pResultatSommaire")->isVisible());
    EXPECT_TRUE(label("lSommaireResults")->text().isEmpty());
    EXPECT_TRUE(label("lSommaireResultsCount")->text().isEmpty());
    EXPECT_EQ(label("lFavorisAnalyse")->text(), "0");
}

TEST_F(AnalysisRunTest, CancelNoLetsTheRunGoOn)
{
    server.route("/late", HttpReply::status(200).delayed(300));
    shortcut("a.url", server.url("/late"));
    shortcut("b.url", server.url("/404"));
    openWindow();
    startAndCancelAtFirstRequest(MessageAnswer::No);
    EXPECT_EQ(boxes.texts(), QStringList{kCancelQuestion});
    EXPECT_FALSE(form->runData().AnalysisCancelled);
    EXPECT_TRUE(widget("pResultatSommaire")->isVisible());
    EXPECT_EQ(label("lSommaireResults")->text(), QStringLiteral("Valide(s)\n\nPage(s) non trouvée(s)"));
}

// Cancelled while a request hangs: the window is back in the start mode at
// once; the old worker finishes that request in the background and writes
// its code, and no new run can start until it has ended.
TEST_F(AnalysisRunTest, CancelYesWhileARequestHangs)
{
    LinkCheckOptions options;
    options.readTimeoutMs = 1500;
    AnalysisController::setCheckOptionsForTesting(options);
    shortcut("a.url", server.url("/never"));
    shortcut("b.url", server.url("/never?2"));
    openWindow();
    test::PaintWatch startPanel(widget("pBeforeAnalyse"));
    std::vector<bool> startModeOnScreen;
    duringPause = [&] { startModeOnScreen.push_back(startPanel.onScreen()); };
    startAndCancelAtFirstRequest(MessageAnswer::Yes);
    EXPECT_EQ(startModeOnScreen, std::vector<bool>{true}) << "the pause began before the start mode was painted";
    duringPause = {};

    EXPECT_EQ(boxes.texts(), QStringList{kCancelQuestion});
    EXPECT_TRUE(form->runData().AnalysisCancelled);
    EXPECT_TRUE(widget("pBeforeAnalyse")->isVisible());
    EXPECT_FALSE(widget("pResultatSommaire")->isVisible());
    EXPECT_FALSE(widget("pProcessAnalyse")->isVisible());
    EXPECT_EQ(pauses, std::vector<int>{2000});

    // The old worker is still inside its request: no new run may start.
    QPushButton* start = button("btnStartAnalyse");
    EXPECT_FALSE(start->isEnabled());
    start->click();
    QMetaObject::invokeMethod(start, "clicked", Qt::DirectConnection, Q_ARG(bool, false));
    EXPECT_TRUE(widget("pBeforeAnalyse")->isVisible()) << "a second run started under a living worker";
    EXPECT_EQ(server.requestCount(), 1);

    ASSERT_TRUE(QTest::qWaitFor([&] { return start->isEnabled(); }, 10000));
    int coded = 0;
    for (const FavoriteRow& row : form->runData().MemoryTable1.rows()) {
        if (row.iStatut == kCodeNoAnswer) ++coded;
        else EXPECT_EQ(row.iStatut, kCodeWaiting);
    }
    EXPECT_EQ(coded, 1) << "the hanging favorite gets its code, the next one is not checked";
    EXPECT_EQ(server.requestCount(), 1);

    // Once it has ended, a new run goes through.
    options.readTimeoutMs = 200;
    AnalysisController::setCheckOptionsForTesting(options);
    form->runData().AnalysisCancelled = false;
    start->click();
    EXPECT_TRUE(widget("pResultatSommaire")->isVisible());
    EXPECT_EQ(label("lSommaireResults")->text(), QStringLiteral("Domaine(s) inexistant(s)"));
    EXPECT_EQ(label("lSommaireResultsCount")->text(), QStringLiteral("2"));
}

// A setting that should be a whole number ends the run at its step with the
// conversion message; the pause follows only once the proxy step has begun.
TEST_F(AnalysisRunTest, SettingThatIsNoNumberStopsBeforeAnyRequest)
{
    const struct {
        const char* name;
        const char* fileLimit;
        const char* proxyPort;
        const char* message;
        std::vector<int> pauses;
    } cases[] = {
        {"proxy port", "", "80a", "'80a' is not a valid integer value", {2000}},
        {"file limit", "abc", "8080", "'abc' is not a valid integer value", {}},
    };
    shortcut("a.url", server.url("/200"));
    openWindow();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        boxes.clear();
        pauses.clear();
        form->findChild<QObject*>(QStringLiteral("edFileMax"))->setProperty("text", QString::fromLatin1(c.fileLimit));
        child<QCheckBox>(form.get(), "chkbProxy")->setChecked(true);
        child<QLineEdit>(form.get(), "edProxyPort")->setText(QString::fromLatin1(c.proxyPort));
        button("btnStartAnalyse")->click();

        ASSERT_EQ(boxes.texts().size(), 1);
        EXPECT_TRUE(boxes.texts().front().startsWith(QString::fromLatin1(c.message))) << boxes.texts().front().toStdString();
        EXPECT_EQ(server.requestCount(), 0);
        EXPECT_TRUE(widget("pBeforeAnalyse")->isVisible()) << "back in the start mode";
        EXPECT_FALSE(widget("pResultatSommaire")->isVisible());
        EXPECT_FALSE(button("btnCancelAnalyse")->isVisible());
        EXPECT_EQ(pauses, c.pauses);
        EXPECT_TRUE(button("btnStartAnalyse")->isEnabled());
    }
}

TEST_F(AnalysisRunTest, ChecksThroughTheConfiguredProxy)
{
    test::HttpTestProxy proxy;
    proxy.requireAuthorization("Basic Og==");
    shortcut("a.url", server.url("/410"));
    openWindow();
    child<QCheckBox>(form.get(), "chkbProxy")->setChecked(true);
    child<QLineEdit>(form.get(), "edProxyHote")->setText("127.0.0.1");
    child<QLineEdit>(form.get(), "edProxyPort")->setText(QString::number(proxy.port()));
    button("btnStartAnalyse")->click();

    EXPECT_EQ(label("lSommaireResults")->text(), QStringLiteral("Erreur 4XX"));
    ASSERT_EQ(proxy.requests().size(), 1u);
    EXPECT_EQ(proxy.requests().front().target, server.url("/410"));
    EXPECT_EQ(server.requestCount(), 1);
}

} // namespace
} // namespace signetrix
