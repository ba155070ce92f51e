// System figures of the about box, read from small stand-ins for /proc and
// /etc/os-release.
#include "platform/SystemFigures.h"

#include "support/TestSupport.h"

using namespace signetrix::platform;
using signetrix::test::TempTree;

namespace {

const QStringList kKeys{QStringLiteral("Processeur"),     QStringLiteral("OS"),
                        QStringLiteral("Utilisateur"),    QStringLiteral("Avail. PageFile"),
                        QStringLiteral("Avail. Phys"),    QStringLiteral("Avail. Virtual"),
                        QStringLiteral("Total PageFile"), QStringLiteral("Total Phys"),
                        QStringLiteral("Total Virtual")};

QStringList keys(const QList<SystemRow>& rows)
{
    QStringList result;
    for (const SystemRow& row : rows) result << row.key;
    return result;
}

QString valueOf(const QList<SystemRow>& rows, const QString& key)
{
    for (const SystemRow& row : rows)
        if (row.key == key) return row.value;
    ADD_FAILURE() << "no row " << key.toStdString();
    return {};
}

TEST(SystemFigures, ProcessorNameFromCpuinfo)
{
    const std::pair<const char*, const char*> cases[] = {
        {"processor\t: 0\nvendor_id\t: GenuineIntel\nmodel name\t: Intel(R) Core(TM) i5 CPU @ 2.40GHz\n"
         "processor\t: 1\nmodel name\t: Intel(R) Core(TM) i5 CPU @ 2.40GHz\n",
         "Intel(R) Core(TM) i5 CPU @ 2.40GHz"},
        {"processor\t: 0\nBogoMIPS\t: 38.40\n\nHardware\t: BCM2835\nModel\t\t: Raspberry Pi 3\n", "Raspberry Pi 3"},
        {"processor\t: 0\ncpu\t\t: POWER9 (raw), altivec supported\n", "POWER9 (raw), altivec supported"},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(expected);
        EXPECT_EQ(processorName(QString::fromUtf8(text)), QString::fromUtf8(expected));
    }
    EXPECT_FALSE(processorName(QString()).isEmpty()) << "without cpuinfo the architecture is named";
}

TEST(SystemFigures, OsNameFromOsRelease)
{
    const std::pair<const char*, const char*> cases[] = {
        {"NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\n",
         "Debian GNU/Linux 12 (bookworm)"},
        {"# written by hand\nNAME='Testix'\nVERSION=\"2.1 (Aube)\"\n", "Testix 2.1 (Aube)"},
        {"NAME=Testix\n", "Testix"},
        {"PRETTY_NAME=\nNAME=Testix\n", "Testix"},
        {"", ""},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(osProductName(QString::fromUtf8(text)), QString::fromUtf8(expected));
    }
}

TEST(SystemFigures, NineRowsWithMemoryInBytes)
{
    TempTree tree;
    SystemFigureFiles files;
    files.cpuinfo = tree.write("cpuinfo", "processor\t: 0\nmodel name\t: Test CPU 3000\n");
    files.osRelease = tree.write("os-release", "PRETTY_NAME=\"Testix 1.0\"\n");
    files.meminfo = tree.write("meminfo",
                               "MemTotal:        2000 kB\nMemFree:          300 kB\nMemAvailable:     500 kB\n"
                               "SwapTotal:       1000 kB\nSwapFree:         700 kB\n");
    const QList<SystemRow> rows = systemRows(files);
    EXPECT_EQ(keys(rows), kKeys);
    const std::pair<QString, QString> expected[] = {
        {QStringLiteral("Processeur"), QStringLiteral("Test CPU 3000")},
        {QStringLiteral("OS"), QStringLiteral("Testix 1.0")},
        {QStringLiteral("Avail. PageFile"), QStringLiteral("716800")},
        {QStringLiteral("Avail. Phys"), QStringLiteral("512000")},
        {QStringLiteral("Avail. Virtual"), QStringLiteral("1228800")},
        {QStringLiteral("Total PageFile"), QStringLiteral("1024000")},
        {QStringLiteral("Total Phys"), QStringLiteral("2048000")},
        {QStringLiteral("Total Virtual"), QStringLiteral("3072000")},
    };
    for (const auto& [key, value] : expected) {
        SCOPED_TRACE(key.toStdString());
        EXPECT_EQ(valueOf(rows, key), value);
    }
    EXPECT_FALSE(valueOf(rows, QStringLiteral("Utilisateur")).isEmpty());
}

TEST(SystemFigures, OlderKernelWithoutMemAvailableUsesFreeMemory)
{
    TempTree tree;
    SystemFigureFiles files;
    files.meminfo = tree.write("meminfo", "MemTotal: 2000 kB\nMemFree: 300 kB\nSwapTotal: 0 kB\nSwapFree: 0 kB\n");
    const QList<SystemRow> rows = systemRows(files);
    EXPECT_EQ(valueOf(rows, QStringLiteral("Avail. Phys")), QStringLiteral("307200"));
    EXPECT_EQ(valueOf(rows, QStringLiteral("Avail. PageFile")), QStringLiteral("0"));
}

TEST(SystemFigures, MissingSourcesStillGiveTheNineRows)
{
    TempTree tree;
    SystemFigureFiles files;
    files.cpuinfo = tree.abs("none1");
    files.meminfo = tree.abs("none2");
    files.osRelease = tree.abs("none3");
    const QList<SystemRow> rows = systemRows(files);
    EXPECT_EQ(keys(rows), kKeys);
    EXPECT_FALSE(valueOf(rows, QStringLiteral("OS")).isEmpty()) << "falls back to the kernel's name";
    for (const QString& key : kKeys.mid(3)) {
        SCOPED_TRACE(key.toStdString());
        EXPECT_TRUE(valueOf(rows, key).isEmpty());
    }
}

TEST(SystemFigures, RealSystemGivesNumbers)
{
    const QList<SystemRow> rows = systemRows();
    EXPECT_EQ(keys(rows), kKeys);
    bool ok = false;
    EXPECT_GT(valueOf(rows, QStringLiteral("Total Phys")).toULongLong(&ok), 0u);
    EXPECT_TRUE(ok);
}

} // namespace
