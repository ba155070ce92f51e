// The cleanup run through the real main window: from "Corriger >>" through
// every step to the start mode, the redirect review in the real preview
// browser against a loopback server, and the duplicate choice page.
#include "platform/Clock.h"
#include "app/DataModules.h"
#include "app/Form12.h"
#include "app/cleanup/CleanupController.h"
#include "platform/desktop/ShellOpen.h"
#include "app/widgets/PageControl.h"
#include "app/widgets/RadioGroup.h"
#include "app/PaintWatch.h"
#include "cleanup/CleanupFixture.h"
#include "platform/browser/EmbeddedBrowser.h"
#include "support/HttpTestServer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDirIterator>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMovie>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <memory>

using namespace signetrix;
using signetrix::test::FavoritesTree;
using signetrix::test::shortcut;
using signetrix::test::child;

namespace {

constexpr int kWait = 20000;

class CleanupWindow : public ::testing::Test {
protected:
    FavoritesTree tree;
    test::ScriptedMessageBoxes boxes;
    TdmCommon common;
    TReVuvidizEdevav program;
    std::unique_ptr<TForm12> form;
    CleanupController* cleanup = nullptr;
    std::vector<int> pauses;
    std::function<void()> duringPause; // looks at the window while a pause runs
    QStringList opened;

    void SetUp() override
    {
        platform::setPauseForTesting([this](int ms) {
            pauses.push_back(ms);
            if (duringPause) duringPause();
        });
        platform::setShellOpenerForTesting([this](const QString& a) { opened.append(a); });
    }
    void TearDown() override
    {
        form.reset();
        platform::setPauseForTesting({});
        platform::setShellOpenerForTesting({});
    }

    // Builds the window once the tree is in place, with the given options.
    void open(bool duplicates, bool emptyFolders, bool backup = true, int mode = 0)
    {
        form = std::make_unique<TForm12>(common, program);
        form->show();
        cleanup = form->findChild<CleanupController*>();
        ASSERT_NE(cleanup, nullptr);
        cleanup->files().setClock([] { return FavoritesTree::testDate(); });
        cleanup->files().setLocale(FavoritesTree::testLocale());
        child<QCheckBox>(form.get(), "chkbDeleteDuplicate")->setChecked(duplicates);
        child<QCheckBox>(form.get(), "chkbDeleteDossierEmpty")->setChecked(emptyFolders);
        child<QCheckBox>(form.get(), "chkbBackupBeforeDelete")->setChecked(backup);
        child<RadioGroup>(form.get(), "rdgModeSectionSuppressionDoublons")->setCurrentIndex(mode);
    }
    void action(const char* key, const QString& text)
    {
        auto* list = child<QComboBox>(form.get(), QStringLiteral("cbError") + QLatin1String(key));
        list->setCurrentIndex(list->findText(text));
        ASSERT_EQ(list->currentText(), text);
    }
    void row(const QString& rel, int code) const { tree.addRow(form->runData().MemoryTable1, rel, code); }
    void click(const char* name) { child<QPushButton>(form.get(), QString::fromLatin1(name))->click(); }
    QWidget* activePage() const { return form->PageControl1()->activePage(); }
    QString text(const char* name) const { return child<QLabel>(form.get(), QString::fromLatin1(name))->text(); }
    bool enabled(const char* name) const { return child<QPushButton>(form.get(), QString::fromLatin1(name))->isEnabled(); }

