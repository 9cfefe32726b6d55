// The reading rules that the round trips do not show one by one.
#include "base/kana.h"
#include "tools/ubin-build/ken_all.h"

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
