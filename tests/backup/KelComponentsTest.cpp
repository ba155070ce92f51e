// The FTP connection and folder synchronisation components: the names read
// out of a detailed listing, what reaches the connection's own client, the
// folder normalisation, and the relabelling of the progress form.
#include "backup/UKelFTPConnexion.h"
#include "backup/UKelSynchroFolder.h"
#include "cleanup/FileOperation.h"

#include <QMetaProperty>
#include <QPointer>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <memory>

namespace signetrix::backup {
namespace {

QStringList publishedProperties(const QMetaObject& meta)
{
    QStringList names;
    for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i) names << QString::fromLatin1(meta.property(i).name());
    return names;
}

// ---------------------------------------------------------------- listing

// A Unix long listing puts the name at column 57 when the size is 5 wide.
constexpr const char* kFilePrefix = "-rw-r--r--    1 ftp      ftp         48213 Mar 14 09:26 ";
constexpr const char* kFolderPrefix = "drwxr-xr-x    2 ftp      ftp          4096 Mar 14 09:26 ";
constexpr const char* kLinkPrefix = "lrwxrwxrwx    1 ftp      ftp            11 Mar 14 09:26 ";

QString line(const char* prefix, const char* rest)
{
    return QString::fromLatin1(prefix) + QString::fromUtf8(rest);
}

TEST(KelListFileName, TheTestListingPutsNamesAtColumn57)
{
    for (const char* prefix : {kFilePrefix, kFolderPrefix, kLinkPrefix}) {
        SCOPED_TRACE(prefix);
        EXPECT_EQ(QString::fromLatin1(prefix).size(), 56);
    }
}

struct ListingCase {
    const char* what;
    QStringList lines;
    QString names;
};

class KelListFileNameTable : public ::testing::TestWithParam<ListingCase> {};

TEST_P(KelListFileNameTable, CollectsThePlainFilesNamesEachWithCrLf)
{
    SCOPED_TRACE(GetParam().what);
    TKelFTPConnexion connection;
    connection.setListFiles(GetParam().lines);
    EXPECT_EQ(connection.ListFileName(), GetParam().names);
    // The same through the published, read-only property.
    EXPECT_EQ(connection.property("ListFileName").toString(), GetParam().names);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, KelListFileNameTable,
    ::testing::Values(
        ListingCase{"plain file", {line(kFilePrefix, "photo.jpg")}, "photo.jpg\r\n"},
        ListingCase{"blanks inside a name are kept", {line(kFilePrefix, "mes vacances.jpg")}, "mes vacances.jpg\r\n"},
        ListingCase{"trailing blanks and tabs trimmed", {line(kFilePrefix, "index.html  \t ")}, "index.html\r\n"},
        ListingCase{"folder", {line(kFolderPrefix, "images")}, ""},
        ListingCase{"link", {line(kLinkPrefix, "courant -> v2/index.html")}, ""},
        ListingCase{"dot file", {line(kFilePrefix, ".htaccess")}, ""},
        // The full stop is looked for after trimming, not at column 57 itself.
        ListingCase{"dot file behind blanks", {line(kFilePrefix, "   .profile")}, ""},
        ListingCase{"line shorter than 57", {"total 48"}, "\r\n"},
        ListingCase{"empty line", {""}, "\r\n"},
        ListingCase{"line of exactly 56 characters", {QString::fromLatin1(kFilePrefix)}, "\r\n"},
        // A fixed column, not the last field: a narrower size column shifts
        // the name left and its first characters are lost.
        ListingCase{"fixed column",
                    {"-rw-r--r--    1 ftp      ftp         482 Mar 14 09:26 photo.jpg"},
                    "oto.jpg\r\n"},
        ListingCase{"only a leading lowercase d or l skips",
                    {line("Drwxr-xr-x    2 ftp      ftp          4096 Mar 14 09:26 ", "majuscule"),
                     line(kFilePrefix, "dossier.txt")},
                    "majuscule\r\ndossier.txt\r\n"},
        ListingCase{"listing order kept",
                    {"total 12", line(kFolderPrefix, "."), line(kFolderPrefix, ".."), line(kFilePrefix, "b.png"),
                     line(kLinkPrefix, "lien -> b.png"), line(kFilePrefix, "a.png"), line(kFilePrefix, ".cache")},
                    "\r\nb.png\r\na.png\r\n"},
        ListingCase{"empty list", {}, ""}),
    [](const ::testing::TestParamInfo<ListingCase>& info) { return std::to_string(info.index); });

TEST(KelListFileName, FollowsEachAssignmentOfTheListing)
{
    TKelFTPConnexion connection;
    connection.setProperty("ListFiles", QStringList{line(kFilePrefix, "un.txt"), line(kFilePrefix, "deux.txt")});
    EXPECT_EQ(connection.ListFileName(), "un.txt\r\ndeux.txt\r\n");

    // The new lines replace the old ones rather than adding to them.
    connection.setListFiles({line(kFilePrefix, "trois.txt")});
    EXPECT_EQ(connection.ListFiles(), QStringList{line(kFilePrefix, "trois.txt")});
    EXPECT_EQ(connection.ListFileName(), "trois.txt\r\n");

    connection.setListFiles({});
    EXPECT_EQ(connection.ListFileName(), "");
}

// ------------------------------------------------------------- connection

TEST(KelFTPConnexion, PublishesItsPropertiesInOrderWithListFileNameReadOnly)
{
    const QMetaObject& meta = TKelFTPConnexion::staticMetaObject;
    EXPECT_EQ(publishedProperties(meta),
              (QStringList{"DomaineName", "RootRemotePath", "RemotePath", "ServerFtp", "PortFtp", "UserName", "Password",
                           "ModePassif", "FullDetailFiles", "PathDestination", "ListFiles", "ListFileName"}));
    for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i) {
        SCOPED_TRACE(meta.property(i).name());
        EXPECT_EQ(meta.property(i).isWritable(), QByteArray(meta.property(i).name()) != "ListFileName");
    }
}

