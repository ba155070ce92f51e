// The help pop-up: its four tables, where it opens, and that a click anywhere
// on it (and nothing else) closes it.
#include "app/dialogs/UTemplateHint.h"

#include "support/TestSupport.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

using namespace signetrix::dialogs;
using signetrix::test::child;

namespace {

struct TableCase {
    HelpTable table;
    const char* title;
    int rows;
    const char* first;
    QChar codeClass; // first digit of every code row; null for the prose table
};

const TableCase kTables[] = {
    {HelpTable::CodesError3XX, "Codes erreurs 3XX", 6, "300 L'URL demandée se rapporte à plusieurs ressources",
     QLatin1Char('3')},
    {HelpTable::CodesError4XX, "Codes erreurs 4XX", 21, "400 La syntaxe de la requête est erronée",
     QLatin1Char('4')},
    {HelpTable::CodesError5XX, "Codes erreurs 5XX", 9, "500 Erreur interne du serveur", QLatin1Char('5')},
    {HelpTable::CodesErrorFiles, "Fichiers liens erreurs", 10,
     "Cette erreur se produit lorsque le nom d'un fichier lien contient des caractères", QChar()},
};

TEST(HelpTables, TitlesRowsAndTextOfEachTable)
{
    for (const TableCase& c : kTables) {
        SCOPED_TRACE(c.title);
        const QStringList rows = helpLines(c.table);
        EXPECT_EQ(helpTitle(c.table), QString::fromUtf8(c.title));
        ASSERT_EQ(rows.size(), c.rows);
        EXPECT_EQ(rows.first(), QString::fromUtf8(c.first));
        EXPECT_TRUE(rows.last().isEmpty()) << "every table ends with an empty row";
        // Each row, the empty ones too, is followed by its own line break.
        EXPECT_EQ(helpText(c.table), rows.join(QLatin1Char('\n')) + QLatin1Char('\n'));
        if (c.codeClass.isNull()) continue;
        // Code rows: all of one class, in increasing order, then one empty row.
        int previous = 0;
        for (int i = 0; i + 1 < rows.size(); ++i) {
            SCOPED_TRACE(rows[i].toStdString());
            ASSERT_EQ(rows[i].front(), c.codeClass);
            const int code = rows[i].left(3).toInt();
            EXPECT_GT(code, previous);
            EXPECT_EQ(rows[i].at(3), QLatin1Char(' '));
            previous = code;
        }
    }
}

TEST(HelpTables, ProseTableKeepsItsBlankLines)
{
    const QStringList rows = helpLines(HelpTable::CodesErrorFiles);
    ASSERT_EQ(rows.size(), 10);
    EXPECT_EQ(rows[3], QString());
    EXPECT_EQ(rows[4], QStringLiteral("Par exemple :"));
    EXPECT_EQ(rows[7], QStringLiteral("le nom de fichier deviendra illisible."));
    EXPECT_EQ(rows[8], QString());
}

struct PlacementCase {
    const char* name;
    QRect screen;
    QPoint anchor;
    QSize text;
    QRect expected;
};

// Bands add 41 + 41 + 20 in width and 41 + 20 in height.
const PlacementCase kPlacements[] = {
    {"fits below and right of the button", {0, 0, 800, 600}, {100, 100}, {200, 100}, {100, 100, 302, 161}},
    {"bottom edge exactly reached stays", {0, 0, 800, 600}, {100, 439}, {200, 100}, {100, 439, 302, 161}},
    {"past the bottom moves up", {0, 0, 800, 600}, {100, 500}, {200, 100}, {100, 439, 302, 161}},
    {"past the right moves left", {0, 0, 800, 600}, {700, 100}, {200, 100}, {498, 100, 302, 161}},
    {"past both moves up and left", {0, 0, 800, 600}, {700, 500}, {200, 100}, {498, 439, 302, 161}},
    {"second screen to the right", {800, 0, 1024, 768}, {1700, 700}, {200, 100}, {1522, 607, 302, 161}},
    {"taller and wider than the screen is held inside it", {0, 0, 800, 600}, {300, 300}, {900, 700},
     {0, 0, 800, 600}},
};

TEST(HintPlacement, MovedBackOntoTheScreen)
{
    for (const PlacementCase& c : kPlacements) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(hintGeometry(c.anchor, c.text, c.screen), c.expected);
    }
}

QRect area()
{
    return QGuiApplication::primaryScreen()->availableGeometry();
}

