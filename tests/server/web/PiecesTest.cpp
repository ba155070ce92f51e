// The server's pieces on their own, where a whole server cannot show the
// fault: the address rule against the program's own edge cases, the form
// decoder, the rate limiter's window, the account store's id bookkeeping and
// its write-ahead log, and the mail's form.
#include "core/AccountStore.h"
#include "core/FormDecoding.h"
#include "core/Mail.h"
#include "core/RateLimiter.h"
#include "core/Registration.h"
#include "core/Secrets.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimeZone>
#include <gtest/gtest.h>

#include <deque>

namespace signetrix::server {
namespace {

TEST(AddressRule, TakesWhatTheProgramSendsAndNothingThatBreaksAMail)
{
    struct Case {
        const char* address;
        bool accepted;
    };
    const Case cases[] = {
        {"a@b.cd", true},
        {"prenom.nom@sous.domaine.fr", true},
        {"x_y-z@exemple-fr.org", true},
        {"liste+tri@exemple.fr", true},
        {"a@b.cd.", true}, // the program takes a final dot
        {"", false},
        {"@b.cd", false},
        {"a@", false},
        {"a@bcd", false},
        {"a..b@c.de", false},
        {"a@b..de", false},
        {"a b@c.de", false},
        {"a@b@c.de", false},
        {"a@.b.cd", false},
        {"a'b@c.de", false},
        {"a;b@c.de", false},
        {"a@b.cd\r\nBcc: x@y.fr", false},
        {"é@exemple.fr", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        EXPECT_EQ(IsAcceptableEmail(QString::fromUtf8(c.address)), c.accepted);
    }
    EXPECT_TRUE(IsAcceptableEmail(QString(64, 'a') + QStringLiteral("@") + QString(63, 'b') + QStringLiteral(".fr")));
    EXPECT_FALSE(IsAcceptableEmail(QString(65, 'a') + QStringLiteral("@b.fr")));
}

TEST(FormDecoder, DecodesEscapesAndRefusesAnythingUnexpected)
{
    const QHash<QString, int> limits = {{QStringLiteral("email"), 10}, {QStringLiteral("passworduser"), 4}};
    DecodedForm form = DecodeForm("email=a%40b+c&passworduser=", limits);
    ASSERT_TRUE(form.ok) << form.refusal.toStdString();
    EXPECT_EQ(form.fields.value(QStringLiteral("email")), QStringLiteral("a@b c"));
    EXPECT_TRUE(form.fields.contains(QStringLiteral("passworduser")));
    EXPECT_EQ(form.fields.value(QStringLiteral("passworduser")), QString());
    EXPECT_TRUE(DecodeForm("email=%C3%A9t%C3%A9\r\n", limits).ok); // a trailing line break is tolerated

    struct Case {
        const char* name;
        QByteArray body;
        bool tooLong;
    };
    const Case refused[] = {
        {"empty", "", false},
        {"no equals sign", "email", false},
        {"empty name", "=x", false},
        {"escape cut short", "email=%4", false},
        {"escape not hex", "email=%G0", false},
        {"overlong UTF-8", "email=%C0%AF", false},
        {"unknown field", "other=1", false},
        {"field twice", "email=a&email=b", false},
        {"tab", "email=a%09b", false},
        {"over the limit in characters", "passworduser=%C3%A9%C3%A9%C3%A9%C3%A9%C3%A9", true},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.name);
        const DecodedForm result = DecodeForm(c.body, limits);
        EXPECT_FALSE(result.ok);
        EXPECT_FALSE(result.refusal.isEmpty());
        EXPECT_EQ(result.tooLong, c.tooLong);
        EXPECT_TRUE(result.fields.isEmpty());
    }
    // Four two-byte letters are four characters: within the limit.
    EXPECT_TRUE(DecodeForm("passworduser=%C3%A9%C3%A9%C3%A9%C3%A9", limits).ok);
}

TEST(RateLimiterWindow, RefusesOverTheLimitAndLetsInAgainOnceTheWindowHasPassed)
{
    long long now = 1000;
    RateLimiter limiter(2, 60000, [&] { return now; });
    EXPECT_TRUE(limiter.allow(QStringLiteral("a")));
    now += 10000;
    EXPECT_TRUE(limiter.allow(QStringLiteral("a")));
    EXPECT_FALSE(limiter.allow(QStringLiteral("a")));
    EXPECT_TRUE(limiter.allow(QStringLiteral("b"))); // keys are apart
    // A refused try does not push the window on: at 61 s the first event left.
    now = 1000 + 60000;
    EXPECT_TRUE(limiter.allow(QStringLiteral("a")));
    EXPECT_FALSE(limiter.allow(QStringLiteral("a")));
    // Idle keys are forgotten.
    now += 120000;
    limiter.allow(QStringLiteral("c"));
    EXPECT_EQ(limiter.trackedKeys(), 1);
    RateLimiter open(0, 60000, [&] { return now; });
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(open.allow(QStringLiteral("a")));
}

TEST(AccountIds, FifteenDigitsFirstNotZeroAndSpreadOut)
{
    QSet<long long> seen;
    int leading[10] = {};
    for (int i = 0; i < 2000; ++i) {
        const long long id = NewAccountId();
        ASSERT_GE(id, kAccountIdMin);
        ASSERT_LE(id, kAccountIdMax);
        ASSERT_EQ(QString::number(id).size(), 15);
        seen.insert(id);
        ++leading[id / kAccountIdMin];
    }
    EXPECT_EQ(seen.size(), 2000);
    for (int digit = 1; digit <= 9; ++digit) EXPECT_GT(leading[digit], 100) << digit;
}

class SqlStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        settings.name = dir.filePath(QStringLiteral("accounts.sqlite"));
        store = std::make_unique<SqlAccountStore>(settings);
        QString error;
        ASSERT_TRUE(store->open(&error)) << error.toStdString();
    }
    // Ids handed out in the given order.
    std::function<long long()> ids(std::initializer_list<long long> values)
    {
        queue.assign(values);
        return [this] {
            const long long id = queue.front();
            queue.pop_front();
            return id;
        };
    }

