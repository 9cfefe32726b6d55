// Lookups per second in each search mode over the directory built from the full KEN_ALL.CSV:
// through the engine directly (Engine*: its files mapped, as the programs that answer lookups open
// it), and through the search form as the entry box's Enter key runs them (Form*: the window's
// own opening, read by position); the records read per lookup; and an indexed SQLite point query
// over the same entries as the yardstick. Nothing of the directory is held in memory.
// Run: ubin_search_bench [KEN_ALL.CSV] [benchmark options] (default: the UBIN_FULL_KEN_ALL of
// the build).
#include "base/cp932.h"
#include "base/text.h"
#include "bench/bench_support.h"
#include "directory/directory.h"
#include "form/memory_face.h"
#include "form/search.h"
#include "builder/builder.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace ubin;

namespace {

fs::path kenAll = UBIN_FULL_KEN_ALL;
constexpr int kKeyCount = 2000;

// The directory, built once per run into a temporary folder.
struct Fixture {
    fs::path folder;
    DirectoryState dir;
    std::unique_ptr<Lookup> lookup;
    // The engine as the programs that answer lookups open it (ubin, ubin-serve, the bindings):
    // its files mapped. The window's form keeps `lookup`, over the window's own opening.
    std::unique_ptr<Lookup> mapped;
    MemoryFace face;
    ClipFlags flags{};
    std::unique_ptr<Search> search;
    std::vector<std::u16string> postal, city, kana, kanji, prefectures;
    sqlite3* db = nullptr;

    Fixture()
    {
        folder = fs::temp_directory_path() / ("ubin-search-bench-" + std::to_string(::getpid()));
        BuildDirectory(kenAll, folder);
        dir.dataFolder = FromUtf8(folder.string() + "/");
        dir.StartUp();
        lookup = std::make_unique<Lookup>(dir);
        mapped = Lookup::Open(dir.dataFolder, true);
        flags[kClipPostalCode] = flags[kClipAddress1] = flags[kClipAddress2] = 1;
        search = std::make_unique<Search>(face, *lookup, flags);
        search->Start();
        // Keys of entries spread evenly over the directory, as a user would type them: the
        // whole postal code, the city code, the first five kana of the town reading, the
        // first two characters of the town name.
        for (int i = 0; i < kKeyCount; ++i) {
            const auto n = static_cast<std::int32_t>(1 + static_cast<std::int64_t>(i) * (dir.entryCount - 1) / kKeyCount);
            const DirectoryLine line = dir.ReadPostalEntry(n);
            postal.push_back(line.postalCode);
            city.push_back(line.cityCode);
            kana.push_back(line.townKana.substr(0, 5));
            kanji.push_back(line.townName.substr(0, 2));
        }
        for (int p = 1; p <= kPrefectureCount; ++p) prefectures.push_back(dir.prefNames[static_cast<std::size_t>(p)]);
        BuildSqlite();
    }

    ~Fixture()
    {
        sqlite3_close(db);
        search.reset();
        mapped.reset();
        lookup.reset();
        dir.CloseAll();
        std::error_code ec;
        fs::remove_all(folder, ec);
        fs::remove(folder.string() + ".sqlite", ec);
    }

    void Exec(const char* sql) { bench::SqliteExec(db, sql); }

