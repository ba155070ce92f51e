#pragma once
// The server's command line. Two modes:
//   signetrix_server [--http HOST:PORT] [--ftp HOST:PORT] --data DIR [...]
//   signetrix_server publish --data DIR --key SECRET_KEY FILE...
// Defaults of the FTP account, backup folder and addresses are the program's
// build-time values. A bad option gives an error text and no options.
#include "core/AccountStore.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>

namespace signetrix::server {

struct HostPort {
    QHostAddress host;
    quint16 port = 0;
    QString text() const; // "127.0.0.1:8088", "[::1]:8088"
};
bool ParseHostPort(const QString& text, HostPort* out);

struct ServeOptions {
    HostPort http;
    QString ftpListen;
    QString dataFolder; // absolute
    QString ftpUser;
    QString ftpPassword;
    QString backupFolder;
    QString ftpdScript;
    QString python = QStringLiteral("/usr/bin/python3");
    QString publicUrl; // empty: the address listened on
    QString smtpUrl;   // empty: mails go to the outbox folder
    QString mailFrom = QStringLiteral("Signetrix <ne-pas-repondre@localhost>");
    DatabaseSettings database;
    int formPostsPerMinute = 30;
    int registrationsPerMinute = 3;
    int confirmationsPerMinute = 30;
    int mailsPerAddressPerHour = 5;
    int linkDays = 7;
};

struct PublishOptions {
    QString dataFolder;
    QString keyFile;
    QStringList files;
};

struct CommandLine {
    enum class Mode { Serve, Publish, Help, Error };
    Mode mode = Mode::Error;
    ServeOptions serve;
    PublishOptions publish;
    QString text; // the error, or the help
};

CommandLine ParseCommandLine(const QStringList& arguments);

// One path segment of letters, digits, ".", "_" and "-", not starting with ".",
// and none of the web side's own first segments.
bool IsValidBackupFolder(const QString& folder);

} // namespace signetrix::server
