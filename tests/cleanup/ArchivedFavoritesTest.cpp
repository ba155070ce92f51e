#include "CleanupFixture.h"
#include "cleanup/ArchivedFavorites.h"

#include <QDirIterator>
#include <QFileInfo>

#include <map>

#include <fcntl.h>
#include <sys/stat.h>

using namespace signetrix;
using namespace signetrix::cleanup;
using signetrix::test::FavoritesTree;
using signetrix::test::shortcut;
using signetrix::test::TempTree;

namespace {

QLocale french() { return QLocale(QLocale::French, QLocale::France); }

// Nanoseconds since the epoch.
struct Times {
    qint64 atime = 0;
    qint64 mtime = 0;
};
qint64 nanoseconds(const timespec& t) { return qint64(t.tv_sec) * 1000000000 + t.tv_nsec; }

void setTimes(const QString& path, qint64 mtimeSeconds, long nanoseconds = 0)
{
    // Access time a day before: a restore that swaps the two shows.
    const timespec t[2] = {{time_t(mtimeSeconds - 86400), nanoseconds}, {time_t(mtimeSeconds), nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), t, AT_SYMLINK_NOFOLLOW), 0)
        << path.toStdString();
}

Times timesOf(const QString& path)
{
    struct stat st {};
    EXPECT_EQ(::lstat(QFile::encodeName(path).constData(), &st), 0) << path.toStdString();
    return {nanoseconds(st.st_atim), nanoseconds(st.st_mtim)};
}

void makeLink(const QString& target, const QString& link)
{
    QDir().mkpath(QFileInfo(link).path());
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()), 0)
        << link.toStdString();
}

// Reads a file without moving its access time (as owner), so that taking a
// snapshot does not change the times a restore must keep.
QByteArray readQuietly(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOATIME | O_CLOEXEC);
    EXPECT_GE(fd, 0) << path.toStdString();
    QFile f;
    if (fd < 0 || !f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) return QByteArray();
    return f.readAll();
}

// Every entry below a folder, links not followed: kind, bytes and time of files.
using Snapshot = std::map<QString, QByteArray>;
Snapshot snapshot(const QString& root)
{
    Snapshot out;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info(path);
        if (info.isSymLink()) {
            out[path] = "link " + QFile::encodeName(info.symLinkTarget());
        } else if (info.isDir()) {
            out[path] = "folder";
        } else {
            const qint64 mtime = timesOf(path).mtime;
            out[path] = readQuietly(path) + " @" + QByteArray::number(mtime);
        }
    }
    return out;
}

// The paths whose entry differs between two snapshots.
QStringList changes(const Snapshot& before, const Snapshot& after)
{
    QStringList changed;
    for (const auto& [path, what] : before) {
        auto it = after.find(path);
        if (it == after.end() || it->second != what) changed << path;
    }
    for (const auto& [path, what] : after)
        if (!before.count(path)) changed << path;
    return changed;
}

bool isUnder(const QString& path, const QString& folder) { return path == folder || path.startsWith(folder + '/'); }

const QByteArray kCafeNew = shortcut("https://cafe.example/carte");
const QByteArray kCafeOld = shortcut("https://cafe.example/ancienne-carte");
const QByteArray kKremlin = shortcut("https://kremlin.example/visite");
const QByteArray kOutilArchived = shortcut("https://outil.example/v1");
const QByteArray kOutilNow = shortcut("https://outil.example/v2");
const QByteArray kDeep = shortcut("https://profond.example/");

// A user's Favorites folder and, beside "the executable", an archive of three
// date folders: two named by the French short date, one by the ISO date.
class ArchivedFavoritesTest : public ::testing::Test {
protected:
    static QString newestDay() { return ArchiveDateText(QDate(2026, 12, 10), french()); } // "10-12-2026"
    static QString olderDay() { return ArchiveDateText(QDate(2026, 12, 9), french()); }   // "09-12-2026"
    static QString isoDay() { return QDate(2026, 11, 30).toString(Qt::ISODate); }         // "2026-11-30"
    static QString todayName() { return ArchiveDateText(QDate(2026, 12, 11), french()); }

    QString root() const { return tree.exeFolder() + QStringLiteral("Devodav Archives"); }
    QString dayPath(const QString& day) const { return root() + '/' + day; }
    QString today() const { return dayPath(todayName()); }
    QString copyPath(const QString& day, const QString& rel) const { return dayPath(day) + '/' + rel; }