    QTemporaryDir dir;
    DatabaseSettings settings;
    std::unique_ptr<SqlAccountStore> store;
    std::deque<long long> queue;
};

TEST_F(SqlStoreTest, AnIdIsNeverIssuedTwiceEvenAfterItsAccountIsGone)
{
    constexpr long long kFirst = 111111111111111, kSecond = 222222222222222;
    ASSERT_EQ(store->putPending(QStringLiteral("a@b.fr"), "hash-a", "token-a", 100), StoreStatus::Ok);
    Account confirmed;
    ASSERT_EQ(store->confirm("token-a", 200, 1000, ids({kFirst}), &confirmed), StoreStatus::Ok);
    EXPECT_EQ(confirmed.accountId, kFirst);

    // The account leaves the table (by hand); its id stays spent.
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("by-hand"));
        db.setDatabaseName(settings.name);
        ASSERT_TRUE(db.open());
        QSqlQuery query(db);
        ASSERT_TRUE(query.exec(QStringLiteral("DELETE FROM signetrix_accounts")));
        QSqlQuery mode(db);
        ASSERT_TRUE(mode.exec(QStringLiteral("PRAGMA journal_mode")) && mode.next());
        EXPECT_EQ(mode.value(0).toString(), QStringLiteral("wal"));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("by-hand"));

    ASSERT_EQ(store->putPending(QStringLiteral("c@d.fr"), "hash-c", "token-c", 300), StoreStatus::Ok);
    ASSERT_EQ(store->confirm("token-c", 400, 1000, ids({kFirst, kFirst, kSecond}), &confirmed), StoreStatus::Ok);
    EXPECT_EQ(confirmed.accountId, kSecond);
    EXPECT_TRUE(queue.empty());
}

