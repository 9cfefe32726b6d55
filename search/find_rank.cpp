#include "search/find_rank.h"

#include <algorithm>
#include <array>
#include <initializer_list>
#include <mutex>
#include <unordered_map>

namespace ubin {

namespace {

// The reading of 以下に掲載がない場合 in search form: a city's catch-all entry ends with it, and
// what comes before is the reading of its prefecture and city.
constexpr std::u16string_view kRestReading = u"イカニケイサイガナイバアイ";

// Words of a company's legal form, written before or after its name: トヨタ自動車 株式会社 is
// トヨタ自動車 to the people who look for it.
constexpr std::array<std::u16string_view, 8> kLegalForms = {
    u"株式会社", u"有限会社", u"合同会社", u"合資会社", u"合名会社", u"(株)", u"(有)", u"(同)",
};

struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::u16string_view s) const { return std::hash<std::u16string_view>{}(s); }
};
template <class Value>
using TextMap = std::unordered_map<std::u16string, Value, TextHash, std::equal_to<>>;

// A town's name without its note: KEN_ALL writes notes in parentheses after the name, which
// the name form makes half-width.
std::u16string_view Proper(std::u16string_view town) { return town.substr(0, town.find(u'(')); }

std::u16string_view WithoutLegalForm(std::u16string_view office)
{
    for (const std::u16string_view form : kLegalForms) {
        if (office.size() > form.size() && office.starts_with(form)) return office.substr(form.size());
        if (office.size() > form.size() && office.ends_with(form)) return office.substr(0, office.size() - form.size());
    }
    return office;
}

// kCity: a city named by the query without its 市 (名古屋, なごや), which stands before a town of
// that very name elsewhere (成田市名古屋) whatever either's prominence.
enum Tier : std::uint8_t { kCity, kWhole, kBeginning, kAnywhere, kUnmatched };

// How the query matches the best of some names. `folded` compares their romaji keys.
template <class... Names>
Tier TierOf(std::u16string_view q, bool folded, Names... names)
{
    Tier best = kUnmatched;
    for (const std::u16string_view raw : {std::u16string_view(names)...}) {
        if (raw.empty()) continue;
        std::u16string storage;
        std::u16string_view name = raw;
        if (folded) name = storage = RomajiKey(raw);
        if (name == q) return kWhole;
        if (name.starts_with(q)) best = std::min(best, kBeginning);
        else if (name.find(q) != std::u16string_view::npos) best = std::min(best, kAnywhere);
    }
    return best;
}

// The vowel a katakana ends with: 'o' for オ コ ョ ..., 'u' for ウ ク ュ ...; 0 for others.
char VowelOf(char16_t c)
{
    static constexpr std::u16string_view kO = u"ォオコゴソゾトドノホボポモョヨロヲ";
    static constexpr std::u16string_view kU = u"ゥウクグスズツヅヌフブプムュユルヴ";
    if (kO.find(c) != std::u16string_view::npos) return 'o';
    if (kU.find(c) != std::u16string_view::npos) return 'u';
    return 0;
}

// Whether `name` ends with `q`, compared as TierOf compares them.
bool EndsWith(std::u16string_view name, std::u16string_view q, bool folded)
{
    return folded ? RomajiKey(name).ends_with(q) : name.ends_with(q);
}

} // namespace

std::u16string RomajiKey(std::u16string_view kana)
{
    std::u16string out;
    out.reserve(kana.size());
    for (char16_t c : kana) {
        if (c == u'ー') continue;
        if (c == u'ヂ') c = u'ジ';
        else if (c == u'ヅ') c = u'ズ';
        else if (c == u'ヲ') c = u'オ';
        const char before = out.empty() ? 0 : VowelOf(out.back());
        if (c == u'ウ' && before != 0) continue;
        if (c == u'オ' && before == 'o') continue;
        out.push_back(c);
    }
    return out;
}

std::size_t EditDistance(std::u16string_view a, std::u16string_view b)
{
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}


