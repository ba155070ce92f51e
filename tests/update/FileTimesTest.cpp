// File times as the version test reads them (the standard offset added,
// daylight saving left out), the version test itself, and the listing of the
// unpack folder.
#include "update/UpdateFiles.h"

#include "UpdateTestTools.h"

#include <QDateTime>
#include <QDir>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace signetrix::update {
namespace {

using namespace test;

void setTimes(const QString& path, timespec access, timespec write)
{
    const timespec times[2] = {access, write};
    ASSERT_EQ(::utimensat(AT_FDCWD, native(path).constData(), times, 0), 0) << path.toStdString();
}

QDateTime utc(qint64 msecs) { return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC); }

class FileTimesTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    void TearDown() override { SetStandardOffsetForTesting(std::nullopt); }
    QString file(const QString& name, const QByteArray& bytes = "x")
    {
        const QString path = m_dir.filePath(name);
        EXPECT_TRUE(writeAll(path, bytes));
        return path;
    }
    QTemporaryDir m_dir;
};

TEST_F(FileTimesTest, AddsTheStandardOffsetToEveryTime)
{
    for (const int offset : {0, 60, -300, 330}) {
        SCOPED_TRACE(offset);
        SetStandardOffsetForTesting(offset);
        const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-1);
        const QString path = file(QStringLiteral("f%1").arg(offset + 1000));
        setTimes(path, {1600000000, 250'000'000}, {1700000000, 500'000'000});
        const QDateTime after = QDateTime::currentDateTimeUtc().addSecs(1);

        FileTimes times;
        ASSERT_TRUE(GetFileTimes(path, &times));

        EXPECT_EQ(times.lastWrite, utc(1700000000500).addSecs(offset * 60));
        EXPECT_EQ(times.lastAccess, utc(1600000000250).addSecs(offset * 60));
        // The file was made (and its status changed) during the test.
        EXPECT_GE(times.creation, before.addSecs(offset * 60));
        EXPECT_LE(times.creation, after.addSecs(offset * 60));
    }
}

TEST_F(FileTimesTest, FailsOnWhatCannotBeOpenedAsAFile)
{
    const QString fifo = m_dir.filePath("pipe");
    ASSERT_EQ(::mkfifo(native(fifo).constData(), 0600), 0);
    const QString folder = m_dir.filePath("folder");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString dangling = m_dir.filePath("dangling");
    ASSERT_TRUE(QFile::link(m_dir.filePath("nowhere"), dangling));
    // A pipe without a writer must not block the check.
    for (const QString& path : {m_dir.filePath("missing"), folder, fifo, dangling, QString()}) {
        SCOPED_TRACE(path.toStdString());
        FileTimes times;
        EXPECT_FALSE(GetFileTimes(path, &times));
        EXPECT_FALSE(GetFileTimes(path, nullptr));
    }
}

TEST_F(FileTimesTest, FailsOnAFileThatCannotBeRead)
{
    if (::geteuid() == 0) GTEST_SKIP() << "the super-user reads every file";
    const QString path = file("locked");
    ASSERT_EQ(::chmod(native(path).constData(), 0), 0);
    EXPECT_FALSE(GetFileTimes(path, nullptr));
}

