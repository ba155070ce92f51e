// The 8-bit code page and whole-number conversion.
#include "platform/CodePage.h"
#include "platform/Errors.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <climits>

namespace signetrix {
namespace {

TEST(CodePage, CharactersOutsideThePageBecomeQuestionMarks)
{
    const QString loneHigh(QChar(0xD83D));
    const QString loneLow(QChar(0xDE00));
    struct Case {
        codepage::Page page;
        QString text;
        QByteArray ansi;
    } cases[] = {
        {codepage::Page::Latin1, QStringLiteral("plain ASCII"), "plain ASCII"},
        {codepage::Page::Latin1, QStringLiteral("Caf\u00e9 \u00ff"), "Caf\xE9 \xFF"},
        {codepage::Page::Latin1, QStringLiteral("\u20ac5"), "?5"},
        {codepage::Page::Latin1, QStringLiteral("\u0100\u65e5\u672c"), "???"},
        {codepage::Page::Latin1, QStringLiteral("a\U0001F600b"), "a?b"},
        {codepage::Page::Latin1, loneHigh + 'x', "?x"},
        {codepage::Page::Utf8, QStringLiteral("Caf\u00e9"), "Caf\xC3\xA9"},
        {codepage::Page::Utf8, QStringLiteral("\u20ac"), "\xE2\x82\xAC"},
        {codepage::Page::Utf8, QStringLiteral("\U0001F600"), "\xF0\x9F\x98\x80"},
        {codepage::Page::Utf8, loneHigh + 'x', "?x"},
        {codepage::Page::Utf8, loneHigh, "?"},
        {codepage::Page::Utf8, 'x' + loneLow, "x?"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ansi.toHex().toStdString());
        test::CodePageGuard page(c.page);
        EXPECT_EQ(codepage::toAnsi(c.text).toHex().toStdString(), c.ansi.toHex().toStdString());
        if (!c.ansi.contains('?')) {
            EXPECT_EQ(codepage::fromAnsi(c.ansi), c.text);
        }
    }
}

TEST(CodePage, Latin1BytesReadBackAsTheirCharacters)
{
    test::CodePageGuard latin1(codepage::Page::Latin1);
    QByteArray all;
    for (int b = 1; b < 256; ++b) all.append(char(b));
    const QString text = codepage::fromAnsi(all);
    ASSERT_EQ(text.size(), 255);
    for (int i = 0; i < text.size(); ++i) EXPECT_EQ(text[i].unicode(), i + 1);
    EXPECT_EQ(codepage::toAnsi(text), all);
}

TEST(StrToInt, AcceptedForms)
{
    struct Case {
        const char* text;
        int value;
    } cases[] = {
        {"0", 0},           {"42", 42},          {"  42", 42},         {"\t7", 7},
        {"+7", 7},          {"-7", -7},          {"007", 7},           {"$1F", 31},
        {"$1f", 31},        {"0x1f", 31},        {"0X10", 16},         {"-$10", -16},
        {"2147483647", INT_MAX}, {"-2147483648", INT_MIN}, {"$7FFFFFFF", INT_MAX}, {"$FFFFFFFF", -1},
        {"$80000000", INT_MIN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(StrToInt(QString::fromUtf8(c.text)), c.value);
        int v = 12345;
        EXPECT_TRUE(TryStrToInt(QString::fromUtf8(c.text), v));
        EXPECT_EQ(v, c.value);
    }
}

TEST(StrToInt, RejectedFormsNameTheText)
{
    const char* cases[] = {
        "", " ", "42 ", "4 2", "1.5", "1e3", "abc", "12abc", "2147483648", "-2147483649",
        "99999999999999999999", "$", "0x", "$100000000", "$G", "--1", "+-1", "- 1", "\xef\xbc\x91\xef\xbc\x92",
    };
    for (const char* text : cases) {
        SCOPED_TRACE(text);
        const QString t = QString::fromUtf8(text);
        int v = 12345;
        EXPECT_FALSE(TryStrToInt(t, v));
        EXPECT_EQ(v, 12345);
        try {
            StrToInt(t);
            ADD_FAILURE() << "no error raised";
        } catch (const ConvertError& e) {
            EXPECT_EQ(e.message(), QStringLiteral("'%1' is not a valid integer value").arg(t));
            EXPECT_STREQ(e.what(), e.message().toStdString().c_str());
        }
    }
}

TEST(Errors, WriteErrorText)
{
    EXPECT_EQ(WriteError(QStringLiteral("/x/Signetrix.ini")).message(), QStringLiteral("Unable to write to /x/Signetrix.ini"));
}

} // namespace
} // namespace signetrix
