#pragma once
// Waiting for a condition inside a real event loop. The browser's document
// queries, when made from a signal handler, pump a nested loop that the web
// engine only serves under an exec()-style outer loop; a processEvents()
// loop such as QTest::qWaitFor's starves it. Tests whose handlers query the
// document wait with this instead.
#include <QEventLoop>
#include <QTimer>

#include <functional>

namespace signetrix::test {

inline bool waitInEventLoop(const std::function<bool()>& done, int timeoutMs)
{
    if (done()) return true;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done()) loop.quit();
    });
    poll.start(10);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

} // namespace signetrix::test
