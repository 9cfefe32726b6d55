#pragma once
// What changed between two builds of a directory: the postal codes added, removed and changed,
// from the entry lines of the two 郵便番号.CSV files (code page 932, as the directory holds them).
// ubin diff lists them; ubin-build counts them against the folder it replaces.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ubin {

// One entry line's values, code page 932.
struct DiffEntry {
    std::string cityCode, townKana, townName, detail;
    auto operator<=>(const DiffEntry&) const = default;
};

// How a code changed; a code may change in several ways at once.
enum ChangeKind : unsigned {
    kChangeCity = 1,     // its entries lie in another municipality
    kChangeRenamed = 2,  // a town name differs
    kChangeReading = 4,  // a reading differs, the names do not
    kChangeDetail = 8,   // only the parenthesised part differs
    kChangeSplit = 16,   // it covers more towns than before
    kChangeMerged = 32,  // it covers fewer towns than before
};

struct CodeChange {
    std::string postalCode;
    std::vector<DiffEntry> before, after; // empty before: added; empty after: removed
    unsigned kinds = 0;                   // for a changed code
};

struct EntryDiff {
    std::vector<CodeChange> added, removed, changed; // each by postal code
};

// Throws DirectoryError when a line does not have the six values of an entry line.
EntryDiff DiffEntryLines(std::string_view oldLines, std::string_view newLines);

// "city", "renamed", "reading", "detail", "split", "merged", in that order.
std::vector<std::string> ChangeKindNames(unsigned kinds);

} // namespace ubin
