#include "core/ServerApp.h"

#include "core/Log.h"
#include "core/Pages.h"
#include "core/Smtp.h"
#include "core/TempFiles.h"

#include <QDir>
#include <QFile>
#include <QUrl>

#include <sys/stat.h>

namespace signetrix::server {
namespace {

constexpr int kPurgeIntervalMs = 60 * 60 * 1000;

bool MakeFolder(const QString& path, QString* error)
{
    if (QDir().mkpath(path)) return true;
    *error = QStringLiteral("cannot create %1").arg(path);
    return false;
}

bool IsAnyAddress(const QHostAddress& address)
{
    return address == QHostAddress(QHostAddress::Any) || address == QHostAddress(QHostAddress::AnyIPv4) ||
           address == QHostAddress(QHostAddress::AnyIPv6);
}

} // namespace

ServerApp::ServerApp(ServeOptions options, QObject* parent)
    : QObject(parent), m_options(std::move(options)), m_layout(m_options.dataFolder)
{
}

ServerApp::~ServerApp()
{
    stop();
}

bool ServerApp::prepareDataFolder(QString* error)
{
    if (!MakeFolder(m_layout.root, error)) return false;
    // The folder holds password hashes and pending confirmation links.
    ::chmod(QFile::encodeName(m_layout.root).constData(), 0700);
    for (const QString& folder : {QFileInfo(m_layout.banner).absolutePath(), m_layout.download, m_layout.outbox,
                                  m_layout.backups(m_options.backupFolder)})
        if (!MakeFolder(folder, error)) return false;
    if (!QFileInfo::exists(m_layout.banner) && !WriteFileAtomically(m_layout.banner, DefaultBannerPage(), error))
        return false;
    return true;
}

bool ServerApp::start(QString* error)
{
    if (!prepareDataFolder(error)) return false;

    m_store = std::make_unique<SqlAccountStore>(m_options.database);
    if (!m_store->open(error)) return false;

    WebConfig web;
    web.dataFolder = m_layout.root;
    web.backupFolder = m_options.backupFolder;
    web.formPostsPerMinute = m_options.formPostsPerMinute;
    web.registrationsPerMinute = m_options.registrationsPerMinute;
    web.confirmationsPerMinute = m_options.confirmationsPerMinute;

    RegistrationConfig registration;
    registration.mailFrom = m_options.mailFrom;
    registration.linkMaxAgeSecs = qint64(m_options.linkDays) * 24 * 3600;
    registration.mailsPerAddressPerHour = m_options.mailsPerAddressPerHour;
    m_hasher = std::make_unique<PasswordHasher>();

    QString publicUrl = m_options.publicUrl;
    const QString domain = QStringLiteral("signetrix.localhost");
    if (m_options.smtpUrl.isEmpty())
        m_mailer = std::make_unique<OutboxMailer>(m_layout.outbox, domain);
    else
        m_mailer = std::make_unique<SmtpMailer>(m_options.smtpUrl, domain);

    // The link base is only known once the web side listens (port 0); no
    // request is served before start() returns, so it is set right after.
    m_registration = std::make_unique<Registration>(*m_store, *m_mailer, *m_hasher, registration);
    m_web = std::make_unique<WebServer>(web, *m_registration);
    if (!m_web->start(m_options.http.host, m_options.http.port, error)) return false;
    m_httpBound = HostPort{m_options.http.host, m_web->port()};
    if (publicUrl.isEmpty())
        publicUrl = IsAnyAddress(m_options.http.host) ? QStringLiteral(SIGNETRIX_SERVER_DEFAULT_PUBLIC_URL)
                                                      : QStringLiteral("http://") + m_httpBound.text();
    registration.confirmationUrl = publicUrl + QLatin1String(kConfirmationPath);
    m_registration->setConfirmationUrl(registration.confirmationUrl);

    FtpChildConfig ftp;
    ftp.python = m_options.python;
    ftp.script = m_options.ftpdScript;
    ftp.listen = m_options.ftpListen;
    ftp.user = m_options.ftpUser;
    ftp.password = m_options.ftpPassword;
    ftp.root = m_layout.ftpRoot;
    ftp.folder = m_options.backupFolder;
    m_ftp = std::make_unique<FtpChild>(ftp);
    connect(m_ftp.get(), &FtpChild::unexpectedExit, this, &ServerApp::ftpLost);
    if (!m_ftp->start(error)) return false;

    const int purged = m_registration->purgeExpired();
    if (purged > 0) LogLine(QStringLiteral("%1 expired registrations forgotten").arg(purged));
    m_purge.setInterval(kPurgeIntervalMs);
    connect(&m_purge, &QTimer::timeout, this, [this] { m_registration->purgeExpired(); });
    m_purge.start();
    LogLine(QStringLiteral("serving %1 (confirmation links at %2), data in %3")
                .arg(readyLine(), registration.confirmationUrl, m_layout.root));
    return true;
}

QString ServerApp::readyLine() const
{
    return QStringLiteral("http=%1 ftp=%2").arg(m_httpBound.text(), m_ftp ? m_ftp->listenAddress() : QString());
}

void ServerApp::stop()
{
    m_purge.stop();
    if (m_ftp) m_ftp->stop();
    m_web.reset();
}

} // namespace signetrix::server
