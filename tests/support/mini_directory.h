#pragma once
// Writes a small directory straight from records, for tests that need exact control over the
// files (record order, odd sizes, damaged lines) without going through the builder.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace ubin::test {

struct MiniEntry {
    std::string postalCode, cityCode, townKana, townName, detail, detailFlag = "0"; // UTF-8
};

struct MiniCity {
    std::int32_t code;              // city table record number
    std::string areaCode, name, kana; // the line as stored (areaCode may have 4 digits)
};

struct MiniDirectory {
    std::vector<MiniEntry> entries;   // entry number = position + 1
    std::vector<MiniCity> cities;     // lines after the 47 prefecture lines
    std::int32_t cityTableSize = 47999;
    // Index keys per index 1..5; empty means "derive from the entries": 1 postal code,
    // 2 city code, 3 town kana, 4 town name, 5 postal code. Each index is sorted by key bytes,
    // ties by entry number.
    bool sortIndexes = true;

    // The 47 prefecture lines: "p,<name>,<kana>" with the names 県01 .. 県47 unless replaced.
    std::vector<std::string> prefNames, prefKana;

    void Write(const std::filesystem::path& folder) const;
};

// Writes an index file from (key, entry number) pairs in the given order; keys are UTF-8,
// encoded as code page 932 and padded (or cut) to 8 bytes.
void WriteIndex(const std::filesystem::path& file, const std::vector<std::pair<std::string, std::int32_t>>& records);

// The 8-byte key of a text: code page 932, cut at 8 bytes without splitting a character,
// padded with blanks.
std::string KeyBytes(const std::string& utf8);

} // namespace ubin::test
