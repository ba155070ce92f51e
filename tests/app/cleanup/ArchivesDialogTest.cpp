// Undo through the window: a real cleanup run deletes and archives favorites,
// then "Restaurer des favoris archivés..." brings them back, asks once before
// replacing different local bytes (archiving them first), removes a day's
// archives, and refuses a favorite whose path would leave the Favorites folder.
#include "app/DataModules.h"
#include "app/Form12.h"
#include "app/cleanup/CleanupController.h"
#include "app/dialogs/UArchives.h"
#include "cleanup/CleanupFixture.h"
#include "platform/Clock.h"

#include <QComboBox>
#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include <functional>

namespace signetrix::test {
namespace {

using dialogs::TfrmArchives;

// The day the undo runs: the day after the cleanup, so its own archive copies get a folder of their own.
const QDate kUndoDay = FavoritesTree::testDate().addDays(1);

class ArchivesDialog : public ::testing::Test {
protected:
    FavoritesTree tree;
    ScriptedMessageBoxes boxes;
    TdmCommon common;
    TReVuvidizEdevav program;
    std::unique_ptr<TForm12> form;

    void SetUp() override
    {
        QLocale::setDefault(FavoritesTree::testLocale());
        platform::setPauseForTesting([](int) {});
        platform::setClockForTesting([] { return QDateTime(kUndoDay, QTime(10, 0)); });
    }
    void TearDown() override
    {
        form.reset();
        platform::setPauseForTesting({});
        platform::setClockForTesting({});
        QLocale::setDefault(QLocale::c());
    }

    void open()
    {
        form = std::make_unique<TForm12>(common, program);
        form->show();
        auto* cleanup = form->findChild<CleanupController*>();
        ASSERT_NE(cleanup, nullptr);
        tree.fixClock(cleanup->files());
    }
    void click(const char* name) { child<QPushButton>(form.get(), QString::fromLatin1(name))->click(); }

    // The cleanup run of the program: these favorites answered 404 and are deleted with a copy.
    void cleanUp(const QStringList& dead)
    {
        auto* list = child<QComboBox>(form.get(), "cbError404");
        list->setCurrentIndex(list->findText(QStringLiteral("Supprimer")));
        ASSERT_EQ(list->currentText(), QStringLiteral("Supprimer"));
        for (const QString& rel : dead) tree.addRow(form->runData().MemoryTable1, rel, 404);
        // Every favorite of the table goes: the guard asks first.
        boxes.answerNext(platform::MessageAnswer::Yes);
        click("btnCorrections");
        ASSERT_TRUE(boxes.texts().value(0).startsWith("Le nettoyage va supprimer")) << boxes.texts().join('|').toStdString();
        boxes.clear();
        for (const QString& rel : dead) ASSERT_FALSE(tree.exists(rel)) << rel.toStdString();
    }

