// "Exporter le rapport..." through the real main window: an analysis against
// a loopback server reaches the summary, the scripted save dialog answers a
// path, and the report lands there whole, or not at all with the reason shown.
#include "app/DataModules.h"
#include "app/Form12.h"
#include "app/analysis/AnalysisController.h"
#include "cleanup/CleanupFixture.h"
#include "platform/Clock.h"
#include "platform/FileDialogs.h"
#include "platform/FileSystem.h"
#include "support/HttpTestServer.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QPushButton>
#include <gtest/gtest.h>

#include <cerrno>
#include <deque>
#include <memory>

namespace signetrix {
namespace {

using test::child;

// Records every save dialog and answers from a queue (then as cancelled).
class ScriptedSaveDialog {
public:
    struct Asked {
        QString caption, suggestedPath, filter;
    };
    ScriptedSaveDialog()
        : m_previous(platform::setSaveFileNameDialog(
              [this](const QString& caption, const QString& suggested, const QString& filter) {
                  asked.push_back({caption, suggested, filter});
                  if (m_answers.empty()) return QString();
                  QString answer = m_answers.front();
                  m_answers.pop_front();
                  return answer;
              }))
    {
    }
    ~ScriptedSaveDialog() { platform::setSaveFileNameDialog(std::move(m_previous)); }
    void answerNext(const QString& path) { m_answers.push_back(path); }

    std::vector<Asked> asked;

private:
    std::deque<QString> m_answers;
    platform::SaveFileNameDialog m_previous;
};

class ReportExportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        server.addStandardRoutes();
        platform::setPauseForTesting([](int) {});
        LinkCheckOptions options;
        options.readTimeoutMs = 2000;
        AnalysisController::setCheckOptionsForTesting(options);
        favorite("Valide.url", server.url("/200"));
        favorite("Sous dossier/Déplacé.url", server.url("/301"));
        favorite("Absent.url", server.url("/404"));
        form = std::make_unique<TForm12>(common, program);
        form->show();
    }
    void TearDown() override
    {
        form.reset();
        platform::setPauseForTesting({});
        AnalysisController::setCheckOptionsForTesting(std::nullopt);
    }

    void favorite(const QString& relative, const QByteArray& url)
    {
        const QString path = home.favorites() + '/' + relative;
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[InternetShortcut]\r\nURL=" + url + "\r\n");
    }
    QPushButton* exportButton() { return child<QPushButton>(form.get(), "btnExportRapport"); }
    void analyse()
    {
        EXPECT_FALSE(exportButton()->isVisible()) << "no summary yet";
        child<QPushButton>(form.get(), "btnStartAnalyse")->click();
        ASSERT_TRUE(exportButton()->isVisible()) << "the summary is on display";
    }
    static QStringList entries(const QString& folder)
    {
        QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        names.sort();
        return names;
    }
    // Exporting into folder fails with error: one error box says so, and
    // the folder holds what it held before.
    void expectRefused(const QString& folder, int error)
    {
        const QStringList before = entries(folder);
        const QString path = folder + QStringLiteral("/rapport.csv");
        dialog.answerNext(path);
        exportButton()->click();

        ASSERT_EQ(boxes.shown().size(), 1u) << boxes.texts().join('|').toStdString();
        EXPECT_EQ(boxes.shown()[0].kind, platform::MessageKind::Error);
        EXPECT_EQ(boxes.shown()[0].text,
                  QStringLiteral("Impossible d'écrire le rapport « %1 » : %2.").arg(path, fs::lastErrorText(error)));
        EXPECT_EQ(entries(folder), before);
    }

    test::ExeFolderGuard exe;
    test::HomeGuard home;
    test::ScriptedMessageBoxes boxes;
    ScriptedSaveDialog dialog;
    test::TempTree target;
    test::HttpTestServer server;
    TdmCommon common;
    TReVuvidizEdevav program;
    std::unique_ptr<TForm12> form;
};

