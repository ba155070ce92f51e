#pragma once
// The four help tables behind the help buttons of the Actions settings page,
// with the pop-up title that goes with each.
#include <QString>
#include <QStringList>

namespace signetrix::dialogs {

enum class HelpTable {
    CodesError3XX,    // button btnpHelp3XX
    CodesError4XX,    // button btnpHelp4XX
    CodesError5XX,    // button btnpHelp5XX
    CodesErrorFiles,  // button btnpHelpErrorFile
};

// The rows of the table, in order, including its trailing empty rows.
QStringList helpLines(HelpTable table);
// The pop-up title for the table ("Codes erreurs 3XX", ...).
QString helpTitle(HelpTable table);
// The pop-up text: every row followed by a line break.
QString helpText(HelpTable table);

} // namespace signetrix::dialogs
