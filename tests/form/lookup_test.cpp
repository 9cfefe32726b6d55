// The entry box lookups of every mode, the result display and its city texts, the link
// command and the control's programmatic lookup.
#include "tests/form/harness.h"
#include "tests/support/mini_directory.h"

#include <gtest/gtest.h>

using namespace ubin;
using namespace ubin::element;
using ubin::test::Harness;
using ubin::test::HandWritten;

namespace {

const std::string kNotFound = "*** 該当するものが見付からない **";

void ExpectResultEmpty(const Harness& h)
{
    for (auto e : {kIT1, kIT2, kIT3, kIT4, kIT5, kIT6, kLabel9}) EXPECT_EQ(h.Text(e), "") << e;
}

} // namespace

TEST(PostalLookup, SevenDigitsShowTheEntryFieldByFieldAndEnablePaging)
{
    Harness h(HandWritten());
    h.Enter("730-0014");
    EXPECT_EQ(h.Text(kIT1), "730");
    EXPECT_EQ(h.Text(kIT2), "0014");
    EXPECT_EQ(h.Text(kIT6), "34101");
    EXPECT_EQ(h.Text(kIT3), "広島市中区");
    EXPECT_EQ(h.Text(kIT4), "上幟町");
    EXPECT_EQ(h.Text(kIT5), "ﾋﾛｼﾏｼﾅｶｸｶﾐﾉﾎﾞﾘﾁｮｳ");
    EXPECT_EQ(h.Text(kText6), "（１丁目）"); // two entries share the code: the lower record is shown
    EXPECT_EQ(h.search->candPos(), h.FirstRecordWith(1, "7300014"));
    EXPECT_EQ(h.search->candLow(), 1);
    EXPECT_EQ(h.search->candHigh(), h.dir.RecordCount(1));
    EXPECT_TRUE(h.Enabled(kCommand7));
    EXPECT_TRUE(h.Enabled(kCommand8));
    EXPECT_EQ(h.Text(kITUbin), "730-0014"); // the entry box keeps what was typed
}

TEST(PostalLookup, ThreeCharactersAsTypedGetFourZerosOtherLengthsSearchAPrefix)
{
    Harness h(HandWritten());
    h.Enter("732"); // 7320000
    EXPECT_EQ(h.Text(kIT4), "以下に掲載がない場合");
    h.Enter("7300"); // four characters: the first entry beginning with 7300
    EXPECT_EQ(h.Text(kIT2), "0011");
    EXPECT_EQ(h.search->candPos(), h.FirstRecordWith(1, "7300"));
    h.Enter("73a"); // three characters typed, two digits: 73 then 0000, which no entry has
    EXPECT_EQ(h.Text(kText6), kNotFound);
    h.Enter("7306"); // several records share 7306: the walk ends on the lowest
    EXPECT_EQ(h.Text(kIT2), "6100");
    EXPECT_EQ(h.search->candPos(), h.FirstRecordWith(1, "7306"));
}

TEST(PostalLookup, FullWidthDigitsCountAsDigits)
{
    Harness h(HandWritten());
    h.Enter("７３０－００１４");
    EXPECT_EQ(h.Text(kIT2), "0014");
    h.Enter("７３２"); // three characters typed
    EXPECT_EQ(h.Text(kIT1) + h.Text(kIT2), "7320000");
    EXPECT_EQ(PostalKeyDigits(u"a０1９-"), u"019");
}

TEST(PostalLookup, AnEmptyBoxShowsTheFirstRecordOfTheModesIndex)
{
    Harness h(HandWritten());
    h.Enter("");
    EXPECT_EQ(h.search->candPos(), 1);
    EXPECT_EQ(h.Text(kIT1) + h.Text(kIT2), h.PostalCodeOfRecord(1, 1));
    EXPECT_TRUE(h.Enabled(kCommand8));
    h.Mode(kModeTownKanji);
    h.Enter("");
    EXPECT_EQ(h.Text(kIT1) + h.Text(kIT2), h.PostalCodeOfRecord(4, 1));
}

