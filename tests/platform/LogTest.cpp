// The log file next to the executable.
#include "platform/AppPaths.h"
#include "platform/Log.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QLocale>

#include <sys/stat.h>

namespace signetrix {
namespace {

using test::ExeFolderGuard;

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// 9 December 2026 as the system's regional settings write it; a system without
// any (the C locale) gets plain day/month/year figures.
QByteArray ninthOfDecember2026()
{
    const QLocale locale = QLocale::system();
    if (locale.language() == QLocale::C) return "09/12/2026";
    return locale.toString(QDate(2026, 12, 9), QLocale::ShortFormat).toUtf8();
}

TEST(LogLine, Layout)
{
    const QDateTime at(QDate(2026, 12, 9), QTime(14, 5, 59));
    const QByteArray head = ninthOfDecember2026() + " 14:05 ";
    struct Case {
        const char* name;
        QByteArray tag;
        QByteArray text;
        QByteArray line;
    } cases[] = {
        {"short tag padded to 30", "btnScanClick", "/home/u/Favorites/Exemple.url",
         head + "btnScanClick                   /home/u/Favorites/Exemple.url"},
        {"tag of exactly 30 then one space", QByteArray(30, 't'), "x", head + QByteArray(30, 't') + " x"},
        {"long tag cut to 30", "0123456789012345678901234567890123456789", "x",
         head + "012345678901234567890123456789 x"},
        {"empty text ends with the space after the tag", "WebBrowser1NewWindow2", "",
         head + "WebBrowser1NewWindow2          "},
        {"empty tag is a separator", "", "ignored", QByteArray(102, '-')},
        {"8-bit text unchanged", "t", "Caf\xE9\t\x01", head + "t" + QByteArray(29, ' ') + " Caf\xE9\t\x01"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FormatLogLine(c.tag, c.text, at).toStdString(), c.line.toStdString());
    }
    EXPECT_TRUE(FormatLogLine("t", "", QDateTime(QDate(2026, 1, 2), QTime(9, 7, 0))).contains(" 09:07 t"));
}

TEST(LogFileName, ReplacesAThreeLetterExtensionElseAppends)
{
    struct Case {
        QString exe;
        QString log;
    } cases[] = {
        {QStringLiteral("/opt/x/prog.EXE"), QStringLiteral("/opt/x/prog.log")},
        {QStringLiteral("/opt/x/Signetrix.exe"), QStringLiteral("/opt/x/Signetrix.log")},
        {QStringLiteral("/opt/x/Signetrix"), QStringLiteral("/opt/x/Signetrix.log")},
        {QStringLiteral("/opt/x.app/Signetrix"), QStringLiteral("/opt/x.app/Signetrix.log")},
        {QStringLiteral("/opt/x/prog.bin.gz"), QStringLiteral("/opt/x/prog.bin.gz.log")},
        {QStringLiteral("/opt/x/prog.run"), QStringLiteral("/opt/x/prog.log")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.exe.toStdString());
        EXPECT_EQ(platform::logFilePathFor(c.exe), c.log);
    }
}

TEST(LogWrite, FirstEntryCreatesTheFileAndLaterOnesAppend)
{
    ExeFolderGuard exe(QStringLiteral("prog.EXE"));
    const QString log = exe.file(QStringLiteral("prog.log"));
    ASSERT_FALSE(QFile::exists(log));
    WriteLog("btnScanClick", "/f/a.url");
    ASSERT_TRUE(QFile::exists(log));
    WriteLog("", "");
    WriteLog("except:btnScanClick", "");

    const QList<QByteArray> lines = readAll(log).split('\n');
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[0].endsWith("btnScanClick                   /f/a.url\r")) << lines[0].toStdString();
    EXPECT_EQ(lines[1].toStdString(), std::string(102, '-') + "\r");
    EXPECT_TRUE(lines[2].endsWith("except:btnScanClick            \r")) << lines[2].toStdString();
    EXPECT_TRUE(lines[3].isEmpty());
}

TEST(LogWrite, EntriesThatCannotBeWrittenAreLostSilently)
{
    {
        ExeFolderGuard exe;
        const QString log = exe.file(QStringLiteral("Signetrix.log"));
        QFile f(log);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("kept\r\n");
        f.close();
        ASSERT_EQ(::chmod(QFile::encodeName(log).constData(), 0444), 0);
        WriteLog("btnScanClick", "lost");
        EXPECT_EQ(readAll(log).toStdString(), "kept\r\n");
    }
    {
        ExeFolderGuard exe;
        ASSERT_TRUE(QDir().mkdir(exe.file(QStringLiteral("Signetrix.log"))));
        WriteLog("btnScanClick", "lost"); // a folder in the way
        EXPECT_TRUE(QFileInfo(exe.file(QStringLiteral("Signetrix.log"))).isDir());
    }
    {
        ExeFolderGuard exe;
        const QString missing = exe.folder() + QStringLiteral("gone/Signetrix");
        platform::setExecutablePathForTesting(missing);
        WriteLog("btnScanClick", "lost");
        EXPECT_FALSE(QFile::exists(exe.folder() + QStringLiteral("gone")));
    }
}

} // namespace
} // namespace signetrix
