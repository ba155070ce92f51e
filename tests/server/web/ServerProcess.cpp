#include "server/web/ServerProcess.h"

#include "net/Transfer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <zip.h>

#include <csignal>
#include <unistd.h>

namespace signetrix::test {

QString ServerExecutable()
{
    return QStringLiteral(SIGNETRIX_SERVER_EXE);
}

QString SourceFolder()
{
    return QStringLiteral(SIGNETRIX_SOURCE_DIR);
}

ServerProcess::ServerProcess(const QString& dataFolder, const QStringList& extraArguments)
    : m_dataFolder(dataFolder)
{
    // The log goes beside the data folder, so a test can tell the two apart.
    static int serial = 0;
    m_logPath = dataFolder + QStringLiteral(".log%1").arg(++serial);
    m_process.setStandardErrorFile(m_logPath, QIODevice::Append);
    m_process.setStandardInputFile(QProcess::nullDevice());
    QStringList arguments = {QStringLiteral("--http"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--ftp"),
                             QStringLiteral("127.0.0.1:0"), QStringLiteral("--data"), dataFolder};
    arguments += extraArguments;
    m_process.start(ServerExecutable(), arguments);
    if (!m_process.waitForStarted(kServerWaitMs)) {
        m_error = QStringLiteral("not started: ") + m_process.errorString();
        return;
    }
    m_pid = m_process.processId();
    const QDeadlineTimer deadline(kServerWaitMs);
    while (!m_process.canReadLine() && !deadline.hasExpired() && m_process.state() == QProcess::Running)
        m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    m_readyLine = m_process.readLine().trimmed();
    static const QRegularExpression line(QStringLiteral("^http=127\\.0\\.0\\.1:(\\d+) ftp=127\\.0\\.0\\.1:(\\d+)$"));
    const QRegularExpressionMatch match = line.match(QString::fromLatin1(m_readyLine));
    if (!match.hasMatch()) {
        m_error = QStringLiteral("no ready line (got \"%1\"); log:\n%2").arg(QString::fromLatin1(m_readyLine), log());
        return;
    }
    m_httpPort = quint16(match.captured(1).toUInt());
    m_ftpPort = quint16(match.captured(2).toUInt());
}

ServerProcess::~ServerProcess()
{
    if (running()) stop();
    if (running()) killHard();
}

QByteArray ServerProcess::url(const QByteArray& path) const
{
    return "http://127.0.0.1:" + QByteArray::number(m_httpPort) + path;
}

QByteArray ServerProcess::ftpUrl(const QByteArray& path) const
{
    return "ftp://127.0.0.1:" + QByteArray::number(m_ftpPort) + path;
}

QString ServerProcess::log() const
{
    QFile file(m_logPath);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

int ServerProcess::stop()
{
    if (!running()) return m_process.exitCode();
    ::kill(pid_t(m_pid), SIGTERM);
    return waitForExit();
}

void ServerProcess::killHard()
{
    if (!running()) return;
    ::kill(pid_t(m_pid), SIGKILL);
    m_process.waitForFinished(kServerWaitMs);
}

int ServerProcess::waitForExit(int ms)
{
    if (running() && !m_process.waitForFinished(ms)) return -1;
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

QList<qint64> ProcessesMentioning(const QString& text)
{
    QList<qint64> found;
    const QByteArray needle = text.toUtf8();
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number || pid == ::getpid()) continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly)) continue;
        const QByteArray state = stat.readAll();
        const qsizetype close = state.lastIndexOf(')');
        if (close > 0 && state.mid(close + 2, 1) == "Z") continue; // ended, not yet reaped
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!cmdline.open(QIODevice::ReadOnly)) continue;
        QByteArray line = cmdline.readAll();
        line.replace('\0', ' ');
        if (line.contains(needle)) found.append(pid);
    }
    return found;
}

bool WaitUntilGone(const QString& text, int ms)
{
    return QTest::qWaitFor([&] { return ProcessesMentioning(text).isEmpty(); }, ms);
}

HttpAnswer Get(const QByteArray& url)
{
    net::ClientOptions options;
    options.userAgent = "signetrix-server-test";
    options.protocols = "http";
    options.connectTimeoutMs = 5000;
    options.totalTimeoutMs = kServerWaitMs;
    const net::MemoryResult result = net::GetIntoMemory(url, options, 64 * 1024 * 1024);
    HttpAnswer answer;
    answer.status = result.transfer.responseCode;
    answer.body = result.body;
    answer.contentType = result.transfer.contentType;
    if (!result.transfer.ok()) answer.error = result.transfer.errorText;
    return answer;
}

HttpAnswer Post(const QByteArray& url, const QByteArray& body, const QByteArray& contentType)
{
    QNetworkAccessManager manager;
    QNetworkRequest request(QUrl::fromEncoded(url));
    request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
    request.setTransferTimeout(kServerWaitMs);
    QNetworkReply* reply = manager.post(request, body);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(kServerWaitMs, &loop, &QEventLoop::quit);
    if (!reply->isFinished()) loop.exec();
    HttpAnswer answer;
    if (reply->isFinished()) {
        answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        answer.body = reply->readAll();
        answer.contentType = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
        if (answer.status == 0) answer.error = reply->errorString().toUtf8();
    } else {
        answer.error = "no answer in time";
        reply->abort();
    }
    delete reply;
    return answer;
}

