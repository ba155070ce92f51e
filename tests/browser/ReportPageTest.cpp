// The analysis report's HTML page, written to a file and opened in the
// embedded browser: every favorite under its summary designation, hostile
// names and addresses shown as text only, and the column headers sorting.
#include "analysis/Report.h"
#include "platform/CodePage.h"
#include "platform/browser/EmbeddedBrowser.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

namespace signetrix {
namespace {

using platform::EmbeddedBrowser;

constexpr int kLoadWait = 20000;
const QString kFolder = QStringLiteral("/home/u/Favorites");

// Each would mark the body if it ever ran.
constexpr char kScriptName[] = "a<script>document.body.setAttribute('data-pirate','script')</script>.url";
constexpr char kImageName[] = "<img src=x onerror=\"document.body.setAttribute('data-pirate','img')\">.url";
constexpr char kScriptAddress[] = "javascript:document.body.setAttribute('data-pirate','lien')";
constexpr char kQuoteAddress[] = "http://q.example/\" onmouseover=\"document.body.setAttribute('data-pirate','href')";
constexpr char kBoldLocation[] = "http://n.example/\"><b>gras</b>";

struct Favorite {
    const char* path;
    const char* url;
    int code;
    const char* location = "";
};

class ReportPageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const Favorite favorites[] = {
            {"Zèbre.url", kQuoteAddress, 200},
            {"été.url", "http://b.example/été", 200},
            {kScriptName, kScriptAddress, 404},
            {"Lointain.url", "http://l.example/", 1000},
            {"faux.url", "http://f.example/", 200},
            {kImageName, "http://i.example/", 404},
            {"Proche.url", "http://p.example/", 999},
            {"Milieu.url", "http://m.example/", 800},
            {"Renvoi.url", "http://r.example/", 301, kBoldLocation},
            // First counted after the 301: listed under its designation.
            {"Informatif.url", "http://i2.example/", 100},
            // No designation: one group, sorted by code as numbers.
            {"Inconnu.url", "http://u.example/", 1500},
            {"Attente.url", "http://w.example/", -1},
            {"Négatif.url", "http://n2.example/", -5},
        };
        for (const Favorite& f : favorites) {
            FavoriteRow& row = table.append();
            row.widePath = kFolder + '/' + QString::fromUtf8(f.path);
            row.fullUrl = codepage::toAnsi(QString::fromUtf8(f.url));
            row.iStatut = f.code;
            row.location = f.location;
        }
        ASSERT_TRUE(dir.isValid());
        browser = std::make_unique<EmbeddedBrowser>();
        browser->resize(640, 480);
        browser->show();
    }

    void open()
    {
        const QString file = dir.filePath(QStringLiteral("rapport.html"));
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(HtmlReport(table, kFolder));
        out.close();
        QSignalSpy completed(browser.get(), &EmbeddedBrowser::documentComplete);
        browser->navigate(QUrl::fromLocalFile(file));
        ASSERT_TRUE(QTest::qWaitFor([&] { return completed.count() > 0; }, kLoadWait));
        ASSERT_TRUE(completed.at(0).at(1).toBool());
    }

    QJsonValue query(const QString& expression)
    {
        const QVariant value = browser->evaluate(QStringLiteral("JSON.stringify(%1)").arg(expression));
        EXPECT_TRUE(value.isValid()) << expression.toStdString();
        return QJsonDocument::fromJson("[" + value.toString().toUtf8() + "]").array().at(0);
    }

    // Each group as [designation, [column texts of each favorite row]].
    QJsonArray groups(int column)
    {
        return query(QStringLiteral(
                         "Array.from(document.querySelectorAll('#rapport tbody')).map(b => "
                         "[b.getAttribute('data-designation'), Array.from(b.querySelectorAll('tr.favori'))"
                         ".map(r => r.cells[%1].textContent)])")
                         .arg(column))
            .toArray();
    }
    void clickHeader(int column)
    {
        browser->evaluate(QStringLiteral("document.querySelectorAll('#rapport thead button')[%1].click()").arg(column));
    }

    static QJsonArray group(const char* designation, QStringList texts)
    {
        return {QString::fromUtf8(designation), QJsonArray::fromStringList(texts)};
    }

    FavoritesTable table;
    QTemporaryDir dir;
    std::unique_ptr<EmbeddedBrowser> browser;
};