namespace {

// The parts of a document's name text, told by their lengths (the ranking makes one for every
// document it ranks, so it is kept small).
struct NameParts {
    std::u16string_view text;
    std::uint16_t p = 0, c = 0, t = 0; // the lengths of the prefecture, the city and the town
    bool isOffice = false, rest = false;
    std::u16string_view Prefecture() const { return text.substr(0, p); }
    std::u16string_view City() const { return text.substr(p, c); }
    std::size_t CityEnd() const { return std::size_t{p} + c; }
    // The town without its note (none for a city's catch-all entry): told by a scan of its note,
    // so only where it is needed.
    std::u16string_view Town() const { return rest ? std::u16string_view() : Proper(text.substr(CityEnd(), t)); }
    std::u16string_view Place() const { return text.substr(0, CityEnd() + Town().size()); }
    std::u16string_view PrefectureCity() const { return text.substr(0, CityEnd()); }
    // An office's name: what follows its address and the separator.
    std::u16string_view Office() const
    {
        const std::size_t sep = isOffice ? text.find(kFindNameSeparator, CityEnd() + t) : std::u16string_view::npos;
        return sep == std::u16string_view::npos ? std::u16string_view() : text.substr(sep + 1);
    }
    // The city as people name it alone: a ward without its city (大阪市中央区: 中央区), a town or
    // village without its district (夕張郡長沼町: 長沼町); empty when the city has no such part.
    std::u16string_view Ward() const
    {
        const std::u16string_view city = City();
        const std::size_t cut = city.find_last_of(u"市郡");
        return cut == std::u16string_view::npos || cut + 1 >= city.size() ? std::u16string_view() : city.substr(cut + 1);
    }
    // Where the ward's name starts in the text, looked for only when `first` stands in the city
    // after its first character: npos when there is no ward or it cannot begin with `first`.
    std::size_t WardStart(char16_t first) const
    {
        if (c < 2 || City().find(first, 1) == std::u16string_view::npos) return std::u16string_view::npos;
        const std::size_t ward = Ward().size();
        return ward == 0 ? std::u16string_view::npos : CityEnd() - ward;
    }
};

// `text`: false leaves the name's texts empty, for a document whose name the query cannot be in;
// a city's catch-all entry has its text read all the same (its city is what its reading names).
NameParts PartsOf(const FindIndex& index, std::uint32_t doc, bool text = true)
{
    NameParts n;
    const auto parts = index.Parts(doc);
    n.rest = (parts[3] & kFindTownIsRest) != 0;
    n.isOffice = (index.Ref(doc) & kFindOfficeBit) != 0;
    if (!text && !n.rest) return n;
    n.text = index.NameText(doc);
    const std::size_t size = n.text.size();
    n.p = static_cast<std::uint16_t>(std::min<std::size_t>(parts[0], size));
    n.c = static_cast<std::uint16_t>(std::min<std::size_t>(parts[1], size - n.p));
    n.t = static_cast<std::uint16_t>(std::min<std::size_t>(parts[2], size - n.p - n.c));
    return n;
}

// How the query begins the best of some names that all end at one place in `text`, each starting
// at one of `starts` (npos: no such name), as TierOf tells it where a match anywhere counts for
// nothing: kWhole when one of them is the query, kBeginning when one begins with it, else
// kUnmatched. A place's names and their readings end alike (the town, the city and town, the
// whole place), so each is told by its first character before it is compared. The names end at
// `least` or after; `end()` tells where, asked only when the query reaches that far.
template <class End>
Tier BeginsAt(std::u16string_view text, std::u16string_view q, std::initializer_list<std::size_t> starts,
              std::size_t least, End end)
{
    Tier best = kUnmatched;
    std::size_t at = std::u16string_view::npos; // where the names end, once asked
    for (const std::size_t start : starts) {
        if (q.empty() || start >= text.size() || text.size() - start < q.size() || text[start] != q[0]
            || text.compare(start, q.size(), q) != 0)
            continue;
        const std::size_t reach = start + q.size();
        if (reach < least) {
            best = kBeginning;
            continue;
        }
        if (at == std::u16string_view::npos) at = end();
        if (reach == at) return kWhole;
        if (reach < at) best = kBeginning;
    }
    return best;
}
Tier BeginsAt(std::u16string_view text, std::u16string_view q, std::initializer_list<std::size_t> starts, std::size_t end)
{
    return BeginsAt(text, q, starts, end, [end] { return end; });
}

// BeginsAt over a place's names: its town, city and town, whole place, and ward and town; for a
// city's catch-all entry its city, prefecture and city, and ward.
Tier PlaceBeginning(const NameParts& n, std::u16string_view q)
{
    if (q.empty()) return kUnmatched;
    const std::size_t p = n.p, cityEnd = n.CityEnd(), ward = n.WardStart(q[0]);
    if (n.rest) return BeginsAt(n.text, q, {p, 0, ward}, cityEnd);
    return BeginsAt(n.text, q, {cityEnd, p, 0, ward}, cityEnd, [&] { return cityEnd + n.Town().size(); });
}

// The first character a reading keeps under RomajiKey: ー is left out, ヂ ヅ ヲ are ジ ズ オ; 0 for none.
char16_t FirstFolded(std::u16string_view kana)
{
    for (char16_t c : kana) {
        if (c == u'ー') continue;
        return c == u'ヂ' ? u'ジ' : c == u'ヅ' ? u'ズ' : c == u'ヲ' ? u'オ' : c;
    }
    return 0;
}

// BeginsAt of a reading against reading parts of an area entry (the entry matches anywhere
// already), compared as romaji tells them when `folded`: a part whose first character differs
// from the query's is passed over before any key is made.
Tier ReadingBeginsAt(std::u16string_view r, std::size_t end, std::u16string_view q, bool folded,
                     std::initializer_list<std::size_t> starts)
{
    if (!folded) return BeginsAt(r, q, starts, end);
    Tier best = kUnmatched;
    for (const std::size_t start : starts) {
        if (q.empty() || start > end || end > r.size()) continue;
        const std::u16string_view name = r.substr(start, end - start);
        if (FirstFolded(name) == q[0]) best = std::min(best, TierOf(q, true, name));
    }
    return best == kAnywhere ? kUnmatched : best;
}

// Whether a query names a municipality as people name it without its 市, 町 or 村: 名古屋 for
// 名古屋市 and each of its wards, 府中 for 府中市, 長沼 for 夕張郡長沼町.
bool NamesCityWithoutEnding(std::u16string_view city, std::u16string_view q)
{
    if (const std::size_t gun = city.find(u'郡'); gun != std::u16string_view::npos) city.remove_prefix(gun + 1);
    if (q.empty() || city.size() <= q.size() || !city.starts_with(q)) return false;
    const char16_t next = city[q.size()];
    if (city.size() == q.size() + 1) return std::u16string_view(u"市町村").find(next) != std::u16string_view::npos;
    return next == u'市' && city.back() == u'区'; // a ward of the designated city
}

// The same for readings: the city's reading is the query's and the reading of 市, 町 or 村 (シ,
// チョウ, マチ, ムラ, ソン), or for a ward begins with the query and シ.
bool ReadingNamesCity(std::u16string_view cityReading, std::u16string_view city, std::u16string_view q, bool folded)
{
    if (city.find(u'郡') != std::u16string_view::npos || q.empty()) return false;
    std::u16string storage;
    if (folded) cityReading = storage = RomajiKey(cityReading);
    if (cityReading.size() <= q.size() || !cityReading.starts_with(q)) return false;
    const std::u16string_view ending = cityReading.substr(q.size());
    const bool ward = city.back() == u'区' && city.find(u'市') != std::u16string_view::npos;
    if (ward) return ending.starts_with(u"シ");
    for (const std::u16string_view e : {u"シ", u"チョウ", u"マチ", u"ムラ", u"ソン"})
        if (ending == (folded ? std::u16string_view(RomajiKey(e)) : e)) return true;
    return false;
}

// Documents by the prominence of their place, then by number; the place of each.
std::vector<std::uint32_t> OrderOf(const std::vector<std::uint32_t>& prominence)
{
    std::vector<std::uint32_t> docs(prominence.size());
    for (std::uint32_t d = 0; d < docs.size(); ++d) docs[d] = d;
    std::stable_sort(docs.begin(), docs.end(), [&](std::uint32_t a, std::uint32_t b) { return prominence[a] > prominence[b]; });
    std::vector<std::uint32_t> order(docs.size());
    for (std::uint32_t i = 0; i < docs.size(); ++i) order[docs[i]] = i;
    return order;
}

} // namespace

