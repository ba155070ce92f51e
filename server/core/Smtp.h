#pragma once
// Confirmation mails through an SMTP server (libcurl; "smtp://host:port",
// "smtps://...", credentials in the address). Sending happens on a thread of
// its own, one message after the other, so a slow mail server never holds up
// a web answer; send() only queues. A delivery that fails is written to the
// log with the recipient and the server's reason; it is not retried.
#include "core/Mail.h"

#include <QThreadPool>

namespace signetrix::server {

class SmtpMailer : public Mailer {
public:
    SmtpMailer(QString url, QString domain);
    ~SmtpMailer() override; // waits a little for queued mails
    bool send(const MailMessage& message, QString* error) override;

private:
    QString m_url;
    QString m_domain;
    QThreadPool m_pool;
};

} // namespace signetrix::server
