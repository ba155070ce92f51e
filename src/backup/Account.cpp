#include "backup/Account.h"

#include "net/Endpoints.h"
#include "net/Hosts.h"

namespace signetrix::backup {
namespace {

namespace ep = net::endpoints;

bool IsAddressCharacter(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9') || u == u'-' ||
           u == u'.' || u == u'_';
}

bool IsDigit(QChar c) { return c.unicode() >= u'0' && c.unicode() <= u'9'; }

bool IsTrimmed(QChar c) { return c.unicode() <= 0x20 || c.isSpace() || c.category() == QChar::Other_Control; }

// The longest id text we write: beyond it the number is no id, and a huge
// exponent must not make a huge text.
constexpr qsizetype kMaxIdDigits = 308;

} // namespace

bool IsValidEmail(const QString& text)
{
    const qsizetype at = text.indexOf(QLatin1Char('@'));
    if (at < 0 || text.contains(QLatin1String(".."))) return false;
    const QString local = text.left(at);
    const QString domain = text.mid(at + 1);
    if (local.isEmpty() || domain.size() < 4) return false;
    const qsizetype p = domain.indexOf(QLatin1Char('.')) + 1; // 1-based, 0 when none
    if (p < 2 || p > domain.size() - 2) return false;
    for (QChar c : local)
        if (!IsAddressCharacter(c)) return false;
    for (QChar c : domain)
        if (!IsAddressCharacter(c)) return false;
    return true;
}

QString AccountActionWord(AccountAction action)
{
    switch (action) {
    case AccountAction::Add: return QString::fromLatin1(ep::kActionAdd);
    case AccountAction::Validate: return QString::fromLatin1(ep::kActionValidate);
    case AccountAction::Update: break;
    }
    return QString::fromLatin1(ep::kActionUpdate);
}

QList<QPair<QString, QString>> AccountFormFields(AccountAction action, const AccountCredentials& c)
{
    const auto name = [](const char* field) { return QString::fromLatin1(field); };
    QList<QPair<QString, QString>> fields{{name(ep::kFieldReferer), name(ep::kRefererProgram)}};
    if (action == AccountAction::Update) {
        fields.append({name(ep::kFieldEmail), c.savedEmail});
        fields.append({name(ep::kFieldPassword), c.savedPasswordLetters});
        fields.append({name(ep::kFieldEmailNew), c.email});
        fields.append({name(ep::kFieldPasswordNew), c.passwordLetters});
    } else {
        fields.append({name(ep::kFieldEmail), c.email});
        fields.append({name(ep::kFieldPassword), c.passwordLetters});
    }
    fields.append({name(ep::kFieldAction), AccountActionWord(action)});
    return fields;
}

QString AccountAnswerText(const QString& bodyText)
{
    qsizetype begin = 0;
    qsizetype end = bodyText.size();
    while (begin < end && IsTrimmed(bodyText.at(begin))) ++begin;
    while (end > begin && IsTrimmed(bodyText.at(end - 1))) --end;
    return bodyText.mid(begin, end - begin);
}

std::optional<QString> ReadAccountId(const QString& answerText)
{
    const QString text = AccountAnswerText(answerText);
    qsizetype i = 0;
    const qsizetype n = text.size();
    bool negative = false;
    if (i < n && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    QString digits; // the mantissa's digits, integer part first
    while (i < n && IsDigit(text.at(i))) digits.append(text.at(i++));
    qsizetype pointAt = digits.size();
    if (pointAt == 0) return std::nullopt;
    if (i < n && text.at(i) == QLatin1Char('.')) {
        ++i;
        const qsizetype fractionStart = i;
        while (i < n && IsDigit(text.at(i))) digits.append(text.at(i++));
        if (i == fractionStart) return std::nullopt;
    }
    if (i < n && (text.at(i) == QLatin1Char('e') || text.at(i) == QLatin1Char('E'))) {
        ++i;
        bool exponentNegative = false;
        if (i < n && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))) {
            exponentNegative = text.at(i) == QLatin1Char('-');
            ++i;
        }
        const qsizetype exponentStart = i;
        long long exponent = 0;
        while (i < n && IsDigit(text.at(i))) {
            // Saturated: any exponent this large is out of range either way.
            exponent = qMin<long long>(exponent * 10 + (text.at(i).unicode() - u'0'), 1'000'000);
            ++i;
        }
        if (i == exponentStart) return std::nullopt;
        pointAt += exponentNegative ? -exponent : exponent;
    }
    if (i != n) return std::nullopt;

    // Truncation towards zero keeps the digits before the decimal point.
    qsizetype leadingZeros = 0;
    while (leadingZeros < digits.size() && digits.at(leadingZeros) == QLatin1Char('0')) ++leadingZeros;
    digits = digits.mid(leadingZeros);
    pointAt -= leadingZeros;
    if (digits.isEmpty() || pointAt <= 0) return QStringLiteral("0");
    if (pointAt > kMaxIdDigits) return std::nullopt;
    QString whole = digits.left(pointAt);
    if (pointAt > digits.size()) whole.append(QString(pointAt - digits.size(), QLatin1Char('0')));
    return negative ? QLatin1Char('-') + whole : whole;
}

QString RegistrationPageUrl()
{
    return net::DownloadUrl(QString::fromLatin1(ep::kRegistrationPagePath));
}

} // namespace signetrix::backup
