// Cleaning a list of addresses (present/find_batch.h) over the full KEN_ALL.CSV and
// JIGYOSYO.CSV: 100,000 lines made from random entries of the directory in the ways people write
// them (digits, full-width digits, kanji numerals for 丁目, 1-2-3 or 1丁目2番3号, with and without
// the prefecture, a building name after, readings in hiragana, a town's name alone), answered
// in order on every core and on one; the counter addresses_per_second is the rate. Matching
// alone and normalizing alone show where a line's time goes.
// Run: ubin_batch_bench [KEN_ALL.CSV [JIGYOSYO.CSV]] [benchmark options]
#include "base/cp932.h"
#include "bench/bench_support.h"
#include "search/find.h"
#include "search/lookup.h"
#include "builder/builder.h"
#include "present/find_batch.h"

#include <benchmark/benchmark.h>

#include <ctime>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace ubin;

namespace {

fs::path kenAll = UBIN_FULL_KEN_ALL;
fs::path jigyosyo = UBIN_FULL_JIGYOSYO;
constexpr std::size_t kLines = 100000;

std::u16string Hiragana(std::u16string katakana)
{
    for (char16_t& c : katakana)
        if (c >= 0x30A1 && c <= 0x30F6) c = static_cast<char16_t>(c - 0x60);
    return katakana;
}

// A number as digits (0), full-width digits (1) or kanji numerals (2).
std::u16string Number(int n, int notation)
{
    static const char16_t* const kKanji[] = {u"〇", u"一", u"二", u"三", u"四", u"五", u"六", u"七", u"八", u"九"};
    const std::u16string digits = FromUtf8(std::to_string(n));
    if (notation == 0) return digits;
    std::u16string out;
    for (const char16_t c : digits) out += notation == 1 ? std::u16string(1, static_cast<char16_t>(c - u'0' + u'０')) : kKanji[c - u'0'];
    return out;
}

struct Fixture {
    fs::path folder;
    std::unique_ptr<Lookup> lookup;
    std::unique_ptr<Finder> finder;
    std::vector<BatchLine> lines;

    Fixture()
    {
        folder = fs::temp_directory_path() / ("ubin-batch-bench-" + std::to_string(::getpid()));
        BuildOptions options;
        options.offices = jigyosyo;
        BuildDirectory(kenAll, folder, options);
        lookup = Lookup::Open(FromUtf8(folder.string() + "/"), true);
        finder = std::make_unique<Finder>(*lookup);
        MakeLines();
    }
    ~Fixture()
    {
        finder.reset();
        lookup.reset();
        std::error_code ec;
        fs::remove_all(folder, ec);
    }

