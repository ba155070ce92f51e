#pragma once
// The program's log file next to the executable. One dated line per entry,
// appended and closed at once; an empty tag writes a separator line. Writing
// never fails towards the caller: an entry that cannot be written is lost.
#include <QByteArray>
#include <QDateTime>

namespace signetrix {

void WriteLog(const QByteArray& tag, const QByteArray& text) noexcept;

// The line WriteLog writes (without its CR LF), for a given moment.
QByteArray FormatLogLine(const QByteArray& tag, const QByteArray& text, const QDateTime& now);

} // namespace signetrix
