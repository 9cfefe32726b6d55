// The lookup engine at the record level: entries and city lines as values, searches by key,
// the area lists and the cursor, over hand-written and sample directories.
#include "base/cp932.h"
#include "base/text.h"
#include "search/lookup.h"
#include "search/records.h"
#include "tests/search/hand_written.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>

using namespace ubin;
using ubin::test::HandWritten;
using ubin::test::TempDir;

namespace {

// A directory written into a temporary folder and an engine over it.
struct Engine {
    TempDir temp;
    std::unique_ptr<Lookup> lookup;

    explicit Engine(const test::MiniDirectory& mini)
    {
        mini.Write(temp.path());
        lookup = Lookup::Open(temp.DataFolder());
    }
    const Lookup* operator->() const { return lookup.get(); }
    // The record level the search form works at.
    IndexRecords records() const { return IndexRecords(*lookup); }
};

std::vector<std::string> Codes(const std::vector<Entry>& entries)
{
    std::vector<std::string> out;
    for (const Entry& e : entries) out.push_back(ToUtf8(e.postalCode));
    return out;
}

std::vector<std::string> Names(const std::vector<AreaItem>& items)
{
    std::vector<std::string> out;
    for (const AreaItem& i : items) out.push_back(ToUtf8(i.name));
    return out;
}

using Strings = std::vector<std::string>;

} // namespace

TEST(Entries, APostalEntryComesWithItsCityAndPrefecture)
{
    Engine e(HandWritten());
    const Entry entry = e->ReadEntry(7); // the first 7300014
    EXPECT_EQ(entry.number, 7);
    EXPECT_EQ(entry.postalCode, u"7300014");
    EXPECT_EQ(entry.cityCode, u"34101");
    EXPECT_EQ(entry.town, u"上幟町");
    EXPECT_EQ(entry.townKana, u"ｶﾐﾉﾎﾞﾘﾁｮｳ");
    EXPECT_EQ(entry.detail, u"（１丁目）");
    EXPECT_TRUE(entry.HasSubAreas());
    EXPECT_EQ(entry.cityStatus, CityStatus::Found);
    EXPECT_EQ(entry.city, u"広島市中区");
    EXPECT_EQ(entry.cityKana, u"ﾋﾛｼﾏｼﾅｶｸ");
    EXPECT_EQ(entry.prefecture, u"広島県");
    EXPECT_EQ(entry.prefectureKana, u"ﾋﾛｼﾏｹﾝ");
    EXPECT_FALSE(e->ReadEntry(4).HasSubAreas());
}

TEST(Entries, TheCityOfAnEntryCanBeMissingOrInvalid)
{
    auto mini = HandWritten();
    mini.entries.push_back({"9999992", "48001", "ｿﾄ", "外町", ""});
    Engine e(mini);
    const std::int32_t n = e->EntryCount();
    EXPECT_EQ(e->ReadEntry(n - 2).cityStatus, CityStatus::BadCode);    // 00000
    EXPECT_EQ(e->ReadEntry(n - 1).cityStatus, CityStatus::NoSuchCity); // 34199: a 0 record
    EXPECT_EQ(e->ReadEntry(n).cityStatus, CityStatus::BadCode);        // beyond the table
    EXPECT_EQ(e->ReadEntry(n).city, u"");
    // The Sapporo line stores 1101: its prefecture is 01.
    EXPECT_EQ(e->ReadEntry(2).prefecture, u"北海道");
}

TEST(KeySearch, PostalCodesByPrefixInIndexOrder)
{
    Engine e(HandWritten());
    EXPECT_EQ(Codes(e->FindPostalAreas(u"730-0014")), (Strings{"7300014", "7300014"}));
    EXPECT_EQ(Codes(e->FindPostalAreas(u"〒７３０００１４")), (Strings{"7300014", "7300014"}));
    EXPECT_EQ(e->FindPostalAreas(u"7306").size(), 12u); // every floor of the building
    EXPECT_EQ(e->FindPostalAreas(u"73").size(), 22u);
    EXPECT_EQ(Codes(e->FindPostalAreas(u"730", 2)), (Strings{"7300011", "7300012"}));
    EXPECT_TRUE(e->FindPostalAreas(u"5550000").empty());
    EXPECT_EQ(e->FindPostalAreas(u"").size(), static_cast<std::size_t>(e->EntryCount()));
}

