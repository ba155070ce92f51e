#pragma once
// The save dialog of the running program: a real Qt file dialog, installed by
// main() through platform::setSaveFileNameDialog.
#include <QString>

namespace signetrix {

// A name typed without an extension gets the first extension of the filter
// chosen in the dialog; the dialog itself asks before replacing a file.
QString askSaveFileNameWithQt(const QString& caption, const QString& suggestedPath, const QString& filter);

} // namespace signetrix
