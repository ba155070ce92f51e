#pragma once
// Where the program keeps its own files (settings, log, archive, temp): next to
// the running executable. Tests move "the executable" into a temporary folder
// through the seam below instead of touching the build tree.
#include <QString>

namespace signetrix::platform {

QString executablePath();          // full path of the running executable
QString executableFolder();        // its folder, always ending with '/'
void setExecutablePathForTesting(const QString& path); // empty restores the real one

// The executable's path with its last three characters replaced by "log" when
// its name ends with a three-letter extension ("prog.EXE" -> "prog.log"), else
// with ".log" appended ("Signetrix" -> "Signetrix.log").
QString logFilePathFor(const QString& executable);
QString logFilePath();

QString settingsFilePath();        // executableFolder() + "Signetrix.ini"

// The user's Favorites folder: "Favorites" in the home folder, or empty when
// there is none.
QString favoritesFolder();
// Where that folder is or would be, whether it exists or not.
QString favoritesFolderPath();

} // namespace signetrix::platform
