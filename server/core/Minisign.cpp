#include "core/Minisign.h"

#include <QFile>

#include <sodium.h>

namespace signetrix::server {
namespace {

// Layout of the decoded secret key line.
constexpr int kAlgSize = 2, kKdfSize = 2, kChkAlgSize = 2, kSaltSize = 32, kLimitSize = 8;
constexpr int kKeyIdSize = 8, kSecretSize = 64, kChecksumSize = 32;
constexpr int kKeyIdOffset = kAlgSize + kKdfSize + kChkAlgSize + kSaltSize + 2 * kLimitSize;
constexpr int kSecretOffset = kKeyIdOffset + kKeyIdSize;
constexpr int kChecksumOffset = kSecretOffset + kSecretSize;
constexpr int kKeyLineSize = kChecksumOffset + kChecksumSize;

void Fail(QString* error, const QString& text)
{
    if (error) *error = text;
}

bool AllZero(const QByteArray& bytes)
{
    for (char c : bytes)
        if (c != 0) return false;
    return true;
}

} // namespace

std::optional<MinisignSecretKey> ParseMinisignSecretKey(const QByteArray& fileContents, QString* error)
{
    if (sodium_init() < 0) {
        Fail(error, QStringLiteral("libsodium could not be initialised"));
        return std::nullopt;
    }
    const QList<QByteArray> lines = fileContents.split('\n');
    if (lines.size() < 2 || !lines[0].startsWith("untrusted comment:")) {
        Fail(error, QStringLiteral("not a minisign secret key file (no comment line)"));
        return std::nullopt;
    }
    const QByteArray::FromBase64Result decoded =
        QByteArray::fromBase64Encoding(lines[1].trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != kKeyLineSize) {
        Fail(error, QStringLiteral("not a minisign secret key file (key line of the wrong form)"));
        return std::nullopt;
    }
    const QByteArray& raw = decoded.decoded;
    if (raw.left(kAlgSize) != "Ed") {
        Fail(error, QStringLiteral("not an Ed25519 minisign key"));
        return std::nullopt;
    }
    if (raw.mid(kAlgSize, kKdfSize) != QByteArray(kKdfSize, '\0')) {
        Fail(error, QStringLiteral("the secret key is encrypted; write an unencrypted one (minisign -G -W)"));
        return std::nullopt;
    }
    MinisignSecretKey key;
    key.keyId = raw.mid(kKeyIdOffset, kKeyIdSize);
    key.secretKey = raw.mid(kSecretOffset, kSecretSize);

    // The public half must follow from the seed; a damaged key would otherwise
    // sign releases nobody can verify.
    unsigned char pk[crypto_sign_PUBLICKEYBYTES];
    unsigned char sk[crypto_sign_SECRETKEYBYTES];
    crypto_sign_seed_keypair(pk, sk, reinterpret_cast<const unsigned char*>(key.secretKey.constData()));
    const bool consistent = key.publicKey() == QByteArray(reinterpret_cast<const char*>(pk), sizeof pk);
    sodium_memzero(sk, sizeof sk);
    if (!consistent) {
        Fail(error, QStringLiteral("the secret key is damaged (its public half does not match)"));
        return std::nullopt;
    }
    // minisign's own files carry a checksum over algorithm, key id and key;
    // keys written by other tools may leave it empty.
    const QByteArray checksum = raw.mid(kChecksumOffset, kChecksumSize);
    if (!AllZero(checksum)) {
        unsigned char computed[kChecksumSize];
        const QByteArray covered = raw.left(kAlgSize) + key.keyId + key.secretKey;
        crypto_generichash(computed, sizeof computed, reinterpret_cast<const unsigned char*>(covered.constData()),
                           covered.size(), nullptr, 0);
        if (checksum != QByteArray(reinterpret_cast<const char*>(computed), sizeof computed)) {
            Fail(error, QStringLiteral("the secret key's checksum does not match"));
            return std::nullopt;
        }
    }
    return key;
}

QByteArray MinisignPublicKeyFile(const MinisignSecretKey& key)
{
    QByteArray id;
    for (int i = key.keyId.size() - 1; i >= 0; --i) id += QByteArray::number(uchar(key.keyId[i]), 16).rightJustified(2, '0');
    return "untrusted comment: minisign public key " + id.toUpper() + "\n" +
           (QByteArray("Ed") + key.keyId + key.publicKey()).toBase64() + "\n";
}

std::optional<QByteArray> Blake2b512OfFile(const QString& path, QString* error)
{
    if (sodium_init() < 0) {
        Fail(error, QStringLiteral("libsodium could not be initialised"));
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        Fail(error, QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
        return std::nullopt;
    }
    crypto_generichash_state state;
    crypto_generichash_init(&state, nullptr, 0, crypto_generichash_BYTES_MAX);
    QByteArray buffer(1 << 16, Qt::Uninitialized);
    for (;;) {
        const qint64 n = file.read(buffer.data(), buffer.size());
        if (n < 0) {
            Fail(error, QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
            return std::nullopt;
        }
        if (n == 0) break;
        crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(buffer.constData()), quint64(n));
    }
    QByteArray digest(crypto_generichash_BYTES_MAX, Qt::Uninitialized);
    crypto_generichash_final(&state, reinterpret_cast<unsigned char*>(digest.data()), digest.size());
    return digest;
}

std::optional<QByteArray> MinisignSignature(const MinisignSecretKey& key, const QByteArray& digest,
                                            const QByteArray& trustedComment, QString* error)
{
    if (trustedComment.contains('\n') || trustedComment.contains('\r')) {
        Fail(error, QStringLiteral("a trusted comment is one line"));
        return std::nullopt;
    }
    if (digest.size() != crypto_generichash_BYTES_MAX || key.secretKey.size() != crypto_sign_SECRETKEYBYTES) {
        Fail(error, QStringLiteral("wrong digest or key size"));
        return std::nullopt;
    }
    const auto* sk = reinterpret_cast<const unsigned char*>(key.secretKey.constData());
    QByteArray signature(crypto_sign_BYTES, Qt::Uninitialized);
    crypto_sign_detached(reinterpret_cast<unsigned char*>(signature.data()), nullptr,
                         reinterpret_cast<const unsigned char*>(digest.constData()), digest.size(), sk);
    // The global signature binds the trusted comment to this signature.
    const QByteArray covered = signature + trustedComment;
    QByteArray global(crypto_sign_BYTES, Qt::Uninitialized);
    crypto_sign_detached(reinterpret_cast<unsigned char*>(global.data()), nullptr,
                         reinterpret_cast<const unsigned char*>(covered.constData()), covered.size(), sk);
    // "ED": the prehashed algorithm.
    return "untrusted comment: signature from signetrix_server secret key\n" +
           (QByteArray("ED") + key.keyId + signature).toBase64() + "\n" + "trusted comment: " + trustedComment + "\n" +
           global.toBase64() + "\n";
}

} // namespace signetrix::server
