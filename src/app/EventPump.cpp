#include "app/EventPump.h"

#include <QCoreApplication>
#include <QThread>
#include <QWidget>

namespace signetrix {

void pumpEvents() { QCoreApplication::processEvents(); }

void paintThenPause(QWidget* window, int milliseconds, const Pause& testHook)
{
    // Show, hide and move events of the last changes first: they decide what
    // the paint covers.
    pumpEvents();
    if (window) {
        // Qt turns a repaint that follows the previous frame too closely into
        // a posted request; the second pump delivers it.
        window->repaint();
        pumpEvents();
    }
    if (testHook) testHook(milliseconds);
    else QThread::msleep(static_cast<unsigned long>(milliseconds));
}

} // namespace signetrix