TEST(HintWindow, ShowsTitleTextAndCloseHint)
{
    const QString text = helpText(HelpTable::CodesError4XX);
    const QPoint anchor = area().topLeft() + QPoint(10, 10);
    TfrmTemplateHint hint(nullptr, text, helpTitle(HelpTable::CodesError4XX), anchor);
    hint.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&hint));

    EXPECT_TRUE(hint.windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(child<QLabel>(&hint, "pTitle")->text(), QStringLiteral("Codes erreurs 4XX"));
    EXPECT_EQ(child<QLabel>(&hint, "pBottom")->text(), QStringLiteral("Cliquez pour fermer la fenêtre"));
    EXPECT_TRUE(child<QLabel>(&hint, "pBottom")->font().underline());
    auto* memo = child<QPlainTextEdit>(&hint, "Memo1");
    ASSERT_TRUE(memo);
    EXPECT_TRUE(memo->isReadOnly());
    EXPECT_TRUE(memo->isVisible());
    EXPECT_EQ(memo->toPlainText(), text);
    auto* measure = child<QLabel>(&hint, "lHint");
    ASSERT_TRUE(measure);
    EXPECT_FALSE(measure->isVisible());
    EXPECT_EQ(measure->text(), text);
    for (const char* name : {"pTitle", "pLeft", "pRight", "pBottom", "lHint"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(child<QWidget>(&hint, QLatin1String(name))->cursor().shape(), Qt::PointingHandCursor);
    }

    // Plenty of room: opens at the button, as large as the text plus the bands.
    const QSize textSize = hint.measuredTextSize();
    EXPECT_GE(textSize.height(), 21 * QFontMetrics(measure->font()).height());
    EXPECT_EQ(hint.geometry(), QRect(anchor, textSize + QSize(102, 61)));
    // The text area gets all of the text's height, the bands their sizes.
    EXPECT_EQ(memo->geometry(), QRect(41, 41, textSize.width() + 20, textSize.height()));
    EXPECT_EQ(child<QLabel>(&hint, "pTitle")->height(), 41);
    EXPECT_EQ(child<QLabel>(&hint, "pBottom")->geometry().bottom(), hint.height() - 1);
}

TEST(HintWindow, OpenedNearTheScreenCornerStaysOnScreen)
{
    const QRect screen = area();
    const QPoint anchor = screen.bottomRight() - QPoint(5, 5);
    TfrmTemplateHint hint(nullptr, helpText(HelpTable::CodesError5XX), helpTitle(HelpTable::CodesError5XX), anchor);
    hint.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&hint));
    EXPECT_EQ(hint.geometry().bottom(), screen.bottom());
    EXPECT_EQ(hint.geometry().right(), screen.right());
    EXPECT_EQ(hint.size(), hint.measuredTextSize() + QSize(102, 61));
    EXPECT_TRUE(screen.contains(hint.geometry()));
}

TEST(HintWindow, AnyClickOnItClosesIt)
{
    for (const char* name : {"window", "pTitle", "pLeft", "pRight", "pBottom", "Memo1"}) {
        SCOPED_TRACE(name);
        TfrmTemplateHint hint(nullptr, QStringLiteral("ligne\n"), QStringLiteral("Titre"), area().topLeft());
        hint.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&hint));
        QWidget* target = &hint;
        if (QLatin1String(name) != QLatin1String("window")) {
            target = child<QWidget>(&hint, QLatin1String(name));
            ASSERT_TRUE(target);
            if (auto* memo = qobject_cast<QPlainTextEdit*>(target)) target = memo->viewport();
        }
        QTest::mouseClick(target, Qt::LeftButton, {}, QPoint(2, 2));
        EXPECT_FALSE(hint.isVisible());
        EXPECT_EQ(hint.result(), QDialog::Accepted);
    }
}

TEST(HintWindow, EscapeDoesNotCloseIt)
{
    TfrmTemplateHint hint(nullptr, QStringLiteral("ligne\n"), QStringLiteral("Titre"), area().topLeft());
    hint.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&hint));
    QTest::keyClick(&hint, Qt::Key_Escape);
    QTest::keyClick(child<QPlainTextEdit>(&hint, "Memo1"), Qt::Key_Escape);
    EXPECT_TRUE(hint.isVisible());
}

TEST(ShowHelp, OpensModallyAtTheButtonAndReturnsWhenClicked)
{
    QWidget owner;
    owner.setGeometry(QRect(area().topLeft() + QPoint(20, 20), QSize(300, 200)));
    auto* button = new QPushButton(QStringLiteral("?"), &owner);
    button->setGeometry(30, 40, 24, 24);
    owner.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner));

    QString title, text;
    QPoint topLeft;
    bool modal = false, closedByClick = false;
    QTimer::singleShot(0, [&] {
        if (!QTest::qWaitFor([] { return QApplication::activeModalWidget() != nullptr; }, 5000)) return;
        QPointer<TfrmTemplateHint> hint = qobject_cast<TfrmTemplateHint*>(QApplication::activeModalWidget());
        if (!hint) {
            QApplication::activeModalWidget()->close();
            return;
        }
        modal = hint->isModal();
        title = child<QLabel>(hint, "pTitle")->text();
        text = hint->text();
        topLeft = hint->geometry().topLeft();
        QTest::mouseClick(child<QLabel>(hint, "pBottom"), Qt::LeftButton);
        closedByClick = hint.isNull() || !hint->isVisible();
        if (!closedByClick) hint->reject(); // never leave the test waiting
    });
    showHelp(HelpTable::CodesError3XX, button);

    EXPECT_TRUE(modal);
    EXPECT_TRUE(closedByClick);
    EXPECT_EQ(title, QStringLiteral("Codes erreurs 3XX"));
    EXPECT_EQ(text, helpText(HelpTable::CodesError3XX));
    EXPECT_EQ(topLeft, button->mapToGlobal(QPoint(0, 0)));
}

} // namespace
