#include "app/dialogs/VersionInfo.h"

#include "platform/Errors.h"

#include <QCoreApplication>
#include <QFile>
#include <QVariant>

#ifndef SIGNETRIX_VERSION
#define SIGNETRIX_VERSION "0.0.0"
#endif
#ifndef SIGNETRIX_FILE_VERSION
#define SIGNETRIX_FILE_VERSION SIGNETRIX_VERSION
#endif

namespace signetrix::dialogs {

namespace {

// Kept in the binary (and found there by readVersionData on a copy of it).
[[gnu::used]] const char kVersionBlock[] =
    "\x01VERSIONINFO\x02"
    "CompanyName=Signetrix\n"
    "FileDescription=Signetrix - rangement des favoris Internet\n"
    "FileVersion=" SIGNETRIX_FILE_VERSION "\n"
    "InternalName=Signetrix\n"
    "LegalCopyRight=Copyright \xc2\xa9 Signetrix\n"
    "OriginalFileName=Signetrix\n"
    "ProductName=Signetrix\n"
    "ProductVersion=" SIGNETRIX_VERSION "\n"
    "\x03";

constexpr int kStartMarkLength = 13; // 0x01 "VERSIONINFO" 0x02
constexpr char kEndMark = '\x03';
constexpr qsizetype kMaxBlock = 64 * 1024;

QByteArray startMark()
{
    // Taken from the block itself so the mark is stored in the binary once only.
    return QByteArray::fromRawData(kVersionBlock, kStartMarkLength);
}

[[noreturn]] void damaged(const QString& fileName)
{
    throw Error(QStringLiteral("Cannot retrieve Version Information for ") + fileName);
}

} // namespace

QByteArray compiledVersionBlock()
{
    return QByteArray(kVersionBlock, sizeof kVersionBlock - 1);
}

VersionData parseVersionData(const QByteArray& fileBytes, const QString& fileName)
{
    VersionData data;
    const qsizetype start = fileBytes.indexOf(startMark());
    if (start < 0) return data;
    const qsizetype body = start + kStartMarkLength;
    const qsizetype end = fileBytes.indexOf(kEndMark, body);
    if (end < 0 || end - body > kMaxBlock) damaged(fileName);
    const QString text = QString::fromUtf8(fileBytes.mid(body, end - body));
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0) damaged(fileName);
        data.values.insert(line.left(equals), line.mid(equals + 1));
    }
    data.present = true;
    return data;
}

VersionData readVersionData(const QString& fileName)
{
    if (fileName.isEmpty()) return parseVersionData(compiledVersionBlock(), QCoreApplication::applicationFilePath());
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) damaged(fileName);
    return parseVersionData(bytes, fileName);
}

TVersionInfo::TVersionInfo(QObject* parent, const QString& fileName)
    : QObject(parent)
    , m_fileName(fileName.isEmpty() ? QCoreApplication::applicationFilePath() : fileName)
    , m_data(readVersionData(fileName))
{
}

void TVersionInfo::setCtlCompanyName(QObject* control) { bind(CompanyName, control); }
void TVersionInfo::setCtlFileDescription(QObject* control) { bind(FileDescription, control); }
void TVersionInfo::setCtlFileVersion(QObject* control) { bind(FileVersion, control); }
void TVersionInfo::setCtlInternalName(QObject* control) { bind(InternalName, control); }
void TVersionInfo::setCtlLegalCopyRight(QObject* control) { bind(LegalCopyRight, control); }
void TVersionInfo::setCtlOriginalFileName(QObject* control) { bind(OriginalFileName, control); }
void TVersionInfo::setCtlProductName(QObject* control) { bind(ProductName, control); }
void TVersionInfo::setCtlProductVersion(QObject* control) { bind(ProductVersion, control); }

void TVersionInfo::bind(Field field, QObject* control)
{
    m_controls[field] = control;
    fill();
}

void TVersionInfo::fill()
{
    static const char* const names[FieldCount] = {"CompanyName",      "FileDescription", "FileVersion",
                                                  "InternalName",     "LegalCopyRight",  "OriginalFileName",
                                                  "ProductName",      "ProductVersion"};
    for (int field = 0; field < FieldCount; ++field) {
        if (QObject* control = m_controls[field].data())
            control->setProperty("text", value(QLatin1String(names[field])));
    }
}

} // namespace signetrix::dialogs
