// The Favorites folder, the favorite file list and filling the favorites table.
#include "favorites/FavoritesFolder.h"
#include "favorites/ShortcutFile.h"
#include "platform/AppPaths.h"
#include "platform/CodePage.h"
#include "platform/Errors.h"
#include "platform/ProfileStrings.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace signetrix {
namespace {

using test::ExeFolderGuard;
using test::HomeGuard;
using test::TempTree;

QByteArray shortcut(const QByteArray& url) { return "[InternetShortcut]\r\nURL=" + url + "\r\n"; }

QByteArray native(const QString& path) { return QFile::encodeName(path); }

// The lines of the log next to the (test) executable, without their CR LF.
QList<QByteArray> logLines()
{
    QFile f(platform::logFilePath());
    if (!f.open(QIODevice::ReadOnly)) return {};
    QList<QByteArray> lines = f.readAll().split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    for (QByteArray& l : lines) {
        EXPECT_TRUE(l.endsWith('\r')) << l.toStdString();
        l.chop(1);
    }
    return lines;
}

// Tag and text of a log line ("date time tag(30) text").
std::pair<QByteArray, QByteArray> tagAndText(const QByteArray& line)
{
    static const QRegularExpression layout(QStringLiteral("^.+ \\d\\d:\\d\\d (.{30}) (.*)$"));
    const QRegularExpressionMatch m = layout.match(QString::fromLatin1(line));
    EXPECT_TRUE(m.hasMatch()) << line.toStdString();
    return {m.captured(1).toLatin1().trimmed(), m.captured(2).toLatin1()};
}

// Depth-first expectation built from QDir's unsorted listing, which reports
// entries in the directory's own order.
void expectedListing(const QString& folder, QStringList& out)
{
    const QFileInfoList entries = QDir(folder).entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (const QFileInfo& e : entries) {
        if (e.isDir()) expectedListing(e.filePath(), out);
        else out << e.filePath();
    }
}

TEST(FavoritesFolder, IsTheFavoritesFolderOfTheHomeFolder)
{
    HomeGuard home;
    EXPECT_TRUE(GetFavoritesFolder().isEmpty());
    QDir().mkpath(home.favorites());
    EXPECT_EQ(GetFavoritesFolder().toStdString(), native(home.favorites()).toStdString());
}

TEST(FavoritesList, EmptyMissingAndEmptyPathGiveNothing)
{
    TempTree tree;
    tree.mkdir(QStringLiteral("Favorites"));
    EXPECT_TRUE(ListFavoriteFiles(tree.native(QStringLiteral("Favorites"))).isEmpty());
    EXPECT_TRUE(ListFavoriteFiles(tree.native(QStringLiteral("absent"))).isEmpty());
    EXPECT_TRUE(ListFavoriteFiles(QByteArray()).isEmpty());
    tree.write(QStringLiteral("file.url"), shortcut("a"));
    EXPECT_TRUE(ListFavoriteFiles(tree.native(QStringLiteral("file.url"))).isEmpty());
}

TEST(FavoritesList, DepthFirstInDirectoryOrderWithHiddenFiles)
{
    TempTree tree;
    const QStringList files = {
        "top1.url", "desktop.ini", ".hidden.url", "A/a1.url", "A/a2.url", "A/Deep/d1.url",
        "A/Deep/.h", "B/b1.url", "top2.url", "Caf\u00e9/\u65e5\u672c.url",
    };
    for (const QString& f : files) tree.write(QStringLiteral("Fav/") + f, shortcut("x"));
    tree.mkdir(QStringLiteral("Fav/Empty"));
    tree.mkdir(QStringLiteral("Fav/A/EmptyToo"));

    QStringList expected;
    expectedListing(tree.abs(QStringLiteral("Fav")), expected);
    ASSERT_EQ(expected.size(), files.size());

    const QStringList listed = ListFavoriteFiles(tree.native(QStringLiteral("Fav")));
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(ListFavoriteFiles(tree.native(QStringLiteral("Fav")) + '/'), expected);

    // Each folder's files form one block (depth first), whatever the order.
    for (const QString& folder : {QStringLiteral("/A/"), QStringLiteral("/A/Deep/"), QStringLiteral("/B/")}) {
        SCOPED_TRACE(folder.toStdString());
        QList<int> at;
        for (int i = 0; i < listed.size(); ++i)
            if (listed[i].contains(folder)) at << i;
        ASSERT_FALSE(at.isEmpty());
        EXPECT_EQ(at.last() - at.first() + 1, at.size());
    }
}

TEST(FavoritesList, FolderWhoseAnsiFormDoesNotNameItContributesNothing)
{
    // Under the Latin-1 page the 8-bit form of "Bé" is not the folder's
    // on-disk UTF-8 name, so the search cannot start there (also as root).
    TempTree tree;
    tree.write(QStringLiteral("Fav/A/a1.url"), shortcut("a"));
    tree.write(QStringLiteral("Fav/A/a2.url"), shortcut("a"));
    tree.write(QStringLiteral("Fav/B\u00e9/b.url"), shortcut("b"));
    tree.write(QStringLiteral("Fav/\u00e9.url"), shortcut("c"));

    test::CodePageGuard latin1(codepage::Page::Latin1);
    const QStringList listed = ListFavoriteFiles(tree.native(QStringLiteral("Fav")));
    QStringList sorted = listed;
    sorted.sort();
    EXPECT_EQ(sorted, (QStringList{tree.abs(QStringLiteral("Fav/A/a1.url")), tree.abs(QStringLiteral("Fav/A/a2.url")),
                                   tree.abs(QStringLiteral("Fav/\u00e9.url"))}));
}

TEST(FavoritesList, LinkLoopIsListedOnce)
{
    TempTree tree;
    tree.write(QStringLiteral("Fav/a.url"), shortcut("a"));
    tree.write(QStringLiteral("Other/o.url"), shortcut("o"));
    tree.mkdir(QStringLiteral("Fav/Sub"));
    ASSERT_EQ(::symlink(tree.native(QStringLiteral("Fav")).constData(),
                        tree.native(QStringLiteral("Fav/Sub/loop")).constData()), 0);
    ASSERT_EQ(::symlink(tree.native(QStringLiteral("Other")).constData(),
                        tree.native(QStringLiteral("Fav/linked")).constData()), 0);

    QStringList listed = ListFavoriteFiles(tree.native(QStringLiteral("Fav")));
    listed.sort();
    EXPECT_EQ(listed, (QStringList{tree.abs(QStringLiteral("Fav/a.url")), tree.abs(QStringLiteral("Fav/linked/o.url"))}));
}

TEST(FavoritesList, EveryFileIsListedOnceWhateverLinksLeadToIt)
{
    TempTree tree;
    tree.write(QStringLiteral("Fav/Travail/a.url"), shortcut("a"));
    tree.write(QStringLiteral("Fav/Travail/b.url"), shortcut("b"));
    tree.write(QStringLiteral("Fav/c.url"), shortcut("c"));
    auto link = [&](const char* target, const char* name) {
        ASSERT_EQ(::symlink(target, tree.native(QString::fromUtf8(name)).constData()), 0) << name;
    };
    link("Travail", "Fav/Work");              // a second path to a folder of the tree
    link("Travail/a.url", "Fav/Alias.url");   // a second path to a file
    link("../c.url", "Fav/Travail/AliasC.url");
    link("missing.url", "Fav/Broken.url");    // no file behind it: still a favorite, unreadable

    QStringList listed = ListFavoriteFiles(tree.native(QStringLiteral("Fav")));
    // Each real file once, under whichever path met it first.
    QStringList targets;
    for (const QString& path : listed) {
        const QFileInfo info(path);
        targets << (info.exists() ? info.canonicalFilePath() : path);
    }
    targets.sort();
    const QString base = QFileInfo(tree.abs(QStringLiteral("Fav"))).canonicalFilePath();
    EXPECT_EQ(targets, (QStringList{base + QStringLiteral("/Broken.url"), base + QStringLiteral("/Travail/a.url"),
                                    base + QStringLiteral("/Travail/b.url"), base + QStringLiteral("/c.url")}));
    EXPECT_EQ(listed.size(), 4);
}

TEST(FavoritesList, DoublingLinksOnEveryLevelListOneFileOnce)
{
    // Two links per level to the next level's folder: 2^18 paths lead to the
    // one favorite at the bottom.
    constexpr int kLevels = 18;
    TempTree tree;
    tree.write(QStringLiteral("L%1/bottom.url").arg(kLevels), shortcut("http://bottom/"));
    for (int level = 0; level < kLevels; ++level) {
        tree.mkdir(QStringLiteral("L%1").arg(level));
        for (const char* name : {"x", "y"}) {
            const QByteArray target = tree.native(QStringLiteral("L%1").arg(level + 1));
            const QByteArray at = tree.native(QStringLiteral("L%1/").arg(level) + QLatin1String(name));
            ASSERT_EQ(::symlink(target.constData(), at.constData()), 0);
        }
    }
    const QStringList listed = ListFavoriteFiles(tree.native(QStringLiteral("L0")));
    ASSERT_EQ(listed.size(), 1);
    EXPECT_TRUE(listed.first().endsWith(QStringLiteral("/bottom.url")));
    EXPECT_EQ(QFileInfo(listed.first()).canonicalFilePath(),
              QFileInfo(tree.abs(QStringLiteral("L%1/bottom.url").arg(kLevels))).canonicalFilePath());
}

TEST(FavoritesList, OwnTemporaryFilesAreSkippedAndStaleOnesRemoved)
{
    TempTree tree;
    tree.write(QStringLiteral("Fav/Site.url"), shortcut("http://site/"));
    const QString fresh = tree.write(QStringLiteral("Fav/.signetrix-tmp-Ab12Cd"), "partial");
    const QString stale = tree.write(QStringLiteral("Fav/Sub/.signetrix-tmp-zz99yy"), "partial");
    // Names that only look alike are the user's files.
    const QString lookalikes[] = {tree.write(QStringLiteral("Fav/.signetrix-tmp-short"), "user"),
                                  tree.write(QStringLiteral("Fav/.signetrix-tmp-toolong1"), "user"),
                                  tree.write(QStringLiteral("Fav/signetrix-tmp-Ab12Cd"), "user")};
    const time_t twoDaysAgo = ::time(nullptr) - 2 * 24 * 60 * 60;
    const struct timespec old[2] = {{twoDaysAgo, 0}, {twoDaysAgo, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, native(stale).constData(), old, 0), 0);
    // A folder of that name is not the program's: searched like any other.
    tree.mkdir(QStringLiteral("Fav/.signetrix-tmp-folder"));
    tree.write(QStringLiteral("Fav/.signetrix-tmp-folder/in.url"), shortcut("x"));

    QStringList listed = ListFavoriteFiles(tree.native(QStringLiteral("Fav")));
    listed.sort();
    QStringList expected = {tree.abs(QStringLiteral("Fav/Site.url")),
                            tree.abs(QStringLiteral("Fav/.signetrix-tmp-folder/in.url"))};
    for (const QString& l : lookalikes) expected << l;
    expected.sort();
    EXPECT_EQ(listed, expected);
    EXPECT_TRUE(QFileInfo::exists(fresh)) << "a rewrite may still own it";
    EXPECT_FALSE(QFileInfo::exists(stale));
}

TEST(FavoritesList, RewriteKilledMidwayLeavesNoExtraFavorite)
{
    TempTree tree;
    const QByteArray before = shortcut("http://old/");
    const QString site = tree.write(QStringLiteral("Fav/Site.url"), before);
    const QByteArray after = shortcut("http://new/") + QByteArray(64 * 1024 * 1024, ';');
    const QByteArray path = native(site);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        for (;;) platform::replaceFileContents(path, after);
    }
    // Kill it as soon as its temporary file is there, mid-write.
    const QDir folder(tree.abs(QStringLiteral("Fav")));
    bool seen = false;
    for (int i = 0; i < 2000 && !seen; ++i) {
        seen = folder.entryList(QDir::Files | QDir::Hidden | QDir::System).size() > 1;
        if (!seen) ::usleep(10000);
    }
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(seen) << "the rewrite never began";
    ASSERT_GT(folder.entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 1) << "the temporary file is left";

