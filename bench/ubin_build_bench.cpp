// Building the directory from the full KEN_ALL.CSV: rows per second and peak memory.
// Run: ubin_build_bench [KEN_ALL.CSV] (default: the UBIN_FULL_KEN_ALL of the build).
#include "tools/ubin-build/builder.h"

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

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (argc > 1) kenAll = argv[1];
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
