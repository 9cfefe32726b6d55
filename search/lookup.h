#pragma once
// The lookup engine: addresses as values, found in the directory files without any face.
//
// It answers what the search window's entry box, paging buttons and area lists ask, and what
// the command line, the link and the web service ask: entries by postal code, by the beginning
// of a town reading or name, cities by code, the prefecture / city / town / sub-area lists,
// and the next or previous candidate from any position. Every answer is read on demand from
// the open files with positioned reads; the engine holds nothing that a lookup changes, so
// any number of threads may use one engine at the same time.
#include "directory/address_file.h"
#include "directory/edition.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ubin {

class DirectoryState;

// The four searchable indexes, numbered as their files UIND1.IDX .. UIND4.IDX.
enum class KeyIndex : int {
    Postal = 1,   // 7-digit postal code
    City = 2,     // 5-digit city code
    TownKana = 3, // town reading in half-width katakana
    TownName = 4, // town name in kanji
};

// How the city of a postal entry was found in the city table.
enum class CityStatus {
    Found,      // the table has a line for the code
    NoSuchCity, // the code is in the table's range and its record is 0
    BadCode,    // the code is below 1 or beyond the table
};

// A line of TOSHI2.TDB: a prefecture (codes 1 to 47) or a city.
struct AreaLine {
    std::int32_t code = 0;    // the city table record it was reached through
    std::u16string areaCode;  // as stored, a 4-digit city code completed with its leading 0
    std::u16string name;
    std::u16string kana;

    friend bool operator==(const AreaLine&, const AreaLine&) = default;
};

// An area entry of KEN_ALL, or an office with a postal code of its own (a post office box).
enum class EntryKind { Area, Office, PoBox };

// One address of the directory.
struct Entry {
    EntryKind kind = EntryKind::Area;
    std::int32_t number = 0;  // the postal entry number (record of 郵便Point.POI), or the office number
    std::u16string postalCode;
    std::u16string cityCode;  // the 5-digit code of the entry's city, as stored in its line
    std::u16string townKana, town, detail;
    std::u16string detailFlag; // "0" when the town has this one entry
    // The city as the city table gives it, and the prefecture its code names (empty when the
    // code names none).
    CityStatus cityStatus = CityStatus::NoSuchCity;
    std::u16string city, cityKana;
    std::u16string prefecture, prefectureKana;
    // Offices: the name and its reading (often unknown), and the street part (小字・丁目・番地).
    // Their prefecture, city and town are the office list's; the readings of prefecture and
    // city come from the city table.
    std::u16string office, officeKana, street;
    // Area entries read by the finder of a directory with address notes (住所.TXT): the town
    // proper (empty for 以下に掲載がない場合 and the like), what its note is, and a building's
    // name and floor. Without them `hasNote` is false and `town` and `detail` say it all.
    bool hasNote = false;
    NoteKind noteKind = NoteKind::None;
    std::u16string townWithoutNote, noteText, building, floor; // empty for a town without a note

    // The town proper: the town itself where it has no note (or the directory no notes).
    std::u16string_view TownProper() const
    {
        return hasNote && noteKind != NoteKind::None ? std::u16string_view(townWithoutNote) : std::u16string_view(town);
    }

    bool IsOffice() const { return kind != EntryKind::Area; }
    bool HasSubAreas() const { return detailFlag != u"0"; }
    friend bool operator==(const Entry&, const Entry&) = default;
};

// An item of an area list and what it stands for: a prefecture number, a city code, or a
// postal entry number (towns and sub-areas).
struct AreaItem {
    std::u16string name;
    std::int32_t number = 0;
    friend bool operator==(const AreaItem&, const AreaItem&) = default;
};

// The towns of a city, one item per postal entry in the order of the city-code index, and
// the first record of that index the search met (none when it met none).
struct TownList {
    std::optional<std::int32_t> firstRecord;
    std::vector<AreaItem> towns;
};

// The prefecture (1..47) a 5-digit city code names in its first two digits; none when they
// name none.
std::optional<std::int32_t> PrefectureOfCityCode(std::u16string_view cityCode);

// Whether an entry is its city's catch-all entry (以下に掲載がない場合), which names no town: by
// its note where the finder gave it one, else by its town's text.
bool IsRestOfCity(const Entry& entry);

// What a postal-code lookup (Lookup::FindPostalEntries) gives.
struct PostalOptions {
    bool offices = true;   // offices and post-office boxes with a code of their own too
    std::size_t limit = 0; // at most this many entries; 0: every one
};

// A typed city code (a number above 0; 4 digits stand for a code with a leading 0) and its
// line; `line` is none when the city table has none for the code.
struct CityMatch {
    std::int32_t code = 0;
    std::optional<AreaLine> line;
};

// The digits of a typed postal code: the half-width digits 0-9 in order, full-width digits
// counting as the same digits; every other character (hyphen, 〒, blanks) is dropped.
std::u16string PostalKeyDigits(std::u16string_view text);

// The city of the entry read last, for reading many entries of a few cities: the city table
// and its line are read once per city instead of once per entry. Belongs to one reader.
struct CityMemo {
    std::u16string code;
    CityStatus status = CityStatus::NoSuchCity;
    std::u16string city, cityKana, prefecture, prefectureKana;
};

