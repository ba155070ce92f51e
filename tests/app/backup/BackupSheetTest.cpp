// The backup and restore sheets through the real window, against the real
// maker's server (its FTP daemon takes the backup, its web side serves it
// back), a daemon that refuses stores, and stand-in web servers and a real
// forward proxy on loopback.
#include "app/ServerWindowFixture.h"
#include "server/web/ServerProcess.h"
#include "support/HttpTestProxy.h"
#include "support/HttpTestServer.h"

#include "app/backup/BackupController.h"
#include "backup/BackupServer.h"
#include "net/Hosts.h"
#include "platform/Clock.h"

#include <QCheckBox>
#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <zip.h>

#include <map>

namespace signetrix::test {
namespace {

constexpr char kId[] = "314159265358979";
using Tree = std::map<QString, QByteArray>; // relative path -> bytes

QByteArray Shortcut(const QByteArray& url) { return "[InternetShortcut]\r\nURL=" + url + "\r\n"; }

Tree ReadTree(const QString& root)
{
    Tree tree;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile f(path);
        tree[QDir(root).relativeFilePath(path)] = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
    }
    return tree;
}

struct Entry {
    QString name; // as the reader decodes it (UTF-8 when flagged)
    int method = -1;
    QByteArray bytes;
};

std::vector<Entry> ZipEntries(const QString& path)
{
    std::vector<Entry> entries;
    int error = 0;
    zip_t* archive = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    if (!archive) {
        ADD_FAILURE() << "not an archive: " << path.toStdString();
        return entries;
    }
    for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i) {
        zip_stat_t st;
        zip_stat_index(archive, zip_uint64_t(i), ZIP_FL_ENC_GUESS, &st);
        Entry e;
        e.name = QString::fromUtf8(st.name);
        e.method = st.comp_method;
        if (zip_file_t* f = zip_fopen_index(archive, zip_uint64_t(i), 0)) {
            e.bytes.resize(qsizetype(st.size));
            zip_fread(f, e.bytes.data(), st.size);
            zip_fclose(f);
        }
        entries.push_back(e);
    }
    zip_close(archive);
    return entries;
}

class BackupSheet : public ServerWindowFixture {
protected:
    void SetUp() override
    {
        platform::setPauseForTesting([this](int ms) {
            pauses.push_back(ms);
            labelsAtPause << w<QLabel>("lBackupFavoris")->text() + w<QLabel>("lRestoreFavoris")->text();
        });
    }
    void TearDown() override
    {
        ServerWindowFixture::TearDown();
        platform::setPauseForTesting({});
        SetBackupServerForTesting(std::nullopt);
    }

