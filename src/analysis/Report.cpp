#include "analysis/Report.h"

#include "analysis/ResultCodes.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/ProfileStrings.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QHash>
#include <QStringList>
#include <QUrl>

namespace signetrix {
namespace {

QString RelativePath(const QString& path, const QString& favoritesFolder)
{
    if (favoritesFolder.isEmpty()) return path;
    const QString prefix = favoritesFolder.endsWith('/') ? favoritesFolder : favoritesFolder + '/';
    return path.startsWith(prefix) ? path.mid(prefix.size()) : path;
}

bool IsRedirection(int code) { return code >= 300 && code <= 399; }

// --- CSV ------------------------------------------------------------------------

// A spreadsheet runs a cell that begins with one of these as a formula
// (=HYPERLINK(...), +cmd|...); names, addresses and Location headers are
// written by others, so such a field gets a leading apostrophe, which the
// spreadsheet shows as text.
bool LooksLikeFormula(const QString& field)
{
    if (field.isEmpty()) return false;
    switch (field.front().unicode()) {
    case '=': case '+': case '-': case '@': case '\t': case '\r': return true;
    default: return false;
    }
}

QString CsvField(QString field, bool untrusted)
{
    if (untrusted && LooksLikeFormula(field)) field.prepend('\'');
    if (!field.contains(QLatin1Char(';')) && !field.contains(QLatin1Char('"')) && !field.contains(QLatin1Char('\r'))
        && !field.contains(QLatin1Char('\n')))
        return field;
    field.replace(QLatin1String("\""), QLatin1String("\"\""));
    return '"' + field + '"';
}

// --- HTML -----------------------------------------------------------------------

QString Html(const QString& text) { return text.toHtmlEscaped(); }

// Only web addresses become links: a "javascript:" or "data:" favorite must
// not run when clicked. The link carries the address as Qt re-encodes it, so
// no character of the original can end the attribute or hide the scheme.
QString AddressCell(const QString& address)
{
    const QUrl url(address);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return Html(address);
    return QStringLiteral("<a href=\"%1\" rel=\"noopener noreferrer\">%2</a>")
        .arg(Html(QString::fromLatin1(url.toEncoded())), Html(address));
}

// Sorts the favorites of every group by the clicked column; a second click on
// the same column reverses the order. Equal keys keep the table's order.
constexpr char kSortScript[] = R"JS(
(function () {
  var table = document.getElementById('rapport');
  if (!table || !table.tHead) return;
  var heads = table.tHead.rows[0].cells;
  var collator = new Intl.Collator('fr', {numeric: true, sensitivity: 'base'});
  var current = -1, direction = 1;
  function sortBy(col) {
    direction = col === current ? -direction : 1;
    current = col;
    var numeric = heads[col].getAttribute('data-type') === 'nombre';
    Array.prototype.forEach.call(table.tBodies, function (body) {
      var rows = Array.prototype.slice.call(body.querySelectorAll('tr.favori'));
      rows.sort(function (a, b) {
        var x = a.cells[col].textContent, y = b.cells[col].textContent;
        var order = numeric ? Number(x) - Number(y) : collator.compare(x, y);
        return order * direction || a.getAttribute('data-ordre') - b.getAttribute('data-ordre');
      });
      rows.forEach(function (row) { body.appendChild(row); });
    });
    Array.prototype.forEach.call(heads, function (head, i) {
      head.setAttribute('aria-sort', i !== col ? 'none' : direction > 0 ? 'ascending' : 'descending');
    });
  }
  Array.prototype.forEach.call(heads, function (head, i) {
    head.querySelector('button').addEventListener('click', function () { sortBy(i); });
  });
})();
)JS";

constexpr char kStyle[] = R"CSS(
body { font-family: Tahoma, Verdana, sans-serif; font-size: 13px; margin: 16px; color: #1a1a1a; }
h1 { font-size: 18px; }
table { border-collapse: collapse; width: 100%; }
th, td { border: 1px solid #c8d2de; padding: 3px 6px; text-align: left; vertical-align: top; }
td { word-break: break-all; }
thead th { background: #dfe8f3; }
thead button { font: inherit; font-weight: bold; border: 0; background: none; cursor: pointer; padding: 0; }
thead th[aria-sort=ascending] button::after { content: " \25B2"; }
thead th[aria-sort=descending] button::after { content: " \25BC"; }
tr.groupe th { background: #7f9fc6; color: #fff; }
tr.groupe .vide { font-style: italic; }
)CSS";

// The page allows its own script (by hash) and style and nothing else, so even
// markup that slipped through could neither run nor load anything.
QString SecurityPolicy()
{
    const QByteArray hash = QCryptographicHash::hash(QByteArray(kSortScript), QCryptographicHash::Sha256).toBase64();
    return QStringLiteral("default-src 'none'; style-src 'unsafe-inline'; script-src 'sha256-%1'")
        .arg(QString::fromLatin1(hash));
}

} // namespace

std::vector<ReportRow> ReportRows(const FavoritesTable& table, const QString& favoritesFolder)
{
    QHash<int, QString> designations;
    for (const DesignatedCount& d : DesignateCodes(table)) designations.insert(d.entry.code.toInt(), d.designation);

    std::vector<ReportRow> rows;
    rows.reserve(table.rows().size());
    for (const FavoriteRow& row : table.rows()) {
        const QString path = row.widePath.isEmpty() ? codepage::fromAnsi(row.fullPath) : row.widePath;
        rows.push_back({RelativePath(path, favoritesFolder), codepage::fromAnsi(row.fullUrl), row.iStatut,
                        designations.value(row.iStatut),
                        IsRedirection(row.iStatut) ? codepage::fromAnsi(row.location) : QString()});
    }
    return rows;
}

QByteArray CsvReport(const FavoritesTable& table, const QString& favoritesFolder)
{
    QString text = QStringLiteral("Chemin;Adresse;Code;Désignation;Redirection\r\n");
    for (const ReportRow& row : ReportRows(table, favoritesFolder)) {
        const QStringList fields = {CsvField(row.path, true), CsvField(row.address, true),
                                    QString::number(row.code), CsvField(row.designation, false),
                                    CsvField(row.redirection, true)};
        text += fields.join(';') + QStringLiteral("\r\n");
    }
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

QByteArray HtmlReport(const FavoritesTable& table, const QString& favoritesFolder)
{
    const std::vector<ReportRow> rows = ReportRows(table, favoritesFolder);
    QString html = QStringLiteral(
                       "<!DOCTYPE html>\n<html lang=\"fr\">\n<head>\n<meta charset=\"utf-8\">\n"
                       "<meta http-equiv=\"Content-Security-Policy\" content=\"%1\">\n"
                       "<meta name=\"referrer\" content=\"no-referrer\">\n"
                       "<title>Rapport d'analyse des favoris</title>\n<style>%2</style>\n</head>\n<body>\n"
                       "<h1>Rapport d'analyse des favoris</h1>\n"
                       "<p>%3 favori(s), classés par catégorie comme dans le résumé de l'analyse. "
                       "Un clic sur le titre d'une colonne trie les favoris de chaque catégorie.</p>\n"
                       "<table id=\"rapport\">\n<thead><tr>"
                       "<th scope=\"col\" aria-sort=\"none\"><button type=\"button\">Chemin</button></th>"
                       "<th scope=\"col\" aria-sort=\"none\"><button type=\"button\">Adresse</button></th>"
                       "<th scope=\"col\" aria-sort=\"none\" data-type=\"nombre\"><button type=\"button\">Code</button></th>"
                       "<th scope=\"col\" aria-sort=\"none\"><button type=\"button\">Redirection</button></th>"
                       "</tr></thead>\n")
                       .arg(SecurityPolicy(), QString::fromLatin1(kStyle), QString::number(rows.size()));

    // One group per summary line, in the summary's order.
    for (const SummaryRow& group : BuildSummary(table).rows) {
        const QString heading = group.Designation.isEmpty()
                                    ? QStringLiteral("<span class=\"vide\">Sans désignation</span>")
                                    : Html(group.Designation);
        html += QStringLiteral("<tbody data-designation=\"%1\">\n<tr class=\"groupe\"><th colspan=\"4\" "
                               "scope=\"rowgroup\">%2 (%3)</th></tr>\n")
                    .arg(Html(group.Designation), heading, QString::number(group.iCount));
        for (size_t i = 0; i < rows.size(); ++i) {
            const ReportRow& row = rows[i];
            if (row.designation != group.Designation) continue;
            html += QStringLiteral("<tr class=\"favori\" data-ordre=\"%1\"><td>%2</td><td>%3</td><td>%4</td>"
                                   "<td>%5</td></tr>\n")
                        .arg(QString::number(i), Html(row.path), AddressCell(row.address),
                             QString::number(row.code), Html(row.redirection));
        }
        html += QStringLiteral("</tbody>\n");
    }
    html += QStringLiteral("</table>\n<script>%1</script>\n</body>\n</html>\n").arg(QString::fromLatin1(kSortScript));
    return html.toUtf8();
}

ReportTarget ReportTargetFor(const QString& chosenPath)
{
    const QString suffix = QFileInfo(chosenPath).suffix().toLower();
    if (suffix == QLatin1String("html") || suffix == QLatin1String("htm")) return {chosenPath, ReportFormat::Html};
    if (!suffix.isEmpty()) return {chosenPath, ReportFormat::Csv};
    return {chosenPath.endsWith('.') ? chosenPath + QStringLiteral("csv") : chosenPath + QStringLiteral(".csv"),
            ReportFormat::Csv};
}

int WriteReport(const FavoritesTable& table, const QString& favoritesFolder, const ReportTarget& target)
{
    const QByteArray bytes = target.format == ReportFormat::Html ? HtmlReport(table, favoritesFolder)
                                                                 : CsvReport(table, favoritesFolder);
    int error = 0;
    return platform::replaceFileContents(fs::nativeFromWide(target.path), bytes, &error) ? 0 : error;
}

} // namespace signetrix
