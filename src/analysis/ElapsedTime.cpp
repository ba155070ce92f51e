#include "analysis/ElapsedTime.h"

namespace signetrix {

QString ElapsedTimeText(qint64 seconds)
{
    if (seconds < 0) seconds = 0; // a clock set back shows nothing rather than garbage
    const qint64 ofDay = seconds % 86400;
    const qint64 h = ofDay / 3600, m = ofDay / 60 % 60, s = ofDay % 60;
    QString text;
    if (h > 0) text += QString::number(h) + QStringLiteral(" h ");
    if (m > 0) text += QString::number(m) + QStringLiteral(" min ");
    if (s > 0) text += QString::number(s) + QStringLiteral(" sec");
    return text;
}

} // namespace signetrix
