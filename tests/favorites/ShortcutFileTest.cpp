// Reading, writing and naming Internet shortcut files.
#include "favorites/ShortcutFile.h"
#include "platform/CodePage.h"
#include "platform/Errors.h"
#include "support/TestSupport.h"

#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

namespace signetrix {
namespace {

using test::TempTree;

std::string show(const QByteArray& bytes) { return bytes.toStdString(); }

// Bytes of a literal that may hold NULs.
template <size_t N>
QByteArray raw(const char (&text)[N])
{
    return QByteArray(text, qsizetype(N - 1));
}

QByteArray utf16(const QString& text, bool bigEndian)
{
    QByteArray out(bigEndian ? "\xFE\xFF" : "\xFF\xFE");
    for (const QChar c : text) {
        const char hi = char(c.unicode() >> 8), lo = char(c.unicode() & 0xFF);
        out.append(bigEndian ? hi : lo);
        out.append(bigEndian ? lo : hi);
    }
    return out;
}

struct ReadCase {
    const char* name;
    QByteArray contents;
    QByteArray address; // through either path form: both read the same way
};

const QByteArray kCafeUtf8("http://caf\xC3\xA9.example/");

std::vector<ReadCase> readCases()
{
    const QString cafeText = QStringLiteral("[InternetShortcut]\r\nURL=http://caf\u00e9.example/\r\n");
    return {
        {"plain", "[InternetShortcut]\r\nURL=http://a.example/\r\n", "http://a.example/"},
        {"value after the first equals sign", "[InternetShortcut]\r\nURL=x=y\r\n", "x=y"},
        {"value kept untrimmed", "[InternetShortcut]\r\nURL= http://a \t\r\n", " http://a \t"},
        {"lower-case key not found", "[InternetShortcut]\r\nurl=http://a/\r\n", ""},
        {"blank before the sign not found", "[InternetShortcut]\r\nURL =http://a/\r\n", ""},
        {"lower-case header not found", "[internetshortcut]\r\nURL=http://a/\r\n", ""},
        {"blank after the bracket not found", "[InternetShortcut] \r\nURL=http://a/\r\n", ""},
        {"indented header not found", " [InternetShortcut]\r\nURL=http://a/\r\n", ""},
        {"first of two sections", "[InternetShortcut]\r\nURL=one\r\n[InternetShortcut]\r\nURL=two\r\n", "one"},
        {"only the first section is read", "[InternetShortcut]\r\nA=1\r\n[InternetShortcut]\r\nURL=two\r\n", ""},
        {"first of two keys", "[InternetShortcut]\r\nURL=one\r\nURL=two\r\n", "one"},
        {"blank lines skipped", "[InternetShortcut]\r\n\r\n \t\r\nURL=a\r\n", "a"},
        {"a bracket line ends the section", "[InternetShortcut]\r\nA=1\r\n[Other]\r\nURL=b\r\n", ""},
        {"key before any section ignored", "URL=z\r\n[InternetShortcut]\r\nURL=a\r\n", "a"},
        {"other sections first", "[Default]\r\nURL=d\r\n[InternetShortcut]\r\nURL=a\r\n", "a"},
        {"no section", "URL=http://a/\r\n", ""},
        {"empty file", "", ""},
        {"no final line break", "[InternetShortcut]\r\nURL=a", "a"},
        {"LF line breaks", "[InternetShortcut]\nURL=a\n", "a"},
        {"CR line breaks", "[InternetShortcut]\rURL=a\r", "a"},
        {"LF CR makes an empty line", "[InternetShortcut]\n\rURL=a\n\r", "a"},
        {"CR ends the value", "[InternetShortcut]\r\nURL=a\rb\r\n", "a"},
        {"NUL ends the text", raw("[InternetShortcut]\r\nURL=ab\0cd\r\n"), "ab"},
        {"NUL before the section", raw("\0[InternetShortcut]\r\nURL=a\r\n"), ""},
        {"binary bytes", raw("\x7f" "ELF\x02\x01\x01\0\0\0[InternetShortcut]\nURL=a"), ""},
        {"UTF-8 mark", "\xEF\xBB\xBF" + cafeText.toUtf8(), kCafeUtf8},
        {"UTF-16 LE mark", utf16(cafeText, false), kCafeUtf8},
        {"UTF-16 BE mark", utf16(cafeText, true), kCafeUtf8},
        {"UTF-16 with NUL", utf16(QStringLiteral("[InternetShortcut]\nURL=ab") + QChar(0) + QStringLiteral("cd"), false),
         "ab"},
        {"UTF-16 odd last byte", utf16(QStringLiteral("[InternetShortcut]\nURL=ab"), false) + 'c', "ab"},
        {"UTF-16 mark only", "\xFF\xFE", ""},
    };
}

TEST(ShortcutFileRead, AddressThroughBothPathForms)
{
    TempTree tree;
    for (const ReadCase& c : readCases()) {
        SCOPED_TRACE(c.name);
        tree.write(QStringLiteral("case.url"), c.contents);
        EXPECT_EQ(show(ReadShortcutUrlWide(tree.abs(QStringLiteral("case.url")))), show(c.address));
        EXPECT_EQ(show(ReadShortcutUrl(tree.native(QStringLiteral("case.url")))), show(c.address));
    }
}

TEST(ShortcutFileRead, MarkedTextOutsideTheLatin1PageBecomesQuestionMarks)
{
    test::CodePageGuard latin1(codepage::Page::Latin1);
    TempTree tree;
    const QString text = QStringLiteral("[InternetShortcut]\r\nURL=http://x/\u00e9\u20ac\u65e5\r\n");
    for (bool bigEndian : {false, true}) {
        SCOPED_TRACE(bigEndian ? "BE" : "LE");
        const QString path = tree.write(QStringLiteral("w.url"), utf16(text, bigEndian));
        EXPECT_EQ(show(ReadShortcutUrlWide(path)), show("http://x/\xE9??"));
    }
    const QString path = tree.write(QStringLiteral("w.url"), "\xEF\xBB\xBF" + text.toUtf8());
    EXPECT_EQ(show(ReadShortcutUrlWide(path)), show("http://x/\xE9??"));
}

TEST(ShortcutFileRead, FilesThatCannotBeReadRaiseAnError)
{
    TempTree tree;
    tree.mkdir(QStringLiteral("folder.url"));
    tree.write(QStringLiteral("huge.url"), "[InternetShortcut]\r\nURL=a\r\n" + QByteArray(kMaxShortcutFileSize, 'x'));
    ASSERT_EQ(::symlink("/dev/null", tree.native(QStringLiteral("null.url")).constData()), 0);
    ASSERT_EQ(::mkfifo(tree.native(QStringLiteral("pipe.url")).constData(), 0644), 0);
    struct Case {
        const char* name;
        QString relative;
    } cases[] = {
        {"missing file", QStringLiteral("missing.url")},
        {"device", QStringLiteral("null.url")},
        {"folder", QStringLiteral("folder.url")},
        {"larger than the limit", QStringLiteral("huge.url")},
        {"named pipe", QStringLiteral("pipe.url")},
        {"inside a missing folder", QStringLiteral("nowhere/a.url")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_THROW(ReadShortcutUrlWide(tree.abs(c.relative)), Error);
        EXPECT_THROW(ReadShortcutUrl(tree.native(c.relative)), Error);
    }
    EXPECT_THROW(ReadShortcutUrl(QByteArray()), Error);
    EXPECT_THROW(ReadShortcutUrlWide(QString()), Error);

    // The limit itself is still a readable file.
    QByteArray atLimit = "[InternetShortcut]\r\nURL=a\r\n";
    atLimit.append(QByteArray(kMaxShortcutFileSize - atLimit.size(), ' '));
    tree.write(QStringLiteral("limit.url"), atLimit);
    EXPECT_EQ(show(ReadShortcutUrlWide(tree.abs(QStringLiteral("limit.url")))), "a");
}

TEST(ShortcutFileRead, ErrorNamesTheFile)
{
    TempTree tree;
    try {
        ReadShortcutUrlWide(tree.abs(QStringLiteral("absent.url")));
        FAIL() << "no error raised";
    } catch (const Error& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("absent.url"))) << e.message().toStdString();
    }
}

TEST(ShortcutFileIni, SectionAndValueBuildingBlocks)
{
    const QList<QByteArray> lines = SplitShortcutLines(
        "[A]\r\nk=1\r\n[InternetShortcut]\r\n \x01\t\r\n  URL = spaced \r\nURL=x=y\r\nnoequals\r\n[B]\r\nURL=b");
    const QList<QByteArray> section = ReadIniSection(lines, "InternetShortcut");
    EXPECT_EQ(section, (QList<QByteArray>{"  URL = spaced ", "URL=x=y", "noequals"}));
    EXPECT_EQ(show(ReadIniValue(section, "URL")), "x=y");
    EXPECT_EQ(show(ReadIniValue(section, "  URL ")), " spaced ");
    EXPECT_TRUE(ReadIniValue(section, "Missing").isEmpty());
    EXPECT_TRUE(ReadIniSection(lines, "Missing").isEmpty());
    EXPECT_TRUE(ReadIniSection(lines, "a").isEmpty());
    EXPECT_EQ(ReadIniSection(lines, "B"), QList<QByteArray>{"URL=b"});
}

TEST(ShortcutFileIni, LineSplitting)
{
    struct Case {
        QByteArray text;
        QList<QByteArray> lines;
    } cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\nb", {"a", "b"}},
        {"a\rb\r", {"a", "b"}},
        {"a\n\rb", {"a", "", "b"}},
        {"a\r\r\nb", {"a", "", "b"}},
        {"\r\n\r\n", {"", ""}},
        {raw("a\nb\0c\nd"), {"a", "b"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        EXPECT_EQ(SplitShortcutLines(c.text), c.lines);
    }
}

struct WriteCase {
    const char* name;
    QByteArray before;
    QByteArray after;
};

TEST(ShortcutFileWrite, UpdatesOnlyTheAddressLine)
{
    const WriteCase cases[] = {
        {"replaced in place",
         "; note\r\n[InternetShortcut]\r\nURL=old\r\nIconIndex=0\r\n\r\n[Other]\r\nURL=keep\r\n",
         "; note\r\n[InternetShortcut]\r\nURL=http://new/\r\nIconIndex=0\r\n\r\n[Other]\r\nURL=keep\r\n"},
        {"lower-case header and key matched",
         "[internetshortcut]\r\nurl=old\r\n",
         "[internetshortcut]\r\nURL=http://new/\r\n"},
        {"missing key added at the end of the section",
         "[InternetShortcut]\r\nIconIndex=0\r\n\r\n[Other]\r\nA=1\r\n",
         "[InternetShortcut]\r\nIconIndex=0\r\nURL=http://new/\r\n\r\n[Other]\r\nA=1\r\n"},
        {"missing section added at the end",
         "[Other]\r\nA=1",
         "[Other]\r\nA=1\r\n[InternetShortcut]\r\nURL=http://new/\r\n"},
        {"LF file keeps its other breaks",
         "[InternetShortcut]\nURL=old\nX=1\n",
         "[InternetShortcut]\nURL=http://new/\nX=1\n"},
        {"only the first matching key",
         "[InternetShortcut]\r\nURL=old\r\nURL=second\r\n",
         "[InternetShortcut]\r\nURL=http://new/\r\nURL=second\r\n"},
    };
    TempTree tree;
    for (const WriteCase& c : cases) {
        SCOPED_TRACE(c.name);
        tree.write(QStringLiteral("w.url"), c.before);
        EXPECT_TRUE(WriteShortcutUrl(tree.native(QStringLiteral("w.url")), "http://new/"));
        EXPECT_EQ(show(tree.read(QStringLiteral("w.url"))), show(c.after));
    }
}

TEST(ShortcutFileWrite, MissingFileIsCreatedAndReadsBack)
{
    TempTree tree;
    const QByteArray path = tree.native(QStringLiteral("new.url"));
    ASSERT_TRUE(WriteShortcutUrl(path, "http://created/"));
    EXPECT_EQ(show(tree.read(QStringLiteral("new.url"))), "[InternetShortcut]\r\nURL=http://created/\r\n");
    EXPECT_EQ(show(ReadShortcutUrl(path)), "http://created/");
}

TEST(ShortcutFileWrite, MarkedFilesKeepTheirEncoding)
{
    TempTree tree;
    const QString text = QStringLiteral("[InternetShortcut]\r\nURL=http://old/\r\nIconFile=\u00e9\u65e5.ico\r\n");
    const QString expected = QStringLiteral("[InternetShortcut]\r\nURL=http://caf\u00e9/\r\nIconFile=\u00e9\u65e5.ico\r\n");
    struct Case {
        const char* name;
        QByteArray before;
        QByteArray after;
    } cases[] = {
        {"UTF-8", "\xEF\xBB\xBF" + text.toUtf8(), "\xEF\xBB\xBF" + expected.toUtf8()},
        {"UTF-16 LE", utf16(text, false), utf16(expected, false)},
        {"UTF-16 BE", utf16(text, true), utf16(expected, true)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = tree.write(QStringLiteral("m.url"), c.before);
        ASSERT_TRUE(WriteShortcutUrl(QFile::encodeName(path), "http://caf\xC3\xA9/"));
        EXPECT_EQ(tree.read(QStringLiteral("m.url")).toHex().toStdString(), c.after.toHex().toStdString());
        EXPECT_EQ(show(ReadShortcutUrlWide(path)), "http://caf\xC3\xA9/");
    }
}

TEST(ShortcutFileWrite, RefusedWritesLeaveTheFileAsItWas)
{
    TempTree tree;
    const QByteArray before = "[InternetShortcut]\r\nURL=old\r\n";
    tree.write(QStringLiteral("w.url"), before);
    const QByteArray path = tree.native(QStringLiteral("w.url"));
    for (const QByteArray& bad : {QByteArray("http://a/\r\n[X]"), QByteArray("http://a/\nb"),
                                  QByteArray("http://a/\rb"), raw("a\0b")}) {
        SCOPED_TRACE(bad.toHex().toStdString());
        EXPECT_FALSE(WriteShortcutUrl(path, bad));
        EXPECT_EQ(show(tree.read(QStringLiteral("w.url"))), show(before));
    }

    ASSERT_EQ(::chmod(path.constData(), 0444), 0);
    EXPECT_FALSE(WriteShortcutUrl(path, "http://new/"));
    EXPECT_EQ(show(tree.read(QStringLiteral("w.url"))), show(before));

    tree.mkdir(QStringLiteral("dir.url"));
    EXPECT_FALSE(WriteShortcutUrl(tree.native(QStringLiteral("dir.url")), "http://new/"));
    EXPECT_FALSE(WriteShortcutUrl(tree.native(QStringLiteral("missing/x.url")), "http://new/"));
    ASSERT_EQ(::mkfifo(tree.native(QStringLiteral("pipe.url")).constData(), 0644), 0);
    EXPECT_FALSE(WriteShortcutUrl(tree.native(QStringLiteral("pipe.url")), "http://new/"));
}

TEST(ShortcutFileName, DisplayName)
{
    struct Case {
        codepage::Page page;
        QByteArray path;
        QByteArray name;
    } cases[] = {
        {codepage::Page::Utf8, "/home/u/Favorites/Exemple.url", "Exemple"},
        {codepage::Page::Utf8, "Exemple.url", "Exemple"},
        {codepage::Page::Utf8, "/f/desktop.ini", "desktop"},
        {codepage::Page::Utf8, "/f/a.b/abc", ""},
        {codepage::Page::Utf8, "/f/sub/", ""},
        {codepage::Page::Utf8, "/f/Caf\xC3\xA9.url", "Caf\xC3\xA9"},
        {codepage::Page::Utf8, "/f/xyzCaf\xC3\xA9", "xyz"},  // four characters, five bytes
        {codepage::Page::Latin1, "/f/Caf\xE9.url", "Caf\xE9"},
        {codepage::Page::Latin1, "/f/xyzCaf\xE9", "xyz"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        test::CodePageGuard page(c.page);
        EXPECT_EQ(show(ShortcutDisplayName(c.path)), show(c.name));
    }
    EXPECT_EQ(ShortcutDisplayName(QStringLiteral("/f/Caf\u00e9.url")), QStringLiteral("Caf\u00e9"));
    EXPECT_EQ(ShortcutDisplayName(QStringLiteral("/f/desktop.ini")), QStringLiteral("desktop"));
    EXPECT_EQ(ShortcutDisplayName(QStringLiteral("/f/ab\U0001F600cde")), QStringLiteral("ab"));
    EXPECT_EQ(ShortcutDisplayName(QStringLiteral("/f/\U0001F600.url")), QStringLiteral("\U0001F600"));
    EXPECT_EQ(ShortcutDisplayName(QStringLiteral("abc")), QString());

    // Through the 8-bit form, characters outside the page show as '?'.
    test::CodePageGuard latin1(codepage::Page::Latin1);
    EXPECT_EQ(show(ShortcutDisplayName(codepage::toAnsi(QStringLiteral("/f/\u65e5\u672c\u00e9.url")))), "??\xE9");
}

} // namespace
} // namespace signetrix
