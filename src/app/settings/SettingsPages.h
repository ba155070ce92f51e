#pragma once
// The three settings sub-pages (Actions, Options, Proxy): their change marks,
// apply panels, "Appliquer" / "Annuler", "Défaut", the proxy reactions and the
// proxy password, which the window holds only enciphered in
// edProxyPasswordCrypt (the field the settings file stores).
//
// A page's changed mark is the Tag of its settings state. While any mark is
// set the user can neither switch sub-page nor leave the settings tab.
// "Appliquer" that the file refuses throws; the page then stays changed.
//
// Every control of the pages starts at its default from the settings table,
// and the category lists take their items from it.
#include <QObject>
#include <QString>

namespace Ui {
class SetupPage;
}

namespace signetrix {

class ComponentState;

// A password as the settings hold it: enciphered, in the 8-bit code page
// (empty stays empty); and the shown text back from that form.
QString encipheredPassword(const QString& clear);
QString decipheredPassword(const QString& stored);

// Fills the nine category lists with the settings table's items (no choice made).
void fillSettingsLists(Ui::SetupPage& ui);

class SettingsPages : public QObject {
    Q_OBJECT

public:
    SettingsPages(Ui::SetupPage& ui, ComponentState& actions, ComponentState& divers, ComponentState& proxy,
                  QObject* parent = nullptr);

    bool anyPageChanged() const;

    void SettingActionsChange();
    void SettingDiversChange();
    void SettingProxyChange();

    void btnValidateActionsClick();
    void btnValidateDiversClick();
    void btnValidateProxyClick();
    void btnCancelActionsClick();
    void btnCancelDiversClick();
    void btnCancelProxyClick(QObject* sender);
    void btnDefaultValuesClick();

    // sender is nullptr when the program calls the reaction itself.
    void chkbProxyClick(QObject* sender);
    void chkbProxyAuthentificationClick(QObject* sender);
    void chkbDeleteDuplicateClick(QObject* sender);
    void edProxyPasswordChange();

    bool PageControlConfigurationChanging() const; // false refuses the switch

    // Sets the shown proxy password from its enciphered stored form.
    void fillProxyPasswordFromStored();
    // Clears a page's mark and hides its apply panel.
    void markActionsUnchanged();
    void markDiversUnchanged();

private:
    void connectControls();

    Ui::SetupPage& ui;
    ComponentState& m_actions;
    ComponentState& m_divers;
    ComponentState& m_proxy;
};

} // namespace signetrix