TEST_F(ReportPageTest, EveryFavoriteIsListedUnderItsDesignationInTheSummaryOrder)
{
    open();
    EXPECT_EQ(query("document.title").toString(), QStringLiteral("Rapport d'analyse des favoris"));
    EXPECT_EQ(query("document.characterSet").toString(), QStringLiteral("UTF-8"));

    const QJsonArray expected = {
        group("Valide(s)", {"Zèbre.url", "été.url", "faux.url"}),
        group("Re-direction(s)", {"Renvoi.url", "Informatif.url"}),
        group("Page(s) non trouvée(s)", {kScriptName, kImageName}),
        group("Domaine(s) inexistant(s)", {"Lointain.url", "Proche.url", "Milieu.url"}),
        group("", {"Inconnu.url", "Attente.url", "Négatif.url"}),
    };
    EXPECT_EQ(groups(0), expected);
    EXPECT_EQ(groups(3), QJsonArray({group("Valide(s)", {"", "", ""}),
                                     group("Re-direction(s)", {kBoldLocation, ""}),
                                     group("Page(s) non trouvée(s)", {"", ""}),
                                     group("Domaine(s) inexistant(s)", {"", "", ""}),
                                     group("", {"", "", ""})}));
}

TEST_F(ReportPageTest, HostileNamesAndAddressesAreShownAsTextOnly)
{
    open();
    // Nothing ran, and no element came from the favorites' texts.
    EXPECT_TRUE(query("document.body.getAttribute('data-pirate')").isNull());
    EXPECT_EQ(query("document.images.length").toInt(), 0);
    EXPECT_EQ(query("document.scripts.length").toInt(), 1) << "the page's own script only";
    EXPECT_EQ(query("document.getElementsByTagName('b').length").toInt(), 0);
    EXPECT_EQ(query("document.querySelectorAll('[onerror],[onmouseover],[src]').length").toInt(), 0);

    const QJsonArray addresses = groups(1);
    EXPECT_EQ(addresses.at(0).toArray().at(1).toArray().at(0).toString(), QString::fromUtf8(kQuoteAddress));
    EXPECT_EQ(addresses.at(2).toArray().at(1).toArray().at(0).toString(), QString::fromUtf8(kScriptAddress));
    // Web addresses are links, the script address is not; a quote in an
    // address stays inside its link.
    const QJsonArray links = query("Array.from(document.links).map(a => a.href)").toArray();
    EXPECT_EQ(links.size(), 12);
    for (const QJsonValue& link : links) {
        SCOPED_TRACE(link.toString().toStdString());
        EXPECT_TRUE(link.toString().startsWith(QStringLiteral("http://")));
    }
}

TEST_F(ReportPageTest, ClickingAColumnHeaderSortsTheFavoritesOfEachGroup)
{
    open();
    clickHeader(0); // "Chemin", in French alphabetical order
    EXPECT_EQ(groups(0), QJsonArray({
                             group("Valide(s)", {"été.url", "faux.url", "Zèbre.url"}),
                             group("Re-direction(s)", {"Informatif.url", "Renvoi.url"}),
                             group("Page(s) non trouvée(s)", {kImageName, kScriptName}), // signs first
                             group("Domaine(s) inexistant(s)", {"Lointain.url", "Milieu.url", "Proche.url"}),
                             group("", {"Attente.url", "Inconnu.url", "Négatif.url"}),
                         }));
    EXPECT_EQ(query("document.querySelectorAll('#rapport thead th')[0].getAttribute('aria-sort')").toString(),
              QStringLiteral("ascending"));

    clickHeader(0); // again: reversed
    EXPECT_EQ(groups(0).at(0), group("Valide(s)", {"Zèbre.url", "faux.url", "été.url"}));
    EXPECT_EQ(query("document.querySelectorAll('#rapport thead th')[0].getAttribute('aria-sort')").toString(),
              QStringLiteral("descending"));

    clickHeader(2); // "Code", as numbers
    EXPECT_EQ(groups(2).at(3), group("Domaine(s) inexistant(s)", {"800", "999", "1000"}));
    EXPECT_EQ(groups(2).at(1), group("Re-direction(s)", {"100", "301"}));
    EXPECT_EQ(groups(2).at(4), group("", {"-5", "-1", "1500"}));
    EXPECT_EQ(query("document.querySelectorAll('#rapport thead th')[0].getAttribute('aria-sort')").toString(),
              QStringLiteral("none"));
}

} // namespace
} // namespace signetrix
