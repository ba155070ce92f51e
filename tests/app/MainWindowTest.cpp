// The main window driven offscreen: start-up, page modes, panels, the about
// tab, the backup page's account states, the debug layout and the close.
#include "WindowFixture.h"

#include "support/HttpTestServer.h"

#include "app/banner/Banner.h"
#include "platform/CodePage.h"
#include "platform/browser/EmbeddedBrowser.h"
#include "settings/PasswordCipher.h"

#include <QApplication>
#include <QCheckBox>
#include <QDate>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTcpServer>
#include <QHostAddress>

namespace signetrix::test {
namespace {

using MainWindow = WindowFixture;

TEST_F(MainWindow, StartsInStartModeWithTheFavoritesCount)
{
    writeFavorite("Site.url");
    writeFavorite("Travail/Outils/Outil.url");
    writeFavorite("Travail/desktop.ini", "");
    writeFavorite("Zed.url");
    TForm12& f = start();

    EXPECT_EQ(f.objectName(), "Form12");
    EXPECT_EQ(f.windowTitle(), "Signetrix");
    EXPECT_EQ(f.size(), QSize(722, 656));
    EXPECT_EQ(f.minimumSize(), f.maximumSize()) << "the window is not resizable";
    EXPECT_FALSE(f.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(f.windowFlags() & Qt::WindowMaximizeButtonHint);

    EXPECT_EQ(mainTabs(), kStartTabs);
    EXPECT_EQ(activeMainPage(), "tsAnalyse");
    EXPECT_EQ(w<QLabel>("lFavorisTotal0")->text(), "4");
    EXPECT_EQ(w<QLabel>("lFavorisTotal")->text(), "4");
    EXPECT_EQ(f.FavoriteFiles().size(), 4);
    EXPECT_FALSE(w("pBeforeAnalyse")->isHidden());
    EXPECT_TRUE(w("pLoadFavorisList")->isHidden());
    EXPECT_TRUE(w("pProcessAnalyse")->isHidden());
    EXPECT_EQ(w<QPushButton>("btnStartAnalyse")->text(), "Commencer l'analyse");
    EXPECT_TRUE(boxes.shown().empty()) << boxes.texts().join('\n').toStdString();
}

// Points the window's banner at a host of the test's own for one test.
class BannerHostGuard {
public:
    explicit BannerHostGuard(const QString& host) { signetrix::banner::setBannerHostForTesting(host); }
    ~BannerHostGuard() { signetrix::banner::setBannerHostForTesting(QString()); }
};

// A port nobody listens on: the window is up at once and the banner ends up an
// empty document, without a message.
TEST_F(MainWindow, WithoutBannerHostTheWindowStartsWithAnEmptyBanner)
{
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
    const quint16 deadPort = probe.serverPort();
    probe.close();
    BannerHostGuard host(QStringLiteral("http://127.0.0.1:%1").arg(deadPort));

    TForm12& f = start();
    EXPECT_EQ(mainTabs(), kStartTabs);
    auto* banner = f.WebBrowser1();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !f.banner()->isFetching() && banner->readyState() == 4; }, 20000));
    EXPECT_TRUE(banner->documentPresent());
    EXPECT_TRUE(banner->bodyInnerText().trimmed().isEmpty());
    EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(MainWindow, BannerHostPageIsShownInTheBannerStrip)
{
    HttpTestServer server;
    server.route("/err/Signetrix.htm",
                 HttpReply::status(200, "<html><body>Bienvenue sur la banni\xC3\xA8re</body></html>")
                     .header("Content-Type", "text/html; charset=UTF-8"));
    BannerHostGuard host(QString::fromLatin1(server.baseUrl()));

    TForm12& f = start();
    auto* banner = f.WebBrowser1();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return banner->bodyInnerText().contains(QStringLiteral("Bienvenue sur la bannière")); }, 20000));
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests().front().target, "/err/Signetrix.htm");
    EXPECT_TRUE(QTest::qWaitFor([&] { return banner->bodyOverflow().y == QStringLiteral("hidden"); }, 5000));
    EXPECT_EQ(banner->bodyOverflow().x, QStringLiteral("hidden"));
    EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(MainWindow, WithoutFavoritesFolderTheTotalIsZero)
{
    start();
    EXPECT_EQ(w<QLabel>("lFavorisTotal0")->text(), "0");
    EXPECT_EQ(mainTabs(), kStartTabs);
}

