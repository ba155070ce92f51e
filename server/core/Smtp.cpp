#include "core/Smtp.h"

#include "core/Log.h"

#include <curl/curl.h>

#include <cstring>
#include <mutex>

namespace signetrix::server {
namespace {

struct Upload {
    QByteArray bytes;
    qsizetype done = 0;
};

size_t ReadUpload(char* buffer, size_t size, size_t count, void* user)
{
    auto* upload = static_cast<Upload*>(user);
    const size_t n = qMin(size * count, size_t(upload->bytes.size() - upload->done));
    std::memcpy(buffer, upload->bytes.constData() + upload->done, n);
    upload->done += qsizetype(n);
    return n;
}

// Runs on the pool's thread; the message is a copy.
void Deliver(const QString& url, const MailMessage& message, const QByteArray& composed)
{
    CURL* curl = curl_easy_init();
    if (!curl) {
        LogLine(QStringLiteral("mail to %1 not sent: no SMTP client").arg(message.to));
        return;
    }
    Upload upload{composed};
    const QByteArray address = url.toUtf8();
    const QByteArray from = "<" + MailboxAddress(message.from).toUtf8() + ">";
    const QByteArray to = "<" + message.to.toUtf8() + ">";
    curl_slist* recipients = curl_slist_append(nullptr, to.constData());
    char error[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_URL, address.constData());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    curl_easy_setopt(curl, CURLOPT_MAIL_FROM, from.constData());
    curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, recipients);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadUpload);
    curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, curl_off_t(composed.size()));
    // STARTTLS when the server offers it; smtps:// is TLS from the start.
    curl_easy_setopt(curl, CURLOPT_USE_SSL, long(CURLUSESSL_TRY));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, 10000L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 60000L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
    const CURLcode code = curl_easy_perform(curl);
    if (code == CURLE_OK)
        LogLine(QStringLiteral("mail to %1 handed to the SMTP server").arg(message.to));
    else
        LogLine(QStringLiteral("mail to %1 not sent: %2")
                    .arg(message.to, QString::fromUtf8(error[0] ? error : curl_easy_strerror(code))));
    curl_slist_free_all(recipients);
    curl_easy_cleanup(curl);
}

} // namespace

SmtpMailer::SmtpMailer(QString url, QString domain) : m_url(std::move(url)), m_domain(std::move(domain))
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    m_pool.setMaxThreadCount(1);
}

SmtpMailer::~SmtpMailer()
{
    m_pool.waitForDone(15000);
}

bool SmtpMailer::send(const MailMessage& message, QString* error)
{
    const QByteArray composed = ComposeMessage(message, QDateTime::currentDateTime(), m_domain);
    const QString url = m_url;
    m_pool.start([url, message, composed] { Deliver(url, message, composed); });
    return true;
}

} // namespace signetrix::server
