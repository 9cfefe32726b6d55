// Feeds arbitrary text to Finder::Find over the directory built from the sample KEN_ALL and
// JIGYOSYO files (with offices and the search index), made once in a folder of its own. A
// query is either refused with QueryError or answered within its limit; run with -timeout=1,
// so a search whose cost grows with the square of the query's length is a finding too.
// The first byte chooses how the rest is read: even, as UTF-8 (what the command line and the
// web service pass on); odd, as UTF-16 code units (any of them, lone surrogates included).
#include "base/cp932.h"
#include "base/errors.h"
#include "base/path_text.h"
#include "search/find.h"
#include "builder/builder.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <unistd.h>

namespace {

struct Directory {
    std::filesystem::path folder;
    std::unique_ptr<ubin::Lookup> lookup;
    std::unique_ptr<ubin::Finder> finder;

    Directory()
    {
        folder = std::filesystem::temp_directory_path() / ("ubin-fuzz-find-" + std::to_string(::getpid()));
        ubin::BuildOptions options;
        options.offices = ubin::PathFromUtf8(UBIN_SAMPLE_JIGYOSYO);
        ubin::BuildDirectory(ubin::PathFromUtf8(UBIN_SAMPLE_CSV), folder, options);
        lookup = ubin::Lookup::Open(ubin::FromUtf8(ubin::PathToUtf8(folder) + "/"), true);
        finder = std::make_unique<ubin::Finder>(*lookup);
    }
    ~Directory()
    {
        finder.reset();
        lookup.reset();
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
    }
};

Directory& Sample()
{
    static Directory d;
    return d;
}

} // namespace

// The directory is built before the first input, so that -timeout measures queries only (an
// unoptimised build takes more than a second to build it).
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Sample();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) return 0;
    std::u16string query;
    if (data[0] % 2 == 0) {
        try {
            query = ubin::FromUtf8(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
        } catch (const ubin::EncodingError&) {
            return 0;
        }
    } else {
        query.resize((size - 1) / 2);
        std::memcpy(query.data(), data + 1, query.size() * 2);
    }
    const std::size_t limit = data[0] / 2 % 4 == 0 ? 0 : 100;
    try {
        const ubin::FindResult r = Sample().finder->Find(query, limit);
        if ((limit != 0 && r.results.size() > limit) || r.results.size() > r.total) __builtin_trap();
        // A query that is answered is one the check lets through.
        if (ubin::CheckedSearchForm(query).size() > ubin::kMaxQueryLength) __builtin_trap();
    } catch (const ubin::QueryError&) {
    }
    return 0;
}
