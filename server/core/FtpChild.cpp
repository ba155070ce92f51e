#include "core/FtpChild.h"

#include "core/Log.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QRegularExpression>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace signetrix::server {

FtpChild::FtpChild(FtpChildConfig config, QObject* parent) : QObject(parent), m_config(std::move(config))
{
    // Its log lines join ours; only its report line is read.
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.setChildProcessModifier([] {
        // Runs in the child between fork and exec: it dies with us even when
        // our end of its input somehow stays open.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    });
    connect(&m_process, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        if (m_stopping) return;
        const QString why = status == QProcess::CrashExit ? QStringLiteral("the FTP server was killed")
                                                          : QStringLiteral("the FTP server exited with code %1").arg(code);
        emit unexpectedExit(why);
    });
}

FtpChild::~FtpChild()
{
    stop();
}

bool FtpChild::start(QString* error)
{
    if (!QFileInfo(m_config.script).isFile()) {
        *error = QStringLiteral("no FTP server script at %1").arg(m_config.script);
        return false;
    }
    m_process.start(m_config.python, {m_config.script, QStringLiteral("--listen"), m_config.listen,
                                      QStringLiteral("--user"), m_config.user, QStringLiteral("--password"),
                                      m_config.password, QStringLiteral("--root"), m_config.root,
                                      QStringLiteral("--folder"), m_config.folder});
    if (!m_process.waitForStarted(m_config.startTimeoutMs)) {
        *error = QStringLiteral("cannot start %1: %2").arg(m_config.python, m_process.errorString());
        return false;
    }
    static const QRegularExpression report(QStringLiteral("^ftp=(\\S+:\\d+)$"));
    const QDeadlineTimer deadline(m_config.startTimeoutMs);
    while (!m_process.canReadLine()) {
        if (m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())))) continue;
        if (m_process.canReadLine()) break;
        if (m_process.state() != QProcess::Running) {
            *error = QStringLiteral("the FTP server ended before listening (exit code %1)").arg(m_process.exitCode());
            return false;
        }
        if (deadline.hasExpired()) {
            *error = QStringLiteral("the FTP server did not report its address in time");
            stop(1000);
            return false;
        }
    }
    const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
    const QRegularExpressionMatch match = report.match(line);
    if (!match.hasMatch()) {
        *error = QStringLiteral("unexpected report from the FTP server: %1").arg(line.left(200));
        stop(1000);
        return false;
    }
    m_listen = match.captured(1);
    // Further output is not ours to read, but must not fill the pipe.
    connect(&m_process, &QProcess::readyReadStandardOutput, this, [this] {
        const QByteArray extra = m_process.readAllStandardOutput().trimmed();
        if (!extra.isEmpty()) LogLine(QStringLiteral("ftp: %1").arg(QString::fromUtf8(extra)));
    });
    return true;
}

void FtpChild::stop(int graceMs)
{
    if (m_process.state() == QProcess::NotRunning) return;
    m_stopping = true;
    m_process.closeWriteChannel();
    if (m_process.waitForFinished(graceMs)) return;
    m_process.terminate();
    if (m_process.waitForFinished(graceMs)) return;
    m_process.kill();
    m_process.waitForFinished(graceMs);
}

} // namespace signetrix::server
