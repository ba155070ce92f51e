#include "core/Registration.h"

#include "core/Log.h"
#include "net/Endpoints.h"

#include <QDateTime>
#include <QStringList>
#include <QUrl>

namespace signetrix::server {
namespace {

namespace ep = signetrix::net::endpoints;

constexpr int kMaxEmail = 254;
constexpr int kMaxLetters = 256;
constexpr int kMaxReferer = 64;
constexpr int kMaxAction = 16;
constexpr long long kHourMs = 3600LL * 1000;

Answer Page(int status, const QString& title, const QString& text)
{
    return Answer{status, title, text, false};
}

Answer ServerError()
{
    return Page(500, QStringLiteral("Erreur du serveur"),
                QStringLiteral("Le serveur n'a pas pu traiter la demande. Réessayez plus tard."));
}

Answer BadAddress(const QString& field)
{
    return Page(400, QStringLiteral("Adresse refusée"),
                QStringLiteral("L'adresse e-mail du champ « %1 » n'est pas valide.").arg(field));
}

Answer WrongCredentials()
{
    return Page(403, QStringLiteral("Identification refusée"),
                QStringLiteral("Adresse e-mail ou mot de passe incorrect."));
}

Answer NotConfirmed()
{
    return Page(403, QStringLiteral("Inscription non confirmée"),
                QStringLiteral("Votre inscription n'est pas encore confirmée : cliquez d'abord sur le lien de "
                               "l'e-mail de confirmation."));
}

bool IsDomainLabel(const QString& label)
{
    if (label.isEmpty() || label.size() > 63) return false;
    for (QChar c : label)
        if (!(c.isLetterOrNumber() && c.unicode() < 0x80) && c != QLatin1Char('-') && c != QLatin1Char('_'))
            return false;
    return true;
}

} // namespace

const QHash<QString, int>& FormFieldLimits()
{
    static const QHash<QString, int> limits = {
        {QString::fromLatin1(ep::kFieldReferer), kMaxReferer},
        {QString::fromLatin1(ep::kFieldEmail), kMaxEmail},
        {QString::fromLatin1(ep::kFieldPassword), kMaxLetters},
        {QString::fromLatin1(ep::kFieldEmailNew), kMaxEmail},
        {QString::fromLatin1(ep::kFieldPasswordNew), kMaxLetters},
        {QString::fromLatin1(ep::kFieldAction), kMaxAction},
    };
    return limits;
}

bool IsAcceptableEmail(const QString& email)
{
    if (email.size() > kMaxEmail || email.count(QLatin1Char('@')) != 1 || email.contains(QLatin1String("..")))
        return false;
    const qsizetype at = email.indexOf(QLatin1Char('@'));
    const QString local = email.left(at);
    QString domain = email.mid(at + 1);
    if (local.isEmpty() || local.size() > 64) return false;
    for (QChar c : local)
        if (!(c.isLetterOrNumber() && c.unicode() < 0x80) && !QStringLiteral("._+-").contains(c)) return false;
    // A final dot (an absolute domain name) is taken as the program takes it.
    if (domain.endsWith(QLatin1Char('.'))) domain.chop(1);
    const QStringList labels = domain.split(QLatin1Char('.'));
    if (labels.size() < 2) return false;
    for (const QString& label : labels)
        if (!IsDomainLabel(label)) return false;
    return true;
}

Registration::Registration(AccountStore& store, Mailer& mailer, const PasswordHasher& hasher,
                           RegistrationConfig config, RateLimiter::Clock clock)
    : m_store(store),
      m_mailer(mailer),
      m_hasher(hasher),
      m_config(std::move(config)),
      m_clock(clock ? clock : RateLimiter::Clock([] { return QDateTime::currentMSecsSinceEpoch(); })),
      m_mailsPerAddress(m_config.mailsPerAddressPerHour, kHourMs, m_clock)
{
}

long long Registration::nowSecs() const
{
    return m_clock() / 1000;
}

Answer Registration::handle(const QHash<QString, QString>& fields, const QString& client)
{
    const QString action = fields.value(QString::fromLatin1(ep::kFieldAction));
    const auto field = [&](const char* name) { return fields.value(QString::fromLatin1(name)); };
    const auto missing = [&](std::initializer_list<const char*> names) -> QString {
        for (const char* name : names)
            if (!fields.contains(QString::fromLatin1(name))) return QString::fromLatin1(name);
        return QString();
    };
    QString absent;
    if (action == QLatin1String(ep::kActionAdd) || action == QLatin1String(ep::kActionValidate))
        absent = missing({ep::kFieldEmail, ep::kFieldPassword});
    else if (action == QLatin1String(ep::kActionUpdate))
        absent = missing({ep::kFieldEmail, ep::kFieldPassword, ep::kFieldEmailNew, ep::kFieldPasswordNew});
    else if (!fields.contains(QString::fromLatin1(ep::kFieldAction)))
        absent = QString::fromLatin1(ep::kFieldAction);
    else
        return Page(400, QStringLiteral("Action inconnue"),
                    QStringLiteral("L'action demandée n'existe pas : ADD, VAL ou UPDATE est attendu."));
    if (!absent.isEmpty())
        return Page(400, QStringLiteral("Demande incomplète"),
                    QStringLiteral("Le champ « %1 » manque dans le formulaire.").arg(absent));

    LogLine(QStringLiteral("form %1 from %2 (%3)").arg(action, client, field(ep::kFieldReferer).left(kMaxReferer)));
    if (action == QLatin1String(ep::kActionAdd)) return add(field(ep::kFieldEmail), field(ep::kFieldPassword));
    if (action == QLatin1String(ep::kActionValidate))
        return validate(field(ep::kFieldEmail), field(ep::kFieldPassword));
    return update(field(ep::kFieldEmail), field(ep::kFieldPassword), field(ep::kFieldEmailNew),
                  field(ep::kFieldPasswordNew));
}

Answer Registration::add(const QString& email, const QString& letters)
{
    if (!IsAcceptableEmail(email)) return BadAddress(QString::fromLatin1(ep::kFieldEmail));
    StoreStatus status;
    const std::optional<Account> existing = m_store.find(email, &status);
    if (status == StoreStatus::Failed) return ServerError();
    if (existing && existing->confirmed)
        return Page(409, QStringLiteral("Compte déjà ouvert"),
                    QStringLiteral("Un compte confirmé existe déjà pour cette adresse e-mail. Dans Signetrix, "
                                   "cliquez sur « Validation » avec votre mot de passe."));
    // Counted per recipient as well as per sender, so that many senders
    // together cannot bury one mailbox either.
    if (!m_mailsPerAddress.allow(EmailKey(email)))
        return Page(429, QStringLiteral("Trop d'e-mails"),
                    QStringLiteral("Trop d'e-mails de confirmation ont déjà été envoyés à cette adresse. "
                                   "Réessayez dans une heure."));

    const QByteArray hash = m_hasher.hash(letters.toUtf8());
    if (hash.isEmpty()) return ServerError();
    const QByteArray token = NewConfirmationToken();
    status = m_store.putPending(email, hash, TokenDigest(token), nowSecs());
    if (status == StoreStatus::Conflict)
        return Page(409, QStringLiteral("Compte déjà ouvert"),
                    QStringLiteral("Un compte confirmé existe déjà pour cette adresse e-mail."));
    if (status != StoreStatus::Ok) return ServerError();

    const QString link = m_config.confirmationUrl + QStringLiteral("?jeton=") + QString::fromLatin1(token);
    MailMessage mail;
    mail.from = m_config.mailFrom;
    mail.to = email;
    mail.subject = QStringLiteral("Signetrix : confirmez votre inscription");
    mail.body = QStringLiteral("Bonjour,\n\n"
                               "Vous avez demandé l'ouverture d'un compte de sauvegarde Signetrix pour cette adresse.\n"
                               "Pour la confirmer, ouvrez ce lien :\n\n%1\n\n"
                               "Revenez ensuite dans Signetrix et cliquez sur « Validation ».\n"
                               "Ce lien est valable %2 jours. Si vous n'êtes pas à l'origine de cette demande, "
                               "ignorez simplement cet e-mail.\n")
                    .arg(link)
                    .arg(m_config.linkMaxAgeSecs / (24 * 3600));
    LogLine(QStringLiteral("confirmation link for %1: %2").arg(email, link));
    QString error;
    if (!m_mailer.send(mail, &error)) {
        LogLine(QStringLiteral("confirmation mail to %1 not sent: %2").arg(email, error));
        return Page(500, QStringLiteral("Envoi impossible"),
                    QStringLiteral("L'e-mail de confirmation n'a pas pu être envoyé. Réessayez plus tard."));
    }
    const QString again = existing ? QStringLiteral(" Seul le lien de ce dernier e-mail est valable.") : QString();
    return Page(200, QStringLiteral("Inscription enregistrée"),
                QStringLiteral("%1 : un e-mail de confirmation vient d'être envoyé à %2.%3\n"
                               "Cliquez sur le lien qu'il contient, puis sur « Validation » dans Signetrix.")
                    .arg(QString::fromLatin1(ep::kAddAcceptedMarker), email, again));
}

std::optional<Answer> Registration::checkCredentials(const QString& email, const QString& letters, Account* account)
{
    if (!IsAcceptableEmail(email)) return BadAddress(QString::fromLatin1(ep::kFieldEmail));
    StoreStatus status;
    const std::optional<Account> found = m_store.find(email, &status);
    if (status == StoreStatus::Failed) return ServerError();
    if (!found) {
        // Same work as a real check, so timing does not tell which addresses exist.
        m_hasher.verifyNone(letters.toUtf8());
        return WrongCredentials();
    }
    if (!m_hasher.verify(found->passwordHash, letters.toUtf8())) return WrongCredentials();
    if (!found->confirmed) return NotConfirmed();
    *account = *found;
    return std::nullopt;
}

Answer Registration::validate(const QString& email, const QString& letters)
{
    Account account;
    if (std::optional<Answer> refusal = checkCredentials(email, letters, &account)) return *refusal;
    return Answer{200, QStringLiteral("Signetrix"), QString::number(account.accountId), true};
}

Answer Registration::update(const QString& email, const QString& letters, const QString& newEmail,
                            const QString& newLetters)
{
    if (!IsAcceptableEmail(newEmail)) return BadAddress(QString::fromLatin1(ep::kFieldEmailNew));
    Account account;
    if (std::optional<Answer> refusal = checkCredentials(email, letters, &account)) return *refusal;
    const QByteArray hash = m_hasher.hash(newLetters.toUtf8());
    if (hash.isEmpty()) return ServerError();
    const StoreStatus status = m_store.changeCredentials(email, newEmail, hash);
    if (status == StoreStatus::Conflict)
        return Page(409, QStringLiteral("Adresse déjà utilisée"),
                    QStringLiteral("La nouvelle adresse e-mail est déjà celle d'un autre compte."));
    if (status == StoreStatus::NotFound) return WrongCredentials();
    if (status != StoreStatus::Ok) return ServerError();
    LogLine(QStringLiteral("account %1: credentials changed").arg(account.accountId));
    return Page(200, QStringLiteral("Identifiants modifiés"),
                QStringLiteral("%1 : vos identifiants ont été modifiés.").arg(QString::fromLatin1(ep::kUpdateAcceptedMarker)));
}

Answer Registration::confirm(const QByteArray& token)
{
    if (!IsConfirmationTokenForm(token))
        return Page(400, QStringLiteral("Lien invalide"),
                    QStringLiteral("Ce lien de confirmation est incomplet ou mal copié."));
    Account account;
    const StoreStatus status = m_store.confirm(TokenDigest(token), nowSecs(), m_config.linkMaxAgeSecs, NewAccountId, &account);
    switch (status) {
    case StoreStatus::Ok:
        LogLine(QStringLiteral("account %1 confirmed for %2").arg(account.accountId).arg(account.email));
        return Page(200, QStringLiteral("Inscription confirmée"),
                    QStringLiteral("Votre inscription est confirmée.\n"
                                   "Retournez dans Signetrix et cliquez sur « Validation » pour utiliser votre compte."));
    case StoreStatus::NotFound:
        return Page(404, QStringLiteral("Lien inconnu"),
                    QStringLiteral("Ce lien de confirmation est inconnu, a déjà servi ou a été remplacé par un lien "
                                   "plus récent."));
    case StoreStatus::Expired:
        return Page(410, QStringLiteral("Lien périmé"),
                    QStringLiteral("Ce lien de confirmation a expiré. Inscrivez-vous de nouveau depuis Signetrix."));
    default:
        return ServerError();
    }
}

int Registration::purgeExpired()
{
    return m_store.purgePending(nowSecs() - m_config.linkMaxAgeSecs);
}

} // namespace signetrix::server