TEST_F(MainWindow, FixedLayoutAndTabsInOrder)
{
    TForm12& f = start();
    auto* pages = w<QTabWidget>("PageControl1");
    EXPECT_EQ(pages->geometry(), QRect(20, 90, 676, 551));
    EXPECT_EQ(pages->iconSize(), QSize(100, 100));
    EXPECT_EQ(w("Panel1")->geometry(), QRect(0, 0, 722, 90));
    EXPECT_FALSE(w("Panel1")->isHidden());
    EXPECT_NE(w("WebBrowser1"), nullptr);
    EXPECT_EQ(f.Timer1()->interval(), 120000);
    EXPECT_TRUE(f.Timer1()->isActive());

    const QStringList order = {"tsAnalyse",   "tsSetup",        "tsUpdate",  "tsRedirections", "tsDoublons",
                               "tsDeleteEmptyFolders", "tsBackupWeb", "tsAbout", "TabSheet4",  "TabSheet5"};
    ASSERT_EQ(pages->count(), order.size());
    for (int i = 0; i < pages->count(); ++i) {
        SCOPED_TRACE(order[i].toStdString());
        EXPECT_EQ(pages->widget(i)->objectName(), order[i]);
        EXPECT_EQ(pages->tabText(i), order[i] == "tsAbout" ? "A propos" : "");
        if (i < 8) EXPECT_FALSE(pages->tabIcon(i).isNull());
    }
    const std::pair<const char*, const char*> hints[] = {
        {"tsAnalyse", "Démarrer l'analyse de vos favoris"},
        {"tsSetup", "Paramètres de configuration"},
        {"tsUpdate", "Télécharger la dernière version du logiciel"},
        {"tsRedirections", "Re-directions"},
        {"tsDoublons", "Doublons"},
        {"tsDeleteEmptyFolders", "Dossiers vides"},
        {"tsBackupWeb", "Sauvegarde"},
    };
    for (const auto& [page, hint] : hints) {
        SCOPED_TRACE(page);
        EXPECT_EQ(w(page)->property("hint").toString(), QString::fromUtf8(hint));
        EXPECT_TRUE(w(page)->toolTip().isEmpty()) << "page hints are never displayed";
    }
}

