#pragma once
// The description of a synchronisation of a local folder towards a local
// folder or a web site: filter, folders, kind of destination, method, the
// connection to use and the progress dialog to show.
//
// Limits: nothing carries the synchronisation out; the component holds its
// settings and normalises the folders as they are set. The connection and the
// progress form are not owned and are held weakly, so either may be destroyed
// first: the property then reads as none. The progress form is any object
// with the text properties CaptionData and CaptionTransfert (or invokable
// methods of those names taking a text); one with neither is not relabelled.
#include "backup/UKelComponent.h"
#include "backup/UKelFTPConnexion.h"

#include <QPointer>
#include <QString>
#include <QStringList>

namespace signetrix {
class TKelShellOperations;
}

namespace signetrix::backup {

class TKelSynchroFolder : public TKelComponent {
    Q_OBJECT
public:
    enum TKelSynchroFolderDestinationType { sfdLocal, sfdWeb };
    Q_ENUM(TKelSynchroFolderDestinationType)
    enum TKelSynchroFolderMethodes { sfmSimple, sfmDateDiff, sfmCheckCRC };
    Q_ENUM(TKelSynchroFolderMethodes)

    Q_PROPERTY(QString FilesFilter READ FilesFilter WRITE setFilesFilter)
    Q_PROPERTY(QString SourceFolder READ SourceFolder WRITE setSourceFolder)
    Q_PROPERTY(QString DestinationFolder READ DestinationFolder WRITE setDestinationFolder)
    Q_PROPERTY(TKelSynchroFolderDestinationType DestinationType READ DestinationType WRITE setDestinationType)
    Q_PROPERTY(TKelSynchroFolderMethodes Methode READ Methode WRITE setMethode)
    Q_PROPERTY(QStringList ListResult READ ListResult WRITE setListResult)
    Q_PROPERTY(signetrix::backup::TKelFTPConnexion* Ftp READ Ftp WRITE setFtp)
    Q_PROPERTY(QObject* ProgressFormFtp READ ProgressFormFtp WRITE setProgressFormFtp)

public:
    explicit TKelSynchroFolder(QObject* owner = nullptr);

    QString FilesFilter() const { return m_filesFilter; }
    void setFilesFilter(const QString& value) { m_filesFilter = value; }
    // Stored with a trailing "/" added when missing (an empty value becomes "/").
    QString SourceFolder() const { return m_sourceFolder; }
    void setSourceFolder(const QString& value);
    // A value whose first seven characters are exactly "http://" is stored
    // trimmed of blanks, with "/" appended unless the value as given already
    // ends with "/"; any other value as SourceFolder.
    QString DestinationFolder() const { return m_destinationFolder; }
    void setDestinationFolder(const QString& value);
    TKelSynchroFolderDestinationType DestinationType() const { return m_destinationType; }
    void setDestinationType(TKelSynchroFolderDestinationType value) { m_destinationType = value; }
    TKelSynchroFolderMethodes Methode() const { return m_methode; }
    void setMethode(TKelSynchroFolderMethodes value) { m_methode = value; }
    QStringList ListResult() const { return m_listResult; }
    void setListResult(const QStringList& lines) { m_listResult = lines; }
    TKelFTPConnexion* Ftp() const { return m_ftp; }
    void setFtp(TKelFTPConnexion* connection) { m_ftp = connection; }
    // Relabels the form at once: "Analyse avant synchronisation" over the data
    // bar, "Transfert des images" over the transfer bar.
    QObject* ProgressFormFtp() const { return m_progressFormFtp; }
    void setProgressFormFtp(QObject* form);

    // Copy, silent, without confirmation; owned (child).
    const TKelShellOperations& ShellOperations() const { return *m_shellOperations; }

private:
    QString m_filesFilter;
    QString m_sourceFolder;
    QString m_destinationFolder;
    TKelSynchroFolderDestinationType m_destinationType = sfdLocal;
    TKelSynchroFolderMethodes m_methode = sfmSimple;
    QStringList m_listResult;
    // Working lists of the synchronisation, which the program does not run.
    QStringList m_sourceFiles;
    QStringList m_destinationFiles;
    QStringList m_filesToCopy;
    QPointer<TKelFTPConnexion> m_ftp;
    QPointer<QObject> m_progressFormFtp;
    TKelShellOperations* m_shellOperations;
};

using TKelSynchroFolderDestinationType = TKelSynchroFolder::TKelSynchroFolderDestinationType;
using TKelSynchroFolderMethodes = TKelSynchroFolder::TKelSynchroFolderMethodes;

} // namespace signetrix::backup
