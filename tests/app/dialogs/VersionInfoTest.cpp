// Version information: the data compiled into the program, data found inside
// another file, and the bound controls that receive it.
#include "app/dialogs/VersionInfo.h"

#include "platform/Errors.h"
#include "support/TestSupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <memory>

using namespace signetrix::dialogs;
using signetrix::test::TempTree;

namespace {

const char* const kNames[] = {"CompanyName",  "FileDescription", "FileVersion", "InternalName",
                              "LegalCopyRight", "OriginalFileName", "ProductName", "ProductVersion"};

QByteArray block(const QByteArray& lines)
{
    return QByteArray("\x01VERSIONINFO\x02") + lines + '\x03';
}

TEST(VersionInfo, RunningProgramCarriesAllEightValues)
{
    TVersionInfo info;
    EXPECT_EQ(info.value(QStringLiteral("ProductName")), QStringLiteral("Signetrix"));
    EXPECT_EQ(info.value(QStringLiteral("FileVersion")), QStringLiteral(SIGNETRIX_FILE_VERSION));
    EXPECT_EQ(info.value(QStringLiteral("ProductVersion")), QStringLiteral(SIGNETRIX_VERSION));
    EXPECT_EQ(info.value(QStringLiteral("FileVersion")).split(QLatin1Char('.')).size(), 4);
    for (const char* name : kNames) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(info.value(QLatin1String(name)).isEmpty());
    }
}

TEST(VersionInfo, EveryBoundControlIsFilledAtOnce)
{
    TVersionInfo info;
    QLabel version, product, company, description, internal, copyright, original;
    QLineEdit productVersion; // no caption: its text receives the value
    info.setCtlFileVersion(&version);
    EXPECT_EQ(version.text(), info.value(QStringLiteral("FileVersion")));
    info.setCtlProductName(&product);
    info.setCtlCompanyName(&company);
    info.setCtlFileDescription(&description);
    info.setCtlInternalName(&internal);
    info.setCtlLegalCopyRight(&copyright);
    info.setCtlOriginalFileName(&original);
    info.setCtlProductVersion(&productVersion);
    const std::pair<QString, QString> shown[] = {
        {version.text(), QStringLiteral("FileVersion")},       {product.text(), QStringLiteral("ProductName")},
        {company.text(), QStringLiteral("CompanyName")},       {description.text(), QStringLiteral("FileDescription")},
        {internal.text(), QStringLiteral("InternalName")},     {copyright.text(), QStringLiteral("LegalCopyRight")},
        {original.text(), QStringLiteral("OriginalFileName")}, {productVersion.text(), QStringLiteral("ProductVersion")},
    };
    for (const auto& [text, name] : shown) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_FALSE(text.isEmpty());
        EXPECT_EQ(text, info.value(name));
    }
}

TEST(VersionInfo, ControlDestroyedWhileBoundIsLeftAlone)
{
    TVersionInfo info;
    auto gone = std::make_unique<QLabel>();
    info.setCtlFileVersion(gone.get());
    gone.reset();
    QPushButton product;
    info.setCtlProductName(&product); // refills every binding, the dead one included
    EXPECT_EQ(product.text(), QStringLiteral("Signetrix"));
}

struct FileCase {
    const char* name;
    QByteArray bytes; // empty name below: the file is not written at all
    bool write;
    const char* productName;
    const char* fileVersion;
    const char* legalCopyRight;
};

const FileCase kFiles[] = {
    {"no product name", "\x7f" "ELF junk" + block("FileVersion=1.0.0.8\nCompanyName=Maker\n") + "tail", true, "",
     "1.0.0.8", ""},
    {"all three values", block("ProductName=Outil\nFileVersion=2.3.4.5\nLegalCopyRight=(c) Maker\n"), true, "Outil",
     "2.3.4.5", "(c) Maker"},
    {"names are exact: LegalCopyright is another name", block("LegalCopyright=(c) Maker\nproductname=x\n"), true, "",
     "", ""},
    {"value with an equals sign", block("ProductName=a=b\n"), true, "a=b", "", ""},
    {"no version data at all", "plain bytes without any version block", true, "", "", ""},
    {"missing file", "", false, "", "", ""},
};

TEST(VersionInfo, NamedFileGivesItsOwnValues)
{
    TempTree tree;
    for (const FileCase& c : kFiles) {
        SCOPED_TRACE(c.name);
        const QString path = c.write ? tree.write(QString::fromLatin1(c.name), c.bytes) : tree.abs("absent.bin");
        QLabel product(QStringLiteral("before")), version(QStringLiteral("before")),
            copyright(QStringLiteral("before"));
        TVersionInfo info(nullptr, path);
        info.setCtlProductName(&product);
        info.setCtlFileVersion(&version);
        info.setCtlLegalCopyRight(&copyright);
        EXPECT_EQ(product.text(), QString::fromUtf8(c.productName));
        EXPECT_EQ(version.text(), QString::fromUtf8(c.fileVersion));
        EXPECT_EQ(copyright.text(), QString::fromUtf8(c.legalCopyRight));
        EXPECT_EQ(info.fileName(), path);
    }
}

TEST(VersionInfo, CopyOfTheProgramsDataInsideAFileReadsTheSame)
{
    TempTree tree;
    const QString path = tree.write("copy.bin", QByteArray(300, '\0') + compiledVersionBlock() + QByteArray(50, 'x'));
    TVersionInfo fromFile(nullptr, path);
    TVersionInfo running;
    for (const char* name : kNames) {
        SCOPED_TRACE(name);
        EXPECT_EQ(fromFile.value(QLatin1String(name)), running.value(QLatin1String(name)));
    }
}

TEST(VersionInfo, DamagedDataRaisesTheErrorNamingTheFile)
{
    const std::pair<const char*, QByteArray> damaged[] = {
        {"no end mark", QByteArray("\x01VERSIONINFO\x02ProductName=x\n")},
        {"line without a name", block("ProductName=x\n=nameless\n")},
        {"line without an equals sign", block("ProductName\n")},
    };
    TempTree tree;
    for (const auto& [name, bytes] : damaged) {
        SCOPED_TRACE(name);
        const QString path = tree.write(QString::fromLatin1(name), bytes);
        try {
            TVersionInfo info(nullptr, path);
            ADD_FAILURE() << "no error raised";
        } catch (const signetrix::Error& error) {
            EXPECT_EQ(error.message(), QStringLiteral("Cannot retrieve Version Information for ") + path);
        }
    }
}

} // namespace
