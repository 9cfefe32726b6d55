// The checks every request passes before any route: percent-encoding, UTF-8, the JSONP
// callback, and what the log shows of a request.
#include "tools/ubin-serve/request_text.h"

#include <gtest/gtest.h>

namespace ubin::serve {
namespace {

TEST(PercentDecode, DecodesEveryEscapeAndLeavesThePlusSign)
{
    EXPECT_EQ(PercentDecode("/v1/areas/%E5%BA%83%e5%b3%b6"), "/v1/areas/広島");
    EXPECT_EQ(PercentDecode("a+b%2Bc%25"), "a+b+c%");
    EXPECT_EQ(PercentDecode(""), "");
    EXPECT_EQ(PercentDecode("%00"), std::string(1, '\0'));
}

TEST(PercentDecode, TakesThePlusSignAsABlankInAQuery)
{
    // A query's '+' is a blank; an encoded one stays a plus, and so does every '+' of a path.
    const struct {
        const char* text;
        bool plusIsSpace;
        const char* decoded;
    } cases[] = {
        {"a+b%2Bc", true, "a b+c"},
        {"a+b%2Bc", false, "a+b+c"},
        {"++", true, "  "},
        {"%20+", true, "  "},
        {"%E5%BA%83+%E5%B3%B6", true, "広 島"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(PercentDecode(c.text, c.plusIsSpace), c.decoded);
    }
    EXPECT_EQ(PercentDecode("a+%G0", true), std::nullopt);
}

TEST(PercentDecode, RefusesAnEscapeWithoutTwoHexDigits)
{
    for (const char* bad : {"%", "a%", "a%4", "%G0", "%0G", "%%41", "x%u3042", "%4 "}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(PercentDecode(bad), std::nullopt);
    }
}

TEST(IsValidUtf8, AcceptsEveryLengthOfCharacter)
{
    EXPECT_TRUE(IsValidUtf8(""));
    EXPECT_TRUE(IsValidUtf8("abc"));
    EXPECT_TRUE(IsValidUtf8("\xc2\x80"));           // U+0080
    EXPECT_TRUE(IsValidUtf8("広島県ﾋﾛｼﾏ"));          // three bytes each
    EXPECT_TRUE(IsValidUtf8("\xef\xbf\xbf"));       // U+FFFF
    EXPECT_TRUE(IsValidUtf8("\xf0\x9f\x93\xae"));   // U+1F4EE, four bytes
    EXPECT_TRUE(IsValidUtf8("\xf4\x8f\xbf\xbf"));   // U+10FFFF, the last
}

TEST(IsValidUtf8, RefusesMalformedSequences)
{
    const char* bad[] = {
        "\x80",             // a continuation byte alone
        "\xc0\xaf",         // overlong '/'
        "\xe0\x80\xaf",     // overlong '/' in three bytes
        "\xf0\x80\x80\xaf", // and in four
        "\xe5\xba",         // cut short
        "\xe5\xba\x61",     // broken by an ASCII byte ('a')
        "\xed\xa0\x80",     // a surrogate
        "\xf4\x90\x80\x80", // beyond U+10FFFF
        "\xf5\x80\x80\x80", // a lead byte no character has
        "\xff",
    };
    for (const char* b : bad) {
        SCOPED_TRACE(testing::PrintToString(std::string(b)));
        EXPECT_FALSE(IsValidUtf8(b));
    }
}

TEST(IsJavaScriptIdentifier, AcceptsPlainNamesOnly)
{
    for (const char* good : {"cb", "_", "$", "jQuery360_1700000000000", "$yubin", "a1"}) EXPECT_TRUE(IsJavaScriptIdentifier(good)) << good;
    EXPECT_TRUE(IsJavaScriptIdentifier(std::string(128, 'a')));
    for (const char* bad : {"", "1a", "a.b", "a-b", "a b", "alert(1)", "a;b", "a\n", "名前", "a/**/"})
        EXPECT_FALSE(IsJavaScriptIdentifier(bad)) << bad;
    EXPECT_FALSE(IsJavaScriptIdentifier(std::string(129, 'a')));
}

TEST(LogSafe, EscapesEverythingOutsidePrintableAscii)
{
    EXPECT_EQ(LogSafe("/api/search"), "/api/search");
    EXPECT_EQ(LogSafe(""), "-");
    EXPECT_EQ(LogSafe("/a b\r\nGET /forged 200 1us"), "/a\\x20b\\x0D\\x0AGET\\x20/forged\\x20200\\x201us");
    EXPECT_EQ(LogSafe("/\x7f\\\xe5"), "/\\x7F\\x5C\\xE5");
}

} // namespace
} // namespace ubin::serve
