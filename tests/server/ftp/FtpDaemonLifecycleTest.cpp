// The backup FTP daemon as a child process: its start (folder made, leftovers
// of a killed run removed, one address line), each way it stops (end of
// input, signals, its parent killed) and its refusal to start on bad
// arguments or a taken port. A stop must free the port, end the process and
// drop an upload in flight without touching the archive.
#include "FtpDaemon.h"

#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace signetrix::test {
namespace {

const QByteArray kShortcut = "[InternetShortcut]\r\nURL=http://example.org/\r\n";

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

class DaemonLifecycleTest : public ::testing::Test {
protected:
    QString root() const { return dir.filePath(QStringLiteral("ftp")); }
    QString folder() const { return root() + '/' + QLatin1String(kFtpFolder); }

    // Stores an archive through a typed session, then starts a second upload
    // and leaves it half sent; returns the session and its data connection.
    struct HalfUpload {
        std::unique_ptr<FtpControl> control;
        std::unique_ptr<QTcpSocket> data;
    };
    HalfUpload startHalfUpload(quint16 port, const QByteArray& stored)
    {
        HalfUpload upload{std::make_unique<FtpControl>(), nullptr};
        FtpControl& control = *upload.control;
        FtpReply reply;
        if (!control.open(port) || !control.login()) return {};
        if (control.send(QByteArray("CWD ") + kFtpFolder).code != 250 || control.send("TYPE I").code != 200) return {};
        auto data = control.openData(&reply);
        if (!data || control.send("STOR 1.zip").code != 125 || !SendAndClose(*data, stored) ||
            control.read().code != 226)
            return {};
        upload.data = control.openData(&reply);
        if (!upload.data || control.send("STOR 1.zip").code != 125) return {};
        upload.data->write(MakeZip({{"new.url", RandomBytes(1 << 20)}}).left(300000));
        upload.data->waitForBytesWritten(kWaitMs);
        return upload;
    }

