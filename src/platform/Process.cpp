#include "platform/Process.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QProcess>

namespace signetrix::platform {

namespace {

bool realStart(const DetachedStart& start)
{
    QProcess process;
    process.setProgram(start.program);
    process.setArguments(start.arguments);
    if (!start.workingFolder.isEmpty()) process.setWorkingDirectory(start.workingFolder);
    // The new program must not write into streams that end with this one.
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    return process.startDetached();
}

DetachedStarter& starter()
{
    static DetachedStarter current = realStart;
    return current;
}

} // namespace

bool startDetached(const DetachedStart& start)
{
    return starter()(start);
}

void endProgram()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    QMetaObject::invokeMethod(app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

DetachedStarter setDetachedStarterForTesting(DetachedStarter replacement)
{
    DetachedStarter previous = starter();
    starter() = replacement ? std::move(replacement) : DetachedStarter(realStart);
    return previous;
}

} // namespace signetrix::platform
