#pragma once
// Drives the real backup FTP daemon: the script under Debian's interpreter on
// 127.0.0.1 port 0 (directly or under an intermediate shell), a control
// connection for the commands libcurl never sends, small ZIP archives, and a
// snapshot of a folder tree to prove that nothing was written.
//
// Every wait is bounded (kWaitMs); a daemon still running at destruction is
// given end of input, then killed by its process id.
#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace signetrix::test {

inline constexpr int kWaitMs = 15000;
inline constexpr char kFtpUser[] = "sauvegarde";
inline constexpr char kFtpPassword[] = "Mot-de-passe-7";
inline constexpr char kFtpFolder[] = "fav_backup";

QString FtpdPython();
QString FtpdScript();
// The daemon's command line after the script, for the one account above.
QStringList FtpdArguments(const QString& root, const QString& listen = QStringLiteral("127.0.0.1:0"));

class FtpDaemon {
public:
    // Starts "python3 script arguments" and waits for its "ftp=" line.
    explicit FtpDaemon(const QStringList& arguments);
    // Starts it under "/bin/sh -c 'python3 ... <stdinPath; true'", so that the
    // shell is its parent and its input is stdinPath rather than our pipe.
    FtpDaemon(const QStringList& arguments, const QString& stdinPath);
    // The daemon for the account above whose first `refusals` stores are
    // refused with 451; its standard error logs "test: login N" and
    // "test: store N refused|accepted on session S".
    static std::unique_ptr<FtpDaemon> refusingStores(int refusals, const QString& root);
    ~FtpDaemon();
    FtpDaemon(const FtpDaemon&) = delete;
    FtpDaemon& operator=(const FtpDaemon&) = delete;

    bool listening() const { return m_port != 0; }
    quint16 port() const { return m_port; }
    QByteArray startError() const { return m_error; }
    QByteArray firstLine() const { return m_firstLine; }
    QProcess& process() { return m_process; }
    // "ftp://127.0.0.1:port/" + path.
    QByteArray url(const QByteArray& path) const;
    // Waits for the process to end; false past the bound.
    bool waitForEnd(int ms = kWaitMs);
    QByteArray standardError();

private:
    FtpDaemon() = default;
    void start(const QString& program, const QStringList& arguments);

    QProcess m_process;
    quint16 m_port = 0;
    QByteArray m_firstLine;
    QByteArray m_error;
    QByteArray m_stderr;
};

struct FtpReply {
    int code = 0; // 0: no reply within the bound
    QByteArray text;
};

// A control connection typed by hand.
class FtpControl {
public:
    bool open(quint16 port);
    FtpReply send(const QByteArray& command);
    FtpReply read();
    bool login(const QByteArray& user = kFtpUser, const QByteArray& password = kFtpPassword);
    // Sends PORT for a listener of ours and takes the daemon's connection.
    std::unique_ptr<QTcpSocket> openData(FtpReply* reply);
    void drop() { m_socket.abort(); }

private:
    QTcpSocket m_socket;
    QByteArray m_buffer;
    QTcpServer m_listener;
};

// Writes bytes and closes the connection in order, within the bound.
bool SendAndClose(QTcpSocket& data, const QByteArray& bytes);

// A ZIP archive of stored entries (name, bytes), as a backup would hold.
QByteArray MakeZip(const QList<std::pair<QByteArray, QByteArray>>& files);
QByteArray RandomBytes(qsizetype size);

// Every file and folder below root, sorted: "path/ (folder)" or "path (size, digest)".
std::vector<std::string> TreeSnapshot(const QString& root);
// Names in folder that look like the daemon's temporary files.
QStringList UploadTemporaries(const QString& folder);

bool ConnectionRefused(quint16 port);
// Child processes of pid, from /proc.
QList<qint64> ChildProcesses(qint64 pid);
// Not running any more: gone from /proc, or a zombie.
bool ProcessEnded(qint64 pid);

} // namespace signetrix::test
