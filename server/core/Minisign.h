#pragma once
// Ed25519 signatures in minisign's file format, made with libsodium: reading
// an unencrypted minisign secret key file and signing a file the prehashed way
// (BLAKE2b-512 of the contents), with a trusted comment covered by the global
// signature, so that `minisign -Vm FILE -p KEY.pub` accepts the result.
//
// Failures come back as an error text (a key file that is not an unencrypted
// minisign secret key, a damaged key, an unreadable file); nothing throws.
#include <QByteArray>
#include <QString>

#include <optional>

namespace signetrix::server {

struct MinisignSecretKey {
    QByteArray keyId;     // 8 bytes, as stored (little-endian key number)
    QByteArray secretKey; // 64 bytes: seed followed by the public key
    QByteArray publicKey() const { return secretKey.mid(32); }
};

// Parses the contents of a secret key file ("untrusted comment:" line, then the
// base64 line). Encrypted keys are refused: the server has nobody to ask for
// the password.
std::optional<MinisignSecretKey> ParseMinisignSecretKey(const QByteArray& fileContents, QString* error);

// The public key file minisign would write for this key.
QByteArray MinisignPublicKeyFile(const MinisignSecretKey& key);

// The BLAKE2b-512 digest that minisign's prehashed signatures cover, of a
// file read in pieces (release archives need not fit in memory twice).
std::optional<QByteArray> Blake2b512OfFile(const QString& path, QString* error);

// The text of a .minisig file for a digest from Blake2b512OfFile.
// trustedComment goes into the "trusted comment:" line; a line break in it is
// refused.
std::optional<QByteArray> MinisignSignature(const MinisignSecretKey& key, const QByteArray& digest,
                                            const QByteArray& trustedComment, QString* error);

} // namespace signetrix::server
