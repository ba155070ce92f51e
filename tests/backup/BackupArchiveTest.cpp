// The backup archive: what another reader finds in it (an independent header
// parser, libzip and Python's zipfile), the round trip into another folder,
// extraction over an existing tree, and archives that must change nothing.
#include "backup/BackupArchive.h"
#include "backup/OemCodePage.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <zip.h>

#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <map>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace signetrix::backup {
namespace {

// ---------------------------------------------------------------- helpers

QByteArray native(const QString& path) { return QFile::encodeName(path); }

class Folder {
public:
    Folder() { EXPECT_TRUE(m_dir.isValid()); }
    QString path() const { return m_dir.path(); }
    QString abs(const QString& rel) const { return m_dir.path() + '/' + rel; }
    QByteArray nativeAbs(const QByteArray& rel) const { return native(m_dir.path()) + '/' + rel; }
    // Writes through the native bytes, so names that are no valid text can be made too.
    void write(const QByteArray& rel, const QByteArray& bytes, mode_t mode = 0644, time_t mtime = 0) const
    {
        const QByteArray full = nativeAbs(rel);
        QDir().mkpath(QFile::decodeName(full.left(full.lastIndexOf('/'))));
        ::unlink(full.constData());
        const int fd = ::open(full.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0) << full.constData();
        ASSERT_EQ(::write(fd, bytes.constData(), size_t(bytes.size())), bytes.size());
        ::close(fd);
        ::chmod(full.constData(), mode);
        if (mtime) setTime(rel, mtime);
    }
    void write(const QString& rel, const QByteArray& bytes, mode_t mode = 0644, time_t mtime = 0) const
    {
        write(native(rel), bytes, mode, mtime);
    }
    void setTime(const QByteArray& rel, time_t mtime) const
    {
        const timespec times[2] = {{mtime, 0}, {mtime, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, nativeAbs(rel).constData(), times, AT_SYMLINK_NOFOLLOW), 0);
    }
    QByteArray read(const QString& rel) const
    {
        QFile f(abs(rel));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    struct stat stat(const QString& rel) const
    {
        struct stat st {};
        EXPECT_EQ(::lstat(native(abs(rel)).constData(), &st), 0) << rel.toStdString();
        return st;
    }
    bool exists(const QString& rel) const
    {
        struct stat st;
        return ::lstat(native(abs(rel)).constData(), &st) == 0;
    }

private:
    QTemporaryDir m_dir;
};

// Every node below root, links not followed, as printable lines.
void snapshotInto(const QByteArray& root, const QByteArray& rel, std::vector<std::string>& out)
{
    DIR* dir = ::opendir((root + rel).constData());
    if (!dir) return;
    std::vector<QByteArray> names;
    while (dirent* d = ::readdir(dir))
        if (qstrcmp(d->d_name, ".") && qstrcmp(d->d_name, "..")) names.emplace_back(d->d_name);
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    for (const QByteArray& name : names) {
        const QByteArray path = rel + '/' + name;
        struct stat st;
        ::lstat((root + path).constData(), &st);
        QByteArray line = path + " mode=" + QByteArray::number(st.st_mode, 8) +
                          " ino=" + QByteArray::number(qulonglong(st.st_ino)) +
                          " mtime=" + QByteArray::number(qlonglong(st.st_mtim.tv_sec)) + "." +
                          QByteArray::number(qlonglong(st.st_mtim.tv_nsec));
        if (S_ISREG(st.st_mode)) {
            QFile f(QFile::decodeName(root + path));
            line += f.open(QIODevice::ReadOnly)
                        ? " md5=" + QCryptographicHash::hash(f.readAll(), QCryptographicHash::Md5).toHex()
                        : QByteArray(" unreadable");
        } else if (S_ISLNK(st.st_mode)) {
            char target[4096];
            const ssize_t n = ::readlink((root + path).constData(), target, sizeof target);
            line += " -> " + QByteArray(target, n < 0 ? 0 : n);
        }
        out.push_back(line.toStdString());
        if (S_ISDIR(st.st_mode)) snapshotInto(root, path, out);
    }
}

std::vector<std::string> snapshot(const QString& root)
{
    std::vector<std::string> out;
    snapshotInto(native(root), QByteArray(), out);
    return out;
}

quint16 le16(const QByteArray& b, qint64 at) { return quint16(uchar(b[at]) | uchar(b[at + 1]) << 8); }
quint32 le32(const QByteArray& b, qint64 at) { return quint32(le16(b, at)) | quint32(le16(b, at + 2)) << 16; }

// Headers as written, read without libzip (single volume, no comment).
struct Header {
    QByteArray name;
    quint16 centralFlags = 0, localFlags = 0, method = 0;
    quint8 system = 0;
    quint32 attributes = 0, compressedSize = 0;
    QByteArray centralExtra, localExtra;
    qint64 dataOffset = 0;
};

std::vector<Header> readHeaders(const QByteArray& zip)
{
    std::vector<Header> out;
    const qint64 end = zip.size() - 22;
    if (end < 0 || le32(zip, end) != 0x06054b50) {
        ADD_FAILURE() << "no end record at the end of the archive";
        return out;
    }
    qint64 at = le32(zip, end + 16);
    for (int n = le16(zip, end + 10); n > 0; --n) {
        if (le32(zip, at) != 0x02014b50) {
            ADD_FAILURE() << "bad central header";
            return out;
        }
        Header h;
        h.system = quint8(le16(zip, at + 4) >> 8);
        h.centralFlags = le16(zip, at + 8);
        h.method = le16(zip, at + 10);
        h.compressedSize = le32(zip, at + 20);
        const int nameLen = le16(zip, at + 28), extraLen = le16(zip, at + 30), commentLen = le16(zip, at + 32);
        h.attributes = le32(zip, at + 38);
        const qint64 local = le32(zip, at + 42);
        h.name = zip.mid(at + 46, nameLen);
        h.centralExtra = zip.mid(at + 46 + nameLen, extraLen);
        EXPECT_EQ(le32(zip, local), 0x04034b50u);
        h.localFlags = le16(zip, local + 6);
        const int localName = le16(zip, local + 26), localExtra = le16(zip, local + 28);
        EXPECT_EQ(zip.mid(local + 30, localName), h.name);
        h.localExtra = zip.mid(local + 30 + localName, localExtra);
        h.dataOffset = local + 30 + localName + localExtra;
        out.push_back(h);
        at += 46 + nameLen + extraLen + commentLen;
    }
    return out;
}

bool hasExtraField(const QByteArray& extra, quint16 id)
{
    for (qint64 at = 0; at + 4 <= extra.size(); at += 4 + le16(extra, at + 2))
        if (le16(extra, at) == id) return true;
    return false;
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// An archive made with libzip, for the entries the program itself never writes.
struct RawEntry {
    QByteArray name;
    QByteArray data;
    bool utf8 = false;
    bool store = false;
    zip_uint8_t system = ZIP_OPSYS_UNIX;
    zip_uint32_t attributes = 0100644u << 16;
};

void writeZip(const QString& path, const std::vector<RawEntry>& entries)
{
    int err = 0;
    zip_t* za = zip_open(native(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    ASSERT_NE(za, nullptr);
    for (const RawEntry& e : entries) {
        zip_source_t* src = zip_source_buffer(za, e.data.constData(), zip_uint64_t(e.data.size()), 0);
        const zip_int64_t idx = zip_file_add(za, e.name.constData(), src, e.utf8 ? ZIP_FL_ENC_UTF_8 : ZIP_FL_ENC_CP437);
        ASSERT_GE(idx, 0) << e.name.constData() << ": " << zip_strerror(za);
        zip_set_file_compression(za, zip_uint64_t(idx), e.store ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 1);
        zip_file_set_external_attributes(za, zip_uint64_t(idx), 0, e.system, e.attributes);
        zip_file_set_mtime(za, zip_uint64_t(idx), 1600000000, 0);
    }
    ASSERT_EQ(zip_close(za), 0);
}

// Same-length byte replacement everywhere (local and central names).
void patchArchive(const QString& path, const QByteArray& from, const QByteArray& to)
{
    ASSERT_EQ(from.size(), to.size());
    QByteArray bytes = fileBytes(path);
    ASSERT_GE(bytes.count(from), 2) << from.constData();
    bytes.replace(from, to);
    writeBytes(path, bytes);
}

const QByteArray kShortcut = "[InternetShortcut]\r\nURL=http://exemple.fr/\r\n";
QByteArray shortcut(const QByteArray& address) { return "[InternetShortcut]\r\nURL=" + address + "\r\n"; }

constexpr time_t kEvenTime = 1600000000; // 2020-09-13, an even second

// The tree every creation test archives, with what each entry must look like.
struct Expected {
    QString name;
    QByteArray stored; // name bytes in the archive
    bool utf8;
    bool readOnly;
    bool hidden;
};

class ArchiveTree : public ::testing::Test {
protected:
    void SetUp() override
    {
        src.write(QStringLiteral("Accueil.url"), shortcut("http://accueil.fr/"), 0644, kEvenTime);
        src.write(QStringLiteral(".cachée.url"), shortcut("http://cache.fr/"), 0644, kEvenTime);
        src.write(QStringLiteral("Lecture seule.url"), shortcut("http://ro.fr/"), 0444, kEvenTime);
        src.write(QStringLiteral("Exécutable.url"), shortcut("http://x.fr/"), 0755, kEvenTime);
        src.write(QStringLiteral("Sous-dossier/Café façon ç.url"), shortcut("http://cafe.fr/"), 0644, kEvenTime + 2);
        src.write(QStringLiteral("Sous-dossier/Profond/Très/loin.url"), QByteArray(5000, 'x') + kShortcut, 0644,
                  kEvenTime + 4);
        src.write(QStringLiteral("漢字.url"), shortcut("http://kanji.jp/"), 0644, kEvenTime);
        src.write(QStringLiteral("Sous-dossier/Кириллица.url"), shortcut("http://ru.ru/"), 0644, kEvenTime);
        src.write(QStringLiteral("Sous-dossier/├®.url"), shortcut("http://boites.fr/"), 0644, kEvenTime);
        src.write(QStringLiteral("Vide.url"), QByteArray(), 0644, kEvenTime);
        // Never archived: links (even to a file of the tree), a pipe, a temporary file of the program's own.
        ASSERT_EQ(::symlink("Accueil.url", native(src.abs("Lien.url")).constData()), 0);
        ASSERT_EQ(::symlink(native(outside.path()).constData(), native(src.abs("Dehors")).constData()), 0);
        ASSERT_EQ(::symlink("Sous-dossier", native(src.abs("Boucle")).constData()), 0);
        ASSERT_EQ(::mkfifo(native(src.abs("tube")).constData(), 0644), 0);
        src.write(QStringLiteral(".signetrix-tmp-Ab12Cd"), "left by a killed run");
        outside.write(QStringLiteral("secret.url"), "SECRET");
    }

    static std::vector<Expected> expected()
    {
        auto oem = [](const char* utf8) { return *oem::toCp850(QString::fromUtf8(utf8)); };
        return {
            {QStringLiteral(".cachée.url"),
             ".cach\x82"
             "e.url",
             false, false, true},
            {QStringLiteral("Accueil.url"), "Accueil.url", false, false, false},
            {QStringLiteral("Exécutable.url"),
             "Ex\x82"
             "cutable.url",
             false, false, false},
            {QStringLiteral("Lecture seule.url"), "Lecture seule.url", false, true, false},
            {QStringLiteral("Vide.url"), "Vide.url", false, false, false},
            {QStringLiteral("漢字.url"), QByteArray("漢字.url"), true, false, false},
            {QStringLiteral("Sous-dossier/Café façon ç.url"), "Sous-dossier/Caf\x82 fa\x87on \x87.url", false, false,
             false},
            {QStringLiteral("Sous-dossier/Кириллица.url"), QByteArray("Sous-dossier/Кириллица.url"), true, false,
             false},
            // Code page 850 bytes that read as UTF-8 ("é"): still no flag.
            {QStringLiteral("Sous-dossier/├®.url"), "Sous-dossier/\xc3\xa9.url", false, false, false},
            {QStringLiteral("Sous-dossier/Profond/Très/loin.url"), oem("Sous-dossier/Profond/Très/loin.url"), false,
             false, false},
        };
    }

    QString archivePath() const { return work.abs(QStringLiteral("12345.zip")); }

    ArchiveResult create(const ArchiveProgress& progress = {})
    {
        return CreateFavoritesArchive(src.path(), archivePath(), progress);
    }

    Folder src, work, outside;
};

// ---------------------------------------------------------------- creation

TEST_F(ArchiveTree, HoldsEveryRegularFileUnderItsRelativeOemNameAtDeflateLevelOne)
{
    const ArchiveResult r = create();
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    const std::vector<Expected> want = expected();
    EXPECT_EQ(r.entries, int(want.size()));

    const std::vector<Header> headers = readHeaders(fileBytes(archivePath()));
    ASSERT_EQ(headers.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        const Expected& w = want[i];
        const Header& h = headers[i];
        SCOPED_TRACE(w.name.toStdString());
        EXPECT_EQ(h.name, w.stored);
        EXPECT_EQ(h.method, ZIP_CM_DEFLATE);
        // Bit 0 encryption, 1-2 "super fast", 3 data descriptor, 11 UTF-8: the same in both headers.
        const quint16 wantFlags = 0x0006 | (w.utf8 ? 0x0800 : 0);
        EXPECT_EQ(h.centralFlags, wantFlags);
        EXPECT_EQ(h.localFlags, wantFlags);
        EXPECT_FALSE(hasExtraField(h.centralExtra, 0x0001)) << "Zip64";
        EXPECT_FALSE(hasExtraField(h.localExtra, 0x0001)) << "Zip64";
        EXPECT_EQ(h.system, ZIP_OPSYS_UNIX);
        const quint32 mode = h.attributes >> 16;
        EXPECT_EQ(mode & 0170000, 0100000u) << "a regular file";
        EXPECT_EQ(mode & 07111, 0u) << "no execute or set-id bit";
        EXPECT_EQ(bool(h.attributes & 0x01), w.readOnly) << "DOS read-only";
        EXPECT_EQ((mode & 0222) == 0, w.readOnly);
        EXPECT_EQ(bool(h.attributes & 0x02), w.hidden) << "DOS hidden";
    }

    // libzip reads the same names, methods and no encryption.
    int err = 0;
    zip_t* za = zip_open(native(archivePath()).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &err);
    ASSERT_NE(za, nullptr) << err;
    ASSERT_EQ(zip_get_num_entries(za, 0), zip_int64_t(want.size()));
    for (size_t i = 0; i < want.size(); ++i) {
        zip_stat_t st;
        ASSERT_EQ(zip_stat_index(za, i, ZIP_FL_ENC_RAW, &st), 0);
        EXPECT_EQ(QByteArray(st.name), want[i].stored);
        EXPECT_EQ(st.comp_method, ZIP_CM_DEFLATE);
        EXPECT_EQ(st.encryption_method, ZIP_EM_NONE);
        EXPECT_EQ(qint64(st.size), src.read(want[i].name).size());
    }
    zip_discard(za);
}

TEST_F(ArchiveTree, PythonsZipfileReadsTheSameNamesFlagsAndData)
{
    ASSERT_TRUE(create().ok);
    const char* script = R"(
import json, sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    for i in z.infolist():
        utf8 = bool(i.flag_bits & 0x800)
        raw = i.filename.encode('utf-8' if utf8 else 'cp437')
        print(json.dumps({'name': raw.decode('utf-8' if utf8 else 'cp850'), 'flags': i.flag_bits,
                          'method': i.compress_type, 'system': i.create_system, 'size': len(z.read(i))}))
    print(json.dumps({'bad': z.testzip()}))
)";
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromUtf8(script), archivePath()});
    ASSERT_TRUE(python.waitForFinished(60000));
    ASSERT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    const QList<QByteArray> lines = python.readAllStandardOutput().trimmed().split('\n');
    const std::vector<Expected> want = expected();
    ASSERT_EQ(lines.size(), qsizetype(want.size() + 1));
    for (size_t i = 0; i < want.size(); ++i) {
        const QJsonObject o = QJsonDocument::fromJson(lines[qsizetype(i)]).object();
        SCOPED_TRACE(want[i].name.toStdString());
        EXPECT_EQ(o.value("name").toString(), want[i].name);
        EXPECT_EQ(o.value("flags").toInt(), 0x0006 | (want[i].utf8 ? 0x0800 : 0));
        EXPECT_EQ(o.value("method").toInt(), 8);
        EXPECT_EQ(o.value("system").toInt(), 3);
        EXPECT_EQ(o.value("size").toInt(), src.read(want[i].name).size());
    }
    EXPECT_TRUE(QJsonDocument::fromJson(lines.last()).object().value("bad").isNull()) << "a CRC that does not match";
}

TEST_F(ArchiveTree, ReplacesAnOldArchiveInsteadOfAddingToIt)
{
    writeZip(archivePath(), {{"ancien.url", kShortcut}});
    ASSERT_TRUE(create().ok);
    const std::vector<Header> headers = readHeaders(fileBytes(archivePath()));
    ASSERT_EQ(headers.size(), expected().size());
    for (const Header& h : headers) EXPECT_NE(h.name, QByteArray("ancien.url"));
}

TEST_F(ArchiveTree, ProgressRunsFromZeroTo100WithoutGoingBack)
{
    std::vector<double> seen;
    const ArchiveProgress record = [&](double p) { seen.push_back(p); };
    ASSERT_TRUE(create(record).ok);
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen.front(), 0.0);
    EXPECT_EQ(seen.back(), 100.0);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));

    seen.clear();
    const UnpackResult u = UnpackFavoritesArchive(archivePath(), outside.abs("restored"), work.abs("copies"), record);
    ASSERT_TRUE(u.ok) << u.error.toStdString();
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen.front(), 0.0);
    EXPECT_EQ(seen.back(), 100.0);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
}

