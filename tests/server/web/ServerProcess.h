#pragma once
// Drives the real signetrix_server for the tests: started on 127.0.0.1 port 0
// for both sides with a data folder of the test's choosing and the real FTP
// daemon script, its ports read from its one line on standard output, its log
// written to a file (a pipe nobody drains could stall it). Clients are the
// real ones: the program's network layer for GET and FTP, Qt's network access
// for form posts, and a plain socket for requests no client would send.
//
// Every wait is bounded (kServerWaitMs); a server left running at destruction
// is asked to stop, then killed.
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace signetrix::test {

inline constexpr int kServerWaitMs = 20000;
// The build's deployment values, which are the server's defaults.
inline constexpr char kFtpUser[] = SIGNETRIX_TEST_FTP_USER;
inline constexpr char kFtpPassword[] = SIGNETRIX_TEST_FTP_PASSWORD;
inline constexpr char kBackupFolder[] = SIGNETRIX_TEST_BACKUP_FOLDER;

QString ServerExecutable();
QString SourceFolder();

class ServerProcess {
public:
    // Starts the server on dataFolder with the extra options given.
    ServerProcess(const QString& dataFolder, const QStringList& extraArguments = {});
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    bool ready() const { return m_httpPort != 0 && m_ftpPort != 0; }
    QString startError() const { return m_error; }
    QByteArray readyLine() const { return m_readyLine; }
    quint16 httpPort() const { return m_httpPort; }
    quint16 ftpPort() const { return m_ftpPort; }
    QByteArray url(const QByteArray& path) const; // "http://127.0.0.1:port" + path
    QByteArray ftpUrl(const QByteArray& path) const;
    qint64 pid() const { return m_pid; }
    QString log() const;

    // SIGTERM, then the exit code (-1 past the bound).
    int stop();
    void killHard(); // SIGKILL, waits for the end
    bool running() const { return m_process.state() != QProcess::NotRunning; }
    // Waits for the server to end by itself; its exit code, -1 past the bound.
    int waitForExit(int ms = kServerWaitMs);

private:
    QString m_dataFolder;
    QString m_logPath;
    QProcess m_process;
    qint64 m_pid = 0;
    QByteArray m_readyLine;
    quint16 m_httpPort = 0;
    quint16 m_ftpPort = 0;
    QString m_error;
};

// Processes whose command line names the given text (the FTP child is found
// by its data folder).
QList<qint64> ProcessesMentioning(const QString& text);
bool WaitUntilGone(const QString& text, int ms = kServerWaitMs);

struct HttpAnswer {
    int status = 0; // 0: no answer
    QByteArray body;
    QByteArray contentType;
    QByteArray error;
};

HttpAnswer Get(const QByteArray& url);
using FormFields = QList<QPair<QString, QString>>;
HttpAnswer PostForm(const QByteArray& url, const FormFields& fields);
HttpAnswer Post(const QByteArray& url, const QByteArray& body, const QByteArray& contentType);
// Sends bytes as they are and reads until the server closes or the bound.
HttpAnswer RawRequest(quint16 port, const QByteArray& request);

// The text of an HTML page's body, tags dropped, entities decoded, blanks
// folded: roughly what a browser renders.
QString BodyText(const QByteArray& html);

// Mails in the outbox, oldest first; the confirmation link of one.
QStringList OutboxMails(const QString& dataFolder);
QByteArray ConfirmationLink(const QString& mail);

// A ZIP archive holding the given files, as a backup would.
QByteArray MakeZip(const QList<QPair<QByteArray, QByteArray>>& files);
QByteArray PseudoRandomBytes(qsizetype size, quint32 seed);

// Runs a program to its end within the bound; its exit code (-1 on time-out)
// and its merged output.
int RunProgram(const QString& program, const QStringList& arguments, QByteArray* output = nullptr);

} // namespace signetrix::test
