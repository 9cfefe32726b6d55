#pragma once
// Why a line of a batch got its answer, and whether a person should look at it: a fixed list of
// reasons, each with a code that scripts read (city_catch_all), a short Japanese text that
// people read, and whether it asks for a check by hand. Most are worked out from what the
// finder's answer says (its match, level, candidates and unused text, the entry and its note,
// the text as written); the engine adds those only it can know in FindResult::reasons, with the
// bits of engine_reason below.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ubin {

// In the order the reason column lists them. The values are positions in a ReasonSet: append,
// never renumber (a report of an older run names them by code, not number).
enum class Reason : std::uint8_t {
    NotFound,          // nothing found
    PostalCode,        // the text was a postal code
    PostalPrefix,      // only the first digits of a code were written
    CodeManyTowns,     // the code written stands for several towns
    Reading,           // read as kana or romaji
    NameText,          // looked for as part of a name, not read as an address
    OfficeName,        // an office found by its name
    OfficeCode,        // the answer is an office's own code
    PoBox,             // the answer is a post office box's code
    NoteMatched,       // the town's note (house numbers, streets, named parts) decided
    BuildingMatched,   // a building of the town, and its floor, decided
    WholeCity,         // one code for the whole municipality (一円)
    NumberAfterCity,   // the house number follows the city, which has no towns
    CityCatchAll,      // the town is unknown: the city's catch-all entry
    TownNotFound,      // the town is unknown and the city has no catch-all entry
    WardUnknown,       // a designated city without its ward, and a town none of its wards has
    PrefectureOmitted, // no prefecture written
    CityOmitted,       // no city written: the town alone named it
    WardOmitted,       // a designated city written without its ward
    CountyRestored,    // the county (郡) was not written
    TownSpelling,      // the town was written otherwise than the directory writes it
    VariantKanji,      // the town matched in its old or common kanji
    SeveralCandidates, // several entries answer; the first was taken
    OfficesAtAddress,  // offices with codes of their own are at this address too
    TextUnused,        // part of the text was used for nothing
    CodeBeforeAddress, // a postal code written before the address was read apart
    CodeMismatch,      // the code written in the list (or before the address) is another
    CodeUnreadable,    // the code written in the list is not 7 digits
    CodeChanged,       // the older directory answered another code
    OldName,           // an old municipality's name was read (engine)
    Romaji,            // the address was written in Latin letters (engine)
    ChouChou,          // 町 and 丁 taken as one (engine)
    Lookalike,         // a kanji taken for one that looks like it (engine)
};
inline constexpr std::size_t kReasonCount = static_cast<std::size_t>(Reason::Lookalike) + 1;

struct ReasonInfo {
    Reason reason;
    const char* code;  // snake_case, ASCII
    const char* text;  // one Japanese sentence, ending in 。
    bool review;       // a row with it should be checked by hand
};
const ReasonInfo& Info(Reason reason);
// Every reason, in order.
const std::vector<ReasonInfo>& AllReasons();
// The reason of a code; false when the code names none.
bool ReasonOfCode(std::string_view code, Reason& reason);

// The bits the engine sets in FindResult::reasons, for what only it knows. Each stands for the
// reason named beside it.
namespace engine_reason {
inline constexpr std::uint32_t kOldName = 1u << 0;           // Reason::OldName
inline constexpr std::uint32_t kVariantKanji = 1u << 1;      // Reason::VariantKanji
inline constexpr std::uint32_t kCountyRestored = 1u << 2;    // Reason::CountyRestored
inline constexpr std::uint32_t kCodeBeforeAddress = 1u << 3; // Reason::CodeBeforeAddress
inline constexpr std::uint32_t kRomaji = 1u << 4;            // Reason::Romaji
inline constexpr std::uint32_t kChouChou = 1u << 5;          // Reason::ChouChou
inline constexpr std::uint32_t kLookalike = 1u << 6;         // Reason::Lookalike
} // namespace engine_reason

class ReasonSet {
public:
    void Add(Reason r) { bits_ |= Bit(r); }
    bool Has(Reason r) const { return (bits_ & Bit(r)) != 0; }
    bool empty() const { return bits_ == 0; }
    // Whether one of the reasons asks for a check by hand.
    bool NeedsReview() const;
    // The engine's bits (engine_reason) added as their reasons.
    void AddEngine(std::uint32_t engineBits);
    std::vector<Reason> List() const;
    // "city_catch_all;several_candidates": the codes in order, joined by ';'.
    std::string Codes() const;
    // The texts in order, one after another.
    std::string Texts() const;
    friend bool operator==(const ReasonSet&, const ReasonSet&) = default;

private:
    static std::uint64_t Bit(Reason r) { return std::uint64_t{1} << static_cast<unsigned>(r); }
    std::uint64_t bits_ = 0;
};

} // namespace ubin
