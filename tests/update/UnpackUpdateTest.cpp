// Unpacking the update archive: archives written with libzip as each case
// needs (names, times, attributes), the release the server's publish command
// builds, and archives that must leave the folder exactly as it was.
#include "update/UpdateFiles.h"

#include "UpdateTestTools.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <functional>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace signetrix::update {
namespace {

using namespace test;

struct FileState {
    QByteArray bytes;
    mode_t mode = 0;
    timespec mtime{};
    QByteArray link; // target, for a link
    bool operator==(const FileState& o) const
    {
        return bytes == o.bytes && mode == o.mode && mtime.tv_sec == o.mtime.tv_sec &&
               mtime.tv_nsec == o.mtime.tv_nsec && link == o.link;
    }
};

// Everything below a folder (hidden entries and links included), by relative path.
std::map<QString, FileState> snapshot(const QString& root)
{
    std::map<QString, FileState> out;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat st {};
        ::lstat(native(path).constData(), &st);
        FileState s;
        s.mode = st.st_mode;
        s.mtime = st.st_mtim;
        if (S_ISLNK(st.st_mode))
            s.link = QFile::symLinkTarget(path).toUtf8();
        else if (S_ISREG(st.st_mode))
            s.bytes = readAll(path);
        out[QDir(root).relativeFilePath(path)] = s;
    }
    return out;
}

QStringList namesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

mode_t modeOf(const QString& path)
{
    struct stat st {};
    EXPECT_EQ(::lstat(native(path).constData(), &st), 0) << path.toStdString();
    return st.st_mode;
}

time_t mtimeOf(const QString& path)
{
    struct stat st {};
    EXPECT_EQ(::lstat(native(path).constData(), &st), 0) << path.toStdString();
    return st.st_mtime;
}

class UnpackUpdateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_oldUmask = ::umask(022);
    }
    void TearDown() override { ::umask(m_oldUmask); }

    QString archive(const std::vector<ZipEntry>& entries, const QString& name = QStringLiteral("Signetrix.zip"))
    {
        const QString path = m_dir.filePath(name);
        EXPECT_TRUE(writeZip(path, entries));
        return path;
    }
    QString folder() const { return m_dir.filePath("exe/temp/"); }

    QTemporaryDir m_dir;
    mode_t m_oldUmask = 0;
};

TEST_F(UnpackUpdateTest, DropsFolderPathsAndSkipsFolderEntries)
{
    const QString zip = archive({
        ZipEntry::folderEntry("Signetrix/"),
        ZipEntry::folderEntry("Signetrix/bin/"),
        ZipEntry::file("Signetrix/bin/Signetrix", "ELF new program").mode(0100755),
        ZipEntry::file("Signetrix/doc/lisez-moi.txt", "Bonjour"),
        // Java and others write folders without attributes: no data and a final "/" are enough.
        ZipEntry::file("empty/", "").madeByDos(0),
        ZipEntry::file("top.ini", "[Setting]\n"),
    });
    ASSERT_FALSE(QDir(folder()).exists());

    const UnpackUpdateResult result = UnpackUpdateArchive(zip, folder());

    ASSERT_TRUE(result.ok) << result.error.toStdString();
    EXPECT_EQ(result.files, QStringList({folder() + "Signetrix", folder() + "lisez-moi.txt", folder() + "top.ini"}));
    EXPECT_EQ(namesIn(folder()), QStringList({"Signetrix", "lisez-moi.txt", "top.ini"}));
    EXPECT_EQ(readAll(folder() + "Signetrix"), QByteArray("ELF new program"));
    EXPECT_EQ(readAll(folder() + "lisez-moi.txt"), QByteArray("Bonjour"));
    EXPECT_TRUE(S_ISREG(modeOf(folder() + "Signetrix")));
}

