#include "search/find.h"

#include "base/errors.h"
#include "base/path_text.h"
#include "base/normalize.h"
#include "base/romaji.h"
#include "directory/address_table.h"
#include "directory/directory.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iterator>
#include <mutex>
#include <numeric>
#include <optional>

namespace ubin {

namespace {

// Candidates left after intersecting the rarest lists are checked against the texts.
constexpr std::size_t kCheckBelow = 32;

std::vector<std::uint32_t> Intersect(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b)
{
    std::vector<std::uint32_t> out;
    std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
    return out;
}

std::vector<std::uint32_t> Union(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b)
{
    std::vector<std::uint32_t> out;
    std::set_union(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
    return out;
}

// The readings romaji may stand for: long vowels spelled or not, and ジ ズ as ヂ ヅ too (the
// directory writes カイヅカ; Hepburn writes it kaizuka). At most kMost.
std::vector<std::u16string> RomajiForms(std::u16string_view kana)
{
    constexpr std::size_t kMost = 128;
    std::vector<std::u16string> forms;
    for (const std::u16string& form : LongVowelForms(kana)) {
        std::vector<std::u16string> spelled{form};
        for (std::size_t i = 0; i < form.size(); ++i) {
            const char16_t other = form[i] == u'ジ' ? u'ヂ' : form[i] == u'ズ' ? u'ヅ' : 0;
            if (other == 0) continue;
            for (std::size_t n = spelled.size(), k = 0; k < n && forms.size() + spelled.size() < kMost; ++k) {
                std::u16string s = spelled[k];
                s[i] = other;
                spelled.push_back(std::move(s));
            }
        }
        for (std::u16string& s : spelled)
            if (forms.size() < kMost) forms.push_back(std::move(s));
    }
    return forms;
}

// Whether reading a text as an address explained all of it: nothing left unread, as far as a
// town (or a number after the city itself), and no number that may be a name's numeral: a number
// written in kanji without a unit (県八: 青森県八戸市 holds it) is no house number for certain.
bool ExplainsWhole(const AddressMatch& address, const Query& query)
{
    const bool numberAfterCity = address.level == AddressLevel::City && !address.number.empty();
    if (!address.rest.empty() || !(address.level >= AddressLevel::Town || numberAfterCity)) return false;
    const bool digits = std::any_of(query.search.begin(), query.search.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; });
    const bool units = std::any_of(address.number.levels.begin(), address.number.levels.end(), [](int l) { return l >= 0; });
    return address.number.empty() || digits || units;
}

// Whether a text plainly reads as a written address: it holds a number or a street (通).
bool Numbered(std::u16string_view name)
{
    return std::any_of(name.begin(), name.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; })
           || name.find(u"通") != std::u16string_view::npos;
}

// Whether a part of an address in Latin letters, as kana, names a municipality or a
// prefecture (チヨダク, ナゴヤシ, トウキョウト, オオサカフ) rather than a town.
bool NamesMunicipality(std::u16string_view kana)
{
    for (const std::u16string_view end : {u"シ", u"ク", u"グン", u"ト", u"フ", u"ケン", u"ドウ"})
        if (kana.size() > end.size() && kana.ends_with(end)) return true;
    return false;
}

// Whether what an address reading left unread begins as a municipality's name ends.
bool BeginsWithCityEnding(std::u16string_view rest)
{
    return !rest.empty() && std::u16string_view(u"市区郡").find(rest.front()) != std::u16string_view::npos;
}

FindRanker::Prefectures PrefectureReadings(const Lookup& lookup)
{
    FindRanker::Prefectures out;
    for (std::int32_t p = 1; p <= kPrefectureCount; ++p)
        out.emplace_back(NameForm(*lookup.PrefectureName(p)), SearchForm(*lookup.PrefectureKana(p)));
    return out;
}

} // namespace

const char* FindMatchName(FindMatch match)
{
    switch (match) {
    case FindMatch::Postal: return "postal";
    case FindMatch::Reading: return "reading";
    case FindMatch::Text: return "text";
    case FindMatch::Address: return "address";
    }
    return "text";
}

// The address tables, mapped at their first use: most queries (postal codes, readings) never
// need them.
struct Finder::Notes {
    std::once_flag once;
    std::optional<AddressTable> table;
    std::unique_ptr<AddressResolver> resolver;
    std::exception_ptr error;
    std::atomic<const AddressTable*> ready{nullptr}; // the table, once it is whole
    // The table, opened at the first call (its header checked); none for a folder without notes.
    const AddressTable* Open(const Lookup& lookup);
};