    void startServer()
    {
        ServerWindowFixture::startServer();
        if (server->ready()) useFtp(server->ftpPort());
    }
    void useFtp(quint16 port, const QByteArray& password = kFtpPassword)
    {
        SetBackupServerForTesting(BackupServerAccess{"127.0.0.1", port, kFtpUser, password, kBackupFolder});
    }
    QString remoteArchive() const { return data() + "/ftp/" + kBackupFolder + "/" + kId + ".zip"; }
    // The account's archive on the server, as a backup from another machine left it.
    void putRemoteArchive(const QByteArray& bytes) const
    {
        QDir().mkpath(QFileInfo(remoteArchive()).path());
        QFile f(remoteArchive());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QString localArchive() const { return exe.file(QStringLiteral("temp/%1.zip").arg(kId)); }

    void writeFile(const QString& relative, const QByteArray& bytes)
    {
        const QString path = home.favorites() + '/' + relative;
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        if (f.exists()) f.setPermissions(f.permissions() | QFile::WriteOwner);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
        f.write(bytes);
    }
    void makeReadOnly(const QString& relative)
    {
        QFile::setPermissions(home.favorites() + '/' + relative, QFile::ReadOwner | QFile::ReadGroup);
    }

    // A registered account (its id only matters here) on the backup page.
    void open()
    {
        writeIni(QByteArray("[SettingBackupWeb]\r\nedID.Text=") + kId + "\r\n");
        start().show();
        clickTab(w<QTabWidget>("PageControl1"), "tsBackupWeb");
    }
    void backUp() { w<QPushButton>("btnBackupFavoris")->click(); }
    void restore() { w<QPushButton>("btnRestoreFavoris")->click(); }

    // Idle: the button panel back, the label empty, the progress panel home.
    void expectIdle(const char* buttons, const char* label)
    {
        EXPECT_FALSE(w(buttons)->isHidden());
        EXPECT_EQ(w<QLabel>(label)->text(), QString());
        EXPECT_NE(w("pProcess")->parentWidget()->objectName(), "gbBackupFavoris");
        EXPECT_NE(w("pProcess")->parentWidget()->objectName(), "gbRestoreFavoris");
    }

    std::vector<int> pauses;
    QStringList labelsAtPause;
};

TEST_F(BackupSheet, BackUpThenRestoreTheWholeTree)
{
    startServer();
    writeFile("Racine.url", Shortcut("http://racine.example/"));
    writeFile("Liens/Outils/Café crème.url", Shortcut("http://cafe.example/"));
    writeFile("Москва/Кремль.url", Shortcut("http://kremlin.example/"));
    writeFile("Liens/.caché.url", Shortcut("http://hidden.example/"));
    writeFile("Lecture seule.url", Shortcut("http://ro.example/"));
    makeReadOnly("Lecture seule.url");
    const Tree backedUp = ReadTree(home.favorites());
    open();
    const QString countBefore = w<QLabel>("lFavorisTotal0")->text();

    backUp();
    EXPECT_EQ(boxes.texts(), QStringList());
    EXPECT_EQ(pauses, std::vector<int>{3500});
    EXPECT_EQ(labelsAtPause, QStringList{"Sauvegarde terminée avec succès!"});
    EXPECT_EQ(form->backupController()->failedAttempts(), 0);
    EXPECT_EQ(w<QProgressBar>("OvcMeterProcess")->value(), 100);
    expectIdle("pBackupFavoris", "lBackupFavoris");

    // The server holds exactly the local archive; its entries are the tree.
    QFile remote(remoteArchive()), local(localArchive());
    ASSERT_TRUE(remote.open(QIODevice::ReadOnly));
    ASSERT_TRUE(local.open(QIODevice::ReadOnly));
    const QByteArray remoteBytes = remote.readAll();
    EXPECT_EQ(remoteBytes, local.readAll());
    std::map<QString, QByteArray> entries;
    for (const Entry& e : ZipEntries(remoteArchive())) {
        entries[e.name] = e.bytes;
        EXPECT_EQ(e.method, ZIP_CM_DEFLATE) << e.name.toStdString();
    }
    EXPECT_EQ(entries, (std::map<QString, QByteArray>(backedUp.begin(), backedUp.end())));
    // Python's reader agrees on the names: CP850 for the Latin ones, UTF-8 flagged for the others.
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral("-c"),
                  QStringLiteral("import sys, zipfile\n"
                                 "for i in zipfile.ZipFile(sys.argv[1]).infolist():\n"
                                 "    print(i.filename, i.flag_bits & 0x800, i.compress_type)\n"),
                  remoteArchive()});
    ASSERT_TRUE(python.waitForFinished(20000));
    const QString listing = QString::fromUtf8(python.readAllStandardOutput());
    EXPECT_TRUE(listing.contains(QStringLiteral("Liens/Outils/Café crème.url 0 8"))) << listing.toStdString();
    EXPECT_TRUE(listing.contains(QStringLiteral("Москва/Кремль.url 2048 8"))) << listing.toStdString();
    EXPECT_TRUE(listing.contains(QStringLiteral("Liens/.caché.url 0 8"))) << listing.toStdString();

    // A second backup replaces the first on the server.
    writeFile("Nouveau.url", Shortcut("http://nouveau.example/"));
    const Tree second = ReadTree(home.favorites());
    backUp();
    QFile replaced(remoteArchive());
    ASSERT_TRUE(replaced.open(QIODevice::ReadOnly));
    EXPECT_NE(replaced.readAll(), remoteBytes);
    EXPECT_EQ(ZipEntries(remoteArchive()).size(), second.size());

    // The local tree changes; the restore brings the backed-up favorites back.
    QDir(home.favorites()).removeRecursively();
    writeFile("Lecture seule.url", Shortcut("http://changed-locally.example/"));
    makeReadOnly("Lecture seule.url");
    writeFile("Seulement ici.url", Shortcut("http://local-only.example/"));
    pauses.clear();
    labelsAtPause.clear();
    restore();
    EXPECT_EQ(boxes.texts(), QStringList());
    EXPECT_EQ(labelsAtPause, QStringList{"Restauration de vos favoris terminée avec succès"});
    expectIdle("pRestoreFavoris", "lRestoreFavoris");
    Tree expected = second;
    expected["Seulement ici.url"] = Shortcut("http://local-only.example/");
    EXPECT_EQ(ReadTree(home.favorites()), expected);
    // The local version it replaced was kept aside first.
    bool keptAside = false;
    QDirIterator copies(exe.file(QStringLiteral("Devodav Archives")), {QStringLiteral("Lecture seule.url")}, QDir::Files,
                        QDirIterator::Subdirectories);
    while (copies.hasNext()) {
        QFile copy(copies.next());
        keptAside |= copy.open(QIODevice::ReadOnly) && copy.readAll() == Shortcut("http://changed-locally.example/");
    }
    EXPECT_TRUE(keptAside);
    EXPECT_EQ(w<QLabel>("lFavorisTotal0")->text(), countBefore) << "the favorites list is not reloaded";
}