TEST(ArchiveCreate, AnEmptyFolderGivesAValidArchiveWithoutEntries)
{
    Folder src, work;
    const QString path = work.abs("vide.zip");
    const ArchiveResult r = CreateFavoritesArchive(src.path(), path);
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(r.entries, 0);
    EXPECT_EQ(fileBytes(path).size(), 22);
    int err = 0;
    zip_t* za = zip_open(native(path).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &err);
    ASSERT_NE(za, nullptr) << err;
    EXPECT_EQ(zip_get_num_entries(za, 0), 0);
    zip_discard(za);
    EXPECT_EQ(
        QProcess::execute("/usr/bin/python3",
                          {"-c", "import sys, zipfile; sys.exit(len(zipfile.ZipFile(sys.argv[1]).infolist()))", path}),
        0);
    Folder dest;
    const UnpackResult u = UnpackFavoritesArchive(path, dest.path(), work.abs("copies"));
    EXPECT_TRUE(u.ok) << u.error.toStdString();
    EXPECT_EQ(u.written, 0);
}

// A name in code page 850 that libzip, reading it as code page 437, takes for
// another entry's UTF-8 name: both entries stay, under their own names.
TEST(ArchiveCreate, NamesThatLibzipWouldConfuseAreBothKept)
{
    const char* pairs[][2] = {
        {"Ó.url", "α.url"},    // the OEM name is added first
        {"ő.url", "┼æ.url"},   // the UTF-8 name is added first
        {"µ╝ó.url", "漢.url"}, // the OEM bytes are the UTF-8 name's
    };
    for (const auto& pair : pairs) {
        SCOPED_TRACE(pair[0]);
        Folder src, work, dest;
        src.write(QString::fromUtf8(pair[0]), "first");
        src.write(QString::fromUtf8(pair[1]), "second");
        const ArchiveResult r = CreateFavoritesArchive(src.path(), work.abs("a.zip"));
        ASSERT_TRUE(r.ok) << r.error.toStdString();
        EXPECT_EQ(r.entries, 2);
        const UnpackResult u = UnpackFavoritesArchive(work.abs("a.zip"), dest.path(), work.abs("copies"));
        ASSERT_TRUE(u.ok) << u.error.toStdString();
        EXPECT_EQ(snapshot(dest.path()).size(), 2u);
        EXPECT_EQ(dest.read(QString::fromUtf8(pair[0])), "first");
        EXPECT_EQ(dest.read(QString::fromUtf8(pair[1])), "second");
    }
}

