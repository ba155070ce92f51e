// The backup FTP daemon seen by its clients: the program's own FTP client for
// uploads (active mode) and for download and listing attempts, and a control
// connection typed by hand for the commands that client never sends. Every
// refusal is checked against the whole temporary tree, the folders beside the
// FTP root included, so a command that wrote anywhere shows.
#include "FtpDaemon.h"

#include "net/Transfer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <future>
#include <vector>

namespace signetrix::test {
namespace {

using net::ClientOptions;
using net::FtpUploadOptions;
using net::SendProgress;
using net::TransferResult;
using net::Verdict;

constexpr char kId[] = "123456789012345";
constexpr char kArchive[] = "123456789012345.zip";

ClientOptions Ftp()
{
    ClientOptions options;
    options.protocols = "ftp";
    options.connectTimeoutMs = 5000;
    options.totalTimeoutMs = 60000;
    return options;
}

FtpUploadOptions Account(bool active = true)
{
    return {kFtpUser, kFtpPassword, active};
}

class BackupFtpTest : public ::testing::Test {
protected:
    BackupFtpTest()
        : root(dir.filePath(QStringLiteral("data/ftp"))),
          folder(root + '/' + QLatin1String(kFtpFolder)),
          outside(dir.filePath(QStringLiteral("data/elsewhere")))
    {
        QDir().mkpath(outside);
        writeFile(outside + QStringLiteral("/keep.txt"), "not for the FTP side");
        daemon = std::make_unique<FtpDaemon>(FtpdArguments(root));
    }

    void SetUp() override { ASSERT_TRUE(daemon->listening()) << daemon->startError().constData(); }

    static void writeFile(const QString& path, const QByteArray& bytes)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
        file.write(bytes);
    }

    static QByteArray readFile(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    // A local file with these bytes, as the backup would leave in its temp folder.
    QByteArray local(const QByteArray& bytes)
    {
        const QString path = m_localDir.filePath(QStringLiteral("%1.zip").arg(++m_locals));
        writeFile(path, bytes);
        return path.toLocal8Bit();
    }

    QByteArray archiveUrl(const QByteArray& name = kArchive) const
    {
        return daemon->url(QByteArray(kFtpFolder) + '/' + name);
    }

    TransferResult upload(const QByteArray& bytes, const QByteArray& name = kArchive,
                          const FtpUploadOptions& account = Account(),
                          const std::function<Verdict(const SendProgress&)>& progress = {})
    {
        return net::UploadFile(archiveUrl(name), local(bytes), Ftp(), account, progress);
    }

    QByteArray archive(const QByteArray& name = kArchive) const
    {
        return readFile(folder + '/' + QString::fromLatin1(name));
    }

    // Logged in, in the backup folder unless told otherwise.
    std::unique_ptr<FtpControl> session(bool enterFolder = true)
    {
        auto control = std::make_unique<FtpControl>();
        if (!control->open(daemon->port()) || !control->login()) return nullptr;
        if (enterFolder && control->send(QByteArray("CWD ") + kFtpFolder).code != 250) return nullptr;
        return control;
    }

    std::vector<std::string> tree() const { return TreeSnapshot(dir.path()); }

    QTemporaryDir dir;
    QString root, folder, outside;
    std::unique_ptr<FtpDaemon> daemon;

private:
    QTemporaryDir m_localDir; // apart from the tree the checks compare
    int m_locals = 0;
};

const QByteArray kShortcut = "[InternetShortcut]\r\nURL=http://example.org/\r\n";

TEST_F(BackupFtpTest, StoresTheArchiveByteForByteAndReplacesTheOlderOne)
{
    EXPECT_TRUE(QFileInfo(folder).isDir()) << "the daemon makes its folder";
    const QByteArray first = MakeZip({{"Liens/Outils/a.url", RandomBytes(300000)}, {"b.url", kShortcut}});
    const QByteArray second = MakeZip({{"c.url", kShortcut}});
    const QByteArray emptyFavorites = MakeZip({});

    const TransferResult stored = upload(first);
    ASSERT_TRUE(stored.ok()) << stored.errorText.constData();
    EXPECT_EQ(archive(), first);

    // Smaller than the first: a replacement that kept the old length would show.
    const TransferResult replaced = upload(second);
    ASSERT_TRUE(replaced.ok()) << replaced.errorText.constData();
    EXPECT_EQ(archive(), second);

    const TransferResult empty = upload(emptyFavorites, "7.zip");
    ASSERT_TRUE(empty.ok()) << empty.errorText.constData();
    EXPECT_EQ(archive("7.zip"), emptyFavorites);

    EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList({QStringLiteral("123456789012345.zip"), QStringLiteral("7.zip")}));
}

TEST_F(BackupFtpTest, BytesThatAreNotAWholeArchiveLeaveTheOldOne)
{
    const QByteArray old = MakeZip({{"old.url", kShortcut}});
    ASSERT_TRUE(upload(old).ok());
    const QByteArray good = MakeZip({{"new.url", RandomBytes(5000)}});
    const struct {
        const char* what;
        QByteArray bytes;
    } cases[] = {
        {"not a ZIP archive", RandomBytes(4096)},
        {"nothing", QByteArray()},
        {"the last byte missing", good.chopped(1)},
        {"only the first half", good.left(good.size() / 2)},
        {"bytes after the end record", good + 'x'},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const TransferResult result = upload(c.bytes);
        EXPECT_FALSE(result.ok());
        EXPECT_EQ(archive(), old);
        EXPECT_EQ(UploadTemporaries(folder), QStringList());
    }
}

TEST_F(BackupFtpTest, OnlyTheOneAccountLogsIn)
{
    const struct {
        const char* what;
        FtpUploadOptions account;
    } cases[] = {
        {"wrong password", {kFtpUser, "mot-de-passe-7", true}},
        {"password cut short", {kFtpUser, "Mot-de-passe-", true}},
        {"other user, right password", {"admin", kFtpPassword, true}},
        {"anonymous", {"anonymous", "guest@example.org", true}},
    };
    const auto before = tree();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const TransferResult result = upload(MakeZip({}), kArchive, c.account);
        EXPECT_FALSE(result.ok());
        EXPECT_EQ(result.responseCode, 530);
    }
    EXPECT_EQ(tree(), before);
}

