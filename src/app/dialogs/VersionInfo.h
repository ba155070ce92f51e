#pragma once
// Version information of an executable and the reader that copies eight of its
// strings into bound controls.
//
// The version data lives inside the executable as one block of "Name=Value"
// lines between a start mark (0x01 "VERSIONINFO" 0x02) and an end mark (0x03),
// UTF-8. The running executable's block is compiled in (see
// compiledVersionBlock()); any other file is searched for its block.
#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

namespace signetrix::dialogs {

struct VersionData {
    bool present = false;          // false: the file has no version data
    QHash<QString, QString> values; // exact, case-sensitive names
};

// The block compiled into this program.
QByteArray compiledVersionBlock();
// Finds and reads the block in the bytes of a file. No start mark: not
// present. A start mark without a well-formed block after it throws Error.
VersionData parseVersionData(const QByteArray& fileBytes, const QString& fileName);
// Version data of a file; an empty name means the running executable. A file
// that cannot be opened has no version data (like a file without a block).
// Throws Error("Cannot retrieve Version Information for <file>") on a damaged block.
VersionData readVersionData(const QString& fileName = QString());

class TVersionInfo : public QObject {
    Q_OBJECT
public:
    // Reads the file's version data at once (the running executable when
    // fileName is empty). Throws Error when the data is damaged.
    explicit TVersionInfo(QObject* parent = nullptr, const QString& fileName = QString());

    QString fileName() const { return m_fileName; }
    QString value(const QString& name) const { return m_data.values.value(name); }

    // Each setter binds a control (its "text" property receives the value) and
    // fills every bound control at once.
    void setCtlCompanyName(QObject* control);
    void setCtlFileDescription(QObject* control);
    void setCtlFileVersion(QObject* control);
    void setCtlInternalName(QObject* control);
    void setCtlLegalCopyRight(QObject* control);
    void setCtlOriginalFileName(QObject* control);
    void setCtlProductName(QObject* control);
    void setCtlProductVersion(QObject* control);

private:
    enum Field { CompanyName, FileDescription, FileVersion, InternalName, LegalCopyRight, OriginalFileName,
                 ProductName, ProductVersion, FieldCount };
    void bind(Field field, QObject* control);
    void fill();

    QString m_fileName;
    VersionData m_data;
    QPointer<QObject> m_controls[FieldCount];
};

} // namespace signetrix::dialogs