// A failed creation names what failed and leaves neither the archive nor
// libzip's temporary file.
void expectFailedLeavingNothing(const ArchiveResult& r, const QByteArray& named, const QString& archive,
                                const Folder& work)
{
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.error.contains(QString::fromUtf8(named))) << r.error.toStdString();
    EXPECT_EQ(r.entries, 0);
    EXPECT_FALSE(QFile::exists(archive)) << "partial archive left";
    EXPECT_EQ(QDir(work.path()).entryList(QDir::Files | QDir::Hidden).size(), 0) << "temporary file left";
}

TEST_F(ArchiveTree, FailuresNameTheFileAndLeaveNoArchive)
{
    const QString secret = outside.abs("secret.url");
    const QByteArray last = src.nativeAbs("zz/dernier.url");
    // Once the first entry is written, the last file is swapped for a link out of the tree, or removed.
    const ArchiveProgress swapMidway = [&](double p) {
        struct stat st;
        if (p > 0 && p < 100 && ::lstat(last.constData(), &st) == 0 && S_ISREG(st.st_mode)) {
            ::unlink(last.constData());
            ASSERT_EQ(::symlink(native(secret).constData(), last.constData()), 0);
        }
    };
    const ArchiveProgress deleteMidway = [&](double p) {
        if (p > 0 && p < 100) ::unlink(last.constData());
    };
    struct Case {
        const char* what;
        QByteArray file;  // added to the common tree for this case
        QByteArray named; // found in the message
        ArchiveProgress progress = {};
        QString base = {}, archive = {};
    };
    const Case cases[] = {
        {"link swapped in", "zz/dernier.url", "zz/dernier.url", swapMidway},
        {"file gone", "zz/dernier.url", "zz/dernier.url", deleteMidway},
        {"name not UTF-8", "Sous-dossier/caf\xe9.url", "Sous-dossier/caf"},
        {"backslash", "a\\b.url", "a\\b.url"},
        {"drive", "C:autoexec.url", "C:autoexec.url"},
        {"no such folder", {}, "absent", {}, src.abs("absent")},
        {"archive folder missing", {}, "absent/12345.zip", {}, {}, work.abs("absent/12345.zip")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (!c.file.isEmpty()) src.write(c.file, kShortcut);
        const QString archive = c.archive.isEmpty() ? archivePath() : c.archive;
        const ArchiveResult r = CreateFavoritesArchive(c.base.isEmpty() ? src.path() : c.base, archive, c.progress);
        expectFailedLeavingNothing(r, c.named, archive, work);
        EXPECT_EQ(fileBytes(secret), "SECRET");
        if (!c.file.isEmpty()) ::unlink(src.nativeAbs(c.file).constData());
    }
}

TEST_F(ArchiveTree, AFileThatCannotBeReadFailsItNamingTheFile)
{
    if (::geteuid() == 0) GTEST_SKIP() << "root reads any file";
    src.write(QStringLiteral("Sous-dossier/fermé.url"), "x", 0000);
    expectFailedLeavingNothing(create(), "Sous-dossier/fermé.url", archivePath(), work);
}

TEST(ArchiveCodePage, MatchesPythonsCp850Codec)
{
    QProcess python;
    python.start("/usr/bin/python3",
                 {"-c", "import sys; sys.stdout.buffer.write(bytes(range(256)).decode('cp850').encode('utf-8'))"});
    ASSERT_TRUE(python.waitForFinished(60000));
    const QString reference = QString::fromUtf8(python.readAllStandardOutput());
    ASSERT_EQ(reference.size(), 256);
    QByteArray all(256, Qt::Uninitialized);
    for (int i = 0; i < 256; ++i) all[i] = char(i);
    EXPECT_EQ(oem::fromCp850(all), reference);
    EXPECT_EQ(oem::toCp850(reference), std::optional<QByteArray>(all));
    for (const char* missing : {"漢", "α", "ő", "€", "\xf0\x9f\x98\x80"}) {
        SCOPED_TRACE(missing);
        EXPECT_EQ(oem::toCp850(QStringLiteral("a") + QString::fromUtf8(missing)), std::nullopt);
    }
}

// ---------------------------------------------------------------- round trip and extraction

class ArchiveUnpack : public ArchiveTree {
protected:
    UnpackResult unpack(const QString& archive) { return UnpackFavoritesArchive(archive, dest.path(), copies.path()); }
    Folder dest, copies;
};

TEST_F(ArchiveUnpack, RoundTripRestoresNamesBytesTimesAndReadOnlyInAnEmptyFolder)
{
    ASSERT_TRUE(create().ok);
    const UnpackResult r = unpack(archivePath());
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    const std::vector<Expected> want = expected();
    EXPECT_EQ(r.written, int(want.size()));
    EXPECT_EQ(r.unchanged, 0);
    EXPECT_EQ(r.archived, 0);
    for (const Expected& w : want) {
        SCOPED_TRACE(w.name.toStdString());
        EXPECT_EQ(dest.read(w.name), src.read(w.name));
        const struct stat d = dest.stat(w.name), s = src.stat(w.name);
        EXPECT_EQ(d.st_mtime, s.st_mtime);
        EXPECT_TRUE(S_ISREG(d.st_mode));
        EXPECT_EQ(d.st_mode & 07111, 0u);
        EXPECT_EQ((d.st_mode & 0222) == 0, w.readOnly);
    }
    // Nothing else: no link, pipe, temporary file or empty folder.
    std::vector<std::string> lines = snapshot(dest.path());
    EXPECT_EQ(lines.size(), want.size() + 3) << "files and the folders Sous-dossier, Profond, Très";
    EXPECT_TRUE(snapshot(copies.path()).empty());
}

TEST_F(ArchiveUnpack, OddSecondsComeBackWithinTheTwoSecondStep)
{
    Folder one;
    one.write(QStringLiteral("impair.url"), kShortcut, 0644, kEvenTime + 1);
    ASSERT_TRUE(CreateFavoritesArchive(one.path(), archivePath()).ok);
    ASSERT_TRUE(unpack(archivePath()).ok);
    const time_t restored = dest.stat(QStringLiteral("impair.url")).st_mtime;
    EXPECT_LE(std::abs(restored - (kEvenTime + 1)), 1);
}

TEST_F(ArchiveUnpack, AMissingBaseFolderIsCreatedWhenItsParentExists)
{
    ASSERT_TRUE(create().ok);
    const UnpackResult r = UnpackFavoritesArchive(archivePath(), dest.abs("Favorites"), copies.path());
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(dest.read(QStringLiteral("Favorites/Sous-dossier/Café façon ç.url")),
              src.read(QStringLiteral("Sous-dossier/Café façon ç.url")));

    const UnpackResult deeper = UnpackFavoritesArchive(archivePath(), dest.abs("absent/Favorites"), copies.path());
    EXPECT_FALSE(deeper.ok);
    EXPECT_FALSE(deeper.error.isEmpty());
    EXPECT_FALSE(dest.exists(QStringLiteral("absent")));
}

TEST_F(ArchiveUnpack, OverAnExistingTreeReplacesCopiesAsideKeepsAndLeavesAlone)
{
    ASSERT_TRUE(create().ok);
    const QString ro = QStringLiteral("Lecture seule.url"), cafe = QStringLiteral("Sous-dossier/Café façon ç.url"),
                  same = QStringLiteral("Accueil.url"), kanji = QStringLiteral("漢字.url");
    dest.write(ro, "local read-only version", 0444);
    dest.write(cafe, "newer local version");
    dest.write(same, src.read(same), 0600, kEvenTime - 100);
    dest.write(kanji, "today's second local version");
    dest.write(QStringLiteral("Seulement ici.url"), "local only");
    // A copy from an earlier restore of the same day holds other bytes: it stays.
    copies.write(kanji, "today's first local version");
    const ino_t sameInode = dest.stat(same).st_ino;

    const UnpackResult r = unpack(archivePath());
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    const int total = int(expected().size());
    EXPECT_EQ(r.written, total - 1);
    EXPECT_EQ(r.unchanged, 1);
    EXPECT_EQ(r.archived, 3);

    for (const Expected& w : expected()) EXPECT_EQ(dest.read(w.name), src.read(w.name)) << w.name.toStdString();
    EXPECT_EQ(dest.stat(ro).st_mode & 0222, 0u) << "still read-only";
    EXPECT_EQ(dest.read(QStringLiteral("Seulement ici.url")), "local only");
    // Left alone: same inode, own mode and time.
    EXPECT_EQ(dest.stat(same).st_ino, sameInode);
    EXPECT_EQ(dest.stat(same).st_mode & 0777, 0600u);
    EXPECT_EQ(dest.stat(same).st_mtime, kEvenTime - 100);

    EXPECT_EQ(copies.read(ro), "local read-only version");
    EXPECT_EQ(copies.read(cafe), "newer local version");
    EXPECT_EQ(copies.read(kanji), "today's first local version");
    EXPECT_EQ(copies.read(QStringLiteral("漢字 (2).url")), "today's second local version");
    EXPECT_FALSE(copies.exists(same));

    // Once more: everything is identical now, and no copy is made twice.
    const std::vector<std::string> before = snapshot(copies.path());
    const UnpackResult again = unpack(archivePath());
    ASSERT_TRUE(again.ok) << again.error.toStdString();
    EXPECT_EQ(again.written, 0);
    EXPECT_EQ(again.unchanged, total);
    EXPECT_EQ(snapshot(copies.path()), before);
}

TEST_F(ArchiveUnpack, StoredAttributesNeverMakeAFileExecutableOrSetId)
{
    struct Case {
        const char* name;
        zip_uint8_t system;
        zip_uint32_t attributes;
        bool readOnly;
    };
    const Case cases[] = {
        {"suid.url", ZIP_OPSYS_UNIX, 0104755u << 16, false},
        {"tout.url", ZIP_OPSYS_UNIX, 0107777u << 16, false},
        {"ro-unix.url", ZIP_OPSYS_UNIX, 0100555u << 16, true},
        {"ro-dos.url", ZIP_OPSYS_DOS, 0x21, true},
        {"dos.url", ZIP_OPSYS_DOS, 0x20, false},
        {"lien.url", ZIP_OPSYS_UNIX, 0120777u << 16, false}, // a stored link is written as a plain file
    };
    std::vector<RawEntry> entries;
    for (const Case& c : cases) entries.push_back({c.name, kShortcut, false, false, c.system, c.attributes});
    writeZip(work.abs("attributes.zip"), entries);
    const UnpackResult r = unpack(work.abs("attributes.zip"));
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    const mode_t mask = ::umask(0);
    ::umask(mask);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const struct stat st = dest.stat(QString::fromUtf8(c.name));
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_mode & 07777, (c.readOnly ? 0444u : 0666u) & ~mask);
        EXPECT_EQ(dest.read(QString::fromUtf8(c.name)), kShortcut);
    }
}