HttpAnswer PostForm(const QByteArray& url, const FormFields& fields)
{
    QByteArray body;
    for (const auto& field : fields) {
        if (!body.isEmpty()) body += '&';
        body += QUrl::toPercentEncoding(field.first) + '=' + QUrl::toPercentEncoding(field.second);
    }
    return Post(url, body, "application/x-www-form-urlencoded");
}

HttpAnswer RawRequest(quint16 port, const QByteArray& request)
{
    HttpAnswer answer;
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForConnected(kServerWaitMs)) {
        answer.error = "no connection";
        return answer;
    }
    socket.write(request);
    socket.waitForBytesWritten(kServerWaitMs);
    const bool head = request.startsWith("HEAD ");
    QByteArray received;
    qsizetype headerEnd = -1;
    qint64 length = -1;
    const QDeadlineTimer deadline(kServerWaitMs);
    for (;;) {
        if (headerEnd < 0 && (headerEnd = received.indexOf("\r\n\r\n")) >= 0) {
            static const QRegularExpression contentLength(QStringLiteral("(?im)^content-length:\\s*(\\d+)\\s*$"));
            const QRegularExpressionMatch match =
                contentLength.match(QString::fromLatin1(received.left(headerEnd + 2)));
            if (match.hasMatch()) length = match.captured(1).toLongLong();
        }
        // A HEAD answer announces a length it does not send.
        if (headerEnd >= 0 && (head || (length >= 0 && received.size() - headerEnd - 4 >= length))) break;
        if (socket.state() != QAbstractSocket::ConnectedState || deadline.hasExpired()) break;
        if (socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())))) received += socket.readAll();
    }
    received += socket.readAll();
    if (!received.startsWith("HTTP/1.")) {
        answer.error = received.isEmpty() ? "closed without an answer" : "not HTTP: " + received.left(80);
        return answer;
    }
    answer.status = received.mid(9, 3).toInt();
    if (headerEnd >= 0) answer.body = received.mid(headerEnd + 4);
    return answer;
}

QString BodyText(const QByteArray& html)
{
    QString text = QString::fromUtf8(html);
    const qsizetype open = text.indexOf(QRegularExpression(QStringLiteral("<body[^>]*>"), QRegularExpression::CaseInsensitiveOption));
    if (open >= 0) text = text.mid(text.indexOf(QLatin1Char('>'), open) + 1);
    const qsizetype close = text.indexOf(QLatin1String("</body>"), 0, Qt::CaseInsensitive);
    if (close >= 0) text = text.left(close);
    text.remove(QRegularExpression(QStringLiteral("<(script|style)[^>]*>.*?</\\1>"),
                                   QRegularExpression::DotMatchesEverythingOption));
    text.replace(QRegularExpression(QStringLiteral("<[^>]*>")), QStringLiteral(" "));
    text.replace(QLatin1String("&lt;"), QLatin1String("<"))
        .replace(QLatin1String("&gt;"), QLatin1String(">"))
        .replace(QLatin1String("&quot;"), QLatin1String("\""))
        .replace(QLatin1String("&#39;"), QLatin1String("'"))
        .replace(QLatin1String("&nbsp;"), QLatin1String(" "))
        .replace(QLatin1String("&amp;"), QLatin1String("&"));
    return text.simplified();
}

QStringList OutboxMails(const QString& dataFolder)
{
    QStringList mails;
    const QDir outbox(dataFolder + QStringLiteral("/outbox"));
    for (const QString& name : outbox.entryList({QStringLiteral("*.eml")}, QDir::Files, QDir::Name)) {
        QFile file(outbox.filePath(name));
        if (file.open(QIODevice::ReadOnly)) mails.append(QString::fromUtf8(file.readAll()));
    }
    return mails;
}

QByteArray ConfirmationLink(const QString& mail)
{
    static const QRegularExpression link(QStringLiteral("^(http://\\S+/download/confirmation\\?jeton=[0-9a-f]{64})\\r?$"),
                                         QRegularExpression::MultilineOption);
    return link.match(mail).captured(1).toLatin1();
}

QByteArray MakeZip(const QList<QPair<QByteArray, QByteArray>>& files)
{
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("archive.zip")));
    int code = 0;
    zip_t* archive = zip_open(path.constData(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!archive) return QByteArray();
    for (const auto& file : files) {
        zip_source_t* source = zip_source_buffer(archive, file.second.constData(), zip_uint64_t(file.second.size()), 0);
        if (!source || zip_file_add(archive, file.first.constData(), source, ZIP_FL_ENC_UTF_8) < 0) {
            zip_source_free(source);
            zip_discard(archive);
            return QByteArray();
        }
    }
    if (zip_close(archive) != 0) {
        zip_discard(archive);
        return QByteArray();
    }
    QFile result(QFile::decodeName(path));
    return result.open(QIODevice::ReadOnly) ? result.readAll() : QByteArray();
}

QByteArray PseudoRandomBytes(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 state = seed * 2654435761u + 1;
    for (qsizetype i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = char(state >> 24);
    }
    return bytes;
}

int RunProgram(const QString& program, const QStringList& arguments, QByteArray* output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForStarted(kServerWaitMs)) return -1;
    if (!process.waitForFinished(kServerWaitMs)) {
        process.kill();
        process.waitForFinished(kServerWaitMs);
        return -1;
    }
    if (output) *output = process.readAll();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

} // namespace signetrix::test
