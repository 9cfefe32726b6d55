// A year of Japan Post's monthly change files applied to the full KEN_ALL.CSV and the directory
// built from the result, as `ubin-build --base KEN_ALL.CSV --add ... --del ... OUTDIR` does.
// The twelve months are made from the full file before the timing: each deletes 150 towns and
// adds them back renamed, and adds 40 towns of new codes. The goal is under 3 s.
// Run: ubin_month_bench [KEN_ALL.CSV] (default: the UBIN_FULL_KEN_ALL of the build).
#include "base/cp932.h"
#include "builder/builder.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

fs::path kenAll = UBIN_FULL_KEN_ALL;

std::vector<std::string> Lines(const std::string& bytes)
{
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < bytes.size();) {
        const std::size_t end = bytes.find("\r\n", start);
        lines.push_back(bytes.substr(start, end - start));
        start = end == std::string::npos ? bytes.size() : end + 2;
    }
    return lines;
}

std::vector<std::string> Values(const std::string& line)
{
    std::vector<std::string> v;
    for (std::size_t s = 0;;) {
        const std::size_t comma = line.find(',', s);
        v.push_back(line.substr(s, comma - s));
        if (comma == std::string::npos) return v;
        s = comma + 1;
    }
}

std::string Line(const std::vector<std::string>& v)
{
    std::string out;
    for (std::size_t i = 0; i < v.size(); ++i) out += (i ? "," : "") + v[i];
    return out + "\r\n";
}

// Twelve months of change files beside `folder`: ADD_27MM.CSV and DEL_27MM.CSV.
std::vector<ubin::MonthFiles> MakeMonths(const std::vector<std::string>& lines, const fs::path& folder)
{
    const std::string open = ubin::EncodeCp932(u"（"), close = ubin::EncodeCp932(u"）"), renamed = ubin::EncodeCp932(u"新");
    std::vector<ubin::MonthFiles> months;
    for (int m = 0; m < 12; ++m) {
        std::string add, del;
        int changed = 0;
        for (std::size_t i = 1000 + static_cast<std::size_t>(m) * 37; i + 1 < lines.size() && changed < 150; i += 613) {
            std::vector<std::string> v = Values(lines[i]);
            // A town of one row with a code of its own on either side.
            if (v[8].find(open) != std::string::npos || v[2] == Values(lines[i - 1])[2] || v[2] == Values(lines[i + 1])[2])
                continue;
            del += lines[i] + "\r\n";
            v[8].insert(v[8].size() - 1, renamed);
            add += Line(v);
            ++changed;
        }
        for (int k = 0; k < 40; ++k) {
            std::vector<std::string> v = Values(lines[static_cast<std::size_t>(500 + m * 3000 + k * 71)]);
            v[2] = std::string(1, '"').append(std::to_string(9990000 + m * 100 + k)).append(1, '"');
            v[8] = std::string(1, '"').append(ubin::EncodeCp932(u"新町")).append(std::to_string(m * 100 + k)).append(1, '"');
            v[5] = "\"\xBC\xDD\xCF\xC1\""; // ｼﾝﾏﾁ
            add += Line(v);
        }
        const std::string yymm = std::to_string(2701 + m);
        ubin::MonthFiles files{folder / ("ADD_" + yymm + ".CSV"), folder / ("DEL_" + yymm + ".CSV")};
        std::ofstream(files.add, std::ios::binary) << add;
        std::ofstream(files.del, std::ios::binary) << del;
        months.push_back(files);
    }
    return months;
}

void BM_TwelveMonthsAppliedAndBuilt(benchmark::State& state)
{
    if (!fs::exists(kenAll)) {
        state.SkipWithError((kenAll.string() + " is not here").c_str());
        return;
    }
    const fs::path folder = fs::temp_directory_path() / ("ubin-month-bench-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    std::ifstream in(kenAll, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ubin::BuildOptions options;
    options.months = MakeMonths(Lines(bytes), folder);
    options.edition = "2027-12";
    ubin::BuildReport report;
    for (auto _ : state) report = ubin::BuildDirectory(kenAll, folder / "out", options);
    std::error_code ec;
    fs::remove_all(folder, ec);
    state.counters["added"] = static_cast<double>(report.months.added);
    state.counters["deleted"] = static_cast<double>(report.months.deleted);
    state.counters["entries"] = report.entries;
}
BENCHMARK(BM_TwelveMonthsAppliedAndBuilt)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (argc > 1) kenAll = argv[1];
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
