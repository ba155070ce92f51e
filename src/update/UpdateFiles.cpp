#include "update/UpdateFiles.h"

#include "backup/ZipDirectory.h"

#include "platform/FileSystem.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QTimeZone>

#include <zip.h>

#include <atomic>
#include <cerrno>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace signetrix::update {
namespace {

constexpr qsizetype kChunk = 64 * 1024;
constexpr qint64 kMaxTotalBytes = qint64(1) << 30;
constexpr qsizetype kMaxNameBytes = 255;
using zipdir::CentralRecord;
using zipdir::kFlagEncrypted;
using zipdir::kFlagUtf8;
using zipdir::le32;
using zipdir::readCentralDirectory;
constexpr quint32 kDosFolder = 0x10;
constexpr zip_uint16_t kExtendedTimestamp = 0x5455;
constexpr zip_uint16_t kOldUnixExtra = 0x5855;
constexpr mode_t kDefaultMode = 0644;

using fs::Fd;

QString systemText(int error) { return fs::lastErrorText(error); }

// The stored modification time: Info-ZIP's extra fields carry the exact
// second in UTC; the DOS fields hold local time.
std::optional<time_t> storedMtime(zip_t* za, zip_uint64_t index, const CentralRecord& r)
{
    for (const zip_flags_t where : {ZIP_FL_CENTRAL, ZIP_FL_LOCAL}) {
        zip_uint16_t len = 0;
        const zip_uint8_t* p = zip_file_extra_field_get_by_id(za, index, kExtendedTimestamp, 0, &len, where);
        if (p && len >= 5 && (p[0] & 0x01)) return time_t(qint32(le32(reinterpret_cast<const char*>(p + 1))));
    }
    for (const zip_flags_t where : {ZIP_FL_CENTRAL, ZIP_FL_LOCAL}) {
        zip_uint16_t len = 0;
        const zip_uint8_t* p = zip_file_extra_field_get_by_id(za, index, kOldUnixExtra, 0, &len, where);
        if (p && len >= 8) return time_t(qint32(le32(reinterpret_cast<const char*>(p + 4))));
    }
    struct tm tm {};
    tm.tm_year = 80 + (r.dosDate >> 9);
    tm.tm_mon = ((r.dosDate >> 5) & 0x0F) - 1;
    tm.tm_mday = r.dosDate & 0x1F;
    tm.tm_hour = r.dosTime >> 11;
    tm.tm_min = (r.dosTime >> 5) & 0x3F;
    tm.tm_sec = (r.dosTime & 0x1F) * 2;
    tm.tm_isdst = -1;
    if (tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_hour > 23 || tm.tm_min > 59 || tm.tm_sec > 59)
        return std::nullopt;
    const time_t t = ::mktime(&tm);
    if (t == time_t(-1)) return std::nullopt;
    return t;
}

struct Entry {
    zip_uint64_t index = 0;
    QString name; // as stored, for messages
    QString leaf;
    QByteArray nativeLeaf;
    qint64 size = 0;
    std::optional<time_t> mtime;
    mode_t mode = kDefaultMode;
    bool superseded = false; // a later entry has the same name
    QByteArray temp;
};

// Reads an entry to its end, where libzip checks the CRC, handing the data
// to sink in chunks; the sink may explain its own refusal in error.
template <typename Sink> bool streamEntry(zip_t* za, const Entry& e, Sink&& sink, QString& error)
{
    QString library;
    const auto pass = [&](const char* data, qint64 n) { return sink(data, n, error); };
    switch (zipdir::streamEntry(za, e.index, e.size, pass, &library)) {
    case zipdir::EntryFault::None: return true;
    case zipdir::EntryFault::Sink: return false;
    case zipdir::EntryFault::Open:
        error = QStringLiteral("l'entrée « %1 » ne peut pas être lue : %2").arg(e.name, library);
        return false;
    case zipdir::EntryFault::Damaged:
        error = library.isEmpty() ? QStringLiteral("l'entrée « %1 » est endommagée").arg(e.name)
                                  : QStringLiteral("l'entrée « %1 » est endommagée : %2").arg(e.name, library);
        return false;
    case zipdir::EntryFault::Longer:
        error = QStringLiteral("l'entrée « %1 » est plus longue qu'annoncé").arg(e.name);
        return false;
    case zipdir::EntryFault::Shorter:
        error = QStringLiteral("l'entrée « %1 » est plus courte qu'annoncé").arg(e.name);
        return false;
    }
    return false;
}

// Why a name left after dropping its folders cannot be written, or empty.
QString leafFault(const QString& leaf, const QByteArray& native)
{
    if (leaf.isEmpty()) return QStringLiteral("nom vide");
    if (leaf == QLatin1String(".") || leaf == QLatin1String("..")) return QStringLiteral("nom « %1 »").arg(leaf);
    if (leaf.contains(QLatin1Char('\\'))) return QStringLiteral("barre oblique inverse dans le nom");
    if (native.size() > kMaxNameBytes) return QStringLiteral("nom trop long");
    // Listings skip that pattern: the file would never be installed.
    if (fs::isTempFileName(native)) return QStringLiteral("nom réservé aux fichiers temporaires");
    return QString();
}

void removeTemps(std::vector<Entry>& entries)
{
    for (Entry& e : entries) {
        if (!e.temp.isEmpty()) ::unlink(e.temp.constData());
        e.temp.clear();
    }
}

} // namespace

