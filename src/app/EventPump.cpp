#include "app/EventPump.h"

#include "platform/Clock.h"

#include <QCoreApplication>
#include <QWidget>

namespace signetrix {

void pumpEvents() { QCoreApplication::processEvents(); }

void paintThenPause(QWidget* window, int milliseconds)
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
    platform::pause(milliseconds);
}

} // namespace signetrix
