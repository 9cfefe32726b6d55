// The free-text search over the full KEN_ALL.CSV and JIGYOSYO.CSV: building the directory with
// its offices and search index (time and the size of the new files), and the median `find` of
// a text query (3 to 6 characters taken from real addresses) and of a reading query (3 to 6
// kana taken from real readings, typed in hiragana), each next to SQLite FTS5 with the trigram
// tokenizer over the same rows in the same run. Both answer the same thing: how many documents
// match, and the first 100 of them in document order with their fields. Then the median
// resolution of 10,000 written addresses made from random entries of the directory, with house
// numbers (and floors of buildings) in mixed notations: digits, full-width digits, kanji
// numerals, 丁目番地号 or dashes, with or without the prefecture.
// Run: ubin_find_bench [KEN_ALL.CSV [JIGYOSYO.CSV]] [benchmark options]
#include "base/cp932.h"
#include "base/normalize.h"
#include "bench/bench_support.h"
#include "directory/directory.h"
#include "search/find.h"
#include "search/lookup.h"
#include "builder/builder.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace ubin;

namespace {

fs::path kenAll = UBIN_FULL_KEN_ALL;
fs::path jigyosyo = UBIN_FULL_JIGYOSYO;
constexpr int kQueries = 2000;
constexpr std::size_t kLimit = 100;

std::u16string Hiragana(std::u16string katakana)
{
    for (char16_t& c : katakana)
        if (c >= 0x30A1 && c <= 0x30F6) c = static_cast<char16_t>(c - 0x60);
    return katakana;
}

// The directory, the engine, the rows in SQLite and the queries, made once per run.
struct Fixture {
    fs::path folder;
    std::unique_ptr<Lookup> lookup;
    std::unique_ptr<Finder> finder;
    sqlite3* db = nullptr;
    std::vector<std::u16string> textQueries, readingQueries, addresses;

    Fixture()
    {
        folder = fs::temp_directory_path() / ("ubin-find-bench-" + std::to_string(::getpid()));
        BuildOptions options;
        options.offices = jigyosyo;
        BuildDirectory(kenAll, folder, options);
        lookup = Lookup::Open(FromUtf8(folder.string() + "/"), true);
        finder = std::make_unique<Finder>(*lookup);
        BuildSqliteAndQueries();
        MakeAddresses();
    }

    // A number in one of the ways people write it.
    static std::u16string Number(int n, int notation)
    {
        static const char16_t* const kKanji[] = {u"〇", u"一", u"二", u"三", u"四", u"五", u"六", u"七", u"八", u"九"};
        const std::u16string digits = FromUtf8(std::to_string(n));
        if (notation == 0) return digits;
        std::u16string out;
        for (const char16_t c : digits) out += notation == 1 ? std::u16string(1, static_cast<char16_t>(c - u'0' + u'０')) : kKanji[c - u'0'];
        return out;
    }

    void MakeAddresses()
    {
        const AddressResolver& book = finder->Addresses();
        std::mt19937 random(54321);
        while (addresses.size() < 10000) {
            const auto entry = static_cast<std::int32_t>(1 + random() % static_cast<std::uint32_t>(lookup->EntryCount()));
            const AddressRecord r = *book.Record(entry);
            if (r.town.empty()) continue;
            const int notation = static_cast<int>(random() % 3);
            const int a = 1 + static_cast<int>(random() % 9), b = 1 + static_cast<int>(random() % 30), c = 1 + static_cast<int>(random() % 20);
            std::u16string q = (random() % 2 ? book.PrefectureName(r.cityCode / 1000).value_or(u"") : u"") + book.CityName(r.cityCode).value_or(u"") + r.town;
            if (random() % 2) q += Number(a, notation) + u"丁目" + Number(b, notation) + u"番" + Number(c, notation) + u"号";
            else q += Number(a, notation) + (notation == 1 ? u"－" : u"-") + Number(b, notation) + u"-" + Number(c, 0);
            if (r.kind == NoteKind::Floor) q += u" " + r.building + (r.floor > 0 ? Number(r.floor, notation % 2) + u"階" : u"");
            addresses.push_back(std::move(q));
        }
    }

    ~Fixture()
    {
        sqlite3_close(db);
        finder.reset();
        lookup.reset();
        std::error_code ec;
        fs::remove_all(folder, ec);
        fs::remove(folder.string() + ".sqlite", ec);
    }

    void Exec(const char* sql) { bench::SqliteExec(db, sql); }

