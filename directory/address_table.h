#pragma once
// The address tables of a directory folder (住所.IDX), written by ubin-build beside the nine
// original files and used where they lie: every entry's town proper and what its note says
// (directory/address_file.h), and the names a written address is read by (prefectures, cities
// with and without their 郡, the wards of designated cities, towns), each a sorted table of name
// forms with the codes or entries it stands for. Nothing is built when a folder is opened: a
// name is found by a binary search in the mapped file, a record is read where it lies.
// docs/directory-format.md describes the bytes.
//
// Every read checks the bytes it takes before it believes them: their pieces, where the folder's
// manifest gives checksums for them, each the first time, or else the sections it reads, each
// compared whole with its own checksum at its first read. And every read is checked against the
// file's bounds, so that a file changed under a program that maps it (which the program then
// refuses) is never read outside of it.
#include "base/file.h"
#include "directory/address_file.h"
#include "directory/manifest.h"
#include "directory/sections.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ubin {

extern const std::u16string kAddressTableFileName; // 住所.IDX

inline constexpr char kAddressTableMagic[] = "UBADDR01";

// The name tables of the file, each keyed by a name form (base/normalize.h).
enum class NameTable : std::uint32_t {
    Cities,       // a city's name form, and the same without its 郡 (倶知安町) -> city codes
    CityVariants, // the same in variant form (VariantForm) -> city codes
    Wards,        // a ward of a designated city written without its city (北区) -> city codes
    Designated,   // a designated city written without its ward (横浜市) -> the codes of its wards
    Towns,        // a town proper -> its records (entry - 1)
    TownVariants, // the same in variant form, and with 通 for 通り -> records
    ChomeParents, // 本町 where a town 本町1丁目 stands beside it; no values
    OldCities,    // a municipality others replaced, with and without its 郡 -> its rows (OldCityRow)
    Count,
};

// The sections of the file, in order.
enum AddressSection : std::uint32_t {
    kAddressLimits,       // u32: the longest city key, the longest town key
    kAddressText,         // UTF-16: every text of the file, one after another
    kAddressPrefectures,  // 47 rows: name and its name form
    kAddressCities,       // rows by code: code and name
    kAddressRecords,      // one row per entry (record n - 1 is entry n)
    kAddressClauses,      // the clauses of the records' notes
    kAddressExcepts,      // NumberRange: the exceptions of the clauses
    kAddressValues,       // i32: the values of the name tables and of the placeholders
    kAddressNameTables,   // one section per NameTable, rows sorted by key
    kAddressPlaceholders = kAddressNameTables + static_cast<std::uint32_t>(NameTable::Count), // rows by city code
    kAddressOldCities,    // the municipalities others replaced
    kAddressSums,         // the checksums of the sections before it (directory/sections.h)
    kAddressSectionCount,
};

// A text of the file's text section.
struct TextRow {
    std::uint32_t offset = 0, length = 0;
};
struct PrefectureRow {
    TextRow name, key;
};
struct CityRow {
    std::int32_t code = 0;
    TextRow name;
    std::uint32_t reserved = 0;
};
// A record's texts lie one after another from `texts`, in the order of `lengths`: town, town key,
// building, building key, floor as written, note as written. A town key of length kSameAsTown is
// the town itself (as it mostly is).
struct AddressRow {
    static constexpr std::uint16_t kSameAsTown = 0xFFFF;
    std::uint32_t texts = 0;
    std::uint16_t lengths[6] = {};
    std::uint16_t cityCode = 0;
    std::uint8_t kind = 0, reserved = 0;
    std::int16_t floor = 0;
    std::uint16_t clauseCount = 0;
    std::uint32_t clauseFirst = 0;
    std::uint32_t entry = 0;
};
struct ClauseRow {
    std::uint8_t kind = 0, reserved = 0;
    std::uint16_t exceptCount = 0;
    std::uint32_t exceptFirst = 0;
    TextRow key;
    NumberRange range;
};
struct NameRow {
    TextRow key;
    std::uint32_t first = 0, count = 0; // values
};
struct PlaceholderRow {
    std::int32_t city = 0;
    std::uint32_t first = 0, count = 0; // values: records
    std::uint32_t reserved = 0;
};
struct OldCityRow {
    std::int32_t code = 0; // the municipality that holds its towns today
    std::int32_t prefecture = 0;
    std::int32_t date = 0; // of the change, YYYYMMDD
    TextRow name;          // as it was written, 郡 included
    std::int32_t reserved = 0;
};
static_assert(sizeof(OldCityRow) == 24);
static_assert(sizeof(NumberRange) == 32 && sizeof(AddressRow) == 32 && sizeof(ClauseRow) == 48 && sizeof(NameRow) == 16
              && sizeof(CityRow) == 16 && sizeof(PlaceholderRow) == 16 && sizeof(PrefectureRow) == 16);