TEST(KelFTPConnexion, StartsEmptyAndItsClientOnPort21)
{
    QObject owner;
    auto* connection = new TKelFTPConnexion(&owner);
    EXPECT_EQ(connection->parent(), &owner);
    EXPECT_EQ(connection->PortFtp(), 0);
    EXPECT_FALSE(connection->ModePassif());
    EXPECT_FALSE(connection->FullDetailFiles());
    EXPECT_TRUE(connection->ServerFtp().isEmpty());
    EXPECT_TRUE(connection->ListFiles().isEmpty());

    const TKelFtpClient& client = connection->Client();
    EXPECT_EQ(client.Port, 21);
    EXPECT_TRUE(client.Host.isEmpty());
    EXPECT_FALSE(client.Passive);
    EXPECT_FALSE(client.Connected());
}

TEST(KelFTPConnexion, PassesServerPortCredentialsAndPassiveSwitchToItsClient)
{
    // Set by name, as a component's published properties are.
    TKelFTPConnexion connection;
    connection.setProperty("ServerFtp", QStringLiteral("ftp.exemple.fr"));
    connection.setProperty("PortFtp", 2121);
    connection.setProperty("UserName", QStringLiteral("jean"));
    connection.setProperty("Password", QStringLiteral("s3cret"));
    connection.setProperty("ModePassif", true);

    const TKelFtpClient& client = connection.Client();
    EXPECT_EQ(client.Host, "ftp.exemple.fr");
    EXPECT_EQ(client.Port, 2121);
    EXPECT_EQ(client.Username, "jean");
    EXPECT_EQ(client.Password, "s3cret");
    EXPECT_TRUE(client.Passive);
    EXPECT_EQ(connection.PortFtp(), 2121);
    EXPECT_TRUE(connection.ModePassif());

    // A port of 0 is passed on too: the client's 21 only holds until the
    // first assignment.
    connection.setProperty("PortFtp", 0);
    connection.setProperty("ModePassif", false);
    EXPECT_EQ(client.Port, 0);
    EXPECT_FALSE(client.Passive);
}

TEST(KelFTPConnexion, KeepsTheSiteDescriptionAwayFromItsClient)
{
    TKelFTPConnexion connection;
    connection.setProperty("DomaineName", QStringLiteral("exemple.fr"));
    connection.setProperty("RootRemotePath", QStringLiteral("/www"));
    connection.setProperty("RemotePath", QStringLiteral("/www/images"));
    connection.setProperty("FullDetailFiles", true);
    EXPECT_EQ(connection.DomaineName(), "exemple.fr");
    EXPECT_EQ(connection.RootRemotePath(), "/www");
    EXPECT_EQ(connection.RemotePath(), "/www/images");
    EXPECT_TRUE(connection.FullDetailFiles());
    EXPECT_TRUE(connection.Client().Host.isEmpty());
    EXPECT_TRUE(connection.Client().RemoteFolder().isEmpty());
}

