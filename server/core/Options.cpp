#include "core/Options.h"

#include <QCommandLineParser>
#include <QDir>
#include <QRegularExpression>
#include <QUrl>

namespace signetrix::server {
namespace {

QString Usage()
{
    return QStringLiteral(
        "Usage:\n"
        "  signetrix_server [options] --data DIR\n"
        "  signetrix_server publish --data DIR --key SECRET_KEY FILE...\n"
        "\n"
        "Server options:\n"
        "  --http HOST:PORT          web side address (default 127.0.0.1:8088; port 0: any free port)\n"
        "  --ftp HOST:PORT           FTP side address (default " SIGNETRIX_SERVER_DEFAULT_FTP ")\n"
        "  --data DIR                data folder (accounts, backups, release, outbox)\n"
        "  --ftp-user U              backup FTP user (default: the program's)\n"
        "  --ftp-password P          backup FTP password (default: the program's)\n"
        "  --backup-folder F         backup folder, FTP folder and URL segment (default: the program's)\n"
        "  --public-url URL          base of the confirmation link (default: the web address)\n"
        "  --smtp URL                send mails through this SMTP server instead of DIR/outbox\n"
        "  --mail-from MAILBOX       sender of the confirmation mails\n"
        "  --db-driver NAME          Qt SQL driver (default QSQLITE)\n"
        "  --db-name NAME            database (default DIR/accounts.sqlite for QSQLITE)\n"
        "  --db-host HOST, --db-port N, --db-user U   server databases; the password is read\n"
        "                            from the SIGNETRIX_DB_PASSWORD environment variable\n"
        "  --form-limit N            form posts per client address and minute (default 30)\n"
        "  --registration-limit N    registrations per client address and minute (default 3)\n"
        "  --confirmation-limit N    confirmation links per client address and minute (default 30)\n"
        "  --mail-limit N            confirmation mails per address and hour (default 5)\n"
        "  --link-days N             days a confirmation link stays valid (default 7)\n"
        "  --ftpd-script PATH        the FTP daemon script\n"
        "  --python PATH             its interpreter (default /usr/bin/python3)\n"
        "\n"
        "Once both sides listen, one line \"http=HOST:PORT ftp=HOST:PORT\" is printed on standard output.\n");
}

CommandLine Error(const QString& text)
{
    CommandLine line;
    line.mode = CommandLine::Mode::Error;
    line.text = text;
    return line;
}

bool ReadCount(const QCommandLineParser& parser, const QString& name, int* out, QString* error)
{
    if (!parser.isSet(name)) return true;
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    if (!ok || value < 0) {
        *error = QStringLiteral("--%1 takes a whole number from 0").arg(name);
        return false;
    }
    *out = value;
    return true;
}

CommandLine ParsePublish(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOption({QStringLiteral("data"), QString(), QStringLiteral("DIR")});
    parser.addOption({QStringLiteral("key"), QString(), QStringLiteral("SECRET_KEY")});
    parser.addPositionalArgument(QStringLiteral("files"), QString());
    if (!parser.parse(arguments)) return Error(parser.errorText());
    CommandLine line;
    line.publish.dataFolder = parser.value(QStringLiteral("data"));
    line.publish.keyFile = parser.value(QStringLiteral("key"));
    line.publish.files = parser.positionalArguments();
    if (line.publish.dataFolder.isEmpty()) return Error(QStringLiteral("publish: --data DIR is required"));
    if (line.publish.keyFile.isEmpty()) return Error(QStringLiteral("publish: --key SECRET_KEY is required"));
    if (line.publish.files.isEmpty()) return Error(QStringLiteral("publish: no file to publish"));
    line.publish.dataFolder = QDir(line.publish.dataFolder).absolutePath();
    line.mode = CommandLine::Mode::Publish;
    return line;
}

} // namespace

QString HostPort::text() const
{
    const QString name = host.protocol() == QAbstractSocket::IPv6Protocol
                             ? QLatin1Char('[') + host.toString() + QLatin1Char(']')
                             : host.toString();
    return name + QLatin1Char(':') + QString::number(port);
}

bool ParseHostPort(const QString& text, HostPort* out)
{
    static const QRegularExpression form(QStringLiteral("^(?:\\[([0-9A-Fa-f:.]+)\\]|([^:\\[\\]]+)):(\\d{1,5})$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch()) return false;
    const QString name = match.captured(1).isEmpty() ? match.captured(2) : match.captured(1);
    QHostAddress host;
    if (name == QLatin1String("localhost")) host = QHostAddress(QHostAddress::LocalHost);
    else if (!host.setAddress(name)) return false;
    const int port = match.captured(3).toInt();
    if (port > 65535) return false;
    out->host = host;
    out->port = quint16(port);
    return true;
}

bool IsValidBackupFolder(const QString& folder)
{
    static const QRegularExpression form(QStringLiteral("^[A-Za-z0-9_-][A-Za-z0-9._-]{0,63}$"));
    static const QStringList reserved = {QStringLiteral("."), QStringLiteral(".."), QStringLiteral("download"),
                                         QStringLiteral("err")};
    return form.match(folder).hasMatch() && !reserved.contains(folder, Qt::CaseInsensitive);
}

CommandLine ParseCommandLine(const QStringList& arguments)
{
    if (arguments.size() > 1 && arguments[1] == QLatin1String("publish")) {
        QStringList rest = arguments;
        rest.removeAt(1);
        return ParsePublish(rest);
    }
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QStringList valued = {"http", "ftp", "data", "ftp-user", "ftp-password", "backup-folder", "public-url",
                                "smtp", "mail-from", "db-driver", "db-name", "db-host", "db-port", "db-user",
                                "form-limit", "registration-limit", "confirmation-limit", "mail-limit", "link-days",
                                "ftpd-script", "python"};
    for (const QString& name : valued) parser.addOption({name, QString(), QStringLiteral("value")});
    parser.addOption({{QStringLiteral("h"), QStringLiteral("help")}, QString()});
    if (!parser.parse(arguments)) return Error(parser.errorText() + QStringLiteral("\n\n") + Usage());
    if (parser.isSet(QStringLiteral("help"))) {
        CommandLine line;
        line.mode = CommandLine::Mode::Help;
        line.text = Usage();
        return line;
    }
    if (!parser.positionalArguments().isEmpty())
        return Error(QStringLiteral("unexpected argument %1\n\n%2").arg(parser.positionalArguments().first(), Usage()));

    CommandLine line;
    ServeOptions& o = line.serve;
    const auto value = [&](const char* name, const QString& fallback) {
        const QString key = QString::fromLatin1(name);
        return parser.isSet(key) ? parser.value(key) : fallback;
    };
    if (!ParseHostPort(value("http", QStringLiteral("127.0.0.1:8088")), &o.http))
        return Error(QStringLiteral("--http takes HOST:PORT"));
    o.ftpListen = value("ftp", QStringLiteral(SIGNETRIX_SERVER_DEFAULT_FTP));
    HostPort ftp;
    if (!ParseHostPort(o.ftpListen, &ftp)) return Error(QStringLiteral("--ftp takes HOST:PORT"));
    o.ftpListen = ftp.text();
    o.dataFolder = value("data", QString());
    if (o.dataFolder.isEmpty()) return Error(QStringLiteral("--data DIR is required\n\n") + Usage());
    o.dataFolder = QDir(o.dataFolder).absolutePath();
    o.ftpUser = value("ftp-user", QStringLiteral(SIGNETRIX_SERVER_DEFAULT_FTP_USER));
    o.ftpPassword = value("ftp-password", QStringLiteral(SIGNETRIX_SERVER_DEFAULT_FTP_PASSWORD));
    o.backupFolder = value("backup-folder", QStringLiteral(SIGNETRIX_SERVER_DEFAULT_BACKUP_FOLDER));
    if (o.ftpUser.isEmpty()) return Error(QStringLiteral("--ftp-user may not be empty"));
    if (!IsValidBackupFolder(o.backupFolder))
        return Error(QStringLiteral("--backup-folder takes one path segment of letters, digits, '.', '_' or '-'"));
    o.ftpdScript = value("ftpd-script", QStringLiteral(SIGNETRIX_SERVER_DEFAULT_FTPD_SCRIPT));
    o.python = value("python", o.python);
    o.publicUrl = value("public-url", QString());
    if (!o.publicUrl.isEmpty()) {
        const QUrl url(o.publicUrl, QUrl::StrictMode);
        if (!url.isValid() || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")) ||
            url.host().isEmpty())
            return Error(QStringLiteral("--public-url takes an http:// or https:// address"));
        while (o.publicUrl.endsWith(QLatin1Char('/'))) o.publicUrl.chop(1);
    }
    o.smtpUrl = value("smtp", QString());
    if (!o.smtpUrl.isEmpty() && !o.smtpUrl.startsWith(QLatin1String("smtp://")) &&
        !o.smtpUrl.startsWith(QLatin1String("smtps://")))
        return Error(QStringLiteral("--smtp takes an smtp:// or smtps:// address"));
    o.mailFrom = value("mail-from", o.mailFrom);
    if (o.mailFrom.contains(QLatin1Char('\n')) || o.mailFrom.contains(QLatin1Char('\r')))
        return Error(QStringLiteral("--mail-from is one line"));
    o.database.driver = value("db-driver", o.database.driver);
    o.database.name = value("db-name", o.database.driver == QLatin1String("QSQLITE")
                                           ? o.dataFolder + QStringLiteral("/accounts.sqlite")
                                           : QString());
    o.database.host = value("db-host", QString());
    o.database.user = value("db-user", QString());
    o.database.password = qEnvironmentVariable("SIGNETRIX_DB_PASSWORD");
    QString error;
    if (!ReadCount(parser, QStringLiteral("db-port"), &o.database.port, &error) ||
        !ReadCount(parser, QStringLiteral("form-limit"), &o.formPostsPerMinute, &error) ||
        !ReadCount(parser, QStringLiteral("registration-limit"), &o.registrationsPerMinute, &error) ||
        !ReadCount(parser, QStringLiteral("confirmation-limit"), &o.confirmationsPerMinute, &error) ||
        !ReadCount(parser, QStringLiteral("mail-limit"), &o.mailsPerAddressPerHour, &error) ||
        !ReadCount(parser, QStringLiteral("link-days"), &o.linkDays, &error))
        return Error(error);
    if (o.linkDays < 1) return Error(QStringLiteral("--link-days takes a whole number from 1"));
    line.mode = CommandLine::Mode::Serve;
    return line;
}

} // namespace signetrix::server
