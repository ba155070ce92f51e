// The account sheet through the real window: registration, validation and
// credential changes with the hidden browser against the real maker's
// server, and what the user is told when the server does not answer well.
#include "app/ServerWindowFixture.h"
#include "browser/EventLoopWait.h"
#include "browser/LoopbackHttpServer.h"
#include "server/web/ServerProcess.h"

#include "app/account/AccountController.h"
#include "app/settings/SettingsPages.h"
#include "net/Endpoints.h"
#include "net/Hosts.h"
#include "platform/browser/EmbeddedBrowser.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace signetrix::test {
namespace {

namespace ep = net::endpoints;

constexpr int kRequestWaitMs = 40000;
const QString kNoAnswer = AccountController::kNoAnswerText;

class AccountSheet : public ServerWindowFixture {
protected:

    TForm12& open()
    {
        TForm12& f = start();
        f.show();
        clickTab(w<QTabWidget>("PageControl1"), "tsBackupWeb");
        return f;
    }
    AccountController& account() { return *form->accountController(); }

    void click(const char* button)
    {
        auto* b = w<QPushButton>(button);
        ASSERT_TRUE(b->isEnabled()) << button << " is disabled";
        b->click();
    }
    // Clicks a button that sends a request and waits until it is over.
    void request(const char* button)
    {
        click(button);
        ASSERT_TRUE(account().requestUnderWay());
        EXPECT_EQ(w<QLabel>("lSettingAccount")->text(), AccountController::kConnectingText);
        ASSERT_TRUE(waitInEventLoop([&] { return !account().requestUnderWay(); }, kRequestWaitMs))
            << "no answer to " << button;
        EXPECT_EQ(w<QLabel>("lSettingAccount")->text(), QString());
    }
    void type(const char* box, const QString& text) { w<QLineEdit>(box)->setText(text); }
    QString text(const char* box) { return w<QLineEdit>(box)->text(); }
    bool visible(const char* name) { return !w(name)->isHidden(); }
    QString memo() { return w<QPlainTextEdit>("Memo6")->toPlainText(); }
    QString activeSheet() { return w<QTabWidget>("PageControlBackupWeb")->currentWidget()->objectName(); }
    int registrationState() { return w("gbSettingAccount")->property("Tag").toInt(); }
    int formPosts() const { return int(server->log().count(QStringLiteral("POST /download/inscription"))); }

