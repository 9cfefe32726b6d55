#include "base/errors.h"
#include "base/csv.h"
#include "base/text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <deque>

using namespace ubin;

namespace {

std::vector<std::u16string> Split(const std::string& line, std::size_t capacity)
{
    std::vector<std::u16string> f(capacity + 1, u"old");
    f[0] = U16(line);
    SplitCsvLine(f);
    return f;
}

} // namespace

TEST(SplitCsvLine, SplitsOnEveryCommaAndDropsQuotes)
{
    auto f = Split("34101,広島市中区,ﾋﾛｼﾏｼﾅｶｸ", 3);
    EXPECT_EQ(f[1], u"34101");
    EXPECT_EQ(f[2], U16("広島市中区"));
    EXPECT_EQ(f[3], U16("ﾋﾛｼﾏｼﾅｶｸ"));
    EXPECT_EQ(f[0], U16("34101,広島市中区,ﾋﾛｼﾏｼﾅｶｸ")); // the line itself stays

    f = Split("\"a,b\"", 6); // a quote never protects a comma
    EXPECT_EQ(f[1], u"a");
    EXPECT_EQ(f[2], u"b");

    f = Split("a,,b,", 6);
    EXPECT_EQ(f[1], u"a");
    EXPECT_EQ(f[2], u"");
    EXPECT_EQ(f[3], u"b");
    EXPECT_EQ(f[4], u"");
}

TEST(SplitCsvLine, LeavesLaterElementsUntouched)
{
    std::vector<std::u16string> f(7);
    f[0] = u"1,2,3,4,5,6";
    SplitCsvLine(f);
    f[0] = u"x,y";
    SplitCsvLine(f);
    EXPECT_EQ(f[1], u"x");
    EXPECT_EQ(f[2], u"y");
    EXPECT_EQ(f[3], u"3");
    EXPECT_EQ(f[6], u"6");

    f[0] = u"";
    SplitCsvLine(f);
    EXPECT_EQ(f[1], u"");
    EXPECT_EQ(f[2], u"y");
}

TEST(SplitCsvLine, MoreFieldsThanTheArrayHoldsIsAnError)
{
    EXPECT_THROW(Split("1,2,3,4", 3), FieldCountError);
    EXPECT_NO_THROW(Split("1,2,3", 3));
    std::vector<std::u16string> none(1, u"a");
    EXPECT_THROW(SplitCsvLine(none), FieldCountError);
}

TEST(DigitsOnly, KeepsHalfWidthDigitsOnly)
{
    EXPECT_EQ(DigitsOnly(u"730-0014"), u"7300014");
    EXPECT_EQ(DigitsOnly(U16("７３０")), u"");
    EXPECT_EQ(DigitsOnly(u" 7a3b0 "), u"730");
}

TEST(FirstWord, CutsAtTheFirstHalfWidthBlank)
{
    EXPECT_EQ(FirstWord(U16("中区 大手町")), U16("中区"));
    EXPECT_EQ(FirstWord(u" lead"), u"");
    EXPECT_EQ(FirstWord(U16("全角　空白")), U16("全角　空白"));
    EXPECT_EQ(FirstWord(u""), u"");
}

TEST(ZeroPad, LastDigitsOfTheValuePlusTenBillion)
{
    EXPECT_EQ(ZeroPad(2, 7), u"07");
    EXPECT_EQ(ZeroPad(2, 123), u"23");
    EXPECT_EQ(ZeroPad(5, 34101), u"34101");
    EXPECT_EQ(ZeroPad(5, 1101), u"01101");
    EXPECT_EQ(ZeroPad(11, 34101), u"10000034101");
    EXPECT_EQ(ZeroPad(12, 34101), u" 10000034101");
    EXPECT_EQ(ZeroPad(2, -5), u"95");
    EXPECT_EQ(ZeroPad(0, 5), u"");
    EXPECT_EQ(ZeroPad(-1, 5), u"");
}