TEST_F(UnpackUpdateTest, ReplacesFilesOfTheSameNameWithoutFollowingLinks)
{
    ASSERT_TRUE(QDir().mkpath(folder()));
    const QString outside = m_dir.filePath("outside.txt");
    ASSERT_TRUE(writeAll(outside, "not to be touched"));
    ASSERT_TRUE(writeAll(folder() + "Signetrix", "old program, a longer text than the new one"));
    ASSERT_EQ(::chmod(native(folder() + "Signetrix").constData(), 0444), 0); // read-only is replaced too
    ASSERT_TRUE(writeAll(folder() + "keep.txt", "left by a backup"));
    ASSERT_TRUE(QFile::link(outside, folder() + "notes.txt"));
    const QString zip = archive({
        ZipEntry::file("bin/Signetrix", "new").mode(0100755),
        ZipEntry::file("notes.txt", "new notes").mode(0100644),
    });

    const UnpackUpdateResult result = UnpackUpdateArchive(zip, folder());

    ASSERT_TRUE(result.ok) << result.error.toStdString();
    EXPECT_EQ(readAll(folder() + "Signetrix"), QByteArray("new"));
    EXPECT_EQ(modeOf(folder() + "Signetrix") & 07777, mode_t(0755));
    EXPECT_TRUE(S_ISREG(modeOf(folder() + "notes.txt")));
    EXPECT_EQ(readAll(folder() + "notes.txt"), QByteArray("new notes"));
    EXPECT_EQ(readAll(outside), QByteArray("not to be touched"));
    EXPECT_EQ(readAll(folder() + "keep.txt"), QByteArray("left by a backup"));
    // No temporary file left beside them.
    EXPECT_EQ(namesIn(folder()), QStringList({"Signetrix", "keep.txt", "notes.txt"}));
}

TEST_F(UnpackUpdateTest, TheLaterOfTwoEntriesOfOneNameWins)
{
    const QString zip = archive({
        ZipEntry::file("a/Signetrix", "first"),
        ZipEntry::file("readme", "r"),
        ZipEntry::file("b/Signetrix", "second"),
    });
    const UnpackUpdateResult result = UnpackUpdateArchive(zip, folder());
    ASSERT_TRUE(result.ok) << result.error.toStdString();
    EXPECT_EQ(readAll(folder() + "Signetrix"), QByteArray("second"));
    EXPECT_EQ(result.files, QStringList({folder() + "readme", folder() + "Signetrix"}));
}

TEST_F(UnpackUpdateTest, KeepsPermissionBitsButNeverSetIdOrSticky)
{
    struct Case {
        const char* name;
        std::optional<quint32> unixMode;
        std::optional<quint32> dosAttributes;
        mode_t expected;
    };
    const Case cases[] = {
        {"exec", 0100755, {}, 0755},       {"setuid", 0104755, {}, 0755},    {"setgid", 0102750, {}, 0750},
        {"sticky-all", 0101777, {}, 0777}, // the umask does not apply either
        {"private", 0100600, {}, 0600},    {"readonly", 0100444, {}, 0444},  {"no-type-bits", 0000700, {}, 0700},
        {"dos-made", {}, 0x20, 0644},      {"dos-readonly", {}, 0x21, 0644}, {"unix-no-mode", 0, {}, 0644},
    };
    std::vector<ZipEntry> entries;
    for (const Case& c : cases) {
        ZipEntry e = ZipEntry::file(QByteArray("bin/") + c.name, c.name);
        e.unixMode = c.unixMode;
        e.dosAttributes = c.dosAttributes;
        entries.push_back(e);
    }
    const UnpackUpdateResult result = UnpackUpdateArchive(archive(entries), folder());
    ASSERT_TRUE(result.ok) << result.error.toStdString();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const mode_t mode = modeOf(folder() + c.name);
        EXPECT_TRUE(S_ISREG(mode));
        EXPECT_EQ(mode & 07777, c.expected);
    }
}

TEST_F(UnpackUpdateTest, GivesEachFileItsStoredModificationTime)
{
    // DOS fields hold local time: a zone away from UTC shows whether they are read as such.
    TimeZoneGuard zone("Europe/Paris");
    const QDateTime winter(QDate(2021, 1, 15), QTime(12, 34, 56), Qt::LocalTime);
    const QDateTime summer(QDate(2022, 7, 1), QTime(8, 0, 2), Qt::LocalTime);
    ASSERT_EQ(winter.offsetFromUtc(), 3600) << "the test time zone is not in effect";
    ASSERT_EQ(summer.offsetFromUtc(), 7200);
    const auto otherDos = dosFields(1999, 12, 31, 23, 58, 0);
    struct Case {
        const char* name;
        ZipEntry entry;
        time_t expected;
    };
    const Case cases[] = {
        {"dos-winter", ZipEntry().dosAt(dosFields(2021, 1, 15, 12, 34, 56)), winter.toSecsSinceEpoch()},
        {"dos-summer", ZipEntry().dosAt(dosFields(2022, 7, 1, 8, 0, 2)), summer.toSecsSinceEpoch()},
        {"extended", ZipEntry().dosAt(otherDos).extended(1700000001), 1700000001},
        {"extended-local-only", ZipEntry().dosAt(otherDos).extended(1600000003, true), 1600000003},
        {"old-unix", ZipEntry().dosAt(otherDos).oldUnix(1500000000, 1500000007), 1500000007},
        {"extended-before-old-unix", ZipEntry().dosAt(otherDos).extended(1400000009).oldUnix(1, 2), 1400000009},
    };
    std::vector<ZipEntry> entries;
    for (const Case& c : cases) {
        ZipEntry e = c.entry;
        e.name = QByteArray("x/") + c.name;
        e.data = c.name;
        entries.push_back(e);
    }
    const UnpackUpdateResult result = UnpackUpdateArchive(archive(entries), folder());
    ASSERT_TRUE(result.ok) << result.error.toStdString();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(mtimeOf(folder() + c.name), c.expected);
    }
}

