#pragma once
// Small file-operation components owned by a data module. TFileOperation
// copies or deletes a list of files one by one, collecting the system's text
// for every failure; it never throws. TKelShellOperations only describes a
// shell file operation (kind, lists, flags) for the components that carry one.
//
// Paths are in the 8-bit form whose bytes are used as the file-system name.
#include <QByteArray>
#include <QByteArrayList>
#include <QFlags>
#include <QObject>
#include <QStringList>

namespace signetrix {

enum class TStFileOp { fopCopy = 0, fopDelete = 1 };

class TFileOperation : public QObject {
    Q_OBJECT
public:
    explicit TFileOperation(QObject* owner = nullptr);

    // Carries out Operation for every entry of SourceFiles, in order. True when
    // every entry of this run succeeded (an empty list does nothing: true).
    // A copy keeps the source's last-write time and permission bits; a file
    // whose write permission is cleared counts as read-only: it is neither
    // deleted nor overwritten.
    bool Execute();

    TStFileOp Operation = TStFileOp::fopCopy;
    QByteArrayList SourceFiles; // set by the caller before each run; never emptied here
    QByteArray Destination;     // target file of a copy (every entry goes there)
    bool FailIfExists = false;  // a copy does not replace an existing target
    QStringList ErrorString;    // one system text per failed entry; keeps growing
};

// The two fixed instances of the shared data module: object names
// "FileOperation" (copy, overwriting) and "FileOperationDelete" (delete).
TFileOperation* createFileOperation(QObject* owner);
TFileOperation* createFileOperationDelete(QObject* owner);

enum class TKelSHFileTypeOperations { FO_MOVE = 0, FO_COPY = 1, FO_DELETE = 2, FO_RENAME = 3 };

enum class TKelSHFileOperationOption : unsigned {
    oFOF_MULTIDESTFILES = 1u << 0,
    oFOF_CONFIRMMOUSE = 1u << 1,
    oFOF_SILENT = 1u << 2,
    oFOF_RENAMEONCOLLISION = 1u << 3,
    oFOF_NOCONFIRMATION = 1u << 4,
    oFOF_WANTMAPPINGHANDLE = 1u << 5,
    oFOF_ALLOWUNDO = 1u << 6,
    oFOF_FILESONLY = 1u << 7,
    oFOF_SIMPLEPROGRESS = 1u << 8,
    oFOF_NOCONFIRMMKDIR = 1u << 9,
    oFOF_NOERRORUI = 1u << 10,
};
Q_DECLARE_FLAGS(TKelSHFileOperationOptions, TKelSHFileOperationOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TKelSHFileOperationOptions)

// A description only: nothing in the program carries the operation out.
class TKelShellOperations : public QObject {
    Q_OBJECT
public:
    explicit TKelShellOperations(QObject* owner = nullptr) : QObject(owner) {}

    TKelSHFileTypeOperations Operation = TKelSHFileTypeOperations::FO_COPY;
    QStringList FilesSource;
    QStringList FilesDestination;
    QString Title;
    TKelSHFileOperationOptions OptionsEx;
};

} // namespace signetrix
