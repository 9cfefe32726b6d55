// Feeds arbitrary bytes to the JIGYOSYO reader as a whole file (up to 1 MiB): rows of either
// edition, quotes, byte order marks. Whatever it returns must be offices the builder can write:
// 7-digit postal codes, municipal codes of a prefecture, a name, texts the readers can split,
// and each office's line within the file, in order.
#include "fuzz/reader_fuzzer.h"
#include "builder/jigyosyo.h"

using namespace ubin;
using namespace ubin::fuzz;

namespace {

void CheckOffices(const OfficeData& d)
{
    if (d.offices.empty() || d.rowsRead != static_cast<std::int64_t>(d.offices.size())) Broken();
    std::int64_t lastLine = 0;
    for (const Office& o : d.offices) {
        if (o.cityCode / 1000 < 1 || o.cityCode / 1000 > 47) Broken();
        if (!AllDigits(o.postalCode, 7)) Broken();
        if (o.line <= lastLine) Broken();
        lastLine = o.line;
        if (o.name.empty()) Broken();
        for (const std::string* text : {&o.kana, &o.name, &o.prefecture, &o.city, &o.town, &o.street, &o.oldCode,
                                        &o.postOffice, &o.severalCodes, &o.change})
            CheckDirectoryText(*text);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return FuzzReader(data, size, "JIGYOSYO.CSV", ReadJigyosyoBytes, CheckOffices);
}