TEST_F(BackupSheet, RestoreOnAFreshInstallationAndWithoutAnArchive)
{
    startServer();
    // An archive on the server from another machine; no temp folder here yet.
    putRemoteArchive(MakeZip({{"Liens/a.url", Shortcut("http://a.example/")}}));
    ASSERT_FALSE(QFileInfo::exists(exe.file("temp")));
    open();
    restore();
    EXPECT_EQ(boxes.texts(), QStringList());
    EXPECT_EQ(ReadTree(home.favorites()), (Tree{{"Liens/a.url", Shortcut("http://a.example/")}}));

    // No archive for the account: the message, and the tree stays as it was.
    QFile::remove(remoteArchive());
    const Tree before = ReadTree(home.favorites());
    restore();
    EXPECT_EQ(boxes.texts(), QStringList{BackupController::kRestoreFailedText});
    EXPECT_EQ(ReadTree(home.favorites()), before);
    expectIdle("pRestoreFavoris", "lRestoreFavoris");
}

// Archives that must change nothing, and downloads that go wrong.
TEST_F(BackupSheet, ABadOrMissingDownloadChangesNothing)
{
    HttpTestServer web;
    net::SetDownloadHostForTesting(QString::fromLatin1(web.baseUrl()));
    writeFile("Garde.url", Shortcut("http://garde.example/"));
    const Tree before = ReadTree(home.favorites());
    open();
    form->backupController()->setStallTimeout(1000);
    const QByteArray path = QByteArray("/") + kBackupFolder + "/" + kId + ".zip";
    const QByteArray good = MakeZip({{"Garde.url", Shortcut("http://remplace.example/")}, {"b.url", "b"}});
    struct Case {
        const char* name;
        HttpReply reply;
    };
    const Case cases[] = {
        {"zip slip", HttpReply::status(200, MakeZip({{"ok.url", "x"}, {"../dehors.url", "x"}}))},
        {"absolute name", HttpReply::status(200, MakeZip({{"ok.url", "x"}, {"/tmp/dehors.url", "x"}}))},
        {"truncated", HttpReply::status(200, good.left(good.size() - 30))},
        {"not an archive", HttpReply::status(200, "<html>pas une archive</html>")},
        {"missing", HttpReply::status(404, "absent")},
        {"stalls", HttpReply::of(HttpReply::Kind::StallAfterStatusLine)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        web.route(path, c.reply);
        boxes.clear();
        restore();
        EXPECT_EQ(boxes.texts(), QStringList{BackupController::kRestoreFailedText});
        EXPECT_EQ(ReadTree(home.favorites()), before);
        EXPECT_FALSE(QFileInfo::exists(QDir::tempPath() + "/dehors.url"));
        EXPECT_FALSE(QFileInfo::exists(home.home() + "/dehors.url"));
        expectIdle("pRestoreFavoris", "lRestoreFavoris");
    }
}

TEST_F(BackupSheet, TheRestoreGoesThroughTheConfiguredProxy)
{
    startServer();
    putRemoteArchive(MakeZip({{"p.url", Shortcut("http://p.example/")}}));
    HttpTestProxy proxy;
    writeFile("local.url", Shortcut("http://local.example/"));
    writeIni(QByteArray("[SettingBackupWeb]\r\nedID.Text=") + kId + "\r\n[SettingProxy]\r\nchkbProxy.Checked=True\r\n"
             "edProxyHote.Text=127.0.0.1\r\nedProxyPort.Text=" + QByteArray::number(proxy.port()) + "\r\n");
    start().show();
    clickTab(w<QTabWidget>("PageControl1"), "tsBackupWeb");
    restore();
    EXPECT_EQ(boxes.texts(), QStringList());
    ASSERT_EQ(proxy.requests().size(), 1u);
    EXPECT_EQ(proxy.requests()[0].target, server->url(QByteArray("/") + kBackupFolder + "/" + kId + ".zip"));
    EXPECT_EQ(ReadTree(home.favorites()),
              (Tree{{"p.url", Shortcut("http://p.example/")}, {"local.url", Shortcut("http://local.example/")}}));

    // A port that is not a number stops both before any traffic.
    w<QLineEdit>("edProxyPort")->setText(QStringLiteral("80a"));
    restore();
    EXPECT_EQ(boxes.texts(), QStringList{BackupController::kRestoreFailedText});
    boxes.clear();
    backUp();
    EXPECT_EQ(boxes.texts().size(), 1);
    EXPECT_TRUE(boxes.texts().value(0).contains("'80a' is not a valid integer value")) << boxes.texts().value(0).toStdString();
    EXPECT_EQ(proxy.requests().size(), 1u);
    expectIdle("pBackupFavoris", "lBackupFavoris");
}

// A daemon whose first stores are refused, started beside the test.
class RefusingDaemon {
public:
    RefusingDaemon(int refusals, const QString& root)
    {
        const QString source = QStringLiteral(SIGNETRIX_SOURCE_DIR);
        m_process.start(QStringLiteral("/usr/bin/python3"),
                        {source + "/tests/server/ftp/refusing_ftpd.py", source + "/server/ftp/signetrix_ftpd.py",
                         QString::number(refusals), "--listen", "127.0.0.1:0", "--user", kFtpUser, "--password",
                         kFtpPassword, "--root", root, "--folder", kBackupFolder});
        if (!m_process.waitForStarted(kServerWaitMs)) return;
        QByteArray line;
        while (!line.contains('\n') && m_process.waitForReadyRead(kServerWaitMs)) line += m_process.readAllStandardOutput();
        if (line.startsWith("ftp=127.0.0.1:")) m_port = quint16(line.mid(14).trimmed().toUInt());
    }
    ~RefusingDaemon()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(kServerWaitMs)) m_process.kill();
        m_process.waitForFinished();
    }
    quint16 port() const { return m_port; }
    QByteArray log()
    {
        m_log += m_process.readAllStandardError();
        return m_log;
    }

