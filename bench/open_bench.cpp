// What the checksums cost: the window's start (DirectoryState::StartUp) and the first search
// (the finder made, 検索.IDX mapped and checked, one query) over the full KEN_ALL.CSV and
// JIGYOSYO.CSV, each with the files checked against MANIFEST.TXT's XXH3 and as the builds
// before opened them (a manifest of CRC-32, whose sizes alone are compared, and a search index
// without its checksum); and how long a query of a megabyte takes to be refused. Medians of 30
// runs with the files in the page cache, and with the folder's files dropped from it before
// each run (as at the first start after a restart).
// Run: ubin_open_bench [KEN_ALL.CSV [JIGYOSYO.CSV]]
#include "base/cp932.h"
#include "base/path_text.h"
#include "bench/bench_support.h"
#include "directory/directory.h"
#include "directory/manifest.h"
#include "search/find.h"
#include "builder/builder.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <fcntl.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace ubin;

namespace {

constexpr int kRuns = 30;

std::string Read(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Write(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }

// Drops this folder's files, and only them, from the page cache, as after a restart.
void DropFromCache(const fs::path& folder)
{
    for (const auto& f : fs::directory_iterator(folder)) {
        const int fd = ::open(f.path().c_str(), O_RDONLY);
        if (fd < 0) continue;
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
}

const fs::path* coldFolder = nullptr; // set: every run starts with the files out of the cache

template <class F>
double MedianUs(F f)
{
    bench::Timer t;
    for (int i = 0; i < kRuns; ++i) {
        if (coldFolder) DropFromCache(*coldFolder);
        t.Start();
        f();
        t.Stop();
    }
    return t.Median();
}

// The folder as the builds before left it: MANIFEST.TXT with CRC-32, 検索.IDX as UBFIND01.
void MakeItAsBefore(const fs::path& folder)
{
    Manifest m = *ReadManifest(folder / "MANIFEST.TXT");
    std::string index = Read(folder / PathFromUtf8("検索.IDX"));
    std::string old = index.substr(0, kFindChecksumOffset) + index.substr(kFindHeaderBytes);
    std::memcpy(old.data(), kFindIndexMagicUnchecked, 8);
    for (int s = 0; s < kFindSectionCount; ++s) {
        std::uint64_t offset;
        std::memcpy(&offset, old.data() + 16 + 16 * s, 8);
        offset -= 8;
        std::memcpy(old.data() + 16 + 16 * s, &offset, 8);
    }
    Write(folder / PathFromUtf8("検索.IDX"), old);
    m.version = 1;
    for (ManifestFile& f : m.files) {
        const std::string bytes = Read(folder / PathFromUtf8(f.name));
        f.size = bytes.size();
        f.sum = Crc32(bytes);
    }
    Write(folder / "MANIFEST.TXT", FormatManifest(m));
}

void Measure(const char* label, const fs::path& folder)
{
    const std::u16string dataFolder = FromUtf8(PathToUtf8(folder) + "/");
    const double start = MedianUs([&] {
        DirectoryState dir;
        dir.dataFolder = dataFolder;
        dir.StartUp();
    });
    const double first = MedianUs([&] {
        // As the programs that search open a folder: mapped.
        const auto lookup = Lookup::Open(dataFolder, true);
        const Finder finder(*lookup);
        if (finder.Find(u"ぎんざ").total == 0) std::abort();
    });
    const double startOnly = MedianUs([&] { Lookup::Open(dataFolder, true); });
    std::printf("%-34s window start %8.2f ms   first search (start + finder + query) %8.2f ms   finder + query %8.2f ms\n",
                label, start / 1000, first / 1000, (first - startOnly) / 1000);
}

} // namespace

int main(int argc, char** argv)
{
    fs::path kenAll = UBIN_FULL_KEN_ALL, jigyosyo = UBIN_FULL_JIGYOSYO;
    bench::TakeFileArguments(argc, argv, {&kenAll, &jigyosyo});
    const fs::path folder = fs::temp_directory_path() / ("ubin-open-bench-" + std::to_string(::getpid()));
    BuildOptions options;
    if (fs::exists(jigyosyo)) options.offices = jigyosyo;
    BuildDirectory(kenAll, folder, options);
    std::uintmax_t bytes = 0;
    for (const auto& f : fs::directory_iterator(folder)) bytes += f.file_size();
    std::printf("directory: %.1f MB in %s\n", static_cast<double>(bytes) / 1e6, PathToUtf8(folder).c_str());

    Measure("checked (manifest 3, UBFIND03):", folder);
    coldFolder = &folder;
    Measure("  the same, files not cached:", folder);
    coldFolder = nullptr;
    {
        const auto lookup = Lookup::Open(FromUtf8(PathToUtf8(folder) + "/"));
        const Finder finder(*lookup);
        const std::string megabyte(1 << 20, 'a');
        const double refuse = MedianUs([&] {
            try {
                finder.Find(FromUtf8(megabyte));
                std::abort();
            } catch (const QueryError&) {
            }
        });
        std::printf("a query of 1 MB (UTF-8 decoded, then refused): %.3f ms\n", refuse / 1000);
    }
    MakeItAsBefore(folder);
    Measure("as before (manifest 1, UBFIND01):", folder);
    coldFolder = &folder;
    Measure("  the same, files not cached:", folder);
    coldFolder = nullptr;
    fs::remove_all(folder);
    return 0;
}
