// Offices with a postal code of their own, and kana typed with an input method, on the search
// form over the sample directory (which holds the offices of data/jigyosyo_sample.csv).
#include "tests/form/harness.h"

#include <gtest/gtest.h>

using namespace ubin;
using namespace ubin::element;
using ubin::test::Harness;

namespace {

Harness Sample() { return Harness(FromUtf8(UBIN_SAMPLE_DIR)); }

void ExpectOffice(const Harness& h)
{
    EXPECT_EQ(h.Text(kIT1), "100");
    EXPECT_EQ(h.Text(kIT2), "8111");
    EXPECT_EQ(h.Text(kIT3), "千代田区");
    EXPECT_EQ(h.Text(kIT4), "千代田１－１"); // the town, then the street part
    EXPECT_EQ(h.Text(kIT5), "");            // no reading in the list
    EXPECT_EQ(h.Text(kIT6), "13101");
    EXPECT_EQ(h.Text(kText6), "宮内庁");
}

} // namespace

TEST(OfficeLookup, ASevenDigitCodeOfAnOfficeShowsItWithoutNeighbours)
{
    Harness h = Sample();
    h.Enter("7300014"); // paging enabled by an area entry first
    h.Enter("100-8111");
    ExpectOffice(h);
    EXPECT_FALSE(h.Enabled(kCommand7));
    EXPECT_FALSE(h.Enabled(kCommand8));
    EXPECT_EQ(h.search->candPos(), 0);
    // Stepping from an office has nothing to step to: it beeps as at an end.
    h.search->Command8_Click();
    EXPECT_EQ(h.face.beeps(), 1);
    ExpectOffice(h);
    // A code neither list holds is still not found.
    h.Enter("1008112");
    EXPECT_EQ(h.Text(kText6), "*** 該当するものが見付からない **");
}

TEST(OfficeLookup, TheLinkAndTheControlLookupFindOfficesToo)
{
    Harness h = Sample();
    EXPECT_EQ(h.search->LinkExecute(u"〒100-8111"), 0);
    ExpectOffice(h);
    h.search->Ubin_get_ocx(u"");
    h.search->Ubin_get_ocx(u"1008111");
    ExpectOffice(h);
    // The control's prefix lookup of fewer digits finds area entries first, as before.
    h.search->Ubin_get_ocx(u"100");
    EXPECT_EQ(h.Text(kText6).find("宮内庁"), std::string::npos);
}

TEST(OfficeLookup, AfterAnOfficeTheNextLookupShowsAreasAndPagesAgain)
{
    Harness h = Sample();
    h.Enter("1008111");
    h.Enter("7300014");
    EXPECT_EQ(h.Text(kIT4), "上幟町");
    EXPECT_TRUE(h.Enabled(kCommand8));
    h.search->Command8_Click();
    EXPECT_EQ(h.face.beeps(), 0);
}

TEST(KanaMode, KanaTypedWithAnInputMethodFindsWhatHalfWidthKanaFind)
{
    Harness h = Sample();
    h.Mode(kModeTownKana);
    h.Enter("ｷﾞﾝｻﾞ");
    const std::string expected = h.Text(kIT1) + h.Text(kIT2) + h.Text(kIT4);
    ASSERT_EQ(h.Text(kIT4), "銀座");
    for (const char* typed : {"ギンザ", "ぎんざ"}) {
        h.Enter("");
        h.Enter(typed);
        EXPECT_EQ(h.Text(kIT1) + h.Text(kIT2) + h.Text(kIT4), expected) << typed;
        EXPECT_EQ(h.Text(kITUbin), typed); // the entry box keeps what was typed
    }
}