UnpackUpdateResult UnpackUpdateArchive(const QString& archivePath, const QString& folder)
{
    UnpackUpdateResult result;
    auto fail = [&result](const QString& error) {
        result.ok = false;
        result.error = error;
        result.files.clear();
        return result;
    };

    // --- The archive, checked whole.
    int openError = 0;
    Fd archiveFd(fs::openRegularFile(fs::nativeFromWide(archivePath), &openError));
    if (!archiveFd)
        return fail(
            QStringLiteral("L'archive %1 ne peut pas être ouverte : %2.").arg(archivePath, systemText(openError)));
    const QString corrupt = QStringLiteral("L'archive %1 est incomplète ou endommagée.").arg(archivePath);
    std::vector<CentralRecord> records;
    if (!readCentralDirectory(archiveFd.get(), records)) return fail(corrupt);
    Fd zipFd(::fcntl(archiveFd.get(), F_DUPFD_CLOEXEC, 0));
    int zerr = 0;
    zip_t* za = zipFd ? zip_fdopen(zipFd.get(), ZIP_RDONLY | ZIP_CHECKCONS, &zerr) : nullptr;
    if (!za) return fail(corrupt);
    zipFd.release(); // libzip owns it now
    std::unique_ptr<zip_t, void (*)(zip_t*)> zipCloser(za, zip_discard);
    if (zip_get_num_entries(za, 0) != zip_int64_t(records.size())) return fail(corrupt);

    std::vector<Entry> entries;
    QHash<QByteArray, size_t> lastWithName;
    qint64 totalBytes = 0;
    for (zip_uint64_t i = 0; i < records.size(); ++i) {
        const CentralRecord& r = records[i];
        // Both readers must see the same directory (libzip shows a NUL as a space).
        const char* libzipName = zip_get_name(za, i, ZIP_FL_ENC_RAW);
        if (!libzipName || QByteArray(libzipName) != QByteArray(r.name).replace('\0', ' ')) return fail(corrupt);
        QString shown = QString::fromUtf8(r.name);
        shown.replace(QChar(0), QStringLiteral("\\0"));
        auto refuse = [&](const QString& why) {
            return fail(QStringLiteral("L'archive %1 est refusée : entrée « %2 » (%3).")
                            .arg(archivePath, shown, why));
        };
        if (r.flags & kFlagEncrypted) return refuse(QStringLiteral("chiffrée"));
        if (r.name.contains('\0')) return refuse(QStringLiteral("caractère nul dans le nom"));
        if ((r.flags & kFlagUtf8) && QString::fromUtf8(r.name).toUtf8() != r.name)
            return refuse(QStringLiteral("nom UTF-8 invalide"));
        // Without the flag libzip reads the name as UTF-8 when it can, else
        // as code page 437.
        const char* decoded = zip_get_name(za, i, ZIP_FL_ENC_GUESS);
        if (!decoded) return fail(corrupt);
        const QString name = QString::fromUtf8(decoded);
        shown = name;

        zip_stat_t st;
        if (zip_stat_index(za, i, 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE) || st.size > quint64(kMaxTotalBytes))
            return fail(corrupt);
        zip_uint8_t system = 0;
        zip_uint32_t attributes = 0;
        if (zip_file_get_external_attributes(za, i, 0, &system, &attributes) != 0) return fail(corrupt);
        const mode_t unixMode = system == ZIP_OPSYS_UNIX ? mode_t(attributes >> 16) : 0;
        const bool folderAttributes = S_ISDIR(unixMode) || (attributes & kDosFolder);
        const bool folderName = name.endsWith(QLatin1Char('/'));
        if ((folderName || folderAttributes) && st.size == 0) continue; // a folder entry
        if (folderAttributes && !folderName) return refuse(QStringLiteral("dossier contenant des données"));
        if (unixMode && (unixMode & S_IFMT) && !S_ISREG(unixMode) && !S_ISDIR(unixMode))
            return refuse(QStringLiteral("lien ou fichier spécial"));

        Entry e;
        e.index = i;
        e.name = name;
        e.leaf = name.mid(name.lastIndexOf(QLatin1Char('/')) + 1);
        e.nativeLeaf = fs::nativeFromWide(e.leaf);
        const QString fault = leafFault(e.leaf, e.nativeLeaf);
        if (!fault.isEmpty()) return refuse(fault);
        e.size = qint64(st.size);
        totalBytes += e.size;
        if (totalBytes > kMaxTotalBytes)
            return fail(QStringLiteral("L'archive %1 est refusée : plus de 1 Go de données.").arg(archivePath));
        e.mode = unixMode ? (unixMode & 0777) : kDefaultMode;
        e.mtime = storedMtime(za, i, r);
        if (const auto seen = lastWithName.constFind(e.nativeLeaf); seen != lastWithName.constEnd())
            entries[*seen].superseded = true;
        lastWithName.insert(e.nativeLeaf, entries.size());
        entries.push_back(std::move(e));
    }
    // Every entry read to its end, so that every CRC is checked.
    for (const Entry& e : entries) {
        QString error;
        if (!streamEntry(
                za, e, [](const char*, qint64, QString&) { return true; }, error))
            return fail(QStringLiteral("L'archive %1 est refusée : %2.").arg(archivePath, error));
    }

    // --- The folder: nothing of a name to write may be a folder.
    QByteArray base = fs::nativeFromWide(folder);
    while (base.size() > 1 && base.endsWith('/'))
        base.chop(1);
    if (base.isEmpty()) return fail(QStringLiteral("Aucun dossier de destination n'est indiqué."));
    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    struct stat folderSt;
    if (::stat(base.constData(), &folderSt) == 0) {
        if (!S_ISDIR(folderSt.st_mode))
            return fail(QStringLiteral("%1 existe déjà et n'est pas un dossier.").arg(folder));
        for (const Entry& e : entries) {
            struct stat targetSt;
            if (::lstat((base + '/' + e.nativeLeaf).constData(), &targetSt) == 0) {
                if (S_ISDIR(targetSt.st_mode))
                    return fail(
                        QStringLiteral("%1 est un dossier ; rien n'a été décompressé.").arg(prefix + e.leaf));
            } else if (errno != ENOENT) {
                return fail(QStringLiteral("%1 est inaccessible : %2.").arg(prefix + e.leaf, systemText(errno)));
            }
        }
    } else if (errno != ENOENT || !QDir().mkpath(folder)) {
        return fail(QStringLiteral("Le dossier %1 ne peut pas être créé.").arg(folder));
    }

    // --- Temporary files beside their targets, then the renames.
    for (Entry& e : entries) {
        if (e.superseded) continue;
        QByteArray tempPath;
        Fd out(fs::createTempFile(base + '/', tempPath));
        if (!out) {
            const int error = errno;
            removeTemps(entries);
            return fail(
                QStringLiteral("Aucun fichier ne peut être écrit dans %1 : %2.").arg(folder, systemText(error)));
        }
        e.temp = tempPath;
        QString error;
        const auto write = [&out](const char* p, qint64 n, QString& why) {
            if (fs::writeFully(out.get(), p, n)) return true;
            why = systemText(errno);
            return false;
        };
        bool ok = streamEntry(za, e, write, error);
        if (ok) {
            const timespec times[2] = {{e.mtime.value_or(0), e.mtime ? 0 : UTIME_NOW},
                                       {e.mtime.value_or(0), e.mtime ? 0 : UTIME_NOW}};
            // The mode is set exactly, whatever the umask.
            if (::fchmod(out.get(), e.mode) != 0 || ::futimens(out.get(), times) != 0 || ::fsync(out.get()) != 0 ||
                ::close(out.release()) != 0) {
                error = systemText(errno);
                ok = false;
            }
        }
        if (!ok) {
            removeTemps(entries);
            return fail(QStringLiteral("%1 ne peut pas être écrit : %2 ; rien n'a été remplacé.")
                            .arg(prefix + e.leaf, error));
        }
    }
    for (Entry& e : entries) {
        if (e.superseded) continue;
        if (::rename(e.temp.constData(), (base + '/' + e.nativeLeaf).constData()) != 0) {
            const int error = errno;
            removeTemps(entries);
            return fail(
                QStringLiteral("%1 ne peut pas être remplacé : %2 ; les fichiers déjà renommés le restent : %3.")
                    .arg(prefix + e.leaf, systemText(error), result.files.join(QStringLiteral(", "))));
        }
        e.temp.clear();
        result.files.append(prefix + e.leaf);
    }
    result.ok = true;
    return result;
}

