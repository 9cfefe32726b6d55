// 前候補 and 次候補: neighbours in index order, or in city-code order in the city mode.
#include "tests/form/harness.h"

#include <gtest/gtest.h>
#include <limits>

using namespace ubin;
using namespace ubin::element;
using ubin::test::Harness;
using ubin::test::HandWritten;

TEST(Paging, StepsThroughIndexNeighboursPastTheSearchedCode)
{
    Harness h(HandWritten());
    h.Enter("7300014");
    const std::int32_t first = h.search->candPos();
    h.search->Command8_Click(); // the second 7300014 entry
    EXPECT_EQ(h.Text(kText6), "（２丁目）");
    h.search->Command8_Click(); // no longer 7300014
    EXPECT_EQ(h.Text(kIT1) + h.Text(kIT2), h.PostalCodeOfRecord(1, first + 2));
    EXPECT_EQ(h.search->candPos(), first + 2);
    h.Enter("7300014");
    h.search->Command7_Click();
    EXPECT_EQ(h.Text(kIT1) + h.Text(kIT2), h.PostalCodeOfRecord(1, first - 1));
    EXPECT_EQ(h.face.beeps(), 0);
}

TEST(Paging, EndsDisableTheirButtonAndBeep)
{
    Harness h(HandWritten());
    h.Enter("");
    ASSERT_EQ(h.search->candPos(), 1);
    h.search->Command7_Click();
    EXPECT_FALSE(h.Enabled(kCommand7));
    EXPECT_TRUE(h.Enabled(kCommand8));
    EXPECT_EQ(h.search->candPos(), 1);
    EXPECT_EQ(h.face.beeps(), 1);
    h.search->Command8_Click(); // a step forward enables 前候補 again
    EXPECT_TRUE(h.Enabled(kCommand7));

    h.search->LinkExecute(u"9999991"); // the last record
    h.search->Command8_Click();
    EXPECT_FALSE(h.Enabled(kCommand8));
    EXPECT_EQ(h.face.beeps(), 2);
    h.search->Command7_Click(); // a step back does not enable 次候補
    EXPECT_FALSE(h.Enabled(kCommand8));
    EXPECT_EQ(h.search->candPos(), h.dir.RecordCount(1) - 1);
}

TEST(Paging, AfterANotFoundLookupStartsFromTheFirstRecord)
{
    Harness h(HandWritten());
    h.Enter("7300014");
    h.Enter("5550000");
    h.search->Command8_Click();
    EXPECT_EQ(h.Text(kIT1) + h.Text(kIT2), h.PostalCodeOfRecord(1, 1));
    h.Enter("5550000");
    h.search->Command7_Click();
    EXPECT_FALSE(h.Enabled(kCommand7));
    EXPECT_EQ(h.face.beeps(), 1);
}

TEST(Paging, CityModeSkipsCodesWithoutACity)
{
    Harness h(HandWritten());
    h.Mode(kModeCity);
    h.Enter("34102");
    h.search->Command8_Click(); // 34103 has no city
    EXPECT_EQ(h.Text(kIT6), "34104");
    EXPECT_EQ(h.Text(kIT3), "広島県広島市西区");
    h.search->Command7_Click();
    h.search->Command7_Click();
    EXPECT_EQ(h.Text(kIT6), "34101");
    h.Enter("13102");
    h.search->Command7_Click(); // down past every empty code to the Sapporo line, stored as 1101
    EXPECT_EQ(h.Text(kIT6), "01101");
    h.search->Command7_Click(); // then the prefecture lines
    EXPECT_EQ(h.Text(kIT6), "47");
    EXPECT_EQ(h.Text(kIT3), "県47");

    h.Enter("1");
    h.search->Command7_Click();
    EXPECT_FALSE(h.Enabled(kCommand7));
    EXPECT_EQ(h.face.beeps(), 1);
}

TEST(Paging, CityModeRunsUpToTheTableEndWhenNoCityFollows)
{
    auto mini = HandWritten();
    mini.cityTableSize = 35300;
    Harness h(mini);
    h.Mode(kModeCity);
    h.Enter("35201");
    h.search->Command8_Click();
    EXPECT_FALSE(h.Enabled(kCommand8));
    EXPECT_EQ(h.face.beeps(), 1);
    EXPECT_EQ(h.search->candPos(), 35300);
    EXPECT_EQ(h.Text(kIT6), "35201");
}

TEST(Paging, CityModeStepsBackWhenTheCityTableHoldsTheLargest32BitCount)
{
    Harness h(HandWritten());
    h.Mode(kModeCity);
    h.Enter("34101");
    h.dir.cityTableSize = std::numeric_limits<std::int32_t>::max(); // 2^31 - 1 records
    h.search->Command7_Click();
    EXPECT_EQ(h.Text(kIT6), "13102");
    EXPECT_EQ(h.search->candPos(), 13102);
    EXPECT_TRUE(h.Enabled(kCommand7));
    EXPECT_EQ(h.face.beeps(), 0);
}
