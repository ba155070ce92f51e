#include "backup/BackupArchive.h"

#include "backup/ZipDirectory.h"

#include "backup/OemCodePage.h"
#include "platform/FileSystem.h"

#include <QSet>

#include <zip.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

namespace signetrix::backup {
namespace {

using zipdir::CentralRecord;
using zipdir::kFlagEncrypted;
using zipdir::kFlagSuperFast;
using zipdir::kFlagUtf8;
using zipdir::le16;
using zipdir::le32;
using zipdir::readCentralDirectory;
constexpr quint32 kDosReadOnly = 0x01;
constexpr quint32 kDosHidden = 0x02;
constexpr quint32 kDosArchive = 0x20;
constexpr qint64 kKeptDataLimit = 64 * 1024 * 1024;
constexpr int kChunk = 64 * 1024;

// ---------------------------------------------------------------- common

class Meter {
public:
    explicit Meter(const ArchiveProgress& callback) : m_callback(callback) {}
    void show(double percent)
    {
        m_last = percent;
        if (m_callback) m_callback(percent);
    }
    void setTotal(double units) { m_total = units; }
    void advance(double units)
    {
        m_done += units;
        const double p = m_total > 0 ? std::min(99.0, m_done * 100.0 / m_total) : 0.0;
        if (p - m_last >= 0.1) show(p);
    }

private:
    const ArchiveProgress& m_callback;
    double m_total = 0;
    double m_done = 0;
    double m_last = 0;
};

QString shown(const QByteArray& native) { return fs::wideFromNative(native); }
QString systemText(int error) { return fs::lastErrorText(error); }

using fs::Fd;




fs::FileId idOf(const struct stat& st) { return fs::FileId{std::uint64_t(st.st_dev), std::uint64_t(st.st_ino)}; }

// The rules a stored name obeys in both directions: relative, "/"-separated,
// no segment that is empty, "." or "..", no backslash (a separator elsewhere), no
// drive, no NUL.
QString nameFault(const QString& name)
{
    if (name.isEmpty()) return QStringLiteral("nom vide");
    if (name.contains(QChar(0))) return QStringLiteral("caractère nul dans le nom");
    if (name.startsWith(QLatin1Char('/'))) return QStringLiteral("chemin absolu");
    if (name.contains(QLatin1Char('\\'))) return QStringLiteral("barre oblique inverse dans le nom");
    if (name.size() >= 2 && name[1] == QLatin1Char(':') && name[0].unicode() < 0x80 && name[0].isLetter())
        return QStringLiteral("lettre de lecteur");
    for (const QStringView segment : QStringView(name).split(QLatin1Char('/')))
        if (segment.isEmpty() || segment == u"." || segment == u"..")
            return QStringLiteral("élément de chemin vide, « . » ou « .. »");
    return QString();
}

struct SourceFile {
    QByteArray relative; // native bytes
    QByteArray name;     // stored name bytes
    bool utf8 = false;
    QByteArray utf8Name;
    fs::FileId id;
    qint64 size = 0;
    time_t mtime = 0;
    mode_t mode = 0;
};

// Sets the general-purpose flags libzip does not let us choose, in the local
// and central headers: deflate level 1's own mark, "super fast" (libzip marks
// levels 1 and 2 alike as "fast"), and the UTF-8 flag exactly on the entries
// named in UTF-8 (libzip sets it on any name that reads as UTF-8, code page
// 850 bytes included). The names must be the ones chosen, in order.
bool finishHeaders(const QByteArray& archive, const std::vector<const SourceFile*>& files)
{
    Fd fd(::open(archive.constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
    std::vector<CentralRecord> records;
    struct stat st;
    if (!fd || ::fstat(fd.get(), &st) != 0 || !readCentralDirectory(fd.get(), records) ||
        records.size() != files.size()) {
        errno = errno ? errno : EIO;
        return false;
    }
    void* map = ::mmap(nullptr, size_t(st.st_size), PROT_READ | PROT_WRITE, MAP_SHARED, fd.get(), 0);
    if (map == MAP_FAILED) return false;
    char* bytes = static_cast<char*>(map);
    bool ok = true;
    for (size_t i = 0; i < records.size() && ok; ++i) {
        const CentralRecord& r = records[i];
        ok = r.name == files[i]->name && r.method == ZIP_CM_DEFLATE && r.localOffset + 30 <= quint64(st.st_size) &&
             le32(bytes + r.localOffset) == 0x04034b50;
        if (!ok) break;
        const quint16 flags =
            quint16((r.flags & ~(kFlagSuperFast | kFlagUtf8)) | kFlagSuperFast | (files[i]->utf8 ? kFlagUtf8 : 0));
        for (char* at : {bytes + r.headerOffset + 8, bytes + r.localOffset + 6}) {
            at[0] = char(flags & 0xFF);
            at[1] = char(flags >> 8);
        }
    }
    if (!ok) errno = EIO;
    ok = ::msync(map, size_t(st.st_size), MS_SYNC) == 0 && ok;
    ::munmap(map, size_t(st.st_size));
    return ok;
}

// The end record alone: a valid archive without entries (libzip writes no
// file at all for one).
bool writeEmptyArchive(int fd)
{
    char record[22] = {0x50, 0x4b, 0x05, 0x06};
    return fs::writeFully(fd, record, sizeof record);
}

// ---------------------------------------------------------------- creation

struct CreateRun {
    QByteArray base; // native, ends with '/'
    std::deque<SourceFile> files;
    QString error; // the first failure met
    QByteArray failedFile;
    int failedErrno = 0;
    bool failedChanged = false;
};

struct FileSourceState {
    FileSourceState(CreateRun* r, const SourceFile* f) : run(r), file(f) { zip_error_init(&error); }
    CreateRun* run;
    const SourceFile* file;
    int fd = -1;
    qint64 sizeAtOpen = 0;
    qint64 done = 0;
    bool atEnd = false;
    zip_error_t error;
};

// libzip asks for the data while it writes the archive, one file at a time,
// so no more than one descriptor is open. The file must still be the one
// listed (device and inode): a link or another file put in its place since
// the listing is never read.
zip_int64_t readSourceFile(void* userdata, void* data, zip_uint64_t len, zip_source_cmd_t cmd)
{
    auto* s = static_cast<FileSourceState*>(userdata);
    auto failWith = [s](int zipError, int systemError, bool changed) -> zip_int64_t {
        zip_error_set(&s->error, zipError, systemError);
        if (s->run->failedFile.isEmpty()) {
            s->run->failedFile = s->file->relative;
            s->run->failedErrno = systemError;
            s->run->failedChanged = changed;
        }
        return -1;
    };
    switch (cmd) {
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                              ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
    case ZIP_SOURCE_STAT: {
        if (len < sizeof(zip_stat_t)) {
            zip_error_set(&s->error, ZIP_ER_INVAL, 0);
            return -1;
        }
        auto* st = static_cast<zip_stat_t*>(data);
        zip_stat_init(st);
        st->valid = ZIP_STAT_SIZE | ZIP_STAT_MTIME;
        st->size = zip_uint64_t(s->file->size);
        st->mtime = s->file->mtime;
        return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_OPEN: {
        struct stat st;
        const QByteArray path = s->run->base + s->file->relative;
        s->fd = fs::openRegularAt(AT_FDCWD, path.constData(), &st);
        if (s->fd < 0) return failWith(ZIP_ER_OPEN, errno, false);
        if (idOf(st) != s->file->id) {
            ::close(s->fd);
            s->fd = -1;
            return failWith(ZIP_ER_CHANGED, 0, true);
        }
        s->sizeAtOpen = st.st_size;
        s->done = 0;
        s->atEnd = false;
        return 0;
    }
    case ZIP_SOURCE_READ: {
        if (s->atEnd || len == 0) return 0;
        ssize_t got;
        do got = ::read(s->fd, data, size_t(std::min<zip_uint64_t>(len, 1u << 30)));
        while (got < 0 && errno == EINTR);
        if (got < 0) return failWith(ZIP_ER_READ, errno, false);
        s->done += got;
        // A short read of a regular file past its known size is its end: this
        // saves the extra read that would return nothing.
        if (zip_uint64_t(got) < len && s->done >= s->sizeAtOpen) s->atEnd = true;
        return got;
    }
    case ZIP_SOURCE_CLOSE:
        if (s->fd >= 0) ::close(s->fd);
        s->fd = -1;
        return 0;
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&s->error, data, len);
    case ZIP_SOURCE_FREE:
        if (s->fd >= 0) ::close(s->fd);
        zip_error_fini(&s->error);
        delete s;
        return 0;
    default:
        zip_error_set(&s->error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

// Lists the tree depth first: a folder's files in byte order, then its
// sub-folders. Links and special files are skipped without being followed.
bool listTree(int dirFd, const QByteArray& prefix, CreateRun& run, std::set<fs::FileId>& seenFolders,
              const fs::FileId& skip, Meter& meter)
{
    DIR* dir = ::fdopendir(dirFd);
    if (!dir) {
        run.error = QStringLiteral("Impossible de lire le dossier « %1 » : %2.").arg(shown(prefix), systemText(errno));
        ::close(dirFd);
        return false;
    }
    std::unique_ptr<DIR, int (*)(DIR*)> closer(dir, ::closedir);
    std::vector<QByteArray> files, folders;
    errno = 0;
    while (dirent* d = ::readdir(dir)) {
        const char* n = d->d_name;
        if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0))) continue;
        if (d->d_type == DT_DIR)
            folders.emplace_back(n);
        else if (d->d_type == DT_REG || d->d_type == DT_UNKNOWN)
            files.emplace_back(n);
        errno = 0;
    }
    if (errno != 0) {
        run.error = QStringLiteral("Impossible de lire le dossier « %1 » : %2.").arg(shown(prefix), systemText(errno));
        return false;
    }
    std::sort(files.begin(), files.end());
    std::sort(folders.begin(), folders.end());
    for (const QByteArray& name : files) {
        struct stat st;
        if (::fstatat(dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) continue; // gone since the listing: nothing to keep
            run.error = QStringLiteral("Impossible de lire le fichier « %1 » : %2.")
                            .arg(shown(prefix + name), systemText(errno));
            return false;
        }
        if (S_ISDIR(st.st_mode)) {
            folders.insert(std::upper_bound(folders.begin(), folders.end(), name), name);
            continue;
        }
        if (!S_ISREG(st.st_mode) || fs::isTempFileName(name) || idOf(st) == skip) continue;
        SourceFile f;
        f.relative = prefix + name;
        f.id = idOf(st);
        f.size = st.st_size;
        f.mtime = st.st_mtime;
        f.mode = st.st_mode;
        run.files.push_back(std::move(f));
        if (run.files.size() % 512 == 0) meter.show(0);
    }
    for (const QByteArray& name : folders) {
        const int sub = ::openat(dirFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub < 0) {
            if (errno == ELOOP || errno == ENOTDIR || errno == ENOENT) continue; // a link, or gone
            run.error = QStringLiteral("Impossible de lire le dossier « %1 » : %2.")
                            .arg(shown(prefix + name), systemText(errno));
            return false;
        }
        struct stat st;
        if (::fstat(sub, &st) != 0 || !seenFolders.insert(idOf(st)).second) {
            ::close(sub);
            continue;
        }
        if (!listTree(sub, prefix + name + '/', run, seenFolders, skip, meter)) return false;
    }
    return true;
}

// The stored name: code page 850 when it holds every character, else UTF-8
// with the flag. Fails when the native bytes are no valid text.
bool nameEntry(SourceFile& f, QString& error)
{
    const QString text = fs::wideFromNative(f.relative);
    if (fs::nativeFromWide(text) != f.relative) {
        error = QStringLiteral("Le nom du fichier « %1 » n'est pas un texte valide : renommez-le pour qu'il "
                               "puisse être sauvegardé et restauré sous le même nom.")
                    .arg(text);
        return false;
    }
    const QString fault = nameFault(text);
    if (!fault.isEmpty()) {
        error = QStringLiteral("Le nom du fichier « %1 » ne pourrait pas être restauré (%2) : renommez-le.")
                    .arg(text, fault);
        return false;
    }
    f.utf8Name = text.toUtf8();
    if (const auto oem = oem::toCp850(text)) {
        f.name = *oem;
        f.utf8 = false;
    } else {
        f.name = f.utf8Name;
        f.utf8 = true;
    }
    return true;
}

// A code page 850 name goes in as "guess": libzip refuses one that reads as
// UTF-8 under the code page 437 tag (finishHeaders clears the flag it then
// sets). libzip looks names up as it reads them (code page 437 or UTF-8), so
// a name in code page 850 can meet another entry's name; either side then
// takes its UTF-8 form, which no other entry has.
zip_int64_t addEntry(zip_t* za, SourceFile& f, zip_source_t* src, std::vector<SourceFile*>& added)
{
    auto add = [&] { return zip_file_add(za, f.name.constData(), src, f.utf8 ? ZIP_FL_ENC_UTF_8 : ZIP_FL_ENC_GUESS); };
    zip_int64_t idx = add();
    for (int attempt = 0; idx < 0 && attempt < 2 && zip_error_code_zip(zip_get_error(za)) == ZIP_ER_EXISTS; ++attempt) {
        zip_error_clear(za);
        if (!f.utf8) {
            f.name = f.utf8Name;
            f.utf8 = true;
        } else {
            const zip_int64_t other = zip_name_locate(za, f.name.constData(), 0);
            if (other < 0 || zip_uint64_t(other) >= added.size() || added[size_t(other)]->utf8) break;
            SourceFile& o = *added[size_t(other)];
            if (zip_file_rename(za, zip_uint64_t(other), o.utf8Name.constData(), ZIP_FL_ENC_UTF_8) != 0) break;
            o.name = o.utf8Name;
            o.utf8 = true;
        }
        idx = add();
    }
    return idx;
}

void onZipProgress(zip_t*, double fraction, void* meter) { static_cast<Meter*>(meter)->show(fraction * 99.0); }

} // namespace

ArchiveResult CreateFavoritesArchive(const QString& baseFolder, const QString& archivePath,
                                     const ArchiveProgress& progress)
{
    ArchiveResult result;
    Meter meter(progress);
    meter.show(0);
    const QByteArray archive = fs::nativeFromWide(archivePath);
    auto finish = [&](const QString& error) {
        if (!error.isEmpty()) {
            ::unlink(archive.constData());
            result.ok = false;
            result.error = error;
            result.entries = 0;
        } else {
            result.ok = true;
        }
        meter.show(100);
        return result;
    };

    QByteArray base = fs::nativeFromWide(baseFolder);
    while (base.size() > 1 && base.endsWith('/')) base.chop(1);
    const int baseFd = base.isEmpty() ? -1 : ::open(base.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (baseFd < 0) {
        const int e = base.isEmpty() ? ENOENT : errno;
        result.error =
            QStringLiteral("Le dossier des favoris « %1 » est inaccessible : %2.").arg(baseFolder, systemText(e));
        meter.show(100);
        return result;
    }
    struct stat baseSt;
    ::fstat(baseFd, &baseSt);

    // The file is created here, so that a path that cannot take it fails at
    // once; libzip then writes beside it and renames over it.
    Fd out(::open(archive.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!out) {
        const int e = errno;
        ::close(baseFd);
        result.error = QStringLiteral("Impossible de créer l'archive « %1 » : %2.").arg(archivePath, systemText(e));
        meter.show(100);
        return result;
    }
    struct stat archiveSt;
    ::fstat(out.get(), &archiveSt);

    CreateRun run;
    run.base = base == "/" ? base : base + '/';
    std::set<fs::FileId> seenFolders{idOf(baseSt)};
    if (!listTree(baseFd, QByteArray(), run, seenFolders, idOf(archiveSt), meter)) return finish(run.error);
    for (SourceFile& f : run.files) {
        QString error;
        if (!nameEntry(f, error)) return finish(error);
    }

    if (run.files.empty()) {
        if (!writeEmptyArchive(out.get()) || ::close(out.release()) != 0)
            return finish(
                QStringLiteral("Impossible d'écrire l'archive « %1 » : %2.").arg(archivePath, systemText(errno)));
        return finish(QString());
    }
    out.reset();

    int zerr = 0;
    zip_t* za = zip_open(archive.constData(), ZIP_CREATE | ZIP_TRUNCATE, &zerr);
    if (!za) {
        zip_error_t ze;
        zip_error_init_with_code(&ze, zerr);
        const QString text = QString::fromLocal8Bit(zip_error_strerror(&ze));
        zip_error_fini(&ze);
        return finish(QStringLiteral("Impossible de créer l'archive « %1 » : %2.").arg(archivePath, text));
    }
    auto zipFailure = [&](const QString& what) {
        QString error;
        if (!run.failedFile.isEmpty()) {
            error = run.failedChanged
                        ? QStringLiteral("Le fichier « %1 » a été remplacé pendant la sauvegarde ; elle est annulée.")
                              .arg(shown(run.failedFile))
                        : QStringLiteral("Impossible de lire le fichier « %1 » : %2.")
                              .arg(shown(run.failedFile), systemText(run.failedErrno));
        } else {
            error = QStringLiteral("%1 « %2 » : %3.").arg(what, archivePath, QString::fromLocal8Bit(zip_strerror(za)));
        }
        zip_discard(za);
        return finish(error);
    };

    std::vector<SourceFile*> added;
    added.reserve(run.files.size());
    for (SourceFile& f : run.files) {
        auto* state = new FileSourceState(&run, &f);
        zip_source_t* src = zip_source_function(za, readSourceFile, state);
        if (!src) {
            zip_error_fini(&state->error);
            delete state;
            return zipFailure(QStringLiteral("Impossible de préparer l'archive"));
        }
        const zip_int64_t idx = addEntry(za, f, src, added);
        if (idx < 0) {
            zip_source_free(src);
            if (zip_error_code_zip(zip_get_error(za)) == ZIP_ER_EXISTS)
                return zipFailure(
                    QStringLiteral("Le nom « %1 » se confond avec celui d'un autre fichier dans l'archive")
                        .arg(shown(f.relative)));
            return zipFailure(QStringLiteral("Impossible d'ajouter « %1 » à l'archive").arg(shown(f.relative)));
        }
        added.push_back(&f);
        // Permissions without execute bits; DOS bits for the systems that read those.
        const quint32 dos = ((f.mode & 0222) == 0 ? kDosReadOnly : 0) |
                            (f.relative.mid(f.relative.lastIndexOf('/') + 1).startsWith('.') ? kDosHidden : 0) |
                            kDosArchive;
        const quint32 attributes = quint32(S_IFREG | (f.mode & 0666)) << 16 | dos;
        if (zip_set_file_compression(za, zip_uint64_t(idx), ZIP_CM_DEFLATE, 1) != 0 ||
            zip_file_set_encryption(za, zip_uint64_t(idx), ZIP_EM_NONE, nullptr) != 0 ||
            zip_file_set_mtime(za, zip_uint64_t(idx), f.mtime, 0) != 0 ||
            zip_file_set_external_attributes(za, zip_uint64_t(idx), 0, ZIP_OPSYS_UNIX, attributes) != 0)
            return zipFailure(QStringLiteral("Impossible de préparer l'archive"));
    }
    zip_register_progress_callback_with_state(za, 0.001, onZipProgress, nullptr, &meter);
    if (zip_close(za) != 0) return zipFailure(QStringLiteral("Impossible d'écrire l'archive"));
    if (!finishHeaders(archive, {added.begin(), added.end()}))
        return finish(
            QStringLiteral("Impossible de terminer l'archive « %1 » : %2.").arg(archivePath, systemText(errno)));
    result.entries = int(run.files.size());
    return finish(QString());
}

// ---------------------------------------------------------------- extraction

namespace {

enum class Action { Write, Same, Replace };

struct Entry {
    zip_uint64_t index = 0;
    QString name;        // as shown in messages
    QByteArray relative; // native, without a trailing '/'
    QByteArray folder;   // native relative folder ("" for the base)
    QByteArray leaf;
    bool isFolder = false;
    qint64 size = 0;
    time_t mtime = 0;
    bool readOnly = false;
    bool kept = false;
    QByteArray data;
    Action action = Action::Write;
    fs::FileId localId;
    QByteArray temp; // temporary name in its folder, once written
};

QString describe(const QByteArray& raw, bool utf8)
{
    QString text = utf8 ? QString::fromUtf8(raw) : oem::fromCp850(raw);
    text.replace(QChar(0), QStringLiteral("\\0"));
    return text;
}

// Reads an entry through libzip to its end, where libzip checks the CRC; the
// data goes to sink in chunks.
template <typename Sink> bool streamEntry(zip_t* za, const Entry& e, Sink&& sink, QString& error)
{
    QString library;
    switch (zipdir::streamEntry(za, e.index, e.size, sink, &library)) {
    case zipdir::EntryFault::None: return true;
    case zipdir::EntryFault::Sink: return false;
    case zipdir::EntryFault::Open:
        error = QStringLiteral("L'entrée « %1 » de l'archive ne peut pas être lue : %2.").arg(e.name, library);
        return false;
    case zipdir::EntryFault::Damaged:
        error = library.isEmpty() ? QStringLiteral("L'entrée « %1 » de l'archive est endommagée.").arg(e.name)
                                  : QStringLiteral("L'entrée « %1 » de l'archive est endommagée : %2.").arg(e.name, library);
        return false;
    case zipdir::EntryFault::Longer:
        error = QStringLiteral("L'entrée « %1 » de l'archive est plus longue qu'annoncé.").arg(e.name);
        return false;
    case zipdir::EntryFault::Shorter:
        error = QStringLiteral("L'entrée « %1 » de l'archive est plus courte qu'annoncé.").arg(e.name);
        return false;
    }
    return false;
}

// The data checked earlier: from memory, or read again (and checked again).
template <typename Sink> bool entryData(zip_t* za, const Entry& e, Sink&& sink, QString& error)
{
    if (e.kept) return sink(e.data.constData(), e.data.size());
    return streamEntry(za, e, sink, error);
}

class TempNames {
public:
    QByteArray next()
    {
        static constexpr char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
        QByteArray name(fs::kTempFilePrefix);
        for (int i = 0; i < 6; ++i) name.append(letters[m_pick(m_random)]);
        return name;
    }

private:
    std::mt19937 m_random{std::random_device{}()};
    std::uniform_int_distribution<int> m_pick{0, 61};
};

// A new file of the temporary pattern in dirFd; mode before the umask.
int createTempAt(int dirFd, mode_t mode, TempNames& names, QByteArray& name)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = names.next();
        const int fd = ::openat(dirFd, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

enum class CopyOutcome { Copied, AlreadyThere, Failed };

// Copies the local file aside under its relative path, never over a copy
// already there: one holding the same bytes is the copy; one holding other
// bytes is kept and the new copy takes a numbered name.
CopyOutcome copyAside(int localDir, int copyDir, const Entry& e, TempNames& names, QString& error)
{
    auto failed = [&](const QString& why) {
        error = QStringLiteral("La version locale de « %1 » n'a pas pu être mise de côté : %2.").arg(e.name, why);
        return CopyOutcome::Failed;
    };
    struct stat st;
    Fd local(fs::openRegularAt(localDir, e.leaf.constData(), &st));
    if (!local) return failed(systemText(errno));
    if (idOf(st) != e.localId) return failed(QStringLiteral("le fichier a changé pendant la restauration"));
    QByteArray temp;
    Fd copy(createTempAt(copyDir, st.st_mode & 0666, names, temp));
    if (!copy) return failed(systemText(errno));
    auto dropTemp = [&] { ::unlinkat(copyDir, temp.constData(), 0); };
    QByteArray buffer(kChunk, Qt::Uninitialized);
    for (qint64 at = 0; at < st.st_size; at += kChunk) {
        const qint64 n = std::min<qint64>(kChunk, st.st_size - at);
        if (!fs::readFully(local.get(), buffer.data(), n, at) || !fs::writeFully(copy.get(), buffer.constData(), n)) {
            const int err = errno;
            dropTemp();
            return failed(systemText(err));
        }
    }
    const timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
    ::futimens(copy.get(), times);
    if (::close(copy.release()) != 0) {
        const int err = errno;
        dropTemp();
        return failed(systemText(err));
    }
    for (int n = 1; n <= 1000; ++n) {
        const QByteArray target = n == 1 ? e.leaf : fs::numberedName(e.leaf, n);
        const int err = fs::renameNoReplace(copyDir, temp, target);
        if (err == 0) return CopyOutcome::Copied;
        if (err != EEXIST) {
            dropTemp();
            return failed(systemText(err));
        }
        struct stat cst;
        Fd existing(fs::openRegularAt(copyDir, target.constData(), &cst));
        if (existing && fs::sameContents(existing.get(), cst, local.get(), st)) {
            dropTemp();
            return CopyOutcome::AlreadyThere;
        }
    }
    dropTemp();
    return failed(QStringLiteral("trop de copies portent déjà ce nom"));
}

bool enoughRoom(const QByteArray& path, quint64 bytes, quint64 files)
{
    struct statvfs vfs;
    if (::statvfs(path.constData(), &vfs) != 0) return true; // unknown: let the writes tell
    const quint64 freeBytes = quint64(vfs.f_bavail) * vfs.f_frsize;
    return bytes <= freeBytes && (vfs.f_files == 0 || files <= vfs.f_favail);
}

QByteArray existingAncestor(QByteArray path)
{
    while (!path.isEmpty() && !fs::isFolder(path)) {
        const int slash = path.lastIndexOf('/');
        path = slash > 0 ? path.left(slash) : QByteArray(slash == 0 ? "/" : "");
    }
    return path.isEmpty() ? QByteArray(".") : path;
}

quint64 blocks(qint64 size) { return (quint64(size) + 4095) / 4096 * 4096 + 4096; }

} // namespace

UnpackResult UnpackFavoritesArchive(const QString& archivePath, const QString& baseFolder,
                                    const QString& archiveCopyFolder, const ArchiveProgress& progress)
{
    UnpackResult result;
    Meter meter(progress);
    meter.show(0);
    auto fail = [&](const QString& error) {
        result.ok = false;
        result.error = error;
        meter.show(100);
        return result;
    };

    // --- The archive, read whole.
    const QByteArray archive = fs::nativeFromWide(archivePath);
    int openError = 0;
    Fd archiveFd(fs::openRegularFile(archive, &openError));
    if (!archiveFd)
        return fail(
            QStringLiteral("L'archive « %1 » ne peut pas être ouverte : %2.").arg(archivePath, systemText(openError)));
    const QString corrupt =
        QStringLiteral("L'archive « %1 » est incomplète ou endommagée ; rien n'a été restauré.").arg(archivePath);
    std::vector<CentralRecord> records;
    if (!readCentralDirectory(archiveFd.get(), records)) return fail(corrupt);
    int zerr = 0;
    const int zipFd = ::fcntl(archiveFd.get(), F_DUPFD_CLOEXEC, 0);
    zip_t* za = zipFd < 0 ? nullptr : zip_fdopen(zipFd, ZIP_RDONLY, &zerr);
    if (!za) {
        if (zipFd >= 0) ::close(zipFd);
        return fail(corrupt);
    }
    std::unique_ptr<zip_t, void (*)(zip_t*)> zipCloser(za, zip_discard);
    if (zip_get_num_entries(za, 0) != zip_int64_t(records.size())) return fail(corrupt);

    std::deque<Entry> entries;
    QSet<QByteArray> filePaths, folderPaths;
    double totalBytes = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        const CentralRecord& r = records[i];
        const bool utf8 = r.flags & kFlagUtf8;
        Entry e;
        e.index = i;
        e.name = describe(r.name, utf8);
        auto refuse = [&](const QString& why) {
            return fail(QStringLiteral("L'entrée « %1 » de l'archive est refusée (%2) ; rien n'a été restauré.")
                            .arg(e.name, why));
        };
        if (r.flags & kFlagEncrypted) return refuse(QStringLiteral("chiffrée"));
        if (r.name.contains('\0')) return refuse(QStringLiteral("caractère nul dans le nom"));
        QString text;
        if (utf8) {
            text = QString::fromUtf8(r.name);
            if (text.toUtf8() != r.name) return refuse(QStringLiteral("nom UTF-8 invalide"));
        } else {
            text = oem::fromCp850(r.name);
        }
        e.isFolder = text.endsWith(QLatin1Char('/'));
        if (e.isFolder) text.chop(1);
        const QString fault = nameFault(text);
        if (!fault.isEmpty()) return refuse(fault);
        e.relative = fs::nativeFromWide(text);
        const int slash = e.relative.lastIndexOf('/');
        e.folder = slash < 0 ? QByteArray() : e.relative.left(slash);
        e.leaf = e.relative.mid(slash + 1);
        // Listings skip that pattern: such a file would be restored out of sight.
        if (!e.isFolder && fs::isTempFileName(e.leaf))
            return refuse(QStringLiteral("nom réservé aux fichiers temporaires"));

        zip_stat_t st;
        if (zip_stat_index(za, i, 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE) || st.size > quint64(1) << 62)
            return fail(corrupt);
        e.size = qint64(st.size);
        e.mtime = (st.valid & ZIP_STAT_MTIME) ? st.mtime : time(nullptr);
        zip_uint8_t system = 0;
        zip_uint32_t attributes = 0;
        zip_file_get_external_attributes(za, i, 0, &system, &attributes);
        const mode_t unixMode = mode_t(attributes >> 16);
        e.readOnly =
            (attributes & kDosReadOnly) || (system == ZIP_OPSYS_UNIX && unixMode != 0 && (unixMode & 0222) == 0);

        // One path, one meaning: no entry twice, no file where a folder goes.
        if (e.isFolder) {
            if (filePaths.contains(e.relative)) return refuse(QStringLiteral("un fichier porte déjà ce nom"));
            folderPaths.insert(e.relative);
        } else {
            if (filePaths.contains(e.relative) || folderPaths.contains(e.relative))
                return refuse(QStringLiteral("nom déjà utilisé par une autre entrée"));
            filePaths.insert(e.relative);
        }
        for (int s = e.relative.indexOf('/'); s >= 0; s = e.relative.indexOf('/', s + 1)) {
            const QByteArray parent = e.relative.left(s);
            if (filePaths.contains(parent))
                return refuse(QStringLiteral("un fichier porte le nom d'un de ses dossiers"));
            folderPaths.insert(parent);
        }
        totalBytes += double(e.size);
        entries.push_back(std::move(e));
    }
    const double perEntry = 1024;
    meter.setTotal(2 * totalBytes + 4 * perEntry * double(entries.size()));

    // Every entry read to its end, so that every CRC is checked.
    qint64 keptBytes = 0;
    for (Entry& e : entries) {
        QString error;
        const bool keep = !e.isFolder && keptBytes + e.size <= kKeptDataLimit;
        if (keep) e.data.reserve(e.size);
        if (!streamEntry(
                za, e,
                [&](const char* p, qint64 n) {
                    if (keep) e.data.append(p, n);
                    meter.advance(double(n));
                    return true;
                },
                error))
            return fail(error + QStringLiteral(" Rien n'a été restauré."));
        e.kept = keep;
        if (keep) keptBytes += e.size;
        meter.advance(perEntry);
    }

    // --- The tree as it is: links and type clashes refused, local files compared.
    QByteArray base = fs::nativeFromWide(baseFolder);
    while (base.size() > 1 && base.endsWith('/')) base.chop(1);
    if (base.isEmpty()) return fail(QStringLiteral("Aucun dossier de destination n'est indiqué."));
    Fd baseFd(::open(base.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const bool baseMissing = !baseFd && errno == ENOENT;
    if (!baseFd && !baseMissing)
        return fail(QStringLiteral("Le dossier « %1 » est inaccessible : %2.").arg(baseFolder, systemText(errno)));
    if (baseMissing && !fs::isFolder(base.left(std::max<qsizetype>(1, base.lastIndexOf('/')))))
        return fail(QStringLiteral("Le dossier « %1 » n'existe pas et son dossier parent non plus.").arg(baseFolder));

    std::vector<QByteArray> folders(folderPaths.begin(), folderPaths.end());
    std::sort(folders.begin(), folders.end()); // a parent before its children
    QSet<QByteArray> missing;
    // Times of the folders there, put back if the run is taken back.
    std::map<QByteArray, std::array<timespec, 2>> folderTimes;
    struct stat baseSt;
    if (baseFd && ::fstat(baseFd.get(), &baseSt) == 0) folderTimes[QByteArray()] = {baseSt.st_atim, baseSt.st_mtim};
    for (const QByteArray& f : folders) {
        const int slash = f.lastIndexOf('/');
        if (baseMissing || (slash > 0 && missing.contains(f.left(slash)))) {
            missing.insert(f);
            continue;
        }
        struct stat st;
        if (::fstatat(baseFd.get(), f.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT)
                return fail(
                    QStringLiteral("Le dossier local « %1 » est inaccessible : %2.").arg(shown(f), systemText(errno)));
            missing.insert(f);
        } else if (S_ISLNK(st.st_mode)) {
            return fail(
                QStringLiteral("Le chemin « %1 » est un lien symbolique ; la restauration n'écrit jamais au travers "
                               "d'un lien. Rien n'a été restauré.")
                    .arg(shown(f)));
        } else if (!S_ISDIR(st.st_mode)) {
            return fail(
                QStringLiteral("« %1 » existe déjà et n'est pas un dossier ; rien n'a été restauré.").arg(shown(f)));
        } else {
            folderTimes[f] = {st.st_atim, st.st_mtim};
        }
    }
    quint64 bytesNeeded = 0, filesNeeded = quint64(missing.size()) + (baseMissing ? 1 : 0), copyBytes = 0;
    int toCopy = 0;
    for (Entry& e : entries) {
        meter.advance(perEntry);
        if (e.isFolder) continue;
        if (!baseMissing && !missing.contains(e.folder)) {
            struct stat st;
            if (::fstatat(baseFd.get(), e.relative.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
                if (S_ISLNK(st.st_mode))
                    return fail(
                        QStringLiteral("Le fichier local « %1 » est un lien symbolique ; il n'est pas remplacé. Rien "
                                       "n'a été restauré.")
                            .arg(e.name));
                if (!S_ISREG(st.st_mode))
                    return fail(QStringLiteral("« %1 » existe déjà et n'est pas un fichier ; rien n'a été restauré.")
                                    .arg(e.name));
                e.localId = idOf(st);
                e.action = Action::Replace;
                if (st.st_size == e.size) {
                    struct stat lst;
                    Fd local(fs::openRegularAt(baseFd.get(), e.relative.constData(), &lst));
                    if (!local)
                        return fail(
                            QStringLiteral("Le fichier local « %1 » ne peut pas être lu, donc pas mis de côté : "
                                           "%2. Rien n'a été restauré.")
                                .arg(e.name, systemText(errno)));
                    // Equal when every byte matches; a read that fails counts as different,
                    // and the copy aside then tells whether the file can be saved.
                    QByteArray buffer;
                    bool same = idOf(lst) == e.localId;
                    QString error;
                    const bool read = entryData(
                        za, e,
                        [&](const char* p, qint64 n) {
                            buffer.resize(n);
                            same = same && fs::readFully(local.get(), buffer.data(), n) &&
                                   std::memcmp(buffer.constData(), p, size_t(n)) == 0;
                            return same;
                        },
                        error);
                    if (!read && same) return fail(error + QStringLiteral(" Rien n'a été restauré."));
                    if (same) e.action = Action::Same;
                }
                if (e.action == Action::Replace) {
                    ++toCopy;
                    copyBytes += blocks(st.st_size);
                }
            } else if (errno != ENOENT) {
                return fail(
                    QStringLiteral("Le fichier local « %1 » est inaccessible : %2.").arg(e.name, systemText(errno)));
            }
        }
        if (e.action == Action::Same) {
            ++result.unchanged;
        } else {
            bytesNeeded += blocks(e.size);
            ++filesNeeded;
        }
    }
    const QByteArray copyRoot = fs::nativeFromWide(archiveCopyFolder);
    if (toCopy > 0 && copyRoot.isEmpty())
        return fail(QStringLiteral("Aucun dossier n'est indiqué pour mettre de côté les versions locales."));
    {
        const QByteArray basePlace = existingAncestor(base);
        struct stat a, b;
        if (toCopy > 0) {
            const QByteArray copyPlace = existingAncestor(copyRoot);
            if (::stat(basePlace.constData(), &a) == 0 && ::stat(copyPlace.constData(), &b) == 0 &&
                a.st_dev == b.st_dev) {
                bytesNeeded += copyBytes;
                filesNeeded += quint64(toCopy);
            } else if (!enoughRoom(copyPlace, copyBytes, quint64(toCopy))) {
                return fail(
                    QStringLiteral("Espace disque insuffisant pour mettre de côté les versions locales ; rien n'a "
                                   "été restauré."));
            }
        }
        if (!enoughRoom(basePlace, bytesNeeded, filesNeeded))
            return fail(
                QStringLiteral("Espace disque insuffisant pour restaurer les favoris ; rien n'a été restauré."));
    }

    // --- Writing. Until the renames, a failure takes back all it did.
    std::vector<QByteArray> created; // folders, in creation order
    bool baseCreated = false;
    std::map<QByteArray, std::vector<Entry*>> byFolder;
    for (Entry& e : entries)
        if (!e.isFolder && e.action != Action::Same) byFolder[e.folder].push_back(&e);
    auto rollBack = [&](const QString& error) {
        for (auto& [folder, list] : byFolder) {
            Fd dir(baseFd ? fs::openFolderPathAt(baseFd.get(), folder) : -1);
            for (Entry* e : list)
                if (dir && !e->temp.isEmpty()) ::unlinkat(dir.get(), e->temp.constData(), 0);
        }
        for (auto f = created.rbegin(); f != created.rend(); ++f) {
            const int slash = f->lastIndexOf('/');
            Fd parent(fs::openFolderPathAt(baseFd.get(), slash < 0 ? QByteArray() : f->left(slash)));
            if (parent) ::unlinkat(parent.get(), f->mid(slash + 1).constData(), AT_REMOVEDIR);
        }
        for (const auto& [folder, times] : folderTimes) {
            Fd dir(fs::openFolderPathAt(baseFd.get(), folder));
            if (dir) ::futimens(dir.get(), times.data());
        }
        if (baseCreated) {
            baseFd.reset();
            ::rmdir(base.constData());
        }
        result.archived = 0;
        result.written = 0;
        result.unchanged = 0;
        return fail(error + QStringLiteral(" Rien n'a été restauré."));
    };

    if (baseMissing) {
        if (::mkdir(base.constData(), 0777) != 0)
            return fail(
                QStringLiteral("Impossible de créer le dossier « %1 » : %2.").arg(baseFolder, systemText(errno)));
        baseCreated = true;
        baseFd = Fd(::open(base.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!baseFd)
            return rollBack(
                QStringLiteral("Le dossier « %1 » est inaccessible : %2.").arg(baseFolder, systemText(errno)));
    }
    for (const QByteArray& f : folders) {
        if (!missing.contains(f)) continue;
        const int slash = f.lastIndexOf('/');
        Fd parent(fs::openFolderPathAt(baseFd.get(), slash < 0 ? QByteArray() : f.left(slash)));
        if (!parent || ::mkdirat(parent.get(), f.mid(slash + 1).constData(), 0777) != 0)
            return rollBack(
                QStringLiteral("Impossible de créer le dossier « %1 » : %2.").arg(shown(f), systemText(errno)));
        created.push_back(f);
    }

    TempNames names;
    for (auto& [folder, list] : byFolder) {
        Fd dir(fs::openFolderPathAt(baseFd.get(), folder));
        if (!dir)
            return rollBack(
                QStringLiteral("Le dossier « %1 » est inaccessible : %2.").arg(shown(folder), systemText(errno)));
        for (Entry* e : list) {
            QByteArray temp;
            Fd out(createTempAt(dir.get(), e->readOnly ? 0444 : 0666, names, temp));
            if (!out)
                return rollBack(QStringLiteral("Impossible d'écrire « %1 » : %2.").arg(e->name, systemText(errno)));
            e->temp = temp;
            QString error;
            int writeError = 0;
            const bool ok = entryData(
                za, *e,
                [&](const char* p, qint64 n) {
                    meter.advance(double(n));
                    if (fs::writeFully(out.get(), p, n)) return true;
                    writeError = errno;
                    return false;
                },
                error);
            if (!ok && writeError)
                return rollBack(
                    QStringLiteral("Impossible d'écrire « %1 » : %2.").arg(e->name, systemText(writeError)));
            if (!ok) return rollBack(error);
            const timespec times[2] = {{0, UTIME_OMIT}, {e->mtime, 0}};
            ::futimens(out.get(), times);
            if (::close(out.release()) != 0)
                return rollBack(QStringLiteral("Impossible d'écrire « %1 » : %2.").arg(e->name, systemText(errno)));
            meter.advance(perEntry);
        }
    }

    // The local versions about to be replaced, copied aside first.
    if (toCopy > 0) {
        if (!fs::makeFolderPath(copyRoot))
            return rollBack(QStringLiteral("Impossible de créer le dossier « %1 » : %2.")
                                .arg(archiveCopyFolder, systemText(errno)));
        Fd copyRootFd(::open(copyRoot.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!copyRootFd)
            return rollBack(
                QStringLiteral("Le dossier « %1 » est inaccessible : %2.").arg(archiveCopyFolder, systemText(errno)));
        for (auto& [folder, list] : byFolder) {
            if (std::none_of(list.begin(), list.end(), [](const Entry* e) { return e->action == Action::Replace; }))
                continue;
            Fd dir(fs::openFolderPathAt(baseFd.get(), folder));
            Fd copyDir(fs::openFolderPathAt(copyRootFd.get(), folder, true));
            if (!dir || !copyDir)
                return rollBack(
                    QStringLiteral("Le dossier « %1 » est inaccessible : %2.").arg(shown(folder), systemText(errno)));
            for (Entry* e : list) {
                if (e->action != Action::Replace) continue;
                QString error;
                const CopyOutcome outcome = copyAside(dir.get(), copyDir.get(), *e, names, error);
                if (outcome == CopyOutcome::Failed) return rollBack(error);
                if (outcome == CopyOutcome::Copied) ++result.archived;
                meter.advance(perEntry);
            }
        }
    }

    // Into place. A new file never takes the place of one that appeared
    // meanwhile, a replaced one must still be the file that was copied aside.
    QString firstError;
    for (auto& [folder, list] : byFolder) {
        Fd dir(fs::openFolderPathAt(baseFd.get(), folder));
        const int dirError = errno;
        for (Entry* e : list) {
            meter.advance(perEntry);
            int err = dirError;
            if (dir && e->action == Action::Write) {
                int rc = ::renameat2(dir.get(), e->temp.constData(), dir.get(), e->leaf.constData(), RENAME_NOREPLACE);
                if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
                    rc = ::linkat(dir.get(), e->temp.constData(), dir.get(), e->leaf.constData(), 0);
                    if (rc == 0) ::unlinkat(dir.get(), e->temp.constData(), 0);
                }
                err = rc == 0 ? 0 : errno;
            } else if (dir) {
                struct stat st;
                const bool still = ::fstatat(dir.get(), e->leaf.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                                   S_ISREG(st.st_mode) && idOf(st) == e->localId;
                err = !still                                                                            ? EEXIST
                      : ::renameat(dir.get(), e->temp.constData(), dir.get(), e->leaf.constData()) == 0 ? 0
                                                                                                        : errno;
            }
            if (err == 0) {
                ++result.written;
                continue;
            }
            if (firstError.isEmpty())
                firstError = QStringLiteral("« %1 » n'a pas été restauré : %2.")
                                 .arg(e->name, err == EEXIST
                                                   ? QStringLiteral("le fichier local a changé pendant la restauration")
                                                   : systemText(err));
            if (dir) ::unlinkat(dir.get(), e->temp.constData(), 0);
        }
    }
    if (!firstError.isEmpty()) return fail(firstError);
    result.ok = true;
    meter.show(100);
    return result;
}

} // namespace signetrix::backup
