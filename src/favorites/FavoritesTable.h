#pragma once
// The favorites table (MemoryTable1): one row per favorite of an analysis, in
// memory only. The 8-bit text fields are cut to 255 characters as stored; the
// full forms are kept beside them and are what every file operation and the
// link check use, so nothing ever acts on a cut path.
#include <QByteArray>
#include <QString>

#include <vector>

namespace signetrix {

inline constexpr int kFieldWidth = 255;

// Cuts an 8-bit text to the table's field width.
inline QByteArray cutField(const QByteArray& text) { return text.left(kFieldWidth); }

struct FavoriteRow {
    qint32 Index = 0;          // position in the favorite file list, from 0
    QString stNomPage;         // declared; nothing fills or reads it
    QByteArray stFile;         // display name, cut
    QByteArray stUrl;          // address read from the file, cut
    QByteArray stFileComplet;  // 8-bit form of the full path, cut
    qint32 iStatut = -1;       // result code (favorites/ResultCodes.h), -1 before the check
    QString stFile_;           // declared wide twins, unused
    QString stFileComplet_;

    QByteArray fullPath;       // 8-bit form of the full path, uncut
    QByteArray fullUrl;        // address, uncut
    QString widePath;          // the listed Unicode path
    QByteArray location;       // Location header of the answer that set iStatut (for the report)
};

class FavoritesTable {
public:
    void clear() { m_rows.clear(); }
    FavoriteRow& append() { return m_rows.emplace_back(); }
    int size() const { return static_cast<int>(m_rows.size()); }
    bool isEmpty() const { return m_rows.empty(); }
    FavoriteRow& operator[](int i) { return m_rows[static_cast<size_t>(i)]; }
    const FavoriteRow& operator[](int i) const { return m_rows[static_cast<size_t>(i)]; }
    std::vector<FavoriteRow>& rows() { return m_rows; }
    const std::vector<FavoriteRow>& rows() const { return m_rows; }

private:
    std::vector<FavoriteRow> m_rows;
};

} // namespace signetrix