class AddressTable;

// A clause of a record's note, where it lies.
class ClauseView {
public:
    ClauseView(const AddressTable& table, const ClauseRow& row) : table_(&table), row_(&row) {}
    ClauseKind kind() const { return static_cast<ClauseKind>(row_->kind); }
    std::u16string_view key() const;
    const NumberRange& range() const { return row_->range; }
    std::span<const NumberRange> except() const;
    NoteClause Copy() const;

private:
    const AddressTable* table_;
    const ClauseRow* row_;
};

class RecordView;

// The clauses of a record, for a range-for.
class ClauseList {
public:
    class iterator {
    public:
        iterator(const RecordView* record, std::size_t i) : record_(record), i_(i) {}
        ClauseView operator*() const;
        iterator& operator++()
        {
            ++i_;
            return *this;
        }
        bool operator!=(const iterator& o) const { return i_ != o.i_; }

    private:
        const RecordView* record_;
        std::size_t i_;
    };
    ClauseList(const RecordView& record, std::size_t count) : record_(&record), count_(count) {}
    iterator begin() const { return {record_, 0}; }
    iterator end() const { return {record_, count_}; }

private:
    const RecordView* record_;
    std::size_t count_;
};

// An entry's record, where it lies.
class RecordView {
public:
    RecordView(const AddressTable& table, const AddressRow& row) : table_(&table), row_(&row) {}
    std::int32_t entry() const { return static_cast<std::int32_t>(row_->entry); }
    std::int32_t cityCode() const { return row_->cityCode; }
    NoteKind kind() const;
    std::u16string_view town() const { return Text(0); }
    std::u16string_view townKey() const { return row_->lengths[1] == AddressRow::kSameAsTown ? Text(0) : Text(1); }
    std::u16string_view building() const { return Text(2); }
    std::u16string_view buildingKey() const { return Text(3); }
    std::int32_t floor() const { return row_->floor; }
    std::u16string_view floorText() const { return Text(4); }
    std::u16string_view note() const { return Text(5); }
    std::size_t ClauseCount() const;
    ClauseView Clause(std::size_t i) const;
    // The clauses; the view must outlive the loop.
    ClauseList Clauses() const { return {*this, ClauseCount()}; }
    // The record as a value (for the programs that show it, and the tests).
    AddressRecord Copy() const;

private:
    std::u16string_view Text(int which) const;
    const AddressTable* table_;
    const AddressRow* row_;
};

inline ClauseView ClauseList::iterator::operator*() const { return record_->Clause(i_); }

// A name of a table that is a beginning of a text: its length and what it stands for.
struct NameHit {
    std::size_t length = 0;
    std::span<const std::int32_t> values;
};

class AddressTable {
public:
    // Maps (or, in Load mode, reads) the file and compares its header with its checksum.
    // DirectoryError naming it when it is not an address table of this version, its header is
    // damaged or its sections do not fit; the rest is checked as it is read.
    AddressTable(const std::filesystem::path& file, platform::MappedFile::Mode mode);
    // Over bytes made in memory (AddressTableBytes): a folder of the builds before, which has
    // only the text notes (住所.TXT), is laid out this way when it is opened.
    AddressTable(std::string bytes, const std::filesystem::path& file);
    AddressTable(AddressTable&&) noexcept;
    ~AddressTable();

    // What the folder's manifest gives for the file (none: no manifest with XXH3): where it gives
    // the file's pieces, the reads check those instead of whole sections. DirectoryError when the
    // file's size is not the one it gives.
    void UseManifest(const std::optional<ManifestFile>& listed);
    // Compares every section with its checksum (each once); DirectoryError naming the file and the
    // section when one differs.
    void NeedAll() const;
    // DirectoryError when the file was cut short under its mapping (MappedFile::Changed).
    void CheckUnchanged() const;

