// Requests no honest client sends: paths that climb out of a folder or name
// an absolute path, escapes that hide them, routes that do not exist, and form
// posts that are malformed, over-long or full of SQL. Each gets a clear
// refusal, and nothing of the data folder or outside it is given away.
#include "net/Endpoints.h"
#include "server/web/ServerProcess.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

namespace signetrix::test {
namespace {

namespace ep = net::endpoints;

constexpr char kSecret[] = "SECRET-OUTSIDE-THE-DATA-FOLDER";

class BadInputTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Something worth stealing beside the data folder and inside it.
        QFile outside(dir.filePath(QStringLiteral("secret.zip")));
        ASSERT_TRUE(outside.open(QIODevice::WriteOnly));
        outside.write(kSecret);
        outside.close();
        // The folder named here is the one the paths below aim at.
        server = std::make_unique<ServerProcess>(
            data(), QStringList{QStringLiteral("--form-limit"), QStringLiteral("0"), QStringLiteral("--registration-limit"),
                                QStringLiteral("0"), QStringLiteral("--backup-folder"), QStringLiteral("favbackup")});
        ASSERT_TRUE(server->ready()) << server->startError().toStdString();
        ASSERT_TRUE(QFile::copy(dir.filePath(QStringLiteral("secret.zip")),
                                data() + QStringLiteral("/ftp/secret.zip")));
    }
    QString data() const { return dir.filePath(QStringLiteral("data")); }

