#pragma once
// What the program and the maker's server agree on: the paths on the web
// host, the names of the registration form's fields, its action words and the
// words of the answers the program looks for. The one header both sides
// include, so a renamed field breaks the build instead of the registration.
// Plain constants; nothing here can fail.
#include <QString>

namespace signetrix::net::endpoints {

// Paths on the banner and download hosts.
inline constexpr char kBannerPath[] = "/err/Signetrix.htm";
inline constexpr char kRegistrationPagePath[] = "/download/inscriptiongeneriqueSignetrix.htm";
inline constexpr char kReleaseArchivePath[] = "/download/Signetrix.zip";
inline constexpr char kReleaseSignaturePath[] = "/download/Signetrix.zip.minisig";
inline constexpr char kReleaseArchiveName[] = "Signetrix.zip";
inline constexpr char kReleaseSignatureName[] = "Signetrix.zip.minisig";

// The backup archive of one account: "/" + folder + "/" + id + ".zip"; the
// same folder and name are used on the FTP side.
inline QString BackupArchiveName(const QString& accountId) { return accountId + QStringLiteral(".zip"); }
inline QString BackupArchivePath(const QString& folder, const QString& accountId)
{
    return QLatin1Char('/') + folder + QLatin1Char('/') + BackupArchiveName(accountId);
}

// Fields of the registration page's first form.
inline constexpr char kFieldReferer[] = "kelreferer";
inline constexpr char kFieldEmail[] = "email";
inline constexpr char kFieldPassword[] = "passworduser";
inline constexpr char kFieldEmailNew[] = "emailNew";
inline constexpr char kFieldPasswordNew[] = "passworduserNew";
inline constexpr char kFieldAction[] = "actiontype";

// The referer the program writes into kelreferer.
inline constexpr char kRefererProgram[] = "Signetrix";

// Values of actiontype.
inline constexpr char kActionAdd[] = "ADD";
inline constexpr char kActionValidate[] = "VAL";
inline constexpr char kActionUpdate[] = "UPDATE";

// Words the answer page's text contains when the server accepted the request.
// A validation answers the account id alone instead.
inline constexpr char kAddAcceptedMarker[] = "Validation en cours";
inline constexpr char kUpdateAcceptedMarker[] = "UpDate ok";

} // namespace signetrix::net::endpoints
