#include "app/dialogs/HelpTexts.h"

namespace signetrix::dialogs {

namespace {

struct Table {
    QString title;
    QStringList rows;
};

// One entry per table, in the order of HelpTable.
const Table& entry(HelpTable which)
{
    static const Table tables[] = {
        {QStringLiteral("Codes erreurs 3XX"),
         {
             QStringLiteral("300 L'URL demandée se rapporte à plusieurs ressources"),
             QStringLiteral("303 La réponse à cette requête est ailleurs"),
             QStringLiteral("304 Document non-modifié depuis la dernière requête"),
             QStringLiteral("305 La requête doit être ré-adressée au proxy"),
             QStringLiteral("307 La requête doit être redirigée temporairement vers l'URI spécifiée"),
             QString(),
         }},
        {QStringLiteral("Codes erreurs 4XX"),
         {
             QStringLiteral("400 La syntaxe de la requête est erronée"),
             QStringLiteral("401 Accès à la ressource refusé"),
             QStringLiteral("402 Paiement requis pour accéder à la ressource (non utilisé)"),
             QStringLiteral("403 Refus de traitement de la requête"),
             QStringLiteral("405 Méthode de requête non autorisée"),
             QStringLiteral("406 Toutes les réponses possibles seront refusées."),
             QStringLiteral("407 Accès à la ressource autorisé par identification avec le proxy"),
             QStringLiteral("408 Temps d'attente d'une réponse du serveur écoulé"),
             QStringLiteral("409 La requête ne peut être traitée à l'état actuel"),
             QStringLiteral("410 La ressource est indisponible et aucune adresse de redirection n'est connue"),
             QStringLiteral("411 La longueur de la requête n'a pas été précisée"),
             QStringLiteral("412 Préconditions envoyées par la requête non-vérifiées"),
             QStringLiteral("413 Traitement abandonné dû à une requête trop importante"),
             QStringLiteral("414 URL trop longue"),
             QStringLiteral("415 Format de requête non-supportée pour une méthode et une ressource données"),
             QStringLiteral("416 Champs d'en-tête de requête 'range' incorrect."),
             QStringLiteral("417 Comportement attendu et défini dans l'en-tête de la requête insatisfaisable"),
             QStringLiteral("422 L'entité fourni avec la requête est incompréhensible ou incomplet."),
             QStringLiteral("423 L'opération ne peut avoir lieu car la ressource est verrouillée."),
             QStringLiteral("424 Une méthode de la transaction a échoué."),
             QString(),
         }},
        {QStringLiteral("Codes erreurs 5XX"),
         {
             QStringLiteral("500 Erreur interne du serveur"),
             QStringLiteral("501 Fonctionnalité réclamée non supportée par le serveur"),
             QStringLiteral("502 Mauvaise réponse envoyée à un serveur intermédiaire par un autre serveur."),
             QStringLiteral("503 Service indisponible"),
             QStringLiteral("504 Temps d'attente d'une réponse d'un serveur à un serveur intermédiaire écoulé"),
             QStringLiteral("505 Version HTTP non gérée par le serveur"),
             QStringLiteral("507 Espace insuffisant pour modifier les propriétés ou construire la collection"),
             QStringLiteral("509 Code non officiel utilisé par de nombreux serveurs pour indiquer un dépassement de quota."),
             QString(),
         }},
        {QStringLiteral("Fichiers liens erreurs"),
         {
             QStringLiteral("Cette erreur se produit lorsque le nom d'un fichier lien contient des caractères"),
             QStringLiteral("qui ne sont pas compris par votre système d'exploitation, car vous n'avec pas"),
             QStringLiteral("activé le code langue correspondant."),
             QString(),
             QStringLiteral("Par exemple :"),
             QStringLiteral("Si le lien en question provient d'un site japonais et que vous n'avez pas"),
             QStringLiteral("activé le code langue Japonais, lorsque vous l'ajouter à vos favoris,"),
             QStringLiteral("le nom de fichier deviendra illisible."),
             QString(),
             QString(),
         }},
    };
    return tables[static_cast<int>(which)];
}

} // namespace

QStringList helpLines(HelpTable table)
{
    return entry(table).rows;
}

QString helpTitle(HelpTable table)
{
    return entry(table).title;
}

QString helpText(HelpTable table)
{
    QString text;
    for (const QString& row : helpLines(table)) text += row + QLatin1Char('\n');
    return text;
}

} // namespace signetrix::dialogs
