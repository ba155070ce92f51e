#pragma once
// The one place where the window's long operations on the user-interface
// thread let Qt work: pending events (paints, timers, a worker's reports) run
// here, and the fixed pauses of a run are taken only once the window shows its
// final state, so the user reads that state during the pause rather than a
// page left half painted.
#include <functional>

class QWidget;

namespace signetrix {

// Runs the events waiting in the queue once, then returns.
void pumpEvents();

// Paints window (and its children) with everything changed so far, then blocks
// the user-interface thread for the pause (the platform clock's, which tests
// replace).
void paintThenPause(QWidget* window, int milliseconds);

} // namespace signetrix
