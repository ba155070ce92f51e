#pragma once
// The program's two data modules: plain owner objects, created before the main
// window and living until the program ends. dmCommon holds the shared message
// tables and the settings store; ReVuvidizEdevav holds the credits table of
// the about box and the FTP connection and folder synchronisation components,
// which only hold settings: nothing in the program connects or synchronises.
#include "settings/IniStore.h"

#include <QObject>
#include <QStringList>

namespace signetrix::backup {
class TKelFTPConnexion;
class TKelSynchroFolder;
} // namespace signetrix::backup

namespace signetrix {

// An ordered string table read by row number, counted from 0.
using TJvgStringContainer = QStringList;

class TdmCommon : public QObject {
    Q_OBJECT

public:
    explicit TdmCommon(QObject* parent = nullptr);

    IniStore OvcIniFileStore;                          // "Signetrix.ini" next to the executable
    TJvgStringContainer JvgStringContainer;            // backup and restore status texts (rows 3 to 9)
    TJvgStringContainer JvgStringContainerDeleteEmptyFolders;
};

class TReVuvidizEdevav : public QObject {
    Q_OBJECT

public:
    explicit TReVuvidizEdevav(QObject* parent = nullptr);

    // Lines of the about box's credits; "##year##" stands for the current year.
    TJvgStringContainer JvgStringContainerCredits;

    // Owned (children), with every property as at creation.
    backup::TKelFTPConnexion* KelFTPConnexion;
    backup::TKelSynchroFolder* KelSynchroFolder;
};

} // namespace signetrix
