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

TEST(Cp932, Utf8ThatIsOverlongASurrogateOrBeyondUnicodeIsRefused)
{
    // None is UTF-8; an overlong form would pass for the character it hides ("/" here).
    for (const char* bad : {"\xC0\xAF", "\xC1\xBF", "\xE0\x80\xAF", "\xF0\x80\x80\xAF", "\xE0\x80\x80",
                            "\xED\xA0\x80", "\xED\xBF\xBF", "\xF4\x90\x80\x80", "\xF7\xBF\xBF\xBF"})
        EXPECT_THROW(FromUtf8(std::string("a") + bad), EncodingError) << "bytes of the case: " << ::testing::PrintToString(std::string(bad));
    // The shortest forms at each length's edge stay.
    for (const char* good : {"\x7F", "\xC2\x80", "\xE0\xA0\x80", "\xEF\xBF\xBF", "\xF0\x90\x80\x80",
                             "\xF4\x8F\xBF\xBF", "\xEE\x80\x80"})
        EXPECT_EQ(ToUtf8(FromUtf8(good)), good);
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

namespace {

std::string Bytes(std::uint16_t code)
{
    return code > 0xFF ? std::string{static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)}
                       : std::string(1, static_cast<char>(code));
}

} // namespace

TEST(Cp932, TheCharactersWhereCodePage932DiffersFromShiftJis)
{
    // Code page 932 reads these codes as full-width forms, where JIS reads a backslash, a wave
    // dash, a double vertical line, a minus, cent, pound and not signs. The platforms' converters
    // (iconv's CP932, Windows' own) must agree on them.
    const std::pair<std::uint16_t, char16_t> pairs[] = {
        {0x815F, u'\uFF3C'}, {0x8160, u'\uFF5E'}, {0x8161, u'\u2225'}, {0x817C, u'\uFF0D'},
        {0x8191, u'\uFFE0'}, {0x8192, u'\uFFE1'}, {0x81CA, u'\uFFE2'},
        // NEC's row 13 and the IBM extensions exist only in code page 932.
        {0x8740, u'\u2460'}, {0x8754, u'\u2160'}, {0x8782, u'\u2116'}, {0xFA40, u'\u2170'}, {0xFA5C, u'\u7E8A'},
    };
    for (const auto& [code, c] : pairs) {
        EXPECT_EQ(DecodeCp932(Bytes(code)), std::u16string(1, c)) << std::hex << code;
        EXPECT_EQ(ShiftJisCode(c), code) << std::hex << code;
    }
}

TEST(Cp932, CodesSharedByTwoRowsDecodeAlikeAndEncodeToOne)
{
    // The same character stands in JIS X 0208 and in NEC's row 13, or in NEC's selection of the
    // IBM extensions and in the IBM extensions: both codes read as it, and it is written as the
    // code Windows prefers (JIS X 0208 first, then the IBM extensions).
    const struct {
        std::uint16_t preferred, other;
        char16_t c;
    } shared[] = {
        {0x81E0, 0x8790, u'\u2252'}, // ≒
        {0x81E6, 0xFA5B, u'\u2235'}, // ∵
        {0x81CA, 0xEEF9, u'\uFFE2'}, // ￢
        {0xFA5C, 0xED40, u'\u7E8A'}, // 纊
        {0xFA40, 0xEEEF, u'\u2170'}, // ⅰ
    };
    for (const auto& s : shared) {
        EXPECT_EQ(DecodeCp932(Bytes(s.preferred)), std::u16string(1, s.c)) << std::hex << s.preferred;
        EXPECT_EQ(DecodeCp932(Bytes(s.other)), std::u16string(1, s.c)) << std::hex << s.other;
        EXPECT_EQ(ShiftJisCode(s.c), s.preferred) << std::hex << s.preferred;
    }
}

TEST(Cp932, UnassignedCodesAreErrors)
{
    // Row 9 to 12 (0x8540..) and trail bytes below 0x40 hold no character.
    for (const std::string& bad : {std::string("ab\x85\x40"), std::string("ab\x81\x39"), std::string("ab\x81\x7F")}) {
        std::u16string out;
        EXPECT_EQ(TryDecodeCp932(bad, out), 2u) << bad;
        EXPECT_THROW(DecodeCp932(bad), EncodingError) << bad;
    }
}

TEST(Cp932, EveryDoubleByteCharacterIsWrittenAsACodeThatReadsBackAsIt)
{
    // Over every lead and trail byte: whatever decodes is one character, and the code it is
    // written as (the same one, or the preferred one of a shared pair) decodes to it again.
    int characters = 0;
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
        if (lead >= 0xA0 && lead <= 0xDF) continue;
        for (int trail = 0x40; trail <= 0xFC; ++trail) {
            const std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
            std::u16string out;
            if (TryDecodeCp932(pair, out) != 2) continue;
            ++characters;
            ASSERT_EQ(out.size(), 1u) << std::hex << lead << trail;
            const std::string back = EncodeCp932(out);
            ASSERT_EQ(back.size(), 2u) << std::hex << lead << trail;
            ASSERT_EQ(DecodeCp932(back), out) << std::hex << lead << trail;
        }
    }
    // JIS X 0208's 6879 characters, NEC's row 13 and the two sets of IBM extensions, and the
    // 1880 codes of the user area, read as Unicode's private use area.
    EXPECT_GT(characters, 9600);
    EXPECT_EQ(DecodeCp932("\xF0\x40\xF9\xFC"), u"\uE000\uE757");
}