TEST(PostalLookup, NotFoundShowsTheTextAndLeavesEntryBoxAndPagingAlone)
{
    Harness h(HandWritten());
    h.Enter("7300014");
    h.face.SetEditText(kCombo2, u"広島県");
    h.Enter("5550000");
    ExpectResultEmpty(h);
    EXPECT_EQ(h.Text(kText6), kNotFound);
    EXPECT_EQ(h.Edit(kCombo2), "");
    EXPECT_EQ(h.Text(kITUbin), "5550000");
    EXPECT_EQ(h.search->candPos(), 0);
    EXPECT_TRUE(h.Enabled(kCommand7));
    EXPECT_TRUE(h.Enabled(kCommand8));
}

TEST(TownLookup, KanaAndKanjiFindTheTownByItsBeginning)
{
    Harness h(HandWritten());
    h.Mode(kModeTownKana);
    h.Enter("ｷﾞﾝｻﾞ");
    EXPECT_EQ(h.Text(kIT4), "銀座");
    EXPECT_EQ(h.search->candHigh(), h.dir.RecordCount(3));
    h.Mode(kModeTownKanji);
    h.Enter("八丁");
    EXPECT_EQ(h.Text(kIT4), "八丁堀");
    h.Enter("霧ビル地下街"); // five kanji or more never match a 4-kanji key
    EXPECT_EQ(h.Text(kText6), kNotFound);
    h.Enter("上幟町");
    h.Enter("\xF0\x9F\x8F\xA3町"); // a character the directory's code page lacks
    EXPECT_EQ(h.Text(kText6), kNotFound);
}

TEST(TownLookup, AKeyLongerThanTheIndexKeyIsNotFoundInTheWindowAndKeptByTheControl)
{
    Harness h(HandWritten());
    h.Mode(kModeTownKana);
    h.Enter("ｶﾐﾉﾎﾞﾘﾁｮｳ"); // 9 characters; the index holds the first 8
    EXPECT_EQ(h.Text(kText6), kNotFound);
    EXPECT_EQ(h.search->candPos(), 0);

    Harness c(HandWritten());
    FormHooks hooks;
    hooks.longKey = FormHooks::LongKey::KeepResult;
    c.search = std::make_unique<Search>(c.face, *c.lookup, c.flags, hooks);
    c.Mode(kModeTownKana);
    c.Enter("ｷﾞﾝｻﾞ");
    c.Enter("ｶﾐﾉﾎﾞﾘﾁｮｳ");
    EXPECT_EQ(c.Text(kIT4), "銀座"); // nothing shown over the earlier result
    EXPECT_NE(c.search->candPos(), 0);
    EXPECT_TRUE(c.Enabled(kCommand8));
}

TEST(PostalResult, CityTextsComeFromTheCityTableAndThePrefectureFlag)
{
    Harness h(HandWritten());
    ASSERT_LT(h.dir.entryCount, 34101); // fewer entries than the city code
    h.Enter("7300014");
    EXPECT_EQ(h.Text(kIT3), "広島市中区");
    h.flags[kAddPrefecture] = 1;
    h.Enter("7300014");
    EXPECT_EQ(h.Text(kIT3), "広島県広島市中区");
    EXPECT_EQ(h.Text(kIT5), "ﾋﾛｼﾏｹﾝﾋﾛｼﾏｼﾅｶｸｶﾐﾉﾎﾞﾘﾁｮｳ");
    h.Enter("0600042"); // the city line stores 1101: prefecture 1
    EXPECT_EQ(h.Text(kIT3), "北海道札幌市中央区");
    h.flags[kAddPrefecture] = 2; // only 1 counts as on
    h.Enter("9999990"); // city code 00000
    EXPECT_EQ(h.Text(kIT3), "都市コードが不正です");
    EXPECT_EQ(h.Text(kIT5), "ﾌﾒｲ");
    h.Enter("9999991"); // city code 34199 has no city line
    EXPECT_EQ(h.Text(kIT3), "該当する都市はありません");
    EXPECT_EQ(h.Text(kIT5), "ﾅｼ");
}

TEST(PostalResult, ACityCodeBeyondTheCityTableIsInvalid)
{
    auto mini = HandWritten();
    mini.entries.push_back({"9999992", "48001", "ｿﾄ", "外町", ""});
    Harness h(mini);
    h.Enter("9999992");
    EXPECT_EQ(h.Text(kIT3), "都市コードが不正です");
}

