// The settings pages through the real window: change marks, apply panels,
// guards, "Appliquer" / "Annuler" / "Défaut", proxy reactions and password,
// and the bytes they leave in Signetrix.ini.
#include "WindowFixture.h"

#include "app/dialogs/UTemplateHint.h"
#include "app/widgets/RadioGroup.h"
#include "settings/PasswordCipher.h"
#include "settings/SettingsTable.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

namespace signetrix::test {
namespace {

class SettingsPagesTest : public WindowFixture {
public:
    using WindowFixture::w;
    // A user's choice in a combo box (the program's own choices run no reaction).
    void choose(const char* combo, int index)
    {
        auto* c = w<QComboBox>(combo);
        c->setCurrentIndex(index);
        emit c->activated(index);
    }
    void click(const char* button) { w<QPushButton>(button)->click(); }
    bool panelShown(const char* panel) { return !w(panel)->isHidden(); }
    QString subPage() { return w<QTabWidget>("PageControlConfiguration")->currentWidget()->objectName(); }
    void openSettings() { clickTab(w<QTabWidget>("PageControl1"), "tsSetup"); }
};

const char* const kPanels[] = {"pChangeActions", "pChangeDivers", "pChangeProxy"};

TEST_F(SettingsPagesTest, StartUpEndsWithNoPageChangedAndDefaults)
{
    start();
    for (const char* p : kPanels) EXPECT_FALSE(panelShown(p)) << p;
    EXPECT_EQ(form->OvcComponentStateActions().Tag, 0);
    EXPECT_EQ(form->OvcComponentStateProxy().Tag, 0);
    EXPECT_EQ(form->OvcComponentStateDivers().Tag, 0);

    const std::pair<const char*, QStringList> combos[] = {
        {"cbError301", {"Aucun", "Mise à jour", "Supprimer"}}, {"cbError302", {"Aucun", "Mise à jour", "Supprimer"}},
        {"cbError3XX", {"Aucun", "Supprimer"}},                {"cbError404", {"Aucun", "Supprimer"}},
        {"cbError4XX", {"Aucun", "Supprimer"}},                {"cbError5XX", {"Aucun", "Supprimer"}},
        {"cbError777", {"Aucun", "Supprimer"}},                {"cbError1000", {"Aucun", "Supprimer"}},
        {"cbError9", {"Aucun", "Supprimer"}},
    };
    const int defaults[] = {1, 0, 1, 1, 1, 1, 0, 1, 1};
    for (size_t i = 0; i < std::size(combos); ++i) {
        SCOPED_TRACE(combos[i].first);
        auto* c = w<QComboBox>(combos[i].first);
        QStringList items;
        for (int k = 0; k < c->count(); ++k) items << c->itemText(k);
        EXPECT_EQ(items, combos[i].second);
        EXPECT_EQ(c->currentIndex(), defaults[i]);
        EXPECT_FALSE(c->isEditable());
    }
    EXPECT_TRUE(w<QCheckBox>("chkbBackupBeforeDelete")->isChecked());
    EXPECT_EQ(w<RadioGroup>("rdgPriorite")->currentIndex(), 3);
    EXPECT_EQ(w<RadioGroup>("rdgModeSectionSuppressionDoublons")->currentIndex(), 0);
    EXPECT_TRUE(w("rdgModeSectionSuppressionDoublons")->isHidden());
    EXPECT_EQ(w<QLineEdit>("edProxyHote")->text(), "localhost");
    EXPECT_EQ(w<QLineEdit>("edProxyPort")->text(), "8080");
    EXPECT_FALSE(w("pProxy")->isEnabled());
    EXPECT_TRUE(w<QLineEdit>("edProxyHote")->isReadOnly());
    EXPECT_EQ(w<QLineEdit>("edProxyPassword")->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(w("edProxyPasswordCrypt")->isHidden());

    openSettings();
    EXPECT_EQ(activeMainPage(), "tsSetup");
    clickTab(w<QTabWidget>("PageControl1"), "tsUpdate");
    EXPECT_EQ(activeMainPage(), "tsUpdate") << "an unchanged settings page can be left freely";
    EXPECT_TRUE(ini().isEmpty()) << "start-up writes nothing";
}

// Every key of the settings table, on any page of a window started without a
// settings file, shows the table's default; the lists show the table's items.
TEST_F(SettingsPagesTest, FreshWindowShowsTheSettingsTable)
{
    start();
    for (const ComponentStateSpec& spec : componentStateSpecs()) {
        for (const SettingKey& row : spec.entries) {
            SCOPED_TRACE(row.key.toStdString());
            QObject* control = child<QObject>(form.get(), row.key.section('.', 0, 0));
            if (!control) continue;
            const QString property = row.key.section('.', 1);
            QString shown;
            if (property == "ItemIndex") shown = QString::number(control->property("currentIndex").toInt());
            else if (property == "Checked") shown = control->property("checked").toBool() ? "True" : "False";
            else if (property == "Tag") shown = QString::number(control->property("Tag").toInt());
            else shown = control->property("text").toString();
            EXPECT_EQ(shown, row.value);
            if (row.isList()) {
                auto* list = qobject_cast<QComboBox*>(control);
                ASSERT_NE(list, nullptr);
                QStringList items;
                for (int k = 0; k < list->count(); ++k) items << list->itemText(k);
                EXPECT_EQ(items, row.items);
            }
        }
    }
}

// An edit on each page marks it, holds the user on it, and "Appliquer" writes
// exactly that page's section in list order.
TEST_F(SettingsPagesTest, ApplyWritesTheSectionAndFreesNavigation)
{
    struct Case {
        const char* page;
        const char* panel;
        std::function<void(SettingsPagesTest&)> edit;
        const char* apply;
        QByteArray bytes;
    };
    const Case cases[] = {
        {"TabSheet1", "pChangeActions", [](SettingsPagesTest& t) { t.choose("cbError404", 0); }, "btnValidateActions",
         "[SettingActions]\r\ncbError1000.ItemIndex=1\r\ncbError301.ItemIndex=1\r\ncbError302.ItemIndex=0\r\n"
         "cbError3XX.ItemIndex=1\r\ncbError404.ItemIndex=0\r\ncbError4XX.ItemIndex=1\r\ncbError5XX.ItemIndex=1\r\n"
         "cbError777.ItemIndex=0\r\ncbError9.ItemIndex=1\r\nchkbBackupBeforeDelete.Checked=True\r\n"},
        {"TabSheet2", "pChangeDivers",
         [](SettingsPagesTest& t) { t.w<RadioGroup>("rdgPriorite")->button(1)->click(); }, "btnValidateDivers",
         "[SettingDivers]\r\nchkbDeleteDossierEmpty.Checked=False\r\nchkbDeleteDuplicate.Checked=False\r\n"
         "rdgPriorite.ItemIndex=1\r\nrdgModeSectionSuppressionDoublons.ItemIndex=0\r\n"
         "seVerificationsSimultanees.Value=1\r\nchkbReverifierEchecs.Checked=True\r\n"},
        {"Proxy", "pChangeProxy", [](SettingsPagesTest& t) { t.w<QCheckBox>("chkbProxy")->click(); }, "btnValidateProxy",
         "[SettingProxy]\r\nchkbProxy.Checked=True\r\nedProxyHote.Text=localhost\r\nedProxyPort.Text=8080\r\n"
         "chkbProxyAuthentification.Checked=False\r\nedProxyUser.Text=\r\nedProxyPasswordCrypt.Text=\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.page);
        QFile::remove(iniPath());
        start();
        openSettings();
        clickTab(w<QTabWidget>("PageControlConfiguration"), c.page);
        c.edit(*this);
        EXPECT_TRUE(panelShown(c.panel));

        clickTab(w<QTabWidget>("PageControlConfiguration"), c.page == std::string("Proxy") ? "TabSheet1" : "Proxy");
        EXPECT_EQ(subPage(), c.page) << "the sub-page cannot be switched";
        clickTab(w<QTabWidget>("PageControl1"), "tsAnalyse");
        EXPECT_EQ(activeMainPage(), "tsSetup") << "the settings tab cannot be left";
        EXPECT_TRUE(ini().isEmpty()) << "nothing is saved before Appliquer";

        click(c.apply);
        EXPECT_FALSE(panelShown(c.panel));
        EXPECT_EQ(ini(), c.bytes);
        clickTab(w<QTabWidget>("PageControl1"), "tsAnalyse");
        EXPECT_EQ(activeMainPage(), "tsAnalyse");
        stop();
    }
}

TEST_F(SettingsPagesTest, CancelPutsTheStoredValuesBack)
{
    writeIni("[SettingActions]\r\ncbError404.ItemIndex=0\r\n[SettingDivers]\r\nchkbDeleteDossierEmpty.Checked=True\r\n"
             "[SettingProxy]\r\nedProxyHote.Text=proxy.lan\r\n");
    start();
    openSettings();
    choose("cbError404", 1);
    click("btnCancelActions");
    EXPECT_EQ(w<QComboBox>("cbError404")->currentIndex(), 0);
    EXPECT_FALSE(panelShown("pChangeActions"));

    clickTab(w<QTabWidget>("PageControlConfiguration"), "TabSheet2");
    w<QCheckBox>("chkbDeleteDossierEmpty")->click();
    EXPECT_TRUE(panelShown("pChangeDivers"));
    click("btnCancelDivers");
    EXPECT_TRUE(w<QCheckBox>("chkbDeleteDossierEmpty")->isChecked());
    EXPECT_FALSE(panelShown("pChangeDivers"));

    clickTab(w<QTabWidget>("PageControlConfiguration"), "Proxy");
    w<QLineEdit>("edProxyHote")->setText("autre");
    EXPECT_TRUE(panelShown("pChangeProxy"));
    click("btnCancelProxy");
    EXPECT_EQ(w<QLineEdit>("edProxyHote")->text(), "proxy.lan");
    EXPECT_FALSE(panelShown("pChangeProxy"));
    clickTab(w<QTabWidget>("PageControl1"), "tsAnalyse");
    EXPECT_EQ(activeMainPage(), "tsAnalyse");
}

TEST_F(SettingsPagesTest, DefaultRestoresTheNineCombosButNotTheBackupBox)
{
    start();
    openSettings();
    const char* combos[] = {"cbError301", "cbError302", "cbError3XX", "cbError404", "cbError4XX",
                            "cbError5XX", "cbError1000", "cbError777", "cbError9"};
    for (const char* c : combos) {
        const int last = w<QComboBox>(c)->count() - 1;
        choose(c, w<QComboBox>(c)->currentIndex() == last ? 0 : last);
    }
    w<QCheckBox>("chkbBackupBeforeDelete")->click();
    click("btnValidateActions");
    ASSERT_FALSE(panelShown("pChangeActions"));

    click("btnDefaultValues");
    const int expected[] = {1, 0, 1, 1, 1, 1, 1, 0, 1};
    for (size_t i = 0; i < std::size(combos); ++i) EXPECT_EQ(w<QComboBox>(combos[i])->currentIndex(), expected[i]) << combos[i];
    EXPECT_FALSE(w<QCheckBox>("chkbBackupBeforeDelete")->isChecked());
    EXPECT_TRUE(panelShown("pChangeActions"));
    clickTab(w<QTabWidget>("PageControl1"), "tsAnalyse");
    EXPECT_EQ(activeMainPage(), "tsSetup");

    click("btnCancelActions");
    EXPECT_EQ(w<QComboBox>("cbError301")->currentIndex(), 2) << "Annuler brings back the stored choices";
}

TEST_F(SettingsPagesTest, UntickingTheProxyUnticksAuthenticationAndGreysTheEdits)
{
    writeIni("[SettingProxy]\r\nchkbProxy.Checked=True\r\nchkbProxyAuthentification.Checked=True\r\n");
    start();
    EXPECT_FALSE(panelShown("pChangeProxy"));
    for (const char* e : {"edProxyHote", "edProxyPort", "edProxyUser", "edProxyPassword"})
        EXPECT_FALSE(w<QLineEdit>(e)->isReadOnly()) << e;

    w<QCheckBox>("chkbProxy")->click();
    EXPECT_FALSE(w<QCheckBox>("chkbProxyAuthentification")->isChecked());
    EXPECT_FALSE(w("pProxy")->isEnabled());
    for (const char* e : {"edProxyHote", "edProxyPort", "edProxyUser", "edProxyPassword"}) {
        SCOPED_TRACE(e);
        auto* edit = w<QLineEdit>(e);
        EXPECT_TRUE(edit->isReadOnly());
        EXPECT_EQ(edit->palette().color(QPalette::Base), QColor(160, 160, 164));
    }
    EXPECT_TRUE(panelShown("pChangeProxy"));
}

TEST_F(SettingsPagesTest, ProxyPasswordIsStoredEncipheredAndShownAgainAtNextStart)
{
    start();
    openSettings();
    clickTab(w<QTabWidget>("PageControlConfiguration"), "Proxy");
    w<QCheckBox>("chkbProxy")->click();
    w<QCheckBox>("chkbProxyAuthentification")->click();
    w<QLineEdit>("edProxyPassword")->setText("mot2passe");
    const QByteArray crypt = EncipherString("mot2passe", WorkingKey());
    EXPECT_EQ(w<QLineEdit>("edProxyPasswordCrypt")->text().toLatin1(), crypt);
    click("btnValidateProxy");
    EXPECT_TRUE(ini().contains("\r\nedProxyPasswordCrypt.Text=" + crypt + "\r\n"));
    EXPECT_FALSE(ini().contains("mot2passe"));
    stop();

    start();
    EXPECT_EQ(w<QLineEdit>("edProxyPassword")->text(), "mot2passe");
    EXPECT_EQ(form->proxyValues().password, "mot2passe");
    EXPECT_FALSE(panelShown("pChangeProxy"));

    w<QLineEdit>("edProxyPassword")->setText("nouveau");
    click("btnCancelProxy");
    EXPECT_EQ(w<QLineEdit>("edProxyPassword")->text(), "mot2passe");
    EXPECT_EQ(w<QLineEdit>("edProxyPasswordCrypt")->text().toLatin1(), crypt);

    w<QLineEdit>("edProxyPassword")->clear();
    click("btnValidateProxy");
    EXPECT_TRUE(ini().contains("\r\nedProxyPasswordCrypt.Text=\r\n"));
}

// A settings file with odd values starts with what can be loaded.
TEST_F(SettingsPagesTest, OddValuesLoadAsFarAsTheyCan)
{
    writeIni("[SettingActions]\r\ncbError404.ItemIndex=abc\r\ncbError301.ItemIndex=7\r\n"
             "chkbBackupBeforeDelete.Checked=false\r\n"
             "[SettingProxy]\r\nchkbProxy.Checked=yes\r\nedProxyHote.Text=  proxy  \r\nedProxyPort.Text=80a\r\n"
             "[SettingDivers]\r\nchkbDeleteDuplicate.Checked=TRUE\r\nrdgPriorite.ItemIndex=9\r\n"
             "rdgModeSectionSuppressionDoublons.ItemIndex=-5\r\n");
    start();
    EXPECT_EQ(w<QComboBox>("cbError404")->currentIndex(), 0);
    EXPECT_EQ(w<QComboBox>("cbError301")->currentIndex(), -1) << "a choice outside the list leaves no choice";
    EXPECT_FALSE(w<QCheckBox>("chkbBackupBeforeDelete")->isChecked());
    EXPECT_FALSE(w<QCheckBox>("chkbProxy")->isChecked());
    EXPECT_EQ(w<QLineEdit>("edProxyHote")->text(), "proxy");
    EXPECT_EQ(w<QLineEdit>("edProxyPort")->text(), "80a");
    EXPECT_TRUE(w<QCheckBox>("chkbDeleteDuplicate")->isChecked());
    EXPECT_FALSE(w("rdgModeSectionSuppressionDoublons")->isHidden());
    EXPECT_EQ(w<RadioGroup>("rdgPriorite")->currentIndex(), 3);
    EXPECT_EQ(w<RadioGroup>("rdgModeSectionSuppressionDoublons")->currentIndex(), -1);
    for (const char* p : kPanels) EXPECT_FALSE(panelShown(p)) << p;
    EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(SettingsPagesTest, RefusedWriteKeepsThePageChanged)
{
    const QByteArray before = "[SettingActions]\r\ncbError404.ItemIndex=1\r\n";
    writeIni(before);
    QFile(iniPath()).setPermissions(QFile::ReadOwner);
    start();
    openSettings();
    choose("cbError404", 0);
    click("btnValidateActions");
    ASSERT_EQ(boxes.texts(), QStringList{"Unable to write to " + iniPath() + "."});
    EXPECT_EQ(boxes.shown()[0].kind, platform::MessageKind::Error);
    EXPECT_TRUE(panelShown("pChangeActions"));
    EXPECT_EQ(form->OvcComponentStateActions().Tag, 1);
    EXPECT_EQ(ini(), before);
    clickTab(w<QTabWidget>("PageControl1"), "tsAnalyse");
    EXPECT_EQ(activeMainPage(), "tsSetup");

    QFile(iniPath()).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    click("btnValidateActions");
    EXPECT_FALSE(panelShown("pChangeActions"));
    EXPECT_TRUE(ini().contains("\r\ncbError404.ItemIndex=0\r\n"));
}

TEST_F(SettingsPagesTest, HelpButtonsOpenTheirHelpTables)
{
    start();
    const std::pair<const char*, dialogs::HelpTable> cases[] = {
        {"btnpHelp3XX", dialogs::HelpTable::CodesError3XX},
        {"btnpHelp4XX", dialogs::HelpTable::CodesError4XX},
        {"btnpHelp5XX", dialogs::HelpTable::CodesError5XX},
        {"btnpHelpErrorFile", dialogs::HelpTable::CodesErrorFiles},
    };
    for (const auto& [button, table] : cases) {
        SCOPED_TRACE(button);
        QString shownText;
        QTimer::singleShot(0, form.get(), [&] {
            auto* hint = qobject_cast<dialogs::TfrmTemplateHint*>(QApplication::activeModalWidget());
            if (!hint) return;
            shownText = hint->text();
            hint->close();
        });
        click(button);
        EXPECT_EQ(shownText, dialogs::helpText(table));
    }
    EXPECT_FALSE(panelShown("pChangeActions")) << "reading help changes nothing";
}

TEST_F(SettingsPagesTest, DuplicateBoxShowsTheModeGroup)
{
    start();
    openSettings();
    clickTab(w<QTabWidget>("PageControlConfiguration"), "TabSheet2");
    w<QCheckBox>("chkbDeleteDuplicate")->click();
    EXPECT_FALSE(w("rdgModeSectionSuppressionDoublons")->isHidden());
    EXPECT_TRUE(panelShown("pChangeDivers"));
    w<QCheckBox>("chkbDeleteDuplicate")->click();
    EXPECT_TRUE(w("rdgModeSectionSuppressionDoublons")->isHidden());
}

} // namespace
} // namespace signetrix::test
