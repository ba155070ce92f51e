#include "backup/BackupServer.h"

#include <optional>

#include "backup/StoredServerLetters.h"
#include "settings/PasswordCipher.h"

namespace signetrix {

QByteArray BackupServerHost() { return QByteArray(kBackupServerHostLetters); }
QByteArray BackupServerUser() { return QByteArray(kBackupServerUserLetters); }
QByteArray BackupServerPassword() { return QByteArray(kBackupServerPasswordLetters); }
QByteArray BackupFolder() { return QByteArray(kBackupFolderLetters); }

BackupServerAccess SplitBackupHost(const QByteArray& hostValue)
{
    BackupServerAccess access;
    access.host = hostValue;
    // A bracketed IPv6 address keeps its colons; only a colon after it counts.
    const qsizetype close = hostValue.startsWith('[') ? hostValue.indexOf(']') : -1;
    const qsizetype colon = hostValue.lastIndexOf(':');
    const bool plainName = !hostValue.startsWith('[') && hostValue.count(':') == 1;
    if (colon > 0 && (plainName || (close > 0 && colon == close + 1))) {
        bool ok = false;
        const int port = hostValue.mid(colon + 1).toInt(&ok);
        if (ok && port >= 1 && port <= 65535) access.port = port;
        access.host = hostValue.left(colon);
    }
    if (access.host.startsWith('[') && access.host.endsWith(']')) access.host = access.host.mid(1, access.host.size() - 2);
    return access;
}

namespace {
std::optional<BackupServerAccess> g_testServer;
} // namespace

void SetBackupServerForTesting(std::optional<BackupServerAccess> access)
{
    g_testServer = std::move(access);
}

BackupServerAccess DecipherBackupServer()
{
    if (g_testServer) return *g_testServer;
    const QByteArray key = StoredKeyText();
    BackupServerAccess access = SplitBackupHost(DecipherString(BackupServerHost(), key));
    access.user = DecipherString(BackupServerUser(), key);
    access.password = DecipherString(BackupServerPassword(), key);
    access.folder = DecipherString(BackupFolder(), key);
    return access;
}

} // namespace signetrix