TEST_F(BackupFtpTest, PassiveModeIsRefused)
{
    const auto before = tree();
    const TransferResult result = upload(MakeZip({}), kArchive, Account(false));
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(tree(), before);

    auto control = session();
    ASSERT_TRUE(control);
    for (const QByteArray command : {"PASV", "EPSV", "EPSV 1", "EPSV ALL"}) {
        SCOPED_TRACE(command.constData());
        const FtpReply reply = control->send(command);
        EXPECT_EQ(reply.code, 502);
        EXPECT_TRUE(reply.text.contains("active")) << reply.text.constData();
    }
}

// The client asks for a passive data connection for downloads, so these end
// there; the typed session below asks for the file itself over PORT.
TEST_F(BackupFtpTest, TheProgramsClientCannotDownloadOrList)
{
    const QByteArray old = MakeZip({{"old.url", kShortcut}});
    ASSERT_TRUE(upload(old).ok());
    const QByteArray login = QByteArray(kFtpUser) + ':' + kFtpPassword + '@';
    const QByteArray base = "ftp://" + login + "127.0.0.1:" + QByteArray::number(daemon->port()) + '/';
    for (const QByteArray& path : {QByteArray(kFtpFolder) + '/' + kArchive, QByteArray(kFtpFolder) + '/', QByteArray()}) {
        SCOPED_TRACE(path.constData());
        const net::MemoryResult got = net::GetIntoMemory(base + path, Ftp(), 1 << 20);
        EXPECT_FALSE(got.transfer.ok());
        EXPECT_TRUE(got.body.isEmpty());
    }
    EXPECT_EQ(archive(), old);
}

