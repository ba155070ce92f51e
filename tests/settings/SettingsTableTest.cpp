// The settings table as data: every key of every state has a default in the
// form its property is stored in, keys are found once whatever their case, and
// each list's default is one of its own items, drawn from the action words.
#include "settings/SettingsTable.h"

#include <gtest/gtest.h>

#include <set>

namespace signetrix {
namespace {

TEST(SettingsTable, EveryKeyHasADefaultInItsPropertysForm)
{
    std::set<QString> seen;
    for (const ComponentStateSpec& spec : componentStateSpecs()) {
        SCOPED_TRACE(spec.section.toStdString());
        EXPECT_FALSE(spec.entries.empty());
        EXPECT_EQ(componentStateSpec(spec.section.toLower()), &spec);
        for (const SettingKey& row : spec.entries) {
            SCOPED_TRACE(row.key.toStdString());
            const QString property = row.key.section('.', 1);
            if (property == "ItemIndex" || property == "Tag" || property == "Value") {
                bool number = false;
                row.value.toInt(&number);
                EXPECT_TRUE(number) << "default '" << row.value.toStdString() << "' is no number";
            } else if (property == "Checked") {
                EXPECT_TRUE(row.value == "True" || row.value == "False") << row.value.toStdString();
            } else {
                EXPECT_EQ(property, "Text");
            }
            EXPECT_TRUE(seen.insert(row.key.toLower()).second) << "key listed twice";
            EXPECT_EQ(settingKey(row.key.toUpper()), &row);
        }
    }
    EXPECT_EQ(seen.size(), 28u);
    EXPECT_EQ(settingKey("cbError301"), nullptr) << "a control name alone is no key";
    EXPECT_EQ(settingKey("cbError301.Text"), nullptr);
}

TEST(SettingsTable, ListDefaultsChooseOneOfTheirOwnActionWords)
{
    const QStringList& words = actionWords();
    ASSERT_EQ(words, QStringList({"Aucun", "Mise à jour", "Supprimer"}));
    int lists = 0;
    for (const ComponentStateSpec& spec : componentStateSpecs()) {
        for (const SettingKey& row : spec.entries) {
            if (!row.isList()) continue;
            SCOPED_TRACE(row.key.toStdString());
            ++lists;
            EXPECT_TRUE(row.key.endsWith(".ItemIndex"));
            const int index = row.value.toInt();
            EXPECT_GE(index, 0);
            EXPECT_LT(index, row.items.size());
            // The cleanup reads a list's text as an action word: the items must
            // be action words, in the words' order, so the text keeps its action.
            qsizetype last = -1;
            for (const QString& item : row.items) {
                const qsizetype at = words.indexOf(item);
                EXPECT_GT(at, last) << item.toStdString();
                last = at;
            }
        }
    }
    EXPECT_EQ(lists, 9) << "the nine category lists of the actions page";
}

} // namespace
} // namespace signetrix
