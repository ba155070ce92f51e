// The browser wrapper against pages served on loopback, driven as its callers
// drive it: navigate, wait for documentComplete, then read the document.
#include "browser/EventLoopWait.h"
#include "browser/LoopbackHttpServer.h"
#include "platform/browser/EmbeddedBrowser.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

using signetrix::platform::EmbeddedBrowser;
using signetrix::test::PageReply;
using signetrix::test::LoopbackHttpServer;

namespace {

constexpr int kLoadWait = 20000;

class EmbeddedBrowserTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.listening());
        browser = std::make_unique<EmbeddedBrowser>();
        browser->resize(480, 320);
        browser->show();
        completed = std::make_unique<QSignalSpy>(browser.get(), &EmbeddedBrowser::documentComplete);
    }
    void TearDown() override { EmbeddedBrowser::setExternalOpener({}); }

    // Waits for the n-th documentComplete since the test began.
    bool waitComplete(int n) { return QTest::qWaitFor([&] { return completed->count() >= n; }, kLoadWait); }

    LoopbackHttpServer server;
    std::unique_ptr<EmbeddedBrowser> browser;
    std::unique_ptr<QSignalSpy> completed;
};

TEST_F(EmbeddedBrowserTest, NavigationRaisesDocumentCompleteAndReachesReadyStateComplete)
{
    server.route("/page", PageReply::html("<html><body><p>Bonjour</p></body></html>"));
    EXPECT_EQ(browser->readyState(), EmbeddedBrowser::Uninitialized);
    EXPECT_FALSE(browser->documentPresent());
    EXPECT_EQ(browser->currentAddress(), QString());

    browser->navigate(server.url("/page"));
    ASSERT_TRUE(waitComplete(1));

    EXPECT_EQ(browser->readyState(), EmbeddedBrowser::Complete);
    EXPECT_TRUE(browser->documentPresent());
    EXPECT_FALSE(browser->isLoading());
    EXPECT_EQ(browser->currentAddress(), server.url("/page"));
    EXPECT_EQ(completed->at(0).at(0).toUrl(), QUrl(server.url("/page")));
    EXPECT_TRUE(completed->at(0).at(1).toBool());
    EXPECT_EQ(browser->bodyInnerText(), QStringLiteral("Bonjour"));
}

TEST_F(EmbeddedBrowserTest, CurrentAddressIsTheOneReachedAfterRedirects)
{
    server.route("/final", PageReply::html("<html><body>arrivée</body></html>"));
    server.route("/moved", PageReply::redirect(301, "/final"));
    server.route("/hop", PageReply::redirect(302, "/moved"));
    struct Case {
        const char* start;
    };
    const Case cases[] = {{"/moved"}, {"/hop"}};
    int loads = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.start);
        browser->navigate(server.url(QString::fromLatin1(c.start)));
        ASSERT_TRUE(waitComplete(++loads));
        EXPECT_EQ(browser->currentAddress(), server.url("/final"));
        EXPECT_EQ(browser->bodyInnerText(), QStringLiteral("arrivée"));
    }
    EXPECT_EQ(server.countFor("/final"), 2);
}

TEST_F(EmbeddedBrowserTest, AnUnreachableSiteStillCompletesWithTheErrorPage)
{
    quint16 deadPort = 0;
    {
        LoopbackHttpServer gone;
        deadPort = gone.port();
    }
    browser->navigate(QStringLiteral("http://127.0.0.1:%1/x").arg(deadPort));
    ASSERT_TRUE(waitComplete(1));
    EXPECT_FALSE(completed->at(0).at(1).toBool());
    EXPECT_EQ(browser->readyState(), EmbeddedBrowser::Complete);
    EXPECT_TRUE(browser->documentPresent());
    EXPECT_EQ(browser->lastLoadError().kind, EmbeddedBrowser::LoadError::Network);
}

