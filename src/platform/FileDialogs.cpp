#include "platform/FileDialogs.h"

#include <utility>

namespace signetrix::platform {
namespace {

SaveFileNameDialog& saveDialog()
{
    static SaveFileNameDialog dialog;
    return dialog;
}

} // namespace

QString askSaveFileName(const QString& caption, const QString& suggestedPath, const QString& filter)
{
    return saveDialog() ? saveDialog()(caption, suggestedPath, filter) : QString();
}

SaveFileNameDialog setSaveFileNameDialog(SaveFileNameDialog dialog) { return std::exchange(saveDialog(), std::move(dialog)); }

} // namespace signetrix::platform