TEST(CityLookup, PrefecturesAndCitiesWithTheFourDigitCompletion)
{
    Harness h(HandWritten());
    h.Mode(kModeCity);
    h.Enter("34");
    EXPECT_EQ(h.Text(kIT6), "34");
    EXPECT_EQ(h.Text(kIT3), "広島県");
    EXPECT_EQ(h.Text(kIT5), "ﾋﾛｼﾏｹﾝ");
    EXPECT_TRUE(h.Enabled(kCommand7));
    h.Enter("34101"); // every city gets its prefecture, whatever the flag
    EXPECT_EQ(h.Text(kIT6), "34101");
    EXPECT_EQ(h.Text(kIT3), "広島県広島市中区");
    EXPECT_EQ(h.Text(kIT5), "ﾋﾛｼﾏｹﾝﾋﾛｼﾏｼﾅｶｸ");
    EXPECT_EQ(h.Text(kIT1), "");
    h.Enter("1101");
    EXPECT_EQ(h.Text(kITUbin), "01101");
    EXPECT_EQ(h.Text(kIT6), "01101");
    EXPECT_EQ(h.Text(kIT3), "北海道札幌市中央区");
    EXPECT_EQ(h.search->candPos(), 1101);
}

TEST(CityLookup, NoCityEmptiesTheSearchAndShowsTheCode)
{
    for (const char* code : {"34199", "48001"}) { // a 0 record, and beyond the table
        Harness h(HandWritten());
        h.Mode(kModeCity);
        h.Enter("34101");
        h.Enter(code);
        EXPECT_EQ(h.Text(kITUbin), "");
        EXPECT_EQ(h.Text(kIT6), code);
        EXPECT_EQ(h.Text(kIT5), "該当する都市はありません");
        EXPECT_EQ(h.Text(kIT3), "");
        EXPECT_FALSE(h.Enabled(kCommand7));
        EXPECT_FALSE(h.Enabled(kCommand8));
    }
}

TEST(CityLookup, NoNumberNegativeOrHugeChangesNothing)
{
    for (const char* text : {"", "abc", "0", "-34", "99999999999"}) {
        Harness h(HandWritten());
        h.Mode(kModeCity);
        h.Enter("34101");
        h.Enter(text);
        EXPECT_EQ(h.Text(kIT6), "34101") << text;
        EXPECT_EQ(h.Text(kITUbin), text);
        EXPECT_EQ(h.search->candPos(), 0);
    }
    Harness h(HandWritten());
    h.Mode(kModeCity);
    h.Enter("abcd"); // four characters get their 0 even when they are no number
    EXPECT_EQ(h.Text(kITUbin), "0abcd");
}

TEST(LinkCommand, LooksUpDigitsWithTheThreeDigitRuleAndLeavesTheWindowAlone)
{
    Harness h(HandWritten());
    h.Mode(kModeArea);
    EXPECT_EQ(h.search->LinkExecute(u"730-0014"), 0);
    EXPECT_EQ(h.Text(kIT2), "0014");
    EXPECT_EQ(h.search->searchMode(), kModePostal);
    EXPECT_TRUE(h.face.IsChecked(kOption5));
    EXPECT_FALSE(h.Enabled(kITUbin));
    EXPECT_FALSE(h.Enabled(kCommand8));
    EXPECT_EQ(h.search->candHigh(), h.dir.RecordCount(1));

    h.search->LinkExecute(u" 732"); // three digits found: 0000 follows
    EXPECT_EQ(h.Text(kIT1) + h.Text(kIT2), "7320000");
    h.search->LinkExecute(u"7306"); // four digits: a prefix
    EXPECT_EQ(h.Text(kIT2), "6100");
    h.search->LinkExecute(u"〒"); // no digit: index record 1
    EXPECT_EQ(h.Text(kIT1) + h.Text(kIT2), h.PostalCodeOfRecord(1, 1));
    h.search->LinkExecute(u"７３２００５２");
    EXPECT_EQ(h.Text(kIT4), "一円");
    EXPECT_EQ(h.search->LinkExecute(u"730"), 0); // 7300000 is not in this directory
    EXPECT_EQ(h.Text(kText6), kNotFound);
    EXPECT_EQ(h.Text(kIT1), "");
}