// An error status with a page is still the server's answer, told apart from
// no answer at all; the next good load clears it.
TEST_F(EmbeddedBrowserTest, AnErrorStatusIsReportedWithItsPageAsTheDocument)
{
    server.route("/refused", PageReply{403, "<html><body>Identification refusée</body></html>"});
    server.route("/good", PageReply::html("<html><body>bien</body></html>"));
    browser->navigate(server.url("/refused"));
    ASSERT_TRUE(waitComplete(1));
    EXPECT_EQ(browser->lastLoadError().kind, EmbeddedBrowser::LoadError::Http);
    EXPECT_EQ(browser->lastLoadError().code, 403);
    EXPECT_EQ(browser->bodyInnerText(), QStringLiteral("Identification refusée"));

    browser->navigate(server.url("/good"));
    ASSERT_TRUE(waitComplete(2));
    EXPECT_TRUE(completed->at(1).at(1).toBool());
    EXPECT_EQ(browser->lastLoadError().kind, EmbeddedBrowser::LoadError::None);
}

// A page whose image never arrives: its DOM is parsed (interactive) while the
// load as a whole cannot complete; stop ends it without a documentComplete.
TEST_F(EmbeddedBrowserTest, InteractiveWhileSubresourcesLoadAndStopEndsTheLoad)
{
    server.route("/slow.png", PageReply::stalled());
    server.route("/page", PageReply::html("<html><body>texte<img src=\"/slow.png\"></body></html>"));
    server.route("/next", PageReply::html("<html><body>suivante</body></html>"));

    browser->navigate(server.url("/page"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return browser->readyState() == EmbeddedBrowser::Interactive; }, kLoadWait));
    EXPECT_TRUE(browser->isLoading());
    EXPECT_TRUE(browser->documentPresent());
    EXPECT_EQ(browser->bodyInnerText(), QStringLiteral("texte"));

    browser->stop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !browser->isLoading(); }, kLoadWait));
    EXPECT_EQ(browser->readyState(), EmbeddedBrowser::Complete);

    // The stopped load never reports completion; the next one does.
    browser->navigate(server.url("/next"));
    ASSERT_TRUE(waitComplete(1));
    EXPECT_EQ(completed->at(0).at(0).toUrl(), QUrl(server.url("/next")));
    EXPECT_EQ(completed->count(), 1);
}

TEST_F(EmbeddedBrowserTest, StopBeforeAnyAnswerLeavesNoDocument)
{
    server.route("/never", PageReply::stalled());
    browser->navigate(server.url("/never"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.countFor("/never") == 1; }, kLoadWait));
    EXPECT_EQ(browser->readyState(), EmbeddedBrowser::Loading);

    browser->stop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !browser->isLoading(); }, kLoadWait));
    EXPECT_EQ(browser->readyState(), EmbeddedBrowser::Uninitialized);
    EXPECT_FALSE(browser->documentPresent());
    EXPECT_EQ(completed->count(), 0);
}

TEST_F(EmbeddedBrowserTest, ANavigationReplacingAnUnfinishedOneCompletesOnlyOnce)
{
    server.route("/never", PageReply::stalled());
    server.route("/next", PageReply::html("<html><body>suivante</body></html>"));
    browser->navigate(server.url("/never"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return server.countFor("/never") == 1; }, kLoadWait));

    browser->navigate(server.url("/next"));
    ASSERT_TRUE(waitComplete(1));
    QTest::qWait(0); // let any late signal of the abandoned load arrive
    EXPECT_EQ(completed->count(), 1);
    EXPECT_EQ(completed->at(0).at(0).toUrl(), QUrl(server.url("/next")));
    EXPECT_FALSE(browser->isLoading());
    EXPECT_EQ(browser->readyState(), EmbeddedBrowser::Complete);
    EXPECT_EQ(browser->currentAddress(), server.url("/next"));
}

TEST_F(EmbeddedBrowserTest, ReloadFetchesThePageAgain)
{
    server.route("/page", PageReply::html("<html><body>x</body></html>"));
    browser->navigate(server.url("/page"));
    ASSERT_TRUE(waitComplete(1));
    browser->reload();
    ASSERT_TRUE(waitComplete(2));
    EXPECT_EQ(server.countFor("/page"), 2);
    EXPECT_EQ(browser->currentAddress(), server.url("/page"));
}