private:
    QProcess m_process;
    QByteArray m_log;
    quint16 m_port = 0;
};

TEST_F(BackupSheet, RefusedStoresAreTriedAgainOnTheSameSessionUpToFiveTimes)
{
    writeFile("a.url", Shortcut("http://a.example/"));
    open();
    struct Case {
        int refusals;
        int failed;
        const char* row;
        bool stored;
    };
    const Case cases[] = {
        {1, 1, "Sauvegarde terminée avec succès!", true},
        {5, 5, "!! ERREUR de connexion !! Impossible d'effectuer la sauvegarde", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.refusals);
        QTemporaryDir root;
        RefusingDaemon daemon(c.refusals, root.path());
        ASSERT_NE(daemon.port(), 0);
        useFtp(daemon.port());
        labelsAtPause.clear();
        backUp();
        EXPECT_EQ(boxes.texts(), QStringList());
        EXPECT_EQ(labelsAtPause, QStringList{c.row});
        EXPECT_EQ(form->backupController()->failedAttempts(), c.failed);
        EXPECT_EQ(QFileInfo::exists(root.path() + "/" + kBackupFolder + "/" + kId + ".zip"), c.stored);
        QTest::qWaitFor([&] { return daemon.log().count("test: store") >= std::min(c.refusals + 1, 5); }, kServerWaitMs);
        const QByteArray log = daemon.log();
        EXPECT_EQ(log.count("test: login"), 1) << log.constData();
        EXPECT_EQ(log.count("test: store"), std::min(c.refusals + 1, 5)) << log.constData();
        EXPECT_EQ(log.count("on session 1"), log.count("test: store")) << log.constData();
        EXPECT_TRUE(QFileInfo::exists(localArchive())) << "the local archive is kept";
        expectIdle("pBackupFavoris", "lBackupFavoris");
    }
}

TEST_F(BackupSheet, ASessionThatCannotStartShowsItsOwnMessageWithoutTheServersValues)
{
    writeFile("a.url", Shortcut("http://a.example/"));
    open();
    QTemporaryDir root;
    RefusingDaemon daemon(0, root.path());
    ASSERT_NE(daemon.port(), 0);
    struct Case {
        const char* name;
        BackupServerAccess access;
        const char* words;
    };
    const Case cases[] = {
        {"nothing listens", {"127.0.0.1", closedLoopbackPort(), kFtpUser, kFtpPassword, kBackupFolder}, "Connexion"},
        {"wrong password", {"127.0.0.1", daemon.port(), kFtpUser, "Faux-4242", kBackupFolder}, "identification"},
        {"no such folder", {"127.0.0.1", daemon.port(), kFtpUser, kFtpPassword, "ailleurs-77"}, "dossier"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetBackupServerForTesting(c.access);
        boxes.clear();
        pauses.clear();
        backUp();
        ASSERT_EQ(boxes.texts().size(), 1);
        const QString text = boxes.texts().first();
        EXPECT_TRUE(text.contains(QLatin1String(c.words))) << text.toStdString();
        for (const QByteArray& value : {c.access.user, c.access.password, c.access.folder, QByteArray("127.0.0.1"),
                                        QByteArray::number(c.access.port)})
            EXPECT_FALSE(text.contains(QString::fromLatin1(value))) << text.toStdString();
        EXPECT_TRUE(pauses.empty()) << "no row of the message table";
        expectIdle("pBackupFavoris", "lBackupFavoris");
    }
}

} // namespace
} // namespace signetrix::test
