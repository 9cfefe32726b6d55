#include "search/find.h"

#include "base/errors.h"
#include "base/normalize.h"
#include "base/romaji.h"
#include "directory/directory.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iterator>
#include <mutex>
#include <optional>

namespace ubin {

namespace {

// Candidates left after intersecting the rarest lists are checked against the texts.
constexpr std::size_t kCheckBelow = 32;

bool IsDropped(char16_t c) { return c == u'〒' || c == u'-' || c == u'‐' || c == u'−' || c == u'ー'; }

// The digits of a query that is a postal code once 〒, hyphens and dashes are dropped (the
// search form has no blanks and half-width digits); empty when it is not.
std::u16string PostalDigits(std::u16string_view searchForm)
{
    std::u16string digits;
    for (const char16_t c : searchForm) {
        if (IsDropped(c)) continue;
        if (c < u'0' || c > u'9') return {};
        digits.push_back(c);
    }
    return digits.size() >= 3 && digits.size() <= 7 ? digits : std::u16string();
}

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

// A query typed in Latin letters, read as kana: the letters before any number (Ginza 4-chome:
// ginza). None when the query is not romaji.
std::optional<std::u16string> RomajiReading(std::u16string_view searchForm)
{
    std::u16string_view letters = searchForm.substr(0, searchForm.find_first_of(u"0123456789"));
    while (!letters.empty() && letters.back() == u'-') letters.remove_suffix(1);
    const auto latin = [](char16_t c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= 0x00C0 && c <= 0x017F) || c == u'-'
               || c == u'\'' || c == u'’';
    };
    if (letters.empty() || !std::all_of(letters.begin(), letters.end(), latin)) return std::nullopt;
    return KanaFromRomaji(letters);
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

FindRanker::Prefectures PrefectureReadings(const Lookup& lookup)
{
    FindRanker::Prefectures out;
    for (std::int32_t p = 1; p <= kPrefectureCount; ++p)
        out.emplace_back(NameForm(lookup.PrefectureName(p)), SearchForm(lookup.PrefectureKana(p)));
    return out;
}

} // namespace

std::u16string CheckedSearchForm(std::u16string_view query)
{
    const auto tooLong = [](std::size_t length) {
        return QueryError(QueryFault::TooLong, "the query is " + std::to_string(length)
                                                   + " characters long; a search takes at most "
                                                   + std::to_string(kMaxQueryLength));
    };
    // Measured before anything else, so that a query of a megabyte costs no more than this.
    if (query.size() > kMaxTypedQueryLength) throw tooLong(query.size());
    for (std::size_t i = 0; i < query.size(); ++i) {
        const char16_t c = query[i];
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
            char code[8];
            std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
            throw QueryError(QueryFault::ControlCharacter, "the query holds a control character (" + std::string(code)
                                                               + ", character " + std::to_string(i + 1)
                                                               + "); a search takes none");
        }
    }
    std::u16string form = SearchForm(query);
    if (form.size() > kMaxQueryLength) throw tooLong(form.size());
    return form;
}

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

// The address notes, read once at their first use: most queries (postal codes, readings) never
// need them.
struct Finder::Notes {
    std::once_flag once;
    std::unique_ptr<AddressResolver> resolver;
    std::vector<std::uint32_t> docOfEntry; // entry n -> its document
    std::exception_ptr error;
};

Finder::Finder(const Lookup& lookup)
    : lookup_(lookup), index_(lookup.directory().FilePath(kFindIndexFileName), lookup.directory().findIndexSum),
      ranker_(index_, PrefectureReadings(lookup)), notes_(std::make_unique<Notes>())
{
}