    EXPECT_EQ(ListFavoriteFiles(tree.native(QStringLiteral("Fav"))), QStringList{site});
    const QByteArray now = tree.read(QStringLiteral("Fav/Site.url"));
    EXPECT_TRUE(now == before || now == after) << "the favorite is one version, whole";
}

class FillTable : public ::testing::Test {
protected:
    // Ten shortcuts in list order, addresses "http://n<i>/".
    QStringList tenFiles()
    {
        QStringList files;
        for (int i = 0; i < 10; ++i)
            files << tree.write(QStringLiteral("Fav/f%1.url").arg(i), shortcut("http://n" + QByteArray::number(i) + "/"));
        return files;
    }

    ExeFolderGuard exe;
    TempTree tree;
};

TEST_F(FillTable, FileLimit)
{
    const QStringList files = tenFiles();
    struct Case {
        QString limit;
        int rows;
    } cases[] = {
        {QString(), 10}, {QStringLiteral("3"), 3}, {QStringLiteral("50"), 10}, {QStringLiteral("10"), 10},
        {QStringLiteral("0"), 0}, {QStringLiteral("-4"), 0}, {QStringLiteral(" 2"), 2}, {QStringLiteral("$4"), 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.limit.toStdString());
        FavoritesTable table;
        FillFavoritesTable(files, c.limit, table);
        ASSERT_EQ(table.size(), c.rows);
        for (int i = 0; i < c.rows; ++i) {
            EXPECT_EQ(table[i].Index, i);
            EXPECT_EQ(table[i].iStatut, -1);
            EXPECT_EQ(table[i].stUrl.toStdString(), "http://n" + std::to_string(i) + "/");
            EXPECT_EQ(table[i].stFile.toStdString(), "f" + std::to_string(i));
            EXPECT_EQ(table[i].widePath, files[i]);
        }
    }
}