    // The start mode: the analysis page on display with the start tabs, the
    // favorites listed afresh, the shared panels put away.
    void expectStartMode()
    {
        EXPECT_EQ(activePage(), child<QWidget>(form.get(), "tsAnalyse"));
        EXPECT_TRUE(form->PageControl1()->isPageTabVisible(child<QWidget>(form.get(), "tsAbout")));
        EXPECT_FALSE(form->PageControl1()->isPageTabVisible(child<QWidget>(form.get(), "tsRedirections")));
        EXPECT_FALSE(child<QWidget>(form.get(), "pFinish")->isVisible());
        EXPECT_FALSE(child<QWidget>(form.get(), "pProcess")->isVisible());
        int files = 0;
        for (QDirIterator it(tree.favorites(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();
             it.next())
            ++files;
        EXPECT_EQ(form->FavoriteFiles().size(), files);
    }

    // A tree with something for every step.
    void buildTree()
    {
        tree.write("Dead.url", shortcut("http://dead/"));
        tree.write("Keep.url", shortcut("http://keep/"));
        tree.write("A/Site.url", shortcut("http://a/"));
        tree.write("B/Site.url", shortcut("http://b/"));
        tree.write("Old/Only.url", shortcut("http://only/"));
        tree.mkdir("Empty/Deeper");
    }
    void fillTable()
    {
        row("Keep.url", 200);
        row("A/Site.url", 200);
        row("B/Site.url", 200);
        row("Dead.url", 404);
        row("Old/Only.url", 500);
    }
};

TEST_F(CleanupWindow, CancelOnTheSummaryChangesNothing)
{
    buildTree();
    open(true, true);
    fillTable();
    click("btnCancelCorrections");
    EXPECT_TRUE(tree.exists("Dead.url"));
    EXPECT_TRUE(tree.exists("Empty/Deeper"));
    EXPECT_TRUE(pauses.empty());
    expectStartMode();
}

TEST_F(CleanupWindow, WholeRunInAutomaticModeReachesTheStartMode)
{
    buildTree();
    tree.write("Old/Moved.url", shortcut("http://127.0.0.1:9/moved"));
    open(true, true);
    fillTable();
    row("Old/Moved.url", 301);

    click("btnCorrections");

    // The review holds the run until it is closed; the favorite stays as it was.
    ASSERT_EQ(activePage(), child<QWidget>(form.get(), "tsRedirections"));
    EXPECT_FALSE(tree.exists("Dead.url"));
    EXPECT_TRUE(tree.exists("B/Site.url"));
    EXPECT_TRUE(pauses.empty());
    click("btnQuitterRedirections");

    EXPECT_EQ(tree.read("Old/Moved.url"), shortcut("http://127.0.0.1:9/moved"));
    EXPECT_TRUE(tree.exists("Old"));
    EXPECT_FALSE(tree.exists("Old/Only.url"));
    EXPECT_FALSE(tree.exists("Empty"));
    EXPECT_TRUE(tree.exists("Keep.url"));
    EXPECT_TRUE(tree.exists("A/Site.url"));
    EXPECT_FALSE(tree.exists("B/Site.url"));
    EXPECT_EQ(FavoritesTree::readAbs(tree.archived("Dead.url")), shortcut("http://dead/"));
    EXPECT_EQ(FavoritesTree::readAbs(tree.archived("Old/Only.url")), shortcut("http://only/"));
    EXPECT_EQ(FavoritesTree::readAbs(tree.archived("B/Site.url")), shortcut("http://b/"));
    EXPECT_FALSE(QFileInfo::exists(tree.archived("A/Site.url")));
    // The "folders removed" panel, then the end of the run.
    EXPECT_EQ(pauses, std::vector<int>({2000, 2000}));
    EXPECT_EQ(child<QProgressBar>(form.get(), "OvcMeterProcess")->value(), 100);
    EXPECT_TRUE(boxes.texts().isEmpty()) << boxes.texts().join('\n').toStdString();
    expectStartMode();
}

TEST_F(CleanupWindow, ManualModeAppliesTheChoicesOrCancels)
{
    for (const bool apply : {true, false}) {
        SCOPED_TRACE(apply ? "Appliquer tout" : "Annuler");
        buildTree();
        tree.write("C/Site.url", shortcut("http://c/"));
        tree.write("A/Other.url", shortcut("http://o1/"));
        tree.write("B/Other.url", shortcut("http://o2/"));
        open(true, true, false, 1);
        fillTable();
        row("C/Site.url", 200);
        row("A/Other.url", 200);
        row("B/Other.url", 200);
        pauses.clear();

        click("btnCorrections");

        ASSERT_EQ(activePage(), child<QWidget>(form.get(), "tsDoublons"));
        EXPECT_EQ(text("lDoublonsToProcess"), QStringLiteral("1/2"));
        EXPECT_EQ(text("lDoublonsProcess"), QStringLiteral("Other"));
        EXPECT_FALSE(enabled("btnDoublonsPrev"));
        EXPECT_TRUE(enabled("btnDoublonsNext"));
        auto* members = child<QListWidget>(form.get(), "lbSelectionDoublonAGarder");
        ASSERT_EQ(members->count(), 2);
        EXPECT_EQ(members->item(1)->text(), QStringLiteral("/B/"));
        EXPECT_EQ(members->currentRow(), 0);
        members->setCurrentRow(1);
        click("btnDoublonsNext");
        EXPECT_EQ(text("lDoublonsToProcess"), QStringLiteral("2/2"));
        EXPECT_EQ(text("lDoublonsProcess"), QStringLiteral("Site"));
        ASSERT_EQ(members->count(), 3);
        members->setCurrentRow(2);
        click("btnDoublonsPrev");
        EXPECT_EQ(members->currentRow(), 1); // the choice made before stays

        click(apply ? "btnDeleteDoublons" : "btnQuitterDoublons");

        EXPECT_EQ(tree.exists("A/Other.url"), !apply);
        EXPECT_TRUE(tree.exists("B/Other.url"));
        EXPECT_EQ(tree.exists("A/Site.url"), !apply);
        EXPECT_EQ(tree.exists("B/Site.url"), !apply);
        EXPECT_TRUE(tree.exists("C/Site.url"));
        EXPECT_FALSE(tree.exists("Empty"));
        EXPECT_EQ(pauses, std::vector<int>({2000, 2000}));
        expectStartMode();
        form.reset();
        QDir(tree.favorites()).removeRecursively();
        QDir().mkpath(tree.favorites());
    }
}

// Each fixed pause begins once the window shows the step's final panel: on
// display and painted, so the user reads it for the whole pause.
TEST_F(CleanupWindow, EachPauseShowsThePaintedFinalPanel)
{
    const struct {
        const char* name;
        bool emptyFolders;
        QStringList panels; // on screen at each pause, in order
    } cases[] = {
        {"review closed, empty folders, end", true, {"pDeleteEmptyFolders", "pFinish"}},
        {"review closed straight to the end", false, {"pFinish"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        tree.write("Moved.url", shortcut("http://127.0.0.1:9/moved"));
        tree.mkdir("Empty/Deeper");
        open(false, c.emptyFolders, false);
        row("Moved.url", 301);
        const char* watched[] = {"pDeleteEmptyFolders", "pFinish"};
        std::vector<std::unique_ptr<test::PaintWatch>> watches;
        for (const char* name : watched)
            watches.push_back(std::make_unique<test::PaintWatch>(child<QWidget>(form.get(), name)));
        QStringList onScreen;
        QStringList doneText;
        duringPause = [&] {
            for (size_t i = 0; i < watches.size(); ++i)
                if (watches[i]->onScreen()) onScreen << QString::fromLatin1(watched[i]);
            auto* done = child<QWidget>(form.get(), "pDeleteEmptyFolders");
            if (done->isVisible())
                for (QLabel* label : done->findChildren<QLabel*>()) doneText << label->text();
        };

        click("btnCorrections");
        ASSERT_EQ(activePage(), child<QWidget>(form.get(), "tsRedirections"));
        click("btnQuitterRedirections");

        EXPECT_EQ(onScreen, c.panels);
        EXPECT_EQ(doneText, c.emptyFolders ? QStringList{QStringLiteral("Les dossiers vides ont étés supprimés")}
                                           : QStringList{});
        EXPECT_EQ(tree.exists("Empty"), !c.emptyFolders);
        expectStartMode();
        duringPause = {};
        form.reset();
        pauses.clear();
        QDir(tree.favorites()).removeRecursively();
        QDir().mkpath(tree.favorites());
    }
}

// The empty-folder step of a second run: its folder label starts empty, never
// with a folder of the run before; the animation plays during the step only.
TEST_F(CleanupWindow, EmptyFolderStepStartsCleanAndAnimatesWhileItWorks)
{
    open(false, true, false);
    auto* folderName = child<QLabel>(form.get(), "lEmptyFolderName");
    auto* animation = child<QLabel>(form.get(), "JvGIFAnimatorProcessEmptyFolders");
    ASSERT_NE(animation->movie(), nullptr);
    ASSERT_TRUE(animation->movie()->isValid());
    EXPECT_GT(animation->movie()->frameCount(), 1);

    // The folder label's text as it appears; the animation's state whenever
    // the phase of the working step is painted.
    struct Recorder : QObject {
        QLabel* folderName;
        QLabel* phase;
        QMovie* movie;
        QStringList textsAtShow;
        std::vector<QMovie::MovieState> whileWorking;
        bool eventFilter(QObject* o, QEvent* e) override
        {
            if (o == folderName && e->type() == QEvent::Show) textsAtShow << folderName->text();
            if (o == phase && e->type() == QEvent::Paint && !phase->text().isEmpty())
                whileWorking.push_back(movie->state());
            return false;
        }
    } seen;
    seen.folderName = folderName;
    seen.phase = child<QLabel>(form.get(), "lDeleteEmptyFolders");
    seen.movie = animation->movie();
    folderName->installEventFilter(&seen);
    seen.phase->installEventFilter(&seen);
    std::vector<QMovie::MovieState> states;
    QObject::connect(animation->movie(), &QMovie::stateChanged, &seen,
                     [&](QMovie::MovieState s) { states.push_back(s); });
    std::vector<QMovie::MovieState> atPause;
    duringPause = [&] { atPause.push_back(animation->movie()->state()); };

    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        tree.mkdir(QStringLiteral("Vide%1/Dedans").arg(run));
        form->runData().MemoryTable1.clear();
        click("btnCorrections");
        EXPECT_FALSE(tree.exists(QStringLiteral("Vide%1").arg(run)));
        expectStartMode();
    }
    EXPECT_EQ(seen.textsAtShow, QStringList({QString(), QString()}));
    ASSERT_FALSE(seen.whileWorking.empty());
    EXPECT_EQ(seen.whileWorking, std::vector<QMovie::MovieState>(seen.whileWorking.size(), QMovie::Running));
    EXPECT_EQ(states, std::vector<QMovie::MovieState>({QMovie::Running, QMovie::NotRunning, QMovie::Running,
                                                       QMovie::NotRunning}));
    EXPECT_EQ(atPause, std::vector<QMovie::MovieState>(4, QMovie::NotRunning)); // two per run
    duringPause = {};
}

// The summary as the analysis leaves it: the panel on the analysis page.
QWidget* showSummary(TForm12& form)
{
    auto* summary = child<QWidget>(&form, "pResultatSommaire");
    summary->setParent(child<QWidget>(&form, "gbAnalyse"));
    summary->setVisible(true);
    return summary;
}

QString massDeletionQuestion(int toDelete, int total)
{
    return QStringLiteral("Le nettoyage va supprimer %1 favoris sur %2. Votre connexion Internet était peut-être "
                          "coupée pendant l'analyse. Voulez-vous vraiment continuer ?")
        .arg(toDelete)
        .arg(total);
}

// The network was down during the analysis: every favorite got 1000, whose
// default action deletes it. "Non" keeps everything and the summary; "Oui" on
// the same summary runs the cleanup as configured.
TEST_F(CleanupWindow, NetworkOutageAsksBeforeDeletingAndNonChangesNothing)
{
    const QStringList rels = {"A.url", "B.url", "Sub/C.url", "Sub/D.url", "Sub/Deep/E.url"};
    for (const QString& rel : rels) tree.write(rel, shortcut(QByteArray("http://") + rel.toLatin1() + "/"));
    open(false, false);
    for (const QString& rel : rels) row(rel, 1000);
    QWidget* summary = showSummary(*form);
    auto* gbAnalyse = child<QWidget>(form.get(), "gbAnalyse");

    boxes.answerNext(platform::MessageAnswer::No);
    click("btnCorrections");

    ASSERT_EQ(boxes.texts(), QStringList{massDeletionQuestion(5, 5)});
    EXPECT_EQ(boxes.shown()[0].buttons, platform::MessageButtons::YesNo);
    for (const QString& rel : rels) {
        SCOPED_TRACE(rel.toStdString());
        EXPECT_EQ(tree.read(rel), shortcut(QByteArray("http://") + rel.toLatin1() + "/"));
    }
    EXPECT_FALSE(QFileInfo::exists(tree.exeFolder() + "Devodav Archives"));
    EXPECT_EQ(summary->parentWidget(), gbAnalyse);
    EXPECT_TRUE(summary->isVisible());
    EXPECT_FALSE(child<QWidget>(form.get(), "pProcess")->isVisible());
    EXPECT_EQ(activePage(), child<QWidget>(form.get(), "tsAnalyse"));
    EXPECT_TRUE(pauses.empty());

    boxes.clear();
    boxes.answerNext(platform::MessageAnswer::Yes);
    click("btnCorrections");

    EXPECT_EQ(boxes.texts(), QStringList{massDeletionQuestion(5, 5)});
    for (const QString& rel : rels) {
        SCOPED_TRACE(rel.toStdString());
        EXPECT_FALSE(tree.exists(rel));
        EXPECT_EQ(FavoritesTree::readAbs(tree.archived(rel)), shortcut(QByteArray("http://") + rel.toLatin1() + "/"));
    }
    EXPECT_EQ(pauses, std::vector<int>({2000}));
    expectStartMode();
}

// The question counts what the settings delete, 429 never; below the
// threshold the run goes on without a question.
TEST_F(CleanupWindow, MassDeletionQuestionOnlyAboveHalf)
{
    const struct {
        const char* name;
        std::vector<std::pair<const char*, int>> rows;
        QString question; // empty: none
        std::vector<const char*> deleted;
    } cases[] = {
        {"few deletions", {{"Keep.url", 200}, {"Ok.url", 200}, {"Moved.url", 302}, {"Dead.url", 404}}, QString(),
         {"Dead.url"}},
        {"exactly half", {{"Keep.url", 200}, {"Ok.url", 200}, {"Dead.url", 404}, {"Down.url", 1000}}, QString(),
         {"Dead.url", "Down.url"}},
        {"rate-limited favorites are not counted nor deleted",
         {{"L1.url", 429}, {"L2.url", 429}, {"L3.url", 429}, {"Gone.url", 410}}, QString(), {"Gone.url"}},
        {"three of four", {{"Keep.url", 200}, {"Dead.url", 404}, {"Down.url", 1000}, {"Gone.url", 410}},
         massDeletionQuestion(3, 4), {"Dead.url", "Down.url", "Gone.url"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& [rel, code] : c.rows) tree.write(rel, shortcut("http://site/"));
        open(false, false);
        action("4XX", QStringLiteral("Supprimer"));
        for (const auto& [rel, code] : c.rows) row(rel, code);
        showSummary(*form);
        boxes.clear();
        boxes.answerNext(platform::MessageAnswer::Yes);

        click("btnCorrections");

        EXPECT_EQ(boxes.texts(), c.question.isEmpty() ? QStringList{} : QStringList{c.question});
        for (const auto& [rel, code] : c.rows) {
            SCOPED_TRACE(rel);
            const bool gone = std::find_if(c.deleted.begin(), c.deleted.end(), [&](const char* d) {
                                  return QByteArray(d) == rel;
                              }) != c.deleted.end();
            EXPECT_EQ(tree.exists(rel), !gone);
        }
        expectStartMode();
        form.reset();
        pauses.clear();
        QDir(tree.favorites()).removeRecursively();
        QDir().mkpath(tree.favorites());
    }
}

class RedirectReviewWindow : public CleanupWindow {
protected:
    test::HttpTestServer server;
    platform::EmbeddedBrowser* preview() { return child<platform::EmbeddedBrowser>(form.get(), "WebBrowser2"); }
};

TEST_F(RedirectReviewWindow, NewUrlIsTheLandingAddressAndOtherLinesStay)
{
    // A landing address outside ASCII is written in its encoded form.
    server.route("/old", test::HttpReply::redirect(301, server.url("/land%C3%A9")));
    server.route("/land%C3%A9", test::HttpReply::status(200, "<html><body>Arrived</body></html>")
                                 .header("Content-Type", "text/html"));
    const QByteArray before = "[DEFAULT]\r\nBASEURL=" + server.url("/old") + "\r\n[InternetShortcut]\r\nURL=" +
                              server.url("/old") + "\r\nIconIndex=0\r\nHotKey=0\r\n[Other]\r\nURL=keep\r\n";
    tree.write("Travail/Moved.url", before);
    open(false, false);
    row("Travail/Moved.url", 301);

    click("btnCorrections");

    ASSERT_EQ(activePage(), child<QWidget>(form.get(), "tsRedirections"));
    EXPECT_EQ(text("lFavorisToProcess"), QStringLiteral("1/1"));
    EXPECT_EQ(text("lNomPage"), QStringLiteral("Moved"));
    EXPECT_EQ(text("lNomPath"), QStringLiteral("/Travail/"));
    EXPECT_EQ(text("lNomURL"), QString::fromLatin1(server.url("/old")));
    EXPECT_FALSE(enabled("btnUpdateNext"));
    EXPECT_FALSE(enabled("btnUpdatePrev"));
    EXPECT_TRUE(enabled("btnNewURL"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return preview()->currentAddress().endsWith(QStringLiteral("/landé")); }, kWait));

    click("btnNewURL");

    QByteArray after = before;
    after.replace("URL=" + server.url("/old") + "\r\nIcon", "URL=" + server.url("/land%C3%A9") + "\r\nIcon");
    EXPECT_EQ(tree.read("Travail/Moved.url"), after);
    EXPECT_TRUE(QFileInfo::exists(tree.archived("Travail/Moved.url")));
    EXPECT_EQ(pauses, std::vector<int>{2000});
    expectStartMode();
}

TEST_F(RedirectReviewWindow, QueueNavigationDeleteAndClose)
{
    for (const char* name : {"One", "Two", "Three"})
        tree.write(QString::fromLatin1(name) + ".url", shortcut(server.url("/") + name));
    tree.write("Dir/Four.url", shortcut(server.url("/four")));
    open(false, false, false);
    action("302", QStringLiteral("Mise à jour"));
    row("One.url", 301);
    row("Two.url", 302);
    row("Three.url", 301);
    row("Dir/Four.url", 200);

    click("btnCorrections");
    ASSERT_EQ(activePage(), child<QWidget>(form.get(), "tsRedirections"));
    EXPECT_EQ(text("lFavorisToProcess"), QStringLiteral("1/3"));
    EXPECT_FALSE(enabled("btnUpdatePrev"));
    EXPECT_TRUE(enabled("btnUpdateNext"));

    click("btnUpdateNext");
    click("btnUpdateNext");
    EXPECT_EQ(text("lFavorisToProcess"), QStringLiteral("3/3"));
    EXPECT_EQ(text("lNomPage"), QStringLiteral("Three"));
    EXPECT_FALSE(enabled("btnUpdateNext"));
    EXPECT_TRUE(enabled("btnUpdatePrev"));

    // The address label opens the user's browser.
    QTest::mouseClick(child<QLabel>(form.get(), "lNomURL"), Qt::LeftButton);
    EXPECT_EQ(opened, QStringList{QString::fromLatin1(server.url("/Three"))});

    click("btnUpdatePrev");
    click("btnDeleteFavoris"); // "Two"
    EXPECT_FALSE(tree.exists("Two.url"));
    EXPECT_EQ(text("lFavorisToProcess"), QStringLiteral("1/2"));
    EXPECT_EQ(text("lNomPage"), QStringLiteral("One"));
    EXPECT_FALSE(QFileInfo::exists(tree.exeFolder() + "Devodav Archives"));

    // The preview never opens a window of its own.
    bool cancel = false;
    emit preview()->newWindow(QUrl(server.url("/popup")), &cancel);
    EXPECT_TRUE(cancel);

    click("btnQuitterRedirections");
    EXPECT_EQ(tree.read("One.url"), shortcut(server.url("/One")));
    EXPECT_EQ(tree.read("Three.url"), shortcut(server.url("/Three")));
    expectStartMode();
}

TEST_F(RedirectReviewWindow, RefreshReloadsThePageOnDisplay)
{
    server.route("/page", test::HttpReply::status(200, "<html><body>Page</body></html>").header("Content-Type", "text/html"));
    tree.write("Page.url", shortcut(server.url("/page")));
    open(false, false, false);
    row("Page.url", 301);
    const auto pageRequests = [&] {
        int n = 0;
        for (const test::HttpRequestRecord& r : server.requests()) n += r.target == "/page";
        return n;
    };

    click("btnCorrections");
    ASSERT_TRUE(QTest::qWaitFor([&] { return preview()->currentAddress().endsWith("/page"); }, kWait));
    const int before = pageRequests();
    ASSERT_GE(before, 1);

    click("btnRefresh");

    EXPECT_TRUE(QTest::qWaitFor([&] { return pageRequests() > before; }, kWait));
    EXPECT_EQ(text("lFavorisToProcess"), QStringLiteral("1/1"));
    click("btnQuitterRedirections");
    expectStartMode();
}

// A favorite without an address between two with one: its preview is empty,
// not the page of the favorite before, and "Définir la page en cours comme la
// nouvelle URL" is off for it only.
TEST_F(RedirectReviewWindow, FavoriteWithoutAddressEmptiesThePreview)
{
    for (const char* page : {"/a", "/c"})
        server.route(page, test::HttpReply::status(200, QByteArray("<html><body>Page ") + page + "</body></html>")
                               .header("Content-Type", "text/html"));
    tree.write("A.url", shortcut(server.url("/a")));
    tree.write("NoUrl.url", "[InternetShortcut]\r\nIconIndex=0\r\n");
    // Read as the analysis read it, through its byte-order mark.
    tree.write("C.url", "\xEF\xBB\xBF" + shortcut(server.url("/c")));
    open(false, false, false);
    row("A.url", 301);
    row("NoUrl.url", 301);
    row("C.url", 301);

    click("btnCorrections");
    ASSERT_EQ(text("lNomPage"), QStringLiteral("A"));
    EXPECT_TRUE(enabled("btnNewURL"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return preview()->currentAddress().endsWith("/a"); }, kWait));
    ASSERT_EQ(preview()->bodyInnerText(), QStringLiteral("Page /a"));

    click("btnUpdateNext");
    ASSERT_EQ(text("lNomPage"), QStringLiteral("NoUrl"));
    EXPECT_TRUE(text("lNomURL").isEmpty());
    EXPECT_FALSE(enabled("btnNewURL"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !preview()->currentAddress().endsWith("/a"); }, kWait))
        << preview()->currentAddress().toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !preview()->isLoading(); }, kWait));
    EXPECT_TRUE(preview()->bodyInnerText().isEmpty()) << preview()->bodyInnerText().toStdString();

    click("btnUpdateNext");
    ASSERT_EQ(text("lNomPage"), QStringLiteral("C"));
    EXPECT_EQ(text("lNomURL"), QString::fromLatin1(server.url("/c")));
    EXPECT_TRUE(enabled("btnNewURL"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return preview()->currentAddress().endsWith("/c"); }, kWait));

    click("btnUpdatePrev");
    EXPECT_FALSE(enabled("btnNewURL"));
    click("btnQuitterRedirections");
    EXPECT_EQ(tree.read("A.url"), shortcut(server.url("/a")));
    EXPECT_EQ(tree.read("NoUrl.url"), QByteArray("[InternetShortcut]\r\nIconIndex=0\r\n"));
    expectStartMode();
}

