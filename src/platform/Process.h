#pragma once
// Starting another program on its own and ending this one, for the update's
// restart. The started program outlives this one and keeps no tie to it (no
// shared standard streams, not a child that a shell would wait for).
#include <QString>
#include <QStringList>

#include <functional>

namespace signetrix::platform {

struct DetachedStart {
    QString program;
    QStringList arguments;
    QString workingFolder; // empty: this program's current folder
};

// False when the program could not be started (missing, not executable).
bool startDetached(const DetachedStart& start);

// Asks every running event loop to end with code 0, from the event loop
// itself, so the window's usual closing steps run; returns at once.
void endProgram();

// Tests record the starts instead of launching; an empty function restores
// the real start. Returns the previous one.
using DetachedStarter = std::function<bool(const DetachedStart&)>;
DetachedStarter setDetachedStarterForTesting(DetachedStarter starter);

} // namespace signetrix::platform