TEST(KelFTPConnexion, PathDestinationChangesTheRemoteFolderOnlyWhileConnected)
{
    struct Case {
        const char* what;
        bool connected;
        QString remoteFolder;
    };
    const Case cases[] = {
        {"no session: only stored", false, QString()},
        {"session open: CWD", true, QStringLiteral("/www/images")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TKelFTPConnexion connection;
        if (c.connected) connection.Client().MarkConnected();
        connection.setProperty("PathDestination", QStringLiteral("/www/images"));
        EXPECT_EQ(connection.PathDestination(), "/www/images");
        EXPECT_EQ(connection.Client().RemoteFolder(), c.remoteFolder);
    }
}

TEST(KelFTPConnexion, PathDestinationAfterTheSessionEndedLeavesTheLastFolder)
{
    TKelFTPConnexion connection;
    connection.Client().MarkConnected();
    connection.setPathDestination(QStringLiteral("/un"));
    connection.Client().Disconnect();
    connection.setPathDestination(QStringLiteral("/deux"));
    EXPECT_EQ(connection.PathDestination(), "/deux");
    EXPECT_EQ(connection.Client().RemoteFolder(), "/un");
}

TEST(KelFTPConnexion, DestructionDisconnectsAndFreesItsClient)
{
    auto connection = std::make_unique<TKelFTPConnexion>();
    QPointer<TKelFtpClient> client = &connection->Client();
    client->MarkConnected();
    QSignalSpy disconnected(client.data(), &TKelFtpClient::Disconnected);

    connection.reset();
    EXPECT_EQ(disconnected.count(), 1);
    EXPECT_TRUE(client.isNull());
}

// ------------------------------------------------------------ synchronisation

TEST(KelSynchroFolder, PublishesItsPropertiesInOrderAndStartsAsDescribed)
{
    EXPECT_EQ(publishedProperties(TKelSynchroFolder::staticMetaObject),
              (QStringList{"FilesFilter", "SourceFolder", "DestinationFolder", "DestinationType", "Methode",
                           "ListResult", "Ftp", "ProgressFormFtp"}));

    QObject owner;
    auto* synchro = new TKelSynchroFolder(&owner);
    EXPECT_EQ(synchro->parent(), &owner);
    EXPECT_TRUE(synchro->FilesFilter().isEmpty());
    EXPECT_TRUE(synchro->SourceFolder().isEmpty());
    EXPECT_TRUE(synchro->DestinationFolder().isEmpty());
    EXPECT_EQ(synchro->property("DestinationType").value<TKelSynchroFolderDestinationType>(), TKelSynchroFolder::sfdLocal);
    EXPECT_EQ(synchro->property("Methode").value<TKelSynchroFolderMethodes>(), TKelSynchroFolder::sfmSimple);
    EXPECT_TRUE(synchro->ListResult().isEmpty());
    EXPECT_EQ(synchro->Ftp(), nullptr);
    EXPECT_EQ(synchro->ProgressFormFtp(), nullptr);

    const TKelShellOperations& shell = synchro->ShellOperations();
    EXPECT_EQ(shell.parent(), synchro);
    EXPECT_EQ(shell.Operation, TKelSHFileTypeOperations::FO_COPY);
    EXPECT_EQ(shell.OptionsEx,
              TKelSHFileOperationOptions(TKelSHFileOperationOption::oFOF_SILENT | TKelSHFileOperationOption::oFOF_NOCONFIRMATION));
}

TEST(KelSynchroFolder, EnumerationsAreSetByTheirNames)
{
    TKelSynchroFolder synchro;
    EXPECT_TRUE(synchro.setProperty("DestinationType", QStringLiteral("sfdWeb")));
    EXPECT_TRUE(synchro.setProperty("Methode", QStringLiteral("sfmCheckCRC")));
    EXPECT_EQ(synchro.DestinationType(), TKelSynchroFolder::sfdWeb);
    EXPECT_EQ(synchro.Methode(), TKelSynchroFolder::sfmCheckCRC);
    synchro.setProperty("Methode", QStringLiteral("sfmDateDiff"));
    EXPECT_EQ(synchro.Methode(), TKelSynchroFolder::sfmDateDiff);
}

TEST(KelSynchroFolder, FoldersAreStoredWithTheirTrailingDelimiter)
{
    struct Case {
        const char* property;
        QString given;
        QString stored;
    };
    const Case cases[] = {
        {"DestinationFolder", "http://exemple.fr/photos", "http://exemple.fr/photos/"},
        {"DestinationFolder", "http://exemple.fr/photos/", "http://exemple.fr/photos/"},
        {"DestinationFolder", "http://exemple.fr/photos  ", "http://exemple.fr/photos/"},
        {"DestinationFolder", "http://exemple.fr/photos/ \t", "http://exemple.fr/photos//"}, // the given value decides
        {"DestinationFolder", "http://", "http://"},
        // Not exactly "http://" in the first seven characters: the local rule,
        // which neither trims nor looks at what the blanks hide.
        {"DestinationFolder", " http://exemple.fr", " http://exemple.fr/"},
        {"DestinationFolder", "HTTP://exemple.fr ", "HTTP://exemple.fr /"},
        {"DestinationFolder", "https://exemple.fr ", "https://exemple.fr /"},
        {"DestinationFolder", "/home/jean/Images", "/home/jean/Images/"},
        {"DestinationFolder", "/home/jean/Images/", "/home/jean/Images/"},
        {"DestinationFolder", "", "/"},
        {"SourceFolder", "/home/jean/Images", "/home/jean/Images/"},
        {"SourceFolder", "/home/jean/Images/", "/home/jean/Images/"},
        {"SourceFolder", "http://exemple.fr ", "http://exemple.fr /"}, // no web form for a source
        {"SourceFolder", "", "/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.property) + " <- \"" + c.given.toStdString() + '"');
        TKelSynchroFolder synchro;
        synchro.setProperty(c.property, c.given);
        EXPECT_EQ(synchro.property(c.property).toString(), c.stored);
    }
}

TEST(KelSynchroFolder, ListResultIsReplacedByEachAssignment)
{
    TKelSynchroFolder synchro;
    synchro.setListResult({"a", "b"});
    synchro.setProperty("ListResult", QStringList{"c"});
    EXPECT_EQ(synchro.ListResult(), QStringList{"c"});
}

TEST(KelSynchroFolder, ForgetsAConnectionThatIsDestroyed)
{
    TKelSynchroFolder synchro;
    auto connection = std::make_unique<TKelFTPConnexion>();
    synchro.setProperty("Ftp", QVariant::fromValue(connection.get()));
    EXPECT_EQ(synchro.Ftp(), connection.get());
    EXPECT_EQ(connection->parent(), nullptr); // not taken over

    connection.reset();
    EXPECT_EQ(synchro.Ftp(), nullptr);
}

TEST(KelSynchroFolder, DestroyingItLeavesTheConnectionAlive)
{
    TKelFTPConnexion connection;
    QPointer<TKelFTPConnexion> watched = &connection;
    {
        TKelSynchroFolder synchro;
        synchro.setFtp(&connection);
    }
    EXPECT_FALSE(watched.isNull());
}

// Stand-ins for the progress dialog: one with text properties, one with
// invokable methods, one with neither.
class PropertyProgressForm : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString CaptionData MEMBER captionData)
    Q_PROPERTY(QString CaptionTransfert MEMBER captionTransfert)