TEST(KeySearch, TownsByTheBeginningOfTheirReadingOrName)
{
    Engine e(HandWritten());
    EXPECT_EQ(Codes(e->Find(KeyIndex::TownKana, u"ｷﾞﾝｻﾞ")), (Strings{"1040061"}));
    EXPECT_EQ(Codes(e->Find(KeyIndex::TownName, u"八丁")), (Strings{"7300013"}));
    EXPECT_EQ(e->Find(KeyIndex::TownName, u"霧ビル").size(), 12u);
    // An index key holds 8 bytes: four kanji, eight kana.
    EXPECT_TRUE(e->Find(KeyIndex::TownName, u"霧ビル地下街").empty());
    EXPECT_TRUE(e->Find(KeyIndex::TownKana, u"ｶﾐﾉﾎﾞﾘﾁｮｳ").empty());
    // A character the directory's code page lacks begins no key.
    EXPECT_TRUE(e->Find(KeyIndex::TownName, u"\U0001F3E3町").empty());
}

TEST(KeySearch, FirstMatchIsTheLowestRecordOfTheRun)
{
    Engine e(HandWritten());
    const FirstMatch m = e.records().FindFirst(KeyIndex::Postal, u"7306");
    ASSERT_TRUE(m.accepted);
    EXPECT_EQ(e->ReadEntry(m.entry).postalCode, u"7306100");
    EXPECT_EQ(e.records().EntryOfRecord(KeyIndex::Postal, m.record), m.entry);
    const FirstMatch none = e.records().FindFirst(KeyIndex::Postal, u"5550000");
    EXPECT_EQ(none.record, 0);
    EXPECT_FALSE(none.accepted);
    // A key longer than an index key holds is met but not accepted.
    const FirstMatch longer = e.records().FindFirst(KeyIndex::TownKana, u"ｶﾐﾉﾎﾞﾘﾁｮｳ");
    EXPECT_NE(longer.record, 0);
    EXPECT_FALSE(longer.accepted);
    EXPECT_EQ(longer.entry, 0);
}

TEST(Cities, CodesOfPrefecturesAndCitiesWithTheFourDigitCompletion)
{
    Engine e(HandWritten());
    const auto pref = e->FindCity(u"34").value().line;
    ASSERT_TRUE(pref);
    EXPECT_EQ(pref->areaCode, u"34");
    EXPECT_EQ(e->WithPrefecture(*pref).name, u"広島県"); // shown as stored
    const auto city = e->FindCity(u"34101").value().line;
    ASSERT_TRUE(city);
    EXPECT_EQ(city->name, u"広島市中区");
    EXPECT_EQ(e->WithPrefecture(*city).name, u"広島県広島市中区");
    EXPECT_EQ(e->WithPrefecture(*city).kana, u"ﾋﾛｼﾏｹﾝﾋﾛｼﾏｼﾅｶｸ");
    const auto sapporo = e->FindCity(u"1101").value().line;
    ASSERT_TRUE(sapporo);
    EXPECT_EQ(sapporo->code, 1101);
    EXPECT_EQ(sapporo->areaCode, u"01101");
    // A number without a line keeps its code (the window pages on from it); no number has none.
    const std::pair<const char16_t*, std::int32_t> none[] = {{u"34199", 34199}, {u"48001", 48001}, {u"abc", 0}, {u"0", 0},
                                                             {u"-34", 0}, {u"", 0}, {u"99999999999", 0}};
    for (const auto& [typed, code] : none) {
        const std::optional<CityMatch> match = e->FindCity(typed);
        EXPECT_FALSE(match && match->line) << ToUtf8(typed);
        EXPECT_EQ(match ? match->code : 0, code) << ToUtf8(typed);
    }
}

TEST(Cities, ATableCutShortCountsItsLastPartialRecordAsNoCity)
{
    // A table whose size leaves 2 or 3 bytes over a multiple of 4: its rounded count names a
    // record the file does not hold whole.
    for (const int extra : {2, 3}) {
        auto mini = HandWritten();
        mini.cities.pop_back();
        mini.cityTableSize = 34104;
        TempDir t;
        mini.Write(t.path());
        test::WriteBytes(t / "TOSHI1.TDB", test::ReadBytes(t / "TOSHI1.TDB") + std::string(extra, '\x01'));
        const auto e = Lookup::Open(t.DataFolder());
        ASSERT_EQ(e->CityTableSize(), extra == 2 ? 34104 : 34105);
        EXPECT_FALSE(e->ReadCity(34105)) << extra;
        EXPECT_EQ(Names(e->CitiesOf(34)), (Strings{"広島市中区", "広島市東区", "広島市西区"})) << extra;
        Cursor c = Cursor::Cities(34104);
        EXPECT_FALSE(IndexRecords(*e).Step(c, +1)) << extra;
    }
}

