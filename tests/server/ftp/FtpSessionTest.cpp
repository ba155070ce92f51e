// The program's FTP session against the real backup daemon: one login, the
// folder entered once, stores on the same control connection, refusals that
// leave the session usable, and error texts that never name the account.
#include "FtpDaemon.h"

#include "net/Transfer.h"

#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace signetrix::test {
namespace {

using net::FtpAccess;
using net::FtpSession;
using net::TransferResult;

net::ClientOptions Options()
{
    net::ClientOptions options;
    options.connectTimeoutMs = 5000;
    options.totalTimeoutMs = 60000;
    return options;
}

class FtpSessionTest : public ::testing::Test {
protected:
    QByteArray local(const QByteArray& bytes)
    {
        const QString path = localDir.filePath(QStringLiteral("%1.zip").arg(++locals));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return QFile::encodeName(path);
    }
    QByteArray stored(const char* name) const
    {
        QFile f(root + '/' + kFtpFolder + '/' + name);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    static int count(const QByteArray& log, const QByteArray& what) { return int(log.count(what)); }
    // The daemon's log once it tells of the n-th store.
    static QByteArray logAfterStore(FtpDaemon& daemon, int n)
    {
        const QByteArray line = "test: store " + QByteArray::number(n) + ' ';
        QTest::qWaitFor([&] { return daemon.standardError().contains(line); }, kWaitMs);
        return daemon.standardError();
    }
    FtpAccess access(quint16 port) const { return {"127.0.0.1", port, kFtpUser, kFtpPassword, true}; }

    QTemporaryDir dir, localDir;
    QString root = dir.filePath(QStringLiteral("ftp"));
    int locals = 0;
};

TEST_F(FtpSessionTest, StoresTwiceOnOneLoginAndReplacesTheArchive)
{
    auto daemon = FtpDaemon::refusingStores(0, root);
    ASSERT_TRUE(daemon->listening()) << daemon->startError().constData();
    FtpSession session(Options(), access(daemon->port()));
    ASSERT_TRUE(session.connect().ok());
    ASSERT_TRUE(session.changeDirectory(kFtpFolder).ok());
    const QByteArray first = MakeZip({{"a.url", "[InternetShortcut]\r\nURL=http://a/\r\n"}});
    const QByteArray second = MakeZip({{"b.url", "x"}});
    qint64 lastSent = 0;
    const TransferResult one = session.store("42.zip", local(first), [&](const net::SendProgress& p) {
        lastSent = p.sentBytes;
        return net::Verdict::Continue;
    });
    ASSERT_TRUE(one.ok()) << one.errorText.constData();
    EXPECT_EQ(stored("42.zip"), first);
    EXPECT_LE(lastSent, first.size());
    ASSERT_TRUE(session.store("42.zip", local(second)).ok());
    EXPECT_EQ(stored("42.zip"), second);
    session.close();
    EXPECT_FALSE(session.connected());
    const QByteArray log = logAfterStore(*daemon, 2);
    EXPECT_EQ(count(log, "test: login"), 1) << log.constData();
    EXPECT_EQ(count(log, "accepted on session 1"), 2) << log.constData();
}

TEST_F(FtpSessionTest, ARefusedStoreLeavesTheSessionForTheNextAttempt)
{
    auto daemon = FtpDaemon::refusingStores(2, root);
    ASSERT_TRUE(daemon->listening());
    FtpSession session(Options(), access(daemon->port()));
    ASSERT_TRUE(session.connect().ok());
    ASSERT_TRUE(session.changeDirectory(kFtpFolder).ok());
    const QByteArray archive = local(MakeZip({{"a.url", "x"}}));
    EXPECT_FALSE(session.store("7.zip", archive).ok());
    EXPECT_FALSE(session.store("7.zip", archive).ok());
    const TransferResult third = session.store("7.zip", archive);
    EXPECT_TRUE(third.ok()) << third.errorText.constData();
    EXPECT_EQ(stored("7.zip"), MakeZip({{"a.url", "x"}}));
    session.close();
    const QByteArray log = logAfterStore(*daemon, 3);
    EXPECT_EQ(count(log, "test: login"), 1) << log.constData();
    EXPECT_EQ(count(log, "refused on session 1"), 2) << log.constData();
}

TEST_F(FtpSessionTest, FailuresBeforeAnyStoreNameNoAccountValue)
{
    auto daemon = FtpDaemon::refusingStores(0, root);
    ASSERT_TRUE(daemon->listening());
    quint16 dead = 0;
    {
        QTcpServer gone;
        gone.listen(QHostAddress::LocalHost, 0);
        dead = gone.serverPort();
    }
    struct Case {
        const char* name;
        FtpAccess access;
        const char* folder; // nullptr: the connection itself must fail
    };
    const Case cases[] = {
        {"nothing listens", {"127.0.0.1", dead, kFtpUser, kFtpPassword, true}, nullptr},
        {"wrong password", {"127.0.0.1", daemon->port(), kFtpUser, "Faux-Secret-991", true}, nullptr},
        {"wrong user", {"127.0.0.1", daemon->port(), "inconnu-3141", kFtpPassword, true}, nullptr},
        {"missing folder", {"127.0.0.1", daemon->port(), kFtpUser, kFtpPassword, true}, "dossier-absent-27"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FtpSession session(Options(), c.access);
        const TransferResult connected = session.connect();
        TransferResult failed = connected;
        if (c.folder) {
            ASSERT_TRUE(connected.ok()) << connected.errorText.constData();
            failed = session.changeDirectory(c.folder);
        }
        EXPECT_FALSE(failed.ok());
        EXPECT_FALSE(failed.errorText.isEmpty());
        for (const QByteArray& secret : {c.access.password, c.access.user, QByteArray(c.folder ? c.folder : "")})
            if (!secret.isEmpty()) {
                EXPECT_FALSE(failed.errorText.contains(secret)) << failed.errorText.constData();
            }
        EXPECT_FALSE(failed.errorText.contains("127.0.0.1")) << failed.errorText.constData();
    }
}

} // namespace
} // namespace signetrix::test
