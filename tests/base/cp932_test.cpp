#include "base/cp932.h"
#include "base/errors.h"
#include "base/text.h"

#include <gtest/gtest.h>

using namespace ubin;

TEST(Cp932, DecodesKanaKanjiAndAsciiAndEncodesBack)
{
    const std::u16string text = U16("730-0014,ｶﾐﾉﾎﾞﾘﾏﾁ,上幟町,～");
    const std::string bytes = EncodeCp932(text);
    // 郵 is 0x9758 and half-width ｶ is one byte 0xB6.
    EXPECT_EQ(EncodeCp932(U16("郵")), "\x97\x58");
    EXPECT_EQ(EncodeCp932(U16("ｶ")), "\xB6");
    EXPECT_EQ(DecodeCp932(bytes), text);
}

TEST(Cp932, ShiftJisCodeOfOneCharacter)
{
    EXPECT_EQ(ShiftJisCode(u'0'), 0x30);
    EXPECT_EQ(ShiftJisCode(u' '), 0x20);
    EXPECT_EQ(ShiftJisCode(U16("ｱ")[0]), 0xB1);
    EXPECT_EQ(ShiftJisCode(U16("ア")[0]), 0x8341);
    EXPECT_EQ(ShiftJisCode(U16("漢")[0]), 0x8ABF);
    EXPECT_EQ(ShiftJisCode(U16("銀")[0]), 0x8BE2);
    EXPECT_THROW(ShiftJisCode(u'\u00E9'), EncodingError); // é has no code page 932 form
}

TEST(Cp932, UndecodableBytesAreErrorsNamingThePosition)
{
    // 0x80 and 0xA0 begin no character; a lead byte at the end has no trail byte.
    for (const std::string& bad : {std::string("ab\x80"), std::string("\xA0"), std::string("x\x97")}) {
        try {
            DecodeCp932(bad);
            FAIL() << "no error for " << bad;
        } catch (const EncodingError& e) {
            EXPECT_NE(std::string(e.what()).find("byte " + std::to_string(bad.size())), std::string::npos) << e.what();
        }
    }
    std::u16string out;
    EXPECT_EQ(TryDecodeCp932("ok\xFD\x40", out), 2u);
}

TEST(Cp932, Utf8RoundTripIncludingSurrogates)
{
    const std::string s = "郵便 ｶﾅ \xF0\x9F\x98\x80";
    EXPECT_EQ(ToUtf8(FromUtf8(s)), s);
    EXPECT_THROW(FromUtf8("\xE3\x81"), EncodingError);
    EXPECT_THROW(EncodeCp932(FromUtf8("\xF0\x9F\x98\x80")), EncodingError);
}

TEST(Cp932, ACharacterBeyondTheBasicPlaneIsNamedByItsCodePointNotItsSurrogate)
{
    struct Case {
        std::string utf8, named;
    };
    const Case cases[] = {
        {"ab\xF0\x9F\x98\x80", "character 3 (U+1F600)"},   // an emoji
        {"\xF0\xA9\xB8\xBD", "character 1 (U+29E3D)"},       // a kanji outside code page 932
        {"\xC3\xA9", "character 1 (U+00E9)"},                 // é, inside the plane: four digits
    };
    for (const Case& c : cases) {
        try {
            EncodeCp932(FromUtf8(c.utf8));
            ADD_FAILURE() << c.named << ": encoded";
        } catch (const EncodingError& e) {
            EXPECT_NE(std::string(e.what()).find(c.named), std::string::npos) << e.what();
            EXPECT_EQ(std::string(e.what()).find("U+D8"), std::string::npos) << e.what();
        }
    }
    // A surrogate half standing alone is named as it is.
    try {
        EncodeCp932(std::u16string(u"x") + char16_t(0xD83D));
        ADD_FAILURE() << "a lone surrogate encoded";
    } catch (const EncodingError& e) {
        EXPECT_NE(std::string(e.what()).find("character 2 (U+D83D)"), std::string::npos) << e.what();
    }
}