// The index's checksum, compared at the first search that reads the index.
struct Finder::Checked {
    std::once_flag once;
    std::exception_ptr error;
};

namespace {

platform::MappedFile::Mode ModeOf(const Lookup& lookup, const DirectoryState& dir)
{
    (void)lookup;
    return dir.IsMapped() ? platform::MappedFile::Mode::Map : platform::MappedFile::Mode::Load;
}

} // namespace

Finder::Finder(const Lookup& lookup)
    : lookup_(lookup),
      index_(lookup.directory().FilePath(kFindIndexFileName), ModeOf(lookup, lookup.directory())),
      ranker_(index_), checked_(std::make_unique<Checked>()), notes_(std::make_unique<Notes>())
{
    const DirectoryState& dir = lookup.directory();
    index_.UseManifest(dir.findIndexListed);
    // An index of another build than the files beside it is refused before it answers.
    const std::int64_t offices = dir.IsOpen(kSlotOfficeIndex) ? dir.RecordCount(kSlotOfficeIndex) : 0;
    if (index_.DocumentCount() != lookup.EntryCount() + offices)
        throw DirectoryError(PathToUtf8(index_.file()) + ": lists " + std::to_string(index_.DocumentCount())
                             + " entries and offices, but the directory holds " + std::to_string(lookup.EntryCount() + offices)
                             + ": the file is from another build");
}

const FindIndex& Finder::Index() const
{
    std::call_once(checked_->once, [this] {
        try {
            // An index of the builds before has no ranking sections: they are worked out now.
            if (!index_.HasRankSections()) index_.UseRankSections(ComputeRankSections(index_, PrefectureReadings(lookup_)));
        } catch (...) {
            checked_->error = std::current_exception();
        }
    });
    if (checked_->error) std::rethrow_exception(checked_->error);
    return index_;
}

const AddressTable* Finder::Notes::Open(const Lookup& lookup)
{
    std::call_once(once, [&] {
        const DirectoryState& dir = lookup.directory();
        const std::filesystem::path file = dir.FilePath(kAddressTableFileName);
        const std::filesystem::path notes = dir.FilePath(kAddressFileName);
        std::error_code ec;
        try {
            if (std::filesystem::exists(file, ec)) {
                table.emplace(file, ModeOf(lookup, dir));
                table->UseManifest(dir.addressTableListed);
            } else if (std::filesystem::exists(notes, ec)) {
                // A folder of the builds before: its text notes, laid out as the tables are.
                table.emplace(AddressTableBytes(ReadAddressFile(notes)), notes);
            } else {
                return;
            }
            if (table->RecordCount() != lookup.EntryCount())
                throw DirectoryError(PathToUtf8(table->file()) + ": holds " + std::to_string(table->RecordCount())
                                     + " entries, but the directory holds " + std::to_string(lookup.EntryCount())
                                     + ": the file is from another build");
            resolver = std::make_unique<AddressResolver>(*table);
            ready.store(&*table, std::memory_order_release);
        } catch (...) {
            resolver.reset();
            table.reset();
            error = std::current_exception();
        }
    });
    if (error) std::rethrow_exception(error);
    return ready.load(std::memory_order_acquire);
}

bool Finder::HasAddresses() const { return notes_->Open(lookup_) != nullptr; }

const AddressResolver& Finder::Addresses() const
{
    const AddressTable* table = notes_->Open(lookup_);
    if (!table)
        throw DirectoryError(PathToUtf8(lookup_.FilePath(kAddressTableFileName))
                             + ": the folder has no address tables; build it again with this ubin-build");
    return *notes_->resolver;
}

bool Finder::FilesChanged() const
{
    try {
        CheckUnchanged();
        return false;
    } catch (const DirectoryError&) {
        return true;
    }
}

void Finder::CheckUnchanged() const
{
    index_.CheckUnchanged();
    if (const AddressTable* table = notes_->ready.load(std::memory_order_acquire)) table->CheckUnchanged();
    lookup_.directory().CheckUnchanged();
}

