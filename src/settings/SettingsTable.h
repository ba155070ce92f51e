#pragma once
// The settings table: the program's component states, each with its section of
// the settings file and its keys, and every key with its default value and,
// for a combo box, its item list. The window's start values and item lists,
// "Défaut" and the cleanup's default corrections all read it, so a default or
// an action word is written once.
//
// Defaults are in the file's text form: an index ("1"), "True" / "False", or
// the text itself. The table is fixed data; nothing here can fail.
#include <QString>
#include <QStringList>

#include <vector>

namespace signetrix {

struct SettingKey {
    // A key named alone (a state made up on the spot) has an empty default.
    SettingKey(const char* key) : key(QString::fromUtf8(key)) {}
    SettingKey(QString key, QString value = {}, QStringList items = {})
        : key(std::move(key)), value(std::move(value)), items(std::move(items))
    {
    }

    QString key;       // "control.Property", as the settings file writes it
    QString value;     // the default, in the file's text form
    QStringList items; // a combo box's items in order; empty for every other control

    bool isList() const { return !items.isEmpty(); }
    // A list's default item; empty for a control without items.
    QString defaultItem() const { return items.value(value.toInt()); }
};

struct ComponentStateSpec {
    QString name;        // the window's member name of the component state
    QString section;     // section of the settings file
    bool active = false; // also loaded and saved with the window's life (see the window)
    std::vector<SettingKey> entries; // in the order keys are first written
};

// The program's five component states, in load order.
const std::vector<ComponentStateSpec>& componentStateSpecs();
// The description of the given section's state (case-insensitive), or nullptr.
const ComponentStateSpec* componentStateSpec(const QString& section);
// The row of a key of any state (case-insensitive), or nullptr.
const SettingKey* settingKey(const QString& key);

// The cleanup's action words, by action number: "Aucun", "Mise à jour",
// "Supprimer". The category lists offer all three or only the first and last.
const QStringList& actionWords();

} // namespace signetrix