FindRankSections ComputeRankSections(const FindIndex& index, const FindRanker::Prefectures& prefectures)
{
    TextMap<std::size_t> prefectureReading; // its name -> its reading's length
    for (const auto& [name, reading] : prefectures) prefectureReading[name] = reading.size();
    TextMap<std::uint32_t> officesInTown, officesInCity; // prefecture + city (+ town) -> offices there
    TextMap<std::pair<std::uint16_t, std::uint16_t>> cityReading; // prefecture + city -> where its readings end
    const std::uint32_t docs = index.DocumentCount();
    std::uint32_t lastEntry = 0;
    for (std::uint32_t d = 0; d < docs; ++d) {
        const auto flags = index.Parts(d)[3];
        const bool office = index.Ref(d) & kFindOfficeBit;
        if (!office) lastEntry = std::max(lastEntry, index.Ref(d));
        if (!office && !(flags & kFindTownIsRest)) continue;
        const NameParts n = PartsOf(index, d);
        if (office) {
            ++officesInTown[std::u16string(n.Place())];
            ++officesInCity[std::u16string(n.PrefectureCity())];
            continue;
        }
        const std::u16string_view r = index.ReadText(d);
        if (!r.ends_with(kRestReading)) continue;
        const std::size_t cityEnd = r.size() - kRestReading.size();
        const auto p = prefectureReading.find(n.Prefecture());
        const std::size_t prefectureEnd = p == prefectureReading.end() ? 0 : std::min(p->second, cityEnd);
        cityReading[std::u16string(n.PrefectureCity())] = {static_cast<std::uint16_t>(prefectureEnd),
                                                           static_cast<std::uint16_t>(cityEnd)};
    }
    FindRankSections out;
    out.prominence.resize(docs);
    out.splits.resize(docs);
    out.entryDocs.assign(std::size_t{lastEntry} + 1, kNoDocument);
    for (std::uint32_t d = 0; d < docs; ++d) {
        const NameParts n = PartsOf(index, d);
        // A city's catch-all entry stands for the whole city.
        const TextMap<std::uint32_t>& counts = n.rest ? officesInCity : officesInTown;
        const auto it = counts.find(n.rest ? n.PrefectureCity() : n.Place());
        out.prominence[d] = it == counts.end() ? 0 : it->second;
        if (n.isOffice) continue;
        out.entryDocs[index.Ref(d)] = d;
        const std::u16string_view r = index.ReadText(d);
        const auto city = cityReading.find(n.PrefectureCity());
        if (city == cityReading.end() || city->second.second > r.size()) continue;
        const std::size_t ce = city->second.second, te = ce + Proper(r.substr(ce)).size();
        out.splits[d] = {city->second.first, static_cast<std::uint16_t>(ce), static_cast<std::uint16_t>(te), 1};
    }
    out.order = OrderOf(out.prominence);
    return out;
}

