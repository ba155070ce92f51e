#pragma once
// The connection settings of an FTP site, with an FTP client of its own that
// receives the host, port, credentials and passive switch as they are set.
//
// Limits: a settings holder only. The backup and the restore use the main
// window's own transfer clients, so nothing here opens a connection or sends a
// command over the network; TKelFtpClient keeps what a client would be given
// and whether a session is open. PathDestination changes the client's remote
// folder only while a session is open; otherwise the value is just stored.
// ListFileName reads names at a fixed column (57) of a Unix long listing, so a
// listing laid out differently yields cut or padded names, never an error.
#include "backup/UKelComponent.h"

#include <QString>
#include <QStringList>

namespace signetrix::backup {

// What the component's FTP client holds. Nothing in the program opens a
// session: MarkConnected stands for a successful login (a test uses it).
class TKelFtpClient : public QObject {
    Q_OBJECT
public:
    explicit TKelFtpClient(QObject* owner = nullptr);

    QString Host;
    int Port = 21; // the client's own default until the component assigns one
    QString Username;
    QString Password;
    bool Passive = false;

    bool Connected() const { return m_connected; }
    void MarkConnected() { m_connected = true; }
    // Ends the session; emits Disconnected when one was open.
    void Disconnect();

    // CWD: false, and nothing changes, when no session is open.
    bool ChangeDir(const QString& folder);
    QString RemoteFolder() const { return m_remoteFolder; }

signals:
    void Disconnected();

private:
    bool m_connected = false;
    QString m_remoteFolder;
};

class TKelFTPConnexion : public TKelComponent {
    Q_OBJECT
    Q_PROPERTY(QString DomaineName READ DomaineName WRITE setDomaineName)
    Q_PROPERTY(QString RootRemotePath READ RootRemotePath WRITE setRootRemotePath)
    Q_PROPERTY(QString RemotePath READ RemotePath WRITE setRemotePath)
    Q_PROPERTY(QString ServerFtp READ ServerFtp WRITE setServerFtp)
    Q_PROPERTY(int PortFtp READ PortFtp WRITE setPortFtp)
    Q_PROPERTY(QString UserName READ UserName WRITE setUserName)
    Q_PROPERTY(QString Password READ Password WRITE setPassword)
    Q_PROPERTY(bool ModePassif READ ModePassif WRITE setModePassif)
    Q_PROPERTY(bool FullDetailFiles READ FullDetailFiles WRITE setFullDetailFiles)
    Q_PROPERTY(QString PathDestination READ PathDestination WRITE setPathDestination)
    Q_PROPERTY(QStringList ListFiles READ ListFiles WRITE setListFiles)
    Q_PROPERTY(QString ListFileName READ ListFileName)

public:
    explicit TKelFTPConnexion(QObject* owner = nullptr);
    // Disconnects the client before it goes with the component.
    ~TKelFTPConnexion() override;

    QString DomaineName() const { return m_domaineName; }
    void setDomaineName(const QString& value) { m_domaineName = value; }
    QString RootRemotePath() const { return m_rootRemotePath; }
    void setRootRemotePath(const QString& value) { m_rootRemotePath = value; }
    QString RemotePath() const { return m_remotePath; }
    void setRemotePath(const QString& value) { m_remotePath = value; }
    QString ServerFtp() const { return m_serverFtp; }
    void setServerFtp(const QString& value);
    int PortFtp() const { return m_portFtp; }
    void setPortFtp(int value);
    QString UserName() const { return m_userName; }
    void setUserName(const QString& value);
    QString Password() const { return m_password; }
    void setPassword(const QString& value);
    bool ModePassif() const { return m_modePassif; }
    void setModePassif(bool value);
    bool FullDetailFiles() const { return m_fullDetailFiles; }
    void setFullDetailFiles(bool value) { m_fullDetailFiles = value; }
    QString PathDestination() const { return m_pathDestination; }
    void setPathDestination(const QString& value);
    QStringList ListFiles() const { return m_listFiles; }
    void setListFiles(const QStringList& lines) { m_listFiles = lines; }

    // The plain files of the detailed listing in ListFiles, each followed by
    // CR LF, in listing order: folder ("d") and link ("l") lines are skipped,
    // the name is the line from its 57th character with blanks trimmed, and
    // names beginning with "." are skipped. A line shorter than that gives an
    // empty name, kept as an empty line.
    QString ListFileName() const;

    TKelFtpClient& Client() { return *m_client; }
    const TKelFtpClient& Client() const { return *m_client; }

private:
    TKelFtpClient* m_client; // owned (child)
    QString m_domaineName;
    QString m_rootRemotePath;
    QString m_remotePath;
    QString m_serverFtp;
    int m_portFtp = 0;
    QString m_userName;
    QString m_password;
    bool m_modePassif = false;
    bool m_fullDetailFiles = false;
    QString m_pathDestination;
    QStringList m_listFiles;
};

} // namespace signetrix::backup
