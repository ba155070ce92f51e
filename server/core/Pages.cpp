#include "core/Pages.h"

#include <QFile>
#include <QStringList>

// Resources of a static library are registered by hand, once.
static void RegisterPageTemplates()
{
    Q_INIT_RESOURCE(pages);
}

namespace signetrix::server {
namespace {

QString Template(const QString& name)
{
    static const bool registered = (RegisterPageTemplates(), true);
    Q_UNUSED(registered);
    QFile file(QStringLiteral(":/pages/") + name);
    if (!file.open(QIODevice::ReadOnly)) qFatal("page template %s is missing from the build", qPrintable(name));
    return QString::fromUtf8(file.readAll());
}

} // namespace

QString HtmlEscape(const QString& text)
{
    return text.toHtmlEscaped().replace(QLatin1Char('\''), QLatin1String("&#39;"));
}

QByteArray RegistrationPage(const QString& formAction)
{
    static const QString page = Template(QStringLiteral("registration.html"));
    return QString(page).replace(QLatin1String("{{action}}"), HtmlEscape(formAction)).toUtf8();
}

QByteArray AnswerPage(const Answer& answer, const QString& backLink)
{
    if (answer.bare) {
        // Nothing but the text in the body: the program reads it as a number.
        return QStringLiteral("<!DOCTYPE html>\n<html lang=\"fr\"><head><meta charset=\"utf-8\"><title>%1</title>"
                              "</head><body>%2</body></html>\n")
            .arg(HtmlEscape(answer.title), HtmlEscape(answer.text))
            .toUtf8();
    }
    static const QString page = Template(QStringLiteral("answer.html"));
    QString content;
    for (const QString& paragraph : answer.text.split(QLatin1Char('\n')))
        content += QStringLiteral("<p>") + HtmlEscape(paragraph) + QStringLiteral("</p>\n");
    return QString(page)
        .replace(QLatin1String("{{title}}"), HtmlEscape(answer.title))
        .replace(QLatin1String("{{content}}"), content)
        .replace(QLatin1String("{{back}}"), HtmlEscape(backLink))
        .toUtf8();
}

QByteArray DefaultBannerPage()
{
    return Template(QStringLiteral("banner.html")).toUtf8();
}

} // namespace signetrix::server