TEST_F(UnpackUpdateTest, UnpacksTheReleaseThatThePublishCommandBuilds)
{
    const QString server = serverProgram();
    ASSERT_TRUE(QFile::exists(server)) << "build the signetrix_server target first: " << server.toStdString();
    const QString program = m_dir.filePath("build/Signetrix");
    ASSERT_TRUE(QDir().mkpath(m_dir.filePath("build")));
    ASSERT_TRUE(writeAll(program, "a real build would be here"));
    ASSERT_EQ(::chmod(native(program).constData(), 0755), 0);
    const timespec times[2] = {{1234567891, 0}, {1234567891, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, native(program).constData(), times, 0), 0);
    QTemporaryDir data;
    const ProcessRun run =
        runTool(server, {"publish", "--data", data.path(), "--key", sourceFile("server/keys/loopback.key"), program});
    ASSERT_EQ(run.exitCode, 0) << run.output.toStdString();

    const UnpackUpdateResult result = UnpackUpdateArchive(data.filePath("download/Signetrix.zip"), folder());

    ASSERT_TRUE(result.ok) << result.error.toStdString();
    EXPECT_EQ(result.files, QStringList{folder() + "Signetrix"});
    EXPECT_EQ(readAll(folder() + "Signetrix"), QByteArray("a real build would be here"));
    EXPECT_EQ(modeOf(folder() + "Signetrix") & 07777, mode_t(0755));
    EXPECT_EQ(mtimeOf(folder() + "Signetrix"), time_t(1234567891));
}

// ---------------------------------------------------------------- refusals

// A name with a NUL cannot be given to libzip: write a stand-in and replace
// its bytes in both headers.
void putNul(const QString& zip, const QByteArray& standIn, const QByteArray& withNul)
{
    QByteArray bytes = readAll(zip);
    ASSERT_EQ(bytes.count(standIn), 2);
    bytes.replace(standIn, withNul);
    ASSERT_TRUE(writeAll(zip, bytes));
}

void alterBytes(const QString& zip, const QByteArray& inside)
{
    QByteArray bytes = readAll(zip);
    const qsizetype at = bytes.indexOf(inside);
    ASSERT_GE(at, 0);
    bytes[at + 3] = char(bytes[at + 3] ^ 0x20);
    ASSERT_TRUE(writeAll(zip, bytes));
}

struct Refusal {
    const char* what;
    std::vector<ZipEntry> badEntries; // after a valid entry that must not be written either
    std::function<void(const QString& zip)> damage;
};

class UnpackRefusalTest : public UnpackUpdateTest {
protected:
    // The folder holds a file the archive's valid entry would replace, and a
    // sub-folder named like a file.
    void fill(const QString& folder)
    {
        ASSERT_TRUE(QDir().mkpath(folder + "sub"));
        ASSERT_TRUE(writeAll(folder + "Signetrix", "old program"));
        ASSERT_TRUE(writeAll(folder + "sub/inner", "inner"));
        ASSERT_TRUE(writeAll(folder + ".hidden", "h"));
    }
    QString build(const Refusal& r)
    {
        std::vector<ZipEntry> entries{ZipEntry::file("Signetrix/Signetrix", "new program").mode(0100755)};
        entries.insert(entries.end(), r.badEntries.begin(), r.badEntries.end());
        const QString zip = archive(entries, QStringLiteral("refused.zip"));
        if (r.damage) r.damage(zip);
        return zip;
    }
};

