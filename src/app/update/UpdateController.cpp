#include "app/update/UpdateController.h"

#include "app/ErrorDisplay.h"
#include "app/EventPump.h"
#include "app/HttpProgress.h"
#include "app/WindowServices.h"
#include "app/widgets/BusyAnimation.h"
#include "net/Endpoints.h"
#include "net/Hosts.h"
#include "net/Transfer.h"
#include "platform/AppPaths.h"
#include "platform/Errors.h"
#include "platform/MessageBoxes.h"
#include "platform/Process.h"
#include "settings/Proxy.h"
#include "update/Install.h"
#include "update/ReleaseSignature.h"
#include "update/UpdateFiles.h"

#include "ui_UpdatePage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMovie>

namespace signetrix {
namespace {

namespace ep = net::endpoints;

constexpr int kConnectTimeoutMs = 30000;
constexpr qint64 kMaxSignatureBytes = 16 * 1024;

// A failure of the download, the check or the unpacking: one message, nothing renamed.
class UpdateFailed : public std::exception {};

} // namespace

UpdateController::UpdateController(Ui::UpdatePage& page, WindowServices& window, HttpProgress& http,
                                   TFileOperation& copy, QObject* parent)
    : QObject(parent), m_page(page), m_window(window), m_http(http), m_copy(copy)
{
    setCopyAnimation(m_page.aniCopy);
    connectHandler(m_page.Button8, &QPushButton::clicked, this, [this] { Button8Click(); });
}

QString UpdateController::localArchivePath()
{
    return platform::executableFolder() + QString::fromLatin1(ep::kReleaseArchiveName);
}

QString UpdateController::unpackFolder()
{
    return platform::executableFolder() + QStringLiteral("temp/");
}

void UpdateController::Button8Click()
{
    m_page.OvcMeterUpLoadUpDate->setVisible(true);
    m_page.lUpLoadUpDate->setVisible(true);
    m_http.DownloadMeter = m_page.OvcMeterUpLoadUpDate;
    m_http.DownloadLabel = m_page.lUpLoadUpDate;

    const QString archive = localArchivePath();
    QFile::remove(archive);
    {
        QFile file(archive);
        if (!file.open(QIODevice::WriteOnly))
            throw Error(QStringLiteral("Impossible de créer le fichier %1 : %2").arg(archive, file.errorString()));
    }
    try {
        QDir().mkpath(unpackFolder());
        HttpClientProxySettings client;
        tyiProxyConnectionInfo record;
        PrepareProxySettings(m_window.runSettings().proxy, client, record);
        net::ClientOptions options;
        options.connectTimeoutMs = kConnectTimeoutMs;
        options.stallTimeoutMs = m_stallTimeoutMs;
        options.proxy = record;
        const QByteArray url = net::DownloadUrl(QString::fromLatin1(ep::kReleaseArchivePath)).toUtf8();
        const net::FileResult got = net::GetIntoFile(url, QFile::encodeName(archive), options, m_http.receiveProgress());
        m_http.IdHTTP1WorkEnd();
        if (!got.written) throw UpdateFailed();
        // The archive came over plain HTTP: it is used only once its signature
        // holds against the key built into the program.
        const net::MemoryResult signature = net::GetIntoMemory(
            net::DownloadUrl(QString::fromLatin1(ep::kReleaseSignaturePath)).toUtf8(), options, kMaxSignatureBytes);
        if (!signature.transfer.ok() || signature.transfer.responseCode / 100 != 2 || signature.tooLarge)
            throw UpdateFailed();
        if (!update::VerifyReleaseSignature(archive, signature.body, update::ReleasePublicKey()).ok)
            throw UpdateFailed();
        UnpackUpdate();
    } catch (const std::exception&) {
        platform::showMessage(kFailedText, platform::MessageKind::Error);
    }
}

void UpdateController::UnpackUpdate()
{
    if (!update::UnpackUpdateArchive(localArchivePath(), unpackFolder()).ok) throw UpdateFailed();
    platform::showMessage(kUnpackedText);
    m_page.OvcMeterUpLoadUpDate->setVisible(false);
    m_page.lUpLoadUpDate->setVisible(false);
    InstallUpdate();
}

void UpdateController::InstallUpdate()
{
    const QString running = platform::executablePath();
    const QString fresh = unpackFolder() + QFileInfo(running).fileName();
    if (!update::IsUpdateNewer(fresh, running)) {
        platform::showMessage(kCurrentText);
        return;
    }
    QMovie* movie = m_page.aniCopy->movie();
    struct StopAnimation {
        QLabel* label;
        ~StopAnimation()
        {
            if (QMovie* m = label->movie()) m->stop();
            label->setVisible(false);
        }
    } stopAnimation{m_page.aniCopy};
    m_page.aniCopy->setVisible(true);
    if (movie) movie->start();
    pumpEvents();

    const update::InstallResult installed = update::SwapExecutable(running, unpackFolder(), m_copy, [] { pumpEvents(); });
    if (!installed.copyErrors.isEmpty())
        platform::showMessage(kCopyFailedText + installed.copyErrors.join(QLatin1Char('\n')), platform::MessageKind::Error);
    pumpEvents();
    if (movie) movie->stop();
    m_page.aniCopy->setVisible(false);
    if (installed.rolledBack) {
        // The previous version is back in place; it starts again rather than nothing.
        platform::showMessage(kFailedText, platform::MessageKind::Error);
    } else {
        platform::showMessage(kRestartText);
    }
    platform::startDetached({running, {}, QDir::currentPath()});
    pumpEvents();
    platform::endProgram();
}

} // namespace signetrix
