#pragma once
// A real main window on a temporary executable folder and home folder, with
// scripted message boxes. The settings file and the Favorites tree are
// written by each test before the window starts.
#include "../support/TestSupport.h"

#include "app/DataModules.h"
#include "app/Form12.h"
#include "app/widgets/PageControl.h"

#include <QFile>
#include <QTabWidget>

#include <memory>

namespace signetrix::test {

class WindowFixture : public ::testing::Test {
protected:
    ExeFolderGuard exe;
    HomeGuard home;
    ScriptedMessageBoxes boxes;
    std::unique_ptr<TdmCommon> dm;
    std::unique_ptr<TReVuvidizEdevav> program;
    std::unique_ptr<TForm12> form;
    QStringList aboutCredits;

    void TearDown() override { stop(); }

    TForm12& start()
    {
        dm = std::make_unique<TdmCommon>();
        program = std::make_unique<TReVuvidizEdevav>();
        form = std::make_unique<TForm12>(*dm, *program);
        form->setAboutBoxRunner([this](QWidget*, const QString& credits) { aboutCredits << credits; });
        return *form;
    }
    void stop()
    {
        form.reset();
        program.reset();
        dm.reset();
    }

    QString iniPath() const { return exe.file(QStringLiteral("Signetrix.ini")); }
    QByteArray ini() const
    {
        QFile f(iniPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void writeIni(const QByteArray& bytes) const
    {
        QFile f(iniPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    void writeFavorite(const QString& relative, const QByteArray& url = "http://127.0.0.1:9/") const
    {
        QDir().mkpath(QFileInfo(home.favorites() + '/' + relative).path());
        QFile f(home.favorites() + '/' + relative);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[InternetShortcut]\r\nURL=" + url + "\r\n");
    }

    template <typename T = QWidget>
    T* w(const char* name) const
    {
        return child<T>(form.get(), QString::fromLatin1(name));
    }

    // Names of the pages whose tabs are visible, in tab order.
    static QStringList visibleTabs(QTabWidget* tabs)
    {
        QStringList names;
        for (int i = 0; i < tabs->count(); ++i)
            if (tabs->isTabVisible(i)) names << tabs->widget(i)->objectName();
        return names;
    }
    QStringList mainTabs() const { return visibleTabs(w<QTabWidget>("PageControl1")); }
    QString activeMainPage() const { return w<QTabWidget>("PageControl1")->currentWidget()->objectName(); }

    // A user's click on the tab of the page: the page controls' guards apply.
    static void clickTab(QTabWidget* tabs, const char* page)
    {
        tabs->setCurrentWidget(tabs->findChild<QWidget*>(QString::fromLatin1(page)));
    }
};

inline const QStringList kStartTabs = {"tsAnalyse", "tsSetup", "tsUpdate", "tsBackupWeb", "tsAbout"};

} // namespace signetrix::test
