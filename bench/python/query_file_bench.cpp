// The finder's median time per call for the queries of a file (UTF-8, one a line), as the
// Python module's find(text, 100) and resolve(address) ask them: bench/python_bench.py writes
// the files and runs this beside its own timing, so both figures are for the same queries.
// Run: ubin_query_file_bench FOLDER FIND_QUERIES ADDRESSES [benchmark options]
#include "base/cp932.h"
#include "bench/bench_support.h"
#include "search/find.h"
#include "search/lookup.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace ubin;

namespace {

fs::path folder, findFile, addressFile;

std::vector<std::u16string> ReadLines(const fs::path& file)
{
    std::ifstream in(file);
    std::vector<std::u16string> lines;
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) lines.push_back(FromUtf8(line));
    return lines;
}

struct Fixture {
    std::unique_ptr<Lookup> lookup = Lookup::Open(FromUtf8(folder.string() + "/"), true);
    Finder finder{*lookup};
    std::vector<std::u16string> finds = ReadLines(findFile), addresses = ReadLines(addressFile);
};

Fixture& Shared()
{
    static Fixture f;
    return f;
}

// Every query once per pass, in the file's order, as the Python side asks them.
void Queries(benchmark::State& state, const std::vector<std::u16string>& queries, std::size_t limit)
{
    if (queries.empty()) {
        state.SkipWithError("no queries");
        return;
    }
    bench::Timer timer;
    std::size_t i = 0;
    for (auto _ : state) {
        const std::u16string& query = queries[i++ % queries.size()];
        timer.Start();
        const FindResult r = Shared().finder.Find(query, limit);
        timer.Stop();
        benchmark::DoNotOptimize(r.results.data());
    }
    state.counters["median_us"] = timer.Median();
}

void BM_Find(benchmark::State& state) { Queries(state, Shared().finds, 100); }
void BM_Resolve(benchmark::State& state) { Queries(state, Shared().addresses, 1); }
BENCHMARK(BM_Find)->MinTime(2.0);
BENCHMARK(BM_Resolve)->MinTime(2.0);

} // namespace

int main(int argc, char** argv)
{
    bench::TakeFileArguments(argc, argv, {&folder, &findFile, &addressFile});
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
