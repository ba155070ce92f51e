#include "cleanup/Duplicates.h"

#include "cleanup/Corrections.h"
#include "cleanup/RedirectQueue.h"
#include "platform/CodePage.h"
#include "platform/Errors.h"
#include "platform/FileSystem.h"

#include <QCollator>
#include <QHash>

#include <algorithm>
#include <optional>
#include <unordered_set>
#include <vector>

namespace signetrix::cleanup {
namespace {

QByteArray fileNamePart(const QByteArray& path) { return path.mid(path.lastIndexOf('/') + 1); }

QByteArray removeAll(QByteArray text, const QByteArray& what)
{
    if (!what.isEmpty()) text.replace(what, QByteArray());
    return text;
}

} // namespace

QByteArray FormatDoublonRecord(const DoublonRecord& record)
{
    QByteArray out = QByteArray::number(record.keep);
    for (const QByteArray& p : record.paths) out += kDoublonSeparator + p;
    return out;
}

DoublonRecord ParseDoublonRecord(const QByteArray& record)
{
    DoublonRecord out;
    QByteArrayList fields;
    const QByteArray sep(kDoublonSeparator);
    for (qsizetype from = 0;;) {
        const qsizetype at = record.indexOf(sep, from);
        if (at < 0) {
            fields.append(record.mid(from));
            break;
        }
        fields.append(record.mid(from, at - from));
        from = at + sep.size();
    }
    if (fields.size() > 1 && fields.last().isEmpty()) fields.removeLast();
    int keep = -1;
    if (!TryStrToInt(QString::fromLatin1(fields.first()), keep)) keep = -1;
    out.keep = keep;
    out.paths = fields.mid(1);
    return out;
}

QByteArrayList FindDuplicates(const FavoritesTable& table)
{
    struct Line {
        QByteArray name;
        QByteArray path;
        QString text; // name "=" path, for the collation
    };
    std::vector<Line> lines;
    lines.reserve(static_cast<size_t>(table.size()));
    std::unordered_set<fs::FileId, fs::FileIdHash> seen;
    for (const FavoriteRow& row : table.rows()) {
        const QByteArray& path = rowPath(row);
        // A vanished member could end up as the one kept; a path holding the
        // separator cannot be recorded; the same file twice, under one path or
        // two (through a link), would delete itself.
        if (path.isEmpty() || path.contains(kDoublonSeparator)) continue;
        const std::optional<fs::FileId> id = fs::fileId(path);
        if (!id || !seen.insert(*id).second) continue;
        const QByteArray name = fileNamePart(path);
        lines.push_back({name, path, codepage::fromAnsi(name + '=' + path)});
    }

    QCollator collator{QLocale()};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(lines.begin(), lines.end(),
                     [&collator](const Line& a, const Line& b) { return collator.compare(a.text, b.text) < 0; });

    // Groups by the exact name, in sorted order; names that only differ in case
    // may interleave in that order, so grouping looks at every line, not only
    // at the one before.
    std::vector<QByteArrayList> groups;
    QHash<QByteArray, size_t> groupOf;
    for (const Line& l : lines) {
        const auto it = groupOf.constFind(l.name);
        if (it == groupOf.cend()) {
            groupOf.insert(l.name, groups.size());
            groups.push_back({l.path});
        } else {
            groups[*it].append(l.path);
        }
    }
    QByteArrayList records;
    for (const QByteArrayList& g : groups)
        if (g.size() >= 2) records.append(FormatDoublonRecord({0, g}));
    return records;
}

QString DoublonChoices::counterText() const
{
    return QString::number(m_index + 1) + QLatin1Char('/') + QString::number(count());
}

QString DoublonChoices::groupName(const QByteArray& root) const
{
    if (m_index < 0 || m_index >= count()) return QString();
    const DoublonRecord r = ParseDoublonRecord(m_records.at(m_index));
    if (r.paths.isEmpty()) return QString();
    const QByteArray name = removeAll(fileNamePart(removeAll(r.paths.first(), root)), ".url");
    return codepage::fromAnsi(name);
}

QStringList DoublonChoices::memberLines(const QByteArray& root) const
{
    QStringList out;
    if (m_index < 0 || m_index >= count()) return out;
    for (const QByteArray& p : ParseDoublonRecord(m_records.at(m_index)).paths) {
        const QByteArray rest = removeAll(p, root);
        out.append(codepage::fromAnsi(rest.left(rest.lastIndexOf('/') + 1)));
    }
    return out;
}

int DoublonChoices::keep() const
{
    if (m_index < 0 || m_index >= count()) return -1;
    return ParseDoublonRecord(m_records.at(m_index)).keep;
}

void DoublonChoices::StoreDoublonChoice(int position)
{
    if (m_index < 0 || m_index >= count()) return;
    DoublonRecord r = ParseDoublonRecord(m_records.at(m_index));
    if (position < 0 || position >= r.paths.size()) return;
    r.keep = position;
    m_records[m_index] = FormatDoublonRecord(r);
}

DuplicateDeletion DeleteDuplicates(const QByteArrayList& records, CleanupFiles& files, bool backupBeforeDelete)
{
    DuplicateDeletion out;
    // The files the kept members lead to, over every group: a member that is
    // another path to one of them (a link, a linked folder) is that favorite
    // itself and must survive.
    std::unordered_set<fs::FileId, fs::FileIdHash> kept;
    std::vector<DoublonRecord> parsed;
    for (const QByteArray& record : records) {
        DoublonRecord r = ParseDoublonRecord(record);
        if (r.keep < 0 || r.keep >= r.paths.size()) continue;
        const std::optional<fs::FileId> id = fs::fileId(r.paths.at(r.keep));
        if (!id) continue;
        kept.insert(*id);
        parsed.push_back(std::move(r));
    }
    QByteArrayList candidates;
    std::unordered_set<fs::FileId, fs::FileIdHash> condemned;
    for (const DoublonRecord& r : parsed) {
        for (int p = 0; p < r.paths.size(); ++p) {
            const QByteArray& path = r.paths.at(p);
            if (p == r.keep) continue;
            const std::optional<fs::FileId> id = fs::fileId(path);
            if (!id || kept.count(*id) || !condemned.insert(*id).second) continue;
            candidates.append(path);
        }
    }
    for (const QByteArray& path : candidates) {
        if (backupBeforeDelete && !safeToDelete(files.ArchiveFavorite(path))) out.notArchived.append(path);
        else out.toDelete.append(path);
    }
    out.deleteSucceeded = files.DeleteFavorites(out.toDelete);
    return out;
}

} // namespace signetrix::cleanup