TEST_F(FileTimesTest, ALinkGivesTheTimesOfItsFile)
{
    SetStandardOffsetForTesting(0);
    const QString target = file("target");
    setTimes(target, {1000, 0}, {2000, 0});
    const QString link = m_dir.filePath("link");
    ASSERT_TRUE(QFile::link(target, link));
    FileTimes times;
    ASSERT_TRUE(GetFileTimes(link, &times));
    EXPECT_EQ(times.lastWrite, utc(2000'000));
}

TEST(StandardOffsetTest, IsTheZonesOffsetWithoutDaylightSaving)
{
    struct Case {
        const char* zone;
        int minutes;
    };
    // Whatever the date the test runs on: daylight saving never counts.
    const Case cases[] = {{"Europe/Paris", 60},
                          {"America/New_York", -300},
                          {"Asia/Kolkata", 330},
                          {"Australia/Adelaide", 570},
                          {"UTC", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.zone);
        TimeZoneGuard zone(c.zone);
        EXPECT_EQ(StandardOffsetMinutes(), c.minutes);
    }
}

TEST(StandardOffsetTest, ATestCanFixItAndRestoreTheZones)
{
    TimeZoneGuard zone("Europe/Paris");
    SetStandardOffsetForTesting(-45);
    EXPECT_EQ(StandardOffsetMinutes(), -45);
    SetStandardOffsetForTesting(0);
    EXPECT_EQ(StandardOffsetMinutes(), 0);
    SetStandardOffsetForTesting(std::nullopt);
    EXPECT_EQ(StandardOffsetMinutes(), 60);
}

TEST_F(FileTimesTest, AnUpdateIsNewerOnlyWhenWrittenStrictlyLater)
{
    SetStandardOffsetForTesting(60);
    struct Case {
        const char* what;
        std::optional<timespec> fresh, running; // nullopt: no such file
        bool newer;
    };
    const timespec base{1700000000, 0};
    const Case cases[] = {
        {"a second later", timespec{1700000001, 0}, base, true},
        {"half a second later", timespec{1700000000, 500'000'000}, base, true},
        {"same time", base, base, false},
        {"a second earlier", timespec{1699999999, 0}, base, false},
        {"no new executable", std::nullopt, base, false},
        {"no running executable", timespec{1700000001, 0}, std::nullopt, false},
        {"neither", std::nullopt, std::nullopt, false},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString fresh = m_dir.filePath(QStringLiteral("new%1").arg(n));
        const QString running = m_dir.filePath(QStringLiteral("running%1").arg(n++));
        if (c.fresh) {
            writeAll(fresh, "new");
            setTimes(fresh, *c.fresh, *c.fresh);
        }
        if (c.running) {
            writeAll(running, "old");
            setTimes(running, *c.running, *c.running);
        }
        EXPECT_EQ(IsUpdateNewer(fresh, running), c.newer);
    }
}

// ---------------------------------------------------------------- listing

TEST_F(FileTimesTest, ListsEveryNonFolderDirectlyInside)
{
    const QString folder = m_dir.filePath("temp/");
    ASSERT_TRUE(QDir().mkpath(folder + "sub/deeper"));
    ASSERT_TRUE(writeAll(folder + "Signetrix", "p"));
    ASSERT_TRUE(writeAll(folder + ".hidden", "h"));
    ASSERT_TRUE(writeAll(folder + "12.zip", "left by a backup"));
    ASSERT_TRUE(writeAll(folder + "sub/inside", "not listed"));
    ASSERT_TRUE(QFile::link(folder + "Signetrix", folder + "link-to-file"));
    ASSERT_TRUE(QFile::link(folder + "sub", folder + "link-to-folder"));
    ASSERT_TRUE(writeAll(folder + ".signetrix-tmp-Ab12Cd", "a killed unpack's leftover"));

    const QStringList expected{folder + "Signetrix", folder + ".hidden", folder + "12.zip", folder + "link-to-file"};
    EXPECT_THAT(ListFolderFiles(folder), ::testing::UnorderedElementsAreArray(expected));
    // Without the final "/" the paths are the same.
    QString bare = folder;
    bare.chop(1);
    EXPECT_THAT(ListFolderFiles(bare), ::testing::UnorderedElementsAreArray(expected));
}

TEST_F(FileTimesTest, ListsInDirectoryOrder)
{
    const QString folder = m_dir.filePath("many/");
    ASSERT_TRUE(QDir().mkpath(folder));
    for (int i = 0; i < 40; ++i)
        ASSERT_TRUE(writeAll(folder + QStringLiteral("f%1").arg(i), "x"));
    QStringList listed;
    for (const QString& name : QDir(folder).entryList(QDir::Files, QDir::Unsorted))
        listed.append(folder + name);
    EXPECT_EQ(ListFolderFiles(folder), listed);
}

TEST_F(FileTimesTest, ListsNothingForAnEmptyMissingOrUnreadableFolder)
{
    const QString empty = m_dir.filePath("empty/");
    ASSERT_TRUE(QDir().mkpath(empty));
    const QString notAFolder = file("plain");
    for (const QString& folder : {empty, m_dir.filePath("missing/"), notAFolder + "/", notAFolder, QString()}) {
        SCOPED_TRACE(folder.toStdString());
        EXPECT_TRUE(ListFolderFiles(folder).isEmpty());
    }
}

} // namespace
} // namespace signetrix::update
