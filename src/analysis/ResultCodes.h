#pragma once
// The summary shown after an analysis: the per-code counts, the category
// designation of each code and the summary table with its two text columns. Pure logic; never fails on any code.
#include "favorites/FavoritesTable.h"
#include "favorites/ResultCodes.h"

#include <QString>

#include <vector>

namespace signetrix {

// One entry of the per-code counts, in order of first appearance.
struct CodeCount {
    QString code; // the code as decimal text
    int count = 0;
};

std::vector<CodeCount> CountResultCodes(const FavoritesTable& table);

// The designation of one code. Codes 0-8 and 10-199 carry no category of their
// own and take the running designation (the one of the code counted just
// before); every other code sets the running designation to its own.
QString DesignationOfCode(int code, QString& running);

// Each entry of the per-code counts with the designation the summary lists
// its favorites under: DesignationOfCode applied in order of first appearance,
// so a code without a category of its own joins the one counted before it.
struct DesignatedCount {
    CodeCount entry;
    QString designation;
};
std::vector<DesignatedCount> DesignateCodes(const FavoritesTable& table);

// One row of MemoryTableSommaire.
struct SummaryRow {
    QString CodesSommaire; // code text that opened the row
    QString Designation;
    qint32 iCount = 0;
    qint32 iSort = 0;      // the opening code as a number
};

struct Summary {
    std::vector<SummaryRow> rows;   // sorted by iSort
    QString designationColumn;      // lSommaireResults
    QString countColumn;            // lSommaireResultsCount
};

inline constexpr int kSummaryDesignationWidth = 280;

Summary BuildSummary(const FavoritesTable& table);

} // namespace signetrix