TEST_F(SqlStoreTest, PendingConfirmedExpiredAndTakenAddresses)
{
    ASSERT_EQ(store->putPending(QStringLiteral("Moi@B.fr"), "h1", "t1", 100), StoreStatus::Ok);
    // A second registration of the pending address replaces letters and token.
    ASSERT_EQ(store->putPending(QStringLiteral("moi@b.fr"), "h2", "t2", 150), StoreStatus::Ok);
    Account account;
    EXPECT_EQ(store->confirm("t1", 160, 1000, ids({5}), &account), StoreStatus::NotFound);
    EXPECT_EQ(store->confirm("t2", 150 + 1001, 1000, ids({5}), &account), StoreStatus::Expired);
    ASSERT_EQ(store->confirm("t2", 170, 1000, ids({123456789012345}), &account), StoreStatus::Ok);
    EXPECT_EQ(account.passwordHash, "h2");
    EXPECT_EQ(store->putPending(QStringLiteral("MOI@b.fr"), "h3", "t3", 180), StoreStatus::Conflict);

    ASSERT_EQ(store->putPending(QStringLiteral("autre@b.fr"), "h4", "t4", 190), StoreStatus::Ok);
    EXPECT_EQ(store->changeCredentials(QStringLiteral("moi@b.fr"), QStringLiteral("autre@b.fr"), "h5"),
              StoreStatus::Conflict);
    EXPECT_EQ(store->changeCredentials(QStringLiteral("autre@b.fr"), QStringLiteral("x@b.fr"), "h5"),
              StoreStatus::NotFound); // pending accounts cannot change
    ASSERT_EQ(store->changeCredentials(QStringLiteral("moi@b.fr"), QStringLiteral("neuf@b.fr"), "h6"), StoreStatus::Ok);
    StoreStatus status;
    const std::optional<Account> moved = store->find(QStringLiteral("NEUF@b.fr"), &status);
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->accountId, 123456789012345);
    EXPECT_EQ(moved->passwordHash, "h6");
    EXPECT_FALSE(store->find(QStringLiteral("moi@b.fr"), &status));
    EXPECT_EQ(status, StoreStatus::NotFound);

    // Expired pending registrations go; confirmed accounts stay.
    EXPECT_EQ(store->purgePending(200), 1);
    EXPECT_FALSE(store->find(QStringLiteral("autre@b.fr"), &status));
    EXPECT_TRUE(store->find(QStringLiteral("neuf@b.fr"), &status));
}

TEST(PasswordHashes, SaltedAndVerified)
{
    const PasswordHasher hasher(PasswordHasher::Minimum());
    const QByteArray first = hasher.hash("abcd");
    const QByteArray second = hasher.hash("abcd");
    ASSERT_FALSE(first.isEmpty());
    EXPECT_NE(first, second); // salted
    EXPECT_FALSE(first.contains("abcd"));
    EXPECT_TRUE(hasher.verify(first, "abcd"));
    EXPECT_TRUE(hasher.verify(second, "abcd"));
    EXPECT_FALSE(hasher.verify(first, "abce"));
    EXPECT_FALSE(hasher.verify(first, ""));
    EXPECT_FALSE(hasher.verify("", "abcd"));
    EXPECT_FALSE(hasher.verify("not a hash", "abcd"));
}

TEST(MailForm, HeadersAndBodyWithCrlfAndEncodedNonAscii)
{
    MailMessage mail;
    mail.from = QStringLiteral("Équipe Signetrix <inscription@exemple.fr>");
    mail.to = QStringLiteral("moi@exemple.fr");
    mail.subject = QStringLiteral("Confirmez l'inscription à Signetrix");
    mail.body = QStringLiteral("Ligne une\nhttp://lien/\n");
    const QDateTime date(QDate(2026, 3, 4), QTime(5, 6, 7), QTimeZone(3600));
    const QByteArray message = ComposeMessage(mail, date, QStringLiteral("exemple.fr"));
    const QByteArray headers = message.left(message.indexOf("\r\n\r\n"));
    EXPECT_TRUE(headers.contains("From: =?UTF-8?B?" + QStringLiteral("Équipe Signetrix").toUtf8().toBase64() +
                                 "?= <inscription@exemple.fr>\r\n"))
        << headers.constData();
    EXPECT_TRUE(headers.contains("\r\nTo: moi@exemple.fr\r\n"));
    EXPECT_TRUE(headers.contains("\r\nSubject: =?UTF-8?B?"));
    EXPECT_TRUE(headers.contains("\r\nDate: Wed, 04 Mar 2026 05:06:07 +0100\r\n")) << headers.constData();
    EXPECT_TRUE(headers.contains("@exemple.fr>\r\n"));
    EXPECT_TRUE(message.endsWith("\r\n\r\nLigne une\r\nhttp://lien/\r\n\r\n"));
    for (char c : headers) ASSERT_LT(uchar(c), 0x80);
    EXPECT_EQ(MailboxAddress(mail.from), QStringLiteral("inscription@exemple.fr"));
    EXPECT_EQ(MailboxAddress(QStringLiteral("  seul@exemple.fr ")), QStringLiteral("seul@exemple.fr"));
}

} // namespace
} // namespace signetrix::server