TEST_F(FillTable, LimitThatIsNoWholeNumberLeavesTheTableAlone)
{
    const QStringList files = tenFiles();
    FavoritesTable table;
    FillFavoritesTable(files, QStringLiteral("2"), table);
    for (const QString& bad : {QStringLiteral("abc"), QStringLiteral("3.5"), QStringLiteral("4 "), QStringLiteral(" ")}) {
        SCOPED_TRACE(bad.toStdString());
        try {
            FillFavoritesTable(files, bad, table);
            ADD_FAILURE() << "no error raised";
        } catch (const ConvertError& e) {
            EXPECT_EQ(e.message(), QStringLiteral("'%1' is not a valid integer value").arg(bad));
        }
        EXPECT_EQ(table.size(), 2);
    }
}

TEST_F(FillTable, UnreadableFilesGetCodeNineWithTwoLogEntriesAndSortLast)
{
    tree.mkdir(QStringLiteral("Fav/folder.url"));
    const QStringList files = {
        tree.abs(QStringLiteral("Fav/missing.url")),
        tree.write(QStringLiteral("Fav/good.url"), shortcut("http://good/")),
        tree.abs(QStringLiteral("Fav/folder.url")),
        tree.write(QStringLiteral("Fav/huge.url"), shortcut("http://huge/") + QByteArray(kMaxShortcutFileSize, ' ')),
        tree.write(QStringLiteral("Fav/desktop.ini"), "[.ShellClassInfo]\r\nIconIndex=1\r\n"),
        QString(),
        tree.abs(QStringLiteral("Fav/pipe.url")),
    };
    ASSERT_EQ(::mkfifo(native(files[6]).constData(), 0644), 0);
    FavoritesTable table;
    FillFavoritesTable(files, QString(), table);
    ASSERT_EQ(table.size(), 7);

    struct Expect {
        int index;
        int code;
        QByteArray url;
        QByteArray name;
    } expected[] = {
        {1, -1, "http://good/", "good"}, {4, -1, "", "desktop"},
        {0, 9, "", "missing"},           {2, 9, "", "folder"},
        {3, 9, "", "huge"},              {5, 9, "", ""},
        {6, 9, "", "pipe"},
    };
    for (int i = 0; i < 7; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(table[i].Index, expected[i].index);
        EXPECT_EQ(table[i].iStatut, expected[i].code);
        EXPECT_EQ(table[i].stUrl.toStdString(), expected[i].url.toStdString());
        EXPECT_EQ(table[i].stFile.toStdString(), expected[i].name.toStdString());
        EXPECT_EQ(table[i].stFileComplet.toStdString(), native(files[expected[i].index]).toStdString());
    }

    const QList<QByteArray> lines = logLines();
    const std::pair<QByteArray, QByteArray> entries[] = {
        {"btnScanClick", native(files[0])},        {"btnScanClick", native(files[0])},
        {"btnScanClick", native(files[2])},        {"btnScanClick", native(files[2])},
        {"except:btnScanClick", native(files[3])}, {"except:btnScanClick", native(files[3])},
        {"btnScanClick", ""},                      {"btnScanClick", ""},
        {"except:btnScanClick", native(files[6])}, {"except:btnScanClick", native(files[6])},
    };
    ASSERT_EQ(lines.size(), std::size(entries));
    for (size_t i = 0; i < std::size(entries); ++i) {
        SCOPED_TRACE(i);
        const auto [tag, text] = tagAndText(lines[int(i)]);
        EXPECT_EQ(tag.toStdString(), entries[i].first.toStdString());
        EXPECT_EQ(text.toStdString(), entries[i].second.toStdString());
    }
}

