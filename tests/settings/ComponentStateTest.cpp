#include "settings/ComponentState.h"
#include "settings/IniStore.h"

#include "platform/CodePage.h"
#include "platform/Errors.h"
#include "support/TestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QSpinBox>
#include <QWidget>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>

namespace signetrix {
namespace {

// Stands in for the window's radio group: an item count and a current index it clamps.
class RadioGroupStub : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int currentIndex READ currentIndex WRITE setCurrentIndex NOTIFY currentIndexChanged)
public:
    RadioGroupStub(int items, int index, QWidget* parent) : QWidget(parent), m_items(items), m_index(index) {}
    int currentIndex() const { return m_index; }
    void setCurrentIndex(int index)
    {
        index = qBound(-1, index, m_items - 1);
        if (index == m_index) return;
        m_index = index;
        emit currentIndexChanged(index);
    }
signals:
    void currentIndexChanged(int);

private:
    int m_items;
    int m_index;
};

// A text control whose reads and writes the test can intercept.
class TextStub : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setText)
public:
    using QObject::QObject;
    QString text() const
    {
        if (onRead) onRead();
        return m_text;
    }
    void setText(const QString& text)
    {
        if (throwOnWrite) throw Error(QStringLiteral("refused"));
        m_text = text;
    }
    std::function<void()> onRead;
    bool throwOnWrite = false;

private:
    QString m_text;
};

class ReadOnlyTextStub : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString text READ text)
public:
    using QObject::QObject;
    QString text() const { return QStringLiteral("fixed"); }
};

// The main window's settings controls at their form defaults.
class SettingsForm {
public:
    SettingsForm() : root(std::make_unique<QWidget>())
    {
        root->setObjectName(QStringLiteral("Form12"));
        const QStringList three = {QStringLiteral("Aucun"), QStringLiteral("Mise à jour"), QStringLiteral("Supprimer")};
        const QStringList two = {QStringLiteral("Aucun"), QStringLiteral("Supprimer")};
        auto* actions = new QWidget(root.get());
        actions->setObjectName(QStringLiteral("TabSheet1"));
        const struct {
            const char* name;
            bool threeItems;
            int index;
        } combos[] = {{"cbError301", true, 1}, {"cbError302", true, 0}, {"cbError3XX", false, 1},
                      {"cbError404", false, 1}, {"cbError4XX", false, 1}, {"cbError5XX", false, 1},
                      {"cbError1000", false, 1}, {"cbError777", false, 0}, {"cbError9", false, 1}};
        for (const auto& c : combos) {
            auto* box = new QComboBox(actions);
            box->setObjectName(QLatin1String(c.name));
            box->addItems(c.threeItems ? three : two);
            box->setCurrentIndex(c.index);
        }
        checkBox(actions, "chkbBackupBeforeDelete", true);

        auto* proxyPage = new QWidget(root.get());
        checkBox(proxyPage, "chkbProxy", false);
        auto* panel = new QWidget(proxyPage);
        panel->setObjectName(QStringLiteral("pProxy"));
        edit(panel, "edProxyHote", "localhost");
        edit(panel, "edProxyPort", "8080");
        checkBox(panel, "chkbProxyAuthentification", false);
        edit(panel, "edProxyUser", "");
        edit(panel, "edProxyPasswordCrypt", "");

        checkBox(root.get(), "chkbDeleteDossierEmpty", false);
        checkBox(root.get(), "chkbDeleteDuplicate", false);
        new RadioGroupStub(4, 3, root.get());
        root->findChildren<RadioGroupStub*>().last()->setObjectName(QStringLiteral("rdgPriorite"));
        auto* mode = new RadioGroupStub(2, 0, root.get());
        mode->setObjectName(QStringLiteral("rdgModeSectionSuppressionDoublons"));
        auto* simultaneous = new QSpinBox(root.get());
        simultaneous->setObjectName(QStringLiteral("seVerificationsSimultanees"));
        simultaneous->setRange(1, 64);
        checkBox(root.get(), "chkbReverifierEchecs", true);

        edit(root.get(), "edFileMax", "");
        checkBox(root.get(), "chkbDebug", false);

        auto* account = new QGroupBox(root.get());
        account->setObjectName(QStringLiteral("gbSettingAccount"));
        edit(account, "edID", "");
        edit(account, "edEmail", "");
        edit(account, "edPasswordCrypt", "");

        for (const ComponentStateSpec& spec : componentStateSpecs()) {
            states.push_back(std::make_unique<ComponentState>(spec, store));
            states.back()->resolve(root.get());
        }
    }