std::vector<std::uint32_t> Finder::OfficesAt(const AddressMatch& match) const
{
    std::vector<std::uint32_t> out;
    if (!HasAddresses() || match.number.empty() || !match.cityCode) return out;
    // The offices whose name text holds the city and town, with the same numbers after it.
    const std::u16string place = NameForm(Addresses().CityName(*match.cityCode).value_or(u"")).str() + match.town;
    for (const std::uint32_t d : Holding(Texts::Names, place)) {
        if (!(index_.Ref(d) & kFindOfficeBit)) continue;
        const std::u16string_view name = index_.NameText(d);
        const auto parts = index_.Parts(d);
        const std::size_t start = parts[0], end = std::size_t{parts[0]} + parts[1] + parts[2];
        if (name.substr(start, end - start) != place) continue;
        const std::size_t sep = name.find(kFindNameSeparator, end);
        std::size_t used = 0;
        const WrittenNumber street = AddressResolver::ReadNumber(name.substr(end, sep == std::u16string_view::npos ? sep : sep - end), used);
        if (street.numbers == match.number.numbers) out.push_back(d);
    }
    return out;
}

Finder::Documents Finder::AddressDocuments(const AddressMatch& match) const
{
    Documents found;
    found.match = FindMatch::Address;
    found.level = match.level;
    found.rest = match.rest;
    found.oldCity = match.oldCity;
    found.spelling = match.spelling;
    for (const std::int32_t entry : match.entries)
        if (const std::uint32_t doc = Index().DocumentOfEntry(entry); doc != kNoDocument) found.docs.push_back(doc);
    for (const std::uint32_t d : OfficesAt(match)) found.docs.push_back(d);
    return found;
}

Finder::~Finder() = default;

std::vector<std::uint32_t> Finder::Holding(Texts texts, std::u16string_view text) const
{
    const FindIndex& index = Index();
    const bool reading = texts == Texts::Readings;
    // The name lists hold the names' pairs in both forms; a text is checked against its own form.
    const auto textOf = [&](std::uint32_t d) {
        return reading ? index.ReadText(d) : texts == Texts::Literal ? index.LiteralText(d) : index.NameText(d);
    };
    std::vector<std::uint32_t> docs;
    if (text.empty()) return docs;
    if (text.size() == 1) {
        if (index.HasSingles()) return reading ? index.ReadPostings(FindSingle(text[0])) : index.NamePostings(FindSingle(text[0]));
        // An index of the builds before lists pairs alone: one character is looked for in the texts.
        for (std::uint32_t d = 0; d < index.DocumentCount(); ++d)
            if (textOf(d).find(text[0]) != std::u16string_view::npos) docs.push_back(d);
        return docs;
    }
    // The pairs of the text, rarest first; a pair no document holds ends the search.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> grams; // (count, gram)
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        const std::uint32_t g = FindGram(text[i], text[i + 1]);
        const std::uint32_t n = reading ? index.ReadCount(g) : index.NameCount(g);
        if (n == 0) return docs;
        grams.emplace_back(n, g);
    }
    std::sort(grams.begin(), grams.end());
    grams.erase(std::unique(grams.begin(), grams.end()), grams.end());
    const auto postings = [&](std::uint32_t g) { return reading ? index.ReadPostings(g) : index.NamePostings(g); };
    docs = postings(grams.front().second);
    for (std::size_t i = 1; i < grams.size() && docs.size() >= kCheckBelow && !docs.empty(); ++i)
        docs = Intersect(docs, postings(grams[i].second));
    // A text of two characters is its pair; a longer one must stand whole in the text.
    if (text.size() > 2)
        std::erase_if(docs, [&](std::uint32_t d) { return textOf(d).find(text) == std::u16string_view::npos; });
    return docs;
}

std::vector<std::uint32_t> Finder::HoldingName(const Query& query) const
{
    std::vector<std::uint32_t> docs = Holding(Texts::Names, query.name);
    // A query with kanji numerals finds the names that hold them as written too (千石町 in 六千石町).
    if (query.literal != query.name) docs = Union(docs, Holding(Texts::Literal, query.literal));
    return docs;
}