// Every control the features reach by name exists, with its caption.
TEST_F(MainWindow, ControlsCarryTheirNamesAndCaptions)
{
    start();
    const std::pair<const char*, const char*> buttons[] = {
        {"btnStartAnalyse", "Commencer l'analyse"},
        {"btnCancelAnalyse", "Annuler l'analyse"},
        {"btnCorrections", "Corriger >>"},
        {"btnCancelCorrections", "Annuler"},
        {"btnDefaultValues", "Défaut"},
        {"btnValidateActions", "Appliquer"},
        {"btnCancelProxy", "Annuler"},
        {"Button8", "Télécharger la dernière version du logiciel"},
        {"btnUpdatePrev", "<< Précédent"},
        {"btnUpdateNext", "Suivant >>"},
        {"btnNewURL", "Définir la page en cours comme la nouvelle URL"},
        {"btnDeleteFavoris", "Supprimer"},
        {"btnRefresh", "Actualiser"},
        {"btnQuitterRedirections", "Fermer"},
        {"btnDoublonsPrev", "<< Précédent"},
        {"btnDoublonsNext", "Suivant >>"},
        {"btnQuitterDoublons", "Annuler"},
        {"btnDeleteDoublons", "Appliquer tout"},
        {"btnBackupFavoris", "Sauvegarder vos favoris sur internet"},
        {"btnRestoreFavoris", "Restaurer vos favoris depuis Internet"},
        {"btnOpenAccount", "Ouverture d'un compte pour le stockage de vos favoris"},
        {"btnInscription", "Inscription"},
        {"btnUpdateInscription", "Modifier"},
        {"btnSubmitUpdateInscription", "Appliquer"},
        {"btnValidation", "Validation"},
        {"Button18", "Annuler"},
    };
    for (const auto& [name, caption] : buttons) {
        SCOPED_TRACE(name);
        auto* b = w<QPushButton>(name);
        if (b) EXPECT_EQ(b->text(), QString::fromUtf8(caption));
    }
    const char* others[] = {"lFavorisAnalyse", "lFavorisAnalyseStart", "lFavorisAnalyseTime", "lFavoriName",
                            "lFavoriURL", "lProgression", "OvcMeterData", "JvGIFAnimatorProcessAnalyse",
                            "lSommaireResults", "lSommaireResultsCount", "pProcess", "pFinish", "OvcMeterProcess",
                            "lNomPage", "lNomPath", "lNomURL", "Label13", "lFavorisToProcess", "WebBrowser2",
                            "lDoublonsToProcess", "lDoublonsProcess", "Label14", "lbSelectionDoublonAGarder",
                            "gbDeleteEmptyFolders", "lDeleteEmptyFolders", "JvGIFAnimatorProcessEmptyFolders",
                            "lEmptyFolderName", "pDeleteEmptyFolders", "lBackupFavoris", "lRestoreFavoris",
                            "wbSubmitZem", "pSubmitZem", "Memo6", "edID", "lUpLoadUpDate", "OvcMeterUpLoadUpDate",
                            "aniCopy", "btnpHelp3XX", "btnpHelp4XX", "btnpHelp5XX", "btnpHelpErrorFile"};
    for (const char* name : others) {
        SCOPED_TRACE(name);
        EXPECT_NE(w(name), nullptr);
    }
    EXPECT_EQ(w<QPushButton>("btnCorrections")->toolTip(), "Effectue le nettoyage de vos favoris.");
    EXPECT_TRUE(w("pSubmitZem")->isHidden());
    EXPECT_TRUE(w("OvcMeterUpLoadUpDate")->isHidden());
    EXPECT_TRUE(w("pDeleteEmptyFolders")->isHidden());
}

// Each mode shows its page alone; the return to the start mode restores the
// start tabs and the count.
TEST_F(MainWindow, ModesShowOnePageAloneAndLoadFavoritesListReturnsToStart)
{
    writeFavorite("a.url");
    TForm12& f = start();
    for (const char* page : {"tsAnalyse", "tsRedirections", "tsDoublons", "tsDeleteEmptyFolders", "tsSetup"}) {
        SCOPED_TRACE(page);
        f.ShowOnlyPage(w(page));
        EXPECT_EQ(mainTabs(), QStringList{page});
        EXPECT_EQ(activeMainPage(), page);
    }
    writeFavorite("b.url");
    f.LoadFavoritesList();
    EXPECT_EQ(mainTabs(), kStartTabs);
    EXPECT_EQ(activeMainPage(), "tsAnalyse");
    EXPECT_EQ(w<QLabel>("lFavorisTotal0")->text(), "2");
    EXPECT_FALSE(w("pBeforeAnalyse")->isHidden());
    EXPECT_FALSE(w("OvcMeterData")->isHidden());
    EXPECT_EQ(w("pResultatSommaire")->parentWidget(), w("GroupBox3")) << "the summary panel is parked again";
}

TEST_F(MainWindow, ShowPanelCentredCentresOnlyTaggedPanels)
{
    TForm12& f = start();
    auto* gb = w<QGroupBox>("gbAnalyse");
    struct Case {
        const char* panel;
        bool centred;
    } cases[] = {{"pLoadFavorisList", true}, {"pBeforeAnalyse", true}, {"pProcessAnalyse", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.panel);
        QWidget* p = w(c.panel);
        p->setVisible(false);
        p->move(3, 5);
        f.ShowPanelCentred(p);
        EXPECT_FALSE(p->isHidden());
        const QPoint expected = c.centred ? QPoint(gb->width() / 2 - p->width() / 2, gb->height() / 2 - p->height() / 2)
                                          : QPoint(3, 5);
        EXPECT_EQ(p->pos(), expected);
    }
}

