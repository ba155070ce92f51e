// The update page through the real window against the real server, which
// publishes and signs the release with its own command: the whole road to the
// restart (recorded), the current version, a second update, folder paths,
// files left in temp/, refused archives and
// signatures, the server down and a proxy port that is not a number.
#include "app/ServerWindowFixture.h"
#include "server/web/ServerProcess.h"
#include "support/HttpTestServer.h"

#include <QCheckBox>

#include "app/update/UpdateController.h"
#include "net/Hosts.h"
#include "platform/Process.h"

#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QMovie>
#include <QProgressBar>
#include <QPushButton>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>
#include <utime.h>
#include <zip.h>

namespace signetrix::test {
namespace {

const QString kKey = QStringLiteral(SIGNETRIX_SOURCE_DIR "/server/keys/loopback.key");

void SetModified(const QString& path, qint64 secondsSinceEpoch)
{
    const struct utimbuf times{time_t(secondsSinceEpoch), time_t(secondsSinceEpoch)};
    ASSERT_EQ(::utime(QFile::encodeName(path).constData(), &times), 0) << path.toStdString();
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void WriteAll(const QString& path, const QByteArray& bytes, QFile::Permissions permissions = {})
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    f.write(bytes);
    f.close();
    if (permissions) f.setPermissions(permissions);
}

constexpr QFile::Permissions kRunnable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
constexpr qint64 kOld = 1700000000;   // the running executable's time
constexpr qint64 kNew = 1800000000;   // a later release

class UpdatePage : public ServerWindowFixture {
protected:
    void SetUp() override
    {
        platform::setDetachedStarterForTesting([this](const platform::DetachedStart& s) {
            starts.push_back(s);
            return true;
        });
        // The running program: a file of its own with an older time.
        WriteAll(exe.exePath(), "ancienne version", kRunnable);
        SetModified(exe.exePath(), kOld);
    }
    void TearDown() override
    {
        ServerWindowFixture::TearDown();
        platform::setDetachedStarterForTesting({});
    }

    QString releaseArchive() const { return data() + "/download/Signetrix.zip"; }

    // Publishes these files (name -> bytes, time) with the server's own command.
    void publish(const std::vector<std::tuple<QString, QByteArray, qint64>>& files)
    {
        QStringList paths;
        for (const auto& [name, bytes, time] : files) {
            const QString path = releaseDir.filePath(name);
            WriteAll(path, bytes, kRunnable);
            SetModified(path, time);
            paths << path;
        }
        QByteArray output;
        ASSERT_EQ(RunProgram(ServerExecutable(), QStringList{"publish", "--data", data(), "--key", kKey} + paths, &output), 0)
            << output.constData();
    }
    // Signs the release archive again with minisign itself (for archives made by hand).
    void sign(const QString& secretKey = kKey)
    {
        QFile::remove(releaseArchive() + ".minisig");
        QByteArray output;
        ASSERT_EQ(RunProgram(QStringLiteral("/usr/bin/minisign"),
                             {"-S", "-s", secretKey, "-m", releaseArchive(), "-x", releaseArchive() + ".minisig"},
                             &output),
                  0)
            << output.constData();
    }

