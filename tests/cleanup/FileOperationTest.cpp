#include "cleanup/FileOperation.h"
#include "platform/FileSystem.h"
#include "CleanupFixture.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>

using namespace signetrix;
using signetrix::test::TempTree;

namespace {

qint64 mtimeNs(const QByteArray& path)
{
    struct stat st;
    if (::stat(path.constData(), &st) != 0) return -1;
    return qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

void setMtime(const QByteArray& path, qint64 seconds)
{
    const struct timespec t[2] = {{seconds, 0}, {seconds, 123456789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.constData(), t, 0), 0);
}

TEST(FileOperation, DeleteGoesOnPastFailuresAndKeepsEveryErrorLine)
{
    TempTree tree;
    tree.write("a.url", "a");
    tree.write("b.url", "b");
    tree.write("ro.url", "read-only");
    ::chmod(tree.native("ro.url").constData(), 0444);
    tree.mkdir("folder");

    TFileOperation op;
    op.Operation = TStFileOp::fopDelete;
    op.SourceFiles = {tree.native("a.url"), tree.native("missing.url"), tree.native("b.url")};
    EXPECT_FALSE(op.Execute());
    EXPECT_FALSE(tree.exists("a.url"));
    EXPECT_FALSE(tree.exists("b.url"));
    ASSERT_EQ(op.ErrorString.size(), 1);
    EXPECT_FALSE(op.ErrorString.first().isEmpty());

    // A read-only file and a folder are refused; the lines of the first run stay.
    op.SourceFiles = {tree.native("ro.url"), tree.native("folder")};
    EXPECT_FALSE(op.Execute());
    EXPECT_TRUE(tree.exists("ro.url"));
    EXPECT_TRUE(tree.exists("folder"));
    EXPECT_EQ(op.ErrorString.size(), 3);
    EXPECT_EQ(op.SourceFiles.size(), 2); // the component never empties its lists

    op.SourceFiles.clear();
    EXPECT_TRUE(op.Execute());
    EXPECT_EQ(op.ErrorString.size(), 3);
}

TEST(FileOperation, CopyReplacesOrRefusesAndKeepsTheLastWriteTime)
{
    struct Case {
        const char* name;
        bool failIfExists;
        bool targetExists;
        bool targetReadOnly;
        bool succeeds;
    };
    const Case cases[] = {
        {"new target", true, false, false, true},
        {"existing target replaced", false, true, false, true},
        {"existing target kept with FailIfExists", true, true, false, false},
        {"read-only target kept", false, true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempTree tree;
        tree.write("src.exe", "new contents");
        setMtime(tree.native("src.exe"), 1700000000);
        if (c.targetExists) tree.write("dst.exe", "old");
        if (c.targetReadOnly) ::chmod(tree.native("dst.exe").constData(), 0444);

        TFileOperation op;
        op.Operation = TStFileOp::fopCopy;
        op.FailIfExists = c.failIfExists;
        op.SourceFiles = {tree.native("src.exe")};
        op.Destination = tree.native("dst.exe");
        EXPECT_EQ(op.Execute(), c.succeeds);
        EXPECT_EQ(op.ErrorString.size(), c.succeeds ? 0 : 1);
        if (c.succeeds) {
            EXPECT_EQ(tree.read("dst.exe"), QByteArray("new contents"));
            EXPECT_EQ(mtimeNs(tree.native("dst.exe")), mtimeNs(tree.native("src.exe")));
        } else {
            EXPECT_EQ(tree.read("dst.exe"), QByteArray("old"));
        }
        // No temporary file is left beside the target.
        EXPECT_EQ(QDir(tree.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }
}

TEST(FileOperation, CopyOfAMissingSourceFailsWithoutCreatingTheTarget)
{
    TempTree tree;
    TFileOperation op;
    op.SourceFiles = {tree.native("none.exe")};
    op.Destination = tree.native("dst.exe");
    EXPECT_FALSE(op.Execute());
    EXPECT_FALSE(tree.exists("dst.exe"));
    EXPECT_EQ(op.ErrorString.size(), 1);
}

TEST(FileOperation, SharedInstancesHaveTheirFixedSettings)
{
    QObject owner;
    TFileOperation* copy = createFileOperation(&owner);
    TFileOperation* del = createFileOperationDelete(&owner);
    EXPECT_EQ(owner.findChild<TFileOperation*>("FileOperation"), copy);
    EXPECT_EQ(owner.findChild<TFileOperation*>("FileOperationDelete"), del);
    EXPECT_EQ(copy->Operation, TStFileOp::fopCopy);
    EXPECT_EQ(del->Operation, TStFileOp::fopDelete);
    EXPECT_FALSE(copy->FailIfExists);
    EXPECT_FALSE(del->FailIfExists);

    // What the settings mean on disk: the copy instance replaces an existing
    // target, the delete instance removes its sources.
    TempTree tree;
    tree.write("src.url", "new");
    tree.write("dst.url", "old");
    copy->SourceFiles = {tree.native("src.url")};
    copy->Destination = tree.native("dst.url");
    EXPECT_TRUE(copy->Execute());
    EXPECT_EQ(tree.read("dst.url"), QByteArray("new"));
    del->SourceFiles = {tree.native("src.url")};
    EXPECT_TRUE(del->Execute());
    EXPECT_FALSE(tree.exists("src.url"));
    EXPECT_TRUE(tree.exists("dst.url"));
}

// Pipes, devices, links to them or to nothing: never copied, never deleted.
// A copy from a pipe would wait for a writer forever, hence the watchdog.
TEST(FileOperation, OnlyRegularFilesAreCopiedOrDeleted)
{
    TempTree tree;
    tree.write("target.url", "regular");
    tree.mkdir("folder");
    ASSERT_EQ(::mkfifo(tree.native("pipe.url").constData(), 0644), 0);
    ASSERT_EQ(::symlink("/dev/null", tree.native("null.url").constData()), 0);
    ASSERT_EQ(::symlink("missing.url", tree.native("dangling.url").constData()), 0);
    ASSERT_EQ(::symlink("folder", tree.native("folder.url").constData()), 0);
    ASSERT_EQ(::symlink("target.url", tree.native("link.url").constData()), 0);

    struct Case {
        const char* name;
        int copyError;  // 0: copied
        bool survivesDelete;
    } cases[] = {
        {"pipe.url", EINVAL, true},     {"null.url", EINVAL, true},   {"dangling.url", ENOENT, true},
        {"folder.url", EISDIR, true},   {"link.url", 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(tree.abs("copy.url"));
        TFileOperation copy;
        copy.SourceFiles = {tree.native(c.name)};
        copy.Destination = tree.native("copy.url");
        bool copied = false;
        signetrix::test::runWithWatchdog(
            "the copy", [&] { copied = copy.Execute(); },
            [&] { signetrix::test::releasePipeReader(tree.native("pipe.url")); });
        EXPECT_EQ(copied, c.copyError == 0);
        if (c.copyError) {
            EXPECT_EQ(copy.ErrorString, QStringList{fs::lastErrorText(c.copyError)});
            EXPECT_FALSE(QFileInfo::exists(tree.abs("copy.url")));
        } else {
            EXPECT_EQ(tree.read("copy.url"), QByteArray("regular"));
        }

        TFileOperation del;
        del.Operation = TStFileOp::fopDelete;
        del.SourceFiles = {tree.native(c.name)};
        EXPECT_EQ(del.Execute(), !c.survivesDelete);
        struct stat st;
        EXPECT_EQ(::lstat(tree.native(c.name).constData(), &st) == 0, c.survivesDelete);
    }
    // Deleting the link removed the link, not the favorite it led to.
    EXPECT_EQ(tree.read("target.url"), QByteArray("regular"));
}

TEST(FileOperation, ADeviceIsNeverCopiedEvenUntilTheDiskIsFull)
{
    TempTree tree;
    signetrix::test::SmallFileSystem small(tree.abs("small"));
    if (!small.mounted()) GTEST_SKIP() << small.reason();
    ASSERT_EQ(::symlink("/dev/zero", tree.native("zero.url").constData()), 0);

    TFileOperation copy;
    copy.SourceFiles = {tree.native("zero.url")};
    copy.Destination = tree.native("small/zero.url");
    EXPECT_FALSE(copy.Execute());
    // Refused as no regular file, not stopped by a full disk.
    EXPECT_EQ(copy.ErrorString, QStringList{fs::lastErrorText(EINVAL)});
    EXPECT_EQ(small.usedBlocks(), 0);
    EXPECT_TRUE(QDir(tree.abs("small")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
}

} // namespace