    ComponentState& state(const QString& section)
    {
        for (auto& s : states)
            if (s->section() == section) return *s;
        ADD_FAILURE() << "no state for " << section.toStdString();
        return *states.front();
    }
    void restoreAll()
    {
        for (auto& s : states) s->restore();
    }
    void saveAll()
    {
        for (auto& s : states) s->save();
    }
    QComboBox* combo(const char* name) { return test::child<QComboBox>(root.get(), QLatin1String(name)); }
    QCheckBox* check(const char* name) { return test::child<QCheckBox>(root.get(), QLatin1String(name)); }
    QLineEdit* line(const char* name) { return test::child<QLineEdit>(root.get(), QLatin1String(name)); }
    QVariant value(const char* name, const char* property)
    {
        QObject* o = test::child<QObject>(root.get(), QLatin1String(name));
        return o ? o->property(property) : QVariant();
    }

    IniStore store;
    std::unique_ptr<QWidget> root;
    std::vector<std::unique_ptr<ComponentState>> states;

private:
    static void checkBox(QWidget* parent, const char* name, bool checked)
    {
        auto* box = new QCheckBox(parent);
        box->setObjectName(QLatin1String(name));
        box->setChecked(checked);
    }
    static void edit(QWidget* parent, const char* name, const char* text)
    {
        auto* e = new QLineEdit(parent);
        e->setObjectName(QLatin1String(name));
        e->setText(QString::fromUtf8(text));
    }
};

