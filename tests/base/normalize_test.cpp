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

TEST(SearchForm, NamesReadNumeralsDashesAndLettersOneWay)
{
    const std::pair<const char16_t*, const char16_t*> same[] = {
        {u"北二十四条西", u"北24条西"}, {u"北２４条西", u"北24条西"}, {u"西十九条南", u"西19条南"},
        {u"千二百", u"1200"},          {u"三〇", u"30"},            {u"壱丁目", u"1丁目"},
        {u"五百番地", u"500番地"},      {u"１－２－３", u"1-2-3"},    {u"1‐2", u"1-2"},
        {u"1ー2", u"1-2"},              {u"1―2", u"1-2"},            {u"1−2", u"1-2"},
        {u"５３の１", u"53-1"},          {u"jpタワー", u"JPタワー"},
        // Kanji numerals beside digits stay a word of their own.
        {u"十三1-2", u"13・1-2"},       {u"1-1六本木", u"1-1・6本木"},
    };
    for (const auto& [written, form] : same) EXPECT_EQ(NameForm(written), form) << ToUtf8(written);
    // A dash after a word is a long vowel, not a dash; の between words stays.
    EXPECT_EQ(NameForm(u"タワー"), u"タワー");
    EXPECT_EQ(NameForm(u"丸の内"), u"丸ノ内");
}

TEST(SearchForm, AnAddressKeepsABlankBetweenNumbersAsABreak)
{
    const std::pair<const char16_t*, const char16_t*> cases[] = {
        {u"梅田3-1-1 3F", u"梅田3-1-1・3F"},         {u"永田町１－７－１　１０１号室", u"永田町1-7-1・101号室"},
        {u"梅田三丁目 1-1", u"梅田3丁目1-1"},          {u"梅田 3-1-1", u"梅田3-1-1"},
        {u"丸の内2-7-2 JPタワー 30F", u"丸ノ内2-7-2JPタワー30F"},
    };
    for (const auto& [written, form] : cases) EXPECT_EQ(AddressForm(written), form) << ToUtf8(written);
}

TEST(SearchForm, VariantKanjiAreOneOnlyInTheVariantForm)
{
    for (const auto& [old, common] : {std::pair{u"富澤", u"富沢"}, {u"濱田", u"浜田"}, {u"髙田", u"高田"},
                                      {u"山﨑", u"山崎"}, {u"八幡條", u"八幡条"}, {u"虎ノ門", u"虎の門"}})
        EXPECT_EQ(VariantForm(NameForm(old)), VariantForm(NameForm(common))) << ToUtf8(old);
    EXPECT_NE(NameForm(u"富澤"), NameForm(u"富沢")); // the name form keeps the exact spelling
    EXPECT_NE(VariantForm(u"埼玉"), VariantForm(u"崎玉")); // two characters in Japanese names
}