std::vector<std::uint32_t> Finder::ResolveAddress(std::u16string_view q) const
{
    const FindIndex& index = Index();
    // The longest beginning of the query that is an entry's prefecture + city + town or city +
    // town (for a town named 以下に掲載がない場合 also prefecture + city or the city alone).
    for (std::size_t length = q.size(); length >= 2; --length) {
        const std::u16string_view head = q.substr(0, length);
        std::vector<std::uint32_t> docs = Holding(Texts::Names, head);
        std::erase_if(docs, [&](std::uint32_t d) {
            if (index.Ref(d) & kFindOfficeBit) return true;
            const std::u16string_view name = index.NameText(d);
            const auto parts = index.Parts(d);
            const std::size_t p = parts[0], c = parts[1], t = parts[2];
            const auto is = [&](std::size_t from, std::size_t n) { return n == length && name.substr(from, n) == head; };
            if (is(0, p + c + t) || is(p, c + t)) return false;
            if ((parts[3] & kFindTownIsRest) && (is(0, p + c) || is(p, c))) return false;
            return true;
        });
        if (!docs.empty()) return docs;
    }
    return {};
}

Finder::Documents Finder::Match(const Query& query) const
{
    const FindIndex& index = Index();
    Documents found;
    switch (query.kind) {
    case QueryKind::Empty: return found;
    case QueryKind::Postal: {
        // The codes beginning with the digits are one stretch of the documents.
        const std::u16string& digits = query.postalDigits;
        std::uint32_t low = 0;
        for (const char16_t c : digits) low = low * 10 + (c - u'0');
        std::uint32_t scale = 1;
        for (std::size_t i = digits.size(); i < 7; ++i) scale *= 10;
        const std::uint32_t first = index.LowerBoundPostal(low * scale);
        const std::uint32_t end = index.LowerBoundPostal((low + 1) * scale);
        found.match = FindMatch::Postal;
        found.code = digits;
        for (std::uint32_t d = first; d < end; ++d) found.docs.push_back(d);
        return found;
    }
    case QueryKind::Kana: {
        found.match = FindMatch::Reading;
        std::vector<std::uint32_t> named = HoldingName(query);
        found.docs = Union(Holding(Texts::Readings, query.search), named);
        found.rank = {query.name, {query.search}, false, std::move(named)};
        return found;
    }
    case QueryKind::Romaji:
        // Romaji is a reading; a name written in Latin letters (NTT, JR) is looked for too.
        found.match = FindMatch::Reading;
        found.docs = HoldingName(query);
        found.rank.named = found.docs;
        for (const std::u16string& form : RomajiForms(query.romaji)) found.docs = Union(found.docs, Holding(Texts::Readings, form));
        // Ranked by the romaji's key; when nothing is found, names near the reading are offered.
        found.rank.name = query.name;
        found.rank.readings = {found.docs.empty() ? query.romaji : RomajiKey(query.romaji)};
        found.rank.romaji = !found.docs.empty();
        return found;
    case QueryKind::RomajiAddress: {
        // Every part is a reading of the address: the documents whose reading holds them all,
        // ranked by each part as a name of its own.
        found.match = FindMatch::Reading;
        found.rank.romaji = true;
        for (std::size_t i = 0; i < query.romajiParts.size(); ++i) {
            std::vector<std::uint32_t> part;
            for (const std::u16string& form : RomajiForms(query.romajiParts[i])) part = Union(part, Holding(Texts::Readings, form));
            found.docs = i == 0 ? std::move(part) : Intersect(found.docs, part);
            if (!NamesMunicipality(query.romajiParts[i])) found.rank.readings.push_back(RomajiKey(query.romajiParts[i]));
            if (found.docs.empty()) break;
        }
        // Ranked by the town's part, which tells 永田町 from the buildings of 永田町 (every part
        // when all of them name a municipality or a prefecture: the city's own entry first).
        if (found.rank.readings.empty())
            for (const std::u16string& p : query.romajiParts) found.rank.readings.push_back(RomajiKey(p));
        return found;
    }
    case QueryKind::Text: break;
    }
    const NameText& name = query.name;
    found.match = FindMatch::Text;
    found.rank.name = name;
    if (!HasAddresses()) {
        // A folder built before the address notes: the longest known beginning.
        found.docs = HoldingName(query);
        if (found.docs.empty()) {
            found.docs = ResolveAddress(name);
            if (!found.docs.empty()) found.match = FindMatch::Address;
        }
        return found;
    }
    // The text read as an address, beside every entry whose address holds the text as written.
    // The reading is taken where it explains the whole text as well as the text match does and
    // was plainly written as an address, with a number or a street (いの町1369, the city's own
    // entry before the office there); elsewhere the entries that hold the text come first
    // (千葉県香取郡, 県八, and 中区上幟 with the offices there).
    const AddressMatch address = Addresses().Resolve(query.address);
    found.docs = HoldingName(query);
    const bool written = Numbered(query.name);
    if (!address.entries.empty() && ExplainsWhole(address, query)
        && ((address.specific && written) || found.docs.empty()))
        return AddressDocuments(address);
    if (!found.docs.empty()) return found;
    // Nothing holds the text: a reading of part of it, unless what it left unread begins with a
    // city's ending (大坂市北区梅田 is no town 大坂 followed by 市北区梅田: a city misspelt).
    if (!address.entries.empty() && !BeginsWithCityEnding(address.rest)) return AddressDocuments(address);
    return found;
}

