// Start-up, the mode switch, the clear button, the result text for the clipboard, and the
// hooks that the window and the control override.
#include "tests/form/harness.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace ubin;
using namespace ubin::element;
using ubin::test::Harness;
using ubin::test::HandWritten;

TEST(StartUp, OpensWithTheDesignPromptAndAnEmptySearch)
{
    Harness h(HandWritten());
    EXPECT_EQ(h.Text(kLabel1), "郵便番号 ");
    EXPECT_EQ(h.Text(kLabel5), "730-0014");
    for (auto e : {kITUbin, kIT1, kIT2, kIT3, kIT4, kIT5, kIT6, kText6, kLabel9}) EXPECT_EQ(h.Text(e), "") << e;
    for (auto c : kCombos) EXPECT_EQ(h.Edit(c), "") << c;
    EXPECT_FALSE(h.Enabled(kCommand7));
    EXPECT_FALSE(h.Enabled(kCommand8));
    EXPECT_TRUE(h.Enabled(kITUbin));
    EXPECT_TRUE(h.face.IsChecked(kOption1));
    EXPECT_EQ(h.face.Focus(), "ITUbin");
    EXPECT_EQ(h.search->searchMode(), kModePostal);
    EXPECT_FALSE(h.face.clipboard().has_value());
}

TEST(ModeSwitch, SetsPromptExampleAndLayout)
{
    struct Case {
        int mode;
        const char *prompt, *example;
    };
    for (const Case c : {Case{1, "郵便番号", "730-0014 / 730"}, Case{2, "都市ｺｰﾄﾞ", "34101 / 34"},
                         Case{3, "町／字", "ｶﾐﾉﾎﾞﾘﾏﾁ / ｷﾞﾝｻﾞ"}, Case{4, "町／字", "上幟町 / 銀座"}}) {
        Harness h(HandWritten());
        h.Enter("7300014");
        h.face.SetFocus(kCommand2);
        h.Mode(c.mode);
        EXPECT_EQ(h.search->searchMode(), c.mode);
        EXPECT_TRUE(h.face.IsChecked(kOptions[c.mode - 1]));
        EXPECT_EQ(h.Text(kLabel1), c.prompt);
        EXPECT_EQ(h.Text(kLabel5), c.example);
        EXPECT_EQ(h.Text(kITUbin), "");
        EXPECT_EQ(h.Text(kIT1), "");
        EXPECT_FALSE(h.Enabled(kCommand7));
        EXPECT_FALSE(h.Enabled(kCommand8));
        EXPECT_TRUE(h.Enabled(kITUbin));
        EXPECT_EQ(h.face.BackColour(kITUbin), kColourWhite);
        EXPECT_EQ(h.face.BackColour(kCombo3), kColourLightGrey);
        EXPECT_EQ(h.face.Focus(), "ITUbin");
    }
}

TEST(ModeSwitch, AreaModeGreysTheEntryBoxAndListsThePrefecturesOnce)
{
    Harness h(HandWritten());
    h.Mode(kModeTownKanji);
    h.face.SetFocus(kCommand2);
    h.Mode(kModeArea);
    EXPECT_EQ(h.Text(kLabel1), "町／字"); // the texts of the mode before stay
    EXPECT_EQ(h.Text(kLabel5), "上幟町 / 銀座");
    EXPECT_FALSE(h.Enabled(kITUbin));
    EXPECT_EQ(h.face.BackColour(kITUbin), kColourLightGrey);
    for (auto c : kCombos) EXPECT_EQ(h.face.BackColour(c), kColourWhite);
    EXPECT_EQ(h.face.Focus(), "Command2");
    EXPECT_EQ(h.Edit(kCombo1), "都道府県");
    h.Mode(kModePostal);
    h.Mode(kModeArea);
    const auto items = h.Items(kCombo1);
    ASSERT_EQ(items.size(), 47u);
    EXPECT_EQ(items.front(), "県33");
    EXPECT_EQ(items[1], "広島県");
    EXPECT_EQ(items[15], "県32");
    EXPECT_EQ(items.back(), "北海道");
}

