// Building the directory from the full KEN_ALL.CSV: rows per second and peak memory; and
// joining a town's continuation rows, which must take time in proportion to the rows.
// Run: ubin_build_bench [KEN_ALL.CSV] (default: the UBIN_FULL_KEN_ALL of the build).
#include "base/cp932.h"
#include "builder/builder.h"
#include "builder/ken_all.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

fs::path kenAll = UBIN_FULL_KEN_ALL;

double PeakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0; // ru_maxrss is in kilobytes on Linux
}

void BM_BuildFullKenAll(benchmark::State& state)
{
    if (!fs::exists(kenAll)) {
        state.SkipWithError((kenAll.string() + " is not here").c_str());
        return;
    }
    const fs::path out = fs::temp_directory_path() / ("ubin-build-bench-" + std::to_string(::getpid()));
    std::int64_t rows = 0;
    ubin::BuildReport report;
    for (auto _ : state) {
        report = ubin::BuildDirectory(kenAll, out);
        rows += report.rowsRead;
    }
    std::error_code ec;
    fs::remove_all(out, ec);
    state.counters["rows_per_second"] = benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
    state.counters["entries"] = report.entries;
    state.counters["peak_MB"] = PeakMegabytes();
}
BENCHMARK(BM_BuildFullKenAll)->Unit(benchmark::kMillisecond)->Iterations(3);

// One town over n continuation rows (its name and reading open on the first row and closed on
// the last), read from memory: the time per row must not grow with n.
void BM_ReadContinuationRows(benchmark::State& state)
{
    const auto n = static_cast<int>(state.range(0));
    auto row = [](const std::u16string& kana, const std::u16string& name) {
        return u"01101,\"06000\",\"0600001\",\"ﾎｯｶｲﾄﾞｳ\",\"ｻｯﾎﾟﾛｼ\",\"" + kana + u"\",\"北海道\",\"札幌市\",\"" + name
               + u"\",0,0,0,0,0,0\r\n";
    };
    std::u16string text = row(u"ﾁｮｳ(", u"町（");
    for (int i = 2; i < n; ++i) text += row(u"ﾊﾞ", u"番");
    text += row(u"ﾝ)", u"地）");
    const std::string bytes = ubin::EncodeCp932(text);
    for (auto _ : state) {
        ubin::BuildProgress progress;
        const ubin::KenAllData d = ubin::ReadKenAllBytes(bytes, "KEN_ALL.CSV", ubin::BuildOptions{}, progress);
        benchmark::DoNotOptimize(d.entries.size());
    }
    state.SetItemsProcessed(state.iterations() * n);
    state.SetComplexityN(n);
}
BENCHMARK(BM_ReadContinuationRows)->RangeMultiplier(4)->Range(1000, 16000)->Unit(benchmark::kMillisecond)->Complexity();

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (argc > 1) kenAll = argv[1];
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