TEST_F(ReportExportTest, WritesTheReportInTheFormatOfTheChosenName)
{
    analyse();
    EXPECT_EQ(exportButton()->text(), QStringLiteral("Exporter le rapport..."));
    // The Location the worker received goes with the redirect.
    const QByteArray moved = "Sous dossier/D\xC3\xA9plac\xC3\xA9.url;" + server.url("/301") + ";301;Re-direction(s);" +
                             server.url("/200") + "\r\n";
    const struct {
        const char* answer;
        const char* written;
        QByteArray beginning;
        QList<QByteArray> lines; // each shown once
    } cases[] = {
        {"rapport.csv", "rapport.csv", "\xEF\xBB\xBF" "Chemin;Adresse;Code;D\xC3\xA9signation;Redirection\r\n",
         {"Valide.url;" + server.url("/200") + ";200;Valide(s);\r\n", moved,
          "Absent.url;" + server.url("/404") + ";404;Page(s) non trouv\xC3\xA9" "e(s);\r\n"}},
        {"rapport", "rapport.csv", "\xEF\xBB\xBF" "Chemin;", {moved}},
        {"rapport.HTML", "rapport.HTML", "<!DOCTYPE html>",
         {"<title>Rapport d'analyse des favoris</title>", "<td>Sous dossier/D\xC3\xA9plac\xC3\xA9.url</td>",
          "<tbody data-designation=\"Page(s) non trouv\xC3\xA9" "e(s)\">"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        dialog.answerNext(target.abs(QString::fromUtf8(c.answer)));
        exportButton()->click();

        const QByteArray written = target.read(QString::fromUtf8(c.written));
        EXPECT_TRUE(written.startsWith(c.beginning)) << written.left(80).toStdString();
        for (const QByteArray& line : c.lines) EXPECT_EQ(written.count(line), 1) << line.toStdString();
    }
    QStringList expected = {"rapport.HTML", "rapport.csv"};
    expected.sort();
    EXPECT_EQ(entries(target.path()), expected) << "no temporary left";
    EXPECT_TRUE(boxes.texts().isEmpty()) << boxes.texts().join('|').toStdString();

    ASSERT_EQ(dialog.asked.size(), std::size(cases));
    const ScriptedSaveDialog::Asked& asked = dialog.asked.front();
    EXPECT_EQ(asked.caption, QStringLiteral("Exporter le rapport"));
    EXPECT_TRUE(asked.filter.contains(QStringLiteral("(*.csv)")));
    EXPECT_TRUE(asked.filter.contains(QStringLiteral("(*.html *.htm)")));
    EXPECT_FALSE(asked.suggestedPath.startsWith(home.favorites())) << "a report there would be read as a favorite";
}

TEST_F(ReportExportTest, ACancelledDialogWritesNothing)
{
    analyse();
    exportButton()->click(); // no answer scripted: cancelled
    EXPECT_EQ(dialog.asked.size(), 1u);
    EXPECT_TRUE(entries(target.path()).isEmpty());
    EXPECT_TRUE(boxes.texts().isEmpty());
}

// A folder that is not there: nothing can be created.
TEST_F(ReportExportTest, AMissingFolderIsReportedAndNothingIsWritten)
{
    analyse();
    expectRefused(target.abs(QStringLiteral("absent")), ENOENT);
}

// A full file system: the temporary file is created, then the write fails.
TEST_F(ReportExportTest, AFullFolderIsReportedAndLeavesNeitherReportNorTemporary)
{
    const QString full = target.mkdir(QStringLiteral("plein"));
    test::SmallFileSystem small(full, "size=64k");
    if (!small.mounted()) GTEST_SKIP() << small.reason();
    {
        QFile filler(full + QStringLiteral("/remplissage"));
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size() && filler.flush()) {}
    }
    analyse();
    expectRefused(full, ENOSPC);
}

} // namespace
} // namespace signetrix