    // Opens the dialog from the start page and runs body on it before closing it.
    void withDialog(const std::function<void(TfrmArchives&, QTreeWidget&)>& body)
    {
        bool ran = false;
        QTimer::singleShot(0, form.get(), [&] {
            auto* dialog = form->findChild<TfrmArchives*>();
            ASSERT_NE(dialog, nullptr);
            body(*dialog, *child<QTreeWidget>(dialog, "tvArchives"));
            ran = true;
            dialog->accept();
        });
        click("btnRestoreArchives");
        EXPECT_TRUE(ran);
    }
    static QTreeWidgetItem* item(QTreeWidget& view, const QString& text)
    {
        const auto found = view.findItems(text, Qt::MatchExactly | Qt::MatchRecursive, 0);
        if (found.size() != 1) ADD_FAILURE() << found.size() << " items named " << text.toStdString();
        return found.value(0);
    }
    static void check(QTreeWidget& view, const QString& text)
    {
        if (QTreeWidgetItem* i = item(view, text)) i->setCheckState(0, Qt::Checked);
    }
    int listedFavorites() const { return child<QLabel>(form.get(), "lFavorisTotal0")->text().toInt(); }
    QString undoArchive(const QString& rel) const
    {
        return tree.exeFolder() + "Devodav Archives/" + cleanup::ArchiveDateText(kUndoDay, FavoritesTree::testLocale()) +
               '/' + rel;
    }
};

TEST_F(ArchivesDialog, AWholeCleanupIsUndoneAndAConflictIsAskedOnce)
{
    tree.write("Mort.url", shortcut("http://mort.example/"));
    tree.write("Café/Crème.url", shortcut("http://creme.example/"));
    tree.write("Москва/Кремль.url", shortcut("http://kremlin.example/"));
    tree.write("Garde.url", shortcut("http://garde.example/"));
    const QStringList dead = {"Mort.url", "Café/Crème.url", "Москва/Кремль.url"};
    open();
    cleanUp(dead);
    EXPECT_EQ(listedFavorites(), 1);
    QMap<QString, QDateTime> archivedTimes;
    for (const QString& rel : dead) archivedTimes[rel] = QFileInfo(tree.archived(rel)).lastModified();

    boxes.clear();
    withDialog([&](TfrmArchives& dialog, QTreeWidget& view) {
        QTreeWidgetItem* day = item(view, FavoritesTree::dateFolder());
        ASSERT_NE(day, nullptr);
        EXPECT_EQ(item(view, "Кремль")->text(1), "http://kremlin.example/");
        EXPECT_EQ(item(view, "Crème")->text(2), "absent");
        day->setCheckState(0, Qt::Checked);
        child<QPushButton>(&dialog, "btnRestaurer")->click();
        EXPECT_EQ(item(view, "Mort")->text(2), "identique") << "listed again after the restore";
    });
    for (const QString& rel : dead) {
        SCOPED_TRACE(rel.toStdString());
        EXPECT_EQ(tree.read(rel), FavoritesTree::readAbs(tree.archived(rel)));
        EXPECT_EQ(QFileInfo(tree.abs(rel)).lastModified(), archivedTimes[rel]) << "the copy's time is kept";
    }
    EXPECT_EQ(listedFavorites(), 4) << "the favorite list is built again";
    EXPECT_TRUE(boxes.texts().value(0).startsWith("3 favori(s) restauré(s)")) << boxes.texts().join('|').toStdString();

    // The user changed one since: "Non" keeps it, "Oui" replaces it after archiving it.
    tree.write("Mort.url", shortcut("http://changé-depuis.example/"));
    for (const platform::MessageAnswer answer : {platform::MessageAnswer::No, platform::MessageAnswer::Yes}) {
        boxes.clear();
        boxes.answerNext(answer);
        withDialog([&](TfrmArchives& dialog, QTreeWidget& view) {
            EXPECT_EQ(item(view, "Mort")->text(2), "différent");
            check(view, "Mort");
            child<QPushButton>(&dialog, "btnRestaurer")->click();
        });
        ASSERT_FALSE(boxes.texts().isEmpty());
        EXPECT_EQ(boxes.texts()[0], TfrmArchives::kConflictQuestion.arg(1));
    }
    EXPECT_EQ(tree.read("Mort.url"), shortcut("http://mort.example/"));
    EXPECT_EQ(FavoritesTree::readAbs(undoArchive("Mort.url")), shortcut("http://changé-depuis.example/"));
}

TEST_F(ArchivesDialog, ADayIsRemovedAndAPathOutOfTheFavoritesIsRefused)
{
    tree.write("Mort.url", shortcut("http://mort.example/"));
    tree.write("Lien/Dedans.url", shortcut("http://dedans.example/"));
    open();
    cleanUp({"Mort.url", "Lien/Dedans.url"});
    // "Lien" is now a link to a folder outside the Favorites: putting the copy back there would write outside.
    QTemporaryDir outside;
    QDir(tree.favorites()).rmdir("Lien");
    ASSERT_TRUE(QFile::link(outside.path(), tree.abs("Lien")));
    boxes.clear();
    withDialog([&](TfrmArchives& dialog, QTreeWidget& view) {
        check(view, "Dedans");
        child<QPushButton>(&dialog, "btnRestaurer")->click();
    });
    EXPECT_TRUE(QDir(outside.path()).isEmpty()) << "nothing written through the link";
    EXPECT_TRUE(boxes.texts().value(0).contains("Lien/Dedans.url")) << boxes.texts().join('|').toStdString();

    boxes.clear();
    boxes.answerNext(platform::MessageAnswer::Yes);
    withDialog([&](TfrmArchives& dialog, QTreeWidget& view) {
        check(view, FavoritesTree::dateFolder());
        child<QPushButton>(&dialog, "btnSupprimerArchives")->click();
        EXPECT_EQ(view.topLevelItemCount(), 0);
    });
    EXPECT_FALSE(QFileInfo::exists(tree.exeFolder() + "Devodav Archives/" + FavoritesTree::dateFolder()));
    EXPECT_FALSE(tree.exists("Mort.url")) << "removing archives restores nothing";
}

TEST_F(ArchivesDialog, TheFilterShowsMatchingFavoritesAndTheirDays)
{
    tree.write("Outils/Compilateur.url", shortcut("http://gcc.example/"));
    tree.write("Cuisine/Recette.url", shortcut("http://recettes.example/"));
    open();
    cleanUp({"Outils/Compilateur.url", "Cuisine/Recette.url"});
    withDialog([&](TfrmArchives&, QTreeWidget& view) {
        auto* filter = child<QLineEdit>(view.window(), "edFiltre");
        struct Case {
            const char* text;
            bool compiler, recipe;
        };
        const Case cases[] = {{"", true, true}, {"gcc", true, false}, {"CUISINE", false, true}, {"rien", false, false}};
        for (const Case& c : cases) {
            SCOPED_TRACE(c.text);
            filter->setText(QString::fromUtf8(c.text));
            EXPECT_EQ(!item(view, "Compilateur")->isHidden(), c.compiler);
            EXPECT_EQ(!item(view, "Recette")->isHidden(), c.recipe);
            EXPECT_EQ(!item(view, FavoritesTree::dateFolder())->isHidden(), c.compiler || c.recipe);
        }
    });
}

} // namespace
} // namespace signetrix::test