const Refusal kRefusals[] = {
    {"parent after dropping", {ZipEntry::file("a/..", "x")}, {}},
    {"bare parent", {ZipEntry::file("..", "x")}, {}},
    {"dot", {ZipEntry::file("Signetrix/.", "x")}, {}},
    {"a name ending with a slash that holds data", {ZipEntry::file("x/", "data")}, {}},
    {"backslash", {ZipEntry::file("bin\\Signetrix", "x")}, {}},
    {"backslash climbing", {ZipEntry::file("..\\..\\evil", "x")}, {}},
    {"NUL in the name",
     {ZipEntry::file("bin/evil#name", "x")},
     [](const QString& zip) { putNul(zip, "evil#name", QByteArray("evil\0name", 9)); }},
    {"NUL in a dropped folder",
     {ZipEntry::file("a#b/ok", "x")},
     [](const QString& zip) { putNul(zip, "a#b/ok", QByteArray("a\0b/ok", 6)); }},
    {"the program's temporary-file pattern", {ZipEntry::file("t/.signetrix-tmp-abc123", "x")}, {}},
    {"a name too long for the file system", {ZipEntry::file(QByteArray(256, 'n'), "x")}, {}},
    {"a stored link", {ZipEntry::file("lnk", "/etc/passwd").mode(0120777)}, {}},
    {"a folder entry holding data", {ZipEntry::file("dir", "x").mode(040755)}, {}},
    {"bad CRC",
     {ZipEntry::file("second", "PAYLOAD-TO-ALTER-0123456789").store()},
     [](const QString& zip) { alterBytes(zip, "PAYLOAD-TO-ALTER"); }},
    {"truncated",
     {ZipEntry::file("second", QByteArray(5000, 'z'))},
     [](const QString& zip) {
         const QByteArray bytes = readAll(zip);
         ASSERT_TRUE(writeAll(zip, bytes.left(bytes.size() - 30)));
     }},
    {"cut in the middle",
     {ZipEntry::file("second", QByteArray(5000, 'z'))},
     [](const QString& zip) {
         QByteArray bytes = readAll(zip);
         bytes.remove(40, 20);
         ASSERT_TRUE(writeAll(zip, bytes));
     }},
    {"not an archive", {}, [](const QString& zip) { ASSERT_TRUE(writeAll(zip, "this is no ZIP archive at all")); }},
    {"empty file", {}, [](const QString& zip) { ASSERT_TRUE(writeAll(zip, QByteArray())); }},
    {"missing archive", {}, [](const QString& zip) { ASSERT_TRUE(QFile::remove(zip)); }},
};

TEST_F(UnpackRefusalTest, LeavesTheFolderExactlyAsItWas)
{
    ASSERT_TRUE(QDir().mkpath(m_dir.filePath("exe")));
    for (const Refusal& r : kRefusals) {
        SCOPED_TRACE(r.what);
        const QString target = m_dir.filePath(QStringLiteral("exe/%1/").arg(&r - kRefusals));
        fill(target);
        const auto before = snapshot(target);
        const QString zip = build(r);

        const UnpackUpdateResult result = UnpackUpdateArchive(zip, target);

        EXPECT_FALSE(result.ok);
        EXPECT_FALSE(result.error.isEmpty());
        EXPECT_TRUE(result.files.isEmpty());
        EXPECT_TRUE(snapshot(target) == before) << "the folder changed";
    }
}

TEST_F(UnpackRefusalTest, DoesNotCreateAMissingFolder)
{
    for (const Refusal& r : kRefusals) {
        SCOPED_TRACE(r.what);
        const QString target = m_dir.filePath(QStringLiteral("missing/%1/temp/").arg(&r - kRefusals));
        const QString zip = build(r);
        EXPECT_FALSE(UnpackUpdateArchive(zip, target).ok);
        EXPECT_FALSE(QFileInfo::exists(m_dir.filePath(QStringLiteral("missing/%1").arg(&r - kRefusals))));
    }
}

TEST_F(UnpackRefusalTest, RefusesWhenTheFolderHoldsAFolderOfAFilesName)
{
    fill(folder());
    const auto before = snapshot(folder());
    const QString zip = archive({ZipEntry::file("Signetrix/Signetrix", "new program"), ZipEntry::file("new/sub", "x")});

    const UnpackUpdateResult result = UnpackUpdateArchive(zip, folder());

    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(snapshot(folder()) == before);
}

TEST_F(UnpackRefusalTest, RefusesAnEncryptedArchive)
{
    const QString path = m_dir.filePath("encrypted.zip");
    int code = 0;
    zip_t* za = zip_open(native(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    ASSERT_NE(za, nullptr);
    static const char data[] = "secret program";
    zip_source_t* src = zip_source_buffer(za, data, sizeof data - 1, 0);
    const zip_int64_t index = zip_file_add(za, "Signetrix", src, 0);
    ASSERT_GE(index, 0);
    ASSERT_EQ(zip_file_set_encryption(za, zip_uint64_t(index), ZIP_EM_AES_256, "password"), 0) << zip_strerror(za);
    ASSERT_EQ(zip_close(za), 0);
    fill(folder());
    const auto before = snapshot(folder());

    const UnpackUpdateResult result = UnpackUpdateArchive(path, folder());

    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(snapshot(folder()) == before);
}

} // namespace
} // namespace signetrix::update
