// The four area lists: prefecture, city, town and sub-area.
#include "tests/form/harness.h"

#include <gtest/gtest.h>

using namespace ubin;
using namespace ubin::element;
using ubin::test::Harness;
using ubin::test::HandWritten;

using Items = std::vector<std::string>;

TEST(AreaLists, PrefectureListsItsCitiesInCodeOrder)
{
    Harness h(HandWritten());
    h.Mode(kModeArea);
    h.Enter("7300014"); // the entry box is disabled in this mode: nothing happens
    EXPECT_EQ(h.Text(kIT1), "");
    h.Choose(1, "広島県");
    EXPECT_EQ(h.Items(kCombo2), (Items{"広島市中区", "広島市東区", "広島市西区"}));
    EXPECT_EQ(h.Edit(kCombo2), "広島県");
    ASSERT_EQ(h.search->cityItems().size(), 3u);
    EXPECT_EQ(h.search->cityItems()[2].number, 34104);

    h.Choose(1, "北海道"); // prefecture 1, its city stored as 1101
    EXPECT_EQ(h.Items(kCombo2), (Items{"札幌市中央区"}));
    h.Choose(1, "県20"); // no city at all
    EXPECT_TRUE(h.Items(kCombo2).empty());
}

TEST(AreaLists, TheCityTablesLastRecordIsListed)
{
    auto mini = HandWritten();
    mini.cities.pop_back();
    mini.cityTableSize = 34104;
    Harness h(mini);
    h.Mode(kModeArea);
    h.Choose(1, "広島県");
    EXPECT_EQ(h.Items(kCombo2).back(), "広島市西区");
}

TEST(AreaLists, AnUnknownPrefectureKeepsTheListsAndCopiesTheText)
{
    Harness h(HandWritten());
    h.Mode(kModeArea);
    h.Choose(1, "広島県");
    h.Choose(1, "どこか");
    EXPECT_EQ(h.Edit(kCombo2), "どこか");
    EXPECT_EQ(h.Items(kCombo2).size(), 3u);
    EXPECT_TRUE(h.search->cityItems().empty());
}

TEST(AreaLists, CityListsOneTownPerEntryAndASingleEntryTownIsShownAtOnce)
{
    Harness h(HandWritten());
    h.Mode(kModeArea);
    h.Choose(1, "広島県");
    h.Choose(2, "広島市東区");
    EXPECT_EQ(h.Items(kCombo3), (Items{"以下に掲載がない場合", "一円", "大須賀町"}));
    EXPECT_EQ(h.Edit(kCombo3), "広島市東区");
    h.Choose(3, "一円");
    EXPECT_EQ(h.Text(kIT1) + h.Text(kIT2), "7320052");
    EXPECT_EQ(h.Text(kIT3), "広島市東区");
    EXPECT_TRUE(h.Items(kCombo4).empty());

    h.Choose(2, "広島市中区");
    EXPECT_EQ(h.Items(kCombo3).size(), 19u); // 7 entries and the 12 floors of one building
    EXPECT_EQ(h.Text(kIT1), ""); // a city choice clears the result
    h.Choose(2, "広島市西区"); // no entries
    EXPECT_TRUE(h.Items(kCombo3).empty());
}

TEST(AreaLists, TownWithSubAreasListsEveryOneAndShowsTheChosenOne)
{
    Harness h(HandWritten());
    h.Mode(kModeArea);
    h.Choose(1, "広島県");
    h.Choose(2, "広島市中区");
    h.Choose(3, "霧ビル");
    const Items floors = h.Items(kCombo4);
    ASSERT_EQ(floors.size(), 12u); // more than ten: none is lost
    EXPECT_EQ(floors.front(), "（地階・階層不明）");
    EXPECT_EQ(floors.back(), "（11階）");
    EXPECT_EQ(h.Edit(kCombo4), "（地階・階層不明）");
    EXPECT_EQ(h.Text(kIT1), ""); // nothing shown until a sub-area is chosen
    h.Choose(4, "（11階）");
    EXPECT_EQ(h.Text(kIT1) + h.Text(kIT2), "7306111");
    EXPECT_EQ(h.Text(kText6), "（11階）");

    h.Choose(3, "上幟町"); // two entries, only the same town
    EXPECT_EQ(h.Items(kCombo4), (Items{"（１丁目）", "（２丁目）"}));
    h.Choose(4, "（２丁目）");
    EXPECT_EQ(h.Text(kText6), "（２丁目）");
}

TEST(AreaLists, SubAreasOfATownAtTheFirstEntry)
{
    ubin::test::MiniDirectory mini = HandWritten();
    mini.entries.insert(mini.entries.begin(), {"0600001", "01101", "ｷﾀ1ｼﾞｮｳﾆｼ", "北一条西", "（１丁目）", "1"});
    mini.entries.insert(mini.entries.begin() + 1, {"0600002", "01101", "ｷﾀ1ｼﾞｮｳﾆｼ", "北一条西", "（２丁目）", "1"});
    Harness h(mini);
    h.Mode(kModeArea);
    h.Choose(1, "北海道");
    h.Choose(2, "札幌市中央区");
    h.Choose(3, "北一条西");
    EXPECT_EQ(h.Items(kCombo4), (Items{"（１丁目）", "（２丁目）"}));
}

TEST(AreaLists, EnterMovesTheFocusToTheNextList)
{
    Harness h(HandWritten());
    h.Mode(kModeArea);
    std::int16_t key = kKeyEnter;
    h.search->Combo1_KeyPress(key);
    EXPECT_EQ(key, 0);
    EXPECT_EQ(h.face.Focus(), "Combo2");
    EXPECT_TRUE(h.Items(kCombo2).empty()); // nothing chosen
    key = kKeyEnter;
    h.search->Combo3_KeyPress(key);
    EXPECT_EQ(h.face.Focus(), "Combo4");
    key = 'a';
    h.search->Combo2_KeyPress(key);
    EXPECT_EQ(key, 'a');
    EXPECT_EQ(h.face.Focus(), "Combo4");
}
