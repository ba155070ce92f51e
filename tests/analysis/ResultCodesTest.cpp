// Result codes, per-code counts and the summary built from them.
#include "analysis/ResultCodes.h"

#include <QStringList>

#include <gtest/gtest.h>

namespace signetrix {
namespace {

FavoritesTable TableOf(const std::vector<int>& codes)
{
    FavoritesTable table;
    for (int code : codes) table.append().iStatut = code;
    return table;
}

struct Designated {
    int code;
    const char* designation;
};

TEST(DesignationOfCode, EachCodeWithADesignationOfItsOwn)
{
    const Designated cases[] = {
        {9, "Fichier(s) lien(s) invalide(s)"},
        {200, "Valide(s)"}, {204, "Valide(s)"}, {299, "Valide(s)"},
        {300, "Erreur 3XX"}, {301, "Re-direction(s)"}, {302, "Re-direction(s) temporaire(s)"},
        {303, "Erreur 3XX"}, {304, "Erreur 3XX"}, {307, "Erreur 3XX"}, {399, "Erreur 3XX"},
        {400, "Erreur 4XX"}, {401, "Erreur 4XX"}, {403, "Erreur 4XX"}, {404, "Page(s) non trouvée(s)"},
        {405, "Erreur 4XX"}, {407, "Erreur 4XX"}, {410, "Erreur 4XX"}, {499, "Erreur 4XX"},
        {500, "Erreur 5XX"}, {503, "Erreur 5XX"}, {599, "Erreur 5XX"},
        {600, "Authentification(s) requise(s)"}, {650, "Authentification(s) requise(s)"},
        {776, "Authentification(s) requise(s)"}, {777, "Authentification(s) requise(s)"},
        {778, ""}, {799, ""},
        {800, "Domaine(s) inexistant(s)"}, {998, "Domaine(s) inexistant(s)"},
        {999, "Domaine(s) inexistant(s)"}, {1000, "Domaine(s) inexistant(s)"},
        {1001, ""}, {1500, ""}, {-1, ""}, {-2, ""},
    };
    for (const Designated& c : cases) {
        SCOPED_TRACE(c.code);
        QString running = QStringLiteral("previous");
        EXPECT_EQ(DesignationOfCode(c.code, running), QString::fromUtf8(c.designation));
        EXPECT_EQ(running, QString::fromUtf8(c.designation)) << "becomes the running designation";
    }
}

TEST(DesignationOfCode, InformationalCodesBorrowTheRunningDesignation)
{
    for (int code : {0, 1, 8, 10, 100, 199}) {
        SCOPED_TRACE(code);
        QString running = QStringLiteral("Erreur 5XX");
        EXPECT_EQ(DesignationOfCode(code, running), QStringLiteral("Erreur 5XX"));
        EXPECT_EQ(running, QStringLiteral("Erreur 5XX"));
        QString none;
        EXPECT_EQ(DesignationOfCode(code, none), QString()) << "first code: empty";
    }
}

TEST(CountResultCodes, CountsInOrderOfFirstAppearance)
{
    const auto counts = CountResultCodes(TableOf({404, 200, 404, 1000, 200, 200}));
    ASSERT_EQ(counts.size(), 3u);
    EXPECT_EQ(counts[0].code, "404");
    EXPECT_EQ(counts[0].count, 2);
    EXPECT_EQ(counts[1].code, "200");
    EXPECT_EQ(counts[1].count, 3);
    EXPECT_EQ(counts[2].code, "1000");
    EXPECT_EQ(counts[2].count, 1);
    EXPECT_TRUE(CountResultCodes(FavoritesTable()).empty());
}

struct Line {
    const char* designation;
    int count;
    int sort;
};

struct SummaryCase {
    const char* name;
    std::vector<int> codes;
    std::vector<Line> lines;
};

TEST(BuildSummary, LinesCountsAndOrder)
{
    const SummaryCase cases[] = {
        {"valid and not found", {200, 404, 200, 404, 200}, {{"Valide(s)", 3, 200}, {"Page(s) non trouvée(s)", 2, 404}}},
        {"4XX opened by 403 sorts before 404", {404, 403, 401},
         {{"Erreur 4XX", 2, 403}, {"Page(s) non trouvée(s)", 1, 404}}},
        {"4XX opened by 410 sorts after 404", {410, 404, 403},
         {{"Page(s) non trouvée(s)", 1, 404}, {"Erreur 4XX", 2, 410}}},
        {"permanent and temporary redirects apart", {302, 301},
         {{"Re-direction(s)", 1, 301}, {"Re-direction(s) temporaire(s)", 1, 302}}},
        {"3XX opened by 304 after the redirects", {304, 302, 301, 300},
         {{"Re-direction(s)", 1, 301}, {"Re-direction(s) temporaire(s)", 1, 302}, {"Erreur 3XX", 2, 304}}},
        {"777 and 650 add up", {777, 650, 777}, {{"Authentification(s) requise(s)", 3, 777}}},
        {"999 and 1000 add up", {999, 1000, 1000}, {{"Domaine(s) inexistant(s)", 3, 999}}},
        {"100 after 200 counts as valid", {200, 100}, {{"Valide(s)", 2, 200}}},
        {"1500 has an empty line", {1500, 200}, {{"Valide(s)", 1, 200}, {"", 1, 1500}}},
        {"unreadable first", {200, 9, 9}, {{"Fichier(s) lien(s) invalide(s)", 2, 9}, {"Valide(s)", 1, 200}}},
        {"empty table", {}, {}},
    };
    for (const SummaryCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Summary summary = BuildSummary(TableOf(c.codes));
        ASSERT_EQ(summary.rows.size(), c.lines.size());
        QStringList designations, counts;
        for (size_t i = 0; i < c.lines.size(); ++i) {
            EXPECT_EQ(summary.rows[i].Designation, QString::fromUtf8(c.lines[i].designation)) << i;
            EXPECT_EQ(summary.rows[i].iCount, c.lines[i].count) << i;
            EXPECT_EQ(summary.rows[i].iSort, c.lines[i].sort) << i;
            EXPECT_EQ(summary.rows[i].CodesSommaire, QString::number(c.lines[i].sort)) << i;
            designations << QString::fromUtf8(c.lines[i].designation);
            counts << QString::number(c.lines[i].count);
        }
        EXPECT_EQ(summary.designationColumn, designations.join(QStringLiteral("\n\n")));
        EXPECT_EQ(summary.countColumn, counts.join(QStringLiteral("\n\n")));
    }
}

// A line whose designation is empty must not shift the counts against the
// designations, even when it comes first.
TEST(BuildSummary, ColumnsStayAlignedWithALeadingEmptyDesignation)
{
    const Summary summary = BuildSummary(TableOf({-5, 200, 200, 404, 404, 404}));
    ASSERT_EQ(summary.rows.size(), 3u);
    const QStringList designations = summary.designationColumn.split('\n');
    const QStringList counts = summary.countColumn.split('\n');
    ASSERT_EQ(designations.size(), counts.size());
    EXPECT_EQ(designations.indexOf(QStringLiteral("Valide(s)")), counts.indexOf(QStringLiteral("2")));
    EXPECT_EQ(designations.indexOf(QStringLiteral("Page(s) non trouvée(s)")), counts.indexOf(QStringLiteral("3")));
    EXPECT_EQ(counts.first(), QStringLiteral("1")) << "the empty line keeps its count";
}

} // namespace
} // namespace signetrix
