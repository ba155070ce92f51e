#include "core/Mail.h"

#include "core/TempFiles.h"

#include <QDir>
#include <QLocale>
#include <QRegularExpression>

#include <sodium.h>

namespace signetrix::server {
namespace {

QByteArray RandomHex(int bytes)
{
    QByteArray raw(bytes, Qt::Uninitialized);
    randombytes_buf(raw.data(), size_t(raw.size()));
    return raw.toHex();
}

// Headers are ASCII; anything else goes in an RFC 2047 encoded word.
QByteArray HeaderText(const QString& text)
{
    bool ascii = true;
    for (QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() > 0x7E) ascii = false;
    if (ascii) return text.toLatin1();
    return "=?UTF-8?B?" + text.toUtf8().toBase64() + "?=";
}

QByteArray MailboxHeader(const QString& mailbox)
{
    static const QRegularExpression named(QStringLiteral("^(.*\\S)\\s*<([^<>]+)>$"));
    const QRegularExpressionMatch match = named.match(mailbox.trimmed());
    if (!match.hasMatch()) return mailbox.trimmed().toLatin1();
    return HeaderText(match.captured(1)) + " <" + match.captured(2).toLatin1() + ">";
}

} // namespace

QString MailboxAddress(const QString& mailbox)
{
    static const QRegularExpression angle(QStringLiteral("<([^<>]+)>"));
    const QRegularExpressionMatch match = angle.match(mailbox);
    return match.hasMatch() ? match.captured(1).trimmed() : mailbox.trimmed();
}

QByteArray ComposeMessage(const MailMessage& message, const QDateTime& date, const QString& domain)
{
    // The day and month names of RFC 5322 are English whatever the locale.
    const int offset = date.offsetFromUtc() / 60;
    const QString when = QLocale::c().toString(date, QStringLiteral("ddd, dd MMM yyyy hh:mm:ss ")) +
                         QString::asprintf("%c%02d%02d", offset < 0 ? '-' : '+', qAbs(offset) / 60, qAbs(offset) % 60);
    QByteArray out;
    out += "From: " + MailboxHeader(message.from) + "\r\n";
    out += "To: " + message.to.toLatin1() + "\r\n";
    out += "Subject: " + HeaderText(message.subject) + "\r\n";
    out += "Date: " + when.toLatin1() + "\r\n";
    out += "Message-ID: <" + RandomHex(16) + "@" + domain.toLatin1() + ">\r\n";
    out += "MIME-Version: 1.0\r\n";
    out += "Content-Type: text/plain; charset=utf-8\r\n";
    out += "Content-Transfer-Encoding: 8bit\r\n";
    out += "\r\n";
    QString body = message.body;
    body.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    for (const QString& line : body.split(QLatin1Char('\n'))) out += line.toUtf8() + "\r\n";
    return out;
}

OutboxMailer::OutboxMailer(QString folder, QString domain) : m_folder(std::move(folder)), m_domain(std::move(domain)) {}

bool OutboxMailer::send(const MailMessage& message, QString* error)
{
    if (!QDir().mkpath(m_folder)) {
        if (error) *error = QStringLiteral("cannot create %1").arg(m_folder);
        return false;
    }
    const QDateTime now = QDateTime::currentDateTime();
    // Names sort in the order the mails were written (time to the
    // millisecond, then a counter); the random part keeps two servers apart.
    static quint32 serial = 0;
    const QString name = now.toUTC().toString(QStringLiteral("yyyyMMdd'T'hhmmss.zzz'Z'-")) +
                         QStringLiteral("%1-").arg(++serial % 1000000, 6, 10, QLatin1Char('0')) +
                         QString::fromLatin1(RandomHex(4)) + QStringLiteral(".eml");
    return WriteFileAtomically(QDir(m_folder).filePath(name), ComposeMessage(message, now, m_domain), error, 0600);
}

} // namespace signetrix::server
