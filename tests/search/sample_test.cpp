// The search logic over the directory built from the sample extract of the national list.
#include "tests/search/harness.h"

#include <gtest/gtest.h>

using namespace ubin;
using namespace ubin::element;
using ubin::test::Harness;

namespace {

Harness Sample() { return Harness(FromUtf8(UBIN_SAMPLE_DIR)); }

} // namespace

TEST(SampleDirectory, EveryPostalEntryShowsItsCity)
{
    Harness h = Sample();
    ASSERT_LT(h.dir.entryCount, h.dir.cityTableSize);
    h.Enter("");
    int shown = 1;
    for (; h.Enabled(kCommand8); ++shown) {
        EXPECT_NE(h.Text(kIT3), "都市コードが不正です") << h.Text(kIT1) << h.Text(kIT2);
        EXPECT_NE(h.Text(kIT3), "該当する都市はありません") << h.Text(kIT1) << h.Text(kIT2);
        h.search->Command8_Click();
    }
    EXPECT_EQ(shown, h.dir.entryCount + 1); // the last click only beeps
}

TEST(SampleDirectory, AreaListsReachEveryPrefecture)
{
    Harness h = Sample();
    h.Mode(kModeArea);
    for (int p = 1; p <= 47; ++p) {
        const std::string name = ToUtf8(h.dir.prefNames[static_cast<std::size_t>(p)]);
        h.Choose(1, name);
        ASSERT_FALSE(h.Items(kCombo2).empty()) << name;
        for (const AreaItem& city : h.search->cityItems()) EXPECT_EQ(city.number / 1000, p) << name;
        h.Choose(2, h.Items(kCombo2).front());
        EXPECT_FALSE(h.Items(kCombo3).empty()) << name;
    }
}