    void MakeLines()
    {
        static const char16_t* const kBuildings[] = {u" サンハイツ101", u"　コーポ山田２０３号室", u" グランドメゾン3F", u"ＡＢＣビル５階"};
        const AddressResolver& book = finder->Addresses();
        std::mt19937 random(20261208);
        const auto pick = [&](std::uint32_t n) { return static_cast<int>(random() % n); };
        while (lines.size() < kLines) {
            const auto entry = static_cast<std::int32_t>(1 + random() % static_cast<std::uint32_t>(lookup->EntryCount()));
            const AddressRecord r = *book.Record(entry);
            if (r.town.empty()) continue;
            const std::u16string prefecture = book.PrefectureName(r.cityCode / 1000).value_or(u""),
                                 city = book.CityName(r.cityCode).value_or(u"");
            std::u16string q;
            const int kind = pick(10);
            if (kind == 0) {
                const Entry e = lookup->ReadEntry(entry);
                q = Hiragana(e.cityKana + e.townKana);
            } else if (kind == 1) {
                q = r.town;
            } else {
                const int notation = pick(3);
                q = (pick(2) ? prefecture : u"") + city + r.town;
                const int a = 1 + pick(9), b = 1 + pick(30), c = 1 + pick(20);
                if (pick(2)) q += Number(a, notation) + u"丁目" + Number(b, notation % 2) + u"番" + Number(c, notation % 2) + u"号";
                else q += Number(a, notation % 2) + (notation == 1 ? u"－" : u"-") + Number(b, notation % 2) + u"-" + Number(c, 0);
                if (r.kind == NoteKind::Floor) q += r.building + (r.floor > 0 ? Number(r.floor, notation % 2) + u"階" : u"");
                else if (pick(3) == 0) q += kBuildings[pick(4)];
            }
            lines.push_back(DecodeBatchLine(lines.size() + 1, ToUtf8(q), false));
        }
    }
};

Fixture& Shared()
{
    static Fixture f;
    return f;
}

// Every line answered in order on `threads` threads (0: every core); the rate, and how many
// lines found a code.
void BM_Batch(benchmark::State& state)
{
    if (!fs::exists(kenAll) || !fs::exists(jigyosyo)) {
        state.SkipWithError((kenAll.string() + " or " + jigyosyo.string() + " is not here").c_str());
        return;
    }
    Fixture& f = Shared();
    const auto threads = static_cast<unsigned>(state.range(0));
    std::size_t found = 0, answered = 0;
    // The process's CPU time, every thread's: tells the cost of a line from what a shared
    // machine leaves to the benchmark.
    const std::clock_t cpu0 = std::clock();
    for (auto _ : state) {
        AnswerInOrder(*f.finder, f.lines, threads, [&](const BatchLine&, const BatchAnswer& a) {
            found += a.Found();
            ++answered;
        });
    }
    state.counters["addresses_per_second"] = benchmark::Counter(static_cast<double>(answered), benchmark::Counter::kIsRate);
    state.counters["found_share"] = answered ? static_cast<double>(found) / static_cast<double>(answered) : 0;
    const double cpuSeconds = static_cast<double>(std::clock() - cpu0) / CLOCKS_PER_SEC;
    state.counters["cpu_us_per_address"] = answered ? cpuSeconds * 1e6 / static_cast<double>(answered) : 0;
    state.counters["threads"] = threads ? threads : std::thread::hardware_concurrency();
}

// Where a line's time goes: matching the documents alone, against the whole answer above.
void BM_MatchOnly(benchmark::State& state)
{
    Fixture& f = Shared();
    std::size_t i = 0, answered = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(f.finder->Match(f.lines[i++ % f.lines.size()].query).docs.size());
        ++answered;
    }
    state.counters["addresses_per_second"] = benchmark::Counter(static_cast<double>(answered), benchmark::Counter::kIsRate);
}

// The finder's best answer alone, without the columns the batch adds (the address split, the
// reasons): BM_Batch on one thread less this is what the columns cost.
void BM_BestOnly(benchmark::State& state)
{
    Fixture& f = Shared();
    std::size_t i = 0, answered = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(f.finder->Best(f.lines[i++ % f.lines.size()].query).total);
        ++answered;
    }
    state.counters["addresses_per_second"] = benchmark::Counter(static_cast<double>(answered), benchmark::Counter::kIsRate);
}

// The resolver alone over the address form of each line: what reading an address again costs.
void BM_ResolveOnly(benchmark::State& state)
{
    Fixture& f = Shared();
    const AddressResolver& book = f.finder->Addresses();
    std::vector<NameText> forms;
    for (const BatchLine& line : f.lines) forms.push_back(Query::Read(line.query).address);
    std::size_t i = 0, answered = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(book.Resolve(forms[i++ % forms.size()]).entries.size());
        ++answered;
    }
    state.counters["addresses_per_second"] = benchmark::Counter(static_cast<double>(answered), benchmark::Counter::kIsRate);
}

// The part of matching that only normalizes the query (NFKC, blanks dropped, checks).
void BM_SearchFormOnly(benchmark::State& state)
{
    Fixture& f = Shared();
    std::size_t i = 0, answered = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(CheckedSearchForm(f.lines[i++ % f.lines.size()].query).size());
        ++answered;
    }
    state.counters["addresses_per_second"] = benchmark::Counter(static_cast<double>(answered), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_Batch)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_MatchOnly)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_BestOnly)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_ResolveOnly)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_SearchFormOnly)->UseRealTime()->MinTime(1.0);

} // namespace

int main(int argc, char** argv)
{
    bench::TakeFileArguments(argc, argv, {&kenAll, &jigyosyo});
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
