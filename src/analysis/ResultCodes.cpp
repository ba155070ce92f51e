#include "analysis/ResultCodes.h"

#include <QStringList>

#include <algorithm>

namespace signetrix {

std::vector<CodeCount> CountResultCodes(const FavoritesTable& table)
{
    std::vector<CodeCount> counts;
    for (const FavoriteRow& row : table.rows()) {
        const QString text = QString::number(row.iStatut);
        auto it = std::find_if(counts.begin(), counts.end(), [&](const CodeCount& c) { return c.code == text; });
        if (it != counts.end()) ++it->count;
        else counts.push_back({text, 1});
    }
    return counts;
}

namespace {

// The designation of a code that has one of its own; false for the codes that
// borrow the running designation.
bool OwnDesignation(int code, QString& designation)
{
    if ((code >= 0 && code <= 8) || (code >= 10 && code <= 199)) return false;
    if (code == kCodeUnreadable) designation = QStringLiteral("Fichier(s) lien(s) invalide(s)");
    else if (code >= 200 && code <= 299) designation = QStringLiteral("Valide(s)");
    else if (code == 301) designation = QStringLiteral("Re-direction(s)");
    else if (code == 302) designation = QStringLiteral("Re-direction(s) temporaire(s)");
    else if (code >= 300 && code <= 399) designation = QStringLiteral("Erreur 3XX");
    else if (code == 404) designation = QStringLiteral("Page(s) non trouvée(s)");
    else if (code >= 400 && code <= 499) designation = QStringLiteral("Erreur 4XX");
    else if (code >= 500 && code <= 599) designation = QStringLiteral("Erreur 5XX");
    else if (code >= 600 && code <= kCodeSecureConnection) designation = QStringLiteral("Authentification(s) requise(s)");
    else if (code >= 800 && code <= kCodeNoAnswer) designation = QStringLiteral("Domaine(s) inexistant(s)");
    else designation.clear(); // -1, 778-799, above 1000, below -1
    return true;
}

} // namespace

QString DesignationOfCode(int code, QString& running)
{
    QString own;
    if (OwnDesignation(code, own)) running = own;
    return running;
}

std::vector<DesignatedCount> DesignateCodes(const FavoritesTable& table)
{
    std::vector<DesignatedCount> designated;
    QString running;
    for (CodeCount& entry : CountResultCodes(table)) {
        QString designation = DesignationOfCode(entry.code.toInt(), running);
        designated.push_back({std::move(entry), std::move(designation)});
    }
    return designated;
}

Summary BuildSummary(const FavoritesTable& table)
{
    Summary summary;
    for (const DesignatedCount& d : DesignateCodes(table)) {
        const CodeCount& entry = d.entry;
        const QString& designation = d.designation;
        const int code = entry.code.toInt();
        auto it = std::find_if(summary.rows.begin(), summary.rows.end(),
                               [&](const SummaryRow& r) { return r.Designation == designation; });
        if (it != summary.rows.end()) it->iCount += entry.count;
        else summary.rows.push_back({entry.code, designation, entry.count, code});
    }
    std::stable_sort(summary.rows.begin(), summary.rows.end(),
                     [](const SummaryRow& a, const SummaryRow& b) { return a.iSort < b.iSort; });

    // Entries are separated by one empty line; neither column starts with a break.
    QStringList designations, counts;
    for (const SummaryRow& row : summary.rows) {
        designations << row.Designation;
        counts << QString::number(row.iCount);
    }
    summary.designationColumn = designations.join(QStringLiteral("\n\n"));
    summary.countColumn = counts.join(QStringLiteral("\n\n"));
    return summary;
}

} // namespace signetrix
