// The program data module carries one FTP connection and one folder
// synchronisation, found by their names, owned by the module, with their
// start values.
#include "app/DataModules.h"
#include "backup/UKelFTPConnexion.h"
#include "backup/UKelSynchroFolder.h"
#include "app/dialogs/UWait.h"

#include <QLabel>

#include <QVariant>

#include <gtest/gtest.h>

#include <utility>

namespace signetrix::test {
namespace {

using backup::TKelFTPConnexion;
using backup::TKelSynchroFolder;

template <std::size_t N>
void expectProperties(const QObject& component, const std::pair<const char*, QVariant> (&expected)[N])
{
    for (const auto& [name, value] : expected) {
        SCOPED_TRACE(name);
        EXPECT_EQ(component.property(name), value);
    }
}

TEST(ProgramDataModule, HoldsTheConnectionAndTheSynchronisationWithTheirStartValues)
{
    TdmCommon common;
    TReVuvidizEdevav program;

    auto* connection = program.findChild<TKelFTPConnexion*>(QStringLiteral("KelFTPConnexion"), Qt::FindDirectChildrenOnly);
    auto* synchro = program.findChild<TKelSynchroFolder*>(QStringLiteral("KelSynchroFolder"), Qt::FindDirectChildrenOnly);
    ASSERT_NE(connection, nullptr);
    ASSERT_NE(synchro, nullptr);
    EXPECT_EQ(program.KelFTPConnexion, connection);
    EXPECT_EQ(program.KelSynchroFolder, synchro);
    EXPECT_EQ(program.findChildren<TKelFTPConnexion*>().size(), 1);
    EXPECT_EQ(program.findChildren<TKelSynchroFolder*>().size(), 1);
    // They belong to the program module, not the shared one.
    EXPECT_EQ(common.findChild<TKelFTPConnexion*>(), nullptr);
    EXPECT_EQ(common.findChild<TKelSynchroFolder*>(), nullptr);

    const std::pair<const char*, QVariant> connectionValues[] = {
        {"DomaineName", QString()},     {"RootRemotePath", QString()},    {"RemotePath", QString()},
        {"ServerFtp", QString()},       {"PortFtp", 0},                   {"UserName", QString()},
        {"Password", QString()},        {"ModePassif", false},            {"FullDetailFiles", false},
        {"PathDestination", QString()}, {"ListFiles", QStringList()},     {"ListFileName", QString()},
    };
    expectProperties(*connection, connectionValues);

    const std::pair<const char*, QVariant> synchroValues[] = {
        {"FilesFilter", QString()},
        {"SourceFolder", QString()},
        {"DestinationFolder", QString()},
        {"DestinationType", QVariant::fromValue(TKelSynchroFolder::sfdLocal)},
        {"Methode", QVariant::fromValue(TKelSynchroFolder::sfmSimple)},
        {"ListResult", QStringList()},
        {"Ftp", QVariant::fromValue<TKelFTPConnexion*>(nullptr)},
        {"ProgressFormFtp", QVariant::fromValue<QObject*>(nullptr)},
    };
    expectProperties(*synchro, synchroValues);
}

} // namespace
} // namespace signetrix::test

namespace signetrix::test {
namespace {

// The real progress dialog is relabelled as soon as it is assigned.
TEST(ProgramDataModule, TheSynchronisationRelabelsTheRealWaitDialog)
{
    TReVuvidizEdevav program;
    dialogs::TfrmWait wait;
    program.KelSynchroFolder->setProgressFormFtp(&wait);
    EXPECT_EQ(wait.findChild<QLabel*>(QStringLiteral("lData"))->text(), QStringLiteral("Analyse avant synchronisation"));
    EXPECT_EQ(wait.findChild<QLabel*>(QStringLiteral("lTransfert"))->text(), QStringLiteral("Transfert des images"));
}

} // namespace
} // namespace signetrix::test