TEST_F(FillTable, PathOutsideTheCodePageGetsCodeNine)
{
    const QString cafe = tree.write(QStringLiteral("Fav/Caf\u00e9.url"), shortcut("http://cafe/"));
    const QString plain = tree.write(QStringLiteral("Fav/plain.url"), shortcut("http://plain/"));
    test::CodePageGuard latin1(codepage::Page::Latin1);
    FavoritesTable table;
    FillFavoritesTable({cafe, plain}, QString(), table);
    ASSERT_EQ(table.size(), 2);

    EXPECT_EQ(table[0].Index, 1);
    EXPECT_EQ(table[0].iStatut, -1);
    EXPECT_EQ(table[0].stUrl.toStdString(), "http://plain/");

    const QByteArray ansi = native(tree.path()) + "/Fav/Caf\xE9.url";
    EXPECT_EQ(table[1].Index, 0);
    EXPECT_EQ(table[1].iStatut, 9);
    EXPECT_TRUE(table[1].stUrl.isEmpty());
    EXPECT_EQ(table[1].stFile.toStdString(), "Caf\xE9");
    EXPECT_EQ(table[1].stFileComplet.toStdString(), ansi.toStdString());
    EXPECT_EQ(table[1].widePath, cafe);

    const QList<QByteArray> lines = logLines();
    ASSERT_EQ(lines.size(), 2);
    for (const QByteArray& line : lines) {
        const auto [tag, text] = tagAndText(line);
        EXPECT_EQ(tag.toStdString(), "btnScanClick");
        EXPECT_EQ(text.toStdString(), ansi.toStdString());
    }
}

