// The registration page in the embedded browser, driven the way the program
// drives it: load the page, set the named fields of its first form, submit
// that form, read the rendered text of the answer. Against the real server,
// with the confirmation link of the mail opened in the same browser.
#include "net/Endpoints.h"
#include "platform/browser/EmbeddedBrowser.h"
#include "server/web/ServerProcess.h"

#include <QMap>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

namespace signetrix::test {
namespace {

namespace ep = net::endpoints;
using platform::EmbeddedBrowser;

constexpr int kLoadWaitMs = 30000;

class RegistrationPageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        server = std::make_unique<ServerProcess>(dir.filePath(QStringLiteral("data")));
        ASSERT_TRUE(server->ready()) << server->startError().toStdString();
        browser = std::make_unique<EmbeddedBrowser>();
        browser->resize(640, 480);
        browser->show();
        completed = std::make_unique<QSignalSpy>(browser.get(), &EmbeddedBrowser::documentComplete);
    }

    bool load(const QString& url)
    {
        const int before = int(completed->count());
        browser->navigate(url);
        return QTest::qWaitFor([&] { return completed->count() > before; }, kLoadWaitMs);
    }

    // Index of the first form's element of that name, -1 when none.
    int element(const QString& name)
    {
        for (int i = 0; i < browser->formElementCount(0); ++i)
            if (browser->formElementName(0, i) == name) return i;
        return -1;
    }

    // One request as the program sends it; the answer's rendered text.
    QString submit(const QMap<QString, QString>& fields)
    {
        if (!load(QString::fromLatin1(server->url(ep::kRegistrationPagePath)))) {
            ADD_FAILURE() << "the registration page did not load";
            return QString();
        }
        QStringList names;
        for (int i = 0; i < browser->formElementCount(0); ++i) names.append(browser->formElementName(0, i));
        for (auto it = fields.begin(); it != fields.end(); ++it) {
            const int index = int(names.indexOf(it.key()));
            if (index < 0 || !browser->setFormElementValue(0, index, it.value())) {
                ADD_FAILURE() << "no field " << it.key().toStdString();
                return QString();
            }
        }
        const int before = int(completed->count());
        if (!browser->submitForm(0)) {
            ADD_FAILURE() << "the form was not submitted";
            return QString();
        }
        if (!QTest::qWaitFor([&] { return completed->count() > before; }, kLoadWaitMs)) {
            ADD_FAILURE() << "no answer page";
            return QString();
        }
        return browser->bodyInnerText().trimmed();
    }
    QString request(const char* action, const QString& email, const QString& letters, const QString& emailNew = {},
                    const QString& lettersNew = {})
    {
        QMap<QString, QString> fields = {{ep::kFieldReferer, ep::kRefererProgram},
                                         {ep::kFieldEmail, email},
                                         {ep::kFieldPassword, letters},
                                         {ep::kFieldAction, action}};
        if (!emailNew.isNull()) {
            fields.insert(ep::kFieldEmailNew, emailNew);
            fields.insert(ep::kFieldPasswordNew, lettersNew);
        }
        return submit(fields);
    }

    QTemporaryDir dir;
    std::unique_ptr<ServerProcess> server;
    std::unique_ptr<EmbeddedBrowser> browser;
    std::unique_ptr<QSignalSpy> completed;
};

TEST_F(RegistrationPageTest, FirstFormHoldsTheSixFieldsAndTheThreeActions)
{
    ASSERT_TRUE(load(QString::fromLatin1(server->url(ep::kRegistrationPagePath))));
    EXPECT_EQ(browser->elementCountByTagName(QStringLiteral("FORM")), 1);
    for (const char* name : {ep::kFieldReferer, ep::kFieldEmail, ep::kFieldPassword, ep::kFieldEmailNew,
                             ep::kFieldPasswordNew, ep::kFieldAction}) {
        SCOPED_TRACE(name);
        EXPECT_GE(element(QString::fromLatin1(name)), 0);
    }
    // Each action word is one the page itself offers.
    const int action = element(QString::fromLatin1(ep::kFieldAction));
    ASSERT_GE(action, 0);
    EXPECT_EQ(browser->formElementValue(0, action), QLatin1String(ep::kActionAdd));
    for (const char* word : {ep::kActionValidate, ep::kActionUpdate, ep::kActionAdd}) {
        SCOPED_TRACE(word);
        ASSERT_TRUE(browser->setFormElementValue(0, action, QString::fromLatin1(word)));
        EXPECT_EQ(browser->formElementValue(0, action), QLatin1String(word));
    }
    EXPECT_FALSE(browser->bodyInnerText().isEmpty());
}

TEST_F(RegistrationPageTest, RegisterConfirmValidateAndUpdateThroughTheBrowser)
{
    const QString email = QStringLiteral("navigateur@exemple.fr");
    const QString letters = QStringLiteral("ghijklmnop");

    const QString added = request(ep::kActionAdd, email, letters);
    EXPECT_TRUE(added.contains(QLatin1String(ep::kAddAcceptedMarker))) << added.toStdString();

    const QStringList mails = OutboxMails(dir.filePath(QStringLiteral("data")));
    ASSERT_EQ(mails.size(), 1);
    const QByteArray link = ConfirmationLink(mails.first());
    ASSERT_FALSE(link.isEmpty());

    // Not yet confirmed: the page is rendered (a refusal, not the browser's
    // own error page), and it is no number.
    const QString early = request(ep::kActionValidate, email, letters);
    EXPECT_TRUE(early.contains(QStringLiteral("pas encore confirmée"))) << early.toStdString();

    ASSERT_TRUE(load(QString::fromLatin1(link)));
    EXPECT_TRUE(browser->bodyInnerText().contains(QStringLiteral("Votre inscription est confirmée")));

    const QString id = request(ep::kActionValidate, email, letters);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[1-9][0-9]{14}$")).match(id).hasMatch()) << id.toStdString();

    const QString wrong = request(ep::kActionValidate, email, QStringLiteral("ghijklmnoo"));
    EXPECT_TRUE(wrong.contains(QLatin1String("incorrect"))) << wrong.toStdString();
    EXPECT_NE(wrong, id);

    const QString newEmail = QStringLiteral("nouveau@exemple.fr");
    const QString updated = request(ep::kActionUpdate, email, letters, newEmail, QStringLiteral("abcabc"));
    EXPECT_TRUE(updated.contains(QLatin1String(ep::kUpdateAcceptedMarker))) << updated.toStdString();
    EXPECT_EQ(request(ep::kActionValidate, newEmail, QStringLiteral("abcabc")), id);

    const QString refused = request(ep::kActionUpdate, email, letters, QStringLiteral("x@exemple.fr"), letters);
    EXPECT_FALSE(refused.contains(QLatin1String(ep::kUpdateAcceptedMarker))) << refused.toStdString();
}

} // namespace
} // namespace signetrix::test