    HttpAnswer get(const QByteArray& target)
    {
        return RawRequest(server->httpPort(), "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    }
    HttpAnswer post(const QByteArray& body, const QByteArray& type = "application/x-www-form-urlencoded")
    {
        return Post(server->url("/download/inscription"), body, type);
    }

    QTemporaryDir dir;
    std::unique_ptr<ServerProcess> server;
};

TEST_F(BadInputTest, PathsThatClimbOrHideAreRefusedWithAPage)
{
    const QByteArray targets[] = {
        "/../secret.zip",
        "/favbackup/../../secret.zip",
        "/%2e%2e/secret.zip",
        "/%2E%2E/%2E%2E/etc/passwd",
        "/favbackup/..%2f..%2fsecret.zip",
        "/favbackup/%2e%2e%2fsecret.zip",
        "/download/./Signetrix.zip",
        "/%252e%252e/secret.zip",
        "/favbackup//etc/passwd",
        "//etc/passwd",
        "/favbackup/%2fetc%2fpasswd",
        "/favbackup/..\\..\\secret.zip",
        "/favbackup/%00.zip",
        "/favbackup/1.zip%00",
        "/favbackup/%zz.zip",
    };
    for (const QByteArray& target : targets) {
        SCOPED_TRACE(target.toStdString());
        const HttpAnswer answer = get(target);
        EXPECT_EQ(answer.status, 400) << answer.error.constData();
        EXPECT_TRUE(BodyText(answer.body).contains(QStringLiteral("Chemin refusé"))) << answer.body.constData();
        EXPECT_FALSE(answer.body.contains(kSecret));
    }
}

TEST_F(BadInputTest, OnlyTheFixedRoutesServeAnything)
{
    ASSERT_EQ(get("/favbackup/1.zip").status, 404);
    const QByteArray targets[] = {
        "/",
        "/secret.zip",
        "/ftp/secret.zip",
        "/accounts.sqlite",
        "/outbox/",
        "/www/err/Signetrix.htm",
        "/favbackup",
        "/favbackup/",
        "/favbackup/secret.zip",
        "/favbackup/1.zip.part",
        "/favbackup/.1.zip",
        "/download/",
        "/download",
        "/err/",
        "/download/../ftp",
        "/etc/passwd",
        "http://127.0.0.1/accounts.sqlite",
    };
    for (const QByteArray& target : targets) {
        SCOPED_TRACE(target.toStdString());
        const HttpAnswer answer = get(target);
        EXPECT_TRUE(answer.status == 404 || answer.status == 400) << answer.status << " " << answer.error.constData();
        EXPECT_FALSE(answer.body.contains(kSecret));
        EXPECT_FALSE(answer.body.contains("SQLite format"));
    }
    // Methods outside the routes' own are refused by name.
    const QByteArray requests[] = {
        "GET /download/inscription HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n",
        "POST /err/Signetrix.htm HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\nConnection: close\r\n\r\n",
        "PUT /favbackup/1.zip HTTP/1.1\r\nHost: x\r\nContent-Length: 1\r\nConnection: close\r\n\r\nx",
        "DELETE /download/Signetrix.zip HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n",
        "HEAD /download/confirmation?jeton=x HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n",
    };
    for (const QByteArray& request : requests) {
        SCOPED_TRACE(request.left(request.indexOf('\r')).toStdString());
        EXPECT_EQ(RawRequest(server->httpPort(), request).status, 405);
    }
    EXPECT_FALSE(QFile::exists(data() + QStringLiteral("/ftp/favbackup/1.zip")));
}

TEST_F(BadInputTest, MalformedAndOverLongFormPostsAreRefused)
{
    const QByteArray valid = "kelreferer=Signetrix&email=moi%40exemple.fr&passworduser=abc&actiontype=ADD";
    struct Case {
        const char* name;
        QByteArray body;
        QByteArray type;
        int status;
        const char* words;
    };
    const QByteArray form = "application/x-www-form-urlencoded";
    const Case cases[] = {
        {"empty body", "", form, 400, "vide"},
        {"no field at all", "n'importe quoi", form, 400, "mal formé"},
        {"broken escape", "email=moi%4&passworduser=a&actiontype=ADD", form, 400, "codage invalide"},
        {"bytes that are not UTF-8", "email=moi%FF%40x.fr&passworduser=a&actiontype=ADD", form, 400, "texte invalide"},
        {"control character", "email=moi%0A%40x.fr&passworduser=a&actiontype=ADD", form, 400, "contrôle"},
        {"unknown field", valid + "&admin=1", form, 400, "champ inconnu"},
        {"field twice", valid + "&email=autre%40x.fr", form, 400, "deux fois"},
        {"no action", "email=moi%40exemple.fr&passworduser=abc", form, 400, "actiontype"},
        {"unknown action", "email=moi%40exemple.fr&passworduser=abc&actiontype=DROP", form, 400, "n'existe pas"},
        {"no address", "passworduser=abc&actiontype=ADD", form, 400, "« email » manque"},
        {"no letters", "email=moi%40exemple.fr&actiontype=VAL", form, 400, "« passworduser » manque"},
        {"update without new letters", "email=moi%40exemple.fr&passworduser=a&emailNew=b%40c.fr&actiontype=UPDATE",
         form, 400, "passworduserNew"},
        {"address over 254", "email=" + QByteArray(250, 'a') + "%40x.fr&passworduser=a&actiontype=ADD", form, 400,
         "trop long"},
        {"letters over 256", "email=moi%40exemple.fr&passworduser=" + QByteArray(257, 'a') + "&actiontype=ADD", form,
         400, "trop long"},
        {"body over 8 KiB", valid + "&kelreferer=" + QByteArray(9000, 'x'), form, 413, "trop volumineux"},
        {"multipart body", "--b\r\nContent-Disposition: form-data; name=\"email\"\r\n\r\nmoi@exemple.fr\r\n--b--\r\n",
         "multipart/form-data; boundary=b", 415, "x-www-form-urlencoded"},
        {"JSON body", "{\"email\":\"moi@exemple.fr\",\"actiontype\":\"ADD\"}", "application/json", 415,
         "x-www-form-urlencoded"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const HttpAnswer answer = post(c.body, c.type);
        EXPECT_EQ(answer.status, c.status) << answer.error.constData();
        const QString text = BodyText(answer.body);
        EXPECT_TRUE(text.contains(QString::fromUtf8(c.words))) << text.toStdString();
        EXPECT_FALSE(text.contains(QLatin1String(ep::kAddAcceptedMarker)));
    }
    EXPECT_TRUE(OutboxMails(data()).isEmpty());
    // The server is still of service.
    EXPECT_TRUE(BodyText(post(valid).body).contains(QLatin1String(ep::kAddAcceptedMarker)));
}

TEST_F(BadInputTest, SqlInTheAddressIsRefusedAndLeavesTheAccountsAlone)
{
    const QByteArray valid = "kelreferer=Signetrix&email=moi%40exemple.fr&passworduser=abc&actiontype=";
    ASSERT_TRUE(BodyText(post(valid + "ADD").body).contains(QLatin1String(ep::kAddAcceptedMarker)));
    ASSERT_EQ(Get(ConfirmationLink(OutboxMails(data()).first())).status, 200);
    const QString id = BodyText(post(valid + "VAL").body);
    ASSERT_FALSE(id.isEmpty());

    const QString addresses[] = {
        QStringLiteral("x'; DROP TABLE signetrix_accounts; --@exemple.fr"),
        QStringLiteral("moi@exemple.fr' OR '1'='1"),
        QStringLiteral("' OR 1=1 --@exemple.fr"),
        QStringLiteral("moi@exemple.fr\"; DELETE FROM signetrix_accounts; --"),
        QStringLiteral("%@exemple.fr"),
        QStringLiteral("moi@exemple.fr) UNION SELECT password_hash FROM signetrix_accounts --"),
    };
    for (const QString& address : addresses) {
        for (const char* action : {ep::kActionAdd, ep::kActionValidate, ep::kActionUpdate}) {
            SCOPED_TRACE(address.toStdString() + " " + action);
            const HttpAnswer answer =
                PostForm(server->url("/download/inscription"),
                         {{ep::kFieldReferer, ep::kRefererProgram}, {ep::kFieldEmail, address},
                          {ep::kFieldPassword, QStringLiteral("abc")}, {ep::kFieldEmailNew, address},
                          {ep::kFieldPasswordNew, QStringLiteral("abc")}, {ep::kFieldAction, action}});
            EXPECT_EQ(answer.status, 400);
            const QString text = BodyText(answer.body);
            EXPECT_TRUE(text.contains(QStringLiteral("Adresse refusée"))) << text.toStdString();
            EXPECT_FALSE(text.contains(QLatin1String("$argon2")));
        }
    }
    EXPECT_EQ(BodyText(post(valid + "VAL").body), id);
    EXPECT_EQ(OutboxMails(data()).size(), 1);
}

TEST_F(BadInputTest, OversizedRequestsAreCut)
{
    // A header block far beyond any form: the connection is cut, the server lives on.
    const HttpAnswer huge = RawRequest(server->httpPort(), "GET /err/Signetrix.htm HTTP/1.1\r\nHost: x\r\nX-Fill: " +
                                                               QByteArray(200 * 1024, 'a') + "\r\n\r\n");
    EXPECT_EQ(huge.status, 0);
    const HttpAnswer body = RawRequest(server->httpPort(),
                                       "POST /download/inscription HTTP/1.1\r\nHost: x\r\nContent-Type: "
                                       "application/x-www-form-urlencoded\r\nContent-Length: 300000\r\n\r\n" +
                                           QByteArray(300000, 'a'));
    EXPECT_NE(body.status, 200);
    EXPECT_EQ(Get(server->url("/err/Signetrix.htm")).status, 200);
}

} // namespace
} // namespace signetrix::test