FindRanker::FindRanker(const FindIndex& index) : index_(index) {}
FindRanker::~FindRanker() = default;

std::uint32_t FindRanker::Prominence(std::uint32_t doc) const { return index_.Prominence(doc); }

std::uint64_t FindRanker::RankOf(std::uint32_t doc, const RankQuery& q, bool named) const
{
    const NameParts n = PartsOf(index_, doc, named);
    std::uint8_t group = 1;
    Tier tier = kUnmatched;
    const auto better = [&](std::uint8_t g, Tier t) {
        if (t == kUnmatched) return;
        if (g < group || (g == group && t < tier)) {
            group = g;
            tier = t;
        }
    };
    // An area entry matches the name anywhere at least, so only a name or reading that is the
    // query or begins with it can place it higher.
    const bool areaAnywhere = !n.isOffice && !q.name.empty();
    if (!q.name.empty()) {
        // Found by its reading alone: neither its name nor its place's names hold the query.
        if (!named) better(n.isOffice ? 1 : 0, kAnywhere);
        else if (n.isOffice) {
            // The name without its legal form is a part of the name: neither holds a query the
            // name does not.
            const std::u16string_view office = n.Office();
            const Tier named = office.find(q.name) == std::u16string_view::npos
                                   ? kUnmatched
                                   : TierOf(q.name, false, office, WithoutLegalForm(office));
            if (named != kUnmatched) better(0, named);
            else better(1, std::min(PlaceBeginning(n, q.name), kAnywhere));
        } else {
            better(0, kAnywhere);
            better(0, PlaceBeginning(n, q.name));
            // A city named without its 市 stands before a town of that name elsewhere (名古屋).
            if (n.rest && NamesCityWithoutEnding(n.City(), q.name)) better(0, kCity);
        }
    }
    if (!q.readings.empty()) {
        const std::u16string_view r = index_.ReadText(doc);
        const ReadingSplit split = index_.Split(doc);
        for (const std::u16string& reading : q.readings) {
            if (group == 0 && tier <= kWhole) break;
            if (n.isOffice) {
                better(0, TierOf(reading, q.romaji, r));
                continue;
            }
            if (!split.known || split.city > r.size() || split.town > r.size()) {
                if (!areaAnywhere) better(0, TierOf(reading, q.romaji, r) == kUnmatched ? kUnmatched : kAnywhere);
                continue;
            }
            const std::size_t pe = split.prefecture, ce = split.city, te = split.town;
            const std::u16string_view cityReading = r.substr(pe, ce - pe);
            const bool ward = n.rest && !n.Ward().empty() && EndsWith(cityReading, reading, q.romaji);
            if (n.rest && ReadingNamesCity(cityReading, n.City(), reading, q.romaji)) {
                better(0, kCity);
                continue;
            }
            if (ward) {
                better(0, kWhole);
                continue;
            }
            if (areaAnywhere) {
                better(0, n.rest ? ReadingBeginsAt(r, ce, reading, q.romaji, {pe, 0})
                                 : ReadingBeginsAt(r, te, reading, q.romaji, {ce, pe, 0}));
                continue;
            }
            const Tier tier = n.rest ? TierOf(reading, q.romaji, cityReading, r.substr(0, ce))
                                     : TierOf(reading, q.romaji, r.substr(ce, te - ce), r.substr(pe, te - pe), r.substr(0, te));
            better(0, tier == kUnmatched && TierOf(reading, q.romaji, r) != kUnmatched ? kAnywhere : tier);
        }
    }
    return (std::uint64_t{group} << 40) | (std::uint64_t{tier} << 32) | index_.Order(doc);
}

