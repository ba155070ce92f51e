#pragma once
// The account's logic without widgets: which addresses the account accepts,
// the fields each request of the registration form sets, and how the answer
// pages are read. The window drives the hidden browser with these.
#include <QList>
#include <QPair>
#include <QString>

#include <optional>

namespace signetrix::backup {

// An address the account takes: something before the first "@", a domain of
// at least four characters with a full stop neither first nor among its last
// two, only ASCII letters, digits, "-", "." and "_", and never "..".
bool IsValidEmail(const QString& text);

// What the hidden browser is doing, kept in its tag. A request state loads the
// registration page; its answer state judges the next document.
enum AccountRequestState {
    AddAnswer = 0,
    AddRequest = 1,
    UpdateAnswer = 2,
    UpdateRequest = 3,
    ValidateAnswer = 4,
    ValidateRequest = 5,
};
// Documents are ignored (no request under way, or one given up).
inline constexpr int kAccountRequestIdle = -1;

enum class AccountAction { Add, Validate, Update };
QString AccountActionWord(AccountAction action); // "ADD", "VAL", "UPDATE"

struct AccountCredentials {
    QString email;           // edEmail
    QString passwordLetters; // edPasswordCrypt
    QString savedEmail;      // the old ones of an UPDATE
    QString savedPasswordLetters;
};

// The form fields a request sets, in the order they are set.
QList<QPair<QString, QString>> AccountFormFields(AccountAction action, const AccountCredentials& credentials);

// The answer page's body text without the blanks and control characters
// around it.
QString AccountAnswerText(const QString& bodyText);

// The account id a VAL answer carries: the (trimmed) text read as a decimal
// real number (optional sign, digits, optional "." and digits, optional
// exponent, nothing else), truncated towards zero and written in decimal.
// Empty when the text is not such a number.
std::optional<QString> ReadAccountId(const QString& answerText);

// The registration page on the download host.
QString RegistrationPageUrl();

} // namespace signetrix::backup
