// The columns a batch adds, piece by piece: the text after a house number split into building,
// floor and room; a house number into 丁目, 番地 and 号; the address in one notation; the
// reasons' list; the output in code page 932.
#include "base/cp932.h"
#include "present/address_parts.h"
#include "present/batch_report.h"
#include "present/reasons.h"
#include "tools/ubin/batch_command.h"

#include <gtest/gtest.h>

#include <set>

using namespace ubin;

TEST(BatchColumns, SplitsTheTextAfterTheNumberIntoBuildingFloorAndRoom)
{
    const struct {
        std::u16string tail, building, floor, room, rest;
    } cases[] = {
        {u" サンハイツ101", u"サンハイツ", u"", u"101", u""},
        {u"　コーポ山田２０３号室", u"コーポ山田", u"", u"203", u""},
        {u" グランドメゾン3F", u"グランドメゾン", u"3", u"", u""},
        {u"ＡＢＣビル５階", u"ABCビル", u"5", u"", u""},
        {u"上幟ビル3階301号室", u"上幟ビル", u"3", u"301", u""},
        {u"3F 301", u"", u"3", u"301", u""},
        {u"森タワーB1F", u"森タワー", u"B1", u"", u""},
        {u"地下2階", u"", u"B2", u"", u""},
        {u"ＡＢＣビル地階", u"ABCビル", u"B", u"", u""},
        {u"A-101", u"", u"", u"A-101", u""},
        {u"メゾン 101B", u"メゾン", u"", u"101B", u""},
        {u"ABC101", u"ABC101", u"", u"", u""}, // a name in Latin letters and digits, no room
        {u"ビル3F", u"ビル", u"3", u"", u""},
        {u"#5", u"", u"", u"5", u"#"},
        {u" - ", u"", u"", u"", u""},
        {u"", u"", u"", u"", u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.tail));
        AddressParts p;
        SplitTail(c.tail, p);
        EXPECT_EQ(ToUtf8(p.building), ToUtf8(c.building));
        EXPECT_EQ(ToUtf8(p.floor), ToUtf8(c.floor));
        EXPECT_EQ(ToUtf8(p.room), ToUtf8(c.room));
        EXPECT_EQ(ToUtf8(p.rest), ToUtf8(c.rest));
    }
}

TEST(BatchColumns, SplitsAHouseNumberIntoItsParts)
{
    const struct {
        std::vector<std::int32_t> numbers;
        std::vector<int> levels;
        std::u16string townChome, chome, banchi, go, room;
    } cases[] = {
        {{1, 7, 1}, {-1, -1, -1}, u"", u"1", u"7", u"1", u""},
        {{8, 18}, {-1, -1}, u"", u"", u"8", u"18", u""},
        {{1369}, {-1}, u"", u"", u"1369", u"", u""},
        {{1, 2, 3, 405}, {-1, -1, -1, -1}, u"", u"1", u"2", u"3", u"405"},
        {{4, 6, 16}, {kLevelChome, -1, -1}, u"", u"4", u"6", u"16", u""},
        {{4, 6, 16}, {kLevelChome, kLevelBanchi, kLevelGo}, u"", u"4", u"6", u"16", u""},
        {{400, 2}, {kLevelBanchi, -1}, u"", u"", u"400", u"2", u""},
        {{10, 5}, {kLevelChiwari, -1}, u"", u"10地割", u"5", u"", u""},
        {{2, 3}, {-1, -1}, u"1", u"1", u"2", u"3", u""},        // the town is 本町1丁目
        {{2, 3, 4}, {-1, -1, -1}, u"1", u"1", u"2", u"3", u"4"}, // the 丁目 is the town's
        {{3}, {kLevelGo}, u"", u"", u"", u"3", u""},
        {{}, {}, u"", u"", u"", u"", u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.numbers));
        WrittenNumber w;
        w.numbers = c.numbers;
        w.levels = c.levels;
        AddressParts p;
        SplitNumber(w, c.townChome, p);
        EXPECT_EQ(ToUtf8(p.chome), ToUtf8(c.chome));
        EXPECT_EQ(ToUtf8(p.banchi), ToUtf8(c.banchi));
        EXPECT_EQ(ToUtf8(p.go), ToUtf8(c.go));
        EXPECT_EQ(ToUtf8(p.room), ToUtf8(c.room));
    }
}