TEST_F(ArchiveUnpack, AnEntryBeyondTheMemoryBudgetIsStreamedAndStillCompared)
{
    Folder big;
    QByteArray data(70 * 1024 * 1024, '\0');
    for (qint64 i = 0; i < data.size(); i += 4096) data[i] = char(i / 4096);
    big.write(QStringLiteral("gros.url"), data);
    ASSERT_TRUE(CreateFavoritesArchive(big.path(), archivePath()).ok);
    QByteArray local = data;
    local[local.size() / 2] = 'L'; // same size, one byte differs
    dest.write(QStringLiteral("gros.url"), local);

    const UnpackResult r = unpack(archivePath());
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(r.written, 1);
    EXPECT_EQ(r.archived, 1);
    EXPECT_TRUE(dest.read(QStringLiteral("gros.url")) == data);
    EXPECT_TRUE(copies.read(QStringLiteral("gros.url")) == local);
    const UnpackResult again = unpack(archivePath());
    ASSERT_TRUE(again.ok) << again.error.toStdString();
    EXPECT_EQ(again.unchanged, 1);
}

// Archives of other tools restore too, with their folder entries (an empty
// folder comes back) and extra fields.
class ArchiveOtherTools : public ::testing::Test {
protected:
    void expectRestored(const QString& archive)
    {
        const UnpackResult r = UnpackFavoritesArchive(archive, dest.path(), work.abs("copies"));
        ASSERT_TRUE(r.ok) << r.error.toStdString();
        EXPECT_EQ(r.written, 2);
        EXPECT_EQ(dest.read("a.url"), shortcut("http://a.fr/"));
        EXPECT_EQ(dest.read("sous/b.url"), shortcut("http://b.fr/"));
        EXPECT_TRUE(S_ISDIR(dest.stat("vide").st_mode));
        EXPECT_EQ(snapshot(dest.path()).size(), 4u);
    }
    Folder work, dest;
};

