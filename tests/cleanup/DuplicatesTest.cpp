#include "CleanupFixture.h"
#include "cleanup/Corrections.h"
#include "cleanup/Duplicates.h"

#include <QFileInfo>

using namespace signetrix;
using namespace signetrix::cleanup;
using signetrix::test::FavoritesTree;
using signetrix::test::shortcut;

namespace {

class DuplicatesTest : public ::testing::Test {
protected:
    FavoritesTree tree;
    TFileOperation deleteOp;
    CleanupFiles files{deleteOp};
    FavoritesTable table;

    void SetUp() override { tree.fixClock(files); }

    // Writes each favorite (a distinct URL each) and adds it to the table.
    void add(std::initializer_list<const char*> rels)
    {
        for (const char* rel : rels) {
            tree.write(QString::fromUtf8(rel), shortcut(QByteArray("http://") + rel));
            tree.addRow(table, QString::fromUtf8(rel), 200);
        }
    }
    QByteArray rec(int keep, std::initializer_list<const char*> rels) const
    {
        DoublonRecord r;
        r.keep = keep;
        for (const char* rel : rels) r.paths.append(tree.ansi(QString::fromUtf8(rel)));
        return FormatDoublonRecord(r);
    }
};

TEST_F(DuplicatesTest, GroupsAreFilesWithTheSameCaseSensitiveName)
{
    add({"B/Site.url", "A/Site.url", "Site.url", "Other/Same.url", "Other/Url.url", "X/site.url",
         "Y/Lone.url", "Z/Url.url"});
    // Same URL, different names: no group.
    tree.write("Other/Same.url", shortcut("http://Other/Url.url"));

    const QByteArrayList records = FindDuplicates(table);

    // Members in the locale's case-insensitive order of "name=path" lines.
    EXPECT_EQ(records, QByteArrayList({rec(0, {"A/Site.url", "B/Site.url", "Site.url"}),
                                       rec(0, {"Other/Url.url", "Z/Url.url"})}));
}

TEST_F(DuplicatesTest, NamesDifferingInCaseNeitherGroupNorSplitAGroup)
{
    // "site.url" sorts between the two "Site.url" lines.
    add({"c/Site.url", "b/site.url", "a/Site.url"});
    EXPECT_EQ(FindDuplicates(table), QByteArrayList{rec(0, {"a/Site.url", "c/Site.url"})});
}

TEST_F(DuplicatesTest, MembersWhoseFilesAreGoneAreLeftOut)
{
    add({"A/Two.url", "B/Two.url", "A/Three.url", "B/Three.url", "C/Three.url"});
    tree.addRow(table, "A/Two.url", 200); // the same file listed twice is one member
    QFile::remove(tree.abs("B/Two.url"));
    QFile::remove(tree.abs("A/Three.url"));
    EXPECT_EQ(FindDuplicates(table), QByteArrayList{rec(0, {"B/Three.url", "C/Three.url"})});
}

TEST_F(DuplicatesTest, AutomaticModeKeepsTheFirstAndArchivesTheOthers)
{
    add({"B/Site.url", "A/Site.url", "Site.url", "Keep/Single.url"});
    const QByteArrayList records = FindDuplicates(table);
    EXPECT_FALSE(needsChoicePage(DuplicateMode::Automatic, records));

    const DuplicateDeletion done = DeleteDuplicates(records, files, true);

    EXPECT_TRUE(done.deleteSucceeded);
    EXPECT_TRUE(tree.exists("A/Site.url"));
    EXPECT_FALSE(tree.exists("B/Site.url"));
    EXPECT_FALSE(tree.exists("Site.url"));
    EXPECT_TRUE(tree.exists("Keep/Single.url"));
    EXPECT_EQ(FavoritesTree::readAbs(tree.archived("B/Site.url")), shortcut("http://B/Site.url"));
    EXPECT_EQ(FavoritesTree::readAbs(tree.archived("Site.url")), shortcut("http://Site.url"));
    EXPECT_FALSE(QFileInfo::exists(tree.archived("A/Site.url")));
}

TEST_F(DuplicatesTest, ManualChoicesAreStoredPerGroupAndApplied)
{
    add({"A/One.url", "B/One.url", "C/One.url", "A/Two.url", "B/Two.url"});
    const QByteArray root = tree.ansi("").chopped(1);
    DoublonChoices choices;
    choices.reset(FindDuplicates(table));
    ASSERT_TRUE(needsChoicePage(DuplicateMode::Manual, choices.records()));
    EXPECT_EQ(choices.counterText(), QStringLiteral("1/2"));
    EXPECT_FALSE(choices.canPrevious());
    EXPECT_TRUE(choices.canNext());
    EXPECT_EQ(choices.groupName(root), QStringLiteral("One"));
    EXPECT_EQ(choices.memberLines(root), QStringList({"/A/", "/B/", "/C/"}));
    EXPECT_EQ(choices.keep(), 0);

    choices.StoreDoublonChoice(2);
    choices.StoreDoublonChoice(7); // no such member: the choice stays
    choices.next();
    EXPECT_EQ(choices.counterText(), QStringLiteral("2/2"));
    EXPECT_FALSE(choices.canNext());
    choices.StoreDoublonChoice(1);
    choices.previous();
    EXPECT_EQ(choices.keep(), 2); // moving keeps the choices made

    DeleteDuplicates(choices.records(), files, false);

    EXPECT_FALSE(tree.exists("A/One.url"));
    EXPECT_FALSE(tree.exists("B/One.url"));
    EXPECT_TRUE(tree.exists("C/One.url"));
    EXPECT_FALSE(tree.exists("A/Two.url"));
    EXPECT_TRUE(tree.exists("B/Two.url"));
    EXPECT_FALSE(QFileInfo::exists(tree.exeFolder() + "Devodav Archives"));
}

TEST_F(DuplicatesTest, ChoicePageTextsForTopLevelAndOddNames)
{
    add({"My.url.site.url", "Sub/My.url.site.url"});
    DoublonChoices choices;
    choices.reset(FindDuplicates(table));
    const QByteArray root = tree.ansi("").chopped(1);
    EXPECT_EQ(choices.groupName(root), QStringLiteral("My.site"));
    EXPECT_EQ(choices.memberLines(root), QStringList({"/", "/Sub/"}));
    EXPECT_FALSE(needsChoicePage(DuplicateMode::Manual, {}));
}

TEST_F(DuplicatesTest, AGroupNeverLosesAllItsFavorites)
{
    add({"A/Kept.url", "B/Kept.url", "A/Bad.url", "B/Bad.url", "A/Ro.url", "B/Ro.url"});
    const QByteArrayList records = {
        rec(0, {"A/Kept.url", "B/Kept.url"}),
        rec(5, {"A/Bad.url", "B/Bad.url"}),       // keep position names no member
        "x~~;;~~" + tree.ansi("A/Bad.url") + "~~;;~~" + tree.ansi("B/Bad.url"),
        rec(0, {"A/Ro.url", "B/Ro.url"}),
    };
    QFile::remove(tree.abs("A/Kept.url")); // the kept member vanished after the search
    // The archive cannot be written for B/Ro.url: it stays.
    QDir().mkpath(tree.archived("B/Ro.url"));

    const DuplicateDeletion done = DeleteDuplicates(records, files, true);

    EXPECT_TRUE(tree.exists("B/Kept.url"));
    EXPECT_TRUE(tree.exists("A/Bad.url"));
    EXPECT_TRUE(tree.exists("B/Bad.url"));
    EXPECT_TRUE(tree.exists("A/Ro.url"));
    EXPECT_TRUE(tree.exists("B/Ro.url"));
    EXPECT_EQ(done.notArchived, QByteArrayList{tree.ansi("B/Ro.url")});
    EXPECT_TRUE(done.toDelete.isEmpty());
}

TEST(DoublonRecord, FormatAndParse)
{
    const DoublonRecord r = ParseDoublonRecord("1~~;;~~/f/a.url~~;;~~/f/b.url~~;;~~");
    EXPECT_EQ(r.keep, 1);
    EXPECT_EQ(r.paths, QByteArrayList({"/f/a.url", "/f/b.url"}));
    EXPECT_EQ(FormatDoublonRecord(r), QByteArray("1~~;;~~/f/a.url~~;;~~/f/b.url"));
    EXPECT_EQ(ParseDoublonRecord("?~~;;~~/f/a.url").keep, -1);
}

TEST_F(DuplicatesTest, PathHoldingTheSeparatorIsNeverGrouped)
{
    add({"a~~;;~~b/Site.url", "c/Site.url", "d/Site.url"});
    EXPECT_EQ(FindDuplicates(table), QByteArrayList{rec(0, {"c/Site.url", "d/Site.url"})});
}

// A folder link (Work -> Travail) or a file link gives one favorite two paths:
// they are one member, and the file a kept member leads to is never deleted.
TEST_F(DuplicatesTest, PathsToOneFileAreOneMemberAndItsFileIsNeverDeleted)
{
    add({"Travail/Site.url", "A/Page.url", "C/Page.url"});
    ASSERT_EQ(::symlink("Travail", tree.native("Work").constData()), 0);
    ASSERT_EQ(::mkdir(tree.native("B").constData(), 0755), 0);
    ASSERT_EQ(::symlink("../A/Page.url", tree.native("B/Page.url").constData()), 0);
    tree.addRow(table, "Work/Site.url", 200);
    tree.addRow(table, "B/Page.url", 200);

    // Travail/Site.url has no duplicate; A/Page.url and its link are one member.
    const QByteArrayList found = FindDuplicates(table);
    ASSERT_EQ(found.size(), 1);
    const DoublonRecord group = ParseDoublonRecord(found.first());
    EXPECT_EQ(group.paths.size(), 2);
    EXPECT_TRUE(group.paths.contains(tree.ansi("C/Page.url")));

    // Records that name one file twice (as an earlier listing could give), each
    // keeping the path that is not the real file.
    const QByteArrayList records = {
        rec(1, {"Travail/Site.url", "Work/Site.url"}),
        rec(1, {"A/Page.url", "B/Page.url", "C/Page.url"}),
    };
    const DuplicateDeletion done = DeleteDuplicates(records, files, true);

    EXPECT_TRUE(done.deleteSucceeded);
    EXPECT_EQ(done.toDelete, QByteArrayList{tree.ansi("C/Page.url")});
    EXPECT_EQ(tree.read("Travail/Site.url"), shortcut("http://Travail/Site.url"));
    EXPECT_EQ(tree.read("A/Page.url"), shortcut("http://A/Page.url"));
    EXPECT_EQ(tree.read("B/Page.url"), shortcut("http://A/Page.url")) << "the kept link still leads to its favorite";
    EXPECT_FALSE(tree.exists("C/Page.url"));
    EXPECT_TRUE(QFileInfo::exists(tree.archived("C/Page.url")));
}

} // namespace