class SettingsFile : public ::testing::Test {
protected:
    QString iniPath() const { return exe.file(QStringLiteral("Signetrix.ini")); }
    QByteArray iniBytes() const
    {
        QFile f(iniPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    void writeIni(const QByteArray& bytes) const
    {
        QFile f(iniPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    void makeReadOnly() const { QFile::setPermissions(iniPath(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther); }

    test::ExeFolderGuard exe;
};

const QByteArray kProxyDefaults = "[SettingProxy]\r\n"
                                  "chkbProxy.Checked=False\r\n"
                                  "edProxyHote.Text=localhost\r\n"
                                  "edProxyPort.Text=8080\r\n"
                                  "chkbProxyAuthentification.Checked=False\r\n"
                                  "edProxyUser.Text=\r\n"
                                  "edProxyPasswordCrypt.Text=\r\n";

const QByteArray kAccountDefaults = "[SettingBackupWeb]\r\n"
                                    "edID.Text=\r\n"
                                    "edEmail.Text=\r\n"
                                    "edPasswordCrypt.Text=\r\n"
                                    "gbSettingAccount.Tag=0\r\n";

TEST_F(SettingsFile, StoreLivesNextToTheExecutable)
{
    IniStore store;
    EXPECT_EQ(store.fileName(), iniPath());
    EXPECT_EQ(store.readString("Setting", "edFileMax.Text", " 12 "), QString("12"));
    store.writeString("Setting", "edFileMax.Text", "50");
    EXPECT_EQ(iniBytes(), QByteArray("[Setting]\r\nedFileMax.Text=50\r\n"));
    EXPECT_EQ(store.readString("setting", "EDFILEMAX.TEXT", "x"), QString("50"));

    writeIni("[Setting]\r\nedFileMax.Text=" + QByteArray(3000, '7') + "\r\n");
    EXPECT_EQ(store.readString("Setting", "edFileMax.Text", ""), QString(2047, '7'));
}

TEST_F(SettingsFile, ProxySectionAtDefaults)
{
    SettingsForm form;
    form.state("SettingProxy").save();
    EXPECT_EQ(iniBytes(), kProxyDefaults);
    EXPECT_TRUE(form.state("SettingProxy").saved());
}

TEST_F(SettingsFile, FirstWriteFollowsListOrderWhateverTheEditOrder)
{
    SettingsForm form;
    form.restoreAll(); // no file yet: everything stays at its default
    // Edits in an order unlike the lists; blanks typed around a value are not stored.
    form.check("chkbDebug")->setChecked(true);
    form.line("edProxyUser")->setText(QStringLiteral("bob"));
    form.line("edProxyHote")->setText(QStringLiteral("  proxy  "));
    form.check("chkbProxy")->setChecked(true);
    form.combo("cbError9")->setCurrentIndex(0);
    form.combo("cbError301")->setCurrentIndex(2);
    form.root->findChild<QObject*>("gbSettingAccount")->setProperty("Tag", 1);
    form.line("edID")->setText(QStringLiteral("4711"));
    form.line("edFileMax")->setText(QStringLiteral("\t25 "));
    form.saveAll();
    EXPECT_EQ(iniBytes(), QByteArray("[SettingActions]\r\n"
                                     "cbError1000.ItemIndex=1\r\n"
                                     "cbError301.ItemIndex=2\r\n"
                                     "cbError302.ItemIndex=0\r\n"
                                     "cbError3XX.ItemIndex=1\r\n"
                                     "cbError404.ItemIndex=1\r\n"
                                     "cbError4XX.ItemIndex=1\r\n"
                                     "cbError5XX.ItemIndex=1\r\n"
                                     "cbError777.ItemIndex=0\r\n"
                                     "cbError9.ItemIndex=0\r\n"
                                     "chkbBackupBeforeDelete.Checked=True\r\n"
                                     "[SettingProxy]\r\n"
                                     "chkbProxy.Checked=True\r\n"
                                     "edProxyHote.Text=proxy\r\n"
                                     "edProxyPort.Text=8080\r\n"
                                     "chkbProxyAuthentification.Checked=False\r\n"
                                     "edProxyUser.Text=bob\r\n"
                                     "edProxyPasswordCrypt.Text=\r\n"
                                     "[SettingDivers]\r\n"
                                     "chkbDeleteDossierEmpty.Checked=False\r\n"
                                     "chkbDeleteDuplicate.Checked=False\r\n"
                                     "rdgPriorite.ItemIndex=3\r\n"
                                     "rdgModeSectionSuppressionDoublons.ItemIndex=0\r\n"
                                     "seVerificationsSimultanees.Value=1\r\n"
                                     "chkbReverifierEchecs.Checked=True\r\n"
                                     "[Setting]\r\n"
                                     "edFileMax.Text=25\r\n"
                                     "chkbDebug.Checked=True\r\n"
                                     "[SettingBackupWeb]\r\n"
                                     "edID.Text=4711\r\n"
                                     "edEmail.Text=\r\n"
                                     "edPasswordCrypt.Text=\r\n"
                                     "gbSettingAccount.Tag=1\r\n"));
}

TEST_F(SettingsFile, AccountSectionIsWrittenOnlyOnceLoaded)
{
    SettingsForm form;
    ComponentState& account = form.state("SettingBackupWeb");
    ASSERT_TRUE(account.active());
    account.save();
    EXPECT_FALSE(QFile::exists(iniPath())) << "an active section never loaded must not be written";
    EXPECT_FALSE(account.saved());

    account.restore();
    EXPECT_TRUE(account.restored());
    account.save();
    EXPECT_EQ(iniBytes(), kAccountDefaults);
    EXPECT_TRUE(account.saved());

    account.restore();
    EXPECT_FALSE(account.saved()) << "a load clears the saved mark";
    EXPECT_TRUE(account.restored());

    // Inactive sections save whenever asked, loaded or not.
    SettingsForm other;
    other.state("SettingProxy").save();
    EXPECT_EQ(iniBytes(), kAccountDefaults + kProxyDefaults);
}

TEST_F(SettingsFile, LoadConvertsEachValueByItsType)
{
    const struct {
        QByteArray section;
        QByteArray line;
        const char* control;
        const char* property;
        QVariant expected;
    } cases[] = {
        {"SettingActions", "cbError404.ItemIndex=abc", "cbError404", "currentIndex", 0},
        {"SettingActions", "cbError404.ItemIndex= 0 ", "cbError404", "currentIndex", 0},
        {"SettingActions", "cbError301.ItemIndex=2", "cbError301", "currentIndex", 2},
        {"SettingActions", "cbError301.ItemIndex=7", "cbError301", "currentIndex", -1},
        {"SettingActions", "cbError302.ItemIndex=-4", "cbError302", "currentIndex", -1},
        {"SettingActions", "chkbBackupBeforeDelete.Checked=yes", "chkbBackupBeforeDelete", "checked", true},
        {"SettingActions", "chkbBackupBeforeDelete.Checked=1", "chkbBackupBeforeDelete", "checked", true},
        {"SettingActions", "chkbBackupBeforeDelete.Checked=fAlSe", "chkbBackupBeforeDelete", "checked", false},
        {"SettingProxy", "chkbProxy.Checked=TRUE", "chkbProxy", "checked", true},
        {"SettingProxy", "chkbProxy.Checked=", "chkbProxy", "checked", false},
        {"SettingProxy", "edProxyHote.Text=  proxy  ", "edProxyHote", "text", "proxy"},
        {"SettingProxy", "edProxyPort.Text=\t3128\x01", "edProxyPort", "text", "3128"},
        {"SettingProxy", "edProxyPort.Text=80a", "edProxyPort", "text", "80a"},
        {"SettingProxy", "edProxyHote.Text=", "edProxyHote", "text", ""},
        {"SettingProxy", "EDPROXYUSER.TEXT=bob = admin", "edProxyUser", "text", "bob = admin"},
        {"SettingDivers", "rdgPriorite.ItemIndex=1", "rdgPriorite", "currentIndex", 1},
        {"SettingDivers", "rdgPriorite.ItemIndex=$10", "rdgPriorite", "currentIndex", 3},
        {"SettingDivers", "seVerificationsSimultanees.Value=16", "seVerificationsSimultanees", "value", 16},
        {"SettingDivers", "seVerificationsSimultanees.Value=500", "seVerificationsSimultanees", "value", 64},
        {"SettingDivers", "seVerificationsSimultanees.Value=abc", "seVerificationsSimultanees", "value", 1},
        {"SettingDivers", "chkbReverifierEchecs.Checked=False", "chkbReverifierEchecs", "checked", false},
        {"Setting", "edFileMax.Text=50", "edFileMax", "text", "50"},
        {"Setting", "chkbDebug.Checked=True", "chkbDebug", "checked", true},
        {"SettingBackupWeb", "gbSettingAccount.Tag=1", "gbSettingAccount", "Tag", 1},
        {"SettingBackupWeb", "gbSettingAccount.Tag=x1", "gbSettingAccount", "Tag", 0},
        {"settingbackupweb", "edEmail.Text=a@b.c", "edEmail", "text", "a@b.c"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line.toStdString());
        writeIni("[" + c.section + "]\r\n" + c.line + "\r\n");
        SettingsForm form;
        form.restoreAll();
        EXPECT_EQ(form.value(c.control, c.property), c.expected);
        // Every other control keeps its default.
        if (qstrcmp(c.control, "edProxyHote") != 0) {
            EXPECT_EQ(form.line("edProxyHote")->text(), QString("localhost"));
        }
        if (qstrcmp(c.control, "rdgPriorite") != 0) {
            EXPECT_EQ(form.value("rdgPriorite", "currentIndex"), QVariant(3));
        }
    }
}

TEST_F(SettingsFile, DamagedFileLoadsWhatItCan)
{
    writeIni("garbage before any section\r\n"
             "[SettingProxy\r\n"
             "no equals sign here\r\n"
             "=value without key\r\n"
             "edProxyPort.Text=3128\r\n"
             "\r\n"
             "[SettingActions]\r\n"
             "cbError404.ItemIndex=0\r\n"
             "\x01\x02\xff binary\r\n"
             "[Other]\r\n"
             "chkbBackupBeforeDelete.Checked=False\r\n");
    SettingsForm form;
    form.restoreAll();
    EXPECT_EQ(form.line("edProxyPort")->text(), QString("3128"));
    EXPECT_EQ(form.line("edProxyHote")->text(), QString("localhost"));
    EXPECT_EQ(form.combo("cbError404")->currentIndex(), 0);
    EXPECT_EQ(form.combo("cbError301")->currentIndex(), 1);
    EXPECT_TRUE(form.check("chkbBackupBeforeDelete")->isChecked()) << "a key of another section must not load";
    for (const auto& s : form.states) EXPECT_TRUE(s->restored()) << s->section().toStdString();
}

TEST_F(SettingsFile, SavedValuesComeBackInAFreshWindow)
{
    SettingsForm first;
    first.combo("cbError301")->setCurrentIndex(-1);
    first.combo("cbError777")->setCurrentIndex(1);
    first.check("chkbBackupBeforeDelete")->setChecked(false);
    first.check("chkbProxyAuthentification")->setChecked(true);
    first.line("edProxyPasswordCrypt")->setText(QStringLiteral("ochagpnedcgdbdof"));
    first.root->findChild<QObject*>("rdgPriorite")->setProperty("currentIndex", 0);
    first.line("edEmail")->setText(QStringLiteral("someone@example.org"));
    first.root->findChild<QObject*>("gbSettingAccount")->setProperty("Tag", -3);
    first.state("SettingBackupWeb").restore();
    first.saveAll();
    EXPECT_TRUE(iniBytes().contains("\r\ncbError301.ItemIndex=-1\r\n"));
    // The account load above put the file's (missing) values back: the edits made
    // before it stay, since missing keys keep the current value.
    EXPECT_TRUE(iniBytes().contains("\r\ngbSettingAccount.Tag=-3\r\n"));

    SettingsForm second;
    second.restoreAll();
    EXPECT_EQ(second.combo("cbError301")->currentIndex(), -1);
    EXPECT_EQ(second.combo("cbError777")->currentIndex(), 1);
    EXPECT_FALSE(second.check("chkbBackupBeforeDelete")->isChecked());
    EXPECT_TRUE(second.check("chkbProxyAuthentification")->isChecked());
    EXPECT_EQ(second.line("edProxyPasswordCrypt")->text(), QString("ochagpnedcgdbdof"));
    EXPECT_EQ(second.value("rdgPriorite", "currentIndex"), QVariant(0));
    EXPECT_EQ(second.line("edEmail")->text(), QString("someone@example.org"));
    EXPECT_EQ(second.value("gbSettingAccount", "Tag"), QVariant(-3));
}

// Moves the key's control off its value; gives the new value as the file writes it.
QString changeControl(SettingsForm& form, const QString& key)
{
    QObject* control = test::child<QObject>(form.root.get(), key.section('.', 0, 0));
    if (!control) return {};
    const QString property = key.section('.', 1);
    if (property == "ItemIndex") {
        const int next = control->property("currentIndex").toInt() == 0 ? 1 : 0;
        control->setProperty("currentIndex", next);
        return QString::number(next);
    }
    if (property == "Checked") {
        const bool next = !control->property("checked").toBool();
        control->setProperty("checked", next);
        return next ? QStringLiteral("True") : QStringLiteral("False");
    }
    if (property == "Tag") {
        control->setProperty("Tag", 7);
        return QStringLiteral("7");
    }
    if (property == "Value") {
        control->setProperty("value", 5);
        return QStringLiteral("5");
    }
    control->setProperty("text", QStringLiteral("changed"));
    return QStringLiteral("changed");
}

// "key=value" lines of a settings file, by key.
std::map<QString, QString> fileValues(const QByteArray& bytes)
{
    std::map<QString, QString> values;
    for (const QByteArray& line : bytes.split('\n')) {
        const QString text = QString::fromUtf8(line).trimmed();
        const qsizetype eq = text.indexOf('=');
        if (eq > 0) values[text.left(eq)] = text.mid(eq + 1);
    }
    return values;
}

// The table's defaults against the form's own start values: after every
// control is changed, the defaults bring back what a fresh form saves; only
// the lists when just the lists are asked for.
TEST_F(SettingsFile, DefaultsBringBackWhatAFreshFormHolds)
{
    SettingsForm fresh;
    fresh.restoreAll();
    fresh.saveAll();
    const std::map<QString, QString> start = fileValues(iniBytes());
    ASSERT_EQ(start.size(), 28u);

    using Defaults = ComponentState::Defaults;
    for (const Defaults which : {Defaults::All, Defaults::ListsOnly}) {
        SCOPED_TRACE(which == Defaults::All ? "all" : "lists only");
        QFile::remove(iniPath());
        SettingsForm form;
        form.restoreAll();
        std::map<QString, QString> changed;
        for (auto& state : form.states)
            for (const QString& key : state->boundKeys()) changed[key] = changeControl(form, key);
        ASSERT_EQ(changed.size(), start.size());

        for (auto& state : form.states) state->restoreDefaults(which);
        form.saveAll();
        const std::map<QString, QString> saved = fileValues(iniBytes());
        for (const auto& [key, value] : changed) {
            SCOPED_TRACE(key.toStdString());
            const SettingKey* row = settingKey(key);
            ASSERT_NE(row, nullptr);
            const bool reset = which == Defaults::All || row->isList();
            EXPECT_EQ(saved.at(key), reset ? start.at(key) : value);
        }
    }
}

TEST_F(SettingsFile, LoadEmitsTheControlsOwnChangeSignals)
{
    writeIni("[SettingProxy]\r\nchkbProxy.Checked=True\r\nedProxyHote.Text=proxy\r\nedProxyPort.Text=8080\r\n"
             "[SettingDivers]\r\nrdgPriorite.ItemIndex=0\r\n");
    SettingsForm form;
    QSignalSpy toggled(form.check("chkbProxy"), &QCheckBox::toggled);
    QSignalSpy hostChanged(form.line("edProxyHote"), &QLineEdit::textChanged);
    QSignalSpy portChanged(form.line("edProxyPort"), &QLineEdit::textChanged);
    QSignalSpy priority(form.root->findChild<RadioGroupStub*>("rdgPriorite"), &RadioGroupStub::currentIndexChanged);
    form.restoreAll();
    EXPECT_EQ(toggled.count(), 1);
    EXPECT_EQ(hostChanged.count(), 1);
    EXPECT_EQ(portChanged.count(), 0) << "an unchanged value is no change";
    EXPECT_EQ(priority.count(), 1);
}

TEST_F(SettingsFile, SavingKeepsEveryOtherLine)
{
    // Lines the save must leave as they are, before and after the proxy keys.
    const QByteArray keptBefore = "; kept comment\r\n"
                                  "[Setting]\r\n"
                                  "edFileMax.Text=50\r\n"
                                  "chkbDebug.Checked=True\r\n"
                                  "\r\n"
                                  "[SettingProxy]\r\n"
                                  "edProxyPort.Text=3128\r\n"
                                  "unknown.Key=stays\r\n";
    const QByteArray keptAfter = "\r\n"
                                 "[SettingBackupWeb]\r\n"
                                 "edID.Text=12\r\n";
    writeIni(keptBefore + "CHKBPROXY.CHECKED=False\r\n" + keptAfter);
    SettingsForm form;
    form.restoreAll();
    EXPECT_EQ(form.line("edFileMax")->text(), QString("50"));
    EXPECT_TRUE(form.check("chkbDebug")->isChecked());
    form.line("edProxyHote")->setText(QStringLiteral("cache.lan"));
    form.state("SettingProxy").save();
    EXPECT_EQ(iniBytes(), keptBefore +
                              "chkbProxy.Checked=False\r\n"
                              "edProxyHote.Text=cache.lan\r\n"
                              "chkbProxyAuthentification.Checked=False\r\n"
                              "edProxyUser.Text=\r\n"
                              "edProxyPasswordCrypt.Text=\r\n" +
                              keptAfter);
}

TEST_F(SettingsFile, ReadOnlyFileIsRefusedAndKeptWhole)
{
    writeIni(kProxyDefaults);
    makeReadOnly();
    SettingsForm form;
    form.line("edProxyHote")->setText(QStringLiteral("elsewhere"));
    try {
        form.state("SettingProxy").save();
        ADD_FAILURE() << "a read-only file was written";
    } catch (const WriteError& e) {
        EXPECT_EQ(e.message(), "Unable to write to " + iniPath());
    }
    EXPECT_FALSE(form.state("SettingProxy").saved());
    EXPECT_EQ(iniBytes(), kProxyDefaults);
}

TEST_F(SettingsFile, SavingStopsAtTheFirstRefusedKey)
{
    writeIni("[SettingProxy]\r\nlast.Text=old\r\n");
    QObject root;
    auto* first = new TextStub(&root);
    first->setObjectName("first");
    first->setText("one");
    auto* trap = new TextStub(&root);
    trap->setObjectName("trap");
    trap->setText("two");
    // Reading this control's value makes the file read-only, as if the user had
    // changed its rights in the middle of the save.
    trap->onRead = [this] { makeReadOnly(); };
    auto* last = new TextStub(&root);
    last->setObjectName("last");
    last->setText("three");
    IniStore store;
    ComponentState state({"Test", "SettingProxy", false, {"first.Text", "trap.Text", "last.Text"}}, store);
    state.resolve(&root);
    EXPECT_THROW(state.save(), WriteError);
    EXPECT_FALSE(state.saved());
    EXPECT_EQ(iniBytes(), QByteArray("[SettingProxy]\r\nlast.Text=old\r\nfirst.Text=one\r\n"));
}

TEST_F(SettingsFile, EntriesBindByNameAndKnownProperty)
{
    SettingsForm form;
    auto* readOnly = new ReadOnlyTextStub(form.root.get());
    readOnly->setObjectName("fixedText");
    ComponentState state({"Test", "Odd", false,
                          {" chkbProxy . checked ", "EDPROXYHOTE.text", ".Text", "edProxyPort.", "nodot", "ghost.Text",
                           "edProxyUser.Checked", "edProxyUser.Enabled", "Form12.Tag", "cbError301.itemindex",
                           "fixedText.Text", "gbSettingAccount.TAG"}},
                         form.store);
    state.resolve(form.root.get());
    EXPECT_EQ(state.boundKeys(), QStringList({"chkbProxy.Checked", "EDPROXYHOTE.Text", "Form12.Tag",
                                              "cbError301.ItemIndex", "fixedText.Text", "gbSettingAccount.Tag"}));
    state.save();
    EXPECT_EQ(iniBytes(), QByteArray("[Odd]\r\n"
                                     "chkbProxy.Checked=False\r\n"
                                     "EDPROXYHOTE.Text=localhost\r\n"
                                     "Form12.Tag=0\r\n"
                                     "cbError301.ItemIndex=1\r\n"
                                     "fixedText.Text=fixed\r\n"
                                     "gbSettingAccount.Tag=0\r\n"));
}

TEST_F(SettingsFile, ControlThatRefusesItsValueDoesNotStopTheLoad)
{
    writeIni("[SettingProxy]\r\nthrowing.Text=x\r\nfixedText.Text=y\r\nedProxyHote.Text=loaded\r\n");
    SettingsForm form;
    auto* throwing = new TextStub(form.root.get());
    throwing->setObjectName("throwing");
    throwing->throwOnWrite = true;
    auto* readOnly = new ReadOnlyTextStub(form.root.get());
    readOnly->setObjectName("fixedText");
    ComponentState state({"Test", "SettingProxy", false, {"throwing.Text", "fixedText.Text", "edProxyHote.Text"}},
                         form.store);
    state.resolve(form.root.get());
    EXPECT_NO_THROW(state.restore());
    EXPECT_TRUE(state.restored());
    EXPECT_EQ(readOnly->text(), QString("fixed"));
    EXPECT_EQ(form.line("edProxyHote")->text(), QString("loaded"));
}

TEST_F(SettingsFile, TextsUseTheEightBitCodePage)
{
    test::CodePageGuard guard(codepage::current());
    const struct {
        codepage::Page page;
        QByteArray stored;
    } cases[] = {{codepage::Page::Utf8, "J\xc3\xa9r\xc3\xb4me"}, {codepage::Page::Latin1, "J\xe9r\xf4me"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored.toHex().toStdString());
        codepage::setCurrentForTesting(c.page);
        QFile::remove(iniPath());
        SettingsForm form;
        form.line("edProxyUser")->setText(QString::fromUtf8("Jérôme"));
        form.state("SettingProxy").save();
        EXPECT_TRUE(iniBytes().contains("\r\nedProxyUser.Text=" + c.stored + "\r\n"));
        SettingsForm again;
        again.restoreAll();
        EXPECT_EQ(again.line("edProxyUser")->text(), QString::fromUtf8("Jérôme"));
    }
}

TEST_F(SettingsFile, LineBreaksInsideAValueStayOnItsLine)
{
    QObject root;
    auto* user = new TextStub(&root);
    user->setObjectName("edProxyUser");
    user->setText("bob\r\nedProxyPort.Text=1");
    writeIni("[SettingProxy]\r\nedProxyPort.Text=8080\r\n");
    IniStore store;
    ComponentState state({"Test", "SettingProxy", false, {"edProxyUser.Text"}}, store);
    state.resolve(&root);
    state.save();
    EXPECT_EQ(iniBytes(), QByteArray("[SettingProxy]\r\nedProxyPort.Text=8080\r\nedProxyUser.Text=bob  edProxyPort.Text=1\r\n"));
    EXPECT_EQ(store.readString("SettingProxy", "edProxyPort.Text", ""), QString("8080"));
}

} // namespace
} // namespace signetrix

#include "ComponentStateTest.moc"
