// The about box and its parts: rounded frame, scrolling credits, system list
// with its refresh, the maker's addresses handed to the desktop.
#include "app/dialogs/KelPanel.h"
#include "app/dialogs/SecretPanel.h"
#include "platform/desktop/ShellOpen.h"
#include "app/dialogs/UKelAbout.h"

#include "support/TestSupport.h"

#include <QApplication>
#include <QDate>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

using namespace signetrix::dialogs;
using namespace signetrix::platform;
using signetrix::test::child;
using signetrix::test::TempTree;

namespace {

// Records what would have been handed to the desktop.
class RecordedShell {
public:
    RecordedShell()
        : m_previous(setShellOpenerForTesting([this](const QString& address) { opened << address; }))
    {
    }
    ~RecordedShell() { setShellOpenerForTesting(m_previous); }
    QStringList opened;

private:
    ShellOpener m_previous;
};

QStringList column(QTableWidget* table, int col)
{
    QStringList result;
    for (int row = 0; row < table->rowCount(); ++row)
        result << (table->item(row, col) ? table->item(row, col)->text() : QStringLiteral("<no item>"));
    return result;
}

TEST(KelPanel, FocusedSwitchesTheCursor)
{
    TKelPanel panel;
    EXPECT_FALSE(panel.focused());
    EXPECT_EQ(panel.cursor().shape(), Qt::ArrowCursor);
    EXPECT_TRUE(panel.setProperty("Focused", true));
    EXPECT_EQ(panel.cursor().shape(), Qt::PointingHandCursor);
    panel.setFocused(false);
    EXPECT_EQ(panel.cursor().shape(), Qt::ArrowCursor);
}

TEST(KelPanel, PaintsBlackOutlineThenWhiteInsideWithRoundCorners)
{
    TKelPanel panel;
    QPalette palette = panel.palette();
    palette.setColor(QPalette::Window, QColor(10, 200, 30));
    panel.setPalette(palette);
    panel.resize(60, 40);
    const QImage image = panel.grab().toImage();
    EXPECT_EQ(image.pixelColor(30, 0), QColor(Qt::black));
    EXPECT_EQ(image.pixelColor(59, 20), QColor(Qt::black));
    EXPECT_EQ(image.pixelColor(30, 1), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(1, 20), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(30, 20), QColor(10, 200, 30));
    EXPECT_NE(image.pixelColor(0, 0), QColor(Qt::black)) << "the corner is rounded off";
}

TEST(SecretPanel, ScrollsUpAndStartsOverAfterTheLastLine)
{
    TSecretPanel panel;
    panel.resize(289, 145);
    panel.setText(QStringLiteral("Signetrix\r\n\r\nMerci\r\n2026"));
    EXPECT_EQ(panel.lines().size(), 4);
    EXPECT_EQ(panel.offset(), 145);
    panel.step();
    EXPECT_EQ(panel.offset(), 144);
    const int travel = 145 + panel.textHeight();
    int steps = 1;
    while (panel.offset() != 145 && steps < 10 * travel) {
        panel.step();
        ++steps;
    }
    EXPECT_EQ(steps, travel) << "one full pass: in at the bottom, out at the top, in again";
}

class AboutBox : public ::testing::Test {
protected:
    void SetUp() override
    {
        box = new TfrmAbout;
        files.cpuinfo = tree.write("cpuinfo", "model name\t: Test CPU 3000\n");
        files.osRelease = tree.write("os-release", "PRETTY_NAME=\"Testix 1.0\"\n");
        files.meminfo = tree.write("meminfo", meminfo(2000, 500));
        box->setSystemFigureFiles(files);
    }
    void TearDown() override { delete box.data(); }

    static QByteArray meminfo(int totalKb, int availableKb)
    {
        return QStringLiteral("MemTotal: %1 kB\nMemAvailable: %2 kB\nSwapTotal: 0 kB\nSwapFree: 0 kB\n")
            .arg(totalKb)
            .arg(availableKb)
            .toUtf8();
    }