TEST_F(EmbeddedBrowserTest, LoadedHtmlIsShownAsTheDocument)
{
    struct Case {
        const char* name;
        std::function<void(EmbeddedBrowser&)> load;
        QString text;
    };
    const Case cases[] = {
        {"bytes decoded by their meta charset",
         [](EmbeddedBrowser& b) {
             b.loadHtml(QByteArray("<html><head><meta charset=\"windows-1252\"></head><body>\xC9t\xE9 <b>chaud</b>"
                                   "</body></html>"));
         },
         QStringLiteral("Été chaud")},
        {"bytes without charset",
         [](EmbeddedBrowser& b) { b.loadHtml(QByteArray("<html><body>caf\xE9</body></html>")); },
         QStringLiteral("café")},
        {"bytes in the charset given beside them",
         [](EmbeddedBrowser& b) { b.loadHtml(QByteArray("<html><body>\xC3\xA9t\xC3\xA9</body></html>"), "UTF-8"); },
         QStringLiteral("été")},
        {"unicode text", [](EmbeddedBrowser& b) { b.loadHtml(QStringLiteral("<p>Œuvre — ok</p>")); },
         QStringLiteral("Œuvre — ok")},
    };
    int loads = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.load(*browser);
        ASSERT_TRUE(waitComplete(++loads));
        EXPECT_EQ(browser->bodyInnerText(), c.text);
        EXPECT_EQ(browser->currentAddress(), QStringLiteral("about:blank"));
        EXPECT_EQ(browser->readyState(), EmbeddedBrowser::Complete);
    }
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(EmbeddedBrowserTest, InnerTextIsTheRenderedTextWithoutMarkup)
{
    browser->loadHtml(QStringLiteral("<html><head><title>T</title><style>p{color:red}</style></head><body>"
                                     "<p>Validation <i>en</i> cours</p><script>var hidden = 1;</script>"
                                     "<div style=\"display:none\">caché</div></body></html>"));
    ASSERT_TRUE(waitComplete(1));
    EXPECT_EQ(browser->bodyInnerText(), QStringLiteral("Validation en cours"));
}

// Callers read the document from their documentComplete handler (the account
// form reads the answer page), also for an empty document following another.
TEST_F(EmbeddedBrowserTest, DocumentCanBeReadFromTheCompletionHandler)
{
    std::vector<int> bodies;
    QObject::connect(browser.get(), &EmbeddedBrowser::documentComplete, [&] {
        bodies.push_back(browser->elementCountByTagName(QStringLiteral("BODY")));
    });
    const QByteArray pages[] = {"<body>un</body>", "", "<body>deux</body>", ""};
    int loads = 0;
    for (const QByteArray& page : pages) {
        SCOPED_TRACE(page.toStdString());
        browser->loadHtml(page);
        ++loads;
        ASSERT_TRUE(signetrix::test::waitInEventLoop([&] { return int(bodies.size()) == loads; }, kLoadWait));
        EXPECT_EQ(bodies.back(), 1); // 0: the query went unanswered
    }
}

TEST_F(EmbeddedBrowserTest, BodyOverflowCanBeHidden)
{
    browser->loadHtml(QStringLiteral("<html><body><div style=\"width:5000px;height:5000px\">grand</div></body></html>"));
    ASSERT_TRUE(waitComplete(1));
    EXPECT_EQ(browser->bodyOverflow().x, QString());

    ASSERT_TRUE(browser->setBodyOverflow(QStringLiteral("hidden"), QStringLiteral("hidden")));
    const EmbeddedBrowser::Overflow overflow = browser->bodyOverflow();
    EXPECT_EQ(overflow.x, QStringLiteral("hidden"));
    EXPECT_EQ(overflow.y, QStringLiteral("hidden"));
}

