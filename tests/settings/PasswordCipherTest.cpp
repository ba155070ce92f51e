#include "settings/PasswordCipher.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace signetrix {
namespace {

QByteArray bytesOneTo(int last)
{
    QByteArray b;
    for (int i = 1; i <= last; ++i) b.append(static_cast<char>(i));
    return b;
}

bool onlyCipherLetters(const QByteArray& letters)
{
    for (const char c : letters)
        if (c < 'a' || c > 'p') return false;
    return true;
}

// Letters produced by a separate implementation written from the cipher's
// description (not from this program's code).
struct KnownAnswer {
    QByteArray text;
    QByteArray key;
    QByteArray letters;
};

TEST(PasswordCipher, MatchesKnownLetters)
{
    const KnownAnswer cases[] = {
        {"A", "k", "bf"},
        {"password", "key", "ochagpnedcgdbdof"},
        {"Hello, World!", "0123456789abcdef", "ngbkejgoapdbgpodelelchcmnf"},
        {"proxy-secret", "k7Hw2Nx9Qe4Ls1D", "pcijnhocjclbibjgeghggmde"},
        {"\xe9t\xe9", "cl\xe9", "cjomdh"},
        {"abc", "abcdefghijklmnop", "dpgigl"},
        {bytesOneTo(40), QByteArray("\xff\x80\x01 Z~\x7f\xfe"),
         "balhiompjcpofekeobnodoaienbnfknccalgildelcdoeihkgnmkelleofanmlijhchgoeaibidoikig"},
        {"zz", "zzzzzzzzzzzzzzz", "omje"},
    };
    for (const KnownAnswer& c : cases) {
        SCOPED_TRACE(c.text.toHex().toStdString() + " / " + c.key.toHex().toStdString());
        EXPECT_EQ(EncipherString(c.text, c.key), c.letters);
        EXPECT_EQ(DecipherString(c.letters, c.key), c.text);
    }
}

TEST(PasswordCipher, RoundTripsEveryKeyLength)
{
    test::ScriptedMessageBoxes boxes;
    const QByteArray texts[] = {"x", "motdepasse", "Mot de passe avec espaces", "\xc3\xa9t\xc3\xa9 \xff\x80\x01",
                                bytesOneTo(255)};
    const QByteArray keyMaterial("K3y!\xe9\x01zQ7 ~m\xff" "0aP");
    ASSERT_EQ(keyMaterial.size(), 16);
    for (int keyLength = 1; keyLength <= 16; ++keyLength) {
        const QByteArray key = keyMaterial.left(keyLength);
        for (const QByteArray& text : texts) {
            SCOPED_TRACE("key length " + std::to_string(keyLength) + ", text " + text.left(16).toHex().toStdString());
            const QByteArray letters = EncipherString(text, key);
            EXPECT_EQ(letters.size(), 2 * text.size());
            EXPECT_TRUE(onlyCipherLetters(letters)) << letters.toStdString();
            EXPECT_EQ(DecipherString(letters, key), text);
            EXPECT_EQ(EncipherString(text, key), letters) << "a second run must give the same letters";
        }
    }
    EXPECT_TRUE(boxes.texts().isEmpty());
}

TEST(PasswordCipher, KeyChangesTheLetters)
{
    const QByteArray letters = EncipherString("secret", "key-one");
    EXPECT_NE(EncipherString("secret", "key-two"), letters);
    EXPECT_NE(DecipherString(letters, "key-two"), QByteArray("secret"));
}

TEST(PasswordCipher, SharedPrefixGivesSharedLetters)
{
    const struct {
        QByteArray a, b;
        int common;
    } cases[] = {
        {"password1", "password2", 8},
        {"a", "b", 0},
        {"abcdefghijklmnopqrstuvwxyz", "abcdefghijklmnopqrstuvwxyZ", 25},
        {"same-start\x01", "same-start\xff", 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.a.toStdString() + " / " + c.b.toStdString());
        const QByteArray la = EncipherString(c.a, "prefix-key");
        const QByteArray lb = EncipherString(c.b, "prefix-key");
        EXPECT_EQ(la.left(2 * c.common), lb.left(2 * c.common));
        EXPECT_NE(la.mid(2 * c.common, 2), lb.mid(2 * c.common, 2));
    }
}

TEST(PasswordCipher, LongKeyIsRefusedWithAMessage)
{
    test::ScriptedMessageBoxes boxes;
    const QByteArray key17 = "abcdefghijklmnopq";
    EXPECT_TRUE(EncipherString("text", key17).isEmpty());
    EXPECT_TRUE(DecipherString("abcd", key17).isEmpty());
    EXPECT_EQ(boxes.texts(), QStringList({"Key must be <=16 characters", "Key must be <=16 characters"}));

    boxes.clear();
    const QByteArray letters = EncipherString("text", key17.left(16));
    EXPECT_EQ(letters.size(), 8);
    EXPECT_EQ(DecipherString(letters, key17.left(16)), QByteArray("text"));
    EXPECT_TRUE(boxes.texts().isEmpty());
}

TEST(PasswordCipher, EmptyInputOrKeyGivesEmptyWithoutMessage)
{
    test::ScriptedMessageBoxes boxes;
    const struct {
        QByteArray text, key;
    } cases[] = {{"", "key"}, {"text", ""}, {"", ""}, {QByteArray("\0abc", 4), "key"}, {"text", QByteArray("\0k", 2)}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toHex().toStdString() + " / " + c.key.toHex().toStdString());
        EXPECT_TRUE(EncipherString(c.text, c.key).isEmpty());
        EXPECT_TRUE(DecipherString(c.text, c.key).isEmpty());
    }
    EXPECT_TRUE(boxes.texts().isEmpty());
}