Entry Finder::ReadDocument(std::uint32_t doc, CityMemo* memo) const
{
    // A number the index does not hold would read as reference 0, which is no entry.
    if (doc >= Index().DocumentCount())
        throw Error(PathToUtf8(Index().file()) + ": holds " + std::to_string(Index().DocumentCount())
                    + " documents; there is no document " + std::to_string(doc));
    const std::uint32_t ref = Index().Ref(doc);
    const auto number = static_cast<std::int32_t>(ref & ~kFindOfficeBit);
    if (ref & kFindOfficeBit) return lookup_.ReadOffice(number, memo);
    Entry e = lookup_.ReadEntry(number, memo);
    AddNote(e);
    return e;
}

std::vector<Entry> Finder::FindPostalEntries(std::u16string_view typed, PostalOptions options) const
{
    if (PostalKeyDigits(typed).empty()) return {};
    std::vector<Entry> entries = lookup_.FindPostalEntries(typed, options);
    for (Entry& e : entries) AddNote(e);
    return entries;
}

void Finder::AddNote(Entry& e) const
{
    if (e.IsOffice()) return;
    // Showing a note needs the records alone, not the tables a written address is read by, and
    // an entry that plainly has none needs no record at all.
    const AddressTable* table = notes_->Open(lookup_);
    if (table && PlainlyWithoutNote(e.town, e.detail)) {
        e.hasNote = true;
        e.noteKind = NoteKind::None;
        return;
    }
    const std::optional<RecordView> r = table ? table->Record(e.number) : std::nullopt;
    if (!r) return;
    e.hasNote = true;
    e.noteKind = r->kind();
    // Most towns have no note: their town is the town proper, and nothing is copied.
    if (e.noteKind == NoteKind::None) return;
    e.townWithoutNote = r->town();
    e.noteText = e.noteKind == NoteKind::Floor ? std::u16string() : std::u16string(r->note());
    e.building = r->building();
    e.floor = r->floorText();
}

namespace {

// What was not used of a query as it was written: the shortest end of the query whose name form
// is `rest` (ぎんざビル, not its name form ギンザビル). Only ends of about the rest's length are
// tried.
std::u16string AsWritten(std::u16string_view query, const std::u16string& rest)
{
    if (rest.empty() || rest.size() > 256) return rest;
    const std::size_t most = std::min(query.size(), rest.size() * 4 + 8);
    for (std::size_t k = 1; k <= most; ++k) {
        const std::u16string_view end = query.substr(query.size() - k);
        if (end.front() == u' ' || end.front() == u'\u3000') continue;
        if (NameForm(end) == rest) return std::u16string(end);
    }
    return rest;
}

// True when a text in search form holds a letter, digit, kana or kanji: something a name or
// a number is written with.
bool HasNameCharacter(std::u16string_view searchForm)
{
    return std::any_of(searchForm.begin(), searchForm.end(), [](char16_t c) {
        return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z')
               || (c >= 0x00C0 && c <= 0x024F) || (c >= 0x3041 && c <= 0x30FA) || c == u'ー' || c == u'々'
               || c == u'〆' || (c >= 0x3400 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xD800 && c <= 0xDBFF);
    });
}

} // namespace

std::vector<std::u16string> Finder::Suggestions(const RankQuery& query) const
{
    constexpr std::size_t kSuggestions = 5;
    std::vector<std::u16string> out;
    // A municipality written one character off (大坂市 for 大阪市) before the rest of an address.
    if (!query.name.empty() && HasAddresses()) out = Addresses().NearCities(query.name);
    for (const FindRanker::Near& near : ranker_.NearNames(query, kSuggestions)) {
        const Entry e = ReadDocument(near.doc);
        std::u16string name(near.part == FindRanker::NamePart::City     ? std::u16string_view(e.city)
                            : near.part == FindRanker::NamePart::Office ? std::u16string_view(e.office)
                                                                        : e.TownProper());
        if (!name.empty() && std::find(out.begin(), out.end(), name) == out.end()) out.push_back(std::move(name));
    }
    if (out.size() > kSuggestions) out.resize(kSuggestions);
    return out;
}

