#pragma once
// The account secrets, all from libsodium: salted password hashes (Argon2id
// through crypto_pwhash_str, so the stored text carries its own salt and
// cost), random confirmation tokens kept only as digests, and random account
// ids. Hashing fails only when memory runs out (an empty result); nothing
// throws.
#include <QByteArray>

#include <cstddef>

namespace signetrix::server {

class PasswordHasher {
public:
    struct Cost {
        unsigned long long operations;
        std::size_t memoryBytes;
    };
    static Cost Interactive(); // libsodium's advice for online logins
    static Cost Minimum();     // the cheapest the algorithm allows

    explicit PasswordHasher(Cost cost = Interactive());
    // The stored form of the password letters; empty on failure.
    QByteArray hash(const QByteArray& letters) const;
    bool verify(const QByteArray& stored, const QByteArray& letters) const;
    // Spends the time of a verification without an account, so that a wrong
    // address answers no faster than a wrong password.
    void verifyNone(const QByteArray& letters) const;

private:
    Cost m_cost;
    mutable QByteArray m_decoy;
};

// Account ids: 15 decimal digits, the first not zero, uniformly drawn.
inline constexpr long long kAccountIdMin = 100000000000000LL;
inline constexpr long long kAccountIdMax = 999999999999999LL;
long long NewAccountId();

// A confirmation token: 32 random bytes as 64 lower-case hex digits.
QByteArray NewConfirmationToken();
bool IsConfirmationTokenForm(const QByteArray& text);
// What the store keeps of a token: a digest, so a copy of the database cannot
// confirm pending accounts.
QByteArray TokenDigest(const QByteArray& token);

} // namespace signetrix::server