const AddressResolver* Finder::Addresses() const
{
    std::call_once(notes_->once, [this] {
        const std::filesystem::path file = lookup_.directory().FilePath(kAddressFileName);
        std::error_code ec;
        if (!std::filesystem::exists(file, ec)) return;
        try {
            notes_->resolver = std::make_unique<AddressResolver>(ReadAddressFile(file));
            notes_->docOfEntry.assign(static_cast<std::size_t>(lookup_.EntryCount()) + 1, 0);
            for (std::uint32_t d = 0; d < index_.DocumentCount(); ++d) {
                const std::uint32_t ref = index_.Ref(d);
                if (!(ref & kFindOfficeBit) && ref < notes_->docOfEntry.size()) notes_->docOfEntry[ref] = d;
            }
        } catch (...) {
            notes_->resolver.reset();
            notes_->error = std::current_exception();
        }
    });
    if (notes_->error) std::rethrow_exception(notes_->error);
    return notes_->resolver.get();
}

std::vector<std::uint32_t> Finder::OfficesAt(const AddressMatch& match) const
{
    std::vector<std::uint32_t> out;
    const AddressResolver* resolver = Addresses();
    if (!resolver || match.number.empty() || match.cityCode == 0) return out;
    // The offices whose name text holds the city and town, with the same numbers after it.
    const std::u16string place = NameForm(resolver->CityName(match.cityCode)) + match.town;
    for (const std::uint32_t d : Holding(false, place)) {
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
    for (const std::int32_t entry : match.entries)
        if (entry > 0 && static_cast<std::size_t>(entry) < notes_->docOfEntry.size())
            found.docs.push_back(notes_->docOfEntry[static_cast<std::size_t>(entry)]);
    for (const std::uint32_t d : OfficesAt(match)) found.docs.push_back(d);
    return found;
}

Finder::~Finder() = default;

std::vector<std::uint32_t> Finder::Holding(bool reading, std::u16string_view text) const
{
    const FindIndex& index = Index();
    const auto textOf = [&](std::uint32_t d) { return reading ? index.ReadText(d) : index.NameText(d); };
    std::vector<std::uint32_t> docs;
    if (text.empty()) return docs;
    if (text.size() == 1) {
        // The lists hold pairs of characters: one character is looked for in the texts.
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

std::vector<std::uint32_t> Finder::ResolveAddress(std::u16string_view q) const
{
    const FindIndex& index = Index();
    // The longest beginning of the query that is an entry's prefecture + city + town or city +
    // town (for a town named 以下に掲載がない場合 also prefecture + city or the city alone).
    for (std::size_t length = q.size(); length >= 2; --length) {
        const std::u16string_view head = q.substr(0, length);
        std::vector<std::uint32_t> docs = Holding(false, head);
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

Finder::Documents Finder::Match(std::u16string_view query) const
{
    const FindIndex& index = Index();
    Documents found;
    const std::u16string q = CheckedSearchForm(query);
    if (q.empty()) return found;
    if (const std::u16string digits = PostalDigits(q); !digits.empty()) {
        // The codes beginning with the digits are one stretch of the documents.
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
    const std::u16string name = FoldName(q);
    if (IsKanaOnly(q)) {
        found.match = FindMatch::Reading;
        found.docs = Union(Holding(true, q), Holding(false, name));
        found.rank = {name, {q}};
        return found;
    }
    if (const std::optional<std::u16string> kana = RomajiReading(q)) {
        // Romaji is a reading; a name written in Latin letters (NTT, JR) is looked for too.
        found.match = FindMatch::Reading;
        found.docs = Holding(false, name);
        for (const std::u16string& form : RomajiForms(*kana)) found.docs = Union(found.docs, Holding(true, form));
        // Ranked by the romaji's key; when nothing is found, names near the reading are offered.
        found.rank = found.docs.empty() ? RankQuery{name, {*kana}} : RankQuery{name, {RomajiKey(*kana)}, true};
        return found;
    }
    found.match = FindMatch::Text;
    found.rank.name = name;
    const AddressResolver* resolver = Addresses();
    if (!resolver) {
        // A folder built before the address notes: the longest known beginning.
        found.docs = Holding(false, name);
        if (found.docs.empty()) {
            found.docs = ResolveAddress(name);
            if (!found.docs.empty()) found.match = FindMatch::Address;
        }
        return found;
    }
    // A written address with a house number or a street is taken as an address when it says
    // more than a bare name; anything else is looked for in the texts first, and read as an
    // address when no text holds it (最上町富沢, 千代田区どこか).
    const bool numbered = std::any_of(name.begin(), name.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; })
                          || name.find(u"通") != std::u16string::npos;
    AddressMatch address;
    if (numbered) {
        address = resolver->Resolve(AddressForm(query));
        // The city's own entries too when the number follows the city itself (いの町1369, the
        // entry いの町の次に番地がくる場合); a name that begins with a city (八王子市立第1中学校)
        // stays a text search.
        const bool numberAfterCity = address.level == AddressLevel::City && !address.number.empty();
        if ((address.level >= AddressLevel::Town || numberAfterCity) && address.specific && !address.entries.empty())
            return AddressDocuments(address);
    }
    found.docs = Holding(false, name);
    if (found.docs.empty()) {
        if (!numbered) address = resolver->Resolve(AddressForm(query));
        if (!address.entries.empty()) return AddressDocuments(address);
    }
    return found;
}

Entry Finder::ReadDocument(std::uint32_t doc, CityMemo* memo) const
{
    const std::uint32_t ref = Index().Ref(doc);
    const auto number = static_cast<std::int32_t>(ref & ~kFindOfficeBit);
    if (ref & kFindOfficeBit) return lookup_.ReadOffice(number, memo);
    Entry e = lookup_.ReadEntry(number, memo);
    AddNote(e);
    return e;
}

void Finder::AddNote(Entry& e) const
{
    if (e.IsOffice()) return;
    const AddressResolver* resolver = Addresses();
    const AddressRecord* r = resolver ? resolver->Record(e.number) : nullptr;
    if (!r) return;
    e.hasNote = true;
    e.noteKind = r->kind;
    // Most towns have no note: their town is the town proper, and nothing is copied.
    if (r->kind == NoteKind::None) return;
    e.townProper = r->town;
    e.noteText = r->kind == NoteKind::Floor ? std::u16string() : r->note;
    e.building = r->building;
    e.floor = r->floorText;
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
    for (const FindRanker::Near& near : ranker_.NearNames(query, kSuggestions)) {
        const Entry e = ReadDocument(near.doc);
        std::u16string name(near.part == FindRanker::NamePart::City     ? std::u16string_view(e.city)
                            : near.part == FindRanker::NamePart::Office ? std::u16string_view(e.office)
                                                                        : e.TownProper());
        if (!name.empty() && std::find(out.begin(), out.end(), name) == out.end()) out.push_back(std::move(name));
    }
    return out;
}

FindResult Finder::Find(std::u16string_view query, std::size_t limit, FindOrder order) const
{
    return Answer(query, limit, order, true);
}

FindResult Finder::Best(std::u16string_view query) const { return Answer(query, 1, FindOrder::Relevance, false); }

FindResult Finder::Answer(std::u16string_view query, std::size_t limit, FindOrder order, bool suggest) const
{
    Documents found = Match(query);
    FindResult r;
    r.match = found.match;
    r.level = found.level;
    r.rest = AsWritten(query, found.rest);
    r.total = found.docs.size();
    const std::size_t n = limit == 0 ? found.docs.size() : std::min(limit, found.docs.size());
    const bool ranked = found.match == FindMatch::Text || found.match == FindMatch::Reading;
    if (order == FindOrder::Relevance && ranked) ranker_.Rank(found.docs, found.rank, n);
    if (r.total == 0) {
        const std::u16string form = SearchForm(query);
        r.symbolsOnly = !form.empty() && !HasNameCharacter(form);
        if (suggest && !r.symbolsOnly && (!found.rank.name.empty() || !found.rank.readings.empty()))
            r.suggestions = Suggestions(found.rank);
    }
    if (found.match == FindMatch::Postal) {
        // A postal code is looked up as every program looks it up; the index gave the count.
        r.results = lookup_.FindByPostal(found.code, {.offices = true, .limit = n});
        for (Entry& e : r.results) AddNote(e);
        return r;
    }
    r.results.reserve(n);
    // Results in code order mostly share their city with the one before.
    CityMemo memo;
    for (std::size_t i = 0; i < n; ++i) r.results.push_back(ReadDocument(found.docs[i], &memo));
    return r;
}

} // namespace ubin
