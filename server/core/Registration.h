#pragma once
// The registration form's target and the confirmation link: what ADD, VAL and
// UPDATE do to the accounts and what the answer page says. The words the
// program looks for ("Validation en cours", the id alone, "UpDate ok") appear
// only in accepted answers; every refusal is a French sentence that is not a
// number and holds neither marker.
//
// Works on the store, a mailer and a hasher it is given; a store or mailer
// failure answers a server-error page, never an exception.
#include "core/AccountStore.h"
#include "core/Mail.h"
#include "core/RateLimiter.h"
#include "core/Secrets.h"

#include <QHash>
#include <QString>

#include <optional>

namespace signetrix::server {

struct Answer {
    int status = 200;
    QString title;
    QString text;      // paragraphs separated by "\n"
    bool bare = false; // the page's whole text is `text` (the account id)
};

struct RegistrationConfig {
    QString confirmationUrl; // absolute; the link is this + "?jeton=" + token
    QString mailFrom = QStringLiteral("Signetrix <ne-pas-repondre@localhost>");
    long long linkMaxAgeSecs = 7LL * 24 * 3600;
    int mailsPerAddressPerHour = 5;
};

// The form's fields and the longest text each may hold.
const QHash<QString, int>& FormFieldLimits();

// The addresses the server takes: ASCII letters, digits, "._+-" before the
// "@", a domain of dot-separated names; at most 254 characters.
bool IsAcceptableEmail(const QString& email);

class Registration {
public:
    Registration(AccountStore& store, Mailer& mailer, const PasswordHasher& hasher, RegistrationConfig config,
                 RateLimiter::Clock clock = {});

    // A decoded form post (see FormFieldLimits); `client` names the sender in
    // the log.
    Answer handle(const QHash<QString, QString>& fields, const QString& client);
    // The confirmation link's token.
    Answer confirm(const QByteArray& token);
    void setConfirmationUrl(const QString& url) { m_config.confirmationUrl = url; }
    // Drops registrations whose link has expired; returns how many.
    int purgeExpired();

private:
    Answer add(const QString& email, const QString& letters);
    Answer validate(const QString& email, const QString& letters);
    Answer update(const QString& email, const QString& letters, const QString& newEmail, const QString& newLetters);
    // The refusal page when `email` and `letters` do not name a confirmed
    // account; otherwise fills `account`.
    std::optional<Answer> checkCredentials(const QString& email, const QString& letters, Account* account);
    long long nowSecs() const;

    AccountStore& m_store;
    Mailer& m_mailer;
    const PasswordHasher& m_hasher;
    RegistrationConfig m_config;
    RateLimiter::Clock m_clock;
    RateLimiter m_mailsPerAddress;
};

} // namespace signetrix::server
