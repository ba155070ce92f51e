#pragma once
// The HTML the web side sends: the registration page (its first and only
// form posts the six fields to the form target), the answer pages of the
// form and the confirmation link, and the default banner. Everything a user
// or a request supplied is escaped. Built from the templates in pages/;
// nothing here fails.
#include "core/Registration.h"

#include <QByteArray>
#include <QString>

namespace signetrix::server {

QString HtmlEscape(const QString& text);

QByteArray RegistrationPage(const QString& formAction);
// An answer: a bare one is a page whose body text is the answer's text alone.
QByteArray AnswerPage(const Answer& answer, const QString& backLink);
QByteArray DefaultBannerPage();

} // namespace signetrix::server
