#include "FtpDaemon.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QRandomGenerator>

#include <algorithm>
#include <array>
#include <csignal>

namespace signetrix::test {

QString FtpdPython()
{
    return QStringLiteral("/usr/bin/python3");
}

QString FtpdScript()
{
    return QStringLiteral(SIGNETRIX_FTPD_SCRIPT);
}

QStringList FtpdArguments(const QString& root, const QString& listen)
{
    return {QStringLiteral("--listen"), listen,
            QStringLiteral("--user"), QString::fromLatin1(kFtpUser),
            QStringLiteral("--password"), QString::fromLatin1(kFtpPassword),
            QStringLiteral("--root"), root,
            QStringLiteral("--folder"), QString::fromLatin1(kFtpFolder)};
}

FtpDaemon::FtpDaemon(const QStringList& arguments)
{
    start(FtpdPython(), QStringList{FtpdScript()} + arguments);
}

FtpDaemon::FtpDaemon(const QStringList& arguments, const QString& stdinPath)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("FTPD_STDIN"), stdinPath);
    m_process.setProcessEnvironment(environment);
    const QString command = FtpdPython() + QStringLiteral(" \"$@\" <\"$FTPD_STDIN\"; true");
    start(QStringLiteral("/bin/sh"), QStringList{QStringLiteral("-c"), command, QStringLiteral("sh"), FtpdScript()} +
                                         arguments);
}

std::unique_ptr<FtpDaemon> FtpDaemon::refusingStores(int refusals, const QString& root)
{
    std::unique_ptr<FtpDaemon> daemon(new FtpDaemon);
    const QString wrapper = QFileInfo(FtpdScript()).dir().filePath(QStringLiteral("../../tests/server/ftp/refusing_ftpd.py"));
    daemon->start(FtpdPython(), QStringList{wrapper, FtpdScript(), QString::number(refusals)} + FtpdArguments(root));
    return daemon;
}

void FtpDaemon::start(const QString& program, const QStringList& arguments)
{
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start(program, arguments);
    if (!m_process.waitForStarted(kWaitMs)) {
        m_error = "did not start: " + m_process.errorString().toUtf8();
        return;
    }
    QDeadlineTimer deadline(kWaitMs);
    while (!m_process.canReadLine() && !deadline.hasExpired() && m_process.state() == QProcess::Running)
        m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    m_firstLine = m_process.readLine().trimmed();
    const QByteArray prefix = "ftp=127.0.0.1:";
    bool ok = false;
    if (m_firstLine.startsWith(prefix)) m_port = m_firstLine.mid(prefix.size()).toUShort(&ok);
    if (!ok || m_port == 0) {
        m_port = 0;
        m_error = "no address line: '" + m_firstLine + "'; " + standardError();
    }
}

FtpDaemon::~FtpDaemon()
{
    if (m_process.state() == QProcess::NotRunning) return;
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(kWaitMs)) {
        m_process.kill();
        m_process.waitForFinished(kWaitMs);
    }
}

QByteArray FtpDaemon::url(const QByteArray& path) const
{
    return "ftp://127.0.0.1:" + QByteArray::number(m_port) + '/' + path;
}

bool FtpDaemon::waitForEnd(int ms)
{
    return m_process.state() == QProcess::NotRunning || m_process.waitForFinished(ms);
}

QByteArray FtpDaemon::standardError()
{
    m_stderr += m_process.readAllStandardError();
    return m_stderr;
}

bool FtpControl::open(quint16 port)
{
    m_socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    return m_socket.waitForConnected(kWaitMs) && read().code == 220;
}