    // The account id the server gives these credentials, by a form post of its own.
    QString serverId(const QString& email, const QString& letters)
    {
        const HttpAnswer a = PostForm(server->url("/download/inscription"),
                                      {{ep::kFieldEmail, email}, {ep::kFieldPassword, letters}, {ep::kFieldAction, "VAL"}});
        return a.status == 200 ? BodyText(a.body) : QString();
    }
};

TEST(AccountFormField, EveryElementOfEveryFormWithTheNameGetsTheValue)
{
    platform::EmbeddedBrowser browser;
    browser.resize(200, 100);
    browser.show();
    const auto load = [&](const QString& html) {
        QSignalSpy done(&browser, &platform::EmbeddedBrowser::documentComplete);
        browser.loadHtml(html);
        return done.wait(20000);
    };
    ASSERT_TRUE(load(QStringLiteral("<html><body><form><input name=email><input name=autre value=a></form>"
                                    "<form><input name=Email><input name=email></form></body></html>")));
    EXPECT_TRUE(SetWebFormField(browser, QStringLiteral("email"), QStringLiteral("moi@exemple.fr")));
    EXPECT_EQ(browser.formElementValue(0, 0), QStringLiteral("moi@exemple.fr"));
    EXPECT_EQ(browser.formElementValue(0, 1), QStringLiteral("a"));
    EXPECT_EQ(browser.formElementValue(1, 0), QString()) << "names compare exactly";
    EXPECT_EQ(browser.formElementValue(1, 1), QStringLiteral("moi@exemple.fr"));
    EXPECT_FALSE(SetWebFormField(browser, QStringLiteral("absent"), QStringLiteral("x")));

    ASSERT_TRUE(load(QStringLiteral("<html><body><input name=email></body></html>")));
    EXPECT_FALSE(SetWebFormField(browser, QStringLiteral("email"), QStringLiteral("x"))) << "no form";
}

TEST_F(AccountSheet, RegisterConfirmValidateChangeAndKeepTheAccount)
{
    startServer();
    open();
    EXPECT_EQ(activeSheet(), "tsSettingAccount");
    click("btnOpenAccount");
    EXPECT_TRUE(visible("pCompte"));
    EXPECT_FALSE(visible("pInscription"));
    EXPECT_FALSE(w("btnInscription")->isEnabled()) << "no address yet";
    for (const char* bad : {"a@b.c", "a..b@c.de", "@b.cd", "a b@c.de", "a@b@c.de", "a@bc.d"}) {
        type("edEmail", QString::fromLatin1(bad));
        EXPECT_FALSE(w("btnInscription")->isEnabled()) << bad;
    }
    type("edEmail", QStringLiteral("moi@exemple.fr"));
    EXPECT_TRUE(w("btnInscription")->isEnabled());
    type("edPassword", QStringLiteral("secret"));
    const QString letters = text("edPasswordCrypt");
    EXPECT_EQ(letters, encipheredPassword(QStringLiteral("secret")));
    EXPECT_NE(letters, QStringLiteral("secret"));

    // ADD: the validation panel covers the account panel.
    click("btnInscription");
    EXPECT_EQ(registrationState(), 1) << "set before any answer";
    EXPECT_FALSE(w("btnInscription")->isEnabled()) << "no second request while one is under way";
    ASSERT_TRUE(waitInEventLoop([&] { return !account().requestUnderWay(); }, kRequestWaitMs));
    EXPECT_TRUE(visible("pInscriptionValide"));
    EXPECT_TRUE(w<QLabel>("Label20")->text().contains("le bouton \"Validation\", et votre compte"));
    const QStringList mails = OutboxMails(data());
    ASSERT_EQ(mails.size(), 1);
    const QByteArray link = ConfirmationLink(mails.first());
    ASSERT_FALSE(link.isEmpty());

    // VAL before the confirmation: unreadable, nothing visible changes.
    request("btnValidation");
    EXPECT_TRUE(memo().endsWith("erreur de lecture de l'ID")) << memo().toStdString();
    EXPECT_EQ(text("edID"), QString());
    EXPECT_TRUE(visible("pInscriptionValide"));
    EXPECT_EQ(activeSheet(), "tsSettingAccount");
    EXPECT_EQ(visibleTabs(w<QTabWidget>("PageControlBackupWeb")), QStringList{"tsSettingAccount"});

    ASSERT_EQ(Get(link).status, 200);
    // The server stored the letters, not the typed password.
    const QString id = serverId(QStringLiteral("moi@exemple.fr"), letters);
    ASSERT_TRUE(QRegularExpression(QStringLiteral("^\\d{15}$")).match(id).hasMatch()) << id.toStdString();
    EXPECT_EQ(serverId(QStringLiteral("moi@exemple.fr"), QStringLiteral("secret")), QString());

    request("btnValidation");
    EXPECT_EQ(text("edID"), id);
    EXPECT_TRUE(memo().endsWith(id));
    EXPECT_EQ(activeSheet(), "tsBackup");
    EXPECT_EQ(visibleTabs(w<QTabWidget>("PageControlBackupWeb")),
              (QStringList{"tsBackup", "tsRestore", "tsSettingAccount"}));
    EXPECT_TRUE(visible("pCompte"));
    EXPECT_TRUE(visible("pUpdateInscription"));
    EXPECT_FALSE(visible("pInscriptionValide"));
    EXPECT_FALSE(visible("pValidationInscription"));
    EXPECT_TRUE(w<QLineEdit>("edEmail")->isReadOnly());
    EXPECT_EQ(registrationState(), 1);

    // "Appliquer" with nothing changed sends nothing and stays in edit mode.
    w<QTabWidget>("PageControlBackupWeb")->setCurrentWidget(w("tsSettingAccount"));
    click("btnUpdateInscription");
    EXPECT_FALSE(w<QLineEdit>("edEmail")->isReadOnly());
    const int posts = formPosts();
    click("btnSubmitUpdateInscription");
    EXPECT_FALSE(account().requestUnderWay());
    EXPECT_TRUE(visible("pSubmitUpdateInscription"));
    EXPECT_EQ(formPosts(), posts);

    // UPDATE accepted.
    type("edEmail", QStringLiteral("neuf@exemple.fr"));
    type("edPassword", QStringLiteral("nouveau"));
    request("btnSubmitUpdateInscription");
    EXPECT_EQ(boxes.texts(), QStringList{"Mise à jour de vos identifiants effectués avec succès"});
    EXPECT_TRUE(visible("pUpdateInscription"));
    EXPECT_FALSE(visible("pSubmitUpdateInscription"));
    EXPECT_TRUE(w<QLineEdit>("edEmail")->isReadOnly());
    const QString newLetters = text("edPasswordCrypt");
    EXPECT_EQ(serverId(QStringLiteral("neuf@exemple.fr"), newLetters), id);

    // UPDATE refused: the account changed elsewhere, so the old credentials no longer match.
    const HttpAnswer elsewhere = PostForm(server->url("/download/inscription"),
                                          {{ep::kFieldEmail, "neuf@exemple.fr"},
                                           {ep::kFieldPassword, newLetters},
                                           {ep::kFieldEmailNew, "neuf@exemple.fr"},
                                           {ep::kFieldPasswordNew, encipheredPassword("autre")},
                                           {ep::kFieldAction, "UPDATE"}});
    ASSERT_EQ(elsewhere.status, 200);
    boxes.clear();
    click("btnUpdateInscription");
    type("edEmail", QStringLiteral("troisieme@exemple.fr"));
    request("btnSubmitUpdateInscription");
    EXPECT_EQ(boxes.texts(), QStringList{"Erreur lors de la mise à jour de vos identifiants"});
    EXPECT_EQ(text("edEmail"), QStringLiteral("neuf@exemple.fr"));
    EXPECT_EQ(text("edPasswordCrypt"), newLetters);
    EXPECT_TRUE(visible("pUpdateInscription"));

    // The account is kept at close and comes back at the next start.
    form->close();
    stop();
    const QByteArray saved = ini();
    EXPECT_TRUE(saved.contains("[SettingBackupWeb]\r\nedID.Text=" + id.toLatin1() +
                               "\r\nedEmail.Text=neuf@exemple.fr\r\nedPasswordCrypt.Text=" + newLetters.toLatin1() +
                               "\r\ngbSettingAccount.Tag=1\r\n"))
        << saved.toStdString();
    open();
    EXPECT_EQ(text("edID"), id);
    EXPECT_EQ(text("edPassword"), QStringLiteral("nouveau"));
    EXPECT_EQ(visibleTabs(w<QTabWidget>("PageControlBackupWeb")),
              (QStringList{"tsBackup", "tsRestore", "tsSettingAccount"}));
}

TEST_F(AccountSheet, CancellingTheValidationPanelAllowsANewRegistration)
{
    writeIni("[SettingBackupWeb]\r\nedEmail.Text=moi@exemple.fr\r\ngbSettingAccount.Tag=1\r\n");
    open();
    EXPECT_TRUE(visible("pInscriptionValide"));
    click("Button18");
    EXPECT_EQ(registrationState(), 0);
    EXPECT_FALSE(visible("pInscriptionValide"));
    EXPECT_TRUE(visible("pCompte"));
    EXPECT_FALSE(visible("pInscription"));
    EXPECT_TRUE(w("btnInscription")->isEnabled());
    // The second "Annuler" goes back to the first panel.
    click("btnCancelInscription");
    EXPECT_TRUE(visible("pInscription"));
    EXPECT_FALSE(visible("pCompte"));
}

// Registration pages that are not the server's form, served by a stand-in on
// loopback: the request is given up with one message, or judged as usual.
TEST_F(AccountSheet, ARequestWithoutAGoodAnswerIsGivenUpAndLeavesTheSheetAsItWas)
{
    LoopbackHttpServer standIn;
    ASSERT_TRUE(standIn.listening());
    const QByteArray page = ep::kRegistrationPagePath;
    net::SetDownloadHostForTesting(standIn.base());
    open();
    click("btnOpenAccount");
    type("edEmail", QStringLiteral("moi@exemple.fr"));
    account().setAnswerTimeout(1500);

    struct Case {
        const char* name;
        PageReply reply;
    };
    const Case cases[] = {
        {"an error page instead of the form", PageReply{404, "<html><body><form method=post action=/x>"
                                                           "<input name=email></form></body></html>"}},
        {"a page that never finishes loading", PageReply::stalled()},
        {"a redirect to another host",
         PageReply::redirect(302, "http://localhost:" + QByteArray::number(standIn.port()) + "/ailleurs")},
    };
    standIn.route("/ailleurs", PageReply::html("<html><body><form method=post action=/x>"
                                               "<input name=email></form></body></html>"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        standIn.route(page, c.reply);
        boxes.clear();
        request("btnInscription");
        EXPECT_EQ(boxes.texts(), QStringList{kNoAnswer});
        EXPECT_EQ(registrationState(), 0) << "the registration state is not changed";
        EXPECT_TRUE(visible("pCompte"));
        EXPECT_FALSE(visible("pInscriptionValide"));
        EXPECT_TRUE(w("btnInscription")->isEnabled());
        EXPECT_EQ(standIn.countFor("/x"), 0) << "nothing was submitted";
        EXPECT_EQ(account().AccountRequestState(), -1) << "late documents are ignored";
    }

    // No server at all.
    {
        quint16 dead = 0;
        {
            LoopbackHttpServer gone;
            dead = gone.port();
        }
        net::SetDownloadHostForTesting(QStringLiteral("http://127.0.0.1:%1").arg(dead));
        boxes.clear();
        request("btnInscription");
        EXPECT_EQ(boxes.texts(), QStringList{kNoAnswer});
        EXPECT_EQ(registrationState(), 0);
        net::SetDownloadHostForTesting(standIn.base());
    }

    // A form whose answer never comes back: the validation panel stays, its tag too.
    const QByteArray form = "<html><body><form method=post action=/reponse><input name=email>"
                            "<input name=passworduser><input name=actiontype></form></body></html>";
    standIn.route(page, PageReply::html(form));
    standIn.route("/reponse", PageReply::stalled());
    w("pInscriptionValide")->setVisible(true);
    w("gbSettingAccount")->setProperty("Tag", 1);
    boxes.clear();
    request("btnValidation");
    EXPECT_EQ(boxes.texts(), QStringList{kNoAnswer});
    EXPECT_EQ(standIn.countFor("/reponse"), 1);
    EXPECT_EQ(w("pCompte")->property("Tag").toInt(), 1) << "put back as before the click";
    EXPECT_EQ(text("edID"), QString());
    EXPECT_TRUE(visible("pInscriptionValide"));
}

TEST_F(AccountSheet, PagesWithoutTheFieldsOrWithHugeAnswersAreJudgedAsUsual)
{
    LoopbackHttpServer standIn;
    ASSERT_TRUE(standIn.listening());
    net::SetDownloadHostForTesting(standIn.base());
    open();
    click("btnOpenAccount");
    type("edEmail", QStringLiteral("moi@exemple.fr"));
    type("edPassword", QStringLiteral("pw"));

    // Two forms both holding "email", and no other field the program knows.
    standIn.route(ep::kRegistrationPagePath,
                  PageReply::html("<html><body><form method=post action=/reponse><input name=email>"
                                  "<input name=garde value=1></form><form><input name=email></form></body></html>"));
    standIn.route("/reponse", PageReply::html("<html><body>Autre chose</body></html>"));
    request("btnInscription");
    ASSERT_EQ(standIn.countFor("/reponse"), 1);
    EXPECT_EQ(standIn.lastFor("/reponse")->body, "email=moi%40exemple.fr&garde=1");
    EXPECT_TRUE(memo().endsWith("erreur de Validation en cours"));
    EXPECT_TRUE(visible("pCompte"));
    EXPECT_FALSE(visible("pInscriptionValide"));
    EXPECT_EQ(registrationState(), 1) << "a registration was sent, whatever the answer";
    EXPECT_TRUE(boxes.texts().isEmpty());

    // A VAL answer of megabytes: read, unreadable, nothing visible changes.
    standIn.route("/reponse", PageReply::html("<html><body>12345" + QByteArray(4 << 20, 'x') + "</body></html>"));
    request("btnValidation");
    EXPECT_TRUE(memo().endsWith("erreur de lecture de l'ID"));
    EXPECT_EQ(text("edID"), QString());

    // A refusal page with an error status is still the server's answer; an id
    // with a fraction and blanks around it is read and truncated.
    struct Case {
        PageReply answer;
        QString id;
    };
    const Case cases[] = {
        {PageReply{403, "<html><body>Identification refusée</body></html>"}, QString()},
        {PageReply::html("<html><body>\n  12345.9 \n</body></html>"), QStringLiteral("12345")},
    };
    for (const Case& c : cases) {
        standIn.route("/reponse", c.answer);
        request("btnValidation");
        EXPECT_EQ(text("edID"), c.id);
    }
    EXPECT_EQ(activeSheet(), "tsBackup");
    EXPECT_TRUE(boxes.texts().isEmpty());
}

} // namespace
} // namespace signetrix::test
