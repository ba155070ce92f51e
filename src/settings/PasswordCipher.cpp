#include "settings/PasswordCipher.h"

#include "platform/MessageBoxes.h"

#include <array>
#include <cstring>

namespace signetrix {
namespace {

constexpr int KeyBytes = 16;

// The whole cipher state; one per call, nothing carries over.
class CipherState {
public:
    explicit CipherState(const QByteArray& key)
    {
        std::memcpy(m_key.data(), key.constData(), static_cast<size_t>(key.size()));
    }

    // The keystream byte for the next position.
    quint8 nextMask()
    {
        m_s[0] = pair(0);
        quint16 w = mix();
        for (int j = 1; j < 8; ++j) {
            m_s[j] = m_s[j - 1] ^ pair(j);
            w ^= mix();
        }
        m_n = 0;
        return static_cast<quint8>((w >> 8) ^ (w & 0xFF));
    }

    // Every plaintext byte changes the key for the bytes after it.
    void absorb(quint8 plain)
    {
        for (quint8& k : m_key) k ^= plain;
    }

private:
    quint16 pair(int j) const { return static_cast<quint16>(m_key[2 * j] * 256 + m_key[2 * j + 1]); }

    quint16 mix()
    {
        quint16 d = m_t + m_n;
        quint16 a = m_s[m_n];
        quint16 c = 0x015A;
        const quint16 b = 0x4E35;
        std::swap(a, m_m);
        std::swap(a, d);
        if (a != 0) a = a * b;
        std::swap(a, c);
        if (a != 0) {
            a = a * m_m;
            c = a + c;
        }
        std::swap(a, m_m);
        a = a * b;
        d = c + d;
        a = a + 1;
        m_t = d;
        m_s[m_n] = a;
        ++m_n;
        return a ^ d;
    }

    std::array<quint8, KeyBytes> m_key{};
    std::array<quint16, 8> m_s{};
    quint16 m_t = 0;
    quint16 m_m = 0;
    quint16 m_n = 0;
};

QByteArray untilZero(const QByteArray& text)
{
    const qsizetype nul = text.indexOf('\0');
    return nul < 0 ? text : text.left(nul);
}

// Shared checks of both entry points; false when the result is empty.
bool acceptInput(const QByteArray& text, const QByteArray& key)
{
    if (key.size() > KeyBytes) {
        platform::showMessage(QStringLiteral("Key must be <=16 characters"));
        return false;
    }
    return !text.isEmpty() && !key.isEmpty();
}

// Deployment constants: the stored key text and the working key in its stored form.
constexpr char kStoredKeyText[] = "Vq3#Lm8!zR2@pT6";
constexpr char kWorkingKeyLetters[] = "ffgfilhjcfocbahhdojaljlkjkifmo";

} // namespace

QByteArray EncipherString(const QByteArray& text, const QByteArray& key)
{
    const QByteArray plain = untilZero(text);
    const QByteArray k = untilZero(key);
    if (!acceptInput(plain, k)) return {};
    CipherState state(k);
    QByteArray out;
    out.reserve(plain.size() * 2);
    for (const char ch : plain) {
        const auto p = static_cast<quint8>(ch);
        const quint8 mask = state.nextMask();
        state.absorb(p);
        const quint8 e = p ^ mask;
        out.append(static_cast<char>('a' + (e >> 4)));
        out.append(static_cast<char>('a' + (e & 15)));
    }
    return out;
}

QByteArray DecipherString(const QByteArray& text, const QByteArray& key)
{
    const QByteArray letters = untilZero(text);
    const QByteArray k = untilZero(key);
    if (!acceptInput(letters, k)) return {};
    for (const char ch : letters)
        if (ch < 'a' || ch > 'p') return {};
    CipherState state(k);
    QByteArray out;
    out.reserve(letters.size() / 2);
    for (qsizetype i = 0; i + 1 < letters.size(); i += 2) {
        const auto e = static_cast<quint8>(((letters[i] - 'a') * 16 + (letters[i + 1] - 'a')) & 0xFF);
        const quint8 p = e ^ state.nextMask();
        if (p == 0) break; // the text ends at its first zero byte
        state.absorb(p);
        out.append(static_cast<char>(p));
    }
    return out;
}

QByteArray StoredKeyText() { return QByteArray(kStoredKeyText); }

QByteArray WorkingKey() { return DecipherString(QByteArray(kWorkingKeyLetters), StoredKeyText()); }

} // namespace signetrix