    TempTree tree;
    SystemFigureFiles files;
    QPointer<TfrmAbout> box;
};

TEST_F(AboutBox, ShowsVersionAddressesCopyrightAndOk)
{
    EXPECT_EQ(box->size(), QSize(337, 487));
    EXPECT_TRUE(box->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(child<TKelPanel>(box, "KelPanel1"));
    EXPECT_EQ(child<QLabel>(box, "ProductName")->text(), QStringLiteral("Signetrix"));
    EXPECT_TRUE(child<QLabel>(box, "ProductName")->font().bold());
    EXPECT_EQ(child<QLabel>(box, "Label1")->text(), QStringLiteral(SIGNETRIX_FILE_VERSION));
    EXPECT_EQ(child<QLabel>(box, "imgLogo")->pixmap().size(), QSize(129, 46));
    EXPECT_EQ(child<QLabel>(box, "lEMail")->text(), TfrmAbout::makerEmail());
    EXPECT_TRUE(TfrmAbout::makerEmail().contains(QLatin1Char('@')));
    EXPECT_EQ(child<QLabel>(box, "lWebsite")->text(), TfrmAbout::makerWebsite());
    for (const char* name : {"lEMail", "lWebsite"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(child<QLabel>(box, QLatin1String(name))->cursor().shape(), Qt::PointingHandCursor);
    }
    EXPECT_TRUE(child<QLabel>(box, "LabelCopyright")->text().endsWith(QString::number(QDate::currentDate().year())));
    auto* ok = child<QPushButton>(box, "OKButton");
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->text(), QStringLiteral("OK"));
    EXPECT_TRUE(ok->isDefault());
    EXPECT_EQ(child<TSecretPanel>(box, "SecretPanel1")->size(), QSize(289, 145));
}

TEST(AboutCopyright, LastYearIsTheCurrentYear)
{
    for (int year : {2026, 2027, 2040}) {
        SCOPED_TRACE(year);
        const QString line = TfrmAbout::copyrightLine(year);
        EXPECT_TRUE(line.endsWith(QString::number(year)));
        EXPECT_EQ(line.count(QString::number(year)), 1);
    }
}

TEST_F(AboutBox, SystemListHasNineRowsInFixedOrderAndIsRefreshed)
{
    auto* list = child<QTableWidget>(box, "vledSystem");
    ASSERT_TRUE(list);
    EXPECT_FALSE(list->horizontalHeader()->isVisible());
    EXPECT_EQ(list->columnWidth(0), 150);
    EXPECT_EQ(list->columnWidth(1), 137);
    const QStringList keys{QStringLiteral("Processeur"),     QStringLiteral("OS"),
                           QStringLiteral("Utilisateur"),    QStringLiteral("Avail. PageFile"),
                           QStringLiteral("Avail. Phys"),    QStringLiteral("Avail. Virtual"),
                           QStringLiteral("Total PageFile"), QStringLiteral("Total Phys"),
                           QStringLiteral("Total Virtual")};
    EXPECT_EQ(column(list, 0), keys) << "filled from the real system at creation";
    box->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(box));
    EXPECT_LE(list->rowViewportPosition(8) + list->rowHeight(8), list->viewport()->height())
        << "all nine rows are in view";

    auto* timer = child<QTimer>(box, "TimerRefresh");
    ASSERT_TRUE(timer);
    EXPECT_EQ(timer->interval(), 10000);
    EXPECT_TRUE(timer->isActive());

    // Two refreshes, the figures changing in between: rows replaced, never added.
    const std::pair<int, const char*> rounds[] = {{500, "512000"}, {1500, "1536000"}};
    for (const auto& [availableKb, bytes] : rounds) {
        SCOPED_TRACE(bytes);
        tree.write("meminfo", meminfo(2000, availableKb));
        box->TimerRefreshTimer();
        EXPECT_EQ(column(list, 0), keys);
        const QStringList values = column(list, 1);
        ASSERT_EQ(values.size(), 9);
        EXPECT_EQ(values[0], QStringLiteral("Test CPU 3000"));
        EXPECT_EQ(values[1], QStringLiteral("Testix 1.0"));
        EXPECT_EQ(values[4], QString::fromLatin1(bytes));
        EXPECT_EQ(values[7], QStringLiteral("2048000"));
    }

    // The timer itself drives the refresh (run fast here instead of waiting 10 s).
    tree.write("meminfo", meminfo(2000, 1000));
    timer->start(1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return column(list, 1).value(4) == QStringLiteral("1024000"); }, 5000));
    EXPECT_EQ(column(list, 0), keys);
}

TEST_F(AboutBox, CreditsScrollOnlyWhileShown)
{
    box->setCredits(QStringLiteral("Signetrix\r\nMerci à tous"));
    auto* credits = child<TSecretPanel>(box, "SecretPanel1");
    ASSERT_TRUE(credits);
    EXPECT_EQ(credits->text(), QStringLiteral("Signetrix\r\nMerci à tous"));
    EXPECT_FALSE(credits->isScrolling());
    box->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(box));
    EXPECT_TRUE(credits->isScrolling());
    const int start = credits->offset();
    EXPECT_TRUE(QTest::qWaitFor([&] { return credits->offset() < start; }, 5000));
    box->hide();
    EXPECT_FALSE(credits->isScrolling());
}

TEST_F(AboutBox, AddressesGoToTheUsersPrograms)
{
    RecordedShell shell;
    box->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(box));
    QTest::mouseClick(child<QLabel>(box, "lEMail"), Qt::LeftButton);
    QTest::mouseClick(child<QLabel>(box, "lWebsite"), Qt::LeftButton);
    QTest::mouseClick(child<QLabel>(box, "LabelCopyright"), Qt::LeftButton);
    EXPECT_EQ(shell.opened,
              QStringList({QStringLiteral("Mailto:") + TfrmAbout::makerEmail(), TfrmAbout::makerWebsite()}));
}

TEST_F(AboutBox, OkClosesAndFreesTheBox)
{
    box->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(box));
    QTest::mouseClick(child<QPushButton>(box, "OKButton"), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return box.isNull(); }, 5000));
}

TEST(ShowAboutBox, ModalCentredWithCreditsAndGoneAfterOk)
{
    QWidget owner;
    owner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));
    QPointer<TfrmAbout> seen;
    QPoint topLeft;
    QString credits;
    bool modal = false;
    QTimer::singleShot(0, [&] {
        if (!QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; }, 5000)) return;
        seen = qobject_cast<TfrmAbout*>(QApplication::activeModalWidget());
        if (!seen) {
            QApplication::activeModalWidget()->close();
            return;
        }
        modal = seen->isModal();
        topLeft = seen->pos();
        credits = child<TSecretPanel>(seen, "SecretPanel1")->text();
        QTest::mouseClick(child<QPushButton>(seen, "OKButton"), Qt::LeftButton);
        if (seen && seen->isVisible()) seen->reject(); // never leave the test waiting
    });
    showAboutBox(&owner, QStringLiteral("ligne 1\r\nligne 2"));

    EXPECT_TRUE(modal);
    EXPECT_EQ(credits, QStringLiteral("ligne 1\r\nligne 2"));
    const QRect screen = owner.screen()->geometry();
    EXPECT_EQ(topLeft, QPoint(screen.left() + screen.width() / 2 - 337 / 2, screen.top() + screen.height() / 2 - 487 / 2));
    EXPECT_TRUE(QTest::qWaitFor([&] { return seen.isNull(); }, 5000)) << "the box frees itself";
}

} // namespace