    // A release archive made by hand (entry name, bytes, time, Unix mode), signed with the test key.
    void handMadeRelease(const std::vector<std::tuple<const char*, QByteArray, qint64, unsigned>>& entries)
    {
        QDir().mkpath(QFileInfo(releaseArchive()).path());
        int error = 0;
        zip_t* zip = zip_open(QFile::encodeName(releaseArchive()).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
        ASSERT_NE(zip, nullptr);
        for (const auto& [name, bytes, time, mode] : entries) {
            zip_source_t* source = zip_source_buffer(zip, bytes.constData(), zip_uint64_t(bytes.size()), 0);
            const zip_int64_t at = zip_file_add(zip, name, source, 0);
            ASSERT_GE(at, 0);
            zip_file_set_mtime(zip, zip_uint64_t(at), time_t(time), 0);
            zip_file_set_external_attributes(zip, zip_uint64_t(at), 0, ZIP_OPSYS_UNIX, mode << 16);
        }
        ASSERT_EQ(zip_close(zip), 0);
        sign();
    }

    TForm12& open()
    {
        TForm12& f = start();
        f.show();
        clickTab(w<QTabWidget>("PageControl1"), "tsUpdate");
        return f;
    }
    void update() { w<QPushButton>("Button8")->click(); }
    QString old() const { return exe.file(QStringLiteral("Signetrix.old")); }

    QTemporaryDir releaseDir;
    std::vector<platform::DetachedStart> starts;
};

TEST_F(UpdatePage, ANewerSignedReleaseIsInstalledAndStarted)
{
    startServer();
    const QByteArray program = ReadAll(QStringLiteral(SIGNETRIX_APP_EXE));
    ASSERT_GT(program.size(), 1000);
    publish({{"Signetrix", program, kNew}, {"LISEZMOI.txt", "nouveautés", kNew}});
    // Left in temp/ by a backup: copied too; a sub-folder is not.
    WriteAll(exe.file("temp/314159.zip"), "sauvegarde");
    WriteAll(exe.file("temp/dossier/dedans.txt"), "non");
    open();
    // The copy animation plays while the files are copied.
    bool copyPlayed = false;
    auto* animation = w<QLabel>("aniCopy");
    ASSERT_NE(animation->movie(), nullptr);
    EXPECT_EQ(animation->movie()->fileName(), QStringLiteral(":/signetrix/copy.gif"));
    EXPECT_GT(animation->movie()->frameCount(), 1);
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        copyPlayed |= animation->isVisible() && animation->movie()->state() == QMovie::Running;
    });
    watch.start(0);
    update();
    watch.stop();
    EXPECT_TRUE(copyPlayed);
    EXPECT_EQ(animation->movie()->state(), QMovie::NotRunning);
    EXPECT_EQ(boxes.texts(), (QStringList{UpdateController::kUnpackedText, UpdateController::kRestartText}));
    EXPECT_EQ(ReadAll(exe.exePath()), program);
    EXPECT_EQ(QFileInfo(exe.exePath()).lastModified().toSecsSinceEpoch(), kNew) << "the archive's time is kept";
    EXPECT_TRUE(QFileInfo(exe.exePath()).isExecutable());
    EXPECT_EQ(ReadAll(old()), "ancienne version");
    EXPECT_EQ(ReadAll(exe.file("LISEZMOI.txt")), "nouveautés");
    EXPECT_EQ(ReadAll(exe.file("314159.zip")), "sauvegarde");
    EXPECT_FALSE(QFileInfo::exists(exe.file("dedans.txt")));
    EXPECT_FALSE(QFileInfo::exists(exe.file("dossier")));
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].program, exe.exePath());
    EXPECT_TRUE(starts[0].arguments.isEmpty());
    EXPECT_EQ(starts[0].workingFolder, QDir::currentPath());
    EXPECT_TRUE(w("OvcMeterUpLoadUpDate")->isHidden());
    EXPECT_TRUE(w("aniCopy")->isHidden());
    EXPECT_EQ(w<QLabel>("lUpLoadUpDate")->text(), QStringLiteral("Completed"));

    // A second update deletes the first ".old" before renaming again.
    stop();
    boxes.clear();
    starts.clear();
    WriteAll(exe.exePath(), "deuxième", kRunnable);
    SetModified(exe.exePath(), kOld);
    open();
    update();
    EXPECT_EQ(boxes.texts(), (QStringList{UpdateController::kUnpackedText, UpdateController::kRestartText}));
    EXPECT_EQ(ReadAll(old()), "deuxième");
    EXPECT_EQ(starts.size(), 1u);
}

TEST_F(UpdatePage, TheSameTimeIsTheCurrentVersionAndFolderPathsAreDropped)
{
    startServer();
    // Its executable stored under a folder path.
    handMadeRelease({{"Signetrix-2/bin/Signetrix", "même version", kOld, 0100755}});
    open();
    update();
    EXPECT_EQ(boxes.texts(), (QStringList{UpdateController::kUnpackedText, UpdateController::kCurrentText}));
    EXPECT_EQ(ReadAll(exe.file("temp/Signetrix")), "même version") << "unpacked into temp/ itself";
    EXPECT_EQ(ReadAll(exe.exePath()), "ancienne version");
    EXPECT_FALSE(QFileInfo::exists(old())) << "nothing renamed";
    EXPECT_TRUE(starts.empty());
}

