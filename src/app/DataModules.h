#pragma once
// The program's two data modules: plain owner objects, created before the main
// window and living until the program ends. dmCommon holds the shared message
// tables and the settings store; ReVuvidizEdevav holds the credits table of
// the about box.
#include "settings/IniStore.h"

#include <QObject>
#include <QStringList>

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
};

} // namespace signetrix
