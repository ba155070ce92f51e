// The analysis report's CSV read back by a real CSV reader (Python's csv
// module, as a spreadsheet import would split it), and the choice of format
// and file name from the name the user typed.
#include "analysis/Report.h"

#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace signetrix {
namespace {

const QString kFolder = QStringLiteral("/home/u/Favorites");

struct Favorite {
    const char* path; // below kFolder unless it starts with '/'
    const char* url;
    int code;
    const char* location;
};

FavoritesTable TableOf(std::initializer_list<Favorite> favorites)
{
    FavoritesTable table;
    for (const Favorite& f : favorites) {
        FavoriteRow& row = table.append();
        const QString path = QString::fromUtf8(f.path);
        row.widePath = path.startsWith('/') ? path : kFolder + '/' + path;
        row.fullPath = codepage::toAnsi(row.widePath);
        row.fullUrl = codepage::toAnsi(QString::fromUtf8(f.url));
        row.stUrl = cutField(row.fullUrl);
        row.iStatut = f.code;
        row.location = QByteArray(f.location);
    }
    return table;
}

// The records of a CSV file as Python's csv module reads them (';', UTF-8
// with or without its byte order mark); strict mode refuses bad quoting.
QList<QStringList> ReadWithPython(const QString& file)
{
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import csv, json, sys\n"
                                 "with open(sys.argv[1], encoding='utf-8-sig', newline='') as f:\n"
                                 "    print(json.dumps(list(csv.reader(f, delimiter=';', strict=True))))\n"),
                  file});
    if (!python.waitForFinished(30000) || python.exitCode() != 0) {
        ADD_FAILURE() << "python: " << python.readAllStandardError().toStdString();
        return {};
    }
    QList<QStringList> records;
    for (const QJsonValue& record : QJsonDocument::fromJson(python.readAllStandardOutput()).array()) {
        QStringList fields;
        for (const QJsonValue& field : record.toArray()) fields << field.toString();
        records << fields;
    }
    return records;
}

// Rows in table order; the running designation follows the order of first
// appearance: the 100 comes after a 200 row but is first counted after the
// 301, so it is listed under "Re-direction(s)".
const FavoritesTable& Table()
{
    static const FavoritesTable table = TableOf({
        {"Dossier;un/Point;virgule.url", "http://a.example/?q=1;2", 200, ""},
        {"Citation \"double\".url", "http://b.example/\"x\"", 404, ""},
        {"Deux\r\nlignes.url", "http://c.example/", 302, "http://c.example/nouveau"},
        {"Café/Привет мир.url", "http://пример.example/é", 301, "http://пример.example/новый"},
        {"=HYPERLINK(\"http://evil.example\";\"x\").url", "@SUM(1+1)", 200, ""},
        {"-2+3.url", "+cmd|' /C calc'!A0", 100, ""},
        {"\tTab.url", "http://d.example/", 301, "=1+1"},
        {"\rRetour.url", "http://d2.example/", 200, ""},
        {"Valide avec Location.url", "http://e.example/", 200, "http://e.example/ailleurs"},
        {"Inconnu.url", "http://f.example/", 1500, ""},
        {"/home/u/FavoritesOld/Hors.url", "http://g.example/", 404, ""},
    });
    return table;
}

TEST(CsvReport, ReadsBackAsTheTableWithTheSummaryDesignations)
{
    test::TempTree dir;
    const QString file = dir.write(QStringLiteral("rapport.csv"), CsvReport(Table(), kFolder));

    const QList<QStringList> expected = {
        {"Chemin", "Adresse", "Code", "Désignation", "Redirection"},
        {"Dossier;un/Point;virgule.url", "http://a.example/?q=1;2", "200", "Valide(s)", ""},
        {"Citation \"double\".url", "http://b.example/\"x\"", "404", "Page(s) non trouvée(s)", ""},
        {"Deux\r\nlignes.url", "http://c.example/", "302", "Re-direction(s) temporaire(s)", "http://c.example/nouveau"},
        {"Café/Привет мир.url", "http://пример.example/é", "301", "Re-direction(s)", "http://пример.example/новый"},
        // Whatever a spreadsheet would run as a formula starts with an apostrophe.
        {"'=HYPERLINK(\"http://evil.example\";\"x\").url", "'@SUM(1+1)", "200", "Valide(s)", ""},
        {"'-2+3.url", "'+cmd|' /C calc'!A0", "100", "Re-direction(s)", ""},
        {"'\tTab.url", "http://d.example/", "301", "Re-direction(s)", "'=1+1"},
        {"'\rRetour.url", "http://d2.example/", "200", "Valide(s)", ""},
        {"Valide avec Location.url", "http://e.example/", "200", "Valide(s)", ""}, // Location only for 3XX
        {"Inconnu.url", "http://f.example/", "1500", "", ""},
        {"/home/u/FavoritesOld/Hors.url", "http://g.example/", "404", "Page(s) non trouvée(s)", ""},
    };
    const QList<QStringList> records = ReadWithPython(file);
    ASSERT_EQ(records.size(), expected.size());
    for (qsizetype i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(records[i], expected[i]);
    }
}

TEST(CsvReport, IsUtf8WithAByteOrderMarkAndCrLfAfterEveryRecord)
{
    const QByteArray bytes = CsvReport(Table(), kFolder);
    EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF" "Chemin;Adresse;Code;D\xC3\xA9signation;Redirection\r\n"));
    EXPECT_TRUE(bytes.contains("Caf\xC3\xA9/\xD0\x9F")) << "UTF-8, not a legacy code page";

    // Line breaks inside quoted fields are the favorite's own; every other one
    // ends a record and is CR LF.
    QString outside = QString::fromUtf8(bytes);
    outside.remove(QRegularExpression(QStringLiteral("\"(?:[^\"]|\"\")*\"")));
    EXPECT_EQ(outside.count(QStringLiteral("\r\n")), Table().size() + 1);
    EXPECT_EQ(outside.count('\n'), Table().size() + 1);
    EXPECT_TRUE(outside.endsWith(QStringLiteral("\r\n")));
}

TEST(CsvReport, AnEmptyTableGivesTheHeaderOnly)
{
    EXPECT_EQ(CsvReport(FavoritesTable(), kFolder),
              QByteArray("\xEF\xBB\xBF" "Chemin;Adresse;Code;D\xC3\xA9signation;Redirection\r\n"));
}

TEST(ReportTargetFor, TheExtensionChoosesTheFormatAndANameWithoutOneBecomesCsv)
{
    const struct {
        const char* chosen;
        const char* path;
        ReportFormat format;
    } cases[] = {
        {"/t/r.csv", "/t/r.csv", ReportFormat::Csv},
        {"/t/r.CSV", "/t/r.CSV", ReportFormat::Csv},
        {"/t/r.html", "/t/r.html", ReportFormat::Html},
        {"/t/r.Htm", "/t/r.Htm", ReportFormat::Html},
        {"/t/r", "/t/r.csv", ReportFormat::Csv},
        {"/t/r.", "/t/r.csv", ReportFormat::Csv},
        {"/t/r.txt", "/t/r.txt", ReportFormat::Csv},
        {"/t/d.html/r", "/t/d.html/r.csv", ReportFormat::Csv}, // a folder's extension is no file's
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chosen);
        const ReportTarget target = ReportTargetFor(QString::fromUtf8(c.chosen));
        EXPECT_EQ(target.path, QString::fromUtf8(c.path));
        EXPECT_EQ(target.format, c.format);
    }
}

} // namespace
} // namespace signetrix
