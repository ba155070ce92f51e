#pragma once
// The analysis report: one line per favorite of the favorites table with its
// path below the Favorites folder, its address, its result code, the
// designation the summary lists it under and, for a 3XX answer, the address it
// was redirected to. Two forms: CSV for spreadsheets and one self-contained
// HTML page. Names and addresses come from the user's files and from web
// servers, so both forms treat every text as hostile: the CSV never lets a
// spreadsheet run a field as a formula, the HTML never lets one become markup.
//
// Building a report never fails; writing one fails only as the file system
// does, and then leaves no partial file.
#include "favorites/FavoritesTable.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace signetrix {

// One favorite as the report shows it.
struct ReportRow {
    QString path;        // below the Favorites folder, '/'-separated
    QString address;     // the uncut address
    int code = 0;
    QString designation; // as in the summary, possibly empty
    QString redirection; // the Location of a 3XX answer, else empty
};

std::vector<ReportRow> ReportRows(const FavoritesTable& table, const QString& favoritesFolder);

// UTF-8 with a byte order mark (spreadsheets otherwise guess a legacy code
// page), ';' between fields as French spreadsheets expect, CR LF line ends, a
// header line "Chemin;Adresse;Code;Désignation;Redirection", RFC 4180 quoting.
QByteArray CsvReport(const FavoritesTable& table, const QString& favoritesFolder);

// A page without any external resource: the favorites grouped by designation
// in the summary's order, in one table whose column headers sort the
// favorites within each group.
QByteArray HtmlReport(const FavoritesTable& table, const QString& favoritesFolder);

enum class ReportFormat { Csv, Html };

struct ReportTarget {
    QString path;
    ReportFormat format = ReportFormat::Csv;
};

// The format follows the chosen name's extension, in any case: ".html" and
// ".htm" give HTML, ".csv" CSV. A name without an extension gets ".csv" (so
// the file opens in a spreadsheet); a name with another extension is kept as
// the user typed it and receives CSV.
ReportTarget ReportTargetFor(const QString& chosenPath);

// Writes the report for the chosen path through a temporary file renamed into
// place. Returns 0, or the errno-style error when nothing was written.
int WriteReport(const FavoritesTable& table, const QString& favoritesFolder, const ReportTarget& target);

} // namespace signetrix