    QString archive(const QString& day, const QString& rel, const QByteArray& bytes, qint64 mtime)
    {
        const QString path = copyPath(day, rel);
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
        f.write(bytes);
        f.close();
        setTimes(path, mtime, 250000000);
        return path;
    }

    void SetUp() override
    {
        archive(newestDay(), QStringLiteral("Café.url"), kCafeNew, 1765300000);
        archive(newestDay(), QStringLiteral("Travail/Outil.url"), kOutilArchived, 1765310000);
        archive(newestDay(), QStringLiteral("Nouveau dossier/Profond/Lien.url"), kDeep, 1765320000);
        archive(olderDay(), QStringLiteral("Café.url"), kCafeOld, 1765200000);
        archive(isoDay(), QStringLiteral("Москва/Кремль.url"), kKremlin, 1764400000);
        // Absent, same and different bytes in the tree now.
        tree.write(QStringLiteral("Москва/Кремль.url"), kKremlin);
        tree.write(QStringLiteral("Travail/Outil.url"), kOutilNow);
        setTimes(tree.abs(QStringLiteral("Travail/Outil.url")), 1765400000, 500);
    }

    std::vector<ArchiveDay> list() const { return ListArchiveDays(root(), tree.favorites(), french()); }
    const ArchivedFavorite& find(const std::vector<ArchiveDay>& days, const QString& day, const QString& rel)
    {
        for (const ArchiveDay& d : days)
            if (d.name == day)
                for (const ArchivedFavorite& f : d.favorites)
                    if (f.relativePath == rel) return f;
        ADD_FAILURE() << "not listed: " << day.toStdString() << "/" << rel.toStdString();
        static const ArchivedFavorite none;
        return none;
    }
    std::vector<ArchivedFavorite> everything() const
    {
        std::vector<ArchivedFavorite> all;
        for (const ArchiveDay& d : list()) all.insert(all.end(), d.favorites.begin(), d.favorites.end());
        return all;
    }
    // An entry as a dialog could hand it in, whatever the listing said.
    ArchivedFavorite entry(const QString& day, const QString& rel) const
    {
        ArchivedFavorite f;
        f.day = day;
        f.relativePath = rel;
        f.archivedPath = copyPath(day, rel);
        return f;
    }
    // The three folders a restore may touch, and one it may not.
    Snapshot wholeSnapshot() const
    {
        Snapshot s = snapshot(QFileInfo(tree.favorites()).path());
        s.merge(snapshot(tree.exeFolder()));
        s.merge(snapshot(outside.path()));
        return s;
    }
    static QStringList relativePaths(const std::vector<ArchivedFavorite>& favorites)
    {
        QStringList out;
        for (const ArchivedFavorite& f : favorites) out << f.relativePath;
        return out;
    }

    FavoritesTree tree;
    TempTree outside;
};

using ArchivedFavoritesListing = ArchivedFavoritesTest;
using ArchivedFavoritesPlan = ArchivedFavoritesTest;
using ArchivedFavoritesRestore = ArchivedFavoritesTest;
using ArchivedFavoritesRemoval = ArchivedFavoritesTest;

// ---------------------------------------------------------------- listing

TEST_F(ArchivedFavoritesListing, DaysComeNewestFirstWithUndatedFoldersLastByTime)
{
    archive(QStringLiteral("divers"), QStringLiteral("a.url"), shortcut("a"), 1700000000);
    archive(QStringLiteral("à trier"), QStringLiteral("b.url"), shortcut("b"), 1700000000);
    setTimes(dayPath(QStringLiteral("divers")), 1760000000);
    setTimes(dayPath(QStringLiteral("à trier")), 1750000000);
    // Newest by name, oldest by time: the name decides.
    setTimes(dayPath(newestDay()), 1600000000);

    const std::vector<ArchiveDay> days = list();
    QStringList names;
    for (const ArchiveDay& d : days) names << d.name;
    EXPECT_EQ(names, QStringList({QStringLiteral("10-12-2026"), QStringLiteral("09-12-2026"),
                                  QStringLiteral("2026-11-30"), QStringLiteral("divers"), QStringLiteral("à trier")}));
    ASSERT_EQ(days.size(), 5u);
    EXPECT_EQ(days[0].date, QDate(2026, 12, 10));
    EXPECT_EQ(days[2].date, QDate(2026, 11, 30));
    EXPECT_FALSE(days[3].date.isValid());
    EXPECT_EQ(days[0].path, dayPath(newestDay()));
}

