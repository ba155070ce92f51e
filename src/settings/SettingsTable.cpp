#include "settings/SettingsTable.h"

namespace signetrix {

const QStringList& actionWords()
{
    static const QStringList words{QStringLiteral("Aucun"), QStringLiteral("Mise à jour"), QStringLiteral("Supprimer")};
    return words;
}

namespace {

// A moved page may be updated or left; any other category is kept or deleted.
QStringList updateList() { return actionWords(); }
QStringList deleteList() { return {actionWords().at(0), actionWords().at(2)}; }

SettingKey flag(const char* control, bool on)
{
    return {QLatin1String(control) + QLatin1String(".Checked"), on ? QStringLiteral("True") : QStringLiteral("False"), {}};
}
SettingKey text(const char* control, const QString& value = {})
{
    return {QLatin1String(control) + QLatin1String(".Text"), value, {}};
}
SettingKey number(const char* control, int value)
{
    return {QLatin1String(control) + QLatin1String(".Value"), QString::number(value), {}};
}
SettingKey index(const char* control, int value, const QStringList& items = {})
{
    return {QLatin1String(control) + QLatin1String(".ItemIndex"), QString::number(value), items};
}

} // namespace

const std::vector<ComponentStateSpec>& componentStateSpecs()
{
    static const std::vector<ComponentStateSpec> specs = {
        {QStringLiteral("OvcComponentStateActions"), QStringLiteral("SettingActions"), false,
         {index("cbError1000", 1, deleteList()), index("cbError301", 1, updateList()),
          index("cbError302", 0, updateList()), index("cbError3XX", 1, deleteList()),
          index("cbError404", 1, deleteList()), index("cbError4XX", 1, deleteList()),
          index("cbError5XX", 1, deleteList()), index("cbError777", 0, deleteList()),
          index("cbError9", 1, deleteList()), flag("chkbBackupBeforeDelete", true)}},
        {QStringLiteral("OvcComponentStateProxy"), QStringLiteral("SettingProxy"), false,
         {flag("chkbProxy", false), text("edProxyHote", QStringLiteral("localhost")),
          text("edProxyPort", QStringLiteral("8080")), flag("chkbProxyAuthentification", false), text("edProxyUser"),
          text("edProxyPasswordCrypt")}},
        {QStringLiteral("OvcComponentStateDivers"), QStringLiteral("SettingDivers"), false,
         {flag("chkbDeleteDossierEmpty", false), flag("chkbDeleteDuplicate", false), index("rdgPriorite", 3),
          index("rdgModeSectionSuppressionDoublons", 0), number("seVerificationsSimultanees", 1),
          flag("chkbReverifierEchecs", true)}},
        {QStringLiteral("OvcComponentStateMaxFiles"), QStringLiteral("Setting"), false,
         {text("edFileMax"), flag("chkbDebug", false)}},
        {QStringLiteral("OvcComponentStateInscriptionBackupWeb"), QStringLiteral("SettingBackupWeb"), true,
         {text("edID"), text("edEmail"), text("edPasswordCrypt"),
          {QStringLiteral("gbSettingAccount.Tag"), QStringLiteral("0"), {}}}},
    };
    return specs;
}

const ComponentStateSpec* componentStateSpec(const QString& section)
{
    for (const ComponentStateSpec& s : componentStateSpecs())
        if (s.section.compare(section, Qt::CaseInsensitive) == 0) return &s;
    return nullptr;
}

const SettingKey* settingKey(const QString& key)
{
    for (const ComponentStateSpec& s : componentStateSpecs())
        for (const SettingKey& k : s.entries)
            if (k.key.compare(key, Qt::CaseInsensitive) == 0) return &k;
    return nullptr;
}

} // namespace signetrix
