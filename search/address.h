#pragma once
// A written address taken apart and matched against the directory's entries: prefecture (or
// none), city (with or without its 郡, or none), town (with or without 大字 or 字, in its old or
// common kanji), then what follows the town: a Kyoto street and direction (before or after the
// town), a named part of the town, a house number (丁目, 番地, 号, 地割, or the short form
// 1-2-3), a building and its floor. The entry chosen is the one whose note covers what was
// written; where the notes cannot decide, every candidate comes back, the likeliest first.
//
// Works on the directory's address notes (住所.TXT, directory/address_file.h) and on texts in
// name form (base/normalize.h). Linear in the length of the text: every step looks up the
// beginnings of what is left, never longer than the longest name the directory holds.
#include "directory/address_file.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace ubin {

// How far a written address was matched.
enum class AddressLevel { None, Prefecture, City, Town, Number };
const char* AddressLevelName(AddressLevel level);

// A house number as written: its numbers and, where a unit was written, the part each is.
struct WrittenNumber {
    std::vector<std::int32_t> numbers;
    std::vector<int> levels; // a NumberLevel, or -1 where no unit was written (1-2-3)
    bool empty() const { return numbers.empty(); }
    // The parts, the first number without a unit taking `top` and each next one the part below.
    HouseNumber As(int top) const;
};

struct AddressMatch {
    AddressLevel level = AddressLevel::None;
    std::vector<std::int32_t> entries; // entry numbers, the likeliest first
    std::int32_t cityCode = 0;         // of the first entry's city when a city or town was matched
    std::u16string town;               // the town matched, in name form
    WrittenNumber number;              // the house number written after the town
    std::u16string rest;               // what was written and matched nothing, in name form
    // Whether the text said more than a bare town name: a prefecture or city, or something after
    // the town that the notes used (a number, street, part, building).
    bool specific = false;
};

class AddressResolver {
public:
    explicit AddressResolver(AddressFile file);

    // `text` in name form (base/normalize.h).
    AddressMatch Resolve(std::u16string_view text) const;
    // The record of an entry; null for a number outside the file.
    const AddressRecord* Record(std::int32_t entry) const;
    const std::u16string& CityName(std::int32_t code) const;
    const std::u16string& PrefectureName(std::int32_t code) const;

    // Reads a house number at the start of a text in name form; `used` is how much it took.
    static WrittenNumber ReadNumber(std::u16string_view text, std::size_t& used);

private:
    using Keys = std::unordered_map<std::u16string, std::vector<std::int32_t>>;
    struct Start {
        std::int32_t prefecture = 0; // 0: none written
        std::size_t at = 0;
        bool shortForm = false;      // 東京 for 東京都: only before a city
    };
    struct TownHit {
        std::vector<std::int32_t> records; // indexes into records
        std::size_t end = 0;               // where the town ends in the text
        std::u16string street;             // a street written before the town
        bool oaza = false;                 // 大字 was written before the town
    };

    std::vector<Start> Prefectures(std::u16string_view text) const;
    // Cities at `at` (longest first); `variant` looks the variant form up.
    std::vector<std::pair<std::int32_t, std::size_t>> Cities(std::u16string_view text, std::size_t at,
                                                              std::int32_t prefecture) const;
    TownHit Town(std::u16string_view text, std::size_t at, std::int32_t city, std::int32_t prefecture) const;
    TownHit TownAt(std::u16string_view text, std::size_t at, std::int32_t city, std::int32_t prefecture) const;
    // The town after the first of `cities` that has one, chosen into `match`; false when none has.
    bool TownInCities(std::u16string_view text, const std::vector<std::pair<std::int32_t, std::size_t>>& cities,
                      std::int32_t prefecture, AddressMatch& match) const;
    void Choose(std::u16string_view text, const TownHit& hit, AddressMatch& match) const;
    std::vector<std::int32_t> Placeholders(std::int32_t city, const WrittenNumber& number) const;

    AddressFile file_;
    std::vector<std::u16string> prefectureKeys_; // by code - 1
    Keys cities_, cityVariants_;                 // name form of a city (and without its 郡) -> codes
    Keys wards_;                                 // a designated city's ward without its city -> codes
    Keys designated_;                            // a designated city without its ward -> its wards
    Keys towns_, townVariants_;                  // name form of a town -> records
    std::unordered_set<std::u16string> chomeParents_; // 本町 where a town 本町1丁目 stands beside it
    std::unordered_map<std::int32_t, std::vector<std::int32_t>> placeholders_; // city -> records
    std::unordered_map<std::int32_t, std::u16string> cityNames_;
    std::size_t longestCity_ = 0, longestTown_ = 0;
};

} // namespace ubin
