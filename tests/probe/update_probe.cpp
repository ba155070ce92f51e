// A build of the real window for the self-update's end-to-end test. Started
// where it finds no ".old" beside itself, it clicks the update button with
// every message box answered, and runs until the update ends it. Started
// again by that update (an ".old" is now there), it writes its own file time
// into the file named by SIGNETRIX_PROBE_REPORT and ends: the test reads
// which executable the restart ran. SIGNETRIX_PROBE_HOST names the download host.
#include "app/DataModules.h"
#include "app/Form12.h"
#include "app/update/UpdateController.h"
#include "net/Hosts.h"
#include "platform/AppPaths.h"
#include "platform/MessageBoxes.h"
#include "update/Install.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

namespace {

class AnswerEverything : public signetrix::platform::MessageBoxService {
public:
    signetrix::platform::MessageAnswer show(signetrix::platform::MessageKind, const QString&, const QString& text,
                                            signetrix::platform::MessageButtons) override
    {
        fprintf(stderr, "probe: %s\n", text.toUtf8().constData());
        return signetrix::platform::MessageAnswer::Ok;
    }
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QString self = signetrix::platform::executablePath();
    if (QFileInfo::exists(signetrix::update::OldExecutablePath(self))) {
        QFile report(qEnvironmentVariable("SIGNETRIX_PROBE_REPORT"));
        if (!report.open(QIODevice::WriteOnly)) return 2;
        report.write(QByteArray::number(QFileInfo(self).lastModified().toSecsSinceEpoch()));
        return 0;
    }
    signetrix::net::SetDownloadHostForTesting(qEnvironmentVariable("SIGNETRIX_PROBE_HOST"));
    AnswerEverything boxes;
    signetrix::platform::setMessageBoxService(&boxes);
    signetrix::TdmCommon common;
    signetrix::TReVuvidizEdevav program;
    signetrix::TForm12 form(common, program);
    QTimer::singleShot(0, &form, [&] { form.updateController()->Button8Click(); });
    // A failed update does not end the program: give up after a while.
    QTimer::singleShot(120000, &app, [] { QCoreApplication::exit(3); });
    return app.exec();
}
