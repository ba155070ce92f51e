#include "CleanupFixture.h"
#include "cleanup/Corrections.h"

#include "platform/Errors.h"

#include <QDir>
#include <QFileInfo>
#include <iostream>

using namespace signetrix;
using namespace signetrix::cleanup;
using signetrix::test::CodePageGuard;
using signetrix::test::FavoritesTree;
using signetrix::test::shortcut;

namespace {

TEST(CategoryKey, MapsEveryResultCodeToItsCategory)
{
    const struct {
        int code;
        const char* key;
    } cases[] = {{9, "9"},       {301, "301"}, {302, "302"}, {300, "3XX"}, {303, "3XX"}, {304, "3XX"},
                 {399, "3XX"},   {404, "404"}, {400, "4XX"}, {403, "4XX"}, {405, "4XX"}, {499, "4XX"},
                 {500, "5XX"},   {599, "5XX"}, {777, "777"}, {1000, "1000"}, {200, ""},  {0, ""},
                 {8, ""},        {10, ""},     {299, ""},    {600, ""},    {776, ""},    {778, ""},
                 {888, ""},      {999, ""},    {1001, ""},   {-1, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(CategoryKey(c.code), QString::fromLatin1(c.key));
    }
}

TEST(CategoryKey, ActionIsThePositionOfTheTextAmongTheActionWords)
{
    EXPECT_EQ(ActionForText(QStringLiteral("Aucun")), CategoryAction::None);
    EXPECT_EQ(ActionForText(QStringLiteral("Mise à jour")), CategoryAction::Update);
    EXPECT_EQ(ActionForText(QStringLiteral("Supprimer")), CategoryAction::Delete);
    EXPECT_EQ(ActionForText(QStringLiteral("supprimer")), CategoryAction::None);
    EXPECT_EQ(ActionForText(QString()), CategoryAction::None);
}

TEST(CategoryKey, DefaultsGiveEachCategoryItsAction)
{
    const struct {
        const char* key;
        CategoryAction action;
    } cases[] = {{"301", CategoryAction::Update}, {"302", CategoryAction::None},  {"3XX", CategoryAction::Delete},
                 {"404", CategoryAction::Delete}, {"4XX", CategoryAction::Delete}, {"5XX", CategoryAction::Delete},
                 {"777", CategoryAction::None},   {"1000", CategoryAction::Delete}, {"9", CategoryAction::Delete}};
    const CorrectionSettings defaults = DefaultCorrectionSettings();
    EXPECT_EQ(defaults.actionTexts.size(), CategoryKeys().size());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        const QString text = defaults.actionTexts.value(QString::fromLatin1(c.key));
        EXPECT_TRUE(ActionWords().contains(text)) << text.toStdString();
        EXPECT_EQ(ActionForText(text), c.action);
    }
    EXPECT_TRUE(defaults.backupBeforeDelete);
}

TEST(ArchiveTarget, ReplacesTheFavoritesFolderByTheDatedArchiveFolder)
{
    const QByteArray root = "/home/u/Favorites", base = "/opt/app/Devodav Archives/09-12-2026";
    EXPECT_EQ(ArchiveTarget(root + "/Travail/Outils/Site.url", root, base), base + "/Travail/Outils/Site.url");
    EXPECT_EQ(ArchiveTarget(root + "/Site.url", root, base), base + "/Site.url");
    // Outside the favorites folder, or no folder at all: no target, never the file itself.
    EXPECT_TRUE(ArchiveTarget("/home/u/Favorites2/Site.url", root, base).isEmpty());
    EXPECT_TRUE(ArchiveTarget("/elsewhere/Favorites/Site.url", root, base).isEmpty());
    EXPECT_TRUE(ArchiveTarget(root + "/Site.url", QByteArray(), base).isEmpty());
}

TEST(ArchiveTarget, DateFolderIsOneFolderLevel)
{
    const QDate date(2026, 12, 9);
    EXPECT_EQ(ArchiveDateText(date, QLocale(QLocale::French, QLocale::France)), QStringLiteral("09-12-2026"));
    for (const QLocale& l : {QLocale(QLocale::English, QLocale::UnitedStates), QLocale(QLocale::German),
                             QLocale(QLocale::Japanese), QLocale::c()}) {
        SCOPED_TRACE(l.name().toStdString());
        const QString text = ArchiveDateText(date, l);
        EXPECT_FALSE(text.isEmpty());
        EXPECT_FALSE(text.contains('/'));
        EXPECT_TRUE(text.contains(QStringLiteral("26")));
    }
}

// The main fixture: a tree with sub-folders, hidden and read-only files, and a
// result code for every favorite.
struct Expect {
    const char* rel;
    int code;
    bool kept;
    bool archived;
};

class CorrectionsRun : public ::testing::Test {
protected:
    FavoritesTree tree;
    TFileOperation deleteOp;
    CleanupFiles files{deleteOp};
    RedirectQueue queue;
    Corrections corrections{files, queue};
    FavoritesTable table;