TEST_F(ArchiveOtherTools, InfoZipWithFolderEntries)
{
    const QString zip = QStandardPaths::findExecutable("zip");
    if (zip.isEmpty()) GTEST_SKIP() << "zip is not installed (scripts/setup.sh installs it)";
    Folder tree;
    tree.write(QStringLiteral("a.url"), shortcut("http://a.fr/"));
    tree.write(QStringLiteral("sous/b.url"), shortcut("http://b.fr/"));
    QDir().mkpath(tree.abs("vide"));
    QProcess p;
    p.setWorkingDirectory(tree.path());
    p.start(zip, {"-r", "-q", work.abs("infozip.zip"), "."});
    ASSERT_TRUE(p.waitForFinished(60000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    expectRestored(work.abs("infozip.zip"));
}

TEST_F(ArchiveOtherTools, PythonWithZip64Records)
{
    const char* script = R"(
import sys, zipfile
zipfile.ZIP64_LIMIT = 0          # every size and offset, and the end record, in Zip64 form
zipfile.ZIP_FILECOUNT_LIMIT = 0
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('a.url', b'[InternetShortcut]\r\nURL=http://a.fr/\r\n')
    z.writestr('sous/b.url', b'[InternetShortcut]\r\nURL=http://b.fr/\r\n')
    z.writestr(zipfile.ZipInfo('vide/'), b'')
)";
    const QString archive = work.abs("zip64.zip");
    ASSERT_EQ(QProcess::execute("/usr/bin/python3", {"-c", QString::fromUtf8(script), archive}), 0);
    ASSERT_TRUE(fileBytes(archive).contains(QByteArray("PK\x06\x06"))) << "no Zip64 end record";
    expectRestored(archive);
}

// ---------------------------------------------------------------- refusals

// Each archive holds a good entry first, which a careless extractor would
// already have written when it meets the bad one.
struct Refusal {
    const char* what;
    const char* because; // found in the message
    std::function<void(const QString& archive, const Folder& dest, const Folder& outside)> make;
};

void PrintTo(const Refusal& r, std::ostream* os) { *os << r.what; }

const RawEntry kGood{"good.url", "[InternetShortcut]\r\nURL=http://archive.fr/\r\n"};

Refusal withName(const char* what, const char* because, QByteArray name)
{
    return {what, because, [name](const QString& archive, const Folder&, const Folder&) {
                writeZip(archive, {kGood, {name, kShortcut}});
            }};
}

class ArchiveRefusal : public ::testing::TestWithParam<Refusal> {
protected:
    Folder work, dest, outside, copies;
};

TEST_P(ArchiveRefusal, LeavesTheTreeAndEverythingAroundItByteForByte)
{
    dest.write(QStringLiteral("good.url"), "local version of good");
    dest.write(QStringLiteral("a/keep.url"), "kept");
    outside.write(QStringLiteral("x.url"), "outside");
    const QString archive = work.abs("bad.zip");
    GetParam().make(archive, dest, outside);
    const std::vector<std::string> destBefore = snapshot(dest.path()), outsideBefore = snapshot(outside.path());

    const UnpackResult r = UnpackFavoritesArchive(archive, dest.path(), copies.path());
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.error.isEmpty());
    EXPECT_TRUE(r.error.contains(QString::fromUtf8(GetParam().because))) << r.error.toStdString();
    EXPECT_EQ(r.written, 0);
    EXPECT_EQ(snapshot(dest.path()), destBefore);
    EXPECT_EQ(snapshot(outside.path()), outsideBefore);
    EXPECT_TRUE(snapshot(copies.path()).empty());
    EXPECT_EQ(fileBytes(outside.abs("x.url")), "outside");
}