    // Every document as the finder gives it, in its order: the address (and an office's name)
    // and the reading as people write them, with the fields a result shows.
    void BuildSqliteAndQueries()
    {
        const fs::path file = folder.string() + ".sqlite";
        fs::remove(file);
        if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) throw std::runtime_error("sqlite: cannot open");
        Exec("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"
             "CREATE VIRTUAL TABLE docs USING fts5(name, reading, postal UNINDEXED, city UNINDEXED,"
             " town UNINDEXED, detail UNINDEXED, tokenize='trigram');"
             "BEGIN;");
        sqlite3_stmt* ins = nullptr;
        sqlite3_prepare_v2(db, "INSERT INTO docs(rowid, name, reading, postal, city, town, detail) VALUES(?,?,?,?,?,?,?)",
                           -1, &ins, nullptr);
        std::mt19937 random(12345);
        const FindIndex index(lookup->FilePath(kFindIndexFileName));
        std::vector<std::uint32_t> picks;
        for (int i = 0; i < kQueries; ++i) picks.push_back(random() % index.DocumentCount());
        std::sort(picks.begin(), picks.end());
        for (std::uint32_t d = 0; d < index.DocumentCount(); ++d) {
            const Entry e = finder->ReadDocument(d);
            const std::u16string address = e.prefecture + e.city + e.town + (e.IsOffice() ? e.street : e.detail);
            const std::u16string name = e.IsOffice() ? address + u" " + e.office : address;
            const std::u16string reading = Nfkc(e.IsOffice() ? e.officeKana : e.prefectureKana + e.cityKana + e.townKana);
            const std::string texts[] = {ToUtf8(name), ToUtf8(reading), ToUtf8(e.postalCode), ToUtf8(e.city),
                                         ToUtf8(e.town), ToUtf8(e.detail)};
            sqlite3_bind_int64(ins, 1, d + 1);
            for (int c = 0; c < 6; ++c) sqlite3_bind_text(ins, c + 2, texts[c].c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_step(ins);
            sqlite3_reset(ins);
            // A query is 3 to 6 characters of a document's address (or reading) from anywhere in it.
            for (auto it = std::lower_bound(picks.begin(), picks.end(), d); it != picks.end() && *it == d; ++it) {
                const auto take = [&](const std::u16string& text, std::vector<std::u16string>& into) {
                    if (text.size() < 3) return;
                    const std::size_t n = 3 + random() % 4;
                    const std::size_t length = std::min(n, text.size());
                    into.push_back(text.substr(random() % (text.size() - length + 1), length));
                };
                take(address, textQueries);
                if (!e.IsOffice()) take(Nfkc(e.townKana.size() >= 3 ? e.townKana : e.cityKana + e.townKana), readingQueries);
            }
        }
        sqlite3_finalize(ins);
        Exec("COMMIT;");
        for (auto& q : readingQueries) q = Hiragana(q);
    }
};

Fixture& Shared()
{
    static Fixture f;
    return f;
}

bool HaveData(benchmark::State& state)
{
    if (fs::exists(kenAll) && fs::exists(jigyosyo)) return true;
    state.SkipWithError((kenAll.string() + " or " + jigyosyo.string() + " is not here").c_str());
    return false;
}

void Report(benchmark::State& state, bench::Timer& timer, std::size_t total, std::size_t queries = 0)
{
    if (queries != 0) state.counters["pass_mean_us"] = timer.PassMean(queries);
    state.counters["median_us"] = timer.Median();
    state.counters["matches_per_query"] = state.iterations() ? static_cast<double>(total) / static_cast<double>(state.iterations()) : 0;
}

void FinderQueries(benchmark::State& state, const std::vector<std::u16string> Fixture::*queries,
                   FindOrder order = FindOrder::Relevance)
{
    if (!HaveData(state)) return;
    Fixture& f = Shared();
    const auto& q = f.*queries;
    bench::Timer timer;
    std::size_t i = 0, total = 0;
    for (auto _ : state) {
        const std::u16string& query = q[i++ % q.size()];
        timer.Start();
        const FindResult r = f.finder->Find(query, kLimit, order);
        timer.Stop();
        total += r.total;
        benchmark::DoNotOptimize(r.results.data());
    }
    Report(state, timer, total, q.size());
}

// The same question to SQLite: how many rows hold the text, and the first 100 in row order with
// their fields. A reading query is looked for in both columns, as kana queries are.
void SqliteQueries(benchmark::State& state, const std::vector<std::u16string> Fixture::*queries, bool reading,
                   bool ranked = false)
{
    if (!HaveData(state)) return;
    Fixture& f = Shared();
    const auto& q = f.*queries;
    sqlite3_stmt* count = nullptr;
    sqlite3_stmt* rows = nullptr;
    sqlite3_prepare_v2(f.db, "SELECT count(*) FROM docs WHERE docs MATCH ?", -1, &count, nullptr);
    // In row order, or best first by FTS5's own ranking (bm25), as the finder's ranked results.
    sqlite3_prepare_v2(f.db,
                       ranked ? "SELECT rowid, postal, name, reading, city, town, detail FROM docs WHERE docs MATCH ?"
                                " ORDER BY rank LIMIT 100"
                              : "SELECT rowid, postal, name, reading, city, town, detail FROM docs WHERE docs MATCH ?"
                                " ORDER BY rowid LIMIT 100",
                       -1, &rows, nullptr);
    std::vector<std::string> matches;
    for (const auto& text : q) {
        // Trigram matching of a kana query written in katakana, as the rows hold it.
        std::u16string k = text;
        if (reading)
            for (char16_t& c : k)
                if (c >= 0x3041 && c <= 0x3096) c = static_cast<char16_t>(c + 0x60);
        std::string match = reading ? "\"" : "name : \"";
        match.append(ToUtf8(k)).append("\"");
        matches.push_back(std::move(match));
    }
    bench::Timer timer;
    std::size_t i = 0, total = 0;
    for (auto _ : state) {
        const std::string& m = matches[i++ % matches.size()];
        timer.Start();
        sqlite3_bind_text(count, 1, m.c_str(), -1, SQLITE_STATIC);
        if (sqlite3_step(count) == SQLITE_ROW) total += static_cast<std::size_t>(sqlite3_column_int64(count, 0));
        sqlite3_reset(count);
        sqlite3_bind_text(rows, 1, m.c_str(), -1, SQLITE_STATIC);
        while (sqlite3_step(rows) == SQLITE_ROW)
            for (int c = 0; c < 7; ++c) benchmark::DoNotOptimize(sqlite3_column_text(rows, c));
        sqlite3_reset(rows);
        timer.Stop();
    }
    sqlite3_finalize(count);
    sqlite3_finalize(rows);
    Report(state, timer, total, q.size());
}

void BM_FindText(benchmark::State& s) { FinderQueries(s, &Fixture::textQueries); }
void BM_MatchText(benchmark::State& state)
{
    if (!HaveData(state)) return;
    Fixture& f = Shared();
    bench::Timer timer;
    std::size_t i = 0, total = 0;
    for (auto _ : state) {
        const std::u16string& query = f.textQueries[i++ % f.textQueries.size()];
        timer.Start();
        const auto r = f.finder->Match(query);
        timer.Stop();
        total += r.docs.size();
    }
    Report(state, timer, total);
}
BENCHMARK(BM_MatchText)->MinTime(1.0);
void BM_SqliteFts5Text(benchmark::State& s) { SqliteQueries(s, &Fixture::textQueries, false); }
void BM_FindReading(benchmark::State& s) { FinderQueries(s, &Fixture::readingQueries); }
// The same queries in code order: what the ranking costs is the difference of the medians.
void BM_FindTextCodeOrder(benchmark::State& s) { FinderQueries(s, &Fixture::textQueries, FindOrder::Code); }
void BM_FindReadingCodeOrder(benchmark::State& s) { FinderQueries(s, &Fixture::readingQueries, FindOrder::Code); }
void BM_SqliteFts5Reading(benchmark::State& s) { SqliteQueries(s, &Fixture::readingQueries, true); }
void BM_SqliteFts5TextByRank(benchmark::State& s) { SqliteQueries(s, &Fixture::textQueries, false, true); }
void BM_SqliteFts5ReadingByRank(benchmark::State& s) { SqliteQueries(s, &Fixture::readingQueries, true, true); }
void BM_ResolveAddress(benchmark::State& s) { FinderQueries(s, &Fixture::addresses); }

// Building the directory with the offices and the search index; the size of the new files.
void BM_BuildWithOffices(benchmark::State& state)
{
    if (!HaveData(state)) return;
    const fs::path out = fs::temp_directory_path() / ("ubin-find-build-bench-" + std::to_string(::getpid()));
    BuildOptions options;
    options.offices = jigyosyo;
    for (auto _ : state) BuildDirectory(kenAll, out, options);
    std::uintmax_t bytes = 0;
    for (const auto* name : {&kOfficeLinesFileName, &kOfficeIndexFileName, &kFindIndexFileName})
        bytes += fs::file_size(out / ToUtf8(*name));
    std::error_code ec;
    fs::remove_all(out, ec);
    state.counters["new_files_MB"] = static_cast<double>(bytes) / 1e6;
}

BENCHMARK(BM_BuildWithOffices)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_FindText)->MinTime(1.0);
BENCHMARK(BM_FindTextCodeOrder)->MinTime(1.0);
BENCHMARK(BM_SqliteFts5Text)->MinTime(1.0);
BENCHMARK(BM_SqliteFts5TextByRank)->MinTime(1.0);
BENCHMARK(BM_FindReading)->MinTime(1.0);
BENCHMARK(BM_FindReadingCodeOrder)->MinTime(1.0);
BENCHMARK(BM_SqliteFts5Reading)->MinTime(1.0);
BENCHMARK(BM_SqliteFts5ReadingByRank)->MinTime(1.0);
BENCHMARK(BM_ResolveAddress)->MinTime(1.0);

} // namespace

int main(int argc, char** argv)
{
    bench::TakeFileArguments(argc, argv, {&kenAll, &jigyosyo});
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