TEST_F(EmbeddedBrowserTest, DocumentAccessWithoutDocumentGivesNeutralAnswers)
{
    EXPECT_EQ(browser->formCount(), 0);
    EXPECT_EQ(browser->elementCountByTagName(QStringLiteral("FORM")), 0);
    EXPECT_EQ(browser->bodyInnerText(), QString());
    EXPECT_FALSE(browser->setBodyOverflow(QStringLiteral("hidden"), QStringLiteral("hidden")));
    EXPECT_FALSE(browser->submitForm(0));
}

constexpr char kFormPage[] =
    "<html><body>"
    "<form method=\"post\" action=\"/answer\">"
    "<input type=\"hidden\" name=\"kelreferer\" value=\"Signetrix\">"
    "<input type=\"text\" name=\"email\" value=\"\">"
    "<input type=\"password\" name=\"passworduser\">"
    "<input type=\"hidden\" name=\"actiontype\" value=\"none\">"
    "<input type=\"submit\" name=\"go\" value=\"Envoyer\">"
    "</form>"
    "<form action=\"/other\"><input name=\"email\" value=\"second\"></form>"
    "</body></html>";

TEST_F(EmbeddedBrowserTest, FormsAreReadAndFilledByIndex)
{
    server.route("/form", PageReply::html(kFormPage));
    browser->navigate(server.url("/form"));
    ASSERT_TRUE(waitComplete(1));

    EXPECT_EQ(browser->formCount(), 2);
    EXPECT_EQ(browser->elementCountByTagName(QStringLiteral("FORM")), 2);
    EXPECT_EQ(browser->elementCountByTagName(QStringLiteral("form")), 2);
    ASSERT_EQ(browser->formElementCount(0), 5);
    EXPECT_EQ(browser->formElementCount(1), 1);

    const QStringList names = {"kelreferer", "email", "passworduser", "actiontype", "go"};
    const QStringList values = {"Signetrix", "", "", "none", "Envoyer"};
    for (int i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(browser->formElementName(0, i), names[i]);
        EXPECT_EQ(browser->formElementValue(0, i), values[i]);
    }
    EXPECT_EQ(browser->formElementName(1, 0), QStringLiteral("email"));
    EXPECT_EQ(browser->formElementValue(1, 0), QStringLiteral("second"));

    // Values with quotes and markup arrive as text, not as script.
    const QString tricky = QStringLiteral("a'b\"c</script>\\é");
    EXPECT_TRUE(browser->setFormElementValue(0, 1, tricky));
    EXPECT_EQ(browser->formElementValue(0, 1), tricky);

    struct OutOfRange {
        int form;
        int element;
    };
    for (const OutOfRange& r : {OutOfRange{2, 0}, OutOfRange{0, 5}, OutOfRange{-1, 0}}) {
        SCOPED_TRACE(QStringLiteral("form %1 element %2").arg(r.form).arg(r.element).toStdString());
        EXPECT_EQ(browser->formElementName(r.form, r.element), QString());
        EXPECT_EQ(browser->formElementValue(r.form, r.element), QString());
        EXPECT_FALSE(browser->setFormElementValue(r.form, r.element, QStringLiteral("x")));
    }
    EXPECT_EQ(browser->formElementCount(7), 0);
    EXPECT_FALSE(browser->submitForm(2));
}

TEST_F(EmbeddedBrowserTest, SubmittedFormReachesTheServerAndItsAnswerLoadsHere)
{
    server.route("/form", PageReply::html(kFormPage));
    server.route("/answer", PageReply::html("<html><body>  Validation en cours  </body></html>"));
    browser->navigate(server.url("/form"));
    ASSERT_TRUE(waitComplete(1));

    ASSERT_TRUE(browser->setFormElementValue(0, 1, QStringLiteral("moi@example.org")));
    ASSERT_TRUE(browser->setFormElementValue(0, 2, QStringLiteral("s3cret&=")));
    ASSERT_TRUE(browser->setFormElementValue(0, 3, QStringLiteral("ADD")));
    ASSERT_TRUE(browser->submitForm(0));
    ASSERT_TRUE(waitComplete(2));

    const auto* request = server.lastFor("/answer");
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(request->method, "POST");
    // form.submit() sends no submit button.
    EXPECT_EQ(request->body, "kelreferer=Signetrix&email=moi%40example.org&passworduser=s3cret%26%3D&actiontype=ADD");
    EXPECT_EQ(browser->currentAddress(), server.url("/answer"));
    EXPECT_EQ(browser->bodyInnerText(), QStringLiteral("Validation en cours"));
}

