// Every area entry of the full KEN_ALL.CSV, written as an address from its own parts (its town,
// a number inside its range, a floor of its building, one of its Kyoto streets or named parts),
// must find that entry's postal code first, and the same first answer when its own postal code
// is written before it (〒, with or without a hyphen or a blank); its address in Latin letters
// finds it too. The test prints the shares and the entries no written address reaches, with the
// reason. Written with the name of a municipality merged away since, an address of a town of
// today's municipality finds that town.
#include "base/cp932.h"
#include "base/romaji.h"
#include "tests/support/written_address.h"
#include "search/find.h"
#include "tests/support/temp_dir.h"
#include "builder/builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>

using namespace ubin;

namespace {


// The variants (the code written before the address, the address in Latin letters), tried on
// every entry in an optimized build, else on every 25th (every 100th under the sanitizers).
#if defined(UBIN_SANITIZED)
constexpr std::int32_t kEvery = 100;
#elif defined(NDEBUG)
constexpr std::int32_t kEvery = 1;
#else
constexpr std::int32_t kEvery = 25;
#endif

std::u16string WithHyphen(std::u16string_view code) { return std::u16string(code.substr(0, 3)) + u"-" + std::u16string(code.substr(3)); }

// The address written after its postal code, as lists and forms write it.
std::vector<std::u16string> AfterItsCode(std::u16string_view code, const std::u16string& address)
{
    return {u"〒" + address, u"〒" + WithHyphen(code) + u" " + address, std::u16string(code) + address,
            std::u16string(code) + u" " + address, u"〒 " + WithHyphen(code) + u"　" + address};
}

std::string FirstCode(const FindResult& r) { return r.results.empty() ? "nothing" : ToUtf8(r.results[0].postalCode); }


// Every former municipality the build recorded, written before a town of the municipality that
// holds its towns today, in both of the ways such towns are named: with the old name in theirs
// (秩父郡荒川村上田野 for 秩父市荒川上田野, 沼隈郡内海町イ for 福山市内海町イ) and without it
// (岩槻市本町 for さいたま市岩槻区本町).
// (Called by the round trip, which has built the full directory already.)
void FormerMunicipalitiesFindTheTownOfToday(const Lookup* lookup, const Finder& finder, const AddressResolver& book)
{
    const AddressTable& table = book.Table();
    EXPECT_GT(table.OldCityCount(), 1500);

    // The town names of each city, and how often each is used there.
    std::map<std::int32_t, std::vector<std::int32_t>> entriesOf;
    std::map<std::pair<std::int32_t, std::u16string>, int> uses;
    for (std::int32_t n = 1; n <= lookup->EntryCount(); ++n) {
        const AddressRecord r = *book.Record(n);
        entriesOf[r.cityCode].push_back(n);
        ++uses[{r.cityCode, r.town}];
    }
    const auto endsName = [](std::u16string_view s) { return !s.empty() && std::u16string_view(u"市町村区").find(s.back()) != std::u16string_view::npos; };
    int tried = 0, found = 0;
    std::vector<std::string> misses;
    for (std::int32_t i = 0; i < table.OldCityCount(); ++i) {
        const AddressOldCity old = table.OldCity(i);
        if (old.code == 0) continue;
        const std::u16string_view written = old.name;
        const std::u16string_view bare = written.substr(written.find(u'郡') == std::u16string_view::npos ? 0 : written.find(u'郡') + 1);
        const std::u16string_view stem = endsName(bare) ? bare.substr(0, bare.size() - 1) : bare;
        std::u16string withName, withoutName; // an address of each kind, and its code
        std::u16string withCode, withoutCode;
        for (const std::int32_t n : entriesOf[old.code]) {
            const AddressRecord r = *book.Record(n);
            if (r.kind != NoteKind::None || uses[{r.cityCode, r.town}] != 1 || r.town.empty()) continue;
            const std::u16string place = book.PrefectureName(old.prefecture).value_or(u"") + std::u16string(written);
            const std::u16string code = lookup->ReadEntry(n).postalCode;
            const std::u16string_view town = r.town;
            if (withName.empty() && town.starts_with(bare) && town.size() > bare.size()) {
                withName = place + std::u16string(town.substr(bare.size()));
                withCode = code;
            } else if (withName.empty() && stem.size() >= 2 && town.starts_with(stem) && town.size() > stem.size()) {
                withName = place + std::u16string(town.substr(stem.size()));
                withCode = code;
            } else if (withoutName.empty() && !town.starts_with(stem)) {
                withoutName = place + std::u16string(town);
                withoutCode = code;
            }
        }
        for (const auto& [address, code] : {std::pair{withName, withCode}, std::pair{withoutName, withoutCode}}) {
            if (address.empty()) continue;
            ++tried;
            const FindResult r = finder.Find(address, 1);
            if (!r.results.empty() && r.results[0].postalCode == code && r.formerMunicipality == old.name) ++found;
            else if (misses.size() < 200) misses.push_back(ToUtf8(address) + " -> " + FirstCode(r) + ", not " + ToUtf8(code));
        }
    }
    std::printf("%d of %d addresses written with a former municipality's name found today's town first (%.2f%%)\n", found,
                tried, 100.0 * found / tried);
    for (const std::string& m : misses) std::printf("  %s\n", m.c_str());
    EXPECT_GT(tried, 2000);
    EXPECT_GE(found * 1000, tried * 995);
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
        // Written before the mergers, with the name of a municipality merged away since.
        {"秩父郡荒川村上田野", "3691802"},             {"埼玉県秩父郡荒川村大字上田野１２３", "3691802"},
        {"岩槻市本町", "3390057"},                     {"埼玉県岩槻市本町三丁目１番", "3390057"},
        {"沼隈郡内海町イ", "7222631"},                 {"広島県沼隈郡内海町イ１２３４", "7222631"},
        // After 〒, a code of their own, or another code.
        {"〒 千代田区永田町1-7-1", "1000014"},         {"〒１００－００１４　千代田区永田町一丁目７番１号", "1000014"},
        {"〒 八王子市元本郷町3-24-1", "1920051"},      {"192-0051 東京都八王子市元本郷町三丁目24番1号", "1920051"},
        // In Latin letters, in either order.
        {"Ginza, Chuo-ku, Tokyo", "1040061"},         {"tokyo chuo-ku ginza", "1040061"},
        {"tokyo chiyoda-ku nagatacho", "1000014"},    {"Nagatacho Chiyoda-ku Tokyo", "1000014"},
        // 町 for 丁 and back, a 町 left out, look-alike kanji.
        {"上尾市一町目", "3620046"},                   {"埼玉県上尾市壱町目", "3620046"},
        {"和歌山市7番町", "6408156"},                  {"和歌山県和歌山市七番町", "6408156"},
        {"長浜市木之本西山", "5290433"},               {"滋賀県長浜市木之本西山１２", "5290433"},
        {"輪島市町野桶戸", "9280216"},                 {"石川県輪島市町野桶戸", "9280216"},
        {"京都府宇治市菟道森本", "6110013"},           {"宇治市菟道森本８", "6110013"},
        {"京都市中京区一之舟入町", "6040924"},         {"京都府京都市中京区一之舟入町５３７", "6040924"},
        {"東京都八王子\u5DFF元本郷町", "1920051"},       {"八王子\u5DFF元本郷町3-24-1", "1920051"},
    };
    for (const auto& [address, code] : asked) {
        const FindResult r = finder.Find(FromUtf8(address), 1);
        EXPECT_EQ(r.results.empty() ? "nothing" : ToUtf8(r.results[0].postalCode), code) << address;
    }
    // A fragment holding a prefecture, a district or a city lists the entries that hold it, not a
    // wrong address; a name holding the text inside a numeral is among them.
    for (const char* fragment : {"千葉県香取郡", "県八", "中央区南十", "本郡八峰町"}) {
        const FindResult r = finder.Find(FromUtf8(fragment), 1);
        EXPECT_EQ(r.match, FindMatch::Text) << fragment;
    }
    const FindResult sengoku = finder.Find(u"千石町", 0);
    EXPECT_TRUE(std::any_of(sengoku.results.begin(), sengoku.results.end(), [](const Entry& e) { return e.town == u"六千石町"; }));
    const FindResult nagoya = finder.Find(u"nagoya", 1);
    ASSERT_FALSE(nagoya.results.empty());
    EXPECT_EQ(nagoya.results[0].city.substr(0, 4), u"名古屋市");
    EXPECT_EQ(finder.Find(u"大坂市北区梅田", 1).suggestions.front(), u"大阪市");