TEST(BatchColumns, WritesTheAddressInOneNotation)
{
    Entry area;
    area.prefecture = u"東京都";
    area.city = u"中央区";
    area.town = u"銀座";
    Entry chomeTown = area;
    chomeTown.town = u"本町一丁目";
    Entry office = area;
    office.kind = EntryKind::Office;
    office.town = u"銀座";
    office.street = u"４丁目６－１６";
    const auto parts = [](std::u16string chome, std::u16string banchi, std::u16string go) {
        AddressParts p;
        p.chome = std::move(chome);
        p.banchi = std::move(banchi);
        p.go = std::move(go);
        return p;
    };
    AddressParts building = parts(u"2", u"7", u"2");
    building.building = u"JPタワー";
    building.floor = u"30";
    building.room = u"101";
    AddressParts basement;
    basement.building = u"森タワー";
    basement.floor = u"B1";
    AddressParts rest;
    rest.rest = u"どこか1";
    const struct {
        const Entry& entry;
        AddressParts parts;
        bool townHoldsChome;
        std::u16string want;
    } cases[] = {
        {area, parts(u"4", u"6", u"16"), false, u"東京都中央区銀座4丁目6-16"},
        {area, parts(u"", u"400", u""), false, u"東京都中央区銀座400番地"},
        {area, parts(u"", u"8", u"18"), false, u"東京都中央区銀座8-18"},
        {area, parts(u"9地割", u"5", u""), false, u"東京都中央区銀座第9地割5番地"},
        {chomeTown, parts(u"1", u"2", u"3"), true, u"東京都中央区本町一丁目2-3"},
        {area, building, false, u"東京都中央区銀座2丁目7-2 JPタワー30階 101号室"},
        {area, basement, false, u"東京都中央区銀座 森タワー地下1階"},
        {area, rest, false, u"東京都中央区銀座どこか1"},
        {office, AddressParts(), false, u"東京都中央区銀座4丁目6-16"},
        {office, parts(u"4", u"6", u""), false, u"東京都中央区銀座4丁目6番地"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.want));
        EXPECT_EQ(ToUtf8(NormalizedAddress(c.entry, c.parts, c.townHoldsChome)), ToUtf8(c.want));
    }
    EXPECT_EQ(ToUtf8(TownChome(u"本町12丁目")), "12");
    EXPECT_EQ(ToUtf8(TownChome(u"本町")), "");
    EXPECT_EQ(ToUtf8(FloorOfEntry(u"３０階")), "30");
    EXPECT_EQ(ToUtf8(FloorOfEntry(u"地階・階層不明")), "");
}

TEST(BatchColumns, ReasonsHaveOneCodeEachAndListInOrder)
{
    std::set<std::string> codes;
    for (const ReasonInfo& info : AllReasons()) {
        EXPECT_TRUE(codes.insert(info.code).second) << info.code;
        EXPECT_EQ(&Info(info.reason), &info) << info.code; // the table is in the enum's order
        Reason back;
        ASSERT_TRUE(ReasonOfCode(info.code, back));
        EXPECT_EQ(back, info.reason);
        EXPECT_TRUE(std::string(info.text).ends_with("。")) << info.code;
    }
    EXPECT_EQ(codes.size(), kReasonCount);

    ReasonSet set;
    set.Add(Reason::TextUnused);
    set.Add(Reason::PrefectureOmitted);
    EXPECT_EQ(set.Codes(), "prefecture_omitted;text_unused");
    EXPECT_EQ(set.Texts(), std::string(Info(Reason::PrefectureOmitted).text) + Info(Reason::TextUnused).text);
    EXPECT_TRUE(set.NeedsReview());
    ReasonSet informative;
    informative.Add(Reason::PrefectureOmitted);
    EXPECT_FALSE(informative.NeedsReview());

    // Every bit the engine may set stands for a reason of its own.
    std::set<Reason> fromEngine;
    for (int bit = 0; bit < 32; ++bit) {
        ReasonSet s;
        s.AddEngine(1u << bit);
        EXPECT_LE(s.List().size(), 1u) << bit;
        if (!s.empty()) {
            EXPECT_TRUE(fromEngine.insert(s.List()[0]).second) << bit;
        }
    }
    EXPECT_EQ(fromEngine.size(), 7u);
    EXPECT_TRUE(fromEngine.count(Reason::OldName) && fromEngine.count(Reason::Lookalike));
}

TEST(BatchColumns, CodePage932OutputMarksWhatItCannotHold)
{
    std::size_t replaced = 0;
    EXPECT_EQ(Encoded("髙橋,①", OutputEncoding::Cp932, replaced), EncodeCp932(u"髙橋,①"));
    EXPECT_EQ(replaced, 0u);
    const std::string mixed = Encoded("𠮷野家\xEF\xBF\xBD,😀", OutputEncoding::Cp932, replaced);
    EXPECT_EQ(DecodeCp932(mixed), u"〓野家〓,〓");
    EXPECT_EQ(replaced, 3u);
    EXPECT_EQ(Encoded("𠮷", OutputEncoding::Utf8Bom, replaced), "𠮷");
}

TEST(BatchColumns, HtmlEscapeLeavesNoMarkup)
{
    EXPECT_EQ(HtmlEscape("<a href=\"x\">&'"), "&lt;a href=&quot;x&quot;&gt;&amp;&#39;");
    EXPECT_EQ(HtmlEscape("銀座"), "銀座");
}