TEST_F(ArchivedFavoritesListing, EachCopyWithItsNameAddressAndStateNow)
{
    const std::vector<ArchiveDay> days = list();
    ASSERT_EQ(days.size(), 3u);
    EXPECT_EQ(relativePaths(days[0].favorites),
              QStringList({QStringLiteral("Café.url"), QStringLiteral("Nouveau dossier/Profond/Lien.url"),
                           QStringLiteral("Travail/Outil.url")}));

    const struct {
        QString day, rel, name, address;
        ArchivedState state;
    } cases[] = {
        {newestDay(), QStringLiteral("Café.url"), QStringLiteral("Café"), QStringLiteral("https://cafe.example/carte"),
         ArchivedState::Absent},
        {newestDay(), QStringLiteral("Travail/Outil.url"), QStringLiteral("Outil"),
         QStringLiteral("https://outil.example/v1"), ArchivedState::Different},
        {isoDay(), QStringLiteral("Москва/Кремль.url"), QStringLiteral("Кремль"),
         QStringLiteral("https://kremlin.example/visite"), ArchivedState::Same},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rel.toStdString());
        const ArchivedFavorite& f = find(days, c.day, c.rel);
        EXPECT_EQ(f.day, c.day);
        EXPECT_EQ(f.displayName, c.name);
        EXPECT_EQ(f.address, c.address);
        EXPECT_EQ(f.archivedPath, copyPath(c.day, c.rel));
        EXPECT_EQ(f.state, c.state);
    }
}

TEST_F(ArchivedFavoritesListing, LinksAndTemporaryFilesAreNeverListedNorFollowed)
{
    outside.write(QStringLiteral("ailleurs/Secret.url"), shortcut("https://secret.example/"));
    makeLink(outside.abs(QStringLiteral("ailleurs")), copyPath(newestDay(), QStringLiteral("Lien dossier")));
    makeLink(outside.abs(QStringLiteral("ailleurs/Secret.url")), copyPath(newestDay(), QStringLiteral("Lien.url")));
    makeLink(outside.abs(QStringLiteral("ailleurs")), dayPath(QStringLiteral("08-12-2026")));
    archive(newestDay(), QStringLiteral(".signetrix-tmp-Ab12Cd"), shortcut("x"), 1700000000);
    QFile notes(root() + QStringLiteral("/notes.txt"));
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.close();

    const std::vector<ArchiveDay> days = list();
    QStringList names;
    for (const ArchiveDay& d : days) names << d.name;
    EXPECT_EQ(names, QStringList({newestDay(), olderDay(), isoDay()}));
    ASSERT_FALSE(days.empty());
    EXPECT_EQ(relativePaths(days[0].favorites),
              QStringList({QStringLiteral("Café.url"), QStringLiteral("Nouveau dossier/Profond/Lien.url"),
                           QStringLiteral("Travail/Outil.url")}));
}

TEST_F(ArchivedFavoritesListing, APlaceTakenOrReachedThroughALinkIsNeverTheSame)
{
    // The same bytes, but behind a link to another folder, or as a link: not this favorite.
    outside.write(QStringLiteral("Café.url"), kCafeNew);
    outside.write(QStringLiteral("Travail/Outil.url"), kOutilArchived);
    makeLink(outside.abs(QStringLiteral("Café.url")), tree.abs(QStringLiteral("Café.url")));
    QFile::remove(tree.abs(QStringLiteral("Travail/Outil.url")));
    QDir(tree.abs(QStringLiteral("Travail"))).removeRecursively();
    makeLink(outside.abs(QStringLiteral("Travail")), tree.abs(QStringLiteral("Travail")));
    tree.mkdir(QStringLiteral("Nouveau dossier/Profond/Lien.url"));

    const std::vector<ArchiveDay> days = list();
    for (const QString& rel : {QStringLiteral("Café.url"), QStringLiteral("Travail/Outil.url"),
                               QStringLiteral("Nouveau dossier/Profond/Lien.url")}) {
        SCOPED_TRACE(rel.toStdString());
        EXPECT_EQ(find(days, newestDay(), rel).state, ArchivedState::Different);
    }
}