    void SetUp() override
    {
        tree.fixClock(files);
        deleteOp.Operation = TStFileOp::fopDelete;
    }

    void build(const std::vector<Expect>& rows)
    {
        for (const Expect& e : rows) {
            tree.write(QString::fromUtf8(e.rel), shortcut(QByteArray("http://example.test/") + e.rel));
            tree.addRow(table, QString::fromUtf8(e.rel), e.code);
        }
    }

    void check(const std::vector<Expect>& rows)
    {
        for (const Expect& e : rows) {
            SCOPED_TRACE(e.rel);
            const QString rel = QString::fromUtf8(e.rel);
            EXPECT_EQ(tree.exists(rel), e.kept);
            const QByteArray copy = FavoritesTree::readAbs(tree.archived(rel));
            EXPECT_EQ(QFileInfo::exists(tree.archived(rel)), e.archived);
            if (e.archived) {
                EXPECT_EQ(copy, shortcut(QByteArray("http://example.test/") + e.rel));
            }
        }
    }
};

TEST_F(CorrectionsRun, DefaultSettingsArchiveEveryCategorisedFavoriteAndApplyItsAction)
{
    const std::vector<Expect> rows = {
        {"Valid.url", 200, true, false},
        {"Moved.url", 301, true, true},
        {"Temp.url", 302, true, true},
        {"Travail/Outils/Deep/Dead.url", 404, false, true},
        {"Travail/Server.url", 500, false, true},
        {"Travail/ReadOnly.url", 404, true, true},
        {"Secure.url", 777, true, true},
        {"NoDomain.url", 1000, false, true},
        {"Broken.url", 9, false, true},
        {"Other3.url", 304, false, true},
        {"Travail/Forbidden.url", 403, false, true},
        {".Hidden.url", 410, false, true},
        {"Weird.url", 888, true, false},
        {"Failure.url", 999, true, false},
        {"Travail/Outils/Moved2.url", 301, true, true},
    };
    build(rows);
    tree.makeReadOnly("Travail/ReadOnly.url");
    corrections.setSettings(DefaultCorrectionSettings());

    std::vector<std::pair<int, int>> meter;
    corrections.RunCorrections(table, [&](int row, int percent) { meter.emplace_back(row, percent); });

    check(rows);
    EXPECT_EQ(queue.entries(), QByteArrayList({tree.ansi("Moved.url"), tree.ansi("Travail/Outils/Moved2.url")}));
    ASSERT_EQ(meter.size(), rows.size());
    EXPECT_EQ(meter.front(), std::make_pair(0, 0));
    EXPECT_EQ(meter[7], std::make_pair(7, 50));
    EXPECT_EQ(meter.back(), std::make_pair(14, 100));
    EXPECT_EQ(deleteOp.ErrorString.size(), 1); // the read-only favorite
}

TEST_F(CorrectionsRun, ListsChooseTheActionAndArchivingCanBeOff)
{
    const std::vector<Expect> rows = {
        {"A301.url", 301, false, false}, // "Supprimer" in a three-item list
        {"A302.url", 302, true, false},  // "Mise à jour": queued like a 301
        {"A404.url", 404, true, false},  // empty text: no selection
        {"A500.url", 500, true, false},  // not an action word
        {"A777.url", 777, true, false},  // no list at all
        {"A9.url", 9, false, false},
    };
    build(rows);
    CorrectionSettings s;
    s.backupBeforeDelete = false;
    s.actionTexts = {{"301", "Supprimer"}, {"302", "Mise à jour"}, {"404", ""}, {"5XX", "Effacer"}, {"9", "Supprimer"}};
    corrections.setSettings(s);
    queue.append("stale entry from an earlier run");

    corrections.RunCorrections(table);

    check(rows);
    EXPECT_EQ(queue.entries(), QByteArrayList{tree.ansi("A302.url")});
    EXPECT_FALSE(QFileInfo::exists(tree.exeFolder() + "Devodav Archives"));
}

TEST_F(CorrectionsRun, NothingIsDeletedWhenItsArchiveCopyCannotBeMade)
{
    build({{"Dead.url", 404, true, false}, {"Sub/Gone.url", 410, true, false}});
    // A file where the archive folder should be: no folder can be created.
    QFile blocker(tree.exeFolder() + "Devodav Archives");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    corrections.setSettings(DefaultCorrectionSettings());

    corrections.RunCorrections(table);

    EXPECT_TRUE(tree.exists("Dead.url"));
    EXPECT_TRUE(tree.exists("Sub/Gone.url"));
    EXPECT_TRUE(deleteOp.ErrorString.isEmpty());
}

TEST_F(CorrectionsRun, ArchivingTwiceOnOneDayKeepsTheFirstCopy)
{
    tree.write("Travail/Site.url", shortcut("http://first/"));
    EXPECT_EQ(files.ArchiveFavorite(tree.ansi("Travail/Site.url")), ArchiveOutcome::Copied);
    tree.write("Travail/Site.url", shortcut("http://second/"));
    EXPECT_EQ(files.ArchiveFavorite(tree.ansi("Travail/Site.url")), ArchiveOutcome::AlreadyArchived);
    EXPECT_EQ(FavoritesTree::readAbs(tree.archived("Travail/Site.url")), shortcut("http://first/"));
    EXPECT_EQ(files.ArchiveFavorite(tree.ansi("Travail/None.url")), ArchiveOutcome::NoSource);
}

TEST_F(CorrectionsRun, BadInputIsHandledSilentlyAndTheRunReachesItsEnd)
{
    // A path longer than 255 characters: acted on through its uncut form.
    const QString longRel = QString(100, 'a') + '/' + QString(100, 'b') + '/' + QString(80, 'c') + ".url";
    const std::vector<Expect> rows = {
        {"Vanished.url", 404, false, false},
        {"NoUrl.url", 1000, false, true},
        {"Last.url", 404, false, true},
    };
    build(rows);
    tree.write(longRel, shortcut("http://long/"));
    tree.addRow(table, longRel, 404);
    tree.write("Empty.url", "[InternetShortcut]\r\n");
    tree.addRow(table, "Empty.url", 1000);
    QFile::remove(tree.abs("Vanished.url")); // deleted behind the program's back
    ASSERT_GT(table[3].fullPath.size(), 255);
    ASSERT_EQ(table[3].stFileComplet.size(), 255);
    corrections.setSettings(DefaultCorrectionSettings());

    corrections.RunCorrections(table);

    check(rows);
    EXPECT_FALSE(tree.exists(longRel));
    EXPECT_EQ(FavoritesTree::readAbs(tree.archived(longRel)), shortcut("http://long/"));
    EXPECT_FALSE(tree.exists("Empty.url"));
    EXPECT_EQ(FavoritesTree::readAbs(tree.archived("Empty.url")), QByteArray("[InternetShortcut]\r\n"));
    EXPECT_EQ(deleteOp.ErrorString.size(), 1); // the vanished favorite
}

TEST_F(CorrectionsRun, NameOutsideTheCodePageNamesNoFileAndStays)
{
    CodePageGuard latin1(codepage::Page::Latin1);
    tree.write(QStringLiteral("Café €.url"), shortcut("http://cafe/"));
    tree.write(QStringLiteral("Plain.url"), shortcut("http://plain/"));
    tree.addRow(table, QStringLiteral("Café €.url"), 404);
    tree.addRow(table, QStringLiteral("Plain.url"), 404);
    EXPECT_TRUE(table[0].fullPath.endsWith("Caf\xe9 ?.url"));
    corrections.setSettings(DefaultCorrectionSettings());

    corrections.RunCorrections(table);

    EXPECT_TRUE(tree.exists(QStringLiteral("Café €.url")));
    EXPECT_FALSE(tree.exists(QStringLiteral("Plain.url")));
    EXPECT_TRUE(QFileInfo::exists(tree.archived("Plain.url")));
}

TEST_F(CorrectionsRun, EmptyTableQueuesNothingAndKeepsTheMeterAtZero)
{
    corrections.setSettings(DefaultCorrectionSettings());
    queue.append("old");
    int calls = 0;
    corrections.RunCorrections(table, [&](int, int) { ++calls; });
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(queue.isEmpty());
}

TEST_F(CorrectionsRun, AnExceptionFromTheRowCallbackEndsTheLoop)
{
    build({{"One.url", 404, true, false}, {"Two.url", 404, true, false}});
    corrections.setSettings(DefaultCorrectionSettings());
    EXPECT_THROW(corrections.RunCorrections(table, [](int, int) { throw Error(QStringLiteral("stop")); }), Error);
    check({{"One.url", 404, true, false}, {"Two.url", 404, true, false}});
}

// Code 9 with "Supprimer": what is no regular file gets neither a copy nor a
// deletion, and the favorites after it are still handled.
TEST_F(CorrectionsRun, PipesAndDevicesAreNeitherArchivedNorDeletedAndTheRunGoesOn)
{
    // The archive on a small file system, so that a copy of /dev/zero could not fill the disk.
    test::SmallFileSystem archive(tree.exeFolder() + "Devodav Archives");
    build({{"Before.url", 404, false, true}});
    QStringList special = {"Pipe.url", "Null.url"};
    ASSERT_EQ(::mkfifo(tree.native("Pipe.url").constData(), 0644), 0);
    ASSERT_EQ(::symlink("/dev/null", tree.native("Null.url").constData()), 0);
    if (archive.mounted()) {
        ASSERT_EQ(::symlink("/dev/zero", tree.native("Zero.url").constData()), 0);
        special << "Zero.url";
    } else {
        std::cout << "[ SKIPPED  ] the /dev/zero case: " << archive.reason() << '\n';
    }
    for (const QString& rel : special) tree.addRow(table, rel, 9);
    build({{"After.url", 404, false, true}});

    auto present = [](const QString& path) {
        struct stat st;
        return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
    };
    for (const bool backup : {true, false}) {
        SCOPED_TRACE(backup ? "archive first" : "no archive");
        CorrectionSettings settings = DefaultCorrectionSettings();
        settings.backupBeforeDelete = backup;
        corrections.setSettings(settings);
        test::runWithWatchdog(
            "the cleanup run", [&] { corrections.RunCorrections(table); },
            [&] { test::releasePipeReader(tree.native("Pipe.url")); });
        for (const QString& rel : special) {
            SCOPED_TRACE(rel.toStdString());
            EXPECT_TRUE(present(tree.abs(rel)));
            EXPECT_FALSE(present(tree.archived(rel)));
        }
        if (backup) check({{"Before.url", 404, false, true}, {"After.url", 404, false, true}});
    }
}

// 429 stays whatever the 4XX list says; the other 4XX codes and 404 follow
// their lists. Archiving is on, so a 429 that was touched at all would leave a copy.
TEST_F(CorrectionsRun, RateLimitedFavoriteIsNeverTouched)
{
    const QString texts4xx[] = {QStringLiteral("Supprimer"), QStringLiteral("Aucun"), QStringLiteral("Mise à jour"),
                                QString()};
    for (const QString& text : texts4xx) {
        SCOPED_TRACE(text.toStdString());
        const bool deletes = text == QStringLiteral("Supprimer");
        const std::vector<Expect> rows = {
            {"Limited.url", 429, true, false},
            {"Sub/Limited.url", 429, true, false},
            {"Gone.url", 410, !deletes, true},
            {"Dead.url", 404, false, true},
        };
        build(rows);
        CorrectionSettings s = DefaultCorrectionSettings();
        s.actionTexts.insert(QStringLiteral("4XX"), text);
        corrections.setSettings(s);

        corrections.RunCorrections(table);

        check(rows);
        EXPECT_EQ(tree.read("Limited.url"), shortcut("http://example.test/Limited.url"));
        const QByteArrayList queued =
            text == QStringLiteral("Mise à jour") ? QByteArrayList{tree.ansi("Gone.url")} : QByteArrayList{};
        EXPECT_EQ(queue.entries(), queued);
        // The next case starts from an empty tree, table and archive.
        table.clear();
        QDir(tree.favorites()).removeRecursively();
        QDir().mkpath(tree.favorites());
        QDir(tree.exeFolder() + "Devodav Archives").removeRecursively();
    }
}

TEST(DeletionForecast, CountsWhatTheRunWouldDeleteAndAsksAboveHalf)
{
    const CorrectionSettings defaults = DefaultCorrectionSettings(); // 404, 4XX, 5XX, 1000, 9 deleted
    CorrectionSettings keepNoAnswer = defaults;
    keepNoAnswer.actionTexts.insert(QStringLiteral("1000"), QStringLiteral("Aucun"));
    CorrectionSettings delete429List = defaults;
    delete429List.actionTexts.insert(QStringLiteral("4XX"), QStringLiteral("Supprimer"));
    const struct {
        const char* name;
        std::vector<int> codes;
        const CorrectionSettings& settings;
        int toDelete;
        bool asks;
    } cases[] = {
        {"network down: everything would go", {1000, 1000, 1000, 1000}, defaults, 4, true},
        {"network down, 1000 kept: still asks", {1000, 1000, 1000, 200}, keepNoAnswer, 0, true},
        {"exactly half deleted", {404, 500, 200, 200}, defaults, 2, false},
        {"one more than half deleted", {404, 500, 9, 200}, defaults, 3, true},
        {"exactly half got 1000, kept", {1000, 1000, 200, 200}, keepNoAnswer, 0, false},
        {"1000 among the checked only", {-1, -1, -1, 1000}, keepNoAnswer, 0, true},
        {"429 is not counted", {429, 429, 429, 404}, delete429List, 1, false},
        {"410 is counted", {410, 410, 410, 404}, delete429List, 4, true},
        {"few deletions", {200, 200, 301, 302, 404, 200, 777}, defaults, 1, false},
        {"redirects queued, not deleted", {301, 301, 301}, defaults, 0, false},
        {"empty table", {}, defaults, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FavoritesTable table;
        for (int code : c.codes) table.append().iStatut = code;
        const DeletionForecast f = ForecastDeletions(table, c.settings);
        EXPECT_EQ(f.toDelete, c.toDelete);
        EXPECT_EQ(f.tableSize, int(c.codes.size()));
        EXPECT_EQ(NeedsMassDeletionConfirmation(f), c.asks);
    }
}

} // namespace
