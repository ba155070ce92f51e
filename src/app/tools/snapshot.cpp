// Renders every page of the main window, and the dialogs, to PNG files so the
// interface can be looked at without a display:
//
//     signetrix_snapshot <folder>
//
// Runs offscreen unless a platform is chosen. The window runs its real
// start-up (the Favorites count is the user's own), but on a throw-away
// program folder, so no settings file is written anywhere.
#include "app/DataModules.h"
#include "app/Form12.h"
#include "app/dialogs/HelpTexts.h"
#include "app/dialogs/UKelAbout.h"
#include "app/dialogs/UWait.h"
#include "app/dialogs/UTemplateHint.h"
#include "app/widgets/PageControl.h"
#include "platform/AppPaths.h"
#include "platform/MessageBoxes.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cstdio>

namespace {

bool save(QWidget& widget, const QDir& folder, const QString& name)
{
    QApplication::processEvents();
    const QString path = folder.filePath(name + QStringLiteral(".png"));
    if (!widget.grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

// Shows one page of a page control, with its tab, as the user would see it.
void showPage(QTabWidget* tabs, QWidget* page)
{
    if (auto* pages = qobject_cast<signetrix::PageControl*>(tabs)) {
        pages->setPageTabVisible(page, true);
        pages->setActivePage(page);
    } else {
        tabs->setTabVisible(tabs->indexOf(page), true);
        tabs->setCurrentWidget(page);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX")) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);

    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(folder.path())) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    QTemporaryDir programFolder;
    signetrix::platform::setExecutablePathForTesting(programFolder.filePath(QStringLiteral("Signetrix")));

    signetrix::TdmCommon dmCommon;
    signetrix::TReVuvidizEdevav program;
    signetrix::TForm12 form(dmCommon, program);
    form.setAboutBoxRunner([&](QWidget*, const QString&) {});
    form.show();

    bool ok = true;
    QTabWidget* pages = form.PageControl1();
    for (int i = 0; i < pages->count(); ++i) {
        QWidget* page = pages->widget(i);
        const QString prefix = QStringLiteral("%1-%2").arg(i + 1, 2, 10, QLatin1Char('0')).arg(page->objectName());
        if (pages->isTabVisible(i) && page->objectName() != QLatin1String("tsAbout")) {
            // Entered as the user enters it, so the page shows its entry state.
            pages->setCurrentWidget(page);
        } else {
            showPage(pages, page);
        }
        ok &= save(form, folder, prefix);
        // Sub-pages of the settings and backup tabs, one picture each.
        if (auto* sub = page->findChild<QTabWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            for (int k = 0; k < sub->count(); ++k) {
                showPage(sub, sub->widget(k));
                ok &= save(form, folder, prefix + QLatin1Char('-') + sub->widget(k)->objectName());
            }
            showPage(sub, sub->widget(0));
        }
    }

    using signetrix::dialogs::HelpTable;
    const std::pair<HelpTable, const char*> helps[] = {
        {HelpTable::CodesError3XX, "help-3XX"},
        {HelpTable::CodesError4XX, "help-4XX"},
        {HelpTable::CodesError5XX, "help-5XX"},
        {HelpTable::CodesErrorFiles, "help-ErrorFile"},
    };
    for (const auto& [table, name] : helps) {
        signetrix::dialogs::TfrmTemplateHint hint(&form, signetrix::dialogs::helpText(table),
                                                  signetrix::dialogs::helpTitle(table), QPoint(40, 40));
        hint.show();
        ok &= save(hint, folder, QString::fromLatin1(name));
    }

    {
        auto* about = new signetrix::dialogs::TfrmAbout(&form); // deletes itself when closed
        about->setCredits(form.BuildCreditsText());
        about->show();
        ok &= save(*about, folder, QStringLiteral("about"));
        about->close();
    }
    {
        signetrix::dialogs::TfrmWait wait(&form);
        wait.ConnectProgress();
        wait.PourcentProgressData(40);
        wait.PourcentProgressTransfert(70);
        ok &= save(wait, folder, QStringLiteral("wait"));
        wait.close();
    }

    form.hide();
    return ok ? 0 : 1;
}
