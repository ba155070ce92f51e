#include "CleanupFixture.h"
#include "cleanup/RedirectQueue.h"
#include "favorites/ShortcutFile.h"
#include "platform/Errors.h"

using namespace signetrix;
using namespace signetrix::cleanup;
using signetrix::test::FavoritesTree;
using signetrix::test::shortcut;

namespace {

RedirectQueue queueOf(int n, int index)
{
    RedirectQueue q;
    for (int i = 0; i < n; ++i) q.append("f" + QByteArray::number(i + 1));
    for (int i = 0; i < index; ++i) q.next();
    return q;
}

TEST(RedirectQueue, MovesAndRemovals)
{
    enum Op { None, Next, Previous, Remove };
    const struct {
        const char* name;
        int n, start;
        Op op;
        const char* counter;
        const char* current;
        bool canPrevious, canNext;
    } cases[] = {
        {"one favorite", 1, 0, None, "1/1", "f1", false, false},
        {"one favorite removed", 1, 0, Remove, "1/0", "", false, false},
        {"third of five removed", 5, 2, Remove, "2/4", "f2", true, true},
        {"first of three removed", 3, 0, Remove, "1/2", "f2", false, true},
        {"next on the last", 3, 2, Next, "3/3", "f3", true, false},
        {"previous on the first", 3, 0, Previous, "1/3", "f1", false, true},
        {"next in the middle", 3, 1, Next, "3/3", "f3", true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RedirectQueue q = queueOf(c.n, c.start);
        switch (c.op) {
        case Next: q.next(); break;
        case Previous: q.previous(); break;
        case Remove: q.removeCurrent(); break;
        case None: break;
        }
        EXPECT_EQ(q.counterText(), QString::fromLatin1(c.counter));
        EXPECT_EQ(q.current(), QByteArray(c.current));
        EXPECT_EQ(q.canPrevious(), c.canPrevious);
        EXPECT_EQ(q.canNext(), c.canNext);
    }
}

TEST(RedirectQueue, RelativeFolderDropsTheFavoritesFolder)
{
    EXPECT_EQ(relativeFolder("/h/Favorites/Travail/Outils/Site.url", "/h/Favorites"), QByteArray("/Travail/Outils/"));
    EXPECT_EQ(relativeFolder("/h/Favorites/Site.url", "/h/Favorites"), QByteArray("/"));
    EXPECT_EQ(relativeFolder("/other/Site.url", "/h/Favorites"), QByteArray("/other/"));
}

class RedirectReview : public ::testing::Test {
protected:
    FavoritesTree tree;
    TFileOperation deleteOp;
    CleanupFiles files{deleteOp};
    RedirectQueue queue;
};

TEST_F(RedirectReview, NewAddressRewritesOnlyTheUrlLine)
{
    const QByteArray before = "[DEFAULT]\r\nBASEURL=http://old.test/\r\n[InternetShortcut]\r\nURL=http://old.test/\r\n"
                              "IconIndex=1\r\n[{000214A0-0000-0000-C000-000000000046}]\r\nProp3=19,11\r\n"
                              "[Other]\r\nURL=keep me\r\n";
    tree.write("Site.url", before);
    tree.write("Next.url", shortcut("http://next.test/"));
    queue.append(tree.ansi("Site.url"));
    queue.append(tree.ansi("Next.url"));
    EXPECT_EQ(LoadQueuedUrl(queue), QByteArray("http://old.test/"));

    EXPECT_EQ(StoreNewUrl(queue, "http://new.test/landing"), NewUrlOutcome::Written);

    QByteArray after = before;
    after.replace("URL=http://old.test/\r\nIcon", "URL=http://new.test/landing\r\nIcon");
    EXPECT_EQ(tree.read("Site.url"), after);
    EXPECT_EQ(queue.entries(), QByteArrayList{tree.ansi("Next.url")});
    EXPECT_EQ(LoadQueuedUrl(queue), QByteArray("http://next.test/"));
}

TEST_F(RedirectReview, AFavoriteNeverLosesItsAddress)
{
    tree.write("Site.url", shortcut("http://old.test/"));
    tree.write("Locked.url", shortcut("http://locked.test/"));
    tree.makeReadOnly("Locked.url");
    queue.append(tree.ansi("Site.url"));

    EXPECT_EQ(StoreNewUrl(queue, ""), NewUrlOutcome::NoAddress);
    EXPECT_EQ(StoreNewUrl(queue, "  "), NewUrlOutcome::NoAddress);
    EXPECT_EQ(tree.read("Site.url"), shortcut("http://old.test/"));
    EXPECT_EQ(queue.count(), 1);

    queue.clear();
    queue.append(tree.ansi("Locked.url"));
    EXPECT_EQ(StoreNewUrl(queue, "http://new.test/"), NewUrlOutcome::WriteFailed);
    EXPECT_EQ(tree.read("Locked.url"), shortcut("http://locked.test/"));
    EXPECT_EQ(queue.count(), 1);

    queue.clear();
    EXPECT_EQ(StoreNewUrl(queue, "http://new.test/"), NewUrlOutcome::NoFavorite);
}

TEST_F(RedirectReview, DeleteRemovesTheFileAndTheEntryWithoutArchiving)
{
    tree.write("A.url", shortcut("http://a/"));
    tree.write("B.url", shortcut("http://b/"));
    queue.append(tree.ansi("A.url"));
    queue.append(tree.ansi("B.url"));
    queue.next();
    DeleteQueued(queue, files);
    EXPECT_FALSE(tree.exists("B.url"));
    EXPECT_TRUE(tree.exists("A.url"));
    EXPECT_EQ(queue.current(), tree.ansi("A.url"));
    EXPECT_FALSE(QFileInfo::exists(tree.exeFolder() + "Devodav Archives"));
}

TEST_F(RedirectReview, ShortcutWithoutUrlOrFileGivesNoAddressOrAnError)
{
    tree.write("NoUrl.url", "[InternetShortcut]\r\nIconIndex=0\r\n");
    queue.append(tree.ansi("NoUrl.url"));
    queue.append(tree.ansi("Vanished.url"));
    EXPECT_EQ(LoadQueuedUrl(queue), QByteArray());
    queue.next();
    EXPECT_THROW(LoadQueuedUrl(queue), Error);
}

// The review reads a favorite's address exactly as the analysis did, whatever
// byte-order mark the file starts with; otherwise a new address could be
// written into the wrong favorite.
TEST_F(RedirectReview, MarkedShortcutsGiveTheAddressTheAnalysisRead)
{
    const QString text = QStringLiteral("[InternetShortcut]\r\nURL=http://moved.test/old\r\n");
    QByteArray utf16le("\xFF\xFE", 2);
    for (const QChar ch : text) utf16le.append(char(ch.unicode() & 0xFF)).append(char(ch.unicode() >> 8));
    const struct {
        const char* rel;
        QByteArray bytes;
    } cases[] = {
        {"Plain.url", text.toLatin1()},
        {"Utf8.url", "\xEF\xBB\xBF" + text.toUtf8()},
        {"Utf16.url", utf16le},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rel);
        tree.write(c.rel, c.bytes);
        queue.clear();
        queue.append(tree.ansi(c.rel));
        EXPECT_EQ(LoadQueuedUrl(queue), ShortcutUrlFromBytes(c.bytes));
        EXPECT_EQ(LoadQueuedUrl(queue), QByteArray("http://moved.test/old"));

        ASSERT_EQ(StoreNewUrl(queue, "http://moved.test/new"), NewUrlOutcome::Written);
        queue.append(tree.ansi(c.rel));
        EXPECT_EQ(LoadQueuedUrl(queue), QByteArray("http://moved.test/new"));
        EXPECT_EQ(tree.read(c.rel).left(2), c.bytes.left(2)) << "the file keeps its encoding";
    }
}

} // namespace
