// The progress dialog: its bars, labels and hidden parts, and what each
// operation does to them.
#include "app/dialogs/UWait.h"

#include "support/TestSupport.h"

#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include <functional>

using namespace signetrix::dialogs;
using signetrix::test::child;

namespace {

TEST(WaitDialog, CreatedWithEmptyBarsAndItsLabels)
{
    TfrmWait wait;
    EXPECT_EQ(wait.windowTitle(), QStringLiteral("Traitement"));
    EXPECT_EQ(wait.size(), QSize(375, 130));
    EXPECT_TRUE(wait.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(wait.pos(), QPoint(screen.width() / 2 - 375 / 2, screen.height() / 2 - 130 / 2) + screen.topLeft());
    const std::pair<const char*, const char*> bars[] = {
        {"lData", "OvcMeterData"}, {"lDelete", "OvcMeterDelete"}, {"lTransfert", "OvcMeterUpload"}};
    const char* const texts[] = {"Page(s) de données", "Suppression(s)", "Transfert"};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(bars[i].second);
        EXPECT_EQ(child<QLabel>(&wait, QLatin1String(bars[i].first))->text(), QString::fromUtf8(texts[i]));
        auto* bar = child<QProgressBar>(&wait, QLatin1String(bars[i].second));
        ASSERT_TRUE(bar);
        EXPECT_EQ(bar->value(), 0);
        EXPECT_EQ(bar->text(), QStringLiteral("0%"));
    }
    wait.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&wait));
    EXPECT_FALSE(child<QProgressBar>(&wait, "ProgressBar1")->isVisible());
    EXPECT_FALSE(child<QPushButton>(&wait, "btnCancel")->isVisible());
}

struct Expect {
    int data, erase, transfer, steps;
    bool visible;
};

struct OperationCase {
    const char* name;
    std::function<void(TfrmWait&)> run;
    Expect after;
};

TEST(WaitDialog, OperationsActOnTheBarsAndTheWindow)
{
    const OperationCase cases[] = {
        {"data percentage", [](TfrmWait& w) { w.PourcentProgressData(40); }, {40, 0, 0, 0, false}},
        {"transfer percentage", [](TfrmWait& w) { w.PourcentProgressTransfert(75); }, {0, 0, 75, 0, false}},
        {"percentages beyond the ends are held at them",
         [](TfrmWait& w) { w.PourcentProgressData(150); w.PourcentProgressTransfert(-5); }, {100, 0, 0, 0, false}},
        {"connect resets data and transfer and shows",
         [](TfrmWait& w) { w.PourcentProgressData(40); w.PourcentProgressTransfert(75); w.ConnectProgress(); },
         {0, 0, 0, 0, true}},
        {"close fills data and closes",
         [](TfrmWait& w) { w.ConnectProgress(); w.PourcentProgressTransfert(30); w.CloseProgress(); },
         {100, 0, 30, 0, false}},
        {"step counter up and down",
         [](TfrmWait& w) { w.IncProgress(); w.IncProgress(); w.IncProgress(); w.DecProgress(); },
         {0, 0, 0, 2, false}},
        {"step counter does not go below zero", [](TfrmWait& w) { w.DecProgress(); w.IncProgress(); },
         {0, 0, 0, 1, false}},
    };
    for (const OperationCase& c : cases) {
        SCOPED_TRACE(c.name);
        TfrmWait wait;
        c.run(wait);
        EXPECT_EQ(child<QProgressBar>(&wait, "OvcMeterData")->value(), c.after.data);
        EXPECT_EQ(child<QProgressBar>(&wait, "OvcMeterData")->text(), QStringLiteral("%1%").arg(c.after.data));
        EXPECT_EQ(child<QProgressBar>(&wait, "OvcMeterDelete")->value(), c.after.erase);
        EXPECT_EQ(child<QProgressBar>(&wait, "OvcMeterUpload")->value(), c.after.transfer);
        EXPECT_EQ(child<QProgressBar>(&wait, "ProgressBar1")->value(), c.after.steps);
        EXPECT_EQ(wait.isVisible(), c.after.visible);
        EXPECT_FALSE(wait.isModal());
    }
}

TEST(WaitDialog, CaptionsReplaceTheLabelTexts)
{
    TfrmWait wait;
    wait.CaptionData(QStringLiteral("Analyse avant synchronisation"));
    wait.CaptionTransfert(QStringLiteral("Transfert des images"));
    EXPECT_EQ(child<QLabel>(&wait, "lData")->text(), QStringLiteral("Analyse avant synchronisation"));
    EXPECT_EQ(child<QLabel>(&wait, "lTransfert")->text(), QStringLiteral("Transfert des images"));
    EXPECT_EQ(child<QLabel>(&wait, "lDelete")->text(), QStringLiteral("Suppression(s)"));
}

TEST(WaitDialog, HiddenCancelButtonEndsWithCancel)
{
    TfrmWait wait;
    wait.ConnectProgress();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&wait));
    child<QPushButton>(&wait, "btnCancel")->click();
    EXPECT_EQ(wait.result(), QDialog::Rejected);
    EXPECT_FALSE(wait.isVisible());
}

} // namespace
