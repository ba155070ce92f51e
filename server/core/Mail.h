#pragma once
// The confirmation mail: an RFC 5322 message (plain UTF-8 text, the link on
// a line of its own) and the ways it leaves the server. OutboxMailer writes
// each message as a file into a folder (renamed into place when whole);
// SmtpMailer (Smtp.cpp) hands it to an SMTP server in the background.
// A mailer that cannot take a message says so with false and a text.
#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace signetrix::server {

struct MailMessage {
    QString from; // "Name <address>" or an address
    QString to;   // an address checked by the caller (no line breaks)
    QString subject;
    QString body; // lines separated by "\n"
};

// The message as sent: CRLF line ends, headers From, To, Subject, Date,
// Message-ID (at domain), MIME-Version and a UTF-8 text/plain body.
QByteArray ComposeMessage(const MailMessage& message, const QDateTime& date, const QString& domain);

// The bare address of "Name <address>".
QString MailboxAddress(const QString& mailbox);

class Mailer {
public:
    virtual ~Mailer() = default;
    virtual bool send(const MailMessage& message, QString* error) = 0;
};

class OutboxMailer : public Mailer {
public:
    OutboxMailer(QString folder, QString domain);
    bool send(const MailMessage& message, QString* error) override;

private:
    QString m_folder;
    QString m_domain;
};

} // namespace signetrix::server