TEST_F(UpdatePage, ARefusedArchiveOrSignatureChangesNothing)
{
    startServer();
    publish({{"Signetrix", "nouvelle version", kNew}});
    const QByteArray archive = ReadAll(releaseArchive());
    const QByteArray signature = ReadAll(releaseArchive() + ".minisig");
    QTemporaryDir otherKeys;
    const QString otherSecret = otherKeys.filePath("autre.key");
    ASSERT_EQ(RunProgram(QStringLiteral("/usr/bin/minisign"),
                         {"-G", "-W", "-p", otherKeys.filePath("autre.pub"), "-s", otherSecret}),
              0);
    open();
    struct Case {
        const char* name;
        std::function<void()> prepare;
    };
    const Case cases[] = {
        {"a tampered archive", [&] {
             QByteArray tampered = archive;
             tampered[tampered.size() / 2] = char(tampered[tampered.size() / 2] ^ 0x20);
             WriteAll(releaseArchive(), tampered);
             WriteAll(releaseArchive() + ".minisig", signature);
         }},
        {"no signature", [&] {
             WriteAll(releaseArchive(), archive);
             QFile::remove(releaseArchive() + ".minisig");
         }},
        {"a signature of another key", [&] {
             WriteAll(releaseArchive(), archive);
             sign(otherSecret);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.prepare();
        boxes.clear();
        update();
        EXPECT_EQ(boxes.texts(), QStringList{UpdateController::kFailedText});
        EXPECT_EQ(ReadAll(exe.exePath()), "ancienne version");
        EXPECT_FALSE(QFileInfo::exists(old()));
        EXPECT_FALSE(QFileInfo::exists(exe.file("temp/Signetrix"))) << "nothing unpacked";
        EXPECT_TRUE(starts.empty());
    }
}

TEST_F(UpdatePage, NoServerAndABadProxyPortEndTheUpdate)
{
    net::SetDownloadHostForTesting(QStringLiteral("http://127.0.0.1:%1").arg(closedLoopbackPort()));
    open();
    update();
    EXPECT_EQ(boxes.texts(), QStringList{UpdateController::kFailedText});
    EXPECT_FALSE(w("OvcMeterUpLoadUpDate")->isHidden()) << "left shown after a failure, as designed";

    boxes.clear();
    w<QCheckBox>("chkbProxy")->setChecked(true);
    w<QLineEdit>("edProxyPort")->setText(QStringLiteral("80a"));
    update();
    EXPECT_EQ(boxes.texts(), QStringList{UpdateController::kFailedText});
    w<QCheckBox>("chkbProxy")->setChecked(false);

}

} // namespace
} // namespace signetrix::test

