// File-system helpers on native paths and the executable-folder seam.
#include "platform/AppPaths.h"
#include "platform/FileSystem.h"
#include "support/TestSupport.h"

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
    struct Case {
        const char* name;
        QByteArray path;
        bool isFile, isFolder, exists;
    } cases[] = {
        {"file", tree.native(QStringLiteral("file")), true, false, true},
        {"folder", tree.native(QStringLiteral("folder")), false, true, true},
        {"link to a folder", tree.native(QStringLiteral("to-folder")), false, true, true},
        {"dangling link", tree.native(QStringLiteral("dangling")), false, false, true},
        {"missing", tree.native(QStringLiteral("missing")), false, false, false},
        {"under a file", tree.native(QStringLiteral("file/x")), false, false, false},
        {"empty path", QByteArray(), false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(fs::isFile(c.path), c.isFile);
        EXPECT_EQ(fs::isFolder(c.path), c.isFolder);
        EXPECT_EQ(fs::exists(c.path), c.exists);
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