TEST_F(FillTable, ExistenceIsTestedOnTheAnsiFormAndTheAddressReadThroughTheUnicodePath)
{
    // Under Latin-1 the 8-bit form of "Café.url" is the byte name of another
    // file; the row passes the existence test and still reads its own file.
    const QString cafe = tree.write(QStringLiteral("Fav/Caf\u00e9.url"), shortcut("http://unicode/"));
    const QByteArray latin1Name = native(tree.path()) + "/Fav/Caf\xE9.url";
    {
        const int fd = ::open(latin1Name.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        const QByteArray body = shortcut("http://latin1/");
        ASSERT_EQ(::write(fd, body.constData(), size_t(body.size())), body.size());
        ::close(fd);
    }
    test::CodePageGuard latin1(codepage::Page::Latin1);
    FavoritesTable table;
    FillFavoritesTable({cafe}, QString(), table);
    ASSERT_EQ(table.size(), 1);
    EXPECT_EQ(table[0].iStatut, -1);
    EXPECT_EQ(table[0].stUrl.toStdString(), "http://unicode/");
    EXPECT_EQ(table[0].stFileComplet.toStdString(), latin1Name.toStdString());
    EXPECT_TRUE(logLines().isEmpty());
}

TEST_F(FillTable, LongFieldsAreCutButKeptInFull)
{
    const QByteArray url = "http://long.example/" + QByteArray(280, 'p');
    ASSERT_EQ(url.size(), 300);
    QString folder = QStringLiteral("Fav");
    while (tree.abs(folder).size() < 300) folder += QStringLiteral("/") + QString(40, QChar('d'));
    const QString path = tree.write(folder + QStringLiteral("/") + QString(60, QChar('n')) + QStringLiteral(".url"),
                                    shortcut(url));
    ASSERT_GT(path.size(), 255);

    FavoritesTable table;
    FillFavoritesTable({path}, QString(), table);
    ASSERT_EQ(table.size(), 1);
    const FavoriteRow& row = table[0];
    EXPECT_EQ(row.iStatut, -1);
    EXPECT_EQ(row.fullUrl.toStdString(), url.toStdString());
    EXPECT_EQ(row.stUrl.toStdString(), url.left(255).toStdString());
    EXPECT_EQ(row.fullPath.toStdString(), native(path).toStdString());
    EXPECT_EQ(row.stFileComplet.toStdString(), native(path).left(255).toStdString());
    EXPECT_EQ(row.stFile.toStdString(), std::string(60, 'n'));
    EXPECT_EQ(row.widePath, path);
    EXPECT_TRUE(logLines().isEmpty());
}

TEST_F(FillTable, EmptyListGivesEmptyTable)
{
    FavoritesTable table;
    table.append();
    FillFavoritesTable({}, QString(), table);
    EXPECT_TRUE(table.isEmpty());
    FillFavoritesTable({}, QStringLiteral("5"), table);
    EXPECT_TRUE(table.isEmpty());
}

} // namespace
} // namespace signetrix
