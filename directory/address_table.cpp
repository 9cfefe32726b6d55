#include "directory/address_table.h"

#include "base/checksum.h"
#include "base/errors.h"
#include "base/normalize.h"
#include "base/path_text.h"
#include "base/text.h"

#include <algorithm>
#include <limits>
#include <map>
#include <unordered_map>

namespace ubin {

const std::u16string kAddressTableFileName = u"住所.IDX";

namespace {

// The texts of the file, a name form written once however many rows name it.
class TextPool {
public:
    TextRow Put(std::u16string_view text)
    {
        if (text.empty()) return {};
        const auto [it, added] = seen_.try_emplace(std::u16string(text), TextRow{});
        if (added) it->second = Append(text);
        return it->second;
    }
    // Appended as it is, without looking for it (a record's texts lie together).
    TextRow Append(std::u16string_view text)
    {
        const TextRow row{static_cast<std::uint32_t>(chars_.size()), static_cast<std::uint32_t>(text.size())};
        chars_.insert(chars_.end(), text.begin(), text.end());
        return row;
    }
    std::uint32_t Size() const { return static_cast<std::uint32_t>(chars_.size()); }
    const std::vector<char16_t>& chars() const { return chars_; }

private:
    std::vector<char16_t> chars_;
    std::unordered_map<std::u16string, TextRow> seen_;
};

using Names = std::map<std::u16string, std::vector<std::int32_t>>;

// The name tables as the resolver reads names: a city with and without its 郡, a ward without its
// designated city, the designated city without its ward, the towns and their other forms.
struct NameTables {
    Names tables[static_cast<std::size_t>(NameTable::Count)];
    std::map<std::int32_t, std::vector<std::int32_t>> placeholders;
    std::size_t longestCity = 0, longestTown = 0;

