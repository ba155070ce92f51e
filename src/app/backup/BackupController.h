#pragma once
// The backup and restore sheets: "Sauvegarder vos favoris sur internet" packs
// the Favorites tree into temp/<id>.zip and stores it on the backup FTP
// server (up to five attempts on one session); "Restaurer vos favoris depuis
// Internet" fetches that archive from the download host and unpacks it over
// the Favorites folder. Both run on the user-interface thread and keep the
// window serviced from their progress reports; the hidden button panel
// prevents a second start.
//
// Failures before any store attempt, and a local archive file that cannot be
// made, go to the general error display (their messages never hold the
// server's values); every other restore failure shows "Erreur lors de la
// récupération de vos favoris". Whatever happens, the sheet ends idle.
#include "net/ProxyRecord.h"

#include <QObject>
#include <QString>
#include <QStringList>

class QLabel;
class QProgressBar;
class QWidget;

namespace Ui {
class BackupPage;
}

namespace signetrix {

class HttpProgress;
class WindowServices;

class BackupController : public QObject {
    Q_OBJECT

public:
    static inline const QString kRestoreFailedText = QStringLiteral("Erreur lors de la récupération de vos favoris");
    static constexpr int kAttempts = 5;
    static constexpr int kEndPauseMs = 3500;

    // messages: the general message table (rows 3 to 9 are the backup's and
    // the restore's); meter: the lent panel's OvcMeterProcess.
    BackupController(Ui::BackupPage& page, WindowServices& window, const QStringList& messages,
                     QProgressBar& meter, HttpProgress& http, QObject* parent = nullptr);

    void btnBackupFavorisClick();
    void BackupFavorites();
    void UploadArchive(const QString& archivePath);

    void btnRestoreFavorisClick();
    void RestoreFavorites();
    void UnpackBackup();

    // temp/<id>.zip beside the executable.
    QString archivePath() const;
    qint32 UploadSize = 0;
    int failedAttempts() const { return m_idFtpBackupTag; }
    const tyiProxyConnectionInfo& proxyRecord() const { return m_proxyRecord; }
    // A download that receives nothing for this long is given up.
    void setStallTimeout(int milliseconds) { m_stallTimeoutMs = milliseconds; }

private:
    QString row(int index) const { return m_messages.value(index); }
    void showArchiveProgress(double percent);
    void lendProcessPanel(QWidget* groupBox, QWidget* buttons);
    void backToIdle(QWidget* buttons, QLabel* label);

    Ui::BackupPage& m_page;
    WindowServices& m_window;
    const QStringList& m_messages;
    QProgressBar& m_meter;
    HttpProgress& m_http;
    FtpClientProxySettings m_idFtpBackup;
    HttpClientProxySettings m_idHttp1;
    tyiProxyConnectionInfo m_proxyRecord;
    int m_idFtpBackupTag = 0;
    int m_stallTimeoutMs = 30000;
};

} // namespace signetrix
