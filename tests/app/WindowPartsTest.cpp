// The window's building blocks on their own: the general error display, the
// radio group, the window placement and the edit box looks.
#include "../support/TestSupport.h"

#include "app/ErrorDisplay.h"
#include "app/QtMessageBoxes.h"
#include "app/Translations.h"
#include "app/Form12.h"
#include "app/widgets/EditBox.h"
#include "app/widgets/PageControl.h"
#include "app/widgets/RadioGroup.h"
#include "platform/Errors.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTranslator>

namespace signetrix::test {
namespace {

TEST(ErrorDisplay, AddsAFullStopOnlyAfterCharactersSortingAfterIt)
{
    const std::pair<const char*, const char*> cases[] = {
        {"Unable to write to /tmp/Signetrix.ini", "Unable to write to /tmp/Signetrix.ini."},
        {"'80a' is not a valid integer value", "'80a' is not a valid integer value."},
        {"Déjà fini.", "Déjà fini."},
        {"Attention !", "Attention !"},
        {"(code 5)", "(code 5)"},
        {"liste,", "liste,"},
        {"suite-", "suite-"},
        {"dossier/", "dossier/."},
        {"été", "été."},
        {"", ""},
    };
    for (const auto& [in, out] : cases) {
        SCOPED_TRACE(in);
        EXPECT_EQ(errorDisplayText(QString::fromUtf8(in)), QString::fromUtf8(out));
    }
}

TEST(ErrorDisplay, HandlerErrorsAreShownAndTheEventLoopGoesOn)
{
    ScriptedMessageBoxes boxes;
    QPushButton button;
    int after = 0;
    connectHandler(&button, &QPushButton::clicked, &button, [] { throw ConvertError(QStringLiteral("80a")); });
    connectHandler(&button, &QPushButton::clicked, &button, [] { throw std::runtime_error("plain failure"); });
    connectHandler(&button, &QPushButton::clicked, &button, [&] { ++after; });
    button.click();
    EXPECT_EQ(after, 1) << "later slots still run";
    ASSERT_EQ(boxes.shown().size(), 2u);
    EXPECT_EQ(boxes.shown()[0].text, "'80a' is not a valid integer value.");
    EXPECT_EQ(boxes.shown()[0].title, "Signetrix");
    EXPECT_EQ(boxes.shown()[0].kind, platform::MessageKind::Error);
    EXPECT_EQ(boxes.shown()[0].buttons, platform::MessageButtons::Ok);
    EXPECT_EQ(boxes.shown()[1].text, "plain failure.");

    // From inside the event loop too: a queued throw does not end the loop.
    bool ticked = false;
    QTimer::singleShot(0, &button, [] { runHandler([] { throw WriteError(QStringLiteral("/x/y.ini")); }); });
    QTimer::singleShot(0, &button, [&] { ticked = true; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return ticked; }));
    EXPECT_EQ(boxes.texts().last(), "Unable to write to /x/y.ini.");
}

// The program's real boxes: caption, text, icon, buttons and the answer given.
TEST(QtMessageBoxes, ShowsTheBoxAndReturnsTheButtonPressed)
{
    using platform::MessageAnswer;
    using platform::MessageButtons;
    using platform::MessageKind;
    struct Case {
        MessageKind kind;
        MessageButtons buttons;
        QMessageBox::StandardButton press;
        QMessageBox::Icon icon;
        MessageAnswer answer;
    } cases[] = {
        {MessageKind::Confirmation, MessageButtons::YesNo, QMessageBox::Yes, QMessageBox::Question, MessageAnswer::Yes},
        {MessageKind::Confirmation, MessageButtons::YesNo, QMessageBox::No, QMessageBox::Question, MessageAnswer::No},
        {MessageKind::Error, MessageButtons::Ok, QMessageBox::Ok, QMessageBox::Critical, MessageAnswer::Ok},
        {MessageKind::Warning, MessageButtons::OkCancel, QMessageBox::Cancel, QMessageBox::Warning, MessageAnswer::Cancel},
        {MessageKind::Information, MessageButtons::Ok, QMessageBox::Ok, QMessageBox::Information, MessageAnswer::Ok},
    };
    QtMessageBoxes service;
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.press));
        QString title, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            if (QAbstractButton* b = box->button(c.press)) b->click();
        });
        EXPECT_EQ(service.show(c.kind, "Signetrix", "Voulez-vous ?", c.buttons), c.answer);
        EXPECT_EQ(title, "Signetrix");
        EXPECT_EQ(text, "Voulez-vous ?");
        EXPECT_EQ(icon, c.icon);
    }
}