INSTANTIATE_TEST_SUITE_P(
    ArchiveNames, ArchiveRefusal,
    ::testing::Values(withName("parent", "« .. »", "../x.url"), withName("parent later", "« .. »", "a/../../x.url"),
                      withName("dot", "« . »", "a/./x.url"), withName("empty segment", "vide", "a//x.url"),
                      withName("backslash", "barre oblique inverse", "a\\..\\..\\x.url"),
                      withName("drive", "lecteur", "C:x.url"), withName("drive and backslash", "refusée", "C:\\x.url"),
                      withName("temporary pattern", "temporaires", "a/.signetrix-tmp-AAAAAA"),
                      Refusal{"absolute", "chemin absolu",
                              [](const QString& archive, const Folder&, const Folder& outside) {
                                  writeZip(archive, {kGood, {native(outside.abs("x.url")), kShortcut}});
                              }},
                      Refusal{"NUL in the name", "caractère nul",
                              [](const QString& archive, const Folder&, const Folder&) {
                                  writeZip(archive, {kGood, {"a/nulQx.url", kShortcut}});
                                  patchArchive(archive, "nulQx", QByteArray("nul\0x", 5));
                              }},
                      Refusal{"invalid UTF-8 under the flag", "endommagée",
                              [](const QString& archive, const Folder&, const Folder&) {
                                  writeZip(archive, {kGood, {"a/b\xc3\xa9.url", kShortcut, true}});
                                  patchArchive(archive, "b\xc3\xa9.url", "b\xff\xfe.url");
                              }},
                      Refusal{"same name twice", "déjà utilisé",
                              [](const QString& archive, const Folder&, const Folder&) {
                                  writeZip(archive, {kGood, {"goox.url", kShortcut}});
                                  patchArchive(archive, "goox.url", "good.url");
                              }},
                      Refusal{"a file where a folder goes", "déjà utilisé",
                              [](const QString& archive, const Folder&, const Folder&) {
                                  writeZip(archive, {kGood, {"b/c.url", kShortcut}, {"b", kShortcut}});
                              }}));