TEST(LinkCommand, PagingAfterItStaysInThePostalIndex)
{
    ubin::test::TempDir t;
    HandWritten().Write(t.path());
    Harness h(t.DataFolder());
    // The kana index rewritten shorter while the directory is open.
    ubin::test::WriteIndex(t / "UIND3.IDX", {{"ｷﾞﾝｻﾞ", 3}, {"ﾓﾄﾏﾁ", 4}});
    h.Mode(kModeTownKana);
    h.Enter("ｷﾞﾝｻﾞ");
    h.search->LinkExecute(u"7300012");
    h.search->Command8_Click(); // the next postal record, beyond the kana index's count
    EXPECT_EQ(h.Text(kIT2), "0013");
    EXPECT_EQ(h.face.beeps(), 0);
}

TEST(ControlLookup, SelectsOption1AndSearchesTheDigitsAsAPrefix)
{
    Harness h(HandWritten());
    h.Mode(kModeTownKanji);
    h.Mode(kModeArea);
    h.search->Ubin_get_ocx(u"730");
    EXPECT_TRUE(h.face.IsChecked(kOption1));
    EXPECT_EQ(h.Text(kLabel1), "郵便番号");
    EXPECT_EQ(h.Text(kLabel5), "730-0014 / 730");
    EXPECT_TRUE(h.Enabled(kITUbin));
    EXPECT_EQ(h.face.BackColour(kCombo1), kColourLightGrey);
    EXPECT_EQ(h.Text(kIT1) + h.Text(kIT2), "7300011"); // no zeros added
    EXPECT_FALSE(h.Enabled(kCommand8));
    EXPECT_EQ(h.search->candHigh(), h.dir.RecordCount(1));

    h.search->Ubin_get_ocx(u"");
    EXPECT_EQ(h.Text(kIT1) + h.Text(kIT2), h.PostalCodeOfRecord(1, 1));
    h.search->Ubin_get_ocx(u"5550000");
    EXPECT_EQ(h.Text(kText6), kNotFound);
    EXPECT_EQ(h.search->candPos(), 0);
}

TEST(ControlLookup, MoreDigitsThanAKeyHoldsShowNothing)
{
    auto mini = HandWritten();
    ubin::test::TempDir t;
    mini.Write(t.path());
    Harness h(t.DataFolder());
    // An index whose keys use all eight characters, written while the directory is open.
    ubin::test::WriteIndex(t / "UIND1.IDX", {{"73000140", 7}, {"73000141", 8}});
    h.search->Ubin_get_ocx(u"7300014");
    ASSERT_EQ(h.Text(kIT2), "0014");
    h.search->Ubin_get_ocx(u"730001419");
    EXPECT_EQ(h.Text(kIT2), "0014");
    EXPECT_EQ(h.Text(kText6), "（１丁目）");
    EXPECT_EQ(h.search->candPos(), 2); // the record the key search met
    h.search->LinkExecute(u"730001419"); // the link command shows the not-found text
    EXPECT_EQ(h.Text(kText6), kNotFound);
}

TEST(PostalLookup, AnIndexRewrittenWhileOpenIsSearchedOverTheRecordsItHoldsNow)
{
    ubin::test::TempDir t;
    HandWritten().Write(t.path());
    Harness h(t.DataFolder());
    const std::int32_t before = h.dir.RecordCount(1);

    // Shorter: the last record is the new end, no read goes past it.
    ubin::test::WriteIndex(t / "UIND1.IDX", {{"7300014", 7}, {"7300015", 9}});
    h.Enter("7300015");
    EXPECT_EQ(h.Text(kIT4), "橋本町");
    EXPECT_EQ(h.search->candHigh(), 2);
    h.search->Command8_Click();
    EXPECT_FALSE(h.Enabled(kCommand8));
    EXPECT_EQ(h.face.beeps(), 1);

    // Longer: the records past the old end are found too.
    std::vector<std::pair<std::string, std::int32_t>> longer;
    for (std::int32_t i = 0; i < before; ++i) longer.push_back({"1040061", 3});
    longer.push_back({"7300016", 10});
    ubin::test::WriteIndex(t / "UIND1.IDX", longer);
    h.Enter("7300016");
    EXPECT_EQ(h.Text(kIT4), "幟町");
    EXPECT_EQ(h.search->candPos(), before + 1);
}
