// The files the server hands out: the banner page, each account's backup as
// the FTP side stored it, and the release archive with its signature, checked
// by minisign itself.
#include "net/Endpoints.h"
#include "net/Transfer.h"
#include "server/web/ServerProcess.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <zip.h>

#include <sys/stat.h>
#include <utime.h>

#include <memory>

namespace signetrix::test {
namespace {

namespace ep = net::endpoints;

constexpr char kAccountId[] = "314159265358979";

QString Write(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) ADD_FAILURE() << "cannot write " << path.toStdString();
    return path;
}

QByteArray Read(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

net::TransferResult Upload(const ServerProcess& server, const QString& localFile, const QByteArray& remotePath,
                           const QByteArray& user = kFtpUser, const QByteArray& password = kFtpPassword)
{
    net::ClientOptions options;
    options.protocols = "ftp";
    options.connectTimeoutMs = 5000;
    options.totalTimeoutMs = kServerWaitMs;
    net::FtpUploadOptions ftp;
    ftp.user = user;
    ftp.password = password;
    ftp.activeMode = true;
    return net::UploadFile(server.ftpUrl(remotePath), QFile::encodeName(localFile), options, ftp);
}

class FilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        server = std::make_unique<ServerProcess>(data());
        ASSERT_TRUE(server->ready()) << server->startError().toStdString();
    }
    QString data() const { return dir.filePath(QStringLiteral("data")); }
    QString work(const QString& name) const { return dir.filePath(QStringLiteral("work/") + name); }

    QTemporaryDir dir;
    std::unique_ptr<ServerProcess> server;
};

TEST_F(FilesTest, BannerIsTheDataFolderPageWithADefaultOnFirstStart)
{
    const QString banner = data() + QStringLiteral("/www/err/Signetrix.htm");
    ASSERT_TRUE(QFile::exists(banner));
    HttpAnswer answer = Get(server->url(ep::kBannerPath));
    EXPECT_EQ(answer.status, 200);
    EXPECT_TRUE(answer.contentType.startsWith("text/html")) << answer.contentType.constData();
    EXPECT_EQ(answer.body, Read(banner));
    EXPECT_TRUE(BodyText(answer.body).contains(QLatin1String("Signetrix")));

    // The operator's own page is served as it is and kept over a restart.
    const QByteArray own = "<html><body>Nouvelle version disponible</body></html>";
    Write(banner, own);
    EXPECT_EQ(Get(server->url(ep::kBannerPath)).body, own);
    server->stop();
    server = std::make_unique<ServerProcess>(data());
    ASSERT_TRUE(server->ready());
    EXPECT_EQ(Get(server->url(ep::kBannerPath)).body, own);
}

