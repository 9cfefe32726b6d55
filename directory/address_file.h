#pragma once
// The address notes of a directory folder (住所.TXT), written by ubin-build beside the nine
// original files: for every area entry, its town name proper and what the parenthesised note
// KEN_ALL gives it means (a building and floor, ranges of 丁目, 番地, 号 and 地割, Kyoto
// streets, named parts of the town, placeholders), already taken apart, so that a program
// matching a written address against the entries needs no grammar of its own. The file also
// lists the prefectures and cities, for finding where an address starts.
// docs/directory-format.md describes the lines.
#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace ubin {

// The town KEN_ALL gives a city's catch-all entry: the code for every address of the city that
// no other entry names.
inline constexpr std::u16string_view kRestOfCityTown = u"以下に掲載がない場合";

extern const std::u16string kAddressFileName; // 住所.TXT (the builds before; now 住所.IDX)

// Whether an entry plainly has no note, as its line of 郵便番号.CSV shows it: no detail, and a town
// that is a name, not a placeholder (以下に掲載がない場合, …の次に番地がくる場合, …一円). The notes
// give every such entry the kind None, so a program showing it need not read its record.
bool PlainlyWithoutNote(std::u16string_view town, std::u16string_view detail);

// The parts of a house number, widest first: 第N地割, N丁目, N番地 (or N番), N号 (or the number
// after a dash: 400-2番地 is 番地 400, 2).
enum NumberLevel : int { kLevelChiwari, kLevelChome, kLevelBanchi, kLevelGo, kNumberLevels };

// A house number with the parts it gives; kNoNumber where it gives none.
inline constexpr std::int32_t kNoNumber = -1;
using HouseNumber = std::array<std::int32_t, kNumberLevels>;
inline constexpr HouseNumber kNoHouseNumber = {kNoNumber, kNoNumber, kNoNumber, kNoNumber};

// The numbers from `low` to `high`, both held, compared part by part from the widest part
// either gives. An open end (以上, 以下, 番地～) gives no part at all.
struct NumberRange {
    HouseNumber low = kNoHouseNumber;
    HouseNumber high = kNoHouseNumber;
    friend bool operator==(const NumberRange&, const NumberRange&) = default;
};

// What one item of a note's list says.
enum class ClauseKind : std::uint8_t {
    Numbers,   // a range of house numbers, less its exceptions (…を除く, …以外)
    Street,    // a Kyoto street and direction: `key` (油小路通下立売上る)
    Name,      // a named part of the town: `key` (旭町, 大谷地)
    Others,    // その他: every number or part the town's other entries do not hold
    AnyChome,  // 丁目: the addresses of the town written with 丁目
    AnyBanchi, // 番地: the addresses of the town written with 番地 alone
    Plain,     // words no rule reads: shown, never matched
};

struct NoteClause {
    ClauseKind kind = ClauseKind::Plain;
    NumberRange range;
    std::vector<NumberRange> except;
    std::u16string key; // in name form (base/normalize.h), streets also in street form
    friend bool operator==(const NoteClause&, const NoteClause&) = default;
};

// What an entry's town and note are.
enum class NoteKind : std::uint8_t {
    None,            // a town without a note
    RestOfCity,      // 以下に掲載がない場合: the city's catch-all entry, no town
    NumberFirst,     // …の次に番地がくる場合: the house number follows the city, no town
    WholeCity,       // …一円: the whole municipality, no town
    Floor,           // a floor of a building (ＪＰタワー（３０階）, （地階・階層不明）)
    ExceptBuildings, // 次のビルを除く: the town outside its buildings with codes of their own
    Numbers,         // ranges of house numbers (and その他)
    Streets,         // Kyoto streets
    SubAreas,        // named parts of the town
    Mixed,           // several of these
    Plain,           // a note no rule reads
};

// The name of a kind as files and JSON write it ("floor", "numbers", ...); Parse returns false
// for a name that is none.
const char* NoteKindName(NoteKind kind);
bool ParseNoteKind(std::string_view name, NoteKind& kind);

inline constexpr std::int32_t kFloorUnknown = -1; // 地階・階層不明: a basement, or no floor given

struct AddressRecord {
    std::int32_t entry = 0;     // the postal entry number
    std::int32_t cityCode = 0;  // 1001 .. 47999
    NoteKind kind = NoteKind::None;
    std::u16string town;        // the town proper as KEN_ALL writes it; empty for the placeholders
    std::u16string townKey;     // in name form
    std::u16string building;    // floors: the building as KEN_ALL writes it (ＪＰタワー)
    std::u16string buildingKey; // in building form (name form without ・)
    std::int32_t floor = kFloorUnknown;
    std::u16string floorText;   // as KEN_ALL writes it (３０階, 地階・階層不明)
    std::u16string note;        // the note as KEN_ALL writes it, without the parentheses
    std::vector<NoteClause> clauses;
    friend bool operator==(const AddressRecord&, const AddressRecord&) = default;
};

struct AddressArea {
    std::int32_t code = 0; // a prefecture 1..47, or a municipal code
    std::u16string name;
    friend bool operator==(const AddressArea&, const AddressArea&) = default;
};

// A municipality that another replaced (a merger, a renaming, a new ward): its name then, 郡
// included (秩父郡荒川村), its prefecture, the municipal code that holds its towns today and the
// day of the change (YYYYMMDD).
struct AddressOldCity {
    std::int32_t code = 0;
    std::int32_t prefecture = 0;
    std::int32_t date = 0;
    std::u16string name;
    friend bool operator==(const AddressOldCity&, const AddressOldCity&) = default;
};

struct AddressFile {
    std::vector<AddressArea> prefectures, cities;
    std::vector<AddressRecord> records; // record n-1 is entry n
    std::vector<AddressOldCity> oldCities;
};

// The forms keys are compared in, on top of the name form (base/normalize.h) of a text:
// streets with る for ル and 入 for 入る / 入ル (油小路通下立売上ル = 油小路通下立売上る); building
// names without ・ (ミッドタウン・タワー = ミッドタウンタワー).
std::u16string StreetForm(std::u16string_view nameForm);
std::u16string BuildingForm(std::u16string_view nameForm);
// What BuildingForm leaves out: ・ and blanks.
bool IsBuildingSeparator(char16_t c);

std::string FormatAddressFile(const AddressFile& file);
// Throws DirectoryError naming the file and the line when the text is not an address file.
AddressFile ParseAddressFile(std::string_view text, const std::filesystem::path& file);
AddressFile ReadAddressFile(const std::filesystem::path& file);

} // namespace ubin
