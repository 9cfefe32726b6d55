#pragma once
// A written address taken apart and matched against the directory's entries: prefecture (or
// none), city (with or without its 郡, or none), town (with or without 大字 or 字, in its old or
// common kanji), then what follows the town: a Kyoto street and direction (before or after the
// town), a named part of the town, a house number (丁目, 番地, 号, 地割, or the short form
// 1-2-3), a building and its floor. The entry chosen is the one whose note covers what was
// written; where the notes cannot decide, every candidate comes back, the likeliest first.
//
// Works on the directory's address tables (住所.IDX, directory/address_table.h) and on texts in
// name form (base/normalize.h). Linear in the length of the text: every step looks up the
// beginnings of what is left, never longer than the longest name the directory holds.
#include "directory/address_file.h"
#include "directory/address_table.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <optional>
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

// How a town's name was matched where its exact spelling found nothing.
enum class TownSpelling {
    AsWritten,
    Variant,  // an old, common or look-alike kanji taken for the one the directory writes (澤, 巿)
    ChouChou, // 町 written for 丁 or back (一町目 for 壱丁目)
    ChouLeftOut, // a 町 left out inside a compound name (木之本西山 for 木之本町西山)
};

struct AddressMatch {
    AddressLevel level = AddressLevel::None;
    std::vector<std::int32_t> entries;    // entry numbers, the likeliest first
    std::optional<std::int32_t> cityCode; // of the first entry's city when a city or town was matched
    std::u16string town;                  // the town matched, in name form
    WrittenNumber number;                 // the house number written after the town
    std::u16string rest;                  // what was written and matched nothing, in name form
    std::optional<std::int32_t> oldCity;  // the old municipality name it was written with (AddressTable::OldCity)
    TownSpelling spelling = TownSpelling::AsWritten; // how the town's name was matched
    // Whether the text said more than a bare town name: a prefecture or city, or something after
    // the town that the notes used (a number, street, part, building).
    bool specific = false;
};

class AddressResolver {
public:
    // Over the tables of a folder (directory/address_table.h), which outlive the resolver.
    explicit AddressResolver(const AddressTable& table);

    // `text` in name form (base/normalize.h).
    AddressMatch Resolve(std::u16string_view text) const;
    // The record of an entry, as a value; none for a number outside the file.
    std::optional<AddressRecord> Record(std::int32_t entry) const;
    // A city by its municipal code, a prefecture by its number; none when there is none.
    std::optional<std::u16string> CityName(std::int32_t code) const;
    std::optional<std::u16string> PrefectureName(std::int32_t code) const;
    const AddressTable& Table() const { return table_; }

    // The municipalities (as their names are written) whose name is one character off the one a
    // text in name form begins with (大坂市北区梅田: 大阪市), a designated city without its ward
    // and a town without its 郡 included.
    std::vector<std::u16string> NearCities(std::u16string_view text) const;

    // Reads a house number at the start of a text in name form; `used` is how much it took.
    static WrittenNumber ReadNumber(std::u16string_view text, std::size_t& used);

private:
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
        TownSpelling spelling = TownSpelling::AsWritten;
    };

    // A city found at a place of the text: its code, where its name ends, and the old municipality
    // name it was written with (none: a name of today).
    struct CityHit {
        std::int32_t code = 0;
        std::size_t end = 0;
        std::optional<std::int32_t> old;
    };
    using CityHits = std::vector<CityHit>;

    std::vector<Start> Prefectures(std::u16string_view text) const;
    // Cities at `at` (longest first); the variant form is looked up where the exact one names none,
    // and old municipality names after them.
    CityHits Cities(std::u16string_view text, std::size_t at, std::int32_t prefecture) const;
    TownHit Town(std::u16string_view text, std::size_t at, std::int32_t city, std::int32_t prefecture) const;
    TownHit TownAt(std::u16string_view text, std::size_t at, std::int32_t city, std::int32_t prefecture) const;
    // The town after the first of `cities` that has one, chosen into `match`; false when none has.
    bool TownInCities(std::u16string_view text, const CityHits& cities, std::int32_t prefecture, AddressMatch& match) const;
    // The town after an old municipality name, in the text as it is read: with the old name in
    // front of what follows it, or without; `written` takes that text.
    TownHit TownOfOldCity(std::u16string_view text, const CityHit& city, std::int32_t prefecture,
                          std::u16string& written) const;
    void Choose(std::u16string_view text, const TownHit& hit, AddressMatch& match) const;
    std::vector<std::int32_t> Placeholders(std::int32_t city, const WrittenNumber& number) const;

    const AddressTable& table_;
};

} // namespace ubin