FtpReply FtpControl::read()
{
    QDeadlineTimer deadline(kWaitMs);
    QByteArray code;
    FtpReply reply;
    for (;;) {
        const qsizetype end = m_buffer.indexOf("\r\n");
        if (end < 0) {
            if (deadline.hasExpired() || m_socket.state() != QAbstractSocket::ConnectedState) return {};
            if (m_socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
                m_buffer += m_socket.readAll();
            continue;
        }
        const QByteArray line = m_buffer.left(end);
        m_buffer.remove(0, end + 2);
        reply.text += line + '\n';
        if (code.isEmpty()) code = line.left(3);
        // The last line of a reply is its code and a space.
        if (line.size() >= 4 && line.startsWith(code) && line[3] == ' ') {
            reply.code = code.toInt();
            return reply;
        }
    }
}

FtpReply FtpControl::send(const QByteArray& command)
{
    m_socket.write(command + "\r\n");
    m_socket.waitForBytesWritten(kWaitMs);
    return read();
}

bool FtpControl::login(const QByteArray& user, const QByteArray& password)
{
    return send("USER " + user).code == 331 && send("PASS " + password).code == 230;
}

std::unique_ptr<QTcpSocket> FtpControl::openData(FtpReply* reply)
{
    if (!m_listener.isListening() && !m_listener.listen(QHostAddress::LocalHost)) return nullptr;
    const quint16 port = m_listener.serverPort();
    *reply = send("PORT 127,0,0,1," + QByteArray::number(port / 256) + ',' + QByteArray::number(port % 256));
    if (reply->code != 200 || !m_listener.waitForNewConnection(kWaitMs)) return nullptr;
    return std::unique_ptr<QTcpSocket>(m_listener.nextPendingConnection());
}

bool SendAndClose(QTcpSocket& data, const QByteArray& bytes)
{
    data.write(bytes);
    QDeadlineTimer deadline(kWaitMs);
    while (data.bytesToWrite() > 0 && !deadline.hasExpired())
        if (!data.waitForBytesWritten(int(qMax<qint64>(1, deadline.remainingTime())))) break;
    const bool written = data.bytesToWrite() == 0;
    data.disconnectFromHost();
    if (data.state() != QAbstractSocket::UnconnectedState) data.waitForDisconnected(kWaitMs);
    return written;
}

namespace {

quint32 Crc32(const QByteArray& bytes)
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : bytes) crc = table[(crc ^ quint8(byte)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

void Put16(QByteArray& out, quint32 value)
{
    out.append(char(value & 0xFF)).append(char((value >> 8) & 0xFF));
}

void Put32(QByteArray& out, quint32 value)
{
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

} // namespace

QByteArray MakeZip(const QList<std::pair<QByteArray, QByteArray>>& files)
{
    QByteArray out, central;
    for (const auto& [name, data] : files) {
        const quint32 offset = quint32(out.size());
        const quint32 crc = Crc32(data);
        // Local header: version 10, no flags, stored, a fixed DOS time.
        Put32(out, 0x04034b50);
        Put16(out, 10);
        Put16(out, 0);
        Put16(out, 0);
        Put16(out, 0);
        Put16(out, 0x21);
        Put32(out, crc);
        Put32(out, quint32(data.size()));
        Put32(out, quint32(data.size()));
        Put16(out, quint32(name.size()));
        Put16(out, 0);
        out += name + data;

        Put32(central, 0x02014b50);
        Put16(central, 20);
        Put16(central, 10);
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0x21);
        Put32(central, crc);
        Put32(central, quint32(data.size()));
        Put32(central, quint32(data.size()));
        Put16(central, quint32(name.size()));
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0);
        Put16(central, 0);
        Put32(central, 0);
        Put32(central, offset);
        central += name;
    }
    const quint32 centralAt = quint32(out.size());
    out += central;
    Put32(out, 0x06054b50);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, quint32(files.size()));
    Put16(out, quint32(files.size()));
    Put32(out, quint32(central.size()));
    Put32(out, centralAt);
    Put16(out, 0);
    return out;
}

QByteArray RandomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    for (qsizetype i = size / 4 * 4; i < size; ++i) bytes[i] = char(i);
    return bytes;
}

std::vector<std::string> TreeSnapshot(const QString& root)
{
    std::vector<std::string> tree;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    const QDir base(root);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info = it.fileInfo();
        QString line = base.relativeFilePath(path);
        if (info.isDir() && !info.isSymLink()) {
            line += QStringLiteral("/ (folder)");
        } else {
            QFile file(path);
            const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
            line += QStringLiteral(" (%1 bytes, %2)")
                        .arg(bytes.size())
                        .arg(QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex().left(12)));
        }
        tree.push_back(line.toStdString());
    }
    std::sort(tree.begin(), tree.end());
    return tree;
}

QStringList UploadTemporaries(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral(".upload-*")}, QDir::Files | QDir::Hidden | QDir::System);
}

bool ConnectionRefused(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    return !socket.waitForConnected(kWaitMs) && socket.error() == QAbstractSocket::ConnectionRefusedError;
}

namespace {

// State and parent from /proc/<pid>/stat ("pid (name) S ppid ..."); the name may hold anything.
bool ReadStat(qint64 pid, char* state, qint64* parent)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly)) return false;
    const QByteArray stat = file.readAll();
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0) return false;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    if (fields.size() < 2 || fields[0].isEmpty()) return false;
    *state = fields[0][0];
    *parent = fields[1].toLongLong();
    return true;
}

} // namespace

QList<qint64> ChildProcesses(qint64 pid)
{
    QList<qint64> children;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool numeric = false;
        const qint64 candidate = entry.toLongLong(&numeric);
        char state = 0;
        qint64 parent = 0;
        if (numeric && ReadStat(candidate, &state, &parent) && parent == pid) children.append(candidate);
    }
    return children;
}

bool ProcessEnded(qint64 pid)
{
    char state = 0;
    qint64 parent = 0;
    return !ReadStat(pid, &state, &parent) || state == 'Z' || state == 'X';
}

} // namespace signetrix::test
