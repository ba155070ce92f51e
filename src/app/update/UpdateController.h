#pragma once
// The update page: "Télécharger la dernière version du logiciel" downloads
// the release archive and its signature from the download host, checks the
// signature against the release key built into the program, unpacks the
// archive into temp/, and when the unpacked executable is newer swaps it in
// and restarts. On the user-interface thread, serviced from the progress
// reports and between the steps.
//
// A local archive file that cannot be made goes to the general error display;
// every other failure (download, signature, unpacking) shows
// "Erreur lors de la mise à jour de l'application" with nothing renamed.
#include <QObject>
#include <QString>

namespace Ui {
class UpdatePage;
}

namespace signetrix {

class HttpProgress;
class TFileOperation;
class WindowServices;

class UpdateController : public QObject {
    Q_OBJECT

public:
    static inline const QString kUnpackedText = QStringLiteral(
        "Téléchargement de la dernière version de l'application terminé\nL'application va effectuer la mise à jour !");
    static inline const QString kCurrentText = QStringLiteral("Vous disposez de la version la plus récente de Signetrix !");
    static inline const QString kCopyFailedText =
        QStringLiteral("Erreur lors de la copie de la nouvelle version de l'application\n");
    static inline const QString kRestartText =
        QStringLiteral("Fin de la mise à jour de l'application \nRedémarrage de l'application !");
    static inline const QString kFailedText = QStringLiteral("Erreur lors de la mise à jour de l'application");

    UpdateController(Ui::UpdatePage& page, WindowServices& window, HttpProgress& http, TFileOperation& copy,
                     QObject* parent = nullptr);

    void Button8Click();
    void UnpackUpdate();
    void InstallUpdate();

    // Beside the executable.
    static QString localArchivePath();
    static QString unpackFolder();
    // A download that moves no byte for this long is given up.
    void setStallTimeout(int milliseconds) { m_stallTimeoutMs = milliseconds; }

private:
    Ui::UpdatePage& m_page;
    WindowServices& m_window;
    HttpProgress& m_http;
    TFileOperation& m_copy;
    int m_stallTimeoutMs = 30000;
};

} // namespace signetrix