    std::int32_t RecordCount() const { return static_cast<std::int32_t>(records_.size()); }
    // The record of entry n; none outside 1..RecordCount().
    std::optional<RecordView> Record(std::int32_t entry) const;
    // Record i (entry i + 1), 0 <= i < RecordCount().
    RecordView RecordAt(std::int32_t index) const { return {*this, Row(kAddressRecords, records_, static_cast<std::size_t>(index))}; }

    // Prefecture 1..47: its name and its name form; none for any other number.
    std::optional<std::u16string_view> PrefectureName(std::int32_t code) const;
    std::optional<std::u16string_view> PrefectureKey(std::int32_t code) const;
    // A city by its municipal code; none when there is none.
    std::optional<std::u16string_view> CityName(std::int32_t code) const;
    std::span<const CityRow> Cities() const;

    // The values of a name; none when the table does not hold it.
    std::optional<std::span<const std::int32_t>> Find(NameTable table, std::u16string_view key) const;
    bool Holds(NameTable table, std::u16string_view key) const { return Find(table, key).has_value(); }
    // Every name of the table that is a beginning of `text`, at most `longest` long, shortest
    // first. Costs a few binary searches per character, and stops at the first character no
    // name goes on with.
    std::vector<NameHit> Beginnings(NameTable table, std::u16string_view text, std::size_t longest) const;
    // The municipalities others replaced, as the OldCities table's values number them.
    std::int32_t OldCityCount() const { return static_cast<std::int32_t>(oldCities_.size()); }
    AddressOldCity OldCity(std::int32_t index) const;
    // The records of a city with no town of their own (以下に掲載がない場合, …一円, …の次に番地がくる場合).
    std::span<const std::int32_t> Placeholders(std::int32_t city) const;

    std::size_t LongestCity() const { return longestCity_; }
    std::size_t LongestTown() const { return longestTown_; }
    const std::filesystem::path& file() const;

private:
    friend class RecordView;
    friend class ClauseView;
    void Read();
    std::u16string_view TextOf(std::uint32_t offset, std::uint32_t length) const;
    std::u16string_view TextOf(const TextRow& t) const { return TextOf(t.offset, t.length); }
    std::span<const std::int32_t> ValuesOf(std::uint32_t first, std::uint32_t count) const;
    std::span<const NameRow> Rows(NameTable table) const { return names_[static_cast<std::size_t>(table)]; }

    void Need(std::uint32_t section) const;
    // Checks the bytes a read of a section takes: their pieces, when the manifest gives them,
    // else the section whole at its first read.
    void Take(std::uint32_t section, const void* at, std::size_t bytes) const
    {
        if (memory_.empty() && (!pieces_ || !pieces_->Sound(bytes_, at, bytes))) TakeChecked(section, at, bytes);
    }
    void TakeChecked(std::uint32_t section, const void* at, std::size_t bytes) const;
    template <class T>
    const T& Row(std::uint32_t section, std::span<const T> rows, std::size_t i) const
    {
        Take(section, &rows[i], sizeof(T));
        return rows[i];
    }

    platform::MappedFile map_;
    std::string memory_; // the bytes, when they were made in memory
    std::filesystem::path memoryName_;
    std::optional<SectionReader> sections_;
    std::unique_ptr<PartChecks> checks_; // one per section
    std::optional<PieceChecks> pieces_;
    std::span<const unsigned char> bytes_;
    std::size_t longestCity_ = 0, longestTown_ = 0;
    std::span<const char16_t> text_;
    std::span<const PrefectureRow> prefectures_;
    std::span<const CityRow> cities_;
    std::span<const AddressRow> records_;
    std::span<const ClauseRow> clauses_;
    std::span<const NumberRange> excepts_;
    std::span<const std::int32_t> values_;
    std::span<const NameRow> names_[static_cast<std::size_t>(NameTable::Count)];
    std::span<const PlaceholderRow> placeholders_;
    std::span<const OldCityRow> oldCities_;
};

// The bytes of 住所.IDX for a build's notes: the records as they are, and the name tables made
// from the prefectures, cities and towns.
std::string AddressTableBytes(const AddressFile& notes);

} // namespace ubin
