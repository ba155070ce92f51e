#pragma once
// Hands an address ("Mailto:..." or a web address) to the user's own program.
// A request the desktop cannot serve (no mail program, no browser) is dropped
// silently. Tests replace the opener so nothing is launched.
#include <QString>

#include <functional>

namespace signetrix::platform {

using ShellOpener = std::function<void(const QString& address)>;

void shellOpen(const QString& address);
// Installs an opener (an empty one restores the desktop's); returns the previous one.
ShellOpener setShellOpenerForTesting(ShellOpener opener);

} // namespace signetrix::platform
