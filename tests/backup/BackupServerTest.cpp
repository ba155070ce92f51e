#include "backup/BackupServer.h"

#include <QFile>

#include <gtest/gtest.h>

using namespace signetrix;

namespace {

bool OnlyCipherLetters(const QByteArray& text)
{
    if (text.isEmpty()) return false;
    for (const char c : text)
        if (c < 'a' || c > 'p') return false;
    return true;
}

} // namespace

TEST(BackupServer, StoredFormsDecipherToTheDeploymentValues)
{
    for (const QByteArray& letters : {BackupServerHost(), BackupServerUser(), BackupServerPassword(), BackupFolder()})
        EXPECT_TRUE(OnlyCipherLetters(letters)) << letters.constData();

    const BackupServerAccess access = DecipherBackupServer();
    const BackupServerAccess expected = SplitBackupHost(SIGNETRIX_TEST_FTP_HOST);
    EXPECT_EQ(access.host, expected.host);
    EXPECT_EQ(access.port, expected.port);
    EXPECT_EQ(access.user, QByteArray(SIGNETRIX_TEST_FTP_USER));
    EXPECT_EQ(access.password, QByteArray(SIGNETRIX_TEST_FTP_PASSWORD));
    EXPECT_EQ(access.folder, QByteArray(SIGNETRIX_TEST_BACKUP_FOLDER));
}

// The clear values must not be in what the program is built from.
TEST(BackupServer, ClearValuesAreNotInTheLibrary)
{
    QFile library(SIGNETRIX_TEST_BACKUP_LIBRARY);
    ASSERT_TRUE(library.open(QIODevice::ReadOnly)) << SIGNETRIX_TEST_BACKUP_LIBRARY;
    const QByteArray bytes = library.readAll();
    ASSERT_TRUE(bytes.contains(BackupServerPassword())) << "the letters themselves are there";
    for (const char* clear : {SIGNETRIX_TEST_FTP_USER, SIGNETRIX_TEST_FTP_PASSWORD})
        EXPECT_FALSE(bytes.contains(clear)) << "a clear deployment value is in the library";
}

TEST(BackupServer, HostValueNamesItsPortOrGetsPort21)
{
    struct Case {
        const char* value;
        const char* host;
        int port;
    } cases[] = {
        {"ftp.example.org", "ftp.example.org", 21},
        {"127.0.0.1:2121", "127.0.0.1", 2121},
        {"ftp.example.org:0", "ftp.example.org", 21},
        {"ftp.example.org:70000", "ftp.example.org", 21},
        {"ftp.example.org:abc", "ftp.example.org", 21},
        {"[::1]:2121", "::1", 2121},
        {"[::1]", "::1", 21},
        {"::1", "::1", 21},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        const BackupServerAccess access = SplitBackupHost(c.value);
        EXPECT_EQ(access.host, QByteArray(c.host));
        EXPECT_EQ(access.port, c.port);
    }
}