namespace signetrix::test {
namespace {

TEST_F(UpdatePage, AnUnusableNewExecutableGivesThePreviousOneBack)
{
    startServer();
    // No execute bit: the unpacked executable is not runnable. A read-only
    // file beside the program cannot be replaced.
    handMadeRelease({{"Signetrix", "pas exécutable", kNew, 0100644}, {"LISEZMOI.txt", "nouveau", kNew, 0100644}});
    WriteAll(exe.file("LISEZMOI.txt"), "ancien", QFile::ReadOwner);
    open();
    update();
    ASSERT_EQ(boxes.texts().size(), 3) << boxes.texts().join(" | ").toStdString();
    EXPECT_EQ(boxes.texts()[0], UpdateController::kUnpackedText);
    EXPECT_TRUE(boxes.texts()[1].startsWith(UpdateController::kCopyFailedText)) << boxes.texts()[1].toStdString();
    EXPECT_GT(boxes.texts()[1].size(), UpdateController::kCopyFailedText.size()) << "the collected error texts";
    EXPECT_EQ(boxes.texts()[2], UpdateController::kFailedText);
    EXPECT_EQ(ReadAll(exe.exePath()), "ancienne version") << "the previous version is back";
    EXPECT_TRUE(QFileInfo(exe.exePath()).isExecutable());
    EXPECT_FALSE(QFileInfo::exists(old()));
    ASSERT_EQ(starts.size(), 1u) << "the previous version starts again";
    EXPECT_EQ(starts[0].program, exe.exePath());
}

// A release served without a Content-Length: the label counts the bytes
// against a total of 0 and the meter stands full, then "Completed".
TEST_F(UpdatePage, AReleaseWithoutAnnouncedSizeShowsTheBytesReceived)
{
    startServer();
    publish({{"Signetrix", "nouvelle version", kNew}});
    const QByteArray archive = ReadAll(releaseArchive());
    HttpTestServer plain;
    plain.route("/download/Signetrix.zip", HttpReply::status(200, archive).withoutLength());
    plain.route("/download/Signetrix.zip.minisig", HttpReply::status(200, ReadAll(releaseArchive() + ".minisig")));
    net::SetDownloadHostForTesting(QString::fromLatin1(plain.url("")));
    open();
    QStringList texts;
    std::vector<int> meters;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const QString text = w<QLabel>("lUpLoadUpDate")->text();
        if (texts.isEmpty() || texts.last() != text) {
            texts << text;
            meters.push_back(w<QProgressBar>("OvcMeterUpLoadUpDate")->value());
        }
    });
    watch.start(0);
    update();
    watch.stop();
    const QString whole = QString::number(archive.size()) + QStringLiteral("Bytes de :0");
    const qsizetype at = texts.indexOf(whole);
    ASSERT_GE(at, 0) << texts.join(" | ").toStdString();
    EXPECT_EQ(meters[size_t(at)], 100) << "no total: the meter shows the received count times 100, full";
    EXPECT_EQ(w<QLabel>("lUpLoadUpDate")->text(), QStringLiteral("Completed"));
    EXPECT_EQ(ReadAll(exe.exePath()), "nouvelle version");
    EXPECT_EQ(boxes.texts(), (QStringList{UpdateController::kUnpackedText, UpdateController::kRestartText}));
}

// The real swap: a copy of a real build updates itself from the server and
// the restarted process reports the new executable's time.
TEST_F(UpdatePage, ARealBuildSwapsItselfAndTheNewVersionStarts)
{
    startServer();
    const QByteArray probe = ReadAll(QStringLiteral(SIGNETRIX_UPDATE_PROBE));
    ASSERT_GT(probe.size(), 1000);
    publish({{"Signetrix", probe, kNew}});
    QTemporaryDir installed, runHome;
    // A folder name with a blank: the restart must hand the path over whole.
    const QDir folder(installed.filePath("Mes programmes"));
    ASSERT_TRUE(folder.mkpath("."));
    const QString program = folder.filePath("Signetrix");
    WriteAll(program, probe, kRunnable | QFile::ReadGroup | QFile::ExeGroup);
    SetModified(program, kOld);
    const QString report = folder.filePath("report.txt");

    QProcess first;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("SIGNETRIX_PROBE_REPORT", report);
    env.insert("SIGNETRIX_PROBE_HOST", QString::fromLatin1(server->url("")));
    env.insert("HOME", runHome.path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    first.setProcessEnvironment(env);
    first.setWorkingDirectory(folder.path());
    first.setProcessChannelMode(QProcess::MergedChannels);
    first.start(program, {});
    ASSERT_TRUE(first.waitForFinished(120000));
    EXPECT_EQ(first.exitCode(), 0) << first.readAll().constData();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(report) && QFileInfo(report).size() > 0; }, 60000))
        << first.readAll().constData();
    EXPECT_EQ(ReadAll(report), QByteArray::number(kNew));
    EXPECT_TRUE(QFileInfo::exists(folder.filePath("Signetrix.old")));
    EXPECT_TRUE(QFileInfo::exists(folder.filePath("Signetrix.ini"))) << "the settings were saved at the end";
}

} // namespace
} // namespace signetrix::test