    std::int32_t tried = 0, found = 0, coded = 0, codedAlike = 0, romajiTried = 0, romajiFound = 0;
    std::map<std::string, int> unreachable;
    std::vector<std::string> misses, codedMisses;
    for (std::int32_t n = 1; n <= lookup->EntryCount(); ++n) {
        const AddressRecord r = *book.Record(n);
        std::string why;
        const std::u16string address = test::WrittenAddress(book, r, &why);
        if (address.empty()) {
            ++unreachable[why];
            continue;
        }
        ++tried;
        Entry want = lookup->ReadEntry(n);
        finder.AddNote(want);
        const FindResult got = finder.Find(address, 1);
        if (!got.results.empty() && got.results[0].postalCode == want.postalCode) {
            ++found;
        } else if (misses.size() < 400) {
            misses.push_back(ToUtf8(want.postalCode) + " " + ToUtf8(address) + " -> " + FirstCode(got));
        }
        if (n % kEvery != 0) continue;
        for (const std::u16string& written : AfterItsCode(want.postalCode, address)) {
            ++coded;
            const std::string first = FirstCode(finder.Find(written, 1));
            if (first == FirstCode(got)) ++codedAlike;
            else if (codedMisses.size() < 50) codedMisses.push_back(ToUtf8(written) + " -> " + first + ", not " + FirstCode(got));
        }
        if (!IsRestOfCity(want)) {
            ++romajiTried;
            const std::string romaji =
                RomanizedAddress(want.prefectureKana, want.prefecture, want.cityKana, want.city, want.townKana, want.TownProper());
            const FindResult r = finder.Find(FromUtf8(romaji), 20);
            const bool listed = std::any_of(r.results.begin(), r.results.end(), [&](const Entry& e) { return e.postalCode == want.postalCode; });
            if (!r.results.empty() && r.results[0].postalCode == want.postalCode) ++romajiFound;
            else if (!listed && codedMisses.size() < 100) codedMisses.push_back(romaji + " -> " + FirstCode(r) + ", not listed");
        }
    }
    std::printf("%d of %d entries written from their parts found their own code first (%.2f%%)\n", found, tried,
                100.0 * found / tried);
    for (const auto& [why, count] : unreachable) std::printf("not written: %d entries (%s)\n", count, why.c_str());
    for (const std::string& m : misses) std::printf("  %s\n", m.c_str());
    std::printf("%d of %d written after their own code gave the same first answer as without\n", codedAlike, coded);
    std::printf("%d of %d in Latin letters found their own code first (%.2f%%)\n", romajiFound, romajiTried,
                100.0 * romajiFound / romajiTried);
    for (const std::string& m : codedMisses) std::printf("  %s\n", m.c_str());
    EXPECT_GE(found * 1000, tried * 998);
    EXPECT_EQ(codedAlike, coded);
    // A reading names many towns (ほんちょう); the share asked is that the town is among them first
    // where its reading and its city name it alone.
    EXPECT_GE(romajiFound * 100, romajiTried * 80);

    FormerMunicipalitiesFindTheTownOfToday(lookup.get(), finder, book);
}

