// File-system helpers on native paths and the executable-folder seam.
#include "platform/AppPaths.h"
#include "platform/FileSystem.h"
#include "support/TestSupport.h"

#include <cerrno>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace signetrix {
namespace {

using test::TempTree;

TEST(FileSystem, KindsOfPath)
{
    TempTree tree;
    tree.write(QStringLiteral("file"), "x");
    tree.mkdir(QStringLiteral("folder"));
    ASSERT_EQ(::symlink("nowhere", tree.native(QStringLiteral("dangling")).constData()), 0);
    ASSERT_EQ(::symlink("folder", tree.native(QStringLiteral("to-folder")).constData()), 0);
    ASSERT_EQ(::symlink("file", tree.native(QStringLiteral("to-file")).constData()), 0);
    ASSERT_EQ(::symlink("/dev/zero", tree.native(QStringLiteral("to-device")).constData()), 0);
    ASSERT_EQ(::mkfifo(tree.native(QStringLiteral("pipe")).constData(), 0644), 0);
    const std::optional<fs::FileId> fileId = fs::fileId(tree.native(QStringLiteral("file")));
    ASSERT_TRUE(fileId.has_value());
    struct Case {
        const char* name;
        QByteArray path;
        bool isFile, isFolder, exists, regular;
        int openError; // of openRegularFile; 0 when it opens
    } cases[] = {
        {"file", tree.native(QStringLiteral("file")), true, false, true, true, 0},
        {"link to the file", tree.native(QStringLiteral("to-file")), true, false, true, true, 0},
        {"folder", tree.native(QStringLiteral("folder")), false, true, true, false, EISDIR},
        {"link to a folder", tree.native(QStringLiteral("to-folder")), false, true, true, false, EISDIR},
        {"dangling link", tree.native(QStringLiteral("dangling")), false, false, true, false, ENOENT},
        {"link to a device", tree.native(QStringLiteral("to-device")), true, false, true, false, EINVAL},
        {"named pipe", tree.native(QStringLiteral("pipe")), true, false, true, false, EINVAL},
        {"missing", tree.native(QStringLiteral("missing")), false, false, false, false, ENOENT},
        {"under a file", tree.native(QStringLiteral("file/x")), false, false, false, false, ENOTDIR},
        {"empty path", QByteArray(), false, false, false, false, ENOENT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(fs::isFile(c.path), c.isFile);
        EXPECT_EQ(fs::isFolder(c.path), c.isFolder);
        EXPECT_EQ(fs::exists(c.path), c.exists);
        EXPECT_EQ(fs::isRegularFile(c.path), c.regular);
        int error = -1;
        const int fd = fs::openRegularFile(c.path, &error);
        EXPECT_EQ(fd >= 0, c.openError == 0);
        if (fd >= 0) ::close(fd);
        else EXPECT_EQ(error, c.openError);
        // Only the file and its link are that file.
        const std::optional<fs::FileId> id = fs::fileId(c.path);
        EXPECT_EQ(id == fileId, c.regular);
    }
}

TEST(FileSystem, TemporaryFilesHaveTheProgramsOwnPattern)
{
    TempTree tree;
    QByteArray temp;
    const int fd = fs::createTempFile(tree.native(QStringLiteral("")), temp);
    ASSERT_GE(fd, 0);
    ::close(fd);
    const QByteArray name = temp.mid(temp.lastIndexOf('/') + 1);
    EXPECT_TRUE(fs::isTempFileName(name)) << name.toStdString();
    EXPECT_TRUE(fs::isFile(temp));
    for (const char* other : {".signetrix-tmp-", ".signetrix-tmp-12345", ".signetrix-tmp-1234567", "signetrix-tmp-123456",
                              ".Site.url.123456"}) {
        SCOPED_TRACE(other);
        EXPECT_FALSE(fs::isTempFileName(other));
    }
}

TEST(FileSystem, ReadFileHonoursTheLimit)
{
    TempTree tree;
    tree.write(QStringLiteral("ten"), "0123456789");
    tree.mkdir(QStringLiteral("folder"));
    QByteArray contents = "stale";
    EXPECT_TRUE(fs::readFile(tree.native(QStringLiteral("ten")), contents, 10));
    EXPECT_EQ(contents.toStdString(), "0123456789");
    EXPECT_FALSE(fs::readFile(tree.native(QStringLiteral("ten")), contents, 9));
    EXPECT_TRUE(contents.isEmpty());
    EXPECT_FALSE(fs::readFile(tree.native(QStringLiteral("folder")), contents));
    EXPECT_FALSE(fs::readFile(tree.native(QStringLiteral("missing")), contents));

    // A pipe would block the read until some writer came: refused at once.
    const QByteArray pipe = tree.native(QStringLiteral("pipe"));
    ASSERT_EQ(::mkfifo(pipe.constData(), 0644), 0);
    bool read = true;
    test::runWithWatchdog("reading a pipe", [&] { read = fs::readFile(pipe, contents); },
                          [&] { test::releasePipeReader(pipe); });
    EXPECT_FALSE(read);
}

TEST(FileSystem, WriteBitsDecideReadOnlyEvenForTheSuperUser)
{
    TempTree tree;
    tree.write(QStringLiteral("f"), "x");
    const QByteArray path = tree.native(QStringLiteral("f"));
    for (const auto& [mode, readOnly] : {std::pair{mode_t(0644), false}, std::pair{mode_t(0444), true},
                                         std::pair{mode_t(0200), false}, std::pair{mode_t(0000), true}}) {
        SCOPED_TRACE(mode);
        ASSERT_EQ(::chmod(path.constData(), mode), 0);
        EXPECT_EQ(fs::isReadOnly(path), readOnly);
    }
    EXPECT_FALSE(fs::isReadOnly(tree.native(QStringLiteral("missing"))));
}

TEST(AppPaths, ProgramFilesLiveNextToTheExecutable)
{
    test::ExeFolderGuard exe(QStringLiteral("Signetrix"));
    EXPECT_EQ(platform::executablePath(), exe.exePath());
    EXPECT_EQ(platform::executableFolder(), exe.folder());
    EXPECT_EQ(platform::settingsFilePath(), exe.folder() + QStringLiteral("Signetrix.ini"));
    EXPECT_EQ(platform::logFilePath(), exe.folder() + QStringLiteral("Signetrix.log"));
}

TEST(AppPaths, FavoritesFolderOnlyWhenItIsAFolder)
{
    test::HomeGuard home;
    EXPECT_TRUE(platform::favoritesFolder().isEmpty());
    QFile file(home.favorites());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_TRUE(platform::favoritesFolder().isEmpty());
    ASSERT_TRUE(QFile::remove(home.favorites()));
    ASSERT_TRUE(QDir().mkdir(home.favorites()));
    EXPECT_EQ(platform::favoritesFolder(), home.favorites());
}

} // namespace
} // namespace signetrix
