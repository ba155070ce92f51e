#pragma once
// The program's wall clock and its fixed pauses, behind one seam: tests give
// the time they need and record the pauses instead of waiting them out.
#include <QDateTime>

#include <functional>

namespace signetrix::platform {

QDateTime now();
// Blocks the calling thread for the given time.
void pause(int milliseconds);

// An empty function restores the system's clock or the real wait.
void setClockForTesting(std::function<QDateTime()> clock);
void setPauseForTesting(std::function<void(int milliseconds)> pause);

} // namespace signetrix::platform