INSTANTIATE_TEST_SUITE_P(
    ArchiveTreeLinks, ArchiveRefusal,
    ::testing::Values(
        Refusal{"folder link out of the tree", "lien symbolique",
                [](const QString& archive, const Folder& dest, const Folder& outside) {
                    ASSERT_EQ(::symlink(native(outside.path()).constData(), native(dest.abs("lien")).constData()), 0);
                    writeZip(archive, {kGood, {"lien/x.url", kShortcut}});
                }},
        Refusal{"file link out of the tree", "lien symbolique",
                [](const QString& archive, const Folder& dest, const Folder& outside) {
                    ASSERT_EQ(
                        ::symlink(native(outside.abs("x.url")).constData(), native(dest.abs("f.url")).constData()), 0);
                    writeZip(archive, {kGood, {"f.url", kShortcut}});
                }},
        Refusal{"folder where a file goes", "n'est pas un fichier",
                [](const QString& archive, const Folder&, const Folder&) {
                    writeZip(archive, {kGood, {"a", kShortcut}});
                }},
        Refusal{"file where a folder goes", "n'est pas un dossier",
                [](const QString& archive, const Folder&, const Folder&) {
                    writeZip(archive, {kGood, {"a/keep.url/x.url", kShortcut}});
                }}));

// The CRC or the data fails somewhere after the good entry.
Refusal damaged(const char* what, const char* because, bool store)
{
    return {what, because, [store](const QString& archive, const Folder&, const Folder&) {
                QByteArray data;
                for (int i = 0; i < 400; ++i)
                    data += "URL=http://exemple.fr/page/" + QByteArray::number(i * 7919) + "\r\n";
                writeZip(archive, {kGood, {"b.url", data, false, store}});
                QByteArray bytes = fileBytes(archive);
                const std::vector<Header> headers = readHeaders(bytes);
                ASSERT_EQ(headers.size(), 2u);
                const Header& h = headers[1];
                bytes[h.dataOffset + h.compressedSize / 2] ^= 0x20;
                writeBytes(archive, bytes);
            }};
}

