#include "search/lookup.h"

#include "base/cp932.h"
#include "base/errors.h"
#include "base/text.h"
#include "directory/directory.h"
#include "directory/keysearch.h"
#include "search/records.h"

#include <algorithm>
#include <iterator>

namespace ubin {

namespace {

// Runs of index records are read this many at a time.
constexpr std::int32_t kRunBlock = 256;

// Index records from `first` upward, read in blocks as they are asked for.
class RecordRun {
public:
    RecordRun(const DirectoryState& dir, int slot, std::int32_t first) : dir_(dir), slot_(slot), next_(first) {}
    // The next record, or null past the end of the index.
    const IndexRecord* Next()
    {
        if (at_ == block_.size()) {
            block_ = dir_.ReadIndexRecords(slot_, next_, kRunBlock);
            next_ += static_cast<std::int32_t>(block_.size());
            at_ = 0;
            if (block_.empty()) return nullptr;
        }
        return &block_[at_++];
    }

private:
    const DirectoryState& dir_;
    int slot_;
    std::int32_t next_;
    std::vector<IndexRecord> block_;
    std::size_t at_ = 0;
};

// Readers hold 8 fields for a city line in the city-code search and the postal result, 3 in the
// city list (6 when paging through cities: search/records.cpp).
constexpr int kCityLookupFields = 8;
constexpr int kCityListFields = 3;

std::int32_t Value32(std::u16string_view text)
{
    std::int32_t v = 0;
    return NumericValue32(text, v) ? v : 0;
}

} // namespace

std::u16string PostalKeyDigits(std::u16string_view text)
{
    std::u16string digits;
    for (char16_t c : text) {
        if (c >= u'０' && c <= u'９') c = static_cast<char16_t>(u'0' + (c - u'０'));
        if (c >= u'0' && c <= u'9') digits.push_back(c);
    }
    return digits;
}

Lookup::Lookup(const DirectoryState& directory) : dir_(directory) {}

Lookup::~Lookup() = default;

std::unique_ptr<Lookup> Lookup::Open(const std::u16string& dataFolder, bool mapped)
{
    auto dir = std::make_unique<DirectoryState>();
    dir->dataFolder = dataFolder;
    dir->StartUp();
    if (mapped) dir->MapFiles();
    auto lookup = std::make_unique<Lookup>(*dir);
    lookup->owned_ = std::move(dir);
    return lookup;
}

std::int32_t Lookup::EntryCount() const { return dir_.entryCount; }
bool Lookup::HasOffices() const { return dir_.IsOpen(kSlotOfficeIndex); }

std::int32_t Lookup::OfficeCount() const { return HasOffices() ? dir_.WholeRecords(kSlotOfficeIndex) : 0; }
std::int32_t Lookup::CityTableSize() const { return dir_.cityTableSize; }
const DirectoryEdition& Lookup::Edition() const { return dir_.edition; }
std::filesystem::path Lookup::FilePath(std::u16string_view fileName) const
{
    return dir_.FilePath(std::u16string(fileName));
}

std::optional<std::u16string> Lookup::PrefectureName(std::int32_t p) const
{
    if (p < 1 || p > kPrefectureCount) return std::nullopt;
    return dir_.prefNames[static_cast<std::size_t>(p)];
}

std::optional<std::u16string> Lookup::PrefectureKana(std::int32_t p) const
{
    if (p < 1 || p > kPrefectureCount) return std::nullopt;
    return dir_.prefKana[static_cast<std::size_t>(p)];
}

// --- single records ---------------------------------------------------------------------------

Entry Lookup::ReadEntry(std::int32_t entryNumber, CityMemo* memo) const
{
    std::vector<std::u16string> f(kDirectoryLineFields + 1);
    dir_.ReadPostalEntry(entryNumber, f);
    Entry e;
    e.number = entryNumber;
    e.postalCode = std::move(f[1]);
    e.cityCode = std::move(f[2]);
    e.townKana = std::move(f[3]);
    e.town = std::move(f[4]);
    e.detail = std::move(f[5]);
    e.detailFlag = std::move(f[6]);
    ResolveCity(e, memo);
    return e;
}

void Lookup::ResolveCity(Entry& e, CityMemo* memo) const
{
    if (memo && !memo->code.empty() && memo->code == e.cityCode) {
        e.cityStatus = memo->status;
        e.city = memo->city;
        e.cityKana = memo->cityKana;
        e.prefecture = memo->prefecture;
        e.prefectureKana = memo->prefectureKana;
        return;
    }
    ResolveCity(e);
    if (memo) *memo = CityMemo{e.cityCode, e.cityStatus, e.city, e.cityKana, e.prefecture, e.prefectureKana};
}

void Lookup::ResolveCity(Entry& e) const
{
    // The city table is addressed by the code itself, so its size bounds the valid codes.
    std::int32_t n = 0;
    if (!NumericValue32(e.cityCode, n) || n < 1 || n > dir_.cityTableSize) {
        e.cityStatus = CityStatus::BadCode;
        return;
    }
    const std::optional<std::int32_t> position = CityPosition(n);
    if (!position) {
        e.cityStatus = CityStatus::NoSuchCity;
        return;
    }
    AreaLine line = ReadAreaLine(n, *position, kCityLookupFields);
    e.cityStatus = CityStatus::Found;
    e.city = std::move(line.name);
    e.cityKana = std::move(line.kana);
    if (const std::optional<std::int32_t> p = PrefectureOfCityCode(line.areaCode)) {
        e.prefecture = *PrefectureName(*p);
        e.prefectureKana = *PrefectureKana(*p);
    }
}

std::optional<std::int32_t> Lookup::CityPosition(std::int32_t code) const
{
    // A record beyond the table, or beyond the whole records of a file cut short, is no city.
    if (code < 1 || code > dir_.cityTableSize || code > dir_.WholeRecords(kSlotCityTable)) return std::nullopt;
    return dir_.ReadCityPosition(code);
}

AreaLine Lookup::ReadAreaLine(std::int32_t code, std::int32_t position, int capacity) const
{
    std::vector<std::u16string> f(static_cast<std::size_t>(capacity) + 1);
    dir_.ReadFieldsAt(kSlotCityLines, position, f);
    // A code whose first digit is 0 may be stored with 4 digits.
    if (f[1].size() == 4) f[1].insert(0, 1, u'0');
    return AreaLine{code, std::move(f[1]), std::move(f[2]), std::move(f[3])};
}

std::optional<AreaLine> Lookup::ReadCity(std::int32_t code) const
{
    const std::optional<std::int32_t> position = CityPosition(code);
    if (!position) return std::nullopt;
    return ReadAreaLine(code, *position, kCityLookupFields);
}

AreaLine Lookup::WithPrefecture(const AreaLine& line) const
{
    // Prefecture lines (codes 1 to 47) and codes ending in 000 are shown as stored; every
    // city gets its prefecture in front.
    const std::u16string_view code = line.areaCode;
    AreaLine shown = line;
    if (NumericValue(code) > 50 && NumericValue(code.size() > 2 ? code.substr(2) : std::u16string_view()) != 0) {
        // A number that names no prefecture adds nothing.
        if (const std::optional<std::int32_t> p = PrefectureOfCityCode(code)) {
            shown.name = *PrefectureName(*p) + line.name;
            shown.kana = *PrefectureKana(*p) + line.kana;
        }
    }
    return shown;
}

// --- searches by key ----------------------------------------------------------------------------

std::vector<Entry> Lookup::Find(KeyIndex index, std::u16string_view key, std::size_t limit) const
{
    std::vector<Entry> out;
    const IndexRecords records(*this);
    const std::int32_t count = records.RecordCount(index);
    const FirstMatch first = records.FindFirst(index, key, 1, count);
    if (!first.accepted) return out;
    out.push_back(ReadEntry(first.entry));
    // The keys that begin with `key` lie together from the first match on.
    RecordRun run(dir_, static_cast<int>(index), first.record + 1);
    for (std::int32_t r = first.record + 1; r <= count && (limit == 0 || out.size() < limit); ++r) {
        const IndexRecord* rec = run.Next();
        if (!rec || std::u16string_view(rec->key).substr(0, key.size()) != key) break;
        out.push_back(ReadEntry(rec->entryNumber));
    }
    return out;
}

std::vector<Entry> Lookup::FindPostalAreas(std::u16string_view typed, std::size_t limit) const
{
    return Find(KeyIndex::Postal, PostalKeyDigits(typed), limit);
}

std::vector<Entry> Lookup::FindPostalEntries(std::u16string_view typed, PostalOptions options) const
{
    std::vector<Entry> areas = FindPostalAreas(typed, options.limit);
    if (!options.offices) return areas;
    const std::vector<Entry> offices = FindOffices(typed, options.limit);
    if (offices.empty()) return areas;
    std::vector<Entry> out;
    out.reserve(areas.size() + offices.size());
    // Both lists come by postal code; an area entry goes before an office of its code.
    std::merge(std::make_move_iterator(areas.begin()), std::make_move_iterator(areas.end()), offices.begin(),
               offices.end(), std::back_inserter(out),
               [](const Entry& a, const Entry& b) { return a.postalCode < b.postalCode; });
    if (options.limit != 0 && out.size() > options.limit) out.resize(options.limit);
    return out;
}

std::size_t Lookup::CountPostal(std::u16string_view typed) const
{
    const std::u16string key = PostalKeyDigits(typed);
    // The records whose key begins with the digits lie together from the first of them.
    const auto count = [&](int slot) {
        const std::int32_t records = dir_.RecordCount(slot);
        const std::optional<FirstKeyMatch> first = FindFirstKey(dir_, slot, 1, records, key);
        if (!first || !first->entry) return std::size_t{0};
        std::size_t n = 0;
        RecordRun run(dir_, slot, first->record);
        for (std::int32_t r = first->record; r <= records; ++r, ++n) {
            const IndexRecord* rec = run.Next();
            if (!rec || std::u16string_view(rec->key).substr(0, key.size()) != key) break;
        }
        return n;
    };
    return count(static_cast<int>(KeyIndex::Postal)) + (HasOffices() ? count(kSlotOfficeIndex) : 0);
}

std::optional<CityMatch> Lookup::FindCity(std::u16string_view typed) const
{
    std::u16string text(typed);
    if (text.size() == 4) text.insert(0, 1, u'0');
    CityMatch m;
    if (!NumericValue32(text, m.code) || m.code <= 0) return std::nullopt;
    m.line = ReadCity(m.code);
    return m;
}

std::optional<std::int32_t> PrefectureOfCityCode(std::u16string_view cityCode)
{
    const std::int32_t p = Value32(cityCode.substr(0, 2));
    if (p < 1 || p > kPrefectureCount) return std::nullopt;
    return p;
}

bool IsRestOfCity(const Entry& e)
{
    if (e.IsOffice()) return false;
    return e.hasNote ? e.noteKind == NoteKind::RestOfCity : e.town == kRestOfCityTown;
}

// --- offices ------------------------------------------------------------------------------------

Entry Lookup::ReadOffice(std::int32_t officeNumber, CityMemo* memo) const
{
    // Record n of 事業所.IDX holds the position of office n's line.
    return OfficeAt(officeNumber, dir_.ReadIndexRecord(kSlotOfficeIndex, officeNumber).entryNumber, memo);
}

Entry Lookup::OfficeAt(std::int32_t officeNumber, std::int32_t linePosition, CityMemo* memo) const
{
    std::vector<std::u16string> f(kOfficeLineFields + 1);
    // A position that is no line's start is the index's fault, not the lines'.
    dir_.CheckPosition(kSlotOfficeIndex, officeNumber, kSlotOfficeLines, linePosition);
    dir_.ReadFieldsAt(kSlotOfficeLines, linePosition, f);
    Entry e;
    e.kind = f[9] == u"1" ? EntryKind::PoBox : EntryKind::Office;
    e.number = officeNumber;
    e.postalCode = std::move(f[1]);
    e.cityCode = std::move(f[2]);
    e.officeKana = std::move(f[3]);
    e.office = std::move(f[4]);
    e.town = std::move(f[7]);
    e.street = std::move(f[8]);
    e.detailFlag.assign(1, u'0'); // not = u"0": a false alarm of GCC 12's -Wrestrict at -O2
    ResolveCity(e, memo);
    // The names are the office list's own; the city table gives the readings.
    e.prefecture = std::move(f[5]);
    e.city = std::move(f[6]);
    return e;
}

std::vector<Entry> Lookup::FindOffices(std::u16string_view typed, std::size_t limit) const
{
    std::vector<Entry> out;
    if (!HasOffices()) return out;
    const std::u16string key = PostalKeyDigits(typed);
    const std::int32_t count = dir_.RecordCount(kSlotOfficeIndex);
    const std::optional<FirstKeyMatch> first = FindFirstKey(dir_, kSlotOfficeIndex, 1, count, key);
    if (!first || !first->entry) return out;
    RecordRun run(dir_, kSlotOfficeIndex, first->record);
    for (std::int32_t r = first->record; r <= count && (limit == 0 || out.size() < limit); ++r) {
        const IndexRecord* rec = run.Next();
        if (!rec || std::u16string_view(rec->key).substr(0, key.size()) != key) break;
        out.push_back(OfficeAt(r, rec->entryNumber));
    }
    return out;
}

// --- the area lists -----------------------------------------------------------------------------

std::vector<AreaItem> Lookup::Prefectures() const
{
    std::vector<AreaItem> out;
    for (std::int32_t p = 1; p <= kPrefectureCount; ++p) out.push_back({*PrefectureName(p), p});
    return out;
}

std::vector<AreaItem> Lookup::CitiesOf(std::int32_t prefecture) const
{
    std::vector<AreaItem> out;
    // A number that names no prefecture looks for codes beginning with 00, which lie outside
    // the table.
    const bool known = prefecture >= 1 && prefecture <= kPrefectureCount;
    const std::u16string key = known ? ZeroPad(2, prefecture) : u"00";
    const std::int32_t first = known ? prefecture : kPrefectureCount + 1;
    // The prefecture's cities follow its number in the city table, in code order; codes
    // without a city are skipped, and the first city of another prefecture ends the list. The
    // table is read a thousand codes at a time.
    constexpr std::int32_t kChunk = 1000;
    for (std::int32_t start = first * 1000 + 1; start <= dir_.cityTableSize; start += kChunk) {
        const std::vector<std::optional<std::int32_t>> positions =
            dir_.ReadCityPositions(start, std::min(kChunk, dir_.cityTableSize - start + 1));
        if (positions.empty()) break; // beyond the whole records of the file: no more cities
        for (std::size_t i = 0; i < positions.size(); ++i) {
            if (!positions[i]) continue;
            const std::int32_t code = start + static_cast<std::int32_t>(i);
            const AreaLine line = ReadAreaLine(code, *positions[i], kCityListFields);
            if (std::u16string_view(line.areaCode).substr(0, 2) != key) return out;
            out.push_back({FirstWord(line.name), code});
        }
    }
    return out;
}

TownList Lookup::TownsOf(std::u16string_view cityKey) const
{
    TownList list;
    const IndexRecords records(*this);
    const std::int32_t count = records.RecordCount(KeyIndex::City);
    const FirstMatch m = records.FindFirst(KeyIndex::City, cityKey, 1, count);
    if (m.record != 0) list.firstRecord = m.record;
    if (!m.accepted || cityKey.empty()) return list;
    // The city's entries lie together in the city-code index.
    RecordRun run(dir_, kSlotIndex2, m.record);
    std::vector<std::u16string> f(kDirectoryLineFields + 1);
    for (std::int32_t t = m.record; t <= count; ++t) {
        const IndexRecord* rec = run.Next();
        if (!rec || std::u16string_view(rec->key).substr(0, 5) != cityKey.substr(0, 5)) break;
        dir_.ReadPostalEntry(rec->entryNumber, f);
        if (std::u16string_view(f[2]).substr(0, 5) != cityKey.substr(0, 5)) break;
        list.towns.push_back({FirstWord(f[4]), rec->entryNumber});
    }
    return list;
}

std::vector<AreaItem> Lookup::SubAreasOf(const Entry& town) const
{
    // The entries of one town lie next to each other: walk both ways from the chosen one while
    // the city and the whole town name stay the same.
    std::vector<std::u16string> f(kDirectoryLineFields + 1);
    const auto sameTown = [&](std::int32_t r) {
        dir_.ReadPostalEntry(r, f);
        return f[4] == town.town && f[2] == town.cityCode;
    };
    std::vector<AreaItem> below;
    for (std::int32_t r = town.number - 1; r >= 1 && sameTown(r); --r) below.push_back({FirstWord(f[5]), r});
    std::vector<AreaItem> out(below.rbegin(), below.rend());
    out.push_back({FirstWord(town.detail), town.number});
    for (std::int32_t r = town.number + 1; r <= dir_.entryCount && sameTown(r); ++r)
        out.push_back({FirstWord(f[5]), r});
    return out;
}

} // namespace ubin