void FindRanker::Rank(std::vector<std::uint32_t>& docs, const RankQuery& query, std::size_t top) const
{
    struct Key {
        std::uint64_t rank;
        std::uint32_t doc;
        bool operator<(const Key& o) const { return rank < o.rank; }
    };
    std::vector<Key> keys;
    keys.reserve(docs.size());
    // Documents come in document order, as the names do: one walk along both tells which are named.
    const std::vector<std::uint32_t>* named = query.named ? &*query.named : nullptr;
    auto next = named ? named->begin() : std::vector<std::uint32_t>::const_iterator();
    for (const std::uint32_t d : docs) {
        bool holds = true;
        if (named) {
            if (next != named->begin() && *(next - 1) >= d) next = std::lower_bound(named->begin(), named->end(), d);
            while (next != named->end() && *next < d) ++next;
            holds = next != named->end() && *next == d;
        }
        keys.push_back({RankOf(d, query, holds), d});
    }
    // The best `top` by a bounded selection (a heap of `top` keys); the rest stay unordered.
    const std::size_t n = top == 0 ? keys.size() : std::min(top, keys.size());
    std::partial_sort(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(n), keys.end());
    for (std::size_t i = 0; i < keys.size(); ++i) docs[i] = keys[i].doc;
}

std::vector<FindRanker::Near> FindRanker::NearNames(const RankQuery& query, std::size_t most) const
{
    // The documents sharing a pair of characters with the query (a pair most documents hold
    // says little and is passed over), or for a short query one of its characters.
    constexpr std::uint32_t kCommonPair = 20000;
    const auto candidates = [&](std::u16string_view q, bool reading) {
        std::vector<std::uint32_t> docs;
        for (std::size_t i = 0; i + 1 < q.size(); ++i) {
            const std::uint32_t g = FindGram(q[i], q[i + 1]);
            const std::uint32_t count = reading ? index_.ReadCount(g) : index_.NameCount(g);
            if (count == 0 || count > kCommonPair) continue;
            const std::vector<std::uint32_t> list = reading ? index_.ReadPostings(g) : index_.NamePostings(g);
            docs.insert(docs.end(), list.begin(), list.end());
        }
        if (docs.empty() && q.size() <= 3) {
            for (std::uint32_t d = 0; d < index_.DocumentCount(); ++d) {
                const std::u16string_view text = reading ? index_.ReadText(d) : index_.NameText(d);
                if (std::any_of(q.begin(), q.end(), [&](char16_t c) { return text.find(c) != std::u16string_view::npos; }))
                    docs.push_back(d);
            }
        }
        std::sort(docs.begin(), docs.end());
        docs.erase(std::unique(docs.begin(), docs.end()), docs.end());
        return docs;
    };
    struct Found {
        std::size_t distance;
        std::uint32_t prominence;
        Near near;
    };
    TextMap<Found> best; // one per distinct name
    const auto consider = [&](std::u16string_view q, std::u16string_view name, std::uint32_t doc, NamePart part) {
        if (name.empty() || name == q) return;
        const std::size_t longest = std::max<std::size_t>(1, q.size() / 3);
        const std::size_t gap = name.size() > q.size() ? name.size() - q.size() : q.size() - name.size();
        if (gap > longest) return;
        const std::size_t distance = EditDistance(q, name);
        if (distance > longest || distance >= q.size()) return;
        const Found found{distance, Prominence(doc), {doc, part}};
        auto [it, added] = best.try_emplace(std::u16string(name), found);
        if (!added && (distance < it->second.distance
                       || (distance == it->second.distance && found.prominence > it->second.prominence)))
            it->second = found;
    };
    if (!query.name.empty()) {
        for (const std::uint32_t d : candidates(query.name, false)) {
            const NameParts n = PartsOf(index_, d);
            if (n.isOffice) {
                consider(query.name, WithoutLegalForm(n.Office()), d, NamePart::Office);
                continue;
            }
            consider(query.name, n.Town(), d, NamePart::Town);
            consider(query.name, n.City(), d, NamePart::City);
        }
    }
    for (const std::u16string& reading : query.readings) {
        for (const std::uint32_t d : candidates(reading, true)) {
            const std::u16string_view r = index_.ReadText(d);
            if (index_.Ref(d) & kFindOfficeBit) {
                consider(reading, r, d, NamePart::Office);
                continue;
            }
            const NameParts n = PartsOf(index_, d);
            const ReadingSplit split = index_.Split(d);
            if (!split.known || split.city > r.size() || split.town > r.size()) continue;
            const std::size_t pe = split.prefecture, ce = split.city;
            if (!n.rest) consider(reading, r.substr(ce, split.town - ce), d, NamePart::Town);
            consider(reading, r.substr(pe, ce - pe), d, NamePart::City);
        }
    }
    std::vector<Found> found;
    for (const auto& [name, f] : best) found.push_back(f);
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        if (a.distance != b.distance) return a.distance < b.distance;
        if (a.prominence != b.prominence) return a.prominence > b.prominence;
        return a.near.doc < b.near.doc;
    });
    std::vector<Near> out;
    for (std::size_t i = 0; i < found.size() && out.size() < most; ++i) out.push_back(found[i].near);
    return out;
}

} // namespace ubin
