// Every area entry of the full KEN_ALL.CSV, written as an address from its own parts (its town,
// a number inside its range, a floor of its building, one of its Kyoto streets or named parts),
// must find that entry's postal code first. The test prints the share and the entries no
// written address reaches, with the reason.
#include "base/cp932.h"
#include "search/find.h"
#include "tests/support/temp_dir.h"
#include "builder/builder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>

using namespace ubin;

namespace {

std::u16string Digits(std::int32_t n) { return FromUtf8(std::to_string(n)); }

// A house number written with its units: 第9地割, 3丁目, 400番地2.
std::u16string WriteNumber(const HouseNumber& n)
{
    static const char16_t* const kUnits[] = {u"地割", u"丁目", u"番地", u"号"};
    std::u16string out;
    for (int l = 0; l < kNumberLevels; ++l) {
        if (n[static_cast<std::size_t>(l)] == kNoNumber) continue;
        if (l == kLevelChiwari) out += u"第";
        out += Digits(n[static_cast<std::size_t>(l)]) + kUnits[l];
    }
    return out;
}

const HouseNumber& Inside(const NoteClause& c)
{
    const bool openLow = c.range.low == kNoHouseNumber;
    return openLow ? c.range.high : c.range.low;
}

// What a person would write for the entry; empty when nothing written names it alone.
std::u16string Written(const AddressResolver& book, const AddressRecord& r, std::string& why)
{
    const std::u16string place = book.PrefectureName(r.cityCode / 1000).value_or(u"") + book.CityName(r.cityCode).value_or(u"");
    switch (r.kind) {
    case NoteKind::RestOfCity: why = "the city's catch-all"; return {};
    case NoteKind::WholeCity: return place;
    case NoteKind::NumberFirst:
        for (const NoteClause& c : r.clauses)
            if (c.kind == ClauseKind::Numbers) return place + WriteNumber(Inside(c));
        return place + u"1番地";
    case NoteKind::None: case NoteKind::ExceptBuildings: return place + r.town + u"1-2";
    case NoteKind::Floor:
        return place + r.town + u"1-1" + r.building + (r.floor == kFloorUnknown ? u"" : Digits(r.floor) + u"階");
    case NoteKind::Plain: why = "a note no rule reads"; return {};
    default: break;
    }
    for (const NoteClause& c : r.clauses) {
        switch (c.kind) {
        case ClauseKind::Numbers: return place + r.town + WriteNumber(Inside(c));
        case ClauseKind::Street: return place + r.town + c.key;
        case ClauseKind::Name:
            if (c.key == u"大字") return place + c.key + r.town;
            return place + r.town + c.key + (c.range == NumberRange{} ? u"" : WriteNumber(Inside(c)));
        case ClauseKind::AnyChome: return place + r.town + u"1丁目";
        case ClauseKind::AnyBanchi: return place + r.town + u"1番地";
        default: break;
        }
    }
    return place + r.town; // その他 alone
}

} // namespace

TEST(AddressRoundTrip, EveryEntryOfTheFullFileIsFoundFromItsOwnParts)
{
    const std::filesystem::path kenAll = UBIN_FULL_KEN_ALL;
    if (!std::filesystem::exists(kenAll)) GTEST_SKIP() << "the full KEN_ALL.CSV is not here";
    test::TempDir t;
    BuildDirectory(kenAll, t / "dir");
    const auto lookup = Lookup::Open(FromUtf8((t / "dir").string() + "/"), true);
    const Finder finder(*lookup);
    ASSERT_TRUE(finder.HasAddresses());
    const AddressResolver& book = finder.Addresses();

    // The addresses users asked about, as they wrote them.
    const std::pair<const char*, const char*> asked[] = {
        {"丸の内2-7-2 JPタワー30階", "1007030"},       {"東京都千代田区丸の内２－７－２ＪＰタワー", "1007090"},
        {"東京都千代田区丸の内1-1-1", "1000005"},      {"札幌市中央区北1条西25丁目", "0640821"},
        {"北海道札幌市中央区北一条西５－１", "0600001"}, {"旭川市4条通19丁目", "0788214"},
        {"札幌市南区藤野400-2", "0050840"},            {"札幌市南区藤野500", "0612271"},
        {"帯広市西19条南41丁目", "0800029"},           {"岩手県宮古市川井第10地割", "0282402"},
        {"京都市上京区油小路通下立売上る近衛町", "6028046"}, {"京都市上京区近衛町室町通出水上る", "6028019"},
        {"山形県最上郡最上町富沢", "9996105"},         {"福岡県みやま市瀬高町浜田", "8350016"},
        {"埼玉県川越市大字笠幡100", "3501175"},        {"京都市下京区烏丸通七条下る東塩小路町721-1", "6008216"},
    };
    for (const auto& [address, code] : asked) {
        const FindResult r = finder.Find(FromUtf8(address), 1);
        EXPECT_EQ(r.results.empty() ? "nothing" : ToUtf8(r.results[0].postalCode), code) << address;
    }

    std::int32_t tried = 0, found = 0;
    std::map<std::string, int> unreachable;
    std::vector<std::string> misses;
    for (std::int32_t n = 1; n <= lookup->EntryCount(); ++n) {
        const AddressRecord r = *book.Record(n);
        std::string why;
        const std::u16string address = Written(book, r, why);
        if (address.empty()) {
            ++unreachable[why];
            continue;
        }
        ++tried;
        const Entry want = lookup->ReadEntry(n);
        const FindResult got = finder.Find(address, 1);
        if (!got.results.empty() && got.results[0].postalCode == want.postalCode) {
            ++found;
        } else if (misses.size() < 400) {
            misses.push_back(ToUtf8(want.postalCode) + " " + ToUtf8(address) + " -> "
                             + (got.results.empty() ? std::string("nothing") : ToUtf8(got.results[0].postalCode)));
        }
    }
    std::printf("%d of %d entries written from their parts found their own code first (%.2f%%)\n", found, tried,
                100.0 * found / tried);
    for (const auto& [why, count] : unreachable) std::printf("not written: %d entries (%s)\n", count, why.c_str());
    for (const std::string& m : misses) std::printf("  %s\n", m.c_str());
    EXPECT_GE(found, tried * 99 / 100);
}
