#include "platform/desktop/ShellOpen.h"

#include <QDesktopServices>
#include <QUrl>

namespace signetrix::platform {

namespace {

void desktopOpen(const QString& address)
{
    QDesktopServices::openUrl(QUrl::fromUserInput(address));
}

ShellOpener& opener()
{
    static ShellOpener current = desktopOpen;
    return current;
}

} // namespace

void shellOpen(const QString& address)
{
    opener()(address);
}

ShellOpener setShellOpenerForTesting(ShellOpener replacement)
{
    ShellOpener previous = opener();
    opener() = replacement ? std::move(replacement) : ShellOpener(desktopOpen);
    return previous;
}

} // namespace signetrix::platform
