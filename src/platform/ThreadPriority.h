#pragma once
// Scheduling of the calling thread. Linux threads carry their own nice value,
// so a worker can run below (or, with the privilege, above) the window.

namespace signetrix::platform {

struct ThreadScheduling {
    int nice = 0;     // the nice value the thread has afterwards
    int policy = -1;  // its scheduling policy (SCHED_OTHER, ...)
};

// Adds increment to the calling thread's nice value, clamped to -20..19; a
// raise the system refuses is ignored. Returns what the thread then has.
ThreadScheduling adjustCurrentThreadNice(int increment);

} // namespace signetrix::platform