public:
    QString captionData = QStringLiteral("Page(s) de données");
    QString captionTransfert = QStringLiteral("Transfert");
};

class MethodProgressForm : public QObject {
    Q_OBJECT
public:
    Q_INVOKABLE void CaptionData(const QString& text) { captionData = text; }
    Q_INVOKABLE void CaptionTransfert(const QString& text) { captionTransfert = text; }
    QString captionData = QStringLiteral("Page(s) de données");
    QString captionTransfert = QStringLiteral("Transfert");
};

TEST(KelSynchroFolder, ProgressFormIsRelabelledAtOnce)
{
    {
        SCOPED_TRACE("text properties");
        PropertyProgressForm form;
        TKelSynchroFolder synchro;
        synchro.setProperty("ProgressFormFtp", QVariant::fromValue<QObject*>(&form));
        EXPECT_EQ(form.captionData, "Analyse avant synchronisation");
        EXPECT_EQ(form.captionTransfert, "Transfert des images");
        EXPECT_EQ(synchro.ProgressFormFtp(), &form);
        EXPECT_EQ(form.parent(), nullptr); // not taken over
    }
    {
        SCOPED_TRACE("invokable methods");
        MethodProgressForm form;
        TKelSynchroFolder synchro;
        synchro.setProgressFormFtp(&form);
        EXPECT_EQ(form.captionData, "Analyse avant synchronisation");
        EXPECT_EQ(form.captionTransfert, "Transfert des images");
    }
}

TEST(KelSynchroFolder, AFormWithoutCaptionsIsNeitherChangedNorGivenDynamicProperties)
{
    QObject form;
    TKelSynchroFolder synchro;
    synchro.setProgressFormFtp(&form);
    EXPECT_EQ(synchro.ProgressFormFtp(), &form);
    EXPECT_TRUE(form.dynamicPropertyNames().isEmpty());
}

TEST(KelSynchroFolder, ForgetsAProgressFormThatIsDestroyed)
{
    TKelSynchroFolder synchro;
    {
        PropertyProgressForm form;
        synchro.setProgressFormFtp(&form);
    }
    EXPECT_EQ(synchro.ProgressFormFtp(), nullptr);
}

} // namespace
} // namespace signetrix::backup

#include "KelComponentsTest.moc"