TEST_F(ArchivedFavoritesListing, DateNamesOfEveryLocaleParseBack)
{
    const QDate date(2026, 12, 10);
    for (const QLocale& locale : {french(), QLocale(QLocale::English, QLocale::UnitedStates), QLocale(QLocale::German),
                                  QLocale(QLocale::Japanese), QLocale(QLocale::Russian), QLocale::c()}) {
        SCOPED_TRACE(locale.name().toStdString());
        TempTree archiveRoot;
        const QString name = ArchiveDateText(date, locale);
        archiveRoot.write(name + QStringLiteral("/a.url"), shortcut("a"));
        const std::vector<ArchiveDay> days = ListArchiveDays(archiveRoot.path(), tree.favorites(), locale);
        ASSERT_EQ(days.size(), 1u);
        EXPECT_EQ(days[0].name, name);
        EXPECT_EQ(days[0].date, date);
    }
}

TEST_F(ArchivedFavoritesListing, MissingArchiveGivesNoDays)
{
    EXPECT_TRUE(ListArchiveDays(root() + QStringLiteral("-absent"), tree.favorites(), french()).empty());
    QDir(root()).removeRecursively();
    EXPECT_TRUE(list().empty());
}

// ---------------------------------------------------------------- filter

TEST(ArchivedFavoritesFilter, MatchesPathNameOrAddressWithoutRegardToCase)
{
    ArchivedFavorite f;
    f.relativePath = QStringLiteral("Москва/Кремль.url");
    f.displayName = QStringLiteral("Кремль");
    f.address = QStringLiteral("https://Kremlin.example/Visite");
    ArchivedFavorite cafe;
    cafe.relativePath = QStringLiteral("Bistrots/Café.url");
    cafe.displayName = QStringLiteral("Café");

    const struct {
        const ArchivedFavorite& favorite;
        const char* text;
        bool matches;
    } cases[] = {
        {f, "", true},           {f, "москва", true},        {f, "КРЕМЛЬ", true},      {f, "кремль.url", true},
        {f, "KREMLIN", true},    {f, "visite", true},        {f, "Paris", false},      {f, "Москва/Париж", false},
        {cafe, "CAFÉ", true},    {cafe, "bistrots/", true},  {cafe, "cafe", false},    {cafe, "https", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(MatchesFilter(c.favorite, QString::fromUtf8(c.text)), c.matches);
    }
}

// ---------------------------------------------------------------- plan

TEST_F(ArchivedFavoritesPlan, SortsByStateNowAndTheNewestDayWins)
{
    // The older day first, and every state stale: the plan decides on its own.
    std::vector<ArchivedFavorite> checked = {entry(olderDay(), QStringLiteral("Café.url")),
                                             entry(isoDay(), QStringLiteral("Москва/Кремль.url")),
                                             entry(newestDay(), QStringLiteral("Café.url")),
                                             entry(newestDay(), QStringLiteral("Travail/Outil.url")),
                                             entry(newestDay(), QStringLiteral("Travail/Outil.url"))};
    checked[1].state = ArchivedState::Different;
    checked[3].state = ArchivedState::Absent;

    const RestorePlan plan = PlanRestore(checked, tree.favorites(), french());
    EXPECT_TRUE(plan.refused.isEmpty()) << plan.refused.join(',').toStdString();
    ASSERT_EQ(relativePaths(plan.copies),
              QStringList({QStringLiteral("Café.url"), QStringLiteral("Москва/Кремль.url")}));
    EXPECT_EQ(plan.copies[0].day, newestDay());
    EXPECT_EQ(plan.copies[0].state, ArchivedState::Absent);
    EXPECT_EQ(plan.copies[1].state, ArchivedState::Same);
    ASSERT_EQ(relativePaths(plan.conflicts), QStringList({QStringLiteral("Travail/Outil.url")}));
    EXPECT_EQ(plan.conflicts[0].state, ArchivedState::Different);

    // A newer copy of the same path in a day named by the ISO date.
    archive(QStringLiteral("2026-12-31"), QStringLiteral("Café.url"), kCafeOld, 1700000000);
    checked.push_back(entry(QStringLiteral("2026-12-31"), QStringLiteral("Café.url")));
    const RestorePlan later = PlanRestore(checked, tree.favorites(), french());
    ASSERT_FALSE(later.copies.empty());
    EXPECT_EQ(later.copies[0].day, QStringLiteral("2026-12-31"));
}

TEST_F(ArchivedFavoritesPlan, RefusesWhatWouldLandOutsideOrThroughALink)
{
    outside.write(QStringLiteral("ailleurs/x.url"), shortcut("https://ailleurs.example/"));
    // In the archive: a link to a folder outside, and one to a file outside.
    makeLink(outside.abs(QStringLiteral("ailleurs")), copyPath(newestDay(), QStringLiteral("Lien")));
    makeLink(outside.abs(QStringLiteral("ailleurs/x.url")), copyPath(newestDay(), QStringLiteral("lien.url")));
    // In the tree: a folder that is a link outside, a file where a folder is needed, a folder where the file goes.
    archive(newestDay(), QStringLiteral("Liens/x.url"), shortcut("https://liens.example/"), 1765000000);
    makeLink(outside.abs(QStringLiteral("ailleurs")), tree.abs(QStringLiteral("Liens")));
    archive(newestDay(), QStringLiteral("Dossier/y.url"), shortcut("https://dossier.example/"), 1765000000);
    tree.write(QStringLiteral("Dossier"), "not a folder");
    archive(newestDay(), QStringLiteral("Place.url"), shortcut("https://place.example/"), 1765000000);
    tree.mkdir(QStringLiteral("Place.url"));
    archive(newestDay(), QStringLiteral("Lié.url"), shortcut("https://ailleurs.example/"), 1765000000);
    makeLink(outside.abs(QStringLiteral("ailleurs/x.url")), tree.abs(QStringLiteral("Lié.url")));
    archive(newestDay(), QStringLiteral("Fichier.url"), shortcut("https://fichier.example/"), 1765000000);
    archive(olderDay(), QStringLiteral("Fichier.url/z.url"), shortcut("z"), 1765000000);

    ArchivedFavorite elsewhere = entry(newestDay(), QStringLiteral("Café.url"));
    elsewhere.archivedPath = outside.abs(QStringLiteral("ailleurs/x.url"));
    ArchivedFavorite otherDay = entry(newestDay(), QStringLiteral("Café.url"));
    otherDay.day = olderDay();
    ArchivedFavorite gone = entry(newestDay(), QStringLiteral("Disparu.url"));

    const struct {
        const char* what;
        ArchivedFavorite favorite;
    } cases[] = {
        {"parent part", entry(newestDay(), QStringLiteral("../evade.url"))},
        {"parent part inside", entry(newestDay(), QStringLiteral("Travail/../../evade.url"))},
        {"absolute", entry(newestDay(), QStringLiteral("/etc/evade.url"))},
        {"NUL", entry(newestDay(), QStringLiteral("a") + QChar(0) + QStringLiteral("b.url"))},
        {"empty part", entry(newestDay(), QStringLiteral("Travail//Outil.url"))},
        {"dot part", entry(newestDay(), QStringLiteral("./Café.url"))},
        {"empty", entry(newestDay(), QString())},
        {"temporary pattern", entry(newestDay(), QStringLiteral(".signetrix-tmp-Ab12Cd"))},
        {"archive folder is a link", entry(newestDay(), QStringLiteral("Lien/x.url"))},
        {"archive copy is a link", entry(newestDay(), QStringLiteral("lien.url"))},
        {"copy not at day/path", elsewhere},
        {"copy not in its day", otherDay},
        {"copy gone", gone},
        {"tree folder is a link", entry(newestDay(), QStringLiteral("Liens/x.url"))},
        {"file where a folder is needed", entry(newestDay(), QStringLiteral("Dossier/y.url"))},
        {"folder where the file goes", entry(newestDay(), QStringLiteral("Place.url"))},
        {"tree file is a link, even to the same bytes", entry(newestDay(), QStringLiteral("Lié.url"))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const RestorePlan plan = PlanRestore({c.favorite}, tree.favorites(), french());
        EXPECT_EQ(plan.refused, QStringList({c.favorite.relativePath}));
        EXPECT_TRUE(plan.copies.empty());
        EXPECT_TRUE(plan.conflicts.empty());
    }

    // Checked together, a file and a favorite below a folder of the same name cannot both be restored.
    const RestorePlan both = PlanRestore(
        {entry(olderDay(), QStringLiteral("Fichier.url/z.url")), entry(newestDay(), QStringLiteral("Fichier.url"))},
        tree.favorites(), french());
    EXPECT_EQ(relativePaths(both.copies), QStringList({QStringLiteral("Fichier.url")}));
    EXPECT_EQ(both.refused, QStringList({QStringLiteral("Fichier.url/z.url")}));

    // No Favorites folder: nothing to restore into.
    const RestorePlan none =
        PlanRestore({entry(newestDay(), QStringLiteral("Café.url"))}, tree.favorites() + QStringLiteral("-absent"));
    EXPECT_EQ(none.refused, QStringList({QStringLiteral("Café.url")}));
    EXPECT_TRUE(none.copies.empty());
}

// ---------------------------------------------------------------- carrying out

TEST_F(ArchivedFavoritesRestore, WithoutOverwritingRestoresTheRestAndLeavesConflictsAlone)
{
    // Taken before the listing reads the copies: the times they were archived with.
    const Times cafe = timesOf(copyPath(newestDay(), QStringLiteral("Café.url")));
    const Times deep = timesOf(copyPath(newestDay(), QStringLiteral("Nouveau dossier/Profond/Lien.url")));
    const RestorePlan plan = PlanRestore(everything(), tree.favorites(), french());
    ASSERT_EQ(plan.copies.size(), 3u);
    ASSERT_EQ(plan.conflicts.size(), 1u);
    const Snapshot before = wholeSnapshot();

    const RestoreResult r = CarryOutRestore(plan, false, tree.favorites(), today());
    EXPECT_TRUE(r.errors.isEmpty()) << r.errors.join('\n').toStdString();
    EXPECT_EQ(r.restored, 2);
    EXPECT_EQ(r.unchanged, 1);
    EXPECT_EQ(r.archivedFirst, 0);

    // Times before bytes: reading may move the access time.
    const Times cafeNow = timesOf(tree.abs(QStringLiteral("Café.url")));
    EXPECT_EQ(cafeNow.mtime, cafe.mtime);
    EXPECT_EQ(cafeNow.atime, cafe.atime);
    EXPECT_EQ(timesOf(tree.abs(QStringLiteral("Nouveau dossier/Profond/Lien.url"))).mtime, deep.mtime);
    EXPECT_EQ(tree.read(QStringLiteral("Café.url")), kCafeNew);
    EXPECT_EQ(tree.read(QStringLiteral("Nouveau dossier/Profond/Lien.url")), kDeep);
    EXPECT_EQ(tree.read(QStringLiteral("Travail/Outil.url")), kOutilNow);

    const QStringList changed = changes(before, wholeSnapshot());
    EXPECT_EQ(changed.size(), 4) << changed.join('\n').toStdString(); // two files, two new folders
    for (const QString& path : changed) EXPECT_TRUE(isUnder(path, tree.favorites())) << path.toStdString();
    EXPECT_FALSE(QFileInfo::exists(today()));
}

TEST_F(ArchivedFavoritesRestore, OverwritingArchivesEachCurrentVersionFirst)
{
    const Times outilNow = timesOf(tree.abs(QStringLiteral("Travail/Outil.url")));
    const Times outilCopy = timesOf(copyPath(newestDay(), QStringLiteral("Travail/Outil.url")));
    // Checked before today's folder holds copies of its own (it would be the newest day).
    const std::vector<ArchivedFavorite> checked = everything();
    // Three conflicts: nothing of it in today's folder yet; an older different copy there; the same copy there.
    tree.write(QStringLiteral("Café.url"), kCafeOld);
    setTimes(tree.abs(QStringLiteral("Café.url")), 1765500000, 42);
    archive(todayName(), QStringLiteral("Café.url"), shortcut("https://cafe.example/autre"), 1700000000);
    tree.write(QStringLiteral("Москва/Кремль.url"), kKremlin + "; edited");
    archive(todayName(), QStringLiteral("Москва/Кремль.url"), kKremlin + "; edited", 1700000000);
    const Times cafeNow = timesOf(tree.abs(QStringLiteral("Café.url")));

    const RestorePlan plan = PlanRestore(checked, tree.favorites(), french());
    ASSERT_EQ(relativePaths(plan.conflicts),
              QStringList({QStringLiteral("Café.url"), QStringLiteral("Travail/Outil.url"),
                           QStringLiteral("Москва/Кремль.url")}));
    const Snapshot before = wholeSnapshot();

    const RestoreResult r = CarryOutRestore(plan, true, tree.favorites(), today());
    EXPECT_TRUE(r.errors.isEmpty()) << r.errors.join('\n').toStdString();
    EXPECT_EQ(r.restored, 4);
    EXPECT_EQ(r.unchanged, 0);
    EXPECT_EQ(r.archivedFirst, 2);

    const Times outilRestored = timesOf(tree.abs(QStringLiteral("Travail/Outil.url")));
    EXPECT_EQ(outilRestored.mtime, outilCopy.mtime);
    EXPECT_EQ(outilRestored.atime, outilCopy.atime);
    const Times outilAside = timesOf(today() + QStringLiteral("/Travail/Outil.url"));
    EXPECT_EQ(outilAside.mtime, outilNow.mtime);
    EXPECT_EQ(outilAside.atime, outilNow.atime);
    const Times cafeAside = timesOf(today() + QStringLiteral("/Café (2).url"));
    EXPECT_EQ(cafeAside.mtime, cafeNow.mtime);
    EXPECT_EQ(cafeAside.atime, cafeNow.atime);
    EXPECT_EQ(tree.read(QStringLiteral("Travail/Outil.url")), kOutilArchived);
    EXPECT_EQ(tree.read(QStringLiteral("Café.url")), kCafeNew);
    EXPECT_EQ(tree.read(QStringLiteral("Москва/Кремль.url")), kKremlin);
    EXPECT_EQ(FavoritesTree::readAbs(today() + QStringLiteral("/Travail/Outil.url")), kOutilNow);
    EXPECT_EQ(FavoritesTree::readAbs(today() + QStringLiteral("/Café.url")), shortcut("https://cafe.example/autre"));
    EXPECT_EQ(FavoritesTree::readAbs(today() + QStringLiteral("/Café (2).url")), kCafeOld);

    const QStringList changed = changes(before, wholeSnapshot());
    for (const QString& path : changed)
        EXPECT_TRUE(isUnder(path, tree.favorites()) || isUnder(path, today())) << path.toStdString();
    const QStringList expectedInToday = {today() + QStringLiteral("/Café (2).url"),
                                         today() + QStringLiteral("/Travail"),
                                         today() + QStringLiteral("/Travail/Outil.url")};
    for (const QString& path : expectedInToday) EXPECT_TRUE(changed.contains(path)) << path.toStdString();
    EXPECT_FALSE(changed.contains(today() + QStringLiteral("/Москва/Кремль.url")));
    EXPECT_EQ(changed.size(), 4 + 2 + expectedInToday.size()) << changed.join('\n').toStdString();
}

TEST_F(ArchivedFavoritesRestore, AFileWhoseVersionCannotBeArchivedIsNotOverwritten)
{
    const RestorePlan plan = PlanRestore(everything(), tree.favorites(), french());
    ASSERT_EQ(plan.conflicts.size(), 1u);
    // Today's folder has a file where the copy's folder must go.
    QFile blocker(today() + QStringLiteral("/Travail"));
    QDir().mkpath(today());
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const Snapshot before = snapshot(tree.favorites());

    const RestoreResult r = CarryOutRestore({{}, plan.conflicts, {}}, true, tree.favorites(), today());
    ASSERT_EQ(r.errors.size(), 1);
    EXPECT_TRUE(r.errors[0].contains(QStringLiteral("« Travail/Outil.url »"))) << r.errors[0].toStdString();
    EXPECT_EQ(r.restored, 0);
    EXPECT_EQ(r.archivedFirst, 0);
    EXPECT_EQ(changes(before, snapshot(tree.favorites())), QStringList());
}

TEST_F(ArchivedFavoritesRestore, EachTargetIsCheckedAgainJustBeforeWriting)
{
    const RestorePlan plan = PlanRestore(everything(), tree.favorites(), french());
    ASSERT_EQ(plan.copies.size(), 3u);
    ASSERT_EQ(plan.conflicts.size(), 1u);
    // Since the plan: the conflict's folder became a link outside, an absent
    // file appeared with other bytes, and the deep one's folder is now a file.
    QDir(tree.abs(QStringLiteral("Travail"))).removeRecursively();
    outside.mkdir(QStringLiteral("ailleurs"));
    makeLink(outside.abs(QStringLiteral("ailleurs")), tree.abs(QStringLiteral("Travail")));
    tree.write(QStringLiteral("Café.url"), shortcut("https://cafe.example/nouvelle"));
    tree.write(QStringLiteral("Nouveau dossier"), "not a folder");
    // And one the plan never saw, handed in as if it had been planned.
    RestorePlan tampered = plan;
    tampered.copies.push_back(entry(newestDay(), QStringLiteral("../evade.url")));
    archive(newestDay(), QStringLiteral("Place.url"), shortcut("https://place.example/"), 1765000000);
    tampered.copies.push_back(entry(newestDay(), QStringLiteral("Place.url")));
    tree.mkdir(QStringLiteral("Place.url"));
    const Snapshot before = wholeSnapshot();

    const RestoreResult r = CarryOutRestore(tampered, true, tree.favorites(), today());
    EXPECT_EQ(r.restored, 0);
    EXPECT_EQ(r.unchanged, 1); // Кремль
    EXPECT_EQ(r.errors.size(), 5) << r.errors.join('\n').toStdString();
    for (const QString& rel : {QStringLiteral("Travail/Outil.url"), QStringLiteral("Café.url"),
                               QStringLiteral("Nouveau dossier/Profond/Lien.url"), QStringLiteral("../evade.url"),
                               QStringLiteral("Place.url")}) {
        SCOPED_TRACE(rel.toStdString());
        EXPECT_EQ(r.errors.filter(QStringLiteral("« ") + rel + QStringLiteral(" »")).size(), 1);
    }
    EXPECT_EQ(changes(before, wholeSnapshot()), QStringList());
    EXPECT_EQ(tree.read(QStringLiteral("Café.url")), shortcut("https://cafe.example/nouvelle"));
    EXPECT_FALSE(outside.exists(QStringLiteral("ailleurs/Outil.url")));
}

// ---------------------------------------------------------------- removal

TEST_F(ArchivedFavoritesRemoval, RemovesADayWithoutFollowingItsLinks)
{
    outside.write(QStringLiteral("ailleurs/garde.url"), shortcut("https://garde.example/"));
    makeLink(outside.abs(QStringLiteral("ailleurs")), copyPath(olderDay(), QStringLiteral("Lien")));
    makeLink(outside.abs(QStringLiteral("ailleurs/garde.url")), copyPath(olderDay(), QStringLiteral("Sous/lien.url")));
    ::chmod(QFile::encodeName(copyPath(olderDay(), QStringLiteral("Café.url"))).constData(), 0444);
    const Snapshot outsideBefore = snapshot(outside.path());

    EXPECT_EQ(RemoveArchiveDays({olderDay(), isoDay()}, root()), QStringList());
    EXPECT_FALSE(QFileInfo::exists(dayPath(olderDay())));
    EXPECT_FALSE(QFileInfo::exists(dayPath(isoDay())));
    EXPECT_TRUE(QFileInfo::exists(copyPath(newestDay(), QStringLiteral("Café.url"))));
    EXPECT_EQ(changes(outsideBefore, snapshot(outside.path())), QStringList());
}

TEST_F(ArchivedFavoritesRemoval, RefusesWhatIsNoDirectChildFolder)
{
    QDir().mkpath(tree.exeFolder() + QStringLiteral("x"));
    QDir().mkpath(dayPath(QStringLiteral("a/b")));
    outside.write(QStringLiteral("ailleurs/garde.url"), shortcut("https://garde.example/"));
    makeLink(outside.abs(QStringLiteral("ailleurs")), dayPath(QStringLiteral("lien-jour")));
    QFile notes(dayPath(QStringLiteral("notes.txt")));
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.close();
    const Snapshot before = wholeSnapshot();

    const QStringList refused = {QStringLiteral("../x"), QStringLiteral("a/b"),       QStringLiteral("absent"),
                                 QStringLiteral("."),    QStringLiteral(".."),        QString(),
                                 QStringLiteral("lien-jour"), QStringLiteral("notes.txt")};
    EXPECT_EQ(RemoveArchiveDays(refused, root()), refused);
    EXPECT_EQ(changes(before, wholeSnapshot()), QStringList());
    EXPECT_EQ(RemoveArchiveDays({newestDay()}, root() + QStringLiteral("-absent")), QStringList({newestDay()}));
}

} // namespace