TEST_F(MainWindow, AboutTabShowsCreditsAndNeverStaysActive)
{
    start();
    clickTab(w<QTabWidget>("PageControl1"), "tsAbout");
    ASSERT_EQ(aboutCredits.size(), 1);
    const QString year = QString::number(QDate::currentDate().year());
    EXPECT_TRUE(aboutCredits[0].contains(year));
    EXPECT_FALSE(aboutCredits[0].contains("##year##"));
    EXPECT_EQ(aboutCredits[0], form->BuildCreditsText());
    EXPECT_EQ(activeMainPage(), "tsAnalyse");
}

TEST_F(MainWindow, AboutTabOpensTheAboutBoxModally)
{
    // The window's own about box, not the recording one of start().
    dm = std::make_unique<TdmCommon>();
    program = std::make_unique<TReVuvidizEdevav>();
    form = std::make_unique<TForm12>(*dm, *program);
    QString seen;
    QTimer::singleShot(0, form.get(), [&] {
        QWidget* box = QApplication::activeModalWidget();
        seen = box ? QString::fromLatin1(box->metaObject()->className()) : QStringLiteral("none");
        if (box) box->close();
    });
    clickTab(w<QTabWidget>("PageControl1"), "tsAbout");
    EXPECT_EQ(seen, "signetrix::dialogs::TfrmAbout");
    EXPECT_EQ(activeMainPage(), "tsAnalyse");
}

TEST_F(MainWindow, CreditsJoinTheTableAndFillInTheYear)
{
    TForm12& f = start();
    program->JvgStringContainerCredits = {"", "A ##year## B ##year##", "##YEAR## stays"};
    const QString y = QString::number(QDate::currentDate().year());
    EXPECT_EQ(f.BuildCreditsText(), "\r\nA " + y + " B " + y + "\r\n##YEAR## stays");
}

// What the backup page shows on entry, by account state.
TEST_F(MainWindow, BackupPageEntryFollowsTheAccountState)
{
    struct Case {
        const char* id;
        int state;
        QStringList sheets;
        const char* shownPanel;
        bool validation; // pValidationInscription shown, credentials editable
    };
    const Case cases[] = {
        {"", 0, {"tsSettingAccount"}, "pInscription", true},
        {"", 1, {"tsSettingAccount"}, "pInscriptionValide", false},
        {"4711", 0, {"tsBackup", "tsRestore", "tsSettingAccount"}, nullptr, false},
        {"", 7, {"tsBackup", "tsRestore", "tsSettingAccount"}, nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id + std::string(" / ") + std::to_string(c.state));
        writeIni(QByteArray("[SettingBackupWeb]\r\nedID.Text=") + c.id + "\r\ngbSettingAccount.Tag=" +
                 QByteArray::number(c.state) + "\r\n");
        start();
        clickTab(w<QTabWidget>("PageControl1"), "tsBackupWeb");
        EXPECT_EQ(activeMainPage(), "tsBackupWeb");
        EXPECT_EQ(visibleTabs(w<QTabWidget>("PageControlBackupWeb")), c.sheets);
        if (c.shownPanel) {
            QWidget* p = w(c.shownPanel);
            auto* gb = w("gbSettingAccount");
            EXPECT_FALSE(p->isHidden());
            EXPECT_EQ(p->pos(), QPoint(gb->width() / 2 - p->width() / 2, gb->height() / 2 - p->height() / 2));
            EXPECT_TRUE(w("pCompte")->isHidden());
        }
        EXPECT_EQ(!w("pValidationInscription")->isHidden(), c.validation);
        EXPECT_EQ(w("pUpdateInscription")->isHidden(), c.validation);
        EXPECT_EQ(w("pInscription")->isHidden(), !c.validation);
        EXPECT_EQ(w<QLineEdit>("edEmail")->isReadOnly(), !c.validation);
        EXPECT_EQ(w<QLineEdit>("edPassword")->isReadOnly(), !c.validation);
        stop();
    }
}