FindResult Finder::Find(std::u16string_view query, std::size_t limit, FindOrder order) const
{
    return Answer(query, limit, order, true);
}

FindResult Finder::Best(std::u16string_view query) const { return Answer(query, 1, FindOrder::Relevance, false); }

FindResult Finder::PostalAnswer(const Query& query, std::size_t limit) const
{
    // A postal code is looked up as every program looks it up, and counted in the postal
    // indexes: the search index is not read at all.
    FindResult r;
    r.match = FindMatch::Postal;
    r.total = lookup_.CountPostal(query.postalDigits);
    r.results = lookup_.FindPostalEntries(query.postalDigits, {.offices = true, .limit = limit == 0 ? r.total : limit});
    for (Entry& e : r.results) AddNote(e);
    return r;
}

namespace {

// What only the finder knows of why it answered as it did (FindResult::reasons).
std::uint32_t EngineReasons(const Query& query, const Finder::Documents& found)
{
    std::uint32_t bits = 0;
    if (found.oldCity) bits |= find_reason::kOldName;
    if (!query.writtenCode.empty()) bits |= find_reason::kCodeBeforeAddress;
    if (query.kind == QueryKind::RomajiAddress) bits |= find_reason::kRomaji;
    switch (found.spelling) {
    case TownSpelling::AsWritten: break;
    case TownSpelling::Variant: bits |= find_reason::kVariantKanji; break;
    case TownSpelling::ChouChou: bits |= find_reason::kChouChou; break;
    case TownSpelling::ChouLeftOut: break; // the batch sees the town spelt otherwise
    }
    return bits;
}

} // namespace

FindResult Finder::Answer(std::u16string_view typed, std::size_t limit, FindOrder order, bool suggest) const
{
    const Query query = Query::Read(typed);
    if (query.kind == QueryKind::Postal) {
        FindResult r = PostalAnswer(query, limit);
        CheckUnchanged();
        return r;
    }
    Documents found = Match(query);
    if (found.docs.empty() && !query.writtenCode.empty()) {
        // An address that finds nothing after its own postal code: the code's entries.
        FindResult r = PostalAnswer(Query::Read(query.writtenCode), limit);
        r.writtenCode = query.writtenCode;
        CheckUnchanged();
        return r;
    }
    FindResult r;
    r.match = found.match;
    r.level = found.level;
    r.rest = AsWritten(query.typed, found.rest);
    r.total = found.docs.size();
    const std::size_t n = limit == 0 ? found.docs.size() : std::min(limit, found.docs.size());
    const bool ranked = found.match == FindMatch::Text || found.match == FindMatch::Reading;
    if (order == FindOrder::Relevance && ranked) ranker_.Rank(found.docs, found.rank, n);
    if (r.total == 0) {
        r.symbolsOnly = !query.search.empty() && !HasNameCharacter(query.search);
        if (suggest && !r.symbolsOnly && (!found.rank.name.empty() || !found.rank.readings.empty()))
            r.suggestions = Suggestions(found.rank);
    }
    // Entries are read in code order, where each mostly shares its city with the one before
    // (CityMemo), and put in the order asked for.
    std::vector<std::size_t> byCode(n);
    std::iota(byCode.begin(), byCode.end(), std::size_t{0});
    std::sort(byCode.begin(), byCode.end(), [&](std::size_t a, std::size_t b) { return found.docs[a] < found.docs[b]; });
    r.results.resize(n);
    CityMemo memo;
    for (const std::size_t i : byCode) r.results[i] = ReadDocument(found.docs[i], &memo);
    r.writtenCode = query.writtenCode;
    r.codeDisagrees = !r.writtenCode.empty() && !r.results.empty() && r.results.front().postalCode != r.writtenCode;
    r.reasons = EngineReasons(query, found);
    if (found.oldCity)
        if (const AddressTable* table = notes_->Open(lookup_)) {
            const AddressOldCity old = table->OldCity(*found.oldCity);
            r.formerMunicipality = old.name;
            r.formerUntil = old.date;
        }
    CheckUnchanged();
    return r;
}

} // namespace ubin
