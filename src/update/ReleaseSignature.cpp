#include "update/ReleaseSignature.h"

#include "platform/FileSystem.h"

#include <QByteArrayList>

#include <sodium.h>

#include <cerrno>
#include <limits>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

#ifndef SIGNETRIX_RELEASE_PUBLIC_KEY
#define SIGNETRIX_RELEASE_PUBLIC_KEY ""
#endif

namespace signetrix::update {
namespace {

constexpr int kAlgorithmSize = 2;
constexpr int kKeyIdSize = 8;
constexpr int kSignatureLineSize = kAlgorithmSize + kKeyIdSize + crypto_sign_BYTES;
constexpr int kPublicKeyLineSize = kAlgorithmSize + kKeyIdSize + crypto_sign_PUBLICKEYBYTES;
constexpr char kUntrustedPrefix[] = "untrusted comment: ";
constexpr char kTrustedPrefix[] = "trusted comment: ";
// Nothing sensible is that long; a cap keeps a hostile answer from costing memory.
constexpr qsizetype kMaxSignatureText = 64 * 1024;
constexpr qint64 kMaxLegacyFileBytes = 256 * 1024 * 1024;
constexpr qsizetype kChunk = 64 * 1024;

std::mutex g_keyMutex;
QByteArray g_testKey;

SignatureResult Failed(const QString& reason) { return SignatureResult{false, reason}; }

const unsigned char* bytes(const QByteArray& data) { return reinterpret_cast<const unsigned char*>(data.constData()); }

QByteArray decodeBase64(const QByteArray& line)
{
    const auto decoded = QByteArray::fromBase64Encoding(line, QByteArray::AbortOnBase64DecodingErrors);
    return decoded ? decoded.decoded : QByteArray();
}

// Lines without their ending ("\n" or "\r\n"); a final line break ends the
// last line rather than opening an empty one.
QByteArrayList splitLines(const QByteArray& text)
{
    QByteArrayList lines = text.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    for (QByteArray& line : lines)
        if (line.endsWith('\r')) line.chop(1);
    return lines;
}

struct PublicKey {
    QByteArray keyId;
    QByteArray key;
};

bool parsePublicKey(const QByteArray& text, PublicKey& out, QString& reason)
{
    QByteArrayList lines;
    for (const QByteArray& line : splitLines(text)) {
        const QByteArray trimmed = line.trimmed();
        if (!trimmed.isEmpty()) lines.append(trimmed);
    }
    if (!lines.isEmpty() && lines.first().startsWith("untrusted comment:")) lines.removeFirst();
    if (lines.size() != 1) {
        reason = QStringLiteral("clé publique illisible : une seule ligne de clé attendue");
        return false;
    }
    const QByteArray raw = decodeBase64(lines.first());
    if (raw.size() != kPublicKeyLineSize || !raw.startsWith("Ed")) {
        reason = QStringLiteral("clé publique illisible : ce n'est pas une clé Ed25519 au format minisign");
        return false;
    }
    out.keyId = raw.mid(kAlgorithmSize, kKeyIdSize);
    out.key = raw.mid(kAlgorithmSize + kKeyIdSize);
    return true;
}

struct Signature {
    bool prehashed = false;
    QByteArray keyId;
    QByteArray signature;
    QByteArray trustedComment;
    QByteArray globalSignature;
};

bool parseSignature(const QByteArray& text, Signature& out, QString& reason)
{
    if (text.size() > kMaxSignatureText) {
        reason = QStringLiteral("signature trop longue");
        return false;
    }
    const QByteArrayList lines = splitLines(text);
    if (lines.size() != 4) {
        reason = QStringLiteral("signature illisible : %1 lignes au lieu de 4").arg(lines.size());
        return false;
    }
    if (!lines[0].startsWith(kUntrustedPrefix)) {
        reason = QStringLiteral("signature illisible : pas de ligne « untrusted comment »");
        return false;
    }
    const QByteArray raw = decodeBase64(lines[1]);
    if (raw.size() != kSignatureLineSize) {
        reason = QStringLiteral("signature illisible : ligne de signature de forme incorrecte");
        return false;
    }
    const QByteArray algorithm = raw.left(kAlgorithmSize);
    if (algorithm != "ED" && algorithm != "Ed") {
        reason = QStringLiteral("signature d'un algorithme inconnu");
        return false;
    }
    if (!lines[2].startsWith(kTrustedPrefix)) {
        reason = QStringLiteral("signature illisible : pas de ligne « trusted comment »");
        return false;
    }
    out.globalSignature = decodeBase64(lines[3]);
    if (out.globalSignature.size() != crypto_sign_BYTES) {
        reason = QStringLiteral("signature illisible : signature globale de forme incorrecte");
        return false;
    }
    out.prehashed = algorithm == "ED";
    out.keyId = raw.mid(kAlgorithmSize, kKeyIdSize);
    out.signature = raw.mid(kAlgorithmSize + kKeyIdSize);
    out.trustedComment = lines[2].mid(qsizetype(sizeof kTrustedPrefix - 1));
    return true;
}

// Calls sink for each chunk of the file; false with reason on any failure.
template <typename Sink> bool readArchive(const QString& path, Sink&& sink, qint64 maxBytes, QString& reason)
{
    int error = 0;
    const int fd = fs::openRegularFile(fs::nativeFromWide(path), &error);
    if (fd < 0) {
        reason = QStringLiteral("archive %1 illisible : %2").arg(path, fs::lastErrorText(error));
        return false;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        reason = QStringLiteral("archive %1 illisible : %2").arg(path, fs::lastErrorText(errno));
        ::close(fd);
        return false;
    }
    if (st.st_size > maxBytes) {
        ::close(fd);
        reason = QStringLiteral("archive %1 trop grande pour une signature de l'ancien format").arg(path);
        return false;
    }
    QByteArray buffer(kChunk, Qt::Uninitialized);
    qint64 total = 0;
    bool ok = true;
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), size_t(buffer.size()));
        if (got < 0) {
            if (errno == EINTR) continue;
            reason = QStringLiteral("archive %1 illisible : %2").arg(path, fs::lastErrorText(errno));
            ok = false;
            break;
        }
        if (got == 0) break;
        total += got;
        if (total > maxBytes) { // it grew since fstat
            reason = QStringLiteral("archive %1 trop grande pour une signature de l'ancien format").arg(path);
            ok = false;
            break;
        }
        sink(buffer.constData(), qsizetype(got));
    }
    ::close(fd);
    return ok;
}

} // namespace

