#include "cleanup/ArchivedFavorites.h"

#include "cleanup/CleanupFiles.h"
#include "favorites/ShortcutFile.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"

#include <QHash>
#include <QRandomGenerator>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace signetrix::cleanup {
namespace {

constexpr qint64 kChunk = 64 * 1024;

using fs::Fd;

QByteArray native(const QString& path) { return fs::nativeFromWide(path); }

QByteArray withoutTrailingSlashes(QByteArray path)
{
    while (path.size() > 1 && path.endsWith('/')) path.chop(1);
    return path;
}

// A name a QString path can carry: its bytes decode and encode back unchanged.
bool roundTrips(const QByteArray& name) { return fs::nativeFromWide(fs::wideFromNative(name)) == name; }

bool isDotOrDotDot(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}





// The parts of a relative path that may be written below a root: none empty,
// "." or "..", no NUL, not absolute, not the temporary pattern (listings would
// hide such a file, and the sweep would remove it), names that encode back to
// the same text. Empty when refused.
QByteArrayList acceptedSegments(const QString& relativePath)
{
    if (relativePath.isEmpty() || relativePath.contains(QChar(0)) || relativePath.startsWith(QLatin1Char('/')))
        return {};
    const QByteArray bytes = native(relativePath);
    if (fs::wideFromNative(bytes) != relativePath) return {};
    QByteArrayList segments = bytes.split('/');
    for (const QByteArray& s : segments)
        if (s.isEmpty() || s == "." || s == "..") return {};
    if (fs::isTempFileName(segments.last())) return {};
    return segments;
}

// Where a relative path leads below a root, walked one folder at a time
// without following links.
enum class Spot {
    Missing, // nothing there (folder holds the leaf's folder when that exists)
    File,    // a regular file; st is its status
    Blocked, // a link, a folder or another non-regular file at the place or on the way
    Failed,  // the walk could not go on; error says why
};
struct Place {
    Spot spot = Spot::Failed;
    Fd folder;
    struct stat st {};
    int error = 0;
};

Place locate(int rootFd, const QByteArrayList& segments, bool create)
{
    Place place;
    Fd fd(::fcntl(rootFd, F_DUPFD_CLOEXEC, 0));
    if (!fd) {
        place.error = errno;
        return place;
    }
    for (qsizetype i = 0; i + 1 < segments.size(); ++i) {
        const char* name = segments[i].constData();
        int next = fs::openFolderAt(fd.get(), name);
        if (next < 0 && errno == ENOENT && create) {
            if (::mkdirat(fd.get(), name, 0777) != 0 && errno != EEXIST) {
                place.error = errno;
                return place;
            }
            next = fs::openFolderAt(fd.get(), name);
        }
        if (next < 0) {
            const int e = errno;
            struct stat st;
            if (e == ENOENT) {
                place.spot = Spot::Missing;
            } else if (::fstatat(fd.get(), name, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode)) {
                place.spot = Spot::Blocked;
            } else {
                place.error = e;
            }
            return place;
        }
        fd = Fd(next);
    }
    if (::fstatat(fd.get(), segments.last().constData(), &place.st, AT_SYMLINK_NOFOLLOW) != 0) {
        place.error = errno;
        place.spot = place.error == ENOENT ? Spot::Missing : Spot::Failed;
    } else {
        place.spot = S_ISREG(place.st.st_mode) ? Spot::File : Spot::Blocked;
    }
    place.folder = std::move(fd);
    return place;
}

int openFolder(const QString& path)
{
    const QByteArray bytes = withoutTrailingSlashes(native(path));
    if (bytes.isEmpty()) {
        errno = ENOENT;
        return -1;
    }
    return ::open(bytes.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// The archive copy itself: it must lie at <day folder>/relativePath with no
// link from the day folder down, whatever path the caller handed in.
int openArchivedCopy(const ArchivedFavorite& f, const QByteArrayList& segments, struct stat& st)
{
    const QString suffix = QLatin1Char('/') + f.relativePath;
    if (f.day.isEmpty() || !f.archivedPath.endsWith(suffix)) {
        errno = EINVAL;
        return -1;
    }
    const QString dayFolder = f.archivedPath.chopped(suffix.size());
    if (dayFolder != f.day && !dayFolder.endsWith(QLatin1Char('/') + f.day)) {
        errno = EINVAL;
        return -1;
    }
    Fd day(::open(native(dayFolder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!day) return -1;
    Place place = locate(day.get(), segments, false);
    if (place.spot != Spot::File) {
        errno = place.spot == Spot::Failed ? place.error : place.spot == Spot::Missing ? ENOENT : EINVAL;
        return -1;
    }
    return fs::openRegularAt(place.folder.get(), segments.last().constData(), &st, true);
}

// ---------------------------------------------------------------- listing

struct DayOrder {
    QDate date;
    timespec mtime{};
    QString name;
};

bool newerFirst(const DayOrder& a, const DayOrder& b)
{
    if (a.date.isValid() != b.date.isValid()) return a.date.isValid();
    if (a.date != b.date) return a.date > b.date;
    if (a.mtime.tv_sec != b.mtime.tv_sec) return a.mtime.tv_sec > b.mtime.tv_sec;
    if (a.mtime.tv_nsec != b.mtime.tv_nsec) return a.mtime.tv_nsec > b.mtime.tv_nsec;
    return a.name < b.name;
}

QDate parseDayName(const QString& name, const QLocale& locale)
{
    QString format = locale.dateFormat(QLocale::ShortFormat);
    format.replace(QLatin1Char('/'), QLatin1Char('-'));
    QDate date = locale.toDate(name, format);
    // Qt reads "yy" as 19xx; no archive predates the program.
    if (date.isValid() && date.year() < 2000 && !format.contains(QLatin1String("yyyy")))
        date = date.addYears(100);
    if (!date.isValid()) date = QDate::fromString(name, Qt::ISODate);
    return date;
}

QString displayNameOf(const QString& relativePath)
{
    QString name = relativePath.mid(relativePath.lastIndexOf(QLatin1Char('/')) + 1);
    if (name.endsWith(QLatin1String(".url"), Qt::CaseInsensitive)) name.chop(4);
    return name;
}

ArchivedState stateAgainst(int favoritesFd, const QByteArrayList& segments, int copyFd, const struct stat& copySt)
{
    if (favoritesFd < 0) return ArchivedState::Absent;
    Place place = locate(favoritesFd, segments, false);
    if (place.spot == Spot::Missing) return ArchivedState::Absent;
    if (place.spot != Spot::File) return ArchivedState::Different;
    struct stat st;
    Fd local(fs::openRegularAt(place.folder.get(), segments.last().constData(), &st, true));
    return local && fs::sameContents(copyFd, copySt, local.get(), st) ? ArchivedState::Same : ArchivedState::Different;
}

struct DayWalk {
    QString dayName;
    QString dayPath;
    int favoritesFd = -1;
    std::set<std::pair<dev_t, ino_t>> folders; // each real folder once, should a mount loop back
    std::vector<ArchivedFavorite> out;
};

void addCopy(int dirFd, const char* name, const QByteArray& relative, DayWalk& walk)
{
    if (!roundTrips(relative)) return;
    const QString relativePath = fs::wideFromNative(relative);
    const QByteArrayList segments = acceptedSegments(relativePath);
    if (segments.isEmpty()) return;
    struct stat st;
    Fd copy(fs::openRegularAt(dirFd, name, &st, true));
    if (!copy) return; // gone or replaced since the folder was read

    ArchivedFavorite f;
    f.day = walk.dayName;
    f.relativePath = relativePath;
    f.displayName = displayNameOf(relativePath);
    f.archivedPath = walk.dayPath + QLatin1Char('/') + relativePath;
    if (st.st_size <= kMaxShortcutFileSize) {
        QByteArray bytes(qsizetype(st.st_size), Qt::Uninitialized);
        if (fs::readFully(copy.get(), bytes.data(), bytes.size(), 0))
            f.address = codepage::fromAnsi(ShortcutUrlFromBytes(bytes));
    }
    f.state = stateAgainst(walk.favoritesFd, segments, copy.get(), st);
    walk.out.push_back(std::move(f));
}

void listCopies(int dirFd, const QByteArray& prefix, DayWalk& walk)
{
    struct stat self;
    if (::fstat(dirFd, &self) != 0 || !walk.folders.insert({self.st_dev, self.st_ino}).second) return;
    const int listFd = ::fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
    DIR* dir = listFd < 0 ? nullptr : ::fdopendir(listFd);
    if (!dir) {
        if (listFd >= 0) ::close(listFd);
        return;
    }
    std::vector<QByteArray> names;
    while (const dirent* entry = ::readdir(dir))
        if (!isDotOrDotDot(entry->d_name)) names.emplace_back(entry->d_name);
    ::closedir(dir);

    for (const QByteArray& name : names) {
        struct stat st;
        if (::fstatat(dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            Fd sub(fs::openFolderAt(dirFd, name.constData()));
            if (sub) listCopies(sub.get(), prefix + name + '/', walk);
        } else if (S_ISREG(st.st_mode) && !fs::isTempFileName(name)) {
            addCopy(dirFd, name.constData(), prefix + name, walk);
        }
    }
}

bool byRelativePath(const ArchivedFavorite& a, const ArchivedFavorite& b)
{
    const int folded = a.relativePath.compare(b.relativePath, Qt::CaseInsensitive);
    return folded != 0 ? folded < 0 : a.relativePath < b.relativePath;
}

// ---------------------------------------------------------------- restore

QString failure(const QString& relativePath, const QString& why)
{
    return QStringLiteral("« %1 » n'a pas été restauré : %2.").arg(relativePath, why);
}

QString systemText(int error) { return fs::lastErrorText(error); }

// A new file of the temporary pattern in dirFd.
int createTempAt(int dirFd, QByteArray& name)
{
    static constexpr char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = fs::kTempFilePrefix;
        for (int i = 0; i < 6; ++i) name.append(letters[QRandomGenerator::global()->bounded(62)]);
        const int fd = ::openat(dirFd, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// Writes a temporary file in dirFd holding the bytes, permission bits and
// times of the source; 0 and its name, or the errno (nothing left behind).
int writeTemp(int dirFd, int sourceFd, const struct stat& source, QByteArray& temp)
{
    Fd out(createTempAt(dirFd, temp));
    if (!out) return errno;
    int e = 0;
    QByteArray buffer(kChunk, Qt::Uninitialized);
    for (qint64 at = 0; !e && at < source.st_size; at += kChunk) {
        const qint64 n = std::min<qint64>(kChunk, source.st_size - at);
        if (!fs::readFully(sourceFd, buffer.data(), n, at) || !fs::writeFully(out.get(), buffer.constData(), n)) e = errno;
    }
    if (!e && ::fchmod(out.get(), source.st_mode & 0777) != 0) e = errno;
    const timespec times[2] = {source.st_atim, source.st_mtim};
    if (!e && ::futimens(out.get(), times) != 0) e = errno;
    // The rename may replace the user's only other version: the data must be on disk first.
    if (!e && ::fsync(out.get()) != 0) e = errno;
    const int closed = out.close();
    if (!e) e = closed;
    if (e) ::unlinkat(dirFd, temp.constData(), 0);
    return e;
}

enum class Aside { Copied, AlreadyThere, Failed };

// Copies the version about to be replaced to todayRoot/relativePath, never
// over another copy.
Aside copyAside(int localFd, const struct stat& local, const QByteArrayList& segments, const QByteArray& todayRoot,
                QString& why)
{
    auto failed = [&](int e) {
        why = QStringLiteral("sa version actuelle n'a pas pu être archivée (%1)").arg(systemText(e));
        return Aside::Failed;
    };
    if (todayRoot.isEmpty()) return failed(ENOENT);
    if (!fs::makeFolderPath(todayRoot)) return failed(errno ? errno : ENOTDIR);
    Fd root(::open(todayRoot.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!root) return failed(errno);
    Place place = locate(root.get(), segments, true);
    if (place.spot == Spot::Failed) return failed(place.error);
    if (place.spot == Spot::Blocked && !place.folder) return failed(ENOTDIR);
    if (!place.folder) return failed(ENOENT);

    QByteArray temp;
    if (const int e = writeTemp(place.folder.get(), localFd, local, temp)) return failed(e);
    const int dirFd = place.folder.get();
    for (int n = 1; n <= 1000; ++n) {
        const QByteArray target = n == 1 ? segments.last() : fs::numberedName(segments.last(), n);
        const int e = fs::renameNoReplace(dirFd, temp, target);
        if (e == 0) return Aside::Copied;
        if (e != EEXIST) {
            ::unlinkat(dirFd, temp.constData(), 0);
            return failed(e);
        }
        struct stat st;
        Fd existing(fs::openRegularAt(dirFd, target.constData(), &st, true));
        if (existing && fs::sameContents(existing.get(), st, localFd, local)) {
            ::unlinkat(dirFd, temp.constData(), 0);
            return Aside::AlreadyThere;
        }
    }
    ::unlinkat(dirFd, temp.constData(), 0);
    why = QStringLiteral("sa version actuelle n'a pas pu être archivée (trop de copies portent déjà ce nom)");
    return Aside::Failed;
}

bool sameFileAsBefore(const struct stat& now, const struct stat& before)
{
    return now.st_dev == before.st_dev && now.st_ino == before.st_ino && now.st_size == before.st_size &&
           now.st_mtim.tv_sec == before.st_mtim.tv_sec && now.st_mtim.tv_nsec == before.st_mtim.tv_nsec;
}

enum class Outcome { Restored, Unchanged, Failed };

Outcome restoreOne(const ArchivedFavorite& f, bool mayReplace, int favoritesFd, const QByteArray& todayRoot,
                   RestoreResult& result)
{
    auto fail = [&](const QString& why) {
        result.errors << failure(f.relativePath, why);
        return Outcome::Failed;
    };
    const QByteArrayList segments = acceptedSegments(f.relativePath);
    if (segments.isEmpty()) return fail(QStringLiteral("chemin refusé"));
    struct stat source;
    Fd copy(openArchivedCopy(f, segments, source));
    if (!copy)
        return fail(QStringLiteral("la copie archivée ne peut pas être lue (%1)").arg(systemText(errno)));
    if (favoritesFd < 0) return fail(QStringLiteral("le dossier des favoris est introuvable"));

    Place place = locate(favoritesFd, segments, true);
    const QString blocked = QStringLiteral("un lien, un dossier ou un fichier spécial occupe sa place ou son chemin");
    if (place.spot == Spot::Blocked) return fail(blocked);
    if (place.spot == Spot::Failed || !place.folder) return fail(systemText(place.error ? place.error : ENOENT));
    const int dirFd = place.folder.get();
    const QByteArray& leaf = segments.last();

    if (place.spot == Spot::Missing) {
        QByteArray temp;
        if (const int e = writeTemp(dirFd, copy.get(), source, temp)) return fail(systemText(e));
        const int e = fs::renameNoReplace(dirFd, temp, leaf);
        if (e == 0) return Outcome::Restored;
        ::unlinkat(dirFd, temp.constData(), 0);
        return fail(e == EEXIST ? QStringLiteral("un fichier est apparu à sa place entre-temps") : systemText(e));
    }

    struct stat local;
    Fd current(fs::openRegularAt(dirFd, leaf.constData(), &local, true));
    if (!current) return fail(errno == EINVAL || errno == ELOOP || errno == EISDIR ? blocked : systemText(errno));
    if (fs::sameContents(copy.get(), source, current.get(), local)) return Outcome::Unchanged;
    if (!mayReplace) return fail(QStringLiteral("il a été modifié depuis la préparation de la restauration"));

    QByteArray temp;
    if (const int e = writeTemp(dirFd, copy.get(), source, temp)) return fail(systemText(e));
    QString why;
    const Aside aside = copyAside(current.get(), local, segments, todayRoot, why);
    struct stat now;
    if (aside != Aside::Failed &&
        (::fstatat(dirFd, leaf.constData(), &now, AT_SYMLINK_NOFOLLOW) != 0 || !sameFileAsBefore(now, local)))
        why = QStringLiteral("il a changé pendant la restauration");
    if (aside == Aside::Failed || !why.isEmpty()) {
        ::unlinkat(dirFd, temp.constData(), 0);
        return fail(why);
    }
    if (::renameat(dirFd, temp.constData(), dirFd, leaf.constData()) != 0) {
        const int e = errno;
        ::unlinkat(dirFd, temp.constData(), 0);
        return fail(systemText(e));
    }
    if (aside == Aside::Copied) ++result.archivedFirst;
    return Outcome::Restored;
}

// ---------------------------------------------------------------- removal

// Removes everything below the folder name of parentFd, staying on device.
bool emptyFolder(int parentFd, const char* name, dev_t device)
{
    Fd fd(fs::openFolderAt(parentFd, name));
    struct stat self;
    if (!fd || ::fstat(fd.get(), &self) != 0 || self.st_dev != device) return false;
    const int listFd = ::fcntl(fd.get(), F_DUPFD_CLOEXEC, 0);
    DIR* dir = listFd < 0 ? nullptr : ::fdopendir(listFd);
    if (!dir) {
        if (listFd >= 0) ::close(listFd);
        return false;
    }
    // The names first: unlinking while reading may make readdir skip entries.
    std::vector<QByteArray> names;
    while (const dirent* entry = ::readdir(dir))
        if (!isDotOrDotDot(entry->d_name)) names.emplace_back(entry->d_name);
    ::closedir(dir);

    bool ok = true;
    for (const QByteArray& entry : names) {
        struct stat st;
        if (::fstatat(fd.get(), entry.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            ok = ok && errno == ENOENT;
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            ok = emptyFolder(fd.get(), entry.constData(), device) &&
                 ::unlinkat(fd.get(), entry.constData(), AT_REMOVEDIR) == 0 && ok;
        } else {
            ok = ::unlinkat(fd.get(), entry.constData(), 0) == 0 && ok;
        }
    }
    return ok;
}

} // namespace

std::vector<ArchiveDay> ListArchiveDays(const QString& archiveRoot, const QString& favoritesFolder,
                                        const QLocale& locale)
{
    std::vector<ArchiveDay> days;
    Fd root(openFolder(archiveRoot));
    if (!root) return days;
    Fd favorites(openFolder(favoritesFolder));
    const QString rootPath = fs::wideFromNative(withoutTrailingSlashes(native(archiveRoot)));

    const int listFd = ::fcntl(root.get(), F_DUPFD_CLOEXEC, 0);
    DIR* dir = listFd < 0 ? nullptr : ::fdopendir(listFd);
    if (!dir) {
        if (listFd >= 0) ::close(listFd);
        return days;
    }
    std::vector<QByteArray> names;
    while (const dirent* entry = ::readdir(dir))
        if (!isDotOrDotDot(entry->d_name)) names.emplace_back(entry->d_name);
    ::closedir(dir);

    std::vector<std::pair<DayOrder, ArchiveDay>> found;
    for (const QByteArray& name : names) {
        if (!roundTrips(name) || fs::isTempFileName(name)) continue;
        struct stat st;
        if (::fstatat(root.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode)) continue;
        Fd dayFd(fs::openFolderAt(root.get(), name.constData()));
        if (!dayFd) continue;
        ArchiveDay day;
        day.name = fs::wideFromNative(name);
        day.path = rootPath + QLatin1Char('/') + day.name;
        day.date = parseDayName(day.name, locale);
        DayWalk walk;
        walk.dayName = day.name;
        walk.dayPath = day.path;
        walk.favoritesFd = favorites.get();
        listCopies(dayFd.get(), QByteArray(), walk);
        std::sort(walk.out.begin(), walk.out.end(), byRelativePath);
        day.favorites = std::move(walk.out);
        found.emplace_back(DayOrder{day.date, st.st_mtim, day.name}, std::move(day));
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return newerFirst(a.first, b.first); });
    days.reserve(found.size());
    for (auto& entry : found) days.push_back(std::move(entry.second));
    return days;
}

bool MatchesFilter(const ArchivedFavorite& favorite, const QString& text)
{
    return text.isEmpty() || favorite.relativePath.contains(text, Qt::CaseInsensitive) ||
           favorite.displayName.contains(text, Qt::CaseInsensitive) ||
           favorite.address.contains(text, Qt::CaseInsensitive);
}

RestorePlan PlanRestore(const std::vector<ArchivedFavorite>& checked, const QString& favoritesFolder,
                        const QLocale& locale)
{
    RestorePlan plan;
    auto refuse = [&plan](const QString& relativePath) {
        if (!plan.refused.contains(relativePath)) plan.refused << relativePath;
    };

    // The newest day's copy of each relative path.
    QHash<QString, DayOrder> orders; // by day folder path
    auto orderOf = [&](const ArchivedFavorite& f) {
        const QString folder = f.archivedPath.chopped(std::min(f.archivedPath.size(), f.relativePath.size() + 1));
        auto it = orders.find(folder);
        if (it == orders.end()) {
            DayOrder order{parseDayName(f.day, locale), {}, f.day};
            struct stat st;
            if (::lstat(native(folder).constData(), &st) == 0) order.mtime = st.st_mtim;
            it = orders.insert(folder, order);
        }
        return *it;
    };
    std::map<QString, const ArchivedFavorite*> newest;
    for (const ArchivedFavorite& f : checked) {
        if (acceptedSegments(f.relativePath).isEmpty()) {
            refuse(f.relativePath);
            continue;
        }
        auto [it, added] = newest.try_emplace(f.relativePath, &f);
        if (!added && newerFirst(orderOf(f), orderOf(*it->second))) it->second = &f;
    }

    Fd favorites(openFolder(favoritesFolder));
    std::vector<ArchivedFavorite> all;
    for (const auto& [relativePath, f] : newest) {
        const QByteArrayList segments = acceptedSegments(relativePath);
        // A checked file where another checked one needs a folder: one of the two could not be written.
        bool underPlannedFile = false;
        for (qsizetype slash = relativePath.indexOf(QLatin1Char('/')); slash > 0 && !underPlannedFile;
             slash = relativePath.indexOf(QLatin1Char('/'), slash + 1))
            underPlannedFile = newest.count(relativePath.left(slash)) != 0;
        struct stat st;
        Fd copy(underPlannedFile || !favorites ? -1 : openArchivedCopy(*f, segments, st));
        if (!copy) {
            refuse(relativePath);
            continue;
        }
        Place place = locate(favorites.get(), segments, false);
        ArchivedFavorite planned = *f;
        if (place.spot == Spot::Missing) {
            planned.state = ArchivedState::Absent;
        } else if (place.spot == Spot::File) {
            struct stat local;
            Fd current(fs::openRegularAt(place.folder.get(), segments.last().constData(), &local, true));
            // One that cannot be read is a conflict: it cannot be archived, so it will not be replaced.
            planned.state = current && fs::sameContents(copy.get(), st, current.get(), local) ? ArchivedState::Same
                                                                                         : ArchivedState::Different;
        } else {
            refuse(relativePath);
            continue;
        }
        all.push_back(std::move(planned));
    }
    std::sort(all.begin(), all.end(), byRelativePath);
    for (ArchivedFavorite& f : all)
        (f.state == ArchivedState::Different ? plan.conflicts : plan.copies).push_back(std::move(f));
    return plan;
}

RestoreResult CarryOutRestore(const RestorePlan& plan, bool overwriteConflicts, const QString& favoritesFolder,
                              const QString& todayArchiveFolder)
{
    RestoreResult result;
    Fd favorites(openFolder(favoritesFolder));
    const QByteArray todayRoot = withoutTrailingSlashes(native(todayArchiveFolder));
    auto count = [&result](Outcome o) {
        if (o == Outcome::Restored) ++result.restored;
        else if (o == Outcome::Unchanged) ++result.unchanged;
    };
    for (const ArchivedFavorite& f : plan.copies) count(restoreOne(f, false, favorites.get(), todayRoot, result));
    if (overwriteConflicts)
        for (const ArchivedFavorite& f : plan.conflicts)
            count(restoreOne(f, true, favorites.get(), todayRoot, result));
    return result;
}

QStringList RemoveArchiveDays(const QStringList& dayNames, const QString& archiveRoot)
{
    QStringList failed;
    Fd root(openFolder(archiveRoot));
    QSet<QString> seen;
    for (const QString& name : dayNames) {
        if (seen.contains(name)) continue;
        seen.insert(name);
        const QByteArray bytes = native(name);
        struct stat st;
        const bool acceptable = !name.isEmpty() && name != QLatin1String(".") && !name.contains(QLatin1Char('/')) &&
                                !name.contains(QLatin1String("..")) && !name.contains(QChar(0)) &&
                                fs::wideFromNative(bytes) == name;
        if (!root || !acceptable || ::fstatat(root.get(), bytes.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISDIR(st.st_mode) || !emptyFolder(root.get(), bytes.constData(), st.st_dev) ||
            ::unlinkat(root.get(), bytes.constData(), AT_REMOVEDIR) != 0)
            failed << name;
    }
    return failed;
}

} // namespace signetrix::cleanup
