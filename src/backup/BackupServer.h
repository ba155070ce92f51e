#pragma once
// The backup server's connection values. The program holds them only as
// cipher letters; they are deciphered at each use, kept in memory for that
// use only, and never shown, logged or written.
#include <QByteArray>

#include <optional>

namespace signetrix {

// The stored letter forms.
QByteArray BackupServerHost();     // host, or host:port
QByteArray BackupServerUser();
QByteArray BackupServerPassword();
QByteArray BackupFolder();         // one path segment: FTP folder and URL segment

struct BackupServerAccess {
    QByteArray host;
    int port = 21;
    QByteArray user;
    QByteArray password;
    QByteArray folder;
};

// Deciphers the four values. A host value "name:port" names its port; port 21
// otherwise (also when the port part is not a number from 1 to 65535).
BackupServerAccess DecipherBackupServer();
// Tests point the program at a server of theirs (the letters stay unused);
// nullopt restores the stored values.
void SetBackupServerForTesting(std::optional<BackupServerAccess> access);
// The host value split into name and port, by the rule above.
BackupServerAccess SplitBackupHost(const QByteArray& hostValue);

} // namespace signetrix
