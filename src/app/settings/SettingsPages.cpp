#include "app/settings/SettingsPages.h"

#include "app/ErrorDisplay.h"
#include "app/widgets/EditBox.h"
#include "ui_SetupPage.h"

#include "platform/CodePage.h"
#include "settings/ComponentState.h"
#include "settings/PasswordCipher.h"
#include "settings/SettingsTable.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>

#include <array>

namespace signetrix {
namespace {

std::array<QComboBox*, 9> categoryLists(Ui::SetupPage& ui)
{
    return {ui.cbError301, ui.cbError302, ui.cbError3XX, ui.cbError404, ui.cbError4XX,
            ui.cbError5XX, ui.cbError777, ui.cbError1000, ui.cbError9};
}

} // namespace

void fillSettingsLists(Ui::SetupPage& ui)
{
    for (QComboBox* list : categoryLists(ui)) {
        list->clear();
        if (const SettingKey* row = settingKey(list->objectName() + QLatin1String(".ItemIndex")))
            list->addItems(row->items);
    }
}

QString encipheredPassword(const QString& clear)
{
    const QByteArray bytes = codepage::toAnsi(clear);
    return bytes.isEmpty() ? QString() : codepage::fromAnsi(EncipherString(bytes, WorkingKey()));
}

QString decipheredPassword(const QString& stored)
{
    return codepage::fromAnsi(DecipherString(codepage::toAnsi(stored), WorkingKey()));
}

SettingsPages::SettingsPages(Ui::SetupPage& setup, ComponentState& actions, ComponentState& divers,
                             ComponentState& proxy, QObject* parent)
    : QObject(parent), ui(setup), m_actions(actions), m_divers(divers), m_proxy(proxy)
{
    // The pages start at the table's defaults. Before any reaction is
    // connected, so that starting marks no page as changed.
    fillSettingsLists(ui);
    for (ComponentState* state : {&m_actions, &m_divers, &m_proxy}) state->restoreDefaults();
    connectControls();
    ui.PageControlConfiguration->setChangingGuard([this](QWidget*) { return PageControlConfigurationChanging(); });
}

void SettingsPages::connectControls()
{
    // A combo's choice set by the program runs no reaction: only the user's
    // choice (activated) marks the page.
    for (QComboBox* combo : categoryLists(ui))
        connectHandler(combo, &QComboBox::activated, this, [this](int) { SettingActionsChange(); });
    // Check boxes, radio groups and edits react to every change of value, also
    // the ones the settings file makes.
    connectHandler(ui.chkbBackupBeforeDelete, &QCheckBox::toggled, this, [this](bool) { SettingActionsChange(); });
    connectHandler(ui.btnDefaultValues, &QPushButton::clicked, this, [this] { btnDefaultValuesClick(); });

    connectHandler(ui.chkbDeleteDuplicate, &QCheckBox::toggled, this,
                   [this](bool) { chkbDeleteDuplicateClick(ui.chkbDeleteDuplicate); });
    connectHandler(ui.chkbDeleteDossierEmpty, &QCheckBox::toggled, this, [this](bool) { SettingDiversChange(); });
    connectHandler(ui.rdgPriorite, &RadioGroup::clicked, this, [this] { SettingDiversChange(); });
    connectHandler(ui.rdgModeSectionSuppressionDoublons, &RadioGroup::clicked, this,
                   [this] { SettingDiversChange(); });
    connectHandler(ui.seVerificationsSimultanees, &QSpinBox::valueChanged, this, [this](int) { SettingDiversChange(); });
    connectHandler(ui.chkbReverifierEchecs, &QCheckBox::toggled, this, [this](bool) { SettingDiversChange(); });

    for (QLineEdit* edit : {ui.edProxyHote, ui.edProxyPort, ui.edProxyUser})
        connectHandler(edit, &QLineEdit::textChanged, this, [this](const QString&) { SettingProxyChange(); });
    connectHandler(ui.edProxyPassword, &QLineEdit::textChanged, this,
                   [this](const QString&) { edProxyPasswordChange(); });
    connectHandler(ui.chkbProxy, &QCheckBox::toggled, this, [this](bool) { chkbProxyClick(ui.chkbProxy); });
    connectHandler(ui.chkbProxyAuthentification, &QCheckBox::toggled, this,
                   [this](bool) { chkbProxyAuthentificationClick(ui.chkbProxyAuthentification); });

    connectHandler(ui.btnValidateActions, &QPushButton::clicked, this, [this] { btnValidateActionsClick(); });
    connectHandler(ui.btnValidateDivers, &QPushButton::clicked, this, [this] { btnValidateDiversClick(); });
    connectHandler(ui.btnValidateProxy, &QPushButton::clicked, this, [this] { btnValidateProxyClick(); });
    connectHandler(ui.btnCancelActions, &QPushButton::clicked, this, [this] { btnCancelActionsClick(); });
    connectHandler(ui.btnCancelDivers, &QPushButton::clicked, this, [this] { btnCancelDiversClick(); });
    connectHandler(ui.btnCancelProxy, &QPushButton::clicked, this, [this] { btnCancelProxyClick(ui.btnCancelProxy); });
}

bool SettingsPages::anyPageChanged() const { return m_actions.Tag == 1 || m_divers.Tag == 1 || m_proxy.Tag == 1; }

void SettingsPages::SettingActionsChange()
{
    ui.pChangeActions->setVisible(true);
    m_actions.Tag = 1;
}

void SettingsPages::SettingDiversChange()
{
    ui.pChangeDivers->setVisible(true);
    m_divers.Tag = 1;
}

void SettingsPages::SettingProxyChange()
{
    ui.pChangeProxy->setVisible(true);
    m_proxy.Tag = 1;
}

// "Appliquer": the mark and the panel stay when the save throws.
void SettingsPages::btnValidateActionsClick()
{
    m_actions.save();
    markActionsUnchanged();
}

void SettingsPages::btnValidateDiversClick()
{
    m_divers.save();
    markDiversUnchanged();
}

void SettingsPages::btnValidateProxyClick()
{
    m_proxy.save();
    m_proxy.Tag = 0;
    ui.pChangeProxy->setVisible(false);
}

void SettingsPages::btnCancelActionsClick()
{
    m_actions.restore();
    markActionsUnchanged();
}

void SettingsPages::btnCancelDiversClick()
{
    m_divers.restore();
    markDiversUnchanged();
}

void SettingsPages::btnCancelProxyClick(QObject*)
{
    m_proxy.restore();
    fillProxyPasswordFromStored();
    m_proxy.Tag = 0;
    ui.pChangeProxy->setVisible(false);
}

void SettingsPages::markActionsUnchanged()
{
    m_actions.Tag = 0;
    ui.pChangeActions->setVisible(false);
}

void SettingsPages::markDiversUnchanged()
{
    m_divers.Tag = 0;
    ui.pChangeDivers->setVisible(false);
}

// Only the category lists: the archive box keeps the user's choice.
void SettingsPages::btnDefaultValuesClick()
{
    m_actions.restoreDefaults(ComponentState::Defaults::ListsOnly);
    SettingActionsChange();
}

void SettingsPages::chkbProxyClick(QObject* sender)
{
    const bool useProxy = ui.chkbProxy->isChecked();
    ui.pProxy->setEnabled(useProxy);
    SetEditEditable(ui.edProxyHote, useProxy);
    SetEditEditable(ui.edProxyPort, useProxy);
    if (!useProxy) ui.chkbProxyAuthentification->setChecked(false);
    chkbProxyAuthentificationClick(sender);
    SettingProxyChange();
}

void SettingsPages::chkbProxyAuthentificationClick(QObject* sender)
{
    const bool on = ui.chkbProxyAuthentification->isChecked() && ui.chkbProxy->isChecked();
    SetEditEditable(ui.edProxyUser, on);
    SetEditEditable(ui.edProxyPassword, on);
    if (sender) SettingProxyChange();
}

void SettingsPages::chkbDeleteDuplicateClick(QObject* sender)
{
    ui.rdgModeSectionSuppressionDoublons->setVisible(ui.chkbDeleteDuplicate->isChecked());
    if (sender) SettingDiversChange();
}

void SettingsPages::edProxyPasswordChange()
{
    ui.edProxyPasswordCrypt->setText(encipheredPassword(ui.edProxyPassword->text()));
    SettingProxyChange();
}

void SettingsPages::fillProxyPasswordFromStored()
{
    ui.edProxyPassword->setText(decipheredPassword(ui.edProxyPasswordCrypt->text()));
}

bool SettingsPages::PageControlConfigurationChanging() const { return !anyPageChanged(); }

} // namespace signetrix
