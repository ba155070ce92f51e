// INI files written and read one key at a time.
#include "platform/ProfileStrings.h"
#include "support/TestSupport.h"

#include <QDir>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace signetrix::platform {
namespace {

using test::TempTree;

// Writes [S] k=2 to path, which must be refused; returns the error number given.
int refusedWriteError(const QByteArray& path)
{
    int error = 0;
    EXPECT_FALSE(writeProfileString(path, "S", "k", "2", &error)) << "the write was not refused";
    return error;
}

struct WriteCase {
    const char* name;
    QByteArray before;
    const char* section;
    const char* key;
    QByteArray after;
};

const WriteCase kWriteCases[] = {
    {"existing key replaced in place, other bytes kept",
     "; comment \t\r\n[Main]\r\nalpha = 1 \r\nbeta=2\r\n\r\n[Other]\r\nalpha=x\r\n", "Main", "alpha",
     "; comment \t\r\n[Main]\r\nalpha=NEW\r\nbeta=2\r\n\r\n[Other]\r\nalpha=x\r\n"},
    {"section and key without regard to case",
     "[mAIN]\r\nALPHA=1\r\n", "Main", "alpha", "[mAIN]\r\nalpha=NEW\r\n"},
    {"blanks inside the brackets", "[ Main ]\r\nalpha=1\r\n", "Main", "alpha", "[ Main ]\r\nalpha=NEW\r\n"},
    {"new key at the end of its section, before blank lines",
     "[Main]\r\nbeta=2\r\n\r\n[Other]\r\nx=1\r\n", "Main", "alpha",
     "[Main]\r\nbeta=2\r\nalpha=NEW\r\n\r\n[Other]\r\nx=1\r\n"},
    {"new key in an empty section", "[Main]\r\n[Other]\r\n", "main", "alpha", "[Main]\r\nalpha=NEW\r\n[Other]\r\n"},
    {"first of two equal sections", "[Main]\r\nb=1\r\n[Main]\r\nalpha=2\r\n", "Main", "alpha",
     "[Main]\r\nb=1\r\nalpha=NEW\r\n[Main]\r\nalpha=2\r\n"},
    {"key of another section untouched", "[Other]\r\nalpha=1\r\n", "Main", "alpha",
     "[Other]\r\nalpha=1\r\n[Main]\r\nalpha=NEW\r\n"},
    {"new section at the end", "[Other]\r\nx=1\r\n", "Main", "alpha", "[Other]\r\nx=1\r\n[Main]\r\nalpha=NEW\r\n"},
    {"empty file", "", "Main", "alpha", "[Main]\r\nalpha=NEW\r\n"},
    {"missing final break, new key", "[Main]\r\nb=1", "Main", "alpha", "[Main]\r\nb=1\r\nalpha=NEW\r\n"},
    {"missing final break, new section", "[Other]\r\nb=1", "Main", "alpha", "[Other]\r\nb=1\r\n[Main]\r\nalpha=NEW\r\n"},
    {"missing final break, replaced key", "[Main]\r\nalpha=1", "Main", "alpha", "[Main]\r\nalpha=NEW"},
    {"CR-only file, replaced key", "[Main]\ralpha=1\rb=2\r", "Main", "alpha", "[Main]\ralpha=NEW\rb=2\r"},
    {"CR-only file, new key", "[Main]\rb=2\r[Other]\r", "Main", "alpha", "[Main]\rb=2\ralpha=NEW\r\n[Other]\r"},
    {"LF-only file, new section", "[Other]\nb=2\n", "Main", "alpha", "[Other]\nb=2\n[Main]\r\nalpha=NEW\r\n"},
    {"garbage lines kept", "junk line\r\n[Main]\r\nno equals\r\n=\r\n", "Main", "alpha",
     "junk line\r\n[Main]\r\nno equals\r\n=\r\nalpha=NEW\r\n"},
};

TEST(ProfileWrite, TextUpdates)
{
    for (const WriteCase& c : kWriteCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(applyProfileWrite(c.before, c.section, c.key, "NEW").toStdString(), c.after.toStdString());
    }
}

TEST(ProfileWrite, FileUpdatesGoThroughTheSameRules)
{
    TempTree tree;
    for (const WriteCase& c : kWriteCases) {
        SCOPED_TRACE(c.name);
        tree.write(QStringLiteral("s.ini"), c.before);
        int error = 0;
        ASSERT_TRUE(writeProfileString(tree.native(QStringLiteral("s.ini")), c.section, c.key, "NEW", &error)) << error;
        EXPECT_EQ(tree.read(QStringLiteral("s.ini")).toStdString(), c.after.toStdString());
        EXPECT_EQ(getProfileString(tree.native(QStringLiteral("s.ini")), c.section, c.key, "def").toStdString(), "NEW");
    }
    // Nothing but the file itself is left in the folder.
    EXPECT_EQ(QDir(tree.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("s.ini")});
}

TEST(ProfileWrite, MissingFileIsCreated)
{
    TempTree tree;
    const QByteArray path = tree.native(QStringLiteral("new.ini"));
    ASSERT_TRUE(writeProfileString(path, "Setting", "edFileMax.Text", "12"));
    ASSERT_TRUE(writeProfileString(path, "Setting", "Other.Checked", "1"));
    EXPECT_EQ(tree.read(QStringLiteral("new.ini")).toStdString(), "[Setting]\r\nedFileMax.Text=12\r\nOther.Checked=1\r\n");

    EXPECT_EQ(refusedWriteError(tree.native(QStringLiteral("no/such/folder.ini"))), ENOENT);
}

TEST(ProfileWrite, PermissionsAreKept)
{
    TempTree tree;
    tree.write(QStringLiteral("p.ini"), "[S]\r\nk=1\r\n");
    const QByteArray path = tree.native(QStringLiteral("p.ini"));
    for (mode_t mode : {mode_t(0600), mode_t(0640), mode_t(0604), mode_t(0755)}) {
        SCOPED_TRACE(mode);
        ASSERT_EQ(::chmod(path.constData(), mode), 0);
        ASSERT_TRUE(writeProfileString(path, "S", "k", QByteArray::number(mode)));
        struct stat st;
        ASSERT_EQ(::stat(path.constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode);
    }
}

TEST(ProfileWrite, ReadOnlyFileIsRefusedAndUnchanged)
{
    TempTree tree;
    const QByteArray before = "[S]\r\nk=1\r\n";
    tree.write(QStringLiteral("ro.ini"), before);
    const QByteArray path = tree.native(QStringLiteral("ro.ini"));
    ASSERT_EQ(::chmod(path.constData(), 0444), 0);

    EXPECT_EQ(refusedWriteError(path), EACCES);
    EXPECT_FALSE(writeProfileString(path, "T", "new", "2"));
    EXPECT_EQ(tree.read(QStringLiteral("ro.ini")).toStdString(), before.toStdString());
    struct stat st;
    ASSERT_EQ(::stat(path.constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode_t(0444));
    EXPECT_EQ(QDir(tree.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("ro.ini")});
}

TEST(ProfileWrite, FolderIsRefused)
{
    TempTree tree;
    tree.mkdir(QStringLiteral("dir.ini"));
    EXPECT_EQ(refusedWriteError(tree.native(QStringLiteral("dir.ini"))), EISDIR);
}

TEST(ProfileWrite, SymbolicLinkIsWrittenThrough)
{
    TempTree tree;
    tree.write(QStringLiteral("real.ini"), "[S]\r\nk=1\r\n");
    ASSERT_EQ(::symlink("real.ini", tree.native(QStringLiteral("link.ini")).constData()), 0);
    ASSERT_TRUE(writeProfileString(tree.native(QStringLiteral("link.ini")), "S", "k", "2"));
    struct stat st;
    ASSERT_EQ(::lstat(tree.native(QStringLiteral("link.ini")).constData(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(tree.read(QStringLiteral("real.ini")).toStdString(), "[S]\r\nk=2\r\n");
}

TEST(ProfileRead, Values)
{
    TempTree tree;
    tree.write(QStringLiteral("r.ini"),
               "top=before any section\r\n[Main]\r\n  plain  =  spaced value \t\r\nquoted=\"  in quotes \"\r\n"
               "half=\"open\r\nempty=\r\nlong=" + QByteArray(3000, 'x') + "\r\n[Other]\r\nplain=other\r\n");
    const QByteArray path = tree.native(QStringLiteral("r.ini"));
    struct Case {
        const char* section;
        const char* key;
        int maxChars;
        QByteArray expected;
    } cases[] = {
        {"Main", "plain", 2047, "spaced value"},
        {"MAIN", "PLAIN", 2047, "spaced value"},
        {"Main", "quoted", 2047, "  in quotes "},
        {"Main", "half", 2047, "\"open"},
        {"Main", "empty", 2047, ""},
        {"Main", "long", 2047, QByteArray(2047, 'x')},
        {"Main", "plain", 5, "space"},
        {"Other", "plain", 2047, "other"},
        {"Main", "missing", 2047, "def"},
        {"Missing", "plain", 2047, "def"},
        {"Main", "top", 2047, "def"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key);
        EXPECT_EQ(getProfileString(path, c.section, c.key, "def", c.maxChars).toStdString(), c.expected.toStdString());
    }
    EXPECT_EQ(getProfileString(tree.native(QStringLiteral("absent.ini")), "Main", "plain", "def").toStdString(), "def");
}

} // namespace
} // namespace signetrix::platform