TEST_F(BackupFtpTest, RefusesEveryCommandABackupDoesNotNeed)
{
    const QByteArray old = MakeZip({{"old.url", kShortcut}});
    ASSERT_TRUE(upload(old).ok());
    const QByteArray elsewhere = outside.toUtf8();
    const struct {
        QByteArray command;
        int code;
        bool inFolder = true; // else at the root
        bool loggedIn = true;
    } cases[] = {
        {"LIST", 502},
        {"LIST -la", 502},
        {"NLST", 502},
        {"MLSD", 502},
        {"MLST 123456789012345.zip", 502},
        {"STAT 123456789012345.zip", 502},
        {"STAT /", 502, false},
        {"RETR 123456789012345.zip", 502},
        {"SIZE 123456789012345.zip", 502},
        {"MDTM 123456789012345.zip", 502},
        {"DELE 123456789012345.zip", 502},
        {"RNFR 123456789012345.zip", 502},
        {"RNTO 9.zip", 502},
        {"MKD sub", 502},
        {"XMKD sub", 502},
        {"RMD /" + QByteArray(kFtpFolder), 502, false},
        {"XRMD /" + QByteArray(kFtpFolder), 502, false},
        {"APPE 123456789012345.zip", 502},
        {"STOU", 502},
        {"STOU 9.zip", 502},
        {"REST 100", 502},
        {"REIN", 502},
        {"SITE CHMOD 777 123456789012345.zip", 502},
        {"SITE HELP", 502},
        {"MFMT 20200101000000 123456789012345.zip", 502},
        {"CWD ..", 550},
        {"CWD ..", 550, false},
        {"XCWD ..", 550},
        {"CWD /etc", 550},
        {"CWD " + elsewhere, 550},
        {"CWD /" + QByteArray(kFtpFolder) + "/..", 550},
        {"CWD " + QByteArray(kFtpFolder) + "/../..", 550, false},
        {"CWD ../" + QByteArray(kFtpFolder), 550},
        {"CWD " + QByteArray(kFtpFolder), 550}, // a folder of that name inside the folder
        {"CWD .", 550},
        {"CWD " + QByteArray(kFtpFolder).toUpper(), 550, false},
        {"STOR 1.zip", 530, true, false},
        {"CWD " + QByteArray(kFtpFolder), 530, false, false},
    };
    const auto before = tree();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command.constData());
        FtpControl control;
        ASSERT_TRUE(control.open(daemon->port()));
        // A data connection stands ready, so no refusal can be for the want of one.
        std::unique_ptr<QTcpSocket> data;
        if (c.loggedIn) {
            ASSERT_TRUE(control.login());
            if (c.inFolder) {
                ASSERT_EQ(control.send(QByteArray("CWD ") + kFtpFolder).code, 250);
            }
            FtpReply port;
            data = control.openData(&port);
            ASSERT_TRUE(data) << port.text.constData();
        }
        const FtpReply reply = control.send(c.command);
        EXPECT_EQ(reply.code, c.code) << reply.text.constData();
        // The session goes on, where it was.
        if (c.loggedIn) {
            EXPECT_EQ(control.send("PWD").text.split('"').value(1),
                      c.inFolder ? "/" + QByteArray(kFtpFolder) : QByteArray("/"));
        }
    }
    EXPECT_EQ(tree(), before);
}

TEST_F(BackupFtpTest, StoresOnlyDigitsDotZipInsideTheFolder)
{
    const QByteArray f = kFtpFolder;
    const QByteArray elsewhere = outside.toUtf8();
    const struct {
        QByteArray name;
        bool fromRoot = false;
        QByteArray storedAs = {}; // empty: refused with 553
        QByteArray type = "I";
        int code = 553;
    } cases[] = {
        {"123456789012345.zip", false, "123456789012345.zip"},
        {"0.zip", false, "0.zip"},
        {"/" + f + "/42.zip", true, "42.zip"},
        {"/" + f + "/43.zip", false, "43.zip"},
        {f + "/44.zip", true, "44.zip"}, // the path form of a client that does not change folder
        {"../x.zip"},
        {"../123.zip"},
        {"../elsewhere/123.zip"},
        {"abc.zip"},
        {"123.zip.exe"},
        {"123.ZIP"},
        {"123"},
        {".zip"},
        {"-1.zip"},
        {" 123.zip"},
        {"123.zip "},
        {"12 3.zip"},
        {"12\xd9\xa3.zip"}, // a digit, but not an ASCII one
        {"123456789012345678901234567890123.zip"},
        {".upload-0123456789abcdef.part"},
        {"./123.zip"},
        {"/123.zip"},
        {"/etc/123.zip"},
        {elsewhere + "/123.zip"},
        {f + "/123.zip"}, // inside the folder: a sub-folder of the same name
        {"123.zip", true},
        {f + "/../123.zip", true},
        {"/" + f + "/../123.zip", true},
        {f + "//123.zip", true},
        {"./" + f + "/123.zip", true},
        {"/" + f.toUpper() + "/123.zip", true},
        {"9.zip", false, {}, "A", 550}, // text type would alter the bytes
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.constData());
        const auto before = tree();
        auto control = session(!c.fromRoot);
        ASSERT_TRUE(control);
        ASSERT_EQ(control->send("TYPE " + c.type).code, 200);
        FtpReply port;
        const auto data = control->openData(&port);
        ASSERT_TRUE(data) << port.text.constData();
        const FtpReply reply = control->send("STOR " + c.name);
        if (c.storedAs.isEmpty()) {
            EXPECT_EQ(reply.code, c.code) << reply.text.constData();
            EXPECT_EQ(tree(), before);
            continue;
        }
        ASSERT_EQ(reply.code, 125) << reply.text.constData();
        const QByteArray bytes = MakeZip({{c.storedAs, kShortcut}});
        ASSERT_TRUE(SendAndClose(*data, bytes));
        const FtpReply done = control->read();
        EXPECT_EQ(done.code, 226) << done.text.constData();
        EXPECT_EQ(archive(c.storedAs), bytes);
    }
}