TEST(AreaLists, PrefecturesCitiesTownsAndSubAreas)
{
    Engine e(HandWritten());
    const auto prefs = e->Prefectures();
    ASSERT_EQ(prefs.size(), 47u);
    EXPECT_EQ(prefs[33], (AreaItem{u"広島県", 34}));

    const auto cities = e->CitiesOf(34);
    EXPECT_EQ(Names(cities), (Strings{"広島市中区", "広島市東区", "広島市西区"}));
    EXPECT_EQ(cities[2].number, 34104);
    EXPECT_EQ(Names(e->CitiesOf(1)), (Strings{"札幌市中央区"}));
    EXPECT_TRUE(e->CitiesOf(20).empty());
    EXPECT_TRUE(e->CitiesOf(48).empty());

    const TownList towns = e->TownsOf(u"34102");
    EXPECT_EQ(Names(towns.towns), (Strings{"以下に掲載がない場合", "一円", "大須賀町"})); // first words
    EXPECT_NE(towns.firstRecord.value_or(0), 0);
    EXPECT_TRUE(e->TownsOf(u"34104").towns.empty());
    EXPECT_TRUE(e->TownsOf(u"").towns.empty());

    const Entry floor5 = e->ReadEntry(16); // 霧ビル （5階）
    ASSERT_EQ(floor5.town, u"霧ビル");
    const auto floors = e->SubAreasOf(floor5);
    ASSERT_EQ(floors.size(), 12u);
    EXPECT_EQ(floors.front().name, u"（地階・階層不明）");
    EXPECT_EQ(floors.back(), (AreaItem{u"（11階）", 22}));
}

TEST(Cursor, IndexRecordsStepOneAtATimeAndStopAtTheirBounds)
{
    Engine e(HandWritten());
    const std::int32_t count = e.records().RecordCount(KeyIndex::Postal);
    Cursor c = Cursor::Records(KeyIndex::Postal, 1, count, 2);
    auto back = e.records().Step(c, -1);
    ASSERT_TRUE(back);
    EXPECT_EQ(c.position, 1);
    EXPECT_EQ(back->entryNumber, e.records().EntryOfRecord(KeyIndex::Postal, 1));
    EXPECT_FALSE(e.records().Step(c, -1));
    EXPECT_EQ(c.position, 1); // stays on the end
    c.position = count - 1;
    EXPECT_TRUE(e.records().Step(c, +1));
    EXPECT_FALSE(e.records().Step(c, +1));
    EXPECT_EQ(c.position, count);
    // From nothing found (position 0) the next candidate is record 1.
    c.position = 0;
    ASSERT_TRUE(e.records().Step(c, +1));
    EXPECT_EQ(c.position, 1);
}

TEST(Cursor, CityCodesSkipEmptyRecordsInBothDirections)
{
    Engine e(HandWritten());
    Cursor c = Cursor::Cities(34102);
    auto next = e.records().Step(c, +1);
    ASSERT_TRUE(next && next->city);
    EXPECT_EQ(next->city->areaCode, u"34104"); // 34103 has no city
    EXPECT_EQ(c.position, 34104);
    c.position = 13102;
    auto back = e.records().Step(c, -1);
    ASSERT_TRUE(back && back->city);
    EXPECT_EQ(back->city->areaCode, u"01101");
    back = e.records().Step(c, -1);
    EXPECT_EQ(back->city->areaCode, u"47"); // then the prefecture lines
    c.position = 1;
    EXPECT_FALSE(e.records().Step(c, -1));
    // Past the last city every empty code up to the table's end is passed for good.
    c.position = 35201;
    EXPECT_FALSE(e.records().Step(c, +1));
    EXPECT_EQ(c.position, e->CityTableSize());
    // A position beyond the table steps back from its end.
    c.position = std::numeric_limits<std::int32_t>::max();
    back = e.records().Step(c, -1);
    ASSERT_TRUE(back && back->city);
    EXPECT_EQ(back->city->areaCode, u"35201");
}

TEST(SampleDirectory, EveryPostalEntryHasItsCity)
{
    const auto e = Lookup::Open(FromUtf8(UBIN_SAMPLE_DIR));
    ASSERT_LT(e->EntryCount(), e->CityTableSize());
    for (std::int32_t n = 1; n <= e->EntryCount(); ++n) {
        const Entry entry = e->ReadEntry(n);
        EXPECT_EQ(entry.cityStatus, CityStatus::Found) << ToUtf8(entry.postalCode);
        EXPECT_FALSE(entry.prefecture.empty()) << ToUtf8(entry.postalCode);
    }
}

TEST(SampleDirectory, EveryPrefectureHasCitiesWithTowns)
{
    const auto e = Lookup::Open(FromUtf8(UBIN_SAMPLE_DIR));
    for (const AreaItem& pref : e->Prefectures()) {
        const auto cities = e->CitiesOf(pref.number);
        ASSERT_FALSE(cities.empty()) << ToUtf8(pref.name);
        for (const AreaItem& city : cities) EXPECT_EQ(city.number / 1000, pref.number) << ToUtf8(pref.name);
        EXPECT_FALSE(e->TownsOf(ZeroPad(5, cities.front().number)).towns.empty()) << ToUtf8(pref.name);
    }
}