    // The same entries and cities in an SQLite file, indexed by postal code.
    void BuildSqlite()
    {
        const fs::path file = folder.string() + ".sqlite";
        fs::remove(file);
        if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) throw std::runtime_error("sqlite: cannot open");
        Exec("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"
             "CREATE TABLE entries(id INTEGER PRIMARY KEY, postal TEXT, city INTEGER, kana TEXT, name TEXT,"
             " detail TEXT);"
             "CREATE TABLE cities(code INTEGER PRIMARY KEY, name TEXT, kana TEXT);"
             "BEGIN;");
        sqlite3_stmt* ins = nullptr;
        sqlite3_prepare_v2(db, "INSERT INTO entries VALUES(?,?,?,?,?,?)", -1, &ins, nullptr);
        for (std::int32_t n = 1; n <= dir.entryCount; ++n) {
            const DirectoryLine l = dir.ReadPostalEntry(n);
            sqlite3_bind_int(ins, 1, n);
            const std::string texts[] = {ToUtf8(l.postalCode), ToUtf8(l.townKana), ToUtf8(l.townName), ToUtf8(l.detail)};
            sqlite3_bind_text(ins, 2, texts[0].c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int(ins, 3, std::atoi(ToUtf8(l.cityCode).c_str()));
            sqlite3_bind_text(ins, 4, texts[1].c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(ins, 5, texts[2].c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(ins, 6, texts[3].c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_step(ins);
            sqlite3_reset(ins);
        }
        sqlite3_finalize(ins);
        sqlite3_prepare_v2(db, "INSERT INTO cities VALUES(?,?,?)", -1, &ins, nullptr);
        std::vector<std::u16string> f(4);
        for (std::int32_t code = 1; code <= dir.cityTableSize; ++code) {
            const std::optional<std::int32_t> pos = dir.ReadCityPosition(code);
            if (!pos) continue;
            dir.ReadFieldsAt(kSlotCityLines, *pos, f);
            const std::string name = ToUtf8(f[2]), kanaText = ToUtf8(f[3]);
            sqlite3_bind_int(ins, 1, code);
            sqlite3_bind_text(ins, 2, name.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(ins, 3, kanaText.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_step(ins);
            sqlite3_reset(ins);
        }
        sqlite3_finalize(ins);
        Exec("COMMIT; CREATE INDEX entries_postal ON entries(postal, id); ANALYZE;");
    }
};

Fixture& Shared()
{
    static Fixture f;
    return f;
}

void Report(benchmark::State& state, bench::Timer& timer, const ReadCounts& reads = {})
{
    const auto n = static_cast<double>(state.iterations());
    state.counters["lookups_per_s"] = benchmark::Counter(n, benchmark::Counter::kIsRate);
    state.counters["reads_per_lookup"] = n > 0 ? static_cast<double>(reads.records) / n : 0;
    state.counters["file_reads_per_lookup"] = n > 0 ? static_cast<double>(reads.fileReads) / n : 0;
    state.counters["median_us"] = timer.Median();
}

bool HaveKenAll(benchmark::State& state)
{
    if (fs::exists(kenAll)) return true;
    state.SkipWithError((kenAll.string() + " is not here").c_str());
    return false;
}

// The engine answers a key as a list of entries: the first is what the window would show.
template <class Lookup>
void EngineLookups(benchmark::State& state, const std::vector<std::u16string> Fixture::*keys, Lookup lookupOne)
{
    if (!HaveKenAll(state)) return;
    Fixture& f = Shared();
    const auto& k = f.*keys;
    bench::Timer timer;
    std::size_t i = 0, found = 0;
    ThisThreadReadCounts() = {};
    for (auto _ : state) {
        const std::u16string& key = k[i++ % k.size()];
        timer.Start();
        found += lookupOne(*f.mapped, key);
        timer.Stop();
    }
    Report(state, timer, ThisThreadReadCounts());
    state.counters["found"] = static_cast<double>(found);
}

std::size_t FirstOf(const std::vector<Entry>& entries)
{
    benchmark::DoNotOptimize(entries.data());
    return entries.size();
}

void BM_EnginePostal(benchmark::State& s)
{
    EngineLookups(s, &Fixture::postal, [](const Lookup& l, const std::u16string& k) { return FirstOf(l.FindPostalAreas(k, 1)); });
}
void BM_EngineCityCode(benchmark::State& s)
{
    EngineLookups(s, &Fixture::city, [](const Lookup& l, const std::u16string& k) {
        const auto city = l.FindCity(k);
        return city && city->line ? (benchmark::DoNotOptimize(l.WithPrefecture(*city->line)), 1u) : 0u;
    });
}
void BM_EngineTownKana(benchmark::State& s)
{
    EngineLookups(s, &Fixture::kana, [](const Lookup& l, const std::u16string& k) { return FirstOf(l.Find(KeyIndex::TownKana, k, 1)); });
}
void BM_EngineTownName(benchmark::State& s)
{
    EngineLookups(s, &Fixture::kanji, [](const Lookup& l, const std::u16string& k) { return FirstOf(l.Find(KeyIndex::TownName, k, 1)); });
}

// The area lists through the engine: a prefecture's cities, the first city's towns, the first
// town's entry.
void BM_EngineAreaLists(benchmark::State& state)
{
    if (!HaveKenAll(state)) return;
    Fixture& f = Shared();
    bench::Timer timer;
    std::int32_t p = 0;
    ThisThreadReadCounts() = {};
    for (auto _ : state) {
        timer.Start();
        const auto cities = f.mapped->CitiesOf(1 + p++ % kPrefectureCount);
        const TownList towns = f.mapped->TownsOf(ZeroPad(5, cities.at(0).number));
        benchmark::DoNotOptimize(f.mapped->ReadEntry(towns.towns.at(0).number));
        timer.Stop();
    }
    Report(state, timer, ThisThreadReadCounts());
}

// 次候補 through the postal index, as a cursor of the engine.
void BM_EngineNext(benchmark::State& state)
{
    if (!HaveKenAll(state)) return;
    Fixture& f = Shared();
    Cursor c = Cursor::Records(KeyIndex::Postal, 1, IndexRecords(*f.mapped).RecordCount(KeyIndex::Postal), 0);
    bench::Timer timer;
    ThisThreadReadCounts() = {};
    for (auto _ : state) {
        if (c.position >= c.high) c.position = 0;
        timer.Start();
        const auto next = IndexRecords(*f.mapped).Step(c, +1);
        benchmark::DoNotOptimize(f.mapped->ReadEntry(next->entryNumber));
        timer.Stop();
    }
    Report(state, timer, ThisThreadReadCounts());
}

// Type the key into the entry box of `mode` and press Enter.
void EntryBoxLookups(benchmark::State& state, int mode, const std::vector<std::u16string> Fixture::*keys)
{
    if (!HaveKenAll(state)) return;
    Fixture& f = Shared();
    f.search->SwitchMode(mode);
    const auto& k = f.*keys;
    bench::Timer timer;
    std::size_t i = 0;
    ThisThreadReadCounts() = {};
    for (auto _ : state) {
        f.face.SetText(element::kITUbin, k[i++ % k.size()]);
        timer.Start();
        std::int16_t key = kKeyEnter;
        f.search->ITUbin_KeyPress(key);
        timer.Stop();
    }
    Report(state, timer, ThisThreadReadCounts());
}

void BM_FormPostal(benchmark::State& s) { EntryBoxLookups(s, kModePostal, &Fixture::postal); }
void BM_FormCityCode(benchmark::State& s) { EntryBoxLookups(s, kModeCity, &Fixture::city); }
void BM_FormTownKana(benchmark::State& s) { EntryBoxLookups(s, kModeTownKana, &Fixture::kana); }
void BM_FormTownName(benchmark::State& s) { EntryBoxLookups(s, kModeTownKanji, &Fixture::kanji); }

// The area lists: a prefecture, then its first city, then that city's first town.
void BM_FormAreaLists(benchmark::State& state)
{
    if (!HaveKenAll(state)) return;
    Fixture& f = Shared();
    f.search->SwitchMode(kModeArea);
    bench::Timer timer;
    std::size_t i = 0;
    ThisThreadReadCounts() = {};
    for (auto _ : state) {
        timer.Start();
        f.face.SetEditText(element::kCombo1, f.prefectures[i++ % f.prefectures.size()]);
        f.search->Combo1_Click();
        f.face.SetEditText(element::kCombo2, f.face.Items(element::kCombo2).at(0));
        f.search->Combo2_Click();
        f.face.SetEditText(element::kCombo3, f.face.Items(element::kCombo3).at(0));
        f.search->Combo3_Click();
        timer.Stop();
    }
    Report(state, timer, ThisThreadReadCounts());
}

// 次候補 through the postal index.
void BM_FormNext(benchmark::State& state)
{
    if (!HaveKenAll(state)) return;
    Fixture& f = Shared();
    f.search->SwitchMode(kModePostal);
    f.face.SetText(element::kITUbin, u"");
    std::int16_t enter = kKeyEnter;
    f.search->ITUbin_KeyPress(enter);
    bench::Timer timer;
    ThisThreadReadCounts() = {};
    for (auto _ : state) {
        if (f.search->candPos() >= f.search->candHigh()) f.search->ITUbin_KeyPress(enter = kKeyEnter);
        timer.Start();
        f.search->Command8_Click();
        timer.Stop();
    }
    Report(state, timer, ThisThreadReadCounts());
}

// The yardstick: the same postal codes as an indexed point query with the city joined.
void BM_SqlitePostalQuery(benchmark::State& state)
{
    if (!HaveKenAll(state)) return;
    Fixture& f = Shared();
    sqlite3_stmt* q = nullptr;
    sqlite3_prepare_v2(f.db,
                       "SELECT e.postal, e.city, c.name, c.kana, e.name, e.kana, e.detail FROM entries e"
                       " LEFT JOIN cities c ON c.code = e.city WHERE e.postal = ? ORDER BY e.id LIMIT 1",
                       -1, &q, nullptr);
    std::vector<std::string> keys;
    for (const auto& k : f.postal) keys.push_back(ToUtf8(k));
    bench::Timer timer;
    std::size_t i = 0, found = 0;
    for (auto _ : state) {
        timer.Start();
        sqlite3_bind_text(q, 1, keys[i++ % keys.size()].c_str(), -1, SQLITE_STATIC);
        if (sqlite3_step(q) == SQLITE_ROW) {
            ++found;
            for (int c = 0; c < 7; ++c) benchmark::DoNotOptimize(sqlite3_column_text(q, c));
        }
        sqlite3_reset(q);
        timer.Stop();
    }
    sqlite3_finalize(q);
    Report(state, timer);
    state.counters["found"] = static_cast<double>(found);
}

BENCHMARK(BM_SqlitePostalQuery)->MinTime(1.0);
BENCHMARK(BM_EnginePostal)->MinTime(1.0);
BENCHMARK(BM_FormPostal)->MinTime(1.0);
BENCHMARK(BM_EngineCityCode)->MinTime(1.0);
BENCHMARK(BM_FormCityCode)->MinTime(1.0);
BENCHMARK(BM_EngineTownKana)->MinTime(1.0);
BENCHMARK(BM_FormTownKana)->MinTime(1.0);
BENCHMARK(BM_EngineTownName)->MinTime(1.0);
BENCHMARK(BM_FormTownName)->MinTime(1.0);
BENCHMARK(BM_EngineAreaLists)->MinTime(1.0);
BENCHMARK(BM_FormAreaLists)->MinTime(1.0);
BENCHMARK(BM_EngineNext)->MinTime(1.0);
BENCHMARK(BM_FormNext)->MinTime(1.0);

} // namespace

int main(int argc, char** argv)
{
    bench::TakeFileArguments(argc, argv, {&kenAll});
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