TEST_F(RedirectReviewWindow, NoAddressOrNoUrlNeverEmptiesAFavorite)
{
    tree.write("NoUrl.url", "[InternetShortcut]\r\nIconIndex=0\r\n");
    tree.write("Gone.url", shortcut("http://gone/"));
    open(false, false, false);
    row("NoUrl.url", 301);
    row("Gone.url", 301);

    click("btnCorrections");
    ASSERT_EQ(activePage(), child<QWidget>(form.get(), "tsRedirections"));
    EXPECT_TRUE(text("lNomURL").isEmpty());
    EXPECT_FALSE(enabled("btnNewURL"));

    // Even asked directly, the favorite keeps its bytes.
    cleanup->btnNewURLClick();
    EXPECT_EQ(tree.read("NoUrl.url"), QByteArray("[InternetShortcut]\r\nIconIndex=0\r\n"));
    EXPECT_EQ(text("lFavorisToProcess"), QStringLiteral("1/2"));
    ASSERT_EQ(boxes.texts().size(), 1);
    EXPECT_TRUE(boxes.texts().first().contains(QStringLiteral("garde son adresse")));

    // A favorite removed behind the program's back: the error is shown, the
    // buttons keep working on the queue.
    QFile::remove(tree.abs("Gone.url"));
    click("btnUpdateNext");
    EXPECT_EQ(boxes.texts().size(), 2);
    click("btnDeleteFavoris");
    EXPECT_EQ(text("lFavorisToProcess"), QStringLiteral("1/1"));
    EXPECT_EQ(text("lNomPage"), QStringLiteral("NoUrl"));
    click("btnDeleteFavoris");
    EXPECT_FALSE(tree.exists("NoUrl.url"));
    expectStartMode();
}

} // namespace