// With the translations the program loads at start, Qt's own buttons of a
// real confirmation box read in French.
TEST(QtMessageBoxes, ConfirmationButtonsReadInFrench)
{
    QTranslator* translations = installQtTranslations();
    ASSERT_NE(translations, nullptr) << "no qtbase_fr in "
                                     << QLibraryInfo::path(QLibraryInfo::TranslationsPath).toStdString();
    struct Uninstall {
        QTranslator* t;
        ~Uninstall()
        {
            QCoreApplication::removeTranslator(t);
            delete t;
        }
    } uninstall{translations};

    QtMessageBoxes service;
    QStringList captions;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        for (QMessageBox::StandardButton b : {QMessageBox::Yes, QMessageBox::No})
            if (QAbstractButton* button = box->button(b)) captions << button->text();
        if (QAbstractButton* no = box->button(QMessageBox::No)) no->click();
    });
    EXPECT_EQ(service.show(platform::MessageKind::Confirmation, "Signetrix", "Voulez-vous ?",
                           platform::MessageButtons::YesNo),
              platform::MessageAnswer::No);
    EXPECT_EQ(captions, QStringList({QStringLiteral("&Oui"), QStringLiteral("&Non")}));
}

TEST(RadioGroup, ClampsTheChoiceAndReportsEveryChange)
{
    RadioGroup group;
    group.setObjectName("rdg");
    group.setColumns(2);
    group.setItems({"A", "B", "C"});
    QSignalSpy clicked(&group, &RadioGroup::clicked);
    struct Case {
        int set;
        int expected;
        int emitted;
    } cases[] = {{1, 1, 1}, {1, 1, 0}, {9, 2, 1}, {-1, -1, 1}, {-7, -1, 0}, {0, 0, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.set);
        clicked.clear();
        EXPECT_TRUE(group.setProperty("currentIndex", c.set));
        EXPECT_EQ(group.currentIndex(), c.expected);
        EXPECT_EQ(clicked.count(), c.emitted);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(group.button(i)->isChecked(), i == c.expected);
    }
    clicked.clear();
    group.button(2)->click();
    EXPECT_EQ(group.currentIndex(), 2);
    EXPECT_EQ(clicked.count(), 1);
    group.setItems({"A"});
    EXPECT_EQ(group.currentIndex(), 0) << "fewer items clamp the choice";
}

TEST(PageControl, GuardsAndReportsOnlyTheUsersChanges)
{
    PageControl pages;
    QWidget* a = new QWidget;
    QWidget* b = new QWidget;
    QWidget* c = new QWidget;
    pages.addTab(a, "a");
    pages.addTab(b, "b");
    pages.addTab(c, "c");
    bool allow = true;
    QList<QWidget*> asked;
    pages.setChangingGuard([&](QWidget* current) {
        asked << current;
        return allow;
    });
    QSignalSpy changed(&pages, &PageControl::pageChanged);

    pages.setCurrentWidget(b); // the user's choice
    EXPECT_EQ(asked, QList<QWidget*>{a});
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed[0][0].value<QWidget*>(), b);

    allow = false;
    pages.setCurrentWidget(c);
    EXPECT_EQ(pages.currentWidget(), b) << "a refused change puts the page back";
    EXPECT_EQ(pages.activePage(), b);
    EXPECT_EQ(changed.count(), 1);

    asked.clear();
    pages.setActivePage(c); // the program's choice
    pages.setPageTabVisible(c, false);
    EXPECT_TRUE(asked.isEmpty());
    EXPECT_EQ(changed.count(), 1);
    EXPECT_NE(pages.currentWidget(), c) << "hiding the current tab moves to a shown one";
    EXPECT_EQ(pages.activePage(), pages.currentWidget());
    EXPECT_FALSE(pages.isPageTabVisible(c));
}

TEST(MainWindowPosition, CentresAboveABottomTaskBarOnly)
{
    const QSize win(722, 656);
    struct Case {
        const char* what;
        QRect screen, available;
        QPoint expected;
    } cases[] = {
        {"bottom bar", {0, 0, 1280, 1024}, {0, 0, 1280, 984}, {279, (1024 - 40 - 656) / 2}},
        {"no bar", {0, 0, 1280, 1024}, {0, 0, 1280, 1024}, {279, 184}},
        {"top bar", {0, 0, 1280, 1024}, {0, 30, 1280, 994}, {279, 184}},
        {"left bar", {0, 0, 1280, 1024}, {60, 0, 1220, 1024}, {279, 184}},
        {"odd sizes round towards zero", {0, 0, 1281, 1025}, {0, 0, 1281, 1024}, {279, 184}},
        {"second screen", {1280, 0, 1920, 1080}, {1280, 0, 1920, 1040}, {1280 + 599, 192}},
        {"screen smaller than window", {0, 0, 640, 480}, {0, 0, 640, 480}, {-41, -88}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(mainWindowPosition(c.screen, c.available, win), c.expected);
    }
}

TEST(SetEditEditable, SwitchesBetweenWindowColoursAndGrey)
{
    QLineEdit edit;
    const QPalette system = QApplication::palette();
    SetEditEditable(&edit, false);
    EXPECT_TRUE(edit.isReadOnly());
    EXPECT_EQ(edit.palette().color(QPalette::Base), QColor(160, 160, 164));
    EXPECT_EQ(edit.palette().color(QPalette::Text), system.color(QPalette::Base));
    SetEditEditable(&edit, true);
    EXPECT_FALSE(edit.isReadOnly());
    EXPECT_EQ(edit.palette().color(QPalette::Base), system.color(QPalette::Base));
    EXPECT_EQ(edit.palette().color(QPalette::Text), system.color(QPalette::Text));
}

} // namespace
} // namespace signetrix::test
