#include "app/backup/BackupController.h"

#include "app/ErrorDisplay.h"
#include "app/EventPump.h"
#include "app/HttpProgress.h"
#include "app/WindowServices.h"
#include "backup/BackupArchive.h"
#include "backup/BackupServer.h"
#include "cleanup/CleanupFiles.h"
#include "net/Endpoints.h"
#include "net/Hosts.h"
#include "net/Transfer.h"
#include "platform/AppPaths.h"
#include "platform/Clock.h"
#include "platform/Errors.h"
#include "platform/MessageBoxes.h"
#include "settings/Proxy.h"

#include "ui_BackupPage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProgressBar>

#include <cmath>

namespace signetrix {
namespace {

enum Row {
    kRowUploading = 3,
    kRowUploaded = 4,
    kRowUploadFailed = 5,
    kRowPacking = 6,
    kRowDownloading = 7,
    kRowUnpacking = 8,
    kRowRestored = 9,
};

constexpr int kConnectTimeoutMs = 30000;

// What the user reads when the session cannot start; never a server value.
QString SessionFailureText(const net::TransferResult& result, bool enteringFolder)
{
    if (enteringFolder) return QStringLiteral("Le dossier de sauvegarde est introuvable sur le serveur.");
    if (result.clientCode == 67) // login denied
        return QStringLiteral("Le serveur de sauvegarde a refusé l'identification.");
    return QStringLiteral("Connexion au serveur de sauvegarde impossible. Vérifiez votre connexion puis réessayez.");
}

} // namespace

BackupController::BackupController(Ui::BackupPage& page, WindowServices& window, const QStringList& messages,
                                   QProgressBar& meter, HttpProgress& http, QObject* parent)
    : QObject(parent), m_page(page), m_window(window), m_messages(messages), m_meter(meter), m_http(http)
{
    connectHandler(m_page.btnBackupFavoris, &QPushButton::clicked, this, [this] { btnBackupFavorisClick(); });
    connectHandler(m_page.btnRestoreFavoris, &QPushButton::clicked, this, [this] { btnRestoreFavorisClick(); });
}

QString BackupController::archivePath() const
{
    return platform::executableFolder() + QStringLiteral("temp/") + m_page.edID->text() + QStringLiteral(".zip");
}

void BackupController::showArchiveProgress(double percent)
{
    m_meter.setValue(qBound(0, int(std::trunc(percent)), 100));
    pumpEvents();
}

void BackupController::lendProcessPanel(QWidget* groupBox, QWidget* buttons)
{
    m_window.LendPanel(WindowServices::SharedPanel::Process, groupBox, false);
    buttons->setVisible(false);
}

void BackupController::backToIdle(QWidget* buttons, QLabel* label)
{
    label->clear();
    m_window.TakeBackPanel(WindowServices::SharedPanel::Process);
    buttons->setVisible(true);
}

void BackupController::btnBackupFavorisClick()
{
    BackupFavorites();
}

void BackupController::BackupFavorites()
{
    // The sheet ends idle whatever ends the backup.
    struct Idle {
        BackupController* c;
        ~Idle() { c->backToIdle(c->m_page.pBackupFavoris, c->m_page.lBackupFavoris); }
    } idle{this};

    const QString favorites = platform::favoritesFolder();
    const QString path = archivePath();
    QFile::remove(path);
    lendProcessPanel(m_page.gbBackupFavoris, m_page.pBackupFavoris);
    m_page.lBackupFavoris->setText(row(kRowPacking));
    pumpEvents();
    if (favorites.isEmpty() || !QFileInfo(favorites).isDir())
        throw Error(QStringLiteral("Le dossier des favoris est introuvable."));
    // A fresh installation has no temp folder yet.
    QDir().mkpath(QFileInfo(path).path());
    const backup::ArchiveResult archive =
        backup::CreateFavoritesArchive(favorites, path, [this](double percent) { showArchiveProgress(percent); });
    if (!archive.ok) throw Error(archive.error);
    UploadArchive(path);
}

void BackupController::UploadArchive(const QString& archivePath)
{
    struct Idle {
        BackupController* c;
        ~Idle() { c->m_page.pBackupFavoris->setVisible(true); }
    } idle{this};
    lendProcessPanel(m_page.gbBackupFavoris, m_page.pBackupFavoris);

    PrepareFtpProxy(m_window.runSettings().proxy, m_idFtpBackup, m_proxyRecord);
    // The proxy method stays "none": an active-mode data connection cannot
    // come back through a web proxy, so the session goes straight to the server.
    net::ClientOptions options;
    options.connectTimeoutMs = kConnectTimeoutMs;
    const BackupServerAccess server = DecipherBackupServer();
    net::FtpSession session(options, {server.host, server.port, server.user, server.password, true});
    session.setIdle([] { pumpEvents(); });
    const net::TransferResult connected = session.connect();
    if (!connected.ok()) throw Error(SessionFailureText(connected, false));
    const net::TransferResult entered = session.changeDirectory(server.folder);
    if (!entered.ok()) throw Error(SessionFailureText(entered, true));

    QFile archive(archivePath);
    if (!archive.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("Le fichier de transfert %1 ne peut pas être lu.").arg(archivePath));
    const QByteArray name = QFile::encodeName(QFileInfo(archivePath).fileName());
    const QByteArray local = QFile::encodeName(archivePath);

    // From here on a failure only ends the attempts; the closing steps run.
    runHandler([&] {
        try {
            UploadSize = qint32(qMin<qint64>(archive.size(), std::numeric_limits<qint32>::max()));
            m_meter.setValue(0);
            m_page.lBackupFavoris->setText(row(kRowUploading));
            pumpEvents();
            m_idFtpBackupTag = 0;
            for (;;) {
                const net::TransferResult stored = session.store(name, local, [this](const net::SendProgress& p) {
                    if (UploadSize > 0) m_meter.setValue(qBound(0, int(p.sentBytes * 100 / UploadSize), 100));
                    pumpEvents();
                    return net::Verdict::Continue;
                });
                if (stored.ok()) {
                    m_meter.setValue(100);
                    break;
                }
                if (++m_idFtpBackupTag >= kAttempts) break;
            }
            m_page.lBackupFavoris->setText(row(m_idFtpBackupTag >= kAttempts ? kRowUploadFailed : kRowUploaded));
            pumpEvents();
            paintThenPause(m_window.window(), kEndPauseMs);
            pumpEvents();
            m_page.lBackupFavoris->clear();
            m_window.TakeBackPanel(WindowServices::SharedPanel::Process);
        } catch (...) {
            // Swallowed as designed: the closing steps below still run.
        }
    });
    session.close();
    archive.close();
}

void BackupController::btnRestoreFavorisClick()
{
    RestoreFavorites();
}

void BackupController::RestoreFavorites()
{
    m_http.DownloadMeter = &m_meter;
    m_http.DownloadLabel = nullptr;
    struct Idle {
        BackupController* c;
        ~Idle() { c->backToIdle(c->m_page.pRestoreFavoris, c->m_page.lRestoreFavoris); }
    } idle{this};
    lendProcessPanel(m_page.gbRestoreFavoris, m_page.pRestoreFavoris);
    m_page.lRestoreFavoris->setText(row(kRowDownloading));
    pumpEvents();

    const QString path = archivePath();
    QFile::remove(path);
    QDir().mkpath(QFileInfo(path).path());
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            throw Error(QStringLiteral("Impossible de créer le fichier %1 : %2").arg(path, file.errorString()));
    }