INSTANTIATE_TEST_SUITE_P(
    ArchiveDamage, ArchiveRefusal,
    ::testing::Values(damaged("stored data flipped", "CRC", true), damaged("deflated data flipped", "« b.url »", false),
                      Refusal{"central CRC changed", "CRC",
                              [](const QString& archive, const Folder&, const Folder&) {
                                  writeZip(archive, {kGood, {"b.url", kShortcut, false, true}});
                                  QByteArray bytes = fileBytes(archive);
                                  const qint64 cd = le32(bytes, bytes.size() - 22 + 16);
                                  const qint64 second = cd + 46 + 8; // after good.url's central header: b.url's
                                  bytes[second + 16] ^= 0x01;        // its CRC
                                  writeBytes(archive, bytes);
                              }},
                      Refusal{"truncated", "incomplète ou endommagée",
                              [](const QString& archive, const Folder&, const Folder&) {
                                  writeZip(archive, {kGood, {"b.url", QByteArray(3000, 'b')}});
                                  writeBytes(archive, fileBytes(archive).left(fileBytes(archive).size() * 6 / 10));
                              }},
                      Refusal{"truncated by a few bytes", "incomplète ou endommagée",
                              [](const QString& archive, const Folder&, const Folder&) {
                                  writeZip(archive, {kGood, {"b.url", QByteArray(3000, 'b')}});
                                  writeBytes(archive, fileBytes(archive).chopped(5));
                              }},
                      Refusal{"not a zip", "incomplète ou endommagée",
                              [](const QString& archive, const Folder&, const Folder&) {
                                  writeBytes(archive, "<html><body>404 Not Found</body></html>\n");
                              }},
                      Refusal{"empty file", "incomplète ou endommagée",
                              [](const QString& archive, const Folder&, const Folder&) { writeBytes(archive, ""); }},
                      Refusal{"missing archive", "ne peut pas être ouverte",
                              [](const QString&, const Folder&, const Folder&) {}}));

// A failure once writing has begun takes it all back: here the copy folder
// cannot be made, after the new files were written under temporary names.
TEST_F(ArchiveUnpack, AFailureAfterWritingBeganTakesEverythingBack)
{
    src.write(QStringLiteral("Nouveau/dossier/n.url"), kShortcut);
    ASSERT_TRUE(create().ok);
    dest.write(QStringLiteral("Sous-dossier/Café façon ç.url"), "newer local version");
    work.write(QStringLiteral("bloque"), "a file where the copy folder would go");
    const std::vector<std::string> before = snapshot(dest.path());
    const UnpackResult r = UnpackFavoritesArchive(archivePath(), dest.path(), work.abs("bloque/copies"));
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.error.isEmpty());
    EXPECT_EQ(snapshot(dest.path()), before) << "no temporary file, no new folder, no replaced file";
}

TEST_F(ArchiveUnpack, ALocalFileThatCannotBeReadIsNeitherCopiedNorReplaced)
{
    if (::geteuid() == 0) GTEST_SKIP() << "root reads any file";
    ASSERT_TRUE(create().ok);
    for (const QByteArray& local :
         {QByteArray("same size!"), QByteArray("another size, longer than the archived one")}) {
        SCOPED_TRACE(local.constData());
        const QString name = QStringLiteral("Accueil.url");
        QByteArray bytes = local;
        if (bytes.size() == 10) bytes = QByteArray(src.read(name).size(), 'L');
        dest.write(name, bytes, 0000);
        const std::vector<std::string> before = snapshot(dest.path());
        const UnpackResult r = unpack(archivePath());
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.error.contains(name)) << r.error.toStdString();
        EXPECT_EQ(snapshot(dest.path()), before);
    }
}

} // namespace
} // namespace signetrix::backup
