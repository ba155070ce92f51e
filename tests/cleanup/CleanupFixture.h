#pragma once
// A user's favorites tree under a temporary home, with the executable (and so
// the archive folder) in another temporary folder, and helpers to build the
// favorites table the cleanup reads.
#include "cleanup/CleanupFiles.h"
#include "favorites/FavoritesTable.h"
#include "platform/CodePage.h"
#include "support/TestSupport.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <cerrno>
#include <cstring>
#include <string>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace signetrix::test {

// Switches the program's code page for one test.
inline QByteArray shortcut(const QByteArray& url) { return "[InternetShortcut]\r\nURL=" + url + "\r\n"; }

class FavoritesTree {
public:
    FavoritesTree() { QDir().mkpath(favorites()); }

    QString favorites() const { return m_home.favorites(); }
    QString abs(const QString& rel) const { return favorites() + '/' + rel; }
    // The 8-bit form the favorites table keeps for a file.
    QByteArray ansi(const QString& rel) const { return codepage::toAnsi(abs(rel)); }
    QByteArray native(const QString& rel) const { return QFile::encodeName(abs(rel)); }

    QString write(const QString& rel, const QByteArray& bytes) const
    {
        const QString full = abs(rel);
        QDir().mkpath(QFileInfo(full).path());
        QFile f(full);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << full.toStdString();
        f.write(bytes);
        return full;
    }
    void mkdir(const QString& rel) const { QDir().mkpath(abs(rel)); }
    void makeReadOnly(const QString& rel) const { ::chmod(QFile::encodeName(abs(rel)).constData(), 0444); }
    bool exists(const QString& rel) const { return QFileInfo::exists(abs(rel)); }
    QByteArray read(const QString& rel) const { return readAbs(abs(rel)); }

    // Where the archive copy of a favorite goes on the fixed test date.
    QString archived(const QString& rel) const
    {
        return m_exe.folder() + QStringLiteral("Devodav Archives/") + dateFolder() + '/' + rel;
    }
    static QString dateFolder() { return cleanup::ArchiveDateText(testDate(), testLocale()); }
    QString exeFolder() const { return m_exe.folder(); }

    static QDate testDate() { return QDate(2026, 12, 9); }
    static QLocale testLocale() { return QLocale(QLocale::French, QLocale::France); }
    void fixClock(cleanup::CleanupFiles& files) const
    {
        files.setClock([] { return testDate(); });
        files.setLocale(testLocale());
    }

    static QByteArray readAbs(const QString& path)
    {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) return QByteArray();
        return f.readAll();
    }

    // One table row per (relative path, code), in the given order.
    void addRow(FavoritesTable& table, const QString& rel, int code) const
    {
        FavoriteRow& row = table.append();
        row.Index = table.size() - 1;
        row.fullPath = ansi(rel);
        row.stFileComplet = cutField(row.fullPath);
        row.iStatut = code;
        row.widePath = abs(rel);
    }

private:
    HomeGuard m_home;
    ExeFolderGuard m_exe;
};

// A small size-limited file system (tmpfs) mounted on a folder for one scope,
// where a copy that never ends fills it at once instead of the real disk.
// mounted() is false, with the reason, where mounting is not allowed.
class SmallFileSystem {
public:
    explicit SmallFileSystem(const QString& folder, const char* size = "size=1m")
        : m_folder(QFile::encodeName(folder))
    {
        QDir().mkpath(folder);
        if (::mount("tmpfs", m_folder.constData(), "tmpfs", MS_NOSUID | MS_NODEV, size) == 0) m_mounted = true;
        else m_reason = QString::fromLocal8Bit(::strerror(errno));
    }
    ~SmallFileSystem()
    {
        if (m_mounted) ::umount2(m_folder.constData(), MNT_DETACH);
    }
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;

    bool mounted() const { return m_mounted; }
    std::string reason() const { return "cannot mount a tmpfs: " + m_reason.toStdString(); }
    // Blocks in use: zero when nothing has been written.
    qint64 usedBlocks() const
    {
        struct statvfs v;
        if (::statvfs(m_folder.constData(), &v) != 0) return -1;
        return qint64(v.f_blocks) - qint64(v.f_bfree);
    }

private:
    QByteArray m_folder;
    bool m_mounted = false;
    QString m_reason;
};

} // namespace signetrix::test
