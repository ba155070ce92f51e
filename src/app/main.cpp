// Program start: the data modules, then the main window, then the event loop
// until the window closes. The program takes no command-line options.
#include "app/DataModules.h"
#include "app/Form12.h"
#include "app/QtFileDialogs.h"
#include "app/QtMessageBoxes.h"
#include "app/Translations.h"
#include "platform/FileDialogs.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Signetrix"));
    signetrix::installQtTranslations();

    signetrix::QtMessageBoxes boxes;
    signetrix::platform::setMessageBoxService(&boxes);
    signetrix::platform::setSaveFileNameDialog(&signetrix::askSaveFileNameWithQt);

    int code = 0;
    {
        // The window saves the account settings as it goes, and may still
        // report a failure then: the boxes outlive it.
        signetrix::TdmCommon dmCommon;
        signetrix::TReVuvidizEdevav reVuvidizEdevav;
        signetrix::TForm12 form12(dmCommon, reVuvidizEdevav);
        form12.show();
        code = app.exec();
    }
    signetrix::platform::setMessageBoxService(nullptr);
    return code;
}
