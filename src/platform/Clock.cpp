#include "platform/Clock.h"

#include <chrono>
#include <thread>
#include <utility>

namespace signetrix::platform {
namespace {

std::function<QDateTime()>& clockSeam()
{
    static std::function<QDateTime()> clock;
    return clock;
}

std::function<void(int)>& pauseSeam()
{
    static std::function<void(int)> pause;
    return pause;
}

} // namespace

QDateTime now() { return clockSeam() ? clockSeam()() : QDateTime::currentDateTime(); }

void pause(int milliseconds)
{
    if (pauseSeam()) pauseSeam()(milliseconds);
    else if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void setClockForTesting(std::function<QDateTime()> clock) { clockSeam() = std::move(clock); }
void setPauseForTesting(std::function<void(int)> pause) { pauseSeam() = std::move(pause); }

} // namespace signetrix::platform
