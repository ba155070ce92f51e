// The registration road against the real server: ADD and its mail, the
// confirmation link, VAL, UPDATE, and every refusal the program must be able
// to tell from an acceptance. Answers are judged on the page text, as the
// program judges them.
#include "net/Endpoints.h"
#include "server/web/ServerProcess.h"

#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <memory>

namespace signetrix::test {
namespace {

namespace ep = net::endpoints;

constexpr char kEmail[] = "moi@exemple.fr";
constexpr char kLetters[] = "kdjfmaopbcln";

// Rate limits off, unless a test is about them.
const QStringList kNoLimits = {QStringLiteral("--form-limit"), QStringLiteral("0"), QStringLiteral("--registration-limit"),
                               QStringLiteral("0"), QStringLiteral("--mail-limit"), QStringLiteral("0")};

class AccountFlowTest : public ::testing::Test {
protected:
    void SetUp() override { start(kNoLimits); }

    void start(const QStringList& arguments)
    {
        server.reset();
        server = std::make_unique<ServerProcess>(data(), arguments);
        ASSERT_TRUE(server->ready()) << server->startError().toStdString();
    }
    QString data() const { return dir.filePath(QStringLiteral("data")); }

    HttpAnswer form(const QString& action, const QString& email, const QString& letters,
                    const QString& emailNew = QString(), const QString& lettersNew = QString())
    {
        return PostForm(server->url(kFormTargetPath()),
                        {{ep::kFieldReferer, ep::kRefererProgram},
                         {ep::kFieldEmail, email},
                         {ep::kFieldPassword, letters},
                         {ep::kFieldEmailNew, emailNew},
                         {ep::kFieldPasswordNew, lettersNew},
                         {ep::kFieldAction, action}});
    }
    static QByteArray kFormTargetPath() { return "/download/inscription"; }

    // ADD, then the link of the newest mail; returns the account id from VAL.
    QString registerAccount(const QString& email, const QString& letters)
    {
        const HttpAnswer added = form(ep::kActionAdd, email, letters);
        EXPECT_TRUE(BodyText(added.body).contains(QLatin1String(ep::kAddAcceptedMarker))) << added.body.constData();
        const QStringList mails = OutboxMails(data());
        if (mails.isEmpty()) return QString();
        const HttpAnswer confirmed = Get(ConfirmationLink(mails.last()));
        EXPECT_EQ(confirmed.status, 200) << confirmed.body.constData();
        return BodyText(form(ep::kActionValidate, email, letters).body);
    }