// The account form is driven in a browser that is hidden or squeezed into a
// panel of a pixel or so.
TEST_F(EmbeddedBrowserTest, FormsWorkInAHiddenOrTinyBrowser)
{
    server.route("/form", PageReply::html(kFormPage));
    server.route("/answer", PageReply::html("<html><body>12345</body></html>"));
    struct Case {
        const char* name;
        bool visible;
        QSize size;
    };
    const Case cases[] = {{"hidden", false, QSize(480, 320)}, {"one pixel", true, QSize(1, 1)}};
    int loads = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        browser->resize(c.size);
        browser->setVisible(c.visible);
        browser->navigate(server.url("/form"));
        ASSERT_TRUE(waitComplete(++loads));
        EXPECT_EQ(browser->elementCountByTagName(QStringLiteral("FORM")), 2);
        ASSERT_TRUE(browser->setFormElementValue(0, 1, QStringLiteral("a@b.c")));
        ASSERT_TRUE(browser->submitForm(0));
        ASSERT_TRUE(waitComplete(++loads));
        EXPECT_EQ(server.lastFor("/answer")->body, "kelreferer=Signetrix&email=a%40b.c&passworduser=&actiontype=none");
        EXPECT_EQ(browser->bodyInnerText(), QStringLiteral("12345"));
    }
}

TEST_F(EmbeddedBrowserTest, PageWithoutFormsHasNone)
{
    browser->loadHtml(QStringLiteral("<html><body><p>rien</p></body></html>"));
    ASSERT_TRUE(waitComplete(1));
    EXPECT_EQ(browser->formCount(), 0);
    EXPECT_EQ(browser->elementCountByTagName(QStringLiteral("FORM")), 0);
    EXPECT_EQ(browser->formElementCount(0), 0);
}

TEST_F(EmbeddedBrowserTest, NewWindowRequestsAreRefusedOrHandedToTheDesktop)
{
    struct Case {
        const char* name;
        bool cancel;
        const char* trigger; // script run by the page once loaded
    };
    const Case cases[] = {
        {"window.open refused", true, "window.open('/popup')"},
        {"link with target refused", true, "document.getElementById('l').click()"},
        {"window.open accepted", false, "window.open('/popup')"},
    };
    server.route("/popup", PageReply::html("<html><body>popup</body></html>"));
    server.route("/after", PageReply::html("<html><body>after</body></html>"));

    int loads = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<QUrl> opened;
        EmbeddedBrowser::setExternalOpener([&](const QUrl& url) { opened.push_back(url); });
        std::vector<QUrl> asked;
        auto connection = QObject::connect(browser.get(), &EmbeddedBrowser::newWindow,
                                           [&](const QUrl& url, bool* cancel) {
                                               asked.push_back(url);
                                               *cancel = c.cancel;
                                           });
        server.route("/opener", PageReply::html(QByteArray("<html><body><a id=\"l\" target=\"_blank\" href=\"/popup\">"
                                                           "lien</a><script>window.onload=function(){")
                                                + c.trigger + "};</script></body></html>"));
        browser->navigate(server.url("/opener"));
        ASSERT_TRUE(waitComplete(++loads));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !asked.empty(); }, kLoadWait));
        QObject::disconnect(connection);

        EXPECT_EQ(asked.size(), 1u);
        EXPECT_EQ(asked.front(), QUrl(server.url("/popup")));
        EXPECT_EQ(opened.size(), c.cancel ? 0u : 1u);
        // The embedded view itself loads nothing for the new window, and stays
        // on its page.
        browser->navigate(server.url("/after"));
        ASSERT_TRUE(waitComplete(++loads));
        EXPECT_EQ(server.countFor("/popup"), 0);
        EXPECT_EQ(browser->currentAddress(), server.url("/after"));
    }
}

} // namespace
