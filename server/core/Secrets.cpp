#include "core/Secrets.h"

#include <sodium.h>

#include <cstdlib>

namespace signetrix::server {
namespace {

void EnsureSodium()
{
    // Without a working random source no secret can be made; there is no
    // sensible way on.
    static const bool ready = sodium_init() >= 0;
    if (!ready) std::abort();
}

} // namespace

PasswordHasher::Cost PasswordHasher::Interactive()
{
    return {crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE};
}

PasswordHasher::Cost PasswordHasher::Minimum()
{
    return {crypto_pwhash_OPSLIMIT_MIN, crypto_pwhash_MEMLIMIT_MIN};
}

PasswordHasher::PasswordHasher(Cost cost) : m_cost(cost)
{
    EnsureSodium();
}

QByteArray PasswordHasher::hash(const QByteArray& letters) const
{
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(out, letters.constData(), quint64(letters.size()), m_cost.operations, m_cost.memoryBytes) != 0)
        return QByteArray();
    return QByteArray(out);
}

bool PasswordHasher::verify(const QByteArray& stored, const QByteArray& letters) const
{
    if (stored.isEmpty() || stored.size() >= crypto_pwhash_STRBYTES) return false;
    return crypto_pwhash_str_verify(stored.constData(), letters.constData(), quint64(letters.size())) == 0;
}

void PasswordHasher::verifyNone(const QByteArray& letters) const
{
    if (m_decoy.isEmpty()) m_decoy = hash(NewConfirmationToken());
    verify(m_decoy, letters);
}

long long NewAccountId()
{
    EnsureSodium();
    // randombytes_uniform takes 32 bits; two draws cover the 9e14 ids evenly.
    constexpr unsigned long long span = kAccountIdMax - kAccountIdMin + 1; // 9e14
    constexpr unsigned long long low = 1000000000ULL;                       // 1e9
    constexpr unsigned long long high = span / low;                         // 9e5
    static_assert(high * low == span);
    const unsigned long long value = (unsigned long long)randombytes_uniform(uint32_t(high)) * low +
                                     randombytes_uniform(uint32_t(low));
    return kAccountIdMin + (long long)value;
}

QByteArray NewConfirmationToken()
{
    EnsureSodium();
    unsigned char bytes[32];
    randombytes_buf(bytes, sizeof bytes);
    return QByteArray(reinterpret_cast<const char*>(bytes), sizeof bytes).toHex();
}

bool IsConfirmationTokenForm(const QByteArray& text)
{
    if (text.size() != 64) return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

QByteArray TokenDigest(const QByteArray& token)
{
    EnsureSodium();
    unsigned char digest[32];
    crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char*>(token.constData()),
                       quint64(token.size()), nullptr, 0);
    return QByteArray(reinterpret_cast<const char*>(digest), sizeof digest).toHex();
}

} // namespace signetrix::server
