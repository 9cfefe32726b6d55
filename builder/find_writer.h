#pragma once
// Writing the free-text search index (検索.IDX) of a directory: see search/find_index.h.
#include "search/find_rank.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ubin {

// One area entry or office as the search index lists it; the texts as they stand in the
// directory (the writer puts them in search form).
struct FindDocument {
    std::uint32_t postal = 0;       // the 7-digit code as a number
    bool office = false;
    std::uint32_t number = 0;       // entry number, or office number
    std::int64_t sourceLine = 0;    // its line in KEN_ALL.CSV or JIGYOSYO.CSV
    std::u16string prefecture, city, town, detail;
    std::u16string street, officeName; // offices
    std::u16string reading;         // prefecture + city + town readings, or the office name's
};

// The bytes of the index over the documents, in the order results are given (postal code,
// area entries before offices of the same code, source line); `prefectures` gives each
// prefecture's name in name form and its reading in search form.
std::string FindIndexBytes(const std::vector<FindDocument>& documents, const FindRanker::Prefectures& prefectures);

} // namespace ubin