// --------------------------------------------------------------- file times

namespace {

std::atomic<bool> g_offsetFixed{false};
std::atomic<int> g_fixedOffset{0};

QDateTime shifted(qint64 seconds, qint64 nanoseconds, int offsetMinutes)
{
    return QDateTime::fromMSecsSinceEpoch(seconds * 1000 + nanoseconds / 1000000, QTimeZone::utc())
        .addSecs(qint64(offsetMinutes) * 60);
}

} // namespace

int StandardOffsetMinutes()
{
    if (g_offsetFixed.load()) return g_fixedOffset.load();
    const QTimeZone zone = QTimeZone::systemTimeZone();
    if (!zone.isValid()) return 0;
    return zone.standardTimeOffset(QDateTime::currentDateTimeUtc()) / 60;
}

void SetStandardOffsetForTesting(std::optional<int> minutesEast)
{
    g_fixedOffset.store(minutesEast.value_or(0));
    g_offsetFixed.store(minutesEast.has_value());
}

bool GetFileTimes(const QString& path, FileTimes* times)
{
    Fd fd(fs::openRegularFile(fs::nativeFromWide(path)));
    if (!fd) return false;
    struct statx stx {};
    qint64 birthSec = 0, birthNsec = 0, accessSec = 0, accessNsec = 0, writeSec = 0, writeNsec = 0;
    if (::statx(fd.get(), "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &stx) == 0) {
        const statx_timestamp& creation = (stx.stx_mask & STATX_BTIME) ? stx.stx_btime : stx.stx_ctime;
        birthSec = creation.tv_sec;
        birthNsec = creation.tv_nsec;
        accessSec = stx.stx_atime.tv_sec;
        accessNsec = stx.stx_atime.tv_nsec;
        writeSec = stx.stx_mtime.tv_sec;
        writeNsec = stx.stx_mtime.tv_nsec;
    } else {
        // A kernel or sandbox without statx.
        struct stat st;
        if (::fstat(fd.get(), &st) != 0) return false;
        birthSec = st.st_ctim.tv_sec;
        birthNsec = st.st_ctim.tv_nsec;
        accessSec = st.st_atim.tv_sec;
        accessNsec = st.st_atim.tv_nsec;
        writeSec = st.st_mtim.tv_sec;
        writeNsec = st.st_mtim.tv_nsec;
    }
    if (times) {
        const int offset = StandardOffsetMinutes();
        times->creation = shifted(birthSec, birthNsec, offset);
        times->lastAccess = shifted(accessSec, accessNsec, offset);
        times->lastWrite = shifted(writeSec, writeNsec, offset);
    }
    return true;
}

bool IsUpdateNewer(const QString& newExecutable, const QString& runningExecutable)
{
    FileTimes fresh, running;
    if (!GetFileTimes(newExecutable, &fresh)) return false;
    if (!GetFileTimes(runningExecutable, &running)) return false;
    return fresh.lastWrite > running.lastWrite;
}

// --------------------------------------------------------------- listing

QStringList ListFolderFiles(const QString& folder)
{
    QStringList files;
    QByteArray native = fs::nativeFromWide(folder);
    if (native.isEmpty()) return files;
    const int dirFd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) return files;
    DIR* dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return files;
    }
    const QString prefix = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    while (const dirent* d = ::readdir(dir)) {
        const QByteArrayView name(d->d_name);
        if (name == "." || name == ".." || fs::isTempFileName(name)) continue;
        bool isFolder = d->d_type == DT_DIR;
        if (d->d_type == DT_LNK || d->d_type == DT_UNKNOWN) {
            struct stat st;
            isFolder = ::fstatat(dirFd, d->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        }
        if (!isFolder) files.append(prefix + fs::wideFromNative(QByteArray(d->d_name)));
    }
    ::closedir(dir);
    return files;
}

} // namespace signetrix::update
