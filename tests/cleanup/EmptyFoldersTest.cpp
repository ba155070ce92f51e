#include "CleanupFixture.h"
#include "cleanup/EmptyFolders.h"

#include <QFileInfo>
#include <QSet>

#include <unistd.h>

using namespace signetrix;
using namespace signetrix::cleanup;
using signetrix::test::FavoritesTree;
using signetrix::test::shortcut;

namespace {

TEST(MirrorLetters, MirrorsAsciiLettersOnly)
{
    const struct {
        const char* in;
        const char* out;
    } cases[] = {{"AZaz", "ZAza"}, {"Bby", "Yyb"}, {"/Fav/É-1/", "/Uze/É-1/"}, {"", ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        const QString in = QString::fromUtf8(c.in);
        EXPECT_EQ(MirrorLetters(in), QString::fromUtf8(c.out));
        EXPECT_EQ(MirrorLetters(MirrorLetters(in)), in);
    }
}

class EmptyFoldersTest : public ::testing::Test {
protected:
    FavoritesTree tree;
    QByteArray root() const { return QFile::encodeName(tree.favorites()); }

    struct Trace {
        std::vector<int> phases;
        std::vector<int> meter;
        QStringList folders;
    };
    EmptyFolderResult run(Trace& t)
    {
        EmptyFolderProgress p;
        p.phase = [&t](int ph) { t.phases.push_back(ph); };
        p.meter = [&t](int m) { t.meter.push_back(m); };
        p.folder = [&t](const QString& f) { t.folders.append(f); };
        return RemoveEmptyFolders(root(), p);
    }
};

TEST_F(EmptyFoldersTest, ListsEntriesDepthFirstWithoutHiddenOnes)
{
    tree.write("Sub/a.url", "");
    tree.write(".hidden/inner.url", "");
    tree.write(".desktop", "");
    QByteArrayList entries = ListFolderEntries(root());
    std::sort(entries.begin(), entries.end());
    const QByteArray r = root() + '/';
    EXPECT_EQ(entries, QByteArrayList({r + ".", r + "..", r + "Sub", r + "Sub/.", r + "Sub/..", r + "Sub/a.url"}));
    EXPECT_TRUE(ListFolderEntries(QByteArray()).isEmpty());
    EXPECT_TRUE(ListFolderEntries(r + "missing").isEmpty());
}

TEST_F(EmptyFoldersTest, FavoritesFolderAloneIsOneRowAndStays)
{
    Trace t;
    const EmptyFolderResult result = run(t);
    ASSERT_EQ(result.table.size(), 1u);
    EXPECT_EQ(result.table[0].NomDossier, tree.favorites() + '/');
    EXPECT_TRUE(result.removed.isEmpty());
    EXPECT_TRUE(QFileInfo(tree.favorites()).isDir());
    EXPECT_EQ(t.phases, std::vector<int>({0, 1}));
    EXPECT_EQ(t.meter.front(), 0);
    EXPECT_EQ(t.meter.back(), 100);
}

TEST_F(EmptyFoldersTest, RemovesChainsDeepestFirstAndKeepsWhatHoldsAnything)
{
    tree.mkdir("A/B/C");
    tree.mkdir("Zeta");
    tree.mkdir("Alpha");
    tree.write("Keep/Site.url", shortcut("http://k/"));
    tree.mkdir("Keep/Empty");
    tree.write("OnlyHidden/.directory", "[Desktop Entry]\n");
    tree.mkdir("Parent/.hiddenEmpty");
    // A link to a folder elsewhere is never entered.
    test::TempTree outside;
    outside.mkdir("EmptyElsewhere");
    ASSERT_EQ(::symlink(QFile::encodeName(outside.abs("EmptyElsewhere")).constData(),
                        QFile::encodeName(tree.abs("Link")).constData()), 0);

    Trace t;
    run(t);

    for (const char* gone : {"A", "Zeta", "Alpha", "Keep/Empty"}) {
        SCOPED_TRACE(gone);
        EXPECT_FALSE(tree.exists(gone));
    }
    for (const char* kept : {"Keep/Site.url", "OnlyHidden/.directory", "Parent/.hiddenEmpty"}) {
        SCOPED_TRACE(kept);
        EXPECT_TRUE(tree.exists(kept));
    }
    EXPECT_TRUE(QFileInfo(outside.abs("EmptyElsewhere")).isDir());
    EXPECT_TRUE(QFileInfo(tree.favorites()).isDir());
    // Shown below the favorites folder, every folder once, contained folders
    // before their container, siblings in alphabetical order.
    const QStringList expected = {"/A/B/C/", "/A/B/", "/A/", "/Alpha/", "/Keep/Empty/", "/Keep/",
                                  "/OnlyHidden/", "/Parent/", "/Zeta/"};
    EXPECT_EQ(QSet<QString>(t.folders.begin(), t.folders.end()), QSet<QString>(expected.begin(), expected.end()));
    EXPECT_EQ(t.folders.size(), expected.size());
    const auto before = [&](const char* a, const char* b) {
        EXPECT_LT(t.folders.indexOf(QString::fromLatin1(a)), t.folders.indexOf(QString::fromLatin1(b))) << a << " / " << b;
    };
    before("/A/B/C/", "/A/B/");
    before("/A/B/", "/A/");
    before("/Keep/Empty/", "/Keep/");
    before("/Alpha/", "/Zeta/");
    before("/Keep/", "/Parent/");
}

TEST_F(EmptyFoldersTest, FolderThatCannotBeRemovedStaysAndTheRunGoesOn)
{
    tree.mkdir("Busy");
    tree.mkdir("Empty");
    tree.write("Busy/a.url", "");
    Trace t;
    const EmptyFolderResult result = run(t);
    EXPECT_TRUE(tree.exists("Busy"));
    EXPECT_FALSE(tree.exists("Empty"));
    EXPECT_EQ(result.removed, QByteArrayList{root() + "/Empty/"});
    EXPECT_EQ(t.meter.back(), 100);
}

TEST_F(EmptyFoldersTest, PathsLongerThanTheFieldStay)
{
    const QString longRel = QString(120, 'x') + '/' + QString(120, 'y') + '/' + QString(60, 'z');
    tree.mkdir(longRel);
    Trace t;
    const EmptyFolderResult result = run(t);
    EXPECT_TRUE(tree.exists(longRel));
    const auto deepest = std::find_if(result.table.begin(), result.table.end(),
                                      [](const FolderRow& r) { return r.Longueur > kFolderFieldWidth; });
    ASSERT_NE(deepest, result.table.end());
    EXPECT_EQ(deepest->NomDossier.size(), kFolderFieldWidth);
    EXPECT_EQ(deepest->NomDossierSort.size(), kFolderFieldWidth);
    EXPECT_EQ(deepest->Longueur, (tree.abs(longRel) + '/').size());
}

TEST_F(EmptyFoldersTest, NoFavoritesFolderRemovesNothing)
{
    tree.mkdir("Empty");
    const EmptyFolderResult result = RemoveEmptyFolders(QByteArray());
    EXPECT_TRUE(result.table.empty());
    EXPECT_TRUE(tree.exists("Empty"));
}

TEST(FolderTable, SortPutsLongerOfEqualKeysFirstAndTheRootLast)
{
    std::vector<FolderRow> rows = BuildFolderTable({"/f/", "/f/b/", "/f/a/x/", "/f/a/", "/f/a/x/"});
    ASSERT_EQ(rows.size(), 4u);
    rows.push_back({QStringLiteral("/f/q/"), 400, MirrorLetters(QStringLiteral("/f/q/")), "/f/q/long"});
    rows.push_back({QStringLiteral("/f/q/"), 300, MirrorLetters(QStringLiteral("/f/q/")), "/f/q/shorter"});
    SortFolderTable(rows);
    QByteArrayList order;
    for (const FolderRow& r : rows) order.append(r.nativePath);
    EXPECT_EQ(order, QByteArrayList({"/f/a/x/", "/f/a/", "/f/b/", "/f/q/long", "/f/q/shorter", "/f/"}));
}

} // namespace
