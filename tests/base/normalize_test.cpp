// The search form of texts: what a search treats as the same.
#include "base/cp932.h"
#include "base/kana.h"
#include "base/normalize.h"

#include <gtest/gtest.h>

using namespace ubin;

TEST(SearchForm, NfkcMakesWidthsOne)
{
    EXPECT_EQ(Nfkc(u"ＡＢＣ１２３－"), u"ABC123-");
    EXPECT_EQ(Nfkc(u"ｶﾞｷﾞﾊﾟ"), u"ガギパ");  // half-width kana with their marks combined
    EXPECT_EQ(Nfkc(u"㈱"), u"(株)");
    EXPECT_EQ(Nfkc(u"上幟町"), u"上幟町"); // the common characters need no conversion
    EXPECT_EQ(Nfkc(u""), u"");
}

TEST(SearchForm, HiraganaAreKatakanaAndBlanksAreDropped)
{
    EXPECT_EQ(SearchForm(u"ぎんざ　いっちょうめ"), u"ギンザイッチョウメ");
    EXPECT_EQ(SearchForm(u" ｷﾞﾝｻﾞ 1 "), u"ギンザ1");
    EXPECT_EQ(SearchForm(u"〒１００－８１１１"), u"〒100-8111");
    // ヶ stays itself in a reading's form; only names fold it.
    EXPECT_EQ(SearchForm(u"ヶ"), u"ヶ");
}

TEST(SearchForm, NamesTakeKeKaAndGaAsOne)
{
    for (const char16_t* name : {u"霞ヶ関", u"霞ケ関", u"霞ヵ関", u"霞が関", u"霞ガ関"})
        EXPECT_EQ(NameForm(name), u"霞ケ関") << ToUtf8(name);
    EXPECT_EQ(NameForm(u"ひばりが丘"), NameForm(u"ヒバリヶ丘"));
    EXPECT_NE(NameForm(u"ゲ"), NameForm(u"ケ")); // other voiced kana stay apart
}

TEST(SearchForm, KanaAloneIsTold)
{
    EXPECT_TRUE(IsKanaOnly(SearchForm(u"ぎんざ")));
    EXPECT_TRUE(IsKanaOnly(SearchForm(u"ソニー")));
    EXPECT_TRUE(IsKanaOnly(SearchForm(u"ｷﾞﾝｻﾞ")));
    EXPECT_FALSE(IsKanaOnly(SearchForm(u"銀座")));
    EXPECT_FALSE(IsKanaOnly(SearchForm(u"ギンザ1")));
    EXPECT_FALSE(IsKanaOnly(u""));
}

TEST(HalfWidthKana, InputMethodKanaBecomeTheIndexForm)
{
    EXPECT_EQ(ToHalfWidthKana(u"ギンザ"), u"ｷﾞﾝｻﾞ");
    EXPECT_EQ(ToHalfWidthKana(u"ぎんざ"), u"ｷﾞﾝｻﾞ");
    EXPECT_EQ(ToHalfWidthKana(u"パ　ヴ"), u"ﾊﾟ ｳﾞ");
    EXPECT_EQ(ToHalfWidthKana(u"ｷﾞﾝｻﾞ"), u"ｷﾞﾝｻﾞ"); // half-width stays
}