// A client that gives up mid-transfer closes its data connection just as one
// that has finished does; the old archive must stay, with nothing beside it.
TEST_F(BackupFtpTest, AnUploadCutShortLeavesTheOldArchiveAndNoTemporaryFile)
{
    const QByteArray old = MakeZip({{"old.url", kShortcut}});
    ASSERT_TRUE(upload(old).ok());
    const QByteArray big = MakeZip({{"big.bin", RandomBytes(8 << 20)}});
    const qint64 cutAt = 1 << 20;
    // A data connection with the daemon's go-ahead for the program's archive.
    const auto startStore = [](FtpControl& control) -> std::unique_ptr<QTcpSocket> {
        FtpReply port;
        auto data = control.openData(&port);
        if (!data) return data;
        const FtpReply reply = control.send(QByteArray("STOR ") + kId + ".zip");
        if (reply.code != 125) {
            ADD_FAILURE() << "STOR answered " << reply.code << " " << reply.text.constData();
            return nullptr;
        }
        return data;
    };

    {
        SCOPED_TRACE("the program's client abandons it from its progress callback");
        const TransferResult result = upload(big, kArchive, Account(), [&](const SendProgress& p) {
            return p.sentBytes >= cutAt ? Verdict::Cancel : Verdict::Continue;
        });
        EXPECT_FALSE(result.ok());
        EXPECT_EQ(result.endedBy, Verdict::Cancel);
        EXPECT_TRUE(QTest::qWaitFor([&] { return UploadTemporaries(folder).isEmpty(); }, kWaitMs));
        EXPECT_EQ(archive(), old);
    }
    {
        SCOPED_TRACE("the data connection closes early, the session stays");
        auto control = session();
        ASSERT_TRUE(control);
        ASSERT_EQ(control->send("TYPE I").code, 200);
        auto data = startStore(*control);
        ASSERT_TRUE(data);
        ASSERT_TRUE(SendAndClose(*data, big.left(cutAt)));
        EXPECT_EQ(control->read().code, 451);
        EXPECT_EQ(UploadTemporaries(folder), QStringList());
        EXPECT_EQ(archive(), old);
        // A failed store may be tried again on the same session.
        data = startStore(*control);
        ASSERT_TRUE(data);
        const QByteArray retried = MakeZip({{"retried.url", kShortcut}});
        ASSERT_TRUE(SendAndClose(*data, retried));
        EXPECT_EQ(control->read().code, 226);
        EXPECT_EQ(archive(), retried);
        ASSERT_TRUE(upload(old).ok());
    }
    {
        SCOPED_TRACE("the control connection drops while data still flows");
        auto control = session();
        ASSERT_TRUE(control);
        ASSERT_EQ(control->send("TYPE I").code, 200);
        auto data = startStore(*control);
        ASSERT_TRUE(data);
        data->write(big.left(cutAt));
        ASSERT_TRUE(data->waitForBytesWritten(kWaitMs));
        EXPECT_TRUE(QTest::qWaitFor([&] { return !UploadTemporaries(folder).isEmpty(); }, kWaitMs))
            << "the upload was under way";
        control->drop();
        EXPECT_TRUE(QTest::qWaitFor([&] { return UploadTemporaries(folder).isEmpty(); }, kWaitMs));
        // Whatever the daemon still reads from this connection must not count.
        SendAndClose(*data, big.mid(cutAt));
        EXPECT_EQ(archive(), old);
        EXPECT_EQ(UploadTemporaries(folder), QStringList());
    }
}

TEST_F(BackupFtpTest, FiftyUploadersAtOnceAllGetTheirArchiveStored)
{
    constexpr int kClients = 50;
    std::vector<QByteArray> archives, sources;
    for (int i = 0; i < kClients; ++i) {
        archives.push_back(MakeZip({{"f" + QByteArray::number(i) + ".url", RandomBytes(200000)}}));
        sources.push_back(local(archives.back()));
    }
    std::vector<std::future<TransferResult>> uploads;
    for (int i = 0; i < kClients; ++i) {
        const QByteArray url = archiveUrl(QByteArray::number(100000 + i) + ".zip");
        uploads.push_back(std::async(std::launch::async, [url, source = sources[size_t(i)]] {
            return net::UploadFile(url, source, Ftp(), Account());
        }));
    }
    for (int i = 0; i < kClients; ++i) {
        SCOPED_TRACE(i);
        const TransferResult result = uploads[size_t(i)].get();
        EXPECT_TRUE(result.ok()) << result.errorText.constData();
        EXPECT_EQ(archive(QByteArray::number(100000 + i) + ".zip"), archives[size_t(i)]);
    }
    EXPECT_EQ(UploadTemporaries(folder), QStringList());
}

} // namespace
} // namespace signetrix::test
