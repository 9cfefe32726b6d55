// Feeds arbitrary bytes to the KEN_ALL reader as a whole file (up to 1 MiB): rows of either
// edition, quotes, continuation rows, byte order marks. Whatever it returns must be entries the
// builder can write: 7-digit postal codes, municipal codes of a prefecture, texts the readers can
// split, each entry's line within the file, and a city for every entry's code.
#include "fuzz/reader_fuzzer.h"
#include "builder/ken_all.h"

using namespace ubin;
using namespace ubin::fuzz;

namespace {

void CheckKenAll(const KenAllData& d)
{
    if (d.entries.empty() || d.rowsRead < static_cast<std::int64_t>(d.entries.size())) Broken();
    if (d.rowsRead - d.rowsJoined != static_cast<std::int64_t>(d.entries.size())) Broken();
    std::int64_t lastLine = 0;
    for (const KenAllEntry& e : d.entries) {
        if (e.cityCode / 1000 < 1 || e.cityCode / 1000 > 47) Broken();
        if (!AllDigits(e.postalCode, 7)) Broken();
        if (e.line <= lastLine) Broken(); // each entry begins on a later line than the one before
        lastLine = e.line;
        CheckDirectoryText(e.townKana);
        CheckDirectoryText(e.townName);
        CheckDirectoryText(e.detail);
        if (!d.cities.contains(e.cityCode)) Broken();
    }
    for (const auto& [code, city] : d.cities) {
        CheckDirectoryText(city.name);
        CheckDirectoryText(city.kana);
        if (city.line < 1) Broken();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return FuzzReader(data, size, "KEN_ALL.CSV", ReadKenAllBytes, CheckKenAll);
}
