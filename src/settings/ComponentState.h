#pragma once
// Component states: each binds an ordered list of control properties
// ("control.Property") of the main window to one section of the settings file.
// restore() sets the controls from the file, save() writes their values back.
// The controls are the settings in memory; nothing else holds them.
//
// Properties are reached through Qt's meta-object system only, so this unit
// needs no widget classes: ItemIndex maps to "currentIndex", Checked to
// "checked", Text to "text", Tag to the dynamic property "Tag" (0 when unset).
// Values are set through setProperty, so the controls emit their usual change
// signals and the window reacts as to any other change.
//
// The states, their keys and defaults are the settings table (SettingsTable.h).
#include "settings/SettingsTable.h"

#include <QPointer>
#include <QString>
#include <QStringList>

#include <vector>

class QObject;

namespace signetrix {

class IniStore;

class ComponentState {
public:
    ComponentState(ComponentStateSpec spec, IniStore& store);

    // Binds the entries to root or its descendants by object name. Entries with
    // an empty half, an unknown control or a property the control lacks are
    // dropped. Call again after the controls change.
    void resolve(QObject* root);
    // Loads the section into the bound controls. Missing keys leave a control as
    // it is; a value that cannot be set is skipped silently.
    void restore();
    // Writes the bound controls into the section, in list order. Throws
    // WriteError at the first key the file refuses (earlier keys stay written).
    // An active state that was never restored writes nothing.
    void save();
    // Sets the bound controls to the table's defaults; with ListsOnly, only the
    // controls that choose from an item list (what "Défaut" resets). Values go
    // through setProperty as a load does, so the controls' change signals fire.
    enum class Defaults { All, ListsOnly };
    void restoreDefaults(Defaults which = Defaults::All);

    bool active() const { return m_spec.active; }
    bool restored() const { return m_restored; }
    bool saved() const { return m_saved; }
    const QString& section() const { return m_spec.section; }
    const QString& name() const { return m_spec.name; }
    const ComponentStateSpec& spec() const { return m_spec; }
    // The keys bound by the last resolve(), as they are written ("cbError301.ItemIndex").
    QStringList boundKeys() const;

    int Tag = 0; // the page's changed mark; not stored

    enum class Kind { Integer, Boolean, Text };
    struct Binding {
        QPointer<QObject> control;
        QString key;             // component name + "." + declared property name
        Kind kind = Kind::Text;
        QByteArray qtProperty;   // name of the Qt property read and set
        QString defaultValue;    // from the table, in the file's text form
        bool list = false;       // chooses from the table's item list
    };

private:
    ComponentStateSpec m_spec;
    IniStore& m_store;
    std::vector<Binding> m_bindings;
    bool m_restored = false;
    bool m_saved = false;
};

} // namespace signetrix