TEST(PasswordCipher, TextsAndKeysEndAtTheirFirstZeroByte)
{
    EXPECT_EQ(EncipherString(QByteArray("pass\0word", 9), "key"), EncipherString("pass", "key"));
    EXPECT_EQ(EncipherString("pass", QByteArray("key\0junk", 8)), EncipherString("pass", "key"));
    // These letters encipher "ab", a zero byte, then "cd": the plaintext stops at the zero.
    EXPECT_EQ(DecipherString("pdecpdkjno", "key"), QByteArray("ab"));
}

TEST(PasswordCipher, OddLetterCountIgnoresTheLastLetter)
{
    const QByteArray letters = EncipherString("abcdef", "odd");
    for (const char extra : {'a', 'h', 'p'}) {
        SCOPED_TRACE(extra);
        EXPECT_EQ(DecipherString(letters + extra, "odd"), QByteArray("abcdef"));
    }
    EXPECT_EQ(DecipherString(letters.left(5), "odd"), QByteArray("ab"));
    EXPECT_TRUE(DecipherString("c", "odd").isEmpty());
}

TEST(PasswordCipher, TextsOutsideTheLetterRangeAreRefused)
{
    const QByteArray good = EncipherString("abc", "key");
    for (const QByteArray& bad : {QByteArray("q") + good.mid(1), good.left(4) + "Z" + good.mid(5), good + "!!"}) {
        SCOPED_TRACE(bad.toStdString());
        EXPECT_TRUE(DecipherString(bad, "key").isEmpty());
    }
}

TEST(PasswordCipher, WorkingKeyComesFromItsStoredForm)
{
    EXPECT_EQ(StoredKeyText().size(), 15);
    const QByteArray working = WorkingKey();
    ASSERT_EQ(working.size(), 15);
    EXPECT_EQ(WorkingKey(), working);
    EXPECT_NE(working, StoredKeyText());
    // The stored form is the working key's 30 letters under the stored key text.
    EXPECT_EQ(EncipherString(working, StoredKeyText()).size(), 30);
    const QByteArray stored = EncipherString("s3cret!", working);
    EXPECT_EQ(DecipherString(stored, WorkingKey()), QByteArray("s3cret!"));
}

} // namespace
} // namespace signetrix
