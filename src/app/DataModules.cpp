#include "app/DataModules.h"

#include "backup/UKelFTPConnexion.h"
#include "backup/UKelSynchroFolder.h"

namespace signetrix {

TdmCommon::TdmCommon(QObject* parent) : QObject(parent)
{
    setObjectName(QStringLiteral("dmCommon"));
    JvgStringContainer = {
        QString(), // rows 0 to 2 are kept free so the status rows keep their numbers
        QString(),
        QString(),
        QStringLiteral("Sauvegarde en cours..."),
        QStringLiteral("Sauvegarde terminée avec succès!"),
        QStringLiteral("!! ERREUR de connexion !! Impossible d'effectuer la sauvegarde"),
        QStringLiteral("Création du fichier de transfert en cours..."),
        QStringLiteral("Restauration des favoris en cours..."),
        QStringLiteral("Décompression en cours..."),
        QStringLiteral("Restauration de vos favoris terminée avec succès"),
    };
    JvgStringContainerDeleteEmptyFolders = {
        QStringLiteral("Recherche des dossiers vides"),
        QStringLiteral("Suppression des dossiers"),
    };
}

TReVuvidizEdevav::TReVuvidizEdevav(QObject* parent)
    : QObject(parent), KelFTPConnexion(new backup::TKelFTPConnexion(this)),
      KelSynchroFolder(new backup::TKelSynchroFolder(this))
{
    setObjectName(QStringLiteral("ReVuvidizEdevav"));
    KelFTPConnexion->setObjectName(QStringLiteral("KelFTPConnexion"));
    KelSynchroFolder->setObjectName(QStringLiteral("KelSynchroFolder"));
    JvgStringContainerCredits = {
        QString(),
        QStringLiteral("Signetrix"),
        QStringLiteral("Le gardien de vos favoris"),
        QString(),
        QStringLiteral("Conception et développement"),
        QStringLiteral("L'équipe Signetrix"),
        QString(),
        QStringLiteral("Bibliothèques"),
        QStringLiteral("Qt, libcurl, libzip, zlib"),
        QString(),
        QStringLiteral("Copyright © ##year## L'équipe Signetrix"),
        QStringLiteral("Tous droits réservés"),
        QString(),
        QStringLiteral("Merci d'utiliser Signetrix en ##year## !"),
        QString(),
    };
}

} // namespace signetrix
