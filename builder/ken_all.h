#pragma once
// Reading KEN_ALL.CSV (code page 932, or the UTF-8 edition) into postal entries: rows
// checked, continuation rows joined, town names split from their parenthesised detail.
#include "builder/builder.h"
#include "builder/csv_rows.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace ubin {

// One postal entry as read; the texts are code page 932 bytes as they go into the files.
struct KenAllEntry {
    std::int32_t cityCode = 0;   // 1001 .. 47999
    std::string postalCode;      // 7 digits
    std::string townKana;        // the reading without its parenthesised part
    std::string townName;        // the name without its parenthesised part
    std::string detail;          // the parenthesised text without the parentheses
    std::int64_t line = 0;       // the line of its first row
};

struct KenAllCity {
    std::string name, kana;      // code page 932, from the first row of the code
    std::int64_t line = 0;       // that row's line
};

struct KenAllData {
    InputEncoding encoding = InputEncoding::Cp932;
    std::int64_t rowsRead = 0;
    std::int64_t rowsJoined = 0;
    std::int64_t charactersReplaced = 0;
    std::vector<KenAllEntry> entries;          // in input order
    std::map<std::int32_t, KenAllCity> cities; // by municipal code
};

// Splits a town name (or reading) at its first opening parenthesis: the part before it, and
// the parenthesised groups without their parentheses. Several groups are joined with a
// full-width blank (a blank in a reading); text after the last group is kept.
void SplitTownName(std::u16string_view text, char16_t open, char16_t close, std::u16string& name,
                   std::u16string* detail);

// Reads the whole file. Throws BuildError naming the file, the line and the fault. The file may
// be a pipe; a device, or anything larger than 128 MiB, is refused.
KenAllData ReadKenAll(const std::filesystem::path& file, const BuildOptions& options, BuildProgress& progress);

// The same for bytes held in memory; `name` is the file the messages name.
KenAllData ReadKenAllBytes(std::string_view bytes, const std::filesystem::path& name, const BuildOptions& options,
                           BuildProgress& progress);

// The same for an input put together from several files (InputBytes::origins): a fault names
// the file its line came from and its own line there.
KenAllData ReadKenAllInput(const InputBytes& input, const BuildOptions& options, BuildProgress& progress);

} // namespace ubin