TEST(ClearButton, ClearsAndFocusesTheEntryBoxOutsideTheAreaMode)
{
    Harness h(HandWritten());
    h.Mode(kModeTownKana);
    h.Enter("ｷﾞﾝｻﾞ");
    h.face.SetFocus(kCommand2);
    h.search->Command2_Click();
    EXPECT_EQ(h.Text(kIT4), "");
    EXPECT_EQ(h.Text(kITUbin), "");
    EXPECT_FALSE(h.Enabled(kCommand8));
    EXPECT_EQ(h.face.Focus(), "ITUbin");
    EXPECT_EQ(h.Text(kLabel5), "ｶﾐﾉﾎﾞﾘﾏﾁ / ｷﾞﾝｻﾞ");

    h.Mode(kModeArea);
    h.Choose(1, "広島県");
    h.face.SetFocus(kCommand2);
    h.search->Command2_Click();
    EXPECT_EQ(h.Edit(kCombo2), "");
    EXPECT_EQ(h.Items(kCombo2).size(), 3u); // the items stay
    EXPECT_EQ(h.face.Focus(), "Command2");
}

TEST(ResultText, ComposedFromTheLabelsAndTheFlags)
{
    Harness h(HandWritten());
    const auto clip = [&](std::initializer_list<int> on) {
        h.flags.fill(0);
        for (int i : on) h.flags[static_cast<std::size_t>(i)] = 1;
        h.search->Command1_Click();
        return h.Clipboard();
    };
    EXPECT_EQ(clip({1, 2, 3, 4, 5}), "-,, ,,"); // nothing on display
    h.Enter("7300014");
    EXPECT_EQ(clip({1, 2, 3, 4, 5}), "730-0014,広島市中区, 上幟町,ﾋﾛｼﾏｼﾅｶｸｶﾐﾉﾎﾞﾘﾁｮｳ,34101");
    EXPECT_EQ(clip({3}), " 上幟町");
    EXPECT_EQ(clip({2, 5}), "広島市中区,34101");
    EXPECT_EQ(clip({}), "");
    h.Enter("7320053"); // a town with a half-width blank
    EXPECT_EQ(clip({3}), " 大須賀町");
    h.face.SetText(kIT2, u"00 53"); // the postal code captions are taken whole
    h.face.SetText(kIT3, u"広島市 東区");
    EXPECT_EQ(clip({1, 2}), "732-00 53,広島市");
    h.Enter("732");
    EXPECT_EQ(clip({1, 3}), "732-0000,");
    h.Enter("7320052");
    EXPECT_EQ(clip({1, 3, 4}), "732-0052,,ﾋﾛｼﾏｼﾋｶﾞｼｸｲﾁｴﾝ"); // 一円: an empty field
    EXPECT_EQ(clip({0, 6, 7, 8}), ""); // flags without a text field
}

TEST(Hooks, EveryDisplayedResultPassesThroughTheDisplayStepsAndOnlyTheEntryBoxTakesThePosition)
{
    Harness h(HandWritten());
    int results = 0, positions = 0;
    FormHooks hooks;
    hooks.resultShown = [&] { ++results; };
    hooks.entryLookupStarting = [&] { ++positions; };
    Search s(h.face, *h.lookup, h.flags, hooks);
    std::vector<std::string> changed;
    h.face.SetTextObserver([&](std::string_view e, std::u16string_view) { changed.emplace_back(e); });
    s.Start();
    const auto enter = [&](const char* text) {
        h.face.SetText(kITUbin, FromUtf8(text));
        s.ITUbin_DblClick();
    };
    enter("7300014");
    s.Command8_Click();
    s.LinkExecute(u"7300011");
    s.Ubin_get_ocx(u"7300011");
    s.Ubin_get_ocx(u"5550000"); // not found: no result displayed
    EXPECT_EQ(results, 4);
    EXPECT_EQ(positions, 1);
    s.SwitchMode(kModeCity);
    enter("34101");
    s.Command8_Click();
    EXPECT_EQ(results, 6); // two city lines
    EXPECT_EQ(positions, 2);
    s.SwitchMode(kModeArea);
    s.Combo1_Click();
    h.face.SetEditText(kCombo1, u"広島県");
    s.Combo1_Click();
    h.face.SetEditText(kCombo2, u"広島市東区");
    s.Combo2_Click();
    h.face.SetEditText(kCombo3, u"一円");
    s.Combo3_Click();
    EXPECT_EQ(results, 7);
    EXPECT_NE(std::find(changed.begin(), changed.end(), "IT4"), changed.end());
    EXPECT_NE(std::find(changed.begin(), changed.end(), "Combo3"), changed.end());
}
