#pragma once
// The check that a downloaded release archive was signed by the maker's key,
// in minisign's format (what `minisign -S` and the server's `publish` write).
//
// A signature file has four lines: "untrusted comment: ...", the base64 of
// the algorithm ("ED": the BLAKE2b-512 hash of the file is signed; legacy
// "Ed": the file itself is signed), the 8-byte key id and the 64-byte Ed25519
// signature; "trusted comment: <text>"; the base64 of the 64-byte global
// signature over (signature || text), which stops anyone from swapping the
// trusted comment. Lines may end with "\r\n". A public key is the base64 of
// "Ed", the key id and the 32-byte key, alone or as a whole .pub file with its
// "untrusted comment:" line.
//
// Fails (ok false, reason for the log) on any malformed key or signature text,
// a key id that is not the key's, a bad signature or global signature, and an
// archive that is missing, not a regular file or unreadable. Prehashed
// signatures read the archive in chunks; legacy ones need the whole archive in
// memory and are refused past 256 MB. Nothing throws.
#include <QByteArray>
#include <QString>

namespace signetrix::update {

struct SignatureResult {
    bool ok = false;
    QString reason; // for the log only, never shown to the user
};

SignatureResult VerifyReleaseSignature(const QString& archivePath, const QByteArray& signatureText,
                                       const QByteArray& publicKeyText);

// The key built into the program; empty when the build names none (every
// check then fails). Tests may replace it; an empty text restores the build's.
QByteArray ReleasePublicKey();
void SetReleasePublicKeyForTesting(const QByteArray& publicKeyText);

} // namespace signetrix::update
