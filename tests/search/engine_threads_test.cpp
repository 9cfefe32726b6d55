// One engine used from eight threads at once gives every thread the answers one thread gets.
#include "base/cp932.h"
#include "base/text.h"
#include "search/lookup.h"
#include "search/records.h"
#include "tests/support/temp_dir.h"
#include "builder/builder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace ubin;

namespace {

constexpr int kThreads = 8;

std::string Describe(const Entry& e)
{
    return ToUtf8(e.postalCode + u"|" + e.prefecture + e.city + e.town + e.detail + u"|" + e.townKana) + "\n";
}

// The answers to lookups of every kind about entries spread over the directory, as one text.
// `offset` rotates where a thread starts, so the threads read different places at a time.
std::string Answers(const Lookup& lookup, int offset, int samples)
{
    std::string out;
    const std::int32_t entries = lookup.EntryCount();
    for (int i = 0; i < samples; ++i) {
        const int k = (i + offset * samples / kThreads) % samples;
        const auto n = static_cast<std::int32_t>(1 + static_cast<std::int64_t>(k) * (entries - 1) / samples);
        const Entry e = lookup.ReadEntry(n);
        out += "#" + std::to_string(k) + "\n" + Describe(e);
        for (const Entry& m : lookup.FindPostalAreas(e.postalCode, 5)) out += Describe(m);
        for (const Entry& m : lookup.Find(KeyIndex::TownKana, e.townKana.substr(0, 4), 3)) out += Describe(m);
        for (const Entry& m : lookup.Find(KeyIndex::TownName, e.town.substr(0, 2), 3)) out += Describe(m);
        if (const auto city = lookup.FindCity(e.cityCode).value_or(CityMatch{}).line) out += ToUtf8(lookup.WithPrefecture(*city).name) + "\n";
        if (e.HasSubAreas())
            for (const AreaItem& a : lookup.SubAreasOf(e)) out += ToUtf8(a.name) + "\n";
        Cursor c = Cursor::Records(KeyIndex::Postal, 1, IndexRecords(lookup).RecordCount(KeyIndex::Postal), n);
        for (int step = 0; step < 3; ++step)
            if (const auto s = IndexRecords(lookup).Step(c, step == 1 ? -1 : +1)) out += std::to_string(s->entryNumber) + " ";
        Cursor cities = Cursor::Cities(static_cast<std::int32_t>(NumericValue(e.cityCode)));
        if (const auto s = IndexRecords(lookup).Step(cities, +1); s && s->city) out += ToUtf8(s->city->name) + "\n";
        if (k % 40 == 0) {
            const std::int32_t p = 1 + k % 47;
            for (const AreaItem& city : lookup.CitiesOf(p)) out += ToUtf8(city.name) + ",";
            out += "\n";
        }
    }
    return out;
}

void ExpectSameAnswersFromEightThreads(const Lookup& lookup, int samples)
{
    const std::string expected = Answers(lookup, 0, samples);
    ASSERT_GT(expected.size(), static_cast<std::size_t>(samples) * 20);
    std::vector<std::string> got(kThreads);
    std::vector<std::string> errors(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            try {
                // Rotated the same way as the reference is not: compare sorted blocks below.
                got[static_cast<std::size_t>(t)] = Answers(lookup, t, samples);
            } catch (const std::exception& e) {
                errors[static_cast<std::size_t>(t)] = e.what();
            }
        });
    for (auto& t : threads) t.join();
    // Each thread answered the same samples in a rotated order: compare them block by block.
    const auto blocks = [](const std::string& text) {
        std::vector<std::string> out;
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t next = text.find("\n#", start + 1);
            if (next == std::string::npos) next = text.size();
            else ++next;
            out.push_back(text.substr(start, next - start));
            start = next;
        }
        std::sort(out.begin(), out.end());
        return out;
    };
    const auto reference = blocks(expected);
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(errors[static_cast<std::size_t>(t)], "") << "thread " << t;
        EXPECT_TRUE(blocks(got[static_cast<std::size_t>(t)]) == reference) << "thread " << t;
    }
}

} // namespace

TEST(EngineThreads, EightThreadsOverTheSampleDirectory)
{
    const auto lookup = Lookup::Open(FromUtf8(UBIN_SAMPLE_DIR));
    ExpectSameAnswersFromEightThreads(*lookup, 200);
}

TEST(EngineThreads, EightThreadsOverTheFullDirectory)
{
    const std::filesystem::path kenAll = UBIN_FULL_KEN_ALL;
    if (!std::filesystem::exists(kenAll)) GTEST_SKIP() << kenAll << " is not here";
    test::TempDir t;
    BuildDirectory(kenAll, t / "full");
    const auto lookup = Lookup::Open(FromUtf8((t / "full").string() + "/"));
    ExpectSameAnswersFromEightThreads(*lookup, 2000);
}