    QTemporaryDir dir;
};

TEST_F(DaemonLifecycleTest, StartMakesTheFolderClearsLeftoversAndPrintsOneAddressLine)
{
    ASSERT_TRUE(QDir().mkpath(folder()));
    const QString leftover = folder() + QStringLiteral("/.upload-0123456789abcdef.part");
    const QString other = folder() + QStringLiteral("/notes.txt");
    ASSERT_TRUE(WriteFile(leftover, "half an archive from a killed run"));
    ASSERT_TRUE(WriteFile(other, "kept"));

    FtpDaemon daemon(FtpdArguments(root()));
    ASSERT_TRUE(daemon.listening()) << daemon.startError().constData();
    EXPECT_FALSE(QFile::exists(leftover));
    EXPECT_EQ(ReadFile(other), "kept");

    // A fresh root: both folders are made.
    QTemporaryDir fresh;
    const QString freshRoot = fresh.filePath(QStringLiteral("data/ftp"));
    FtpDaemon second(FtpdArguments(freshRoot));
    ASSERT_TRUE(second.listening()) << second.startError().constData();
    EXPECT_TRUE(QFileInfo(freshRoot + '/' + QLatin1String(kFtpFolder)).isDir());

    daemon.process().closeWriteChannel();
    ASSERT_TRUE(daemon.waitForEnd());
    EXPECT_EQ(daemon.process().readAllStandardOutput(), QByteArray()) << "nothing after the address line";
}

TEST_F(DaemonLifecycleTest, EachWayOfStoppingEndsItCleanlyAndDropsTheUploadInFlight)
{
    const struct {
        const char* what;
        std::function<void(QProcess&)> stop;
    } cases[] = {
        {"end of input", [](QProcess& p) { p.closeWriteChannel(); }},
        {"SIGTERM", [](QProcess& p) { ::kill(pid_t(p.processId()), SIGTERM); }},
        {"SIGINT", [](QProcess& p) { ::kill(pid_t(p.processId()), SIGINT); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FtpDaemon daemon(FtpdArguments(root()));
        ASSERT_TRUE(daemon.listening()) << daemon.startError().constData();
        const QByteArray stored = MakeZip({{"old.url", kShortcut}});
        HalfUpload upload = startHalfUpload(daemon.port(), stored);
        ASSERT_TRUE(upload.data) << "no upload under way";
        ASSERT_EQ(UploadTemporaries(folder()).size(), 1);

        c.stop(daemon.process());
        ASSERT_TRUE(daemon.waitForEnd()) << "still running";
        EXPECT_EQ(daemon.process().exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(daemon.process().exitCode(), 0) << daemon.standardError().constData();
        EXPECT_TRUE(ConnectionRefused(daemon.port()));
        EXPECT_EQ(ReadFile(folder() + QStringLiteral("/1.zip")), stored);
        EXPECT_EQ(UploadTemporaries(folder()), QStringList());
    }
}

// The daemon's input is a named pipe we keep open, so only its parent's death
// can stop it: the parent is a shell, killed outright.
TEST_F(DaemonLifecycleTest, EndsWhenItsParentIsKilled)
{
    const QByteArray fifo = dir.filePath(QStringLiteral("stdin")).toLocal8Bit();
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    // Read and write: never blocks and never gives the daemon end of file.
    const int keepOpen = ::open(fifo.constData(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(keepOpen, 0);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{keepOpen};

    FtpDaemon daemon(FtpdArguments(root()), QString::fromLocal8Bit(fifo));
    ASSERT_TRUE(daemon.listening()) << daemon.startError().constData();
    const qint64 shell = daemon.process().processId();
    const QList<qint64> children = ChildProcesses(shell);
    ASSERT_EQ(children.size(), 1);
    const qint64 ftpd = children.front();

    ::kill(pid_t(shell), SIGKILL);
    ASSERT_TRUE(daemon.waitForEnd());
    const bool ended = QTest::qWaitFor([&] { return ProcessEnded(ftpd); }, kWaitMs);
    if (!ended) ::kill(pid_t(ftpd), SIGKILL); // ours, by its id: the test must not leave it behind
    EXPECT_TRUE(ended) << "the daemon outlived its parent";
    EXPECT_TRUE(ConnectionRefused(daemon.port()));
}

struct RunResult {
    bool ended = false;
    int exitCode = -1;
    QByteArray out, err;
};

RunResult RunDaemon(const QStringList& arguments)
{
    QProcess process;
    process.start(FtpdPython(), QStringList{FtpdScript()} + arguments);
    RunResult result;
    if (!process.waitForStarted(kWaitMs)) return result;
    result.ended = process.waitForFinished(kWaitMs);
    if (!result.ended) {
        process.kill();
        process.waitForFinished(kWaitMs);
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

void ExpectRefusedStart(const RunResult& run, int exitCode, const QByteArray& mentions)
{
    EXPECT_TRUE(run.ended) << "still running";
    EXPECT_EQ(run.exitCode, exitCode) << run.err.constData();
    EXPECT_EQ(run.out, QByteArray()) << "no address line";
    EXPECT_TRUE(run.err.startsWith("signetrix_ftpd: ")) << run.err.constData();
    EXPECT_EQ(run.err.count('\n'), 1) << run.err.constData();
    EXPECT_TRUE(run.err.contains(mentions)) << run.err.constData();
}

TEST_F(DaemonLifecycleTest, BadArgumentsGiveOneLineAndANonZeroExit)
{
    const QString aFile = dir.filePath(QStringLiteral("a-file"));
    ASSERT_TRUE(WriteFile(aFile, "not a folder"));
    const QString linked = dir.filePath(QStringLiteral("linked"));
    ASSERT_TRUE(QDir().mkpath(linked));
    const QString elsewhere = dir.filePath(QStringLiteral("elsewhere"));
    ASSERT_TRUE(QDir().mkpath(elsewhere));
    ASSERT_TRUE(QFile::link(elsewhere, linked + '/' + QLatin1String(kFtpFolder)));

    const auto with = [&](const QString& option, const QString& value) {
        QStringList arguments = FtpdArguments(root());
        const qsizetype at = arguments.indexOf(option);
        if (value.isNull()) arguments.remove(at, 2);
        else arguments[at + 1] = value;
        return arguments;
    };
    const struct {
        const char* what;
        QStringList arguments;
        int exitCode;
        QByteArray mentions;
    } cases[] = {
        {"no folder", with(QStringLiteral("--folder"), QString()), 2, "--folder"},
        {"no port", with(QStringLiteral("--listen"), QStringLiteral("127.0.0.1")), 2, "--listen"},
        {"port out of range", with(QStringLiteral("--listen"), QStringLiteral("127.0.0.1:70000")), 2, "--listen"},
        {"port not a number", with(QStringLiteral("--listen"), QStringLiteral("127.0.0.1:ftp")), 2, "--listen"},
        {"folder with a slash", with(QStringLiteral("--folder"), QStringLiteral("a/b")), 2, "--folder"},
        {"folder ..", with(QStringLiteral("--folder"), QStringLiteral("..")), 2, "--folder"},
        {"empty folder", with(QStringLiteral("--folder"), QStringLiteral("")), 2, "--folder"},
        {"empty user", with(QStringLiteral("--user"), QStringLiteral("")), 2, "--user"},
        {"unknown option", FtpdArguments(root()) << QStringLiteral("--passive"), 2, "--passive"},
        {"root is a file", with(QStringLiteral("--root"), aFile), 1, "cannot prepare"},
        {"folder is a link out of the root", with(QStringLiteral("--root"), linked), 1, "cannot prepare"},
        {"address not of this machine", with(QStringLiteral("--listen"), QStringLiteral("192.0.2.1:0")), 1,
         "cannot listen on 192.0.2.1:0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ExpectRefusedStart(RunDaemon(c.arguments), c.exitCode, c.mentions);
    }
    EXPECT_EQ(QDir(elsewhere).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
}

TEST_F(DaemonLifecycleTest, APortInUseGivesOneLineAndANonZeroExit)
{
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost));
    const QString address = QStringLiteral("127.0.0.1:%1").arg(taken.serverPort());
    ExpectRefusedStart(RunDaemon(FtpdArguments(root(), address)), 1, "cannot listen on " + address.toLatin1());
}

} // namespace
} // namespace signetrix::test