TEST_F(FilesTest, BackupStoredByFtpIsFetchedOverHttpByteForByte)
{
    const QByteArray path = ep::BackupArchivePath(QString::fromLatin1(kBackupFolder), QString::fromLatin1(kAccountId)).toLatin1();
    const HttpAnswer none = Get(server->url(path));
    EXPECT_EQ(none.status, 404);
    EXPECT_TRUE(BodyText(none.body).contains(QLatin1String("Aucune sauvegarde")));

    const QByteArray first = MakeZip({{"Liens/Exemple.url", "[InternetShortcut]\r\nURL=http://exemple.fr/\r\n"},
                                      {"gros.bin", PseudoRandomBytes(3 * 1024 * 1024, 7)}});
    ASSERT_FALSE(first.isEmpty());
    const net::TransferResult stored = Upload(*server, Write(work(QStringLiteral("a.zip")), first), path);
    ASSERT_TRUE(stored.ok()) << stored.errorText.constData();
    HttpAnswer fetched = Get(server->url(path));
    EXPECT_EQ(fetched.status, 200);
    EXPECT_EQ(fetched.contentType, "application/zip");
    EXPECT_TRUE(fetched.body == first) << "got " << fetched.body.size() << " bytes of " << first.size();

    // A second backup replaces the first; other accounts have none.
    const QByteArray second = MakeZip({{"Autre.url", "[InternetShortcut]\r\nURL=http://autre.fr/\r\n"}});
    ASSERT_TRUE(Upload(*server, Write(work(QStringLiteral("b.zip")), second), path).ok());
    EXPECT_TRUE(Get(server->url(path)).body == second);
    EXPECT_EQ(Get(server->url("/" + QByteArray(kBackupFolder) + "/271828182845904.zip")).status, 404);
    // The folder is only served under its own name.
    EXPECT_EQ(Get(server->url("/autredossier/" + QByteArray(kAccountId) + ".zip")).status, 404);

    // HEAD announces the size without sending the archive.
    const HttpAnswer head = RawRequest(server->httpPort(), "HEAD " + path + " HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(head.status, 200);
    EXPECT_TRUE(head.body.isEmpty());
}

TEST_F(FilesTest, FtpTakesOnlyTheBackupAccount)
{
    const QByteArray archive = MakeZip({{"a.url", "x"}});
    const QString local = Write(work(QStringLiteral("a.zip")), archive);
    const QByteArray path = "/" + QByteArray(kBackupFolder) + "/" + QByteArray(kAccountId) + ".zip";
    EXPECT_FALSE(Upload(*server, local, path, kFtpUser, "mauvais").ok());
    EXPECT_FALSE(Upload(*server, local, path, "anonymous", "").ok());
    EXPECT_EQ(Get(server->url(path)).status, 404);

    // Deployment values other than the defaults reach the child.
    server->stop();
    server = std::make_unique<ServerProcess>(
        data(), QStringList{QStringLiteral("--ftp-user"), QStringLiteral("autre"), QStringLiteral("--ftp-password"),
                            QStringLiteral("pw"), QStringLiteral("--backup-folder"), QStringLiteral("sauvegardes")});
    ASSERT_TRUE(server->ready()) << server->startError().toStdString();
    EXPECT_FALSE(Upload(*server, local, path).ok());
    ASSERT_TRUE(Upload(*server, local, "/sauvegardes/" + QByteArray(kAccountId) + ".zip", "autre", "pw").ok());
    EXPECT_TRUE(Get(server->url("/sauvegardes/" + QByteArray(kAccountId) + ".zip")).body == archive);
    EXPECT_EQ(Get(server->url(path)).status, 404);
}

class ReleaseTest : public FilesTest {
protected:
    int publish(const QStringList& files, const QString& key, QByteArray* output = nullptr)
    {
        return RunProgram(ServerExecutable(),
                          QStringList{QStringLiteral("publish"), QStringLiteral("--data"), data(),
                                      QStringLiteral("--key"), key} + files,
                          output);
    }
    static QString LoopbackKey() { return SourceFolder() + QStringLiteral("/server/keys/loopback.key"); }
    static QString LoopbackPub() { return SourceFolder() + QStringLiteral("/server/keys/loopback.pub"); }

    // Downloads the release and runs minisign on it; its exit code.
    int verifyDownloaded(const QByteArray& tamper = QByteArray(), QByteArray* output = nullptr)
    {
        HttpAnswer archive = Get(server->url(ep::kReleaseArchivePath));
        HttpAnswer signature = Get(server->url(ep::kReleaseSignaturePath));
        EXPECT_EQ(archive.status, 200);
        EXPECT_EQ(signature.status, 200);
        if (!tamper.isEmpty()) archive.body.replace(archive.body.size() / 2, tamper.size(), tamper);
        const QString file = Write(work(QStringLiteral("got/Signetrix.zip")), archive.body);
        Write(file + QStringLiteral(".minisig"), signature.body);
        return RunProgram(QStringLiteral(SIGNETRIX_MINISIGN), {QStringLiteral("-Vm"), file, QStringLiteral("-p"), LoopbackPub()},
                          output);
    }
};

TEST_F(ReleaseTest, PublishedReleaseIsServedAndMinisignAcceptsIt)
{
    EXPECT_EQ(Get(server->url(ep::kReleaseArchivePath)).status, 404);

    const QByteArray program = PseudoRandomBytes(700 * 1024, 3);
    const QString exe = Write(work(QStringLiteral("in/Signetrix")), program);
    const QString readme = Write(work(QStringLiteral("in/sub/LISEZMOI.txt")), "Bonjour\n");
    ::chmod(QFile::encodeName(exe).constData(), 0755);
    // A time with odd seconds, which a DOS time alone cannot hold.
    const time_t later = QDateTime(QDate(2031, 5, 6), QTime(7, 8, 9), Qt::UTC).toSecsSinceEpoch();
    const struct utimbuf times {later, later};
    ASSERT_EQ(::utime(QFile::encodeName(exe).constData(), &times), 0);

    QByteArray output;
    ASSERT_EQ(publish({exe, readme}, LoopbackKey(), &output), 0) << output.constData();
    ASSERT_EQ(verifyDownloaded({}, &output), 0) << output.constData();
    EXPECT_TRUE(output.contains("Signature and comment signature verified")) << output.constData();
    EXPECT_TRUE(output.contains("file:Signetrix.zip")) << output.constData();

    // The archive: the files at the top level, bytes, time and permissions kept.
    int code = 0;
    zip_t* zip = zip_open(QFile::encodeName(work(QStringLiteral("got/Signetrix.zip"))).constData(), ZIP_RDONLY, &code);
    ASSERT_NE(zip, nullptr);
    ASSERT_EQ(zip_get_num_entries(zip, 0), 2);
    struct Entry {
        const char* name;
        QByteArray bytes;
    };
    for (const Entry& e : {Entry{"Signetrix", program}, Entry{"LISEZMOI.txt", "Bonjour\n"}}) {
        SCOPED_TRACE(e.name);
        zip_stat_t st;
        ASSERT_EQ(zip_stat(zip, e.name, 0, &st), 0);
        EXPECT_EQ(st.comp_method, ZIP_CM_DEFLATE);
        zip_file_t* file = zip_fopen(zip, e.name, 0);
        ASSERT_NE(file, nullptr);
        QByteArray bytes(qsizetype(st.size), '\0');
        EXPECT_EQ(zip_fread(file, bytes.data(), st.size), zip_int64_t(st.size));
        zip_fclose(file);
        EXPECT_TRUE(bytes == e.bytes);
    }
    zip_stat_t st;
    ASSERT_EQ(zip_stat(zip, "Signetrix", 0, &st), 0);
    EXPECT_LE(qAbs(qint64(st.mtime) - qint64(later)), 2); // the DOS time, to its two seconds
    zip_uint16_t length = 0;
    const zip_uint8_t* stamp = zip_file_extra_field_get_by_id(zip, zip_uint64_t(st.index), 0x5455, 0, &length, ZIP_FL_CENTRAL);
    ASSERT_NE(stamp, nullptr);
    ASSERT_EQ(length, 5);
    EXPECT_EQ(quint32(stamp[1] | stamp[2] << 8 | stamp[3] << 16 | quint32(stamp[4]) << 24), quint32(later));
    zip_uint8_t system = 0;
    zip_uint32_t attributes = 0;
    ASSERT_EQ(zip_file_get_external_attributes(zip, st.index, 0, &system, &attributes), 0);
    EXPECT_EQ(system, ZIP_OPSYS_UNIX);
    EXPECT_EQ((attributes >> 16) & 0777, 0755u);
    zip_close(zip);

    // Nothing but the two files is left in the download folder.
    EXPECT_EQ(QDir(data() + QStringLiteral("/download")).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

TEST_F(ReleaseTest, TamperedArchiveOrAnotherKeyIsRefusedByMinisign)
{
    const QString exe = Write(work(QStringLiteral("in/Signetrix")), PseudoRandomBytes(64 * 1024, 5));
    ASSERT_EQ(publish({exe}, LoopbackKey()), 0);
    ASSERT_EQ(verifyDownloaded(), 0);
    QByteArray output;
    EXPECT_NE(verifyDownloaded("XYZ", &output), 0) << output.constData();

    // A release signed with a key the program does not carry.
    const QString otherKey = work(QStringLiteral("other.key"));
    const QString otherPub = work(QStringLiteral("other.pub"));
    ASSERT_EQ(RunProgram(QStringLiteral(SIGNETRIX_MINISIGN),
                         {QStringLiteral("-G"), QStringLiteral("-W"), QStringLiteral("-p"), otherPub,
                          QStringLiteral("-s"), otherKey},
                         &output),
              0)
        << output.constData();
    ASSERT_EQ(publish({exe}, otherKey, &output), 0) << output.constData();
    EXPECT_NE(verifyDownloaded(), 0);
}

TEST_F(ReleaseTest, AFailedPublishLeavesTheCurrentReleaseAsItWas)
{
    const QString exe = Write(work(QStringLiteral("in/Signetrix")), PseudoRandomBytes(32 * 1024, 9));
    ASSERT_EQ(publish({exe}, LoopbackKey()), 0);
    const QByteArray archive = Read(data() + QStringLiteral("/download/Signetrix.zip"));
    const QByteArray signature = Read(data() + QStringLiteral("/download/Signetrix.zip.minisig"));

    // Keys a server cannot use: encrypted, damaged, not a key at all.
    QByteArray key = Read(LoopbackKey());
    const QList<QByteArray> lines = key.split('\n');
    QByteArray raw = QByteArray::fromBase64(lines[1]);
    QByteArray encrypted = raw;
    encrypted.replace(2, 2, "Sc");
    QByteArray damaged = raw;
    damaged[100] = char(damaged[100] ^ 1);
    const QString encryptedKey = Write(work(QStringLiteral("encrypted.key")), lines[0] + "\n" + encrypted.toBase64() + "\n");
    const QString damagedKey = Write(work(QStringLiteral("damaged.key")), lines[0] + "\n" + damaged.toBase64() + "\n");
    const QString notAKey = Write(work(QStringLiteral("notakey.key")), "bonjour\n");
    const QString twin = Write(work(QStringLiteral("in/other/Signetrix")), "x");
    struct Case {
        const char* name;
        QStringList files;
        QString key;
        const char* words;
    };
    const Case cases[] = {
        {"encrypted key", {exe}, encryptedKey, "encrypted"},
        {"damaged key", {exe}, damagedKey, "damaged"},
        {"not a key", {exe}, notAKey, "not a minisign"},
        {"missing key file", {exe}, work(QStringLiteral("nowhere.key")), "cannot read"},
        {"missing file", {exe, work(QStringLiteral("in/absent"))}, LoopbackKey(), "absent"},
        {"a folder", {exe, work(QStringLiteral("in/sub"))}, LoopbackKey(), "not a regular file"},
        {"two files of one name", {exe, twin}, LoopbackKey(), "two files"},
    };
    QDir().mkpath(work(QStringLiteral("in/sub")));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray output;
        EXPECT_NE(publish(c.files, c.key, &output), 0);
        EXPECT_TRUE(output.contains(c.words)) << output.constData();
        EXPECT_TRUE(Read(data() + QStringLiteral("/download/Signetrix.zip")) == archive);
        EXPECT_EQ(Read(data() + QStringLiteral("/download/Signetrix.zip.minisig")), signature);
        EXPECT_EQ(QDir(data() + QStringLiteral("/download")).entryList(QDir::Files | QDir::Hidden).size(), 2);
    }
    EXPECT_EQ(verifyDownloaded(), 0);
}

} // namespace
} // namespace signetrix::test
