// The reading rules that the round trips do not show one by one.
#include "base/cp932.h"
#include "base/kana.h"
#include "builder/ken_all.h"
#include "tests/support/japan_post_rows.h"

#include <gtest/gtest.h>

using namespace ubin;

TEST(Kana, FullWidthReadingsBecomeHalfWidthWithSeparateVoicedMarks)
{
    EXPECT_EQ(ToHalfWidthKana(u"ヴァイオリン・パーク（１－２）"), u"ｳﾞｧｲｵﾘﾝ･ﾊﾟｰｸ(1-2)");
    EXPECT_EQ(ToHalfWidthKana(u"ガギグゲゴ　ポッ"), u"ｶﾞｷﾞｸﾞｹﾞｺﾞ ﾎﾟｯ");
    EXPECT_EQ(ToHalfWidthKana(u"ヶヵヰヱヮヲン、ＡＢ"), u"ｹｶｲｴﾜｦﾝ､AB");
    EXPECT_EQ(ToHalfWidthKana(u"ひらがな"), u"ﾋﾗｶﾞﾅ");
    EXPECT_EQ(ToHalfWidthKana(u"ｱｲ札幌"), u"ｱｲ札幌"); // already half-width, and kanji, stay
}

TEST(KenAll, TownNameSplitsFromItsParenthesisedGroups)
{
    std::u16string name, detail;
    SplitTownName(u"名駅ミッドランドスクエア（高層棟）（地階・階層不明）", u'（', u'）', name, &detail);
    EXPECT_EQ(name, u"名駅ミッドランドスクエア");
    EXPECT_EQ(detail, u"高層棟　地階・階層不明");

    SplitTownName(u"甲（乙（丙）丁）戊", u'（', u'）', name, &detail);
    EXPECT_EQ(name, u"甲");
    EXPECT_EQ(detail, u"乙（丙）丁戊");

    SplitTownName(u"以下に掲載がない場合", u'（', u'）', name, &detail);
    EXPECT_EQ(name, u"以下に掲載がない場合");
    EXPECT_EQ(detail, u"");

    SplitTownName(u"ｵｵﾄﾞｵﾘﾆｼ(1-19ﾁｮｳﾒ)", u'(', u')', name, nullptr);
    EXPECT_EQ(name, u"ｵｵﾄﾞｵﾘﾆｼ");
}

TEST(KenAll, EncodingIsToldFromTheBytes)
{
    EXPECT_EQ(DetectEncoding("\xEF\xBB\xBF" "01101"), InputEncoding::Utf8);
    EXPECT_EQ(DetectEncoding("01101,\"\xE5\x8C\x97\""), InputEncoding::Utf8);     // 北 in UTF-8
    EXPECT_EQ(DetectEncoding("01101,\"\x96\x6B\x8A\x43\""), InputEncoding::Cp932); // 北海 in code page 932
    EXPECT_EQ(DetectEncoding("01101,\"0600000\""), InputEncoding::Cp932);
}

namespace {

// A KEN_ALL row in UTF-8 with the given codes, readings and names.
std::string Row(const std::string& postal, const std::string& townKana, const std::string& town,
                const std::string& code = "01101", const std::string& city = "札幌市中央区")
{
    return code + ",\"" + postal.substr(0, 5) + "\",\"" + postal + "\",\"ﾎｯｶｲﾄﾞｳ\",\"ｻｯﾎﾟﾛｼﾁｭｳｵｳｸ\",\"" + townKana
           + "\",\"北海道\",\"" + city + "\",\"" + town + "\",0,0,0,0,0,0\r\n";
}

KenAllData Read(std::string_view bytes)
{
    BuildProgress progress;
    return ReadKenAllBytes(bytes, "KEN_ALL.CSV", BuildOptions{}, progress);
}

// The BuildError that reading the bytes throws; fails the test when they read.
BuildError ReadError(std::string_view bytes)
{
    try {
        Read(bytes);
    } catch (const BuildError& e) {
        return e;
    }
    ADD_FAILURE() << "the bytes were read";
    return BuildError("KEN_ALL.CSV", 0, "read");
}

} // namespace