    Names& operator[](NameTable t) { return tables[static_cast<std::size_t>(t)]; }
};

NameTables MakeNameTables(const AddressFile& notes)
{
    NameTables t;
    for (const AddressArea& c : notes.cities) {
        const std::u16string key = NameForm(c.name);
        std::vector<std::u16string> keys{key};
        // 虻田郡倶知安町 is written 倶知安町 as often.
        if (const std::size_t gun = key.find(u'郡'); gun != std::u16string::npos && gun + 1 < key.size())
            keys.push_back(key.substr(gun + 1));
        for (const std::u16string& k : keys) {
            t[NameTable::Cities][k].push_back(c.code);
            t[NameTable::CityVariants][VariantForm(k)].push_back(c.code);
            t.longestCity = std::max(t.longestCity, k.size());
        }
        // A ward of a designated city is written without its city as often (北区梅田 for
        // 大阪市北区梅田), and the city without its ward (横浜市みなとみらい).
        if (const std::size_t shi = key.rfind(u'市'); shi != std::u16string::npos && shi + 2 < key.size() && key.back() == u'区') {
            t[NameTable::Wards][key.substr(shi + 1)].push_back(c.code);
            t[NameTable::Designated][key.substr(0, shi + 1)].push_back(c.code);
        }
    }
    for (std::size_t i = 0; i < notes.records.size(); ++i) {
        const AddressRecord& r = notes.records[i];
        const auto index = static_cast<std::int32_t>(i);
        if (r.townKey.empty()) {
            t.placeholders[r.cityCode].push_back(index);
            continue;
        }
        t[NameTable::Towns][r.townKey].push_back(index);
        t[NameTable::TownVariants][VariantForm(r.townKey)].push_back(index);
        // 岐山通り is written 岐山通 as often (name form: 通リ).
        if (std::u16string key = r.townKey; key.find(u"通リ") != std::u16string::npos) {
            for (std::size_t at = key.find(u"通リ"); at != std::u16string::npos; at = key.find(u"通リ", at)) key.erase(at + 1, 1);
            t[NameTable::TownVariants][VariantForm(key)].push_back(index);
        }
        t.longestTown = std::max(t.longestTown, r.townKey.size());
        // 本町1丁目上: a town whose name holds a 丁目, written 本町1-2 as often.
        if (const std::size_t chome = r.townKey.find(u"丁目"); chome != std::u16string::npos && chome > 0 && IsDigit(r.townKey[chome - 1])) {
            std::size_t digits = chome;
            while (digits > 0 && IsDigit(r.townKey[digits - 1])) --digits;
            if (digits > 0) t[NameTable::ChomeParents].try_emplace(r.townKey.substr(0, digits));
        }
    }
    for (std::size_t i = 0; i < notes.oldCities.size(); ++i) {
        const std::u16string key = NameForm(notes.oldCities[i].name);
        t[NameTable::OldCities][key].push_back(static_cast<std::int32_t>(i));
        // 秩父郡荒川村 is written 荒川村 as often.
        if (const std::size_t gun = key.find(u'郡'); gun != std::u16string::npos && gun + 1 < key.size())
            t[NameTable::OldCities][key.substr(gun + 1)].push_back(static_cast<std::int32_t>(i));
    }
    return t;
}

[[noreturn]] void TooLong(const AddressRecord& r, const char* what)
{
    throw DirectoryError("entry " + std::to_string(r.entry) + ": " + what + " does not fit the address table");
}

std::uint16_t Length16(const AddressRecord& r, std::size_t n)
{
    if (n >= AddressRow::kSameAsTown) TooLong(r, "a text of its note");
    return static_cast<std::uint16_t>(n);
}

} // namespace

std::string AddressTableBytes(const AddressFile& notes)
{
    NameTables names = MakeNameTables(notes);
    TextPool text;
    std::vector<PrefectureRow> prefectures(47);
    for (const AddressArea& p : notes.prefectures)
        if (p.code >= 1 && p.code <= 47) prefectures[static_cast<std::size_t>(p.code - 1)] = {text.Put(p.name), text.Put(NameForm(p.name))};
    std::vector<CityRow> cities;
    for (const AddressArea& c : notes.cities) cities.push_back({c.code, text.Put(c.name), 0});
    std::stable_sort(cities.begin(), cities.end(), [](const CityRow& a, const CityRow& b) { return a.code < b.code; });

    std::vector<AddressRow> records;
    std::vector<ClauseRow> clauses;
    std::vector<NumberRange> excepts;
    records.reserve(notes.records.size());
    for (const AddressRecord& r : notes.records) {
        AddressRow row;
        row.entry = static_cast<std::uint32_t>(r.entry);
        if (r.cityCode < 0 || r.cityCode > std::numeric_limits<std::uint16_t>::max()) TooLong(r, "its municipal code");
        row.cityCode = static_cast<std::uint16_t>(r.cityCode);
        row.kind = static_cast<std::uint8_t>(r.kind);
        if (r.floor < std::numeric_limits<std::int16_t>::min() || r.floor > std::numeric_limits<std::int16_t>::max())
            TooLong(r, "its floor");
        row.floor = static_cast<std::int16_t>(r.floor);
        row.texts = text.Size();
        const bool sameKey = r.townKey == r.town;
        const std::u16string* texts[6] = {&r.town, &r.townKey, &r.building, &r.buildingKey, &r.floorText, &r.note};
        for (int k = 0; k < 6; ++k) {
            if (k == 1 && sameKey) {
                row.lengths[1] = AddressRow::kSameAsTown;
                continue;
            }
            row.lengths[k] = Length16(r, texts[k]->size());
            text.Append(*texts[k]);
        }
        row.clauseFirst = static_cast<std::uint32_t>(clauses.size());
        row.clauseCount = Length16(r, r.clauses.size());
        for (const NoteClause& c : r.clauses) {
            ClauseRow cr;
            cr.kind = static_cast<std::uint8_t>(c.kind);
            cr.key = text.Put(c.key);
            cr.range = c.range;
            cr.exceptFirst = static_cast<std::uint32_t>(excepts.size());
            cr.exceptCount = Length16(r, c.except.size());
            excepts.insert(excepts.end(), c.except.begin(), c.except.end());
            clauses.push_back(cr);
        }
        records.push_back(row);
    }

    std::vector<std::int32_t> values;
    std::vector<NameRow> tables[static_cast<std::size_t>(NameTable::Count)];
    for (std::size_t t = 0; t < std::size(names.tables); ++t)
        for (const auto& [key, list] : names.tables[t]) {
            tables[t].push_back({text.Put(key), static_cast<std::uint32_t>(values.size()), static_cast<std::uint32_t>(list.size())});
            values.insert(values.end(), list.begin(), list.end());
        }
    std::vector<PlaceholderRow> placeholders;
    for (const auto& [city, list] : names.placeholders) {
        placeholders.push_back({city, static_cast<std::uint32_t>(values.size()), static_cast<std::uint32_t>(list.size()), 0});
        values.insert(values.end(), list.begin(), list.end());
    }

    std::vector<OldCityRow> oldCities;
    for (const AddressOldCity& o : notes.oldCities) oldCities.push_back({o.code, o.prefecture, o.date, text.Put(o.name), 0});

    SectionWriter out(kAddressTableMagic, static_cast<std::uint32_t>(records.size()), kAddressSums);
    const std::vector<std::uint32_t> limits{static_cast<std::uint32_t>(names.longestCity), static_cast<std::uint32_t>(names.longestTown)};
    out.Add(limits);
    out.Add(text.chars());
    out.Add(prefectures);
    out.Add(cities);
    out.Add(records);
    out.Add(clauses);
    out.Add(excepts);
    out.Add(values);
    for (const auto& t : tables) out.Add(t);
    out.Add(placeholders);
    out.Add(oldCities);
    return out.Finish();
}

AddressTable::AddressTable(const std::filesystem::path& file, platform::MappedFile::Mode mode) : map_(file, mode)
{
    bytes_ = map_.bytes();
    Read();
}

AddressTable::AddressTable(std::string bytes, const std::filesystem::path& file)
    : memory_(std::move(bytes)), memoryName_(file)
{
    bytes_ = {reinterpret_cast<const unsigned char*>(memory_.data()), memory_.size()};
    Read();
}

AddressTable::AddressTable(AddressTable&&) noexcept = default;
AddressTable::~AddressTable() = default;

const std::filesystem::path& AddressTable::file() const { return memory_.empty() ? map_.path() : memoryName_; }

void AddressTable::Read()
{
    const std::filesystem::path& name = memory_.empty() ? map_.path() : memoryName_;
    if (bytes_.size() < 8 || std::memcmp(bytes_.data(), kAddressTableMagic, 8) != 0)
        throw DirectoryError(PathToUtf8(name) + ": is not an address table of this version (it does not begin with "
                             + kAddressTableMagic + "): build the directory again with ubin-build");
    sections_.emplace(bytes_, name, kAddressSums, SectionHeaderBytes(kAddressSectionCount));
    checks_ = std::make_unique<PartChecks>(kAddressSums);
    const SectionReader& s = *sections_;
    // A table made in memory by this program is not checked again.
    if (memory_.empty()) s.CheckHeader();
    Need(kAddressLimits);
    const auto limits = s.Items<std::uint32_t>(kAddressLimits);
    if (limits.size() != 2) s.Fail("its limits section has the wrong size");
    longestCity_ = limits[0];
    longestTown_ = limits[1];
    text_ = s.Items<char16_t>(kAddressText);
    prefectures_ = s.Items<PrefectureRow>(kAddressPrefectures);
    if (prefectures_.size() != 47) s.Fail("does not hold the 47 prefectures");
    cities_ = s.Items<CityRow>(kAddressCities);
    records_ = s.Items<AddressRow>(kAddressRecords);
    if (records_.size() != s.Count()) s.Fail("holds another number of records than its header says");
    clauses_ = s.Items<ClauseRow>(kAddressClauses);
    excepts_ = s.Items<NumberRange>(kAddressExcepts);
    values_ = s.Items<std::int32_t>(kAddressValues);
    for (std::uint32_t t = 0; t < static_cast<std::uint32_t>(NameTable::Count); ++t) names_[t] = s.Items<NameRow>(kAddressNameTables + t);
    placeholders_ = s.Items<PlaceholderRow>(kAddressPlaceholders);
    oldCities_ = s.Items<OldCityRow>(kAddressOldCities);
}

void AddressTable::Need(std::uint32_t section) const
{
    if (!memory_.empty()) return;
    checks_->Need(section, [&] {
        const SectionReader::Checked c = sections_->CheckedRange(section);
        if (Xxh3OfMappedRange(map_, c.offset, c.size) != c.sum)
            sections_->Fail("section " + std::to_string(section + 1)
                            + " is damaged (its checksum does not match): build the directory again");
    });
}

void AddressTable::NeedAll() const
{
    for (std::uint32_t section = 0; section < kAddressSums; ++section) Need(section);
}

void AddressTable::UseManifest(const std::optional<ManifestFile>& listed)
{
    pieces_.reset();
    // A table laid out in memory from the text notes is not the file the manifest lists.
    if (!memory_.empty() || !listed || listed->pieces.empty()) return;
    if (listed->size != bytes_.size())
        throw DirectoryError(PathToUtf8(file()) + ": holds " + std::to_string(bytes_.size()) + " bytes, but the folder's "
                             + "manifest (MANIFEST.TXT) says " + std::to_string(listed->size)
                             + ": the file is cut short, damaged or from another build");
    pieces_.emplace(PathToUtf8(file()), listed->size, listed->pieceBytes, listed->pieces);
}

void AddressTable::TakeChecked(std::uint32_t section, const void* at, std::size_t bytes) const
{
    if (!pieces_) return Need(section);
    try {
        pieces_->Need(bytes_, at, bytes);
    } catch (const DirectoryError&) {
        // A file cut short under its mapping reads as zeros: say so rather than "damaged".
        CheckUnchanged();
        throw;
    }
}

void AddressTable::CheckUnchanged() const
{
    if (map_.Changed()) throw DirectoryError(PathToUtf8(file()) + ": was cut short or overwritten while in use");
}

std::u16string_view AddressTable::TextOf(std::uint32_t offset, std::uint32_t length) const
{
    if (offset > text_.size() || length > text_.size() - offset) return {};
    Take(kAddressText, text_.data() + offset, length * sizeof(char16_t));
    return {text_.data() + offset, length};
}

std::span<const std::int32_t> AddressTable::ValuesOf(std::uint32_t first, std::uint32_t count) const
{
    if (first > values_.size() || count > values_.size() - first) return {};
    Take(kAddressValues, values_.data() + first, count * sizeof(std::int32_t));
    return values_.subspan(first, count);
}

std::optional<RecordView> AddressTable::Record(std::int32_t entry) const
{
    if (entry < 1 || static_cast<std::size_t>(entry) > records_.size()) return std::nullopt;
    return RecordView(*this, Row(kAddressRecords, records_, static_cast<std::size_t>(entry - 1)));
}

std::optional<std::u16string_view> AddressTable::PrefectureName(std::int32_t code) const
{
    if (code < 1 || code > 47) return std::nullopt;
    return TextOf(Row(kAddressPrefectures, prefectures_, static_cast<std::size_t>(code - 1)).name);
}

std::optional<std::u16string_view> AddressTable::PrefectureKey(std::int32_t code) const
{
    if (code < 1 || code > 47) return std::nullopt;
    return TextOf(Row(kAddressPrefectures, prefectures_, static_cast<std::size_t>(code - 1)).key);
}

std::span<const CityRow> AddressTable::Cities() const
{
    Take(kAddressCities, cities_.data(), cities_.size_bytes());
    return cities_;
}

std::optional<std::u16string_view> AddressTable::CityName(std::int32_t code) const
{
    const auto cities = Cities();
    const auto it = std::lower_bound(cities.begin(), cities.end(), code, [](const CityRow& r, std::int32_t c) { return r.code < c; });
    if (it == cities.end() || it->code != code) return std::nullopt;
    return TextOf(it->name);
}

std::optional<std::span<const std::int32_t>> AddressTable::Find(NameTable table, std::u16string_view key) const
{
    const auto rows = Rows(table);
    const std::uint32_t section = kAddressNameTables + static_cast<std::uint32_t>(table);
    // Each row the search looks at is checked before it is compared.
    const auto it = std::lower_bound(rows.begin(), rows.end(), key, [&](const NameRow& r, std::u16string_view k) {
        Take(section, &r, sizeof r);
        return TextOf(r.key) < k;
    });
    if (it == rows.end()) return std::nullopt;
    Take(section, &*it, sizeof *it);
    if (TextOf(it->key) != key) return std::nullopt;
    return ValuesOf(it->first, it->count);
}

std::vector<NameHit> AddressTable::Beginnings(NameTable table, std::u16string_view text, std::size_t longest) const
{
    const auto rows = Rows(table);
    const std::uint32_t section = kAddressNameTables + static_cast<std::uint32_t>(table);
    const auto row = [&](std::size_t r) -> const NameRow& { return Row(section, rows, r); };
    std::vector<NameHit> hits;
    // Every row of [lo, hi) begins with the first i characters of the text; the one that is
    // just those characters sorts first.
    std::size_t lo = 0, hi = rows.size();
    const std::size_t end = std::min(text.size(), longest);
    for (std::size_t i = 0;; ++i) {
        if (lo < hi && TextOf(row(lo).key).size() == i) {
            if (i > 0) hits.push_back({i, ValuesOf(row(lo).first, row(lo).count)});
            ++lo;
        }
        if (i == end || lo == hi) return hits;
        const char16_t c = text[i];
        const auto at = [&](std::size_t r) {
            const std::u16string_view k = TextOf(row(r).key);
            return k.size() > i ? k[i] : char16_t{0};
        };
        std::size_t a = lo, b = hi;
        while (a < b) { // the first row whose character i is not below c
            const std::size_t m = a + (b - a) / 2;
            if (at(m) < c) a = m + 1;
            else b = m;
        }
        lo = a;
        b = hi;
        while (a < b) { // the first row whose character i is above c
            const std::size_t m = a + (b - a) / 2;
            if (at(m) <= c) a = m + 1;
            else b = m;
        }
        hi = a;
    }
}

std::span<const std::int32_t> AddressTable::Placeholders(std::int32_t city) const
{
    Take(kAddressPlaceholders, placeholders_.data(), placeholders_.size_bytes());
    const auto it = std::lower_bound(placeholders_.begin(), placeholders_.end(), city,
                                     [](const PlaceholderRow& r, std::int32_t c) { return r.city < c; });
    return it != placeholders_.end() && it->city == city ? ValuesOf(it->first, it->count) : std::span<const std::int32_t>();
}

AddressOldCity AddressTable::OldCity(std::int32_t index) const
{
    if (index < 0 || index >= OldCityCount()) return {};
    const OldCityRow& r = Row(kAddressOldCities, oldCities_, static_cast<std::size_t>(index));
    return {r.code, r.prefecture, r.date, std::u16string(TextOf(r.name))};
}

NoteKind RecordView::kind() const
{
    return row_->kind <= static_cast<std::uint8_t>(NoteKind::Plain) ? static_cast<NoteKind>(row_->kind) : NoteKind::Plain;
}

std::u16string_view RecordView::Text(int which) const
{
    std::uint32_t at = row_->texts;
    for (int k = 0; k < which; ++k) at += k == 1 && row_->lengths[1] == AddressRow::kSameAsTown ? 0 : row_->lengths[k];
    return table_->TextOf(at, row_->lengths[which]);
}

std::size_t RecordView::ClauseCount() const
{
    const std::size_t total = table_->clauses_.size();
    return row_->clauseFirst <= total && row_->clauseCount <= total - row_->clauseFirst ? row_->clauseCount : 0;
}

ClauseView RecordView::Clause(std::size_t i) const
{
    return {*table_, table_->Row(kAddressClauses, table_->clauses_, row_->clauseFirst + i)};
}

AddressRecord RecordView::Copy() const
{
    AddressRecord r;
    r.entry = entry();
    r.cityCode = cityCode();
    r.kind = kind();
    r.town = town();
    r.townKey = townKey();
    r.building = building();
    r.buildingKey = buildingKey();
    r.floor = floor();
    r.floorText = floorText();
    r.note = note();
    for (std::size_t i = 0; i < ClauseCount(); ++i) r.clauses.push_back(Clause(i).Copy());
    return r;
}

std::u16string_view ClauseView::key() const { return table_->TextOf(row_->key); }

std::span<const NumberRange> ClauseView::except() const
{
    const auto all = table_->excepts_;
    if (row_->exceptFirst > all.size() || row_->exceptCount > all.size() - row_->exceptFirst) return {};
    table_->Take(kAddressExcepts, all.data() + row_->exceptFirst, row_->exceptCount * sizeof(NumberRange));
    return all.subspan(row_->exceptFirst, row_->exceptCount);
}

NoteClause ClauseView::Copy() const
{
    NoteClause c;
    c.kind = kind();
    c.key = key();
    c.range = range();
    c.except.assign(except().begin(), except().end());
    return c;
}

} // namespace ubin