    bool restored = false;
    try {
        PrepareProxySettings(m_window.runSettings().proxy, m_idHttp1, m_proxyRecord);
        net::ClientOptions options;
        options.connectTimeoutMs = kConnectTimeoutMs;
        options.stallTimeoutMs = m_stallTimeoutMs;
        options.proxy = m_proxyRecord;
        const QByteArray url =
            net::DownloadUrl(net::endpoints::BackupArchivePath(QString::fromLatin1(DecipherBackupServer().folder),
                                                               m_page.edID->text()))
                .toUtf8();
        const net::FileResult got = net::GetIntoFile(url, QFile::encodeName(path), options, m_http.receiveProgress());
        m_http.IdHTTP1WorkEnd();
        if (got.written) {
            m_page.lRestoreFavoris->setText(row(kRowUnpacking));
            UnpackBackup();
            restored = true;
        }
    } catch (const std::exception&) {
        // The message below says it; the address holds the backup folder, which is never shown.
    }
    if (!restored) platform::showMessage(kRestoreFailedText, platform::MessageKind::Error);
}

void BackupController::UnpackBackup()
{
    // A new machine may have no Favorites folder yet: the restore makes it.
    const QString favorites = platform::favoritesFolderPath();
    if (!QDir().mkpath(favorites)) throw Error(QStringLiteral("Le dossier des favoris ne peut pas être créé."));
    const QString copies = platform::executableFolder() + QString::fromLatin1(cleanup::kArchiveFolderName) +
                           QLatin1Char('/') + cleanup::ArchiveDateText(platform::now().date());
    const backup::UnpackResult unpacked = backup::UnpackFavoritesArchive(
        archivePath(), favorites, copies, [this](double percent) { showArchiveProgress(percent); });
    if (!unpacked.ok) throw Error(unpacked.error);
    m_page.lRestoreFavoris->setText(row(kRowRestored));
    pumpEvents();
    paintThenPause(m_window.window(), kEndPauseMs);
    pumpEvents();
}

} // namespace signetrix