TEST(NumericValue, ReadsALeadingNumberSkippingBlanks)
{
    EXPECT_EQ(NumericValue(u"34101"), 34101);
    EXPECT_EQ(NumericValue(u" 3 4 1"), 341);
    EXPECT_EQ(NumericValue(u"12abc"), 12);
    EXPECT_EQ(NumericValue(u"abc12"), 0);
    EXPECT_EQ(NumericValue(u""), 0);
    EXPECT_EQ(NumericValue(u"-7"), -7);
    EXPECT_EQ(NumericValue(u"2.5"), 2.5);
    EXPECT_EQ(NumericValue(u"1e3"), 1000);
    EXPECT_EQ(NumericValue(u"1e"), 1);
    EXPECT_EQ(NumericValue(U16("１２")), 0);
    std::int32_t v = 0;
    EXPECT_TRUE(NumericValue32(u"2.5", v));
    EXPECT_EQ(v, 2);
    EXPECT_TRUE(NumericValue32(u"3.5", v));
    EXPECT_EQ(v, 4);
    EXPECT_FALSE(NumericValue32(u"99999999999", v));
    EXPECT_TRUE(NumericValue32(u"-2147483648", v));
}

TEST(NumericValue, NumbersBeyondADoubleAreInfiniteNotZero)
{
    const std::u16string digits400(400, u'9');
    EXPECT_EQ(NumericValue(digits400), HUGE_VAL);
    EXPECT_EQ(NumericValue(u"-" + digits400), -HUGE_VAL);
    EXPECT_EQ(NumericValue(u"1e400"), HUGE_VAL);
    EXPECT_EQ(NumericValue(u"1e99999999999999999999"), HUGE_VAL);
    EXPECT_EQ(NumericValue(u"0." + std::u16string(400, u'0') + u"1"), 0);
    EXPECT_EQ(NumericValue(u"1e-400"), 0);
    EXPECT_EQ(NumericValue(u"1e-99999999999999999999"), 0);
    EXPECT_EQ(NumericValue(u"0.0001e400"), HUGE_VAL);
    EXPECT_EQ(NumericValue(u"1" + std::u16string(400, u'0') + u"e-400"), 1) << "in range once scaled";
    std::int32_t v = 7;
    EXPECT_FALSE(NumericValue32(digits400, v));
    EXPECT_FALSE(NumericValue32(u"-" + digits400, v));
    EXPECT_EQ(v, 7);
}

TEST(Errors, AMessageHoldingANulIsShownWhole)
{
    using namespace std::string_literals;
    const DirectoryError e("/data\0folder/UIND1.IDX: file not found"s);
    EXPECT_EQ(std::string(e.what()), "/data\\0folder/UIND1.IDX: file not found");
    EXPECT_EQ(std::string(SettingsError("a\0b\0"s).what()), "a\\0b\\0");
}

// Japan Post's rows: quoted values may hold commas and doubled quotes; a value's text after its
// closing quote still belongs to it; bytes and decoded text split alike.
TEST(CsvRows, SplitsQuotedValuesInBytesAndText)
{
    const struct {
        std::string line;
        std::vector<std::string> values; // empty with ok false: a quote is not closed
        bool ok = true;
    } cases[] = {
        {"01101,\"060  \",\"0600000\"", {"01101", "060  ", "0600000"}},
        {"a,,\"\"", {"a", "", ""}},
        {"\"x,y\",\"say \"\"hi\"\"\",end,", {"x,y", "say \"hi\"", "end", ""}},
        {"\"ab\"cd,e", {"abcd", "e"}},
        {"\"\"\"\"", {"\""}},
        {"a,\"open", {}, false},
    };
    for (const auto& c : cases) {
        std::vector<std::string_view> bytes;
        std::deque<std::string> scratch;
        EXPECT_EQ(ubin::SplitCsvRow(std::string_view(c.line), bytes, scratch), c.ok) << c.line;
        std::vector<std::u16string_view> text;
        std::deque<std::u16string> textScratch;
        const std::u16string wide(c.line.begin(), c.line.end());
        EXPECT_EQ(ubin::SplitCsvRow(std::u16string_view(wide), text, textScratch), c.ok) << c.line;
        if (!c.ok) continue;
        EXPECT_EQ(std::vector<std::string>(bytes.begin(), bytes.end()), c.values) << c.line;
        ASSERT_EQ(text.size(), c.values.size()) << c.line;
        for (std::size_t i = 0; i < text.size(); ++i)
            EXPECT_EQ(std::string(text[i].begin(), text[i].end()), c.values[i]) << c.line;
    }
    std::string_view rest = "a\r\nb\n\nc";
    EXPECT_EQ(ubin::TakeLine(rest), "a");
    EXPECT_EQ(ubin::TakeLine(rest), "b");
    EXPECT_EQ(ubin::TakeLine(rest), "");
    EXPECT_EQ(ubin::TakeLine(rest), "c");
    EXPECT_TRUE(rest.empty());
}