SignatureResult VerifyReleaseSignature(const QString& archivePath, const QByteArray& signatureText,
                                       const QByteArray& publicKeyText)
{
    if (sodium_init() < 0) return Failed(QStringLiteral("libsodium ne peut pas être initialisée"));
    QString reason;
    PublicKey key;
    if (!parsePublicKey(publicKeyText, key, reason)) return Failed(reason);
    Signature sig;
    if (!parseSignature(signatureText, sig, reason)) return Failed(reason);
    // The key id only names the key; the signature checks below decide.
    if (sig.keyId != key.keyId) return Failed(QStringLiteral("signature faite avec une autre clé"));

    QByteArray message;
    if (sig.prehashed) {
        crypto_generichash_state state;
        crypto_generichash_init(&state, nullptr, 0, crypto_generichash_BYTES_MAX);
        const auto hash = [&state](const char* p, qsizetype n) {
            crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(p), quint64(n));
        };
        if (!readArchive(archivePath, hash, std::numeric_limits<qint64>::max(), reason)) return Failed(reason);
        message.resize(crypto_generichash_BYTES_MAX);
        crypto_generichash_final(&state, reinterpret_cast<unsigned char*>(message.data()), size_t(message.size()));
    } else {
        const auto keep = [&message](const char* p, qsizetype n) { message.append(p, n); };
        if (!readArchive(archivePath, keep, kMaxLegacyFileBytes, reason)) return Failed(reason);
    }
    if (crypto_sign_verify_detached(bytes(sig.signature), bytes(message), quint64(message.size()), bytes(key.key)) != 0)
        return Failed(QStringLiteral("la signature ne correspond pas à l'archive"));
    const QByteArray covered = sig.signature + sig.trustedComment;
    if (crypto_sign_verify_detached(bytes(sig.globalSignature), bytes(covered), quint64(covered.size()),
                                    bytes(key.key)) != 0)
        return Failed(QStringLiteral("la signature globale ne correspond pas au commentaire de confiance"));
    return SignatureResult{true, QString()};
}

QByteArray ReleasePublicKey()
{
    std::lock_guard lock(g_keyMutex);
    return g_testKey.isEmpty() ? QByteArray(SIGNETRIX_RELEASE_PUBLIC_KEY) : g_testKey;
}

void SetReleasePublicKeyForTesting(const QByteArray& publicKeyText)
{
    std::lock_guard lock(g_keyMutex);
    g_testKey = publicKeyText;
}

} // namespace signetrix::update
