#include "backup/UKelFTPConnexion.h"

#include "settings/IniStore.h"

namespace signetrix::backup {

namespace {
// Where the name starts in a Unix long listing line (counted from 0).
constexpr qsizetype kNameColumn = 56;
} // namespace

TKelFtpClient::TKelFtpClient(QObject* owner) : QObject(owner) {}

void TKelFtpClient::Disconnect()
{
    if (!m_connected) return;
    m_connected = false;
    emit Disconnected();
}

bool TKelFtpClient::ChangeDir(const QString& folder)
{
    if (!m_connected) return false;
    m_remoteFolder = folder;
    return true;
}

TKelFTPConnexion::TKelFTPConnexion(QObject* owner) : TKelComponent(owner), m_client(new TKelFtpClient(this)) {}

TKelFTPConnexion::~TKelFTPConnexion()
{
    m_client->Disconnect();
    delete m_client;
}

void TKelFTPConnexion::setServerFtp(const QString& value)
{
    m_serverFtp = value;
    m_client->Host = value;
}

void TKelFTPConnexion::setPortFtp(int value)
{
    m_portFtp = value;
    m_client->Port = value;
}

void TKelFTPConnexion::setUserName(const QString& value)
{
    m_userName = value;
    m_client->Username = value;
}

void TKelFTPConnexion::setPassword(const QString& value)
{
    m_password = value;
    m_client->Password = value;
}

void TKelFTPConnexion::setModePassif(bool value)
{
    m_modePassif = value;
    m_client->Passive = value;
}

void TKelFTPConnexion::setPathDestination(const QString& value)
{
    m_pathDestination = value;
    if (m_client->Connected()) m_client->ChangeDir(value);
}

QString TKelFTPConnexion::ListFileName() const
{
    QString names;
    for (const QString& line : m_listFiles) {
        if (line.startsWith(u'l') || line.startsWith(u'd')) continue;
        const QString name = TrimmedValue(line.mid(kNameColumn));
        if (name.startsWith(u'.')) continue;
        names += name;
        names += QStringLiteral("\r\n");
    }
    return names;
}

} // namespace signetrix::backup
