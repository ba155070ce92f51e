#pragma once
// The program's save dialog behind one seam, as the message boxes are: the
// window side installs the real dialog, tests install one that answers from a
// script, so no test waits on a dialog.
#include <QString>

#include <functional>

namespace signetrix::platform {

// Asks where to save: the full path chosen, or empty when the user cancelled.
// filter is a Qt name filter list ("CSV (*.csv);;HTML (*.html *.htm)").
using SaveFileNameDialog =
    std::function<QString(const QString& caption, const QString& suggestedPath, const QString& filter)>;

// Without an installed dialog every question is answered as cancelled: the
// answer that writes nothing.
QString askSaveFileName(const QString& caption, const QString& suggestedPath, const QString& filter);

// Installs a dialog; an empty one restores the fallback. Returns the previous one.
SaveFileNameDialog setSaveFileNameDialog(SaveFileNameDialog dialog);

} // namespace signetrix::platform
