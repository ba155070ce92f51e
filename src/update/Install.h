#pragma once
// The executable swap of the self-update: the running executable renamed to
// ".old" (an older ".old" deleted first), every file directly in the unpack
// folder copied beside it through the copy component (each copy written to a
// temporary name and renamed into place, keeping the last-write time and the
// permission bits), then a check that a runnable executable stands at the
// running executable's path. When none does, the ".old" file is renamed
// back, so the user is never left without a program.
//
// Runs on the calling thread; `pump` is called between the steps so a window
// stays serviced. Nothing here starts or ends a program.
#include <QString>
#include <QStringList>

#include <functional>

namespace signetrix {
class TFileOperation;
}

namespace signetrix::update {

// The running executable's path with its extension replaced by ".old" (added
// when it has none).
QString OldExecutablePath(const QString& runningExecutable);

struct InstallResult {
    QStringList copyErrors; // the copy component's texts for the failed copies
    bool rolledBack = false; // the new executable was not usable: the previous one is back
    bool executableReady = false; // a runnable executable is at the running path
};

// unpackFolder ends with "/"; the copies go to the running executable's folder.
InstallResult SwapExecutable(const QString& runningExecutable, const QString& unpackFolder, TFileOperation& copy,
                             const std::function<void()>& pump = {});

} // namespace signetrix::update