class Lookup {
public:
    // Over a directory whose files are open; the directory outlives the engine.
    explicit Lookup(const DirectoryState& directory);
    // Opens the folder as the search window does at start-up and owns it. `mapped`: the files
    // lookups read by position are mapped into memory (DirectoryState::MapFiles), for programs
    // that answer many lookups.
    static std::unique_ptr<Lookup> Open(const std::u16string& dataFolder, bool mapped = false);
    ~Lookup();
    Lookup(const Lookup&) = delete;
    Lookup& operator=(const Lookup&) = delete;

    std::int32_t EntryCount() const;
    std::int32_t CityTableSize() const;
    // The edition of the data (MANIFEST.TXT's), "unknown" for a folder built before editions.
    const DirectoryEdition& Edition() const;
    // A file of the open folder.
    std::filesystem::path FilePath(std::u16string_view fileName) const;
    // Prefecture 1..47; none for any other number.
    std::optional<std::u16string> PrefectureName(std::int32_t prefecture) const;
    std::optional<std::u16string> PrefectureKana(std::int32_t prefecture) const;

    // --- single records -----------------------------------------------------------------------
    // Postal entry n with its city.
    Entry ReadEntry(std::int32_t entryNumber, CityMemo* memo = nullptr) const;
    // The city or prefecture line of a code; none when the table has no line for it (a 0
    // record, a code outside the table or beyond the whole records the file holds).
    std::optional<AreaLine> ReadCity(std::int32_t code) const;
    // The name and reading a city code search shows: a city's with its prefecture in front;
    // prefecture lines and codes ending in 000 as stored.
    AreaLine WithPrefecture(const AreaLine& line) const;

    // --- searches by key ----------------------------------------------------------------------
    // Every entry whose index key begins with `key`, in index order; at most `limit` (0: all).
    std::vector<Entry> Find(KeyIndex index, std::u16string_view key, std::size_t limit = 0) const;
    // Looking a postal code up, for every program: the entries whose postal code begins with
    // the digits of `typed` (PostalKeyDigits: full-width digits, hyphens and 〒 as typed), by
    // postal code, area entries before the offices of the same code, each in the order of its
    // index.
    std::vector<Entry> FindPostalEntries(std::u16string_view typed, PostalOptions options = {}) const;
    // How many entries FindPostalEntries gives for `typed` (areas and offices), without reading them.
    std::size_t CountPostal(std::u16string_view typed) const;
    // The area entries alone (FindPostalEntries without offices).
    std::vector<Entry> FindPostalAreas(std::u16string_view typed, std::size_t limit = 0) const;
    // The line of a typed city code: 1 or 2 digits for a prefecture, 5 for a city; 4 digits
    // stand for a code with a leading 0. None when nothing typed is a number above 0.
    std::optional<CityMatch> FindCity(std::u16string_view typed) const;

    // --- offices ------------------------------------------------------------------------------
    // Whether the directory has the office files.
    bool HasOffices() const;
    // The offices the directory holds; 0 without them.
    std::int32_t OfficeCount() const;
    // Office n (1-based, in postal code order).
    Entry ReadOffice(std::int32_t officeNumber, CityMemo* memo = nullptr) const;
    // Offices whose postal code begins with the digits of `typed`, in postal code order; none
    // in a directory without offices.
    std::vector<Entry> FindOffices(std::u16string_view typed, std::size_t limit = 0) const;

    // --- the area lists -----------------------------------------------------------------------
    // The 47 prefectures in code order.
    std::vector<AreaItem> Prefectures() const;
    // The cities of prefecture p (1..47) in code order: the codes after p * 1000 with a line,
    // up to the first line of another prefecture. Any other p lists none.
    std::vector<AreaItem> CitiesOf(std::int32_t prefecture) const;
    // The towns of a city, by its 5-digit code text; an empty key lists none.
    TownList TownsOf(std::u16string_view cityKey) const;
    // The sub-areas of a town with several entries: the run of neighbouring entries of the
    // same city whose whole town name is the town's, by their detail's first word.
    std::vector<AreaItem> SubAreasOf(const Entry& town) const;

private:
    // The engine's own parts read the open folder itself: the record level the search form
    // pages through (search/records.h), the finder's and the live folder's files.
    friend class IndexRecords;
    friend class Finder;
    friend class LiveDirectory;
    const DirectoryState& directory() const { return dir_; }

    // The position of a city's line in TOSHI2.TDB; none when the table has none for the code.
    std::optional<std::int32_t> CityPosition(std::int32_t code) const;
    // The line at a position of TOSHI2.TDB split into at most `capacity` fields, its code
    // completed where it had 4 digits.
    AreaLine ReadAreaLine(std::int32_t code, std::int32_t position, int capacity) const;
    void ResolveCity(Entry& entry) const;
    void ResolveCity(Entry& entry, CityMemo* memo) const;
    Entry OfficeAt(std::int32_t officeNumber, std::int32_t linePosition, CityMemo* memo = nullptr) const;

    std::unique_ptr<DirectoryState> owned_;
    const DirectoryState& dir_;
};

} // namespace ubin