TEST(KenAll, ThousandsOfContinuationRowsJoinIntoOneEntryWithNestedGroups)
{
    // A name and a reading open on the first row and closed on the last of 20,000 rows, with a
    // group nested inside that opens and closes on rows of its own.
    constexpr int kRows = 20000;
    std::string text = test::Cp932(Row("0600001", "ﾁｮｳ(", "町（"));
    for (int i = 1; i < kRows - 1; ++i) {
        const char* name = i == 100 ? "甲（" : i == 200 ? "乙）" : "番";
        text += test::Cp932(Row("0600001", i == 100 ? "(" : i == 200 ? ")" : "ﾊﾞ", name));
    }
    text += test::Cp932(Row("0600001", "ﾝ)", "地）"));
    text += test::Cp932(Row("0600002", "ﾂｷﾞ", "次"));
    const KenAllData d = Read(text);
    EXPECT_EQ(d.rowsRead, kRows + 1);
    EXPECT_EQ(d.rowsJoined, kRows - 1);
    ASSERT_EQ(d.entries.size(), 2u);
    const KenAllEntry& e = d.entries[0];
    EXPECT_EQ(e.line, 1);
    EXPECT_EQ(DecodeCp932(e.townName), u"町");
    EXPECT_EQ(DecodeCp932(e.townKana), u"ﾁｮｳ");
    const std::u16string detail = DecodeCp932(e.detail);
    EXPECT_EQ(detail.size(), static_cast<std::size_t>(kRows - 2 + 1 + 2)) << "every row's name, the inner parentheses kept";
    EXPECT_EQ(detail.substr(98, 4), u"番甲（番");
    EXPECT_TRUE(detail.ends_with(u"番地"));
    EXPECT_EQ(DecodeCp932(d.entries[1].townName), u"次");
    EXPECT_EQ(d.entries[1].line, kRows + 1);

    // The nested group still open at the last row keeps the town open to the end of the file.
    std::string open = test::Cp932(Row("0600001", "ﾁｮｳ", "町（甲（"));
    open += test::Cp932(Row("0600001", "ﾁｮｳ", "乙）"));
    EXPECT_EQ(ReadError(open).line(), 1);
}

TEST(KenAll, AByteOrderMarkOnCodePage932IsToldAsSuch)
{
    const std::string text = test::Cp932(Row("0600001", "ｱ", "旭") + Row("0600002", "ｲ", "以下"));
    const BuildError e = ReadError("\xEF\xBB\xBF" + text);
    EXPECT_EQ(e.line(), 1);
    EXPECT_NE(e.reason().find("byte order mark"), std::string::npos) << e.what();
    EXPECT_NE(e.reason().find("code page 932"), std::string::npos) << e.what();
    EXPECT_EQ(e.reason().find("like the rest"), std::string::npos) << e.what();

    // The fault is placed on the first line that is not UTF-8.
    const std::string mixed = "\xEF\xBB\xBF" + Row("0600001", "ｱｻﾋ", "旭") + test::Cp932(Row("0600002", "ｲ", "以下"));
    EXPECT_EQ(ReadError(mixed).line(), 2);
    // Bytes that are neither are left to the row's own message.
    EXPECT_NE(ReadError("\xEF\xBB\xBF" + Row("0600001", "ｱ", "旭") + "01101,\"\x80\x80\"\r\n").reason().find("not UTF-8"),
              std::string::npos);
}

TEST(KenAll, AnEmojiInTheUtf8EditionIsNamedByItsCodePoint)
{
    const BuildError e = ReadError(Row("0600001", "ｱｻﾋ", "旭\xF0\x9F\x98\x80町"));
    EXPECT_EQ(e.line(), 1);
    EXPECT_NE(e.reason().find("column 9 (town name): character 2 (U+1F600)"), std::string::npos) << e.what();
}
