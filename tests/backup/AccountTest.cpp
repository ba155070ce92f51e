// The account's logic: which addresses enable "Inscription", what each request
// puts into the form, and how a VAL answer becomes an account id.
#include "backup/Account.h"
#include "net/Hosts.h"

#include <gtest/gtest.h>

namespace signetrix::backup {
namespace {

TEST(AccountEmail, AcceptsExactlyTheAddressesOfTheFiveSteps)
{
    struct Case {
        const char* text;
        bool valid;
    };
    const Case cases[] = {
        {"a@b.cd", true},                   // shortest: one letter, one letter, a full stop, two letters
        {"jean.dupont@exemple.fr", true},
        {"J_D-1@sous.domaine.example", true},
        {"a@b.c.d", true},                  // only the first full stop is placed
        {"a@bc.d", false},                  // the first full stop is followed by one character
        {"a@b.c", false},                   // domain of three characters
        {"a@bcd", false},                   // no full stop in the domain
        {"a@.bcd", false},                  // full stop first
        {"@b.cd", false},                   // nothing before the at sign
        {"a..b@c.de", false},               // two full stops in a row, before the at sign
        {"a@b..cd", false},                 // and after it
        {"a b@c.de", false},                // a space
        {"ab@c.de ", false},
        {"a@b@c.de", false},                // a second at sign
        {"abc.de", false},                  // no at sign
        {"", false},
        {"é@b.cd", false},                  // letters are the 26 ASCII ones
        {"a@b.cd+", false},
        {"a+tag@b.cd", false},
        {".a@b.cd", true},                  // the steps do not forbid a leading full stop
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(IsValidEmail(QString::fromUtf8(c.text)), c.valid);
    }
}

TEST(AccountForm, EachActionSetsItsFieldsInOrderWithTheEncipheredLetters)
{
    const AccountCredentials c{"neuf@exemple.fr", "kfjepaob", "ancien@exemple.fr", "mmnnoopp"};
    using Fields = QList<QPair<QString, QString>>;
    EXPECT_EQ(AccountFormFields(AccountAction::Add, c),
              (Fields{{"kelreferer", "Signetrix"}, {"email", "neuf@exemple.fr"}, {"passworduser", "kfjepaob"},
                      {"actiontype", "ADD"}}));
    EXPECT_EQ(AccountFormFields(AccountAction::Validate, c),
              (Fields{{"kelreferer", "Signetrix"}, {"email", "neuf@exemple.fr"}, {"passworduser", "kfjepaob"},
                      {"actiontype", "VAL"}}));
    EXPECT_EQ(AccountFormFields(AccountAction::Update, c),
              (Fields{{"kelreferer", "Signetrix"},
                      {"email", "ancien@exemple.fr"},
                      {"passworduser", "mmnnoopp"},
                      {"emailNew", "neuf@exemple.fr"},
                      {"passworduserNew", "kfjepaob"},
                      {"actiontype", "UPDATE"}}));
}

TEST(AccountAnswer, TheIdIsTheTrimmedTextReadAsADecimalRealAndTruncated)
{
    struct Case {
        const char* text;
        std::optional<QString> id;
    };
    const Case cases[] = {
        {"12345", "12345"},
        {"  12345 \r\n", "12345"},
        {"\t\x01" "12345\x7f", "12345"},    // control characters trimmed too
        {"\xc2\xa0" "42\xc2\xa0", "42"},     // a no-break space from the rendered page
        {"12345.9", "12345"},
        {"-12345.9", "-12345"},             // towards zero
        {"-0.5", "0"},
        {"+7", "7"},
        {"007", "7"},
        {"123456789012345", "123456789012345"},
        {"123456789012345678901", "123456789012345678901"}, // exact beyond a double's precision
        {"1.5e3", "1500"},
        {"15E-1", "1"},
        {"1e+2", "100"},
        {"0.000", "0"},
        {"abc12345", std::nullopt},
        {"12345abc", std::nullopt},
        {"12 345", std::nullopt},
        {"12,5", std::nullopt},
        {"", std::nullopt},
        {"-", std::nullopt},
        {".5", std::nullopt},
        {"5.", std::nullopt},
        {"1e", std::nullopt},
        {"1e400", std::nullopt},            // no id is that large
        {"1e99999999999999999999", std::nullopt},
        {"Adresse e-mail ou mot de passe incorrect.", std::nullopt},
        {"0x1F", std::nullopt},
        {"١٢٣", std::nullopt},              // digits are the ASCII ones
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ReadAccountId(QString::fromUtf8(c.text)), c.id);
    }
}

TEST(AccountAnswer, TrimmingKeepsTheInnerText)
{
    EXPECT_EQ(AccountAnswerText(QStringLiteral("\n  Validation en cours : un e-mail\n\n")),
              QStringLiteral("Validation en cours : un e-mail"));
    EXPECT_EQ(AccountAnswerText(QStringLiteral(" \t ")), QString());
}

TEST(AccountHosts, TheRegistrationPageIsOnTheDownloadHost)
{
    EXPECT_EQ(RegistrationPageUrl(), QStringLiteral(SIGNETRIX_TEST_DOWNLOAD_HOST) +
                                         QStringLiteral("/download/inscriptiongeneriqueSignetrix.htm"));
    net::SetDownloadHostForTesting(QStringLiteral("http://127.0.0.1:4321/"));
    EXPECT_EQ(RegistrationPageUrl(), QStringLiteral("http://127.0.0.1:4321/download/inscriptiongeneriqueSignetrix.htm"));
    net::SetDownloadHostForTesting(QString());
}

} // namespace
} // namespace signetrix::backup