    QTemporaryDir dir;
    std::unique_ptr<ServerProcess> server;
};

bool IsAccountId(const QString& text)
{
    static const QRegularExpression id(QStringLiteral("^[1-9][0-9]{14}$"));
    return id.match(text).hasMatch();
}

TEST_F(AccountFlowTest, RegistrationMailConfirmationAndValidation)
{
    const HttpAnswer added = form(ep::kActionAdd, kEmail, kLetters);
    EXPECT_EQ(added.status, 200);
    EXPECT_TRUE(BodyText(added.body).contains(QLatin1String(ep::kAddAcceptedMarker))) << added.body.constData();

    // The mail: an RFC 5322 message to the address, with the link on its own line.
    const QStringList mails = OutboxMails(data());
    ASSERT_EQ(mails.size(), 1);
    const QString& mail = mails.first();
    const qsizetype headerEnd = mail.indexOf(QLatin1String("\r\n\r\n"));
    ASSERT_GT(headerEnd, 0);
    const QString headers = mail.left(headerEnd);
    for (const char* header : {"From: ", "Date: ", "Message-ID: <", "Subject: ", "MIME-Version: 1.0"}) {
        SCOPED_TRACE(header);
        EXPECT_TRUE(headers.contains(QRegularExpression(QStringLiteral("(^|\\r\\n)") +
                                                        QRegularExpression::escape(QLatin1String(header)))));
    }
    EXPECT_TRUE(headers.contains(QStringLiteral("\r\nTo: ") + QLatin1String(kEmail) + QStringLiteral("\r\n")));
    EXPECT_FALSE(mail.contains(QRegularExpression(QStringLiteral("[^\\r]\\n"))));
    const QByteArray link = ConfirmationLink(mail);
    ASSERT_FALSE(link.isEmpty()) << mail.toStdString();
    EXPECT_TRUE(link.startsWith(server->url("/")));
    // The link is also on the log, for set-ups without mail.
    EXPECT_TRUE(server->log().contains(QString::fromLatin1(link)));
    // The letters are never kept or written in clear.
    EXPECT_FALSE(server->log().contains(QLatin1String(kLetters)));
    QFile database(data() + QStringLiteral("/accounts.sqlite"));
    ASSERT_TRUE(database.open(QIODevice::ReadOnly));
    EXPECT_FALSE(database.readAll().contains(kLetters));
    QFile wal(data() + QStringLiteral("/accounts.sqlite-wal"));
    if (wal.open(QIODevice::ReadOnly)) EXPECT_FALSE(wal.readAll().contains(kLetters));

    // Before confirmation VAL gives no number.
    const HttpAnswer early = form(ep::kActionValidate, kEmail, kLetters);
    EXPECT_FALSE(IsAccountId(BodyText(early.body)));
    EXPECT_TRUE(BodyText(early.body).contains(QStringLiteral("pas encore confirmée"))) << early.body.constData();

    const HttpAnswer confirmed = Get(link);
    EXPECT_EQ(confirmed.status, 200);
    EXPECT_TRUE(BodyText(confirmed.body).contains(QStringLiteral("confirmée")));
    // A link serves once.
    EXPECT_EQ(Get(link).status, 404);

    const HttpAnswer validated = form(ep::kActionValidate, kEmail, kLetters);
    EXPECT_EQ(validated.status, 200);
    const QString id = BodyText(validated.body);
    EXPECT_TRUE(IsAccountId(id)) << validated.body.constData();
    // The id is stable and the address is matched whatever its letter case.
    EXPECT_EQ(BodyText(form(ep::kActionValidate, QStringLiteral("MOI@Exemple.FR"), kLetters).body), id);
}

TEST_F(AccountFlowTest, RefusalsNeverLookLikeAcceptance)
{
    const QString id = registerAccount(kEmail, kLetters);
    ASSERT_TRUE(IsAccountId(id));
    struct Case {
        const char* name;
        QString action, email, letters, emailNew, lettersNew;
        int status;
    };
    const QString other = QStringLiteral("autre@exemple.fr");
    const Case cases[] = {
        {"wrong letters", ep::kActionValidate, kEmail, QStringLiteral("kdjfmaopbclm"), {}, {}, 403},
        {"letters of another case", ep::kActionValidate, kEmail, QStringLiteral("KDJFMAOPBCLN"), {}, {}, 403},
        {"empty letters", ep::kActionValidate, kEmail, QString(), {}, {}, 403},
        {"unknown address", ep::kActionValidate, other, kLetters, {}, {}, 403},
        {"update with wrong letters", ep::kActionUpdate, kEmail, QStringLiteral("x"), other, QStringLiteral("y"), 403},
        {"update of an unknown address", ep::kActionUpdate, other, kLetters, kEmail, kLetters, 403},
        {"update to an invalid address", ep::kActionUpdate, kEmail, kLetters, QStringLiteral("pas-une-adresse"),
         kLetters, 400},
        {"second registration of a confirmed address", ep::kActionAdd, kEmail, kLetters, {}, {}, 409},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const HttpAnswer answer = form(c.action, c.email, c.letters, c.emailNew, c.lettersNew);
        EXPECT_EQ(answer.status, c.status) << answer.body.constData();
        const QString text = BodyText(answer.body);
        EXPECT_FALSE(text.isEmpty());
        EXPECT_FALSE(IsAccountId(text)) << text.toStdString();
        EXPECT_FALSE(text.contains(QLatin1String(ep::kAddAcceptedMarker))) << text.toStdString();
        EXPECT_FALSE(text.contains(QLatin1String(ep::kUpdateAcceptedMarker))) << text.toStdString();
    }
    // None of them changed anything, nor mailed anybody.
    EXPECT_EQ(BodyText(form(ep::kActionValidate, kEmail, kLetters).body), id);
    EXPECT_EQ(OutboxMails(data()).size(), 1);
    // An unknown or malformed link confirms nothing.
    const QByteArray confirmation = server->url("/download/confirmation?jeton=");
    EXPECT_EQ(Get(confirmation + QByteArray(64, 'a')).status, 404);
    EXPECT_EQ(Get(confirmation + "abc").status, 400);
    EXPECT_EQ(Get(server->url("/download/confirmation")).status, 400);
}

TEST_F(AccountFlowTest, UpdateReplacesAddressAndLetters)
{
    const QString id = registerAccount(kEmail, kLetters);
    ASSERT_TRUE(IsAccountId(id));
    const QString newEmail = QStringLiteral("nouveau@exemple.org");
    const QString newLetters = QStringLiteral("ppppaaaa");

    const HttpAnswer updated = form(ep::kActionUpdate, kEmail, kLetters, newEmail, newLetters);
    EXPECT_EQ(updated.status, 200);
    EXPECT_TRUE(BodyText(updated.body).contains(QLatin1String(ep::kUpdateAcceptedMarker))) << updated.body.constData();

    EXPECT_EQ(BodyText(form(ep::kActionValidate, newEmail, newLetters).body), id);
    EXPECT_FALSE(IsAccountId(BodyText(form(ep::kActionValidate, kEmail, kLetters).body)));
    EXPECT_FALSE(IsAccountId(BodyText(form(ep::kActionValidate, newEmail, kLetters).body)));
    // The old address is free again; the new one is taken.
    EXPECT_TRUE(BodyText(form(ep::kActionAdd, kEmail, kLetters).body).contains(QLatin1String(ep::kAddAcceptedMarker)));
    EXPECT_EQ(form(ep::kActionAdd, newEmail, newLetters).status, 409);

    // A password-only change keeps the address.
    EXPECT_TRUE(BodyText(form(ep::kActionUpdate, newEmail, newLetters, newEmail, QStringLiteral("zz")).body)
                    .contains(QLatin1String(ep::kUpdateAcceptedMarker)));
    EXPECT_EQ(BodyText(form(ep::kActionValidate, newEmail, QStringLiteral("zz")).body), id);

    // The address of another account cannot be taken over.
    const QString second = registerAccount(QStringLiteral("second@exemple.org"), kLetters);
    ASSERT_TRUE(IsAccountId(second));
    EXPECT_NE(second, id);
    const HttpAnswer taken =
        form(ep::kActionUpdate, QStringLiteral("second@exemple.org"), kLetters, newEmail, kLetters);
    EXPECT_EQ(taken.status, 409);
    EXPECT_FALSE(BodyText(taken.body).contains(QLatin1String(ep::kUpdateAcceptedMarker)));
    EXPECT_EQ(BodyText(form(ep::kActionValidate, QStringLiteral("second@exemple.org"), kLetters).body), second);
}

TEST_F(AccountFlowTest, RepeatedRegistrationOfAPendingAddressSendsANewLink)
{
    ASSERT_TRUE(BodyText(form(ep::kActionAdd, kEmail, QStringLiteral("old")).body)
                    .contains(QLatin1String(ep::kAddAcceptedMarker)));
    const HttpAnswer again = form(ep::kActionAdd, kEmail, kLetters);
    EXPECT_EQ(again.status, 200);
    EXPECT_TRUE(BodyText(again.body).contains(QLatin1String(ep::kAddAcceptedMarker)));
    const QStringList mails = OutboxMails(data());
    ASSERT_EQ(mails.size(), 2);
    const QByteArray first = ConfirmationLink(mails[0]);
    const QByteArray second = ConfirmationLink(mails[1]);
    ASSERT_FALSE(first.isEmpty());
    EXPECT_NE(first, second);

    // Only the newest link works, and it confirms the newest letters.
    EXPECT_EQ(Get(first).status, 404);
    EXPECT_EQ(Get(second).status, 200);
    EXPECT_TRUE(IsAccountId(BodyText(form(ep::kActionValidate, kEmail, kLetters).body)));
    EXPECT_FALSE(IsAccountId(BodyText(form(ep::kActionValidate, kEmail, QStringLiteral("old")).body)));
}

TEST_F(AccountFlowTest, IdsAreDistinctFifteenDigitNumbers)
{
    QSet<QString> ids;
    for (int i = 0; i < 6; ++i) {
        const QString id = registerAccount(QStringLiteral("compte%1@exemple.fr").arg(i), kLetters);
        EXPECT_TRUE(IsAccountId(id)) << id.toStdString();
        ids.insert(id);
    }
    EXPECT_EQ(ids.size(), 6);
}

TEST_F(AccountFlowTest, RegistrationsAreLimitedPerClientAndPerRecipient)
{
    struct Case {
        const char* name;
        QStringList arguments;
        bool sameAddress;
        const char* refusalWords;
    };
    const Case cases[] = {
        {"per client address", {QStringLiteral("--registration-limit"), QStringLiteral("2")}, false,
         "Trop d'inscriptions"},
        {"per recipient", {QStringLiteral("--registration-limit"), QStringLiteral("0"), QStringLiteral("--mail-limit"),
                           QStringLiteral("2")},
         true, "Trop d'e-mails"},
        {"all form posts", {QStringLiteral("--form-limit"), QStringLiteral("2"), QStringLiteral("--registration-limit"),
                            QStringLiteral("0")},
         false, "Trop de demandes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(data()).removeRecursively();
        start(c.arguments);
        const auto address = [&](int i) {
            return c.sameAddress ? QString::fromLatin1(kEmail) : QStringLiteral("cible%1@exemple.fr").arg(i);
        };
        for (int i = 0; i < 2; ++i)
            EXPECT_TRUE(BodyText(form(ep::kActionAdd, address(i), kLetters).body)
                            .contains(QLatin1String(ep::kAddAcceptedMarker)));
        const HttpAnswer refused = form(ep::kActionAdd, address(2), kLetters);
        EXPECT_EQ(refused.status, 429);
        const QString text = BodyText(refused.body);
        EXPECT_TRUE(text.contains(QLatin1String(c.refusalWords))) << text.toStdString();
        EXPECT_FALSE(text.contains(QLatin1String(ep::kAddAcceptedMarker)));
        EXPECT_EQ(OutboxMails(data()).size(), 2);
    }
}

TEST_F(AccountFlowTest, AKilledServerKeepsConfirmedAccountsAndTakesItsFtpChildAlong)
{
    const QString id = registerAccount(kEmail, kLetters);
    ASSERT_TRUE(IsAccountId(id));
    const QString ftpRoot = data() + QStringLiteral("/ftp");
    ASSERT_FALSE(ProcessesMentioning(ftpRoot).isEmpty()) << "the FTP child should be running";

    server->killHard();
    EXPECT_TRUE(WaitUntilGone(ftpRoot)) << "the FTP child outlived its server";

    start(kNoLimits);
    EXPECT_EQ(BodyText(form(ep::kActionValidate, kEmail, kLetters).body), id);
    EXPECT_EQ(form(ep::kActionAdd, kEmail, kLetters).status, 409);
}

TEST_F(AccountFlowTest, StopsCleanlyOnSigtermAndExitsWhenItsFtpChildDies)
{
    const QString ftpRoot = data() + QStringLiteral("/ftp");
    EXPECT_EQ(server->stop(), 0);
    EXPECT_TRUE(WaitUntilGone(ftpRoot));

    start(kNoLimits);
    const QList<qint64> children = ProcessesMentioning(ftpRoot);
    ASSERT_EQ(children.size(), 1);
    ::kill(pid_t(children.first()), SIGKILL);
    EXPECT_GT(server->waitForExit(), 0);
    EXPECT_TRUE(server->log().contains(QLatin1String("FTP server"))) << server->log().toStdString();
}

} // namespace
} // namespace signetrix::test