TEST_F(MainWindow, BackupPageCannotBeLeftWhileCredentialsAreEdited)
{
    writeIni("[SettingBackupWeb]\r\nedID.Text=12\r\n");
    start();
    auto* pages = w<QTabWidget>("PageControl1");
    clickTab(pages, "tsBackupWeb");
    w("pSubmitUpdateInscription")->setVisible(true);
    clickTab(pages, "tsAnalyse");
    EXPECT_EQ(activeMainPage(), "tsBackupWeb");
    auto* sheets = w<QTabWidget>("PageControlBackupWeb");
    sheets->setCurrentWidget(w("tsSettingAccount"));
    clickTab(sheets, "tsBackup");
    EXPECT_EQ(sheets->currentWidget()->objectName(), "tsSettingAccount");

    w("pSubmitUpdateInscription")->setVisible(false);
    clickTab(pages, "tsAnalyse");
    EXPECT_EQ(activeMainPage(), "tsAnalyse");
}

TEST_F(MainWindow, DebugSwitchDropsTheBannerStrip)
{
    writeIni("[Setting]\r\nedFileMax.Text=50\r\nchkbDebug.Checked=True\r\n");
    TForm12& f = start();
    EXPECT_TRUE(w("Panel1")->isHidden());
    EXPECT_EQ(w("PageControl1")->y(), 0);
    EXPECT_EQ(f.height(), 656 - 90);
    EXPECT_EQ(f.findChild<QObject*>("edFileMax")->property("text").toString(), "50");
    f.close();
    stop();
    EXPECT_TRUE(ini().startsWith("[Setting]\r\nedFileMax.Text=50\r\nchkbDebug.Checked=True\r\n"))
        << "hand-written settings are never rewritten";
}

TEST_F(MainWindow, ClosingWritesOnlyTheAccountSection)
{
    TForm12& f = start();
    f.show();
    EXPECT_TRUE(f.close());
    EXPECT_EQ(ini(), "[SettingBackupWeb]\r\nedID.Text=\r\nedEmail.Text=\r\nedPasswordCrypt.Text=\r\n"
                     "gbSettingAccount.Tag=0\r\n");
}

TEST_F(MainWindow, AccountSectionIsSavedAtDestructionWhenNeverShown)
{
    start();
    w<QLineEdit>("edEmail")->setText("moi@example.org");
    stop();
    EXPECT_EQ(ini(), "[SettingBackupWeb]\r\nedID.Text=\r\nedEmail.Text=moi@example.org\r\nedPasswordCrypt.Text=\r\n"
                     "gbSettingAccount.Tag=0\r\n");
}

TEST_F(MainWindow, AccountPasswordIsShownDecipheredAndKeptEnciphered)
{
    const QByteArray crypt = EncipherString("s3cret", WorkingKey());
    writeIni("[SettingBackupWeb]\r\nedEmail.Text=a@b.fr\r\nedPasswordCrypt.Text=" + crypt + "\r\n");
    start();
    EXPECT_EQ(w<QLineEdit>("edPassword")->text(), "s3cret");
    EXPECT_EQ(w<QLineEdit>("edPasswordCrypt")->text().toLatin1(), crypt);
    w<QLineEdit>("edPassword")->setText("autre");
    EXPECT_EQ(w<QLineEdit>("edPasswordCrypt")->text().toLatin1(), EncipherString("autre", WorkingKey()));
}

TEST_F(MainWindow, AccountSaveFailureAtCloseIsShownAndTheWindowStillCloses)
{
    writeIni("[SettingBackupWeb]\r\nedID.Text=5\r\n");
    QFile(iniPath()).setPermissions(QFile::ReadOwner);
    TForm12& f = start();
    f.show();
    EXPECT_TRUE(f.close());
    ASSERT_EQ(boxes.shown().size(), 1u);
    EXPECT_EQ(boxes.shown()[0].text, "Unable to write to " + iniPath() + ".");
    EXPECT_EQ(boxes.shown()[0].kind, platform::MessageKind::Error);
    EXPECT_EQ(boxes.shown()[0].title, "Signetrix");
    QFile(iniPath()).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
}

} // namespace
} // namespace signetrix::test
