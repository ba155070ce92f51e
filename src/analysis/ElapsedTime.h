#pragma once
// The "Temps écoulé :" text of a running analysis: hours, minutes and seconds
// of the elapsed time of day, each left out when 0 ("1 h 2 min 3 sec",
// "2 min ", "" in the first second). Runs past 24 hours show the hours modulo 24.
#include <QString>

namespace signetrix {

QString ElapsedTimeText(qint64 seconds);

} // namespace signetrix
