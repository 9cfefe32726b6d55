#include "search/find_rank.h"

#include <algorithm>
#include <array>
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


struct FindRanker::Key {
    std::uint8_t group = 1;
    std::uint8_t tier = kUnmatched;
    std::uint32_t order = 0; // the document's place by prominence, then number (FindIndex::Order)
    std::uint32_t doc = 0;
    bool operator<(const Key& o) const
    {
        if (group != o.group) return group < o.group;
        if (tier != o.tier) return tier < o.tier;
        return order < o.order;
    }
};

namespace {

// The parts of a document's name text.
struct NameParts {
    std::u16string_view text, prefecture, city, town, office; // town without its note
    bool isOffice = false, rest = false;
    std::u16string_view Place() const { return text.substr(0, prefecture.size() + city.size() + town.size()); }
    std::u16string_view PrefectureCity() const { return text.substr(0, prefecture.size() + city.size()); }
    std::u16string_view CityTown() const { return text.substr(prefecture.size(), city.size() + town.size()); }
    // The city as people name it alone: a ward without its city (大阪市中央区: 中央区), a town or
    // village without its district (夕張郡長沼町: 長沼町); empty when the city has no such part.
    std::u16string_view Ward() const
    {
        const std::size_t cut = city.find_last_of(u"市郡");
        return cut == std::u16string_view::npos || cut + 1 >= city.size() ? std::u16string_view() : city.substr(cut + 1);
    }
    std::u16string_view WardTown() const
    {
        const std::u16string_view ward = Ward();
        return ward.empty() ? ward : text.substr(prefecture.size() + city.size() - ward.size(), ward.size() + town.size());
    }
};

NameParts PartsOf(const FindIndex& index, std::uint32_t doc)
{
    NameParts n;
    n.text = index.NameText(doc);
    const auto parts = index.Parts(doc);
    const std::size_t p = std::min<std::size_t>(parts[0], n.text.size());
    const std::size_t c = std::min<std::size_t>(parts[1], n.text.size() - p);
    const std::size_t t = std::min<std::size_t>(parts[2], n.text.size() - p - c);
    n.prefecture = n.text.substr(0, p);
    n.city = n.text.substr(p, c);
    n.rest = (parts[3] & kFindTownIsRest) != 0;
    n.town = n.rest ? std::u16string_view() : Proper(n.text.substr(p + c, t));
    n.isOffice = (index.Ref(doc) & kFindOfficeBit) != 0;
    if (n.isOffice) {
        const std::size_t sep = n.text.find(kFindNameSeparator);
        if (sep != std::u16string_view::npos) n.office = n.text.substr(sep + 1);
    }
    return n;
}

// How the query matches a place's names (an office's address).
Tier PlaceTier(const NameParts& n, std::u16string_view name)
{
    return n.rest ? TierOf(name, false, n.city, n.PrefectureCity(), n.Ward())
                  : TierOf(name, false, n.town, n.CityTown(), n.Place(), n.WardTown());
}

// How the query begins the best of some names, as TierOf, where a match anywhere counts for
// nothing: kUnmatched unless one of them is the query or begins with it.
template <class... Names>
Tier BeginningTier(std::u16string_view q, Names... names)
{
    Tier best = kUnmatched;
    for (const std::u16string_view name : {std::u16string_view(names)...}) {
        if (name.size() < q.size() || name.empty() || name[0] != q[0] || !name.starts_with(q)) continue;
        if (name.size() == q.size()) return kWhole;
        best = kBeginning;
    }
    return best;
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

// TierOf of a reading against some reading parts of an area entry, where only the query's being
// or beginning a part counts (the entry matches anywhere already): a part whose first character
// differs from the query's is passed over before any key is made.
template <class... Names>
Tier ReadingBeginningTier(std::u16string_view q, bool folded, Names... names)
{
    if (!folded) return BeginningTier(q, names...);
    Tier best = kUnmatched;
    for (const std::u16string_view name : {std::u16string_view(names)...}) {
        if (q.empty() || FirstFolded(name) != q[0]) continue;
        best = std::min(best, TierOf(q, true, name));
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
        const auto p = prefectureReading.find(n.prefecture);
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

FindRanker::Key FindRanker::KeyOf(std::uint32_t doc, const RankQuery& q) const
{
    const NameParts n = PartsOf(index_, doc);
    Key key;
    key.doc = doc;
    key.order = index_.Order(doc);
    const auto better = [&](std::uint8_t group, Tier tier) {
        if (tier == kUnmatched) return;
        if (group < key.group || (group == key.group && tier < key.tier)) {
            key.group = group;
            key.tier = tier;
        }
    };
    // An area entry matches the name anywhere at least, so only a name or reading that is the
    // query or begins with it can place it higher.
    const bool areaAnywhere = !n.isOffice && !q.name.empty();
    if (!q.name.empty()) {
        if (n.isOffice) {
            const Tier named = TierOf(q.name, false, n.office, WithoutLegalForm(n.office));
            if (named != kUnmatched) better(0, named);
            else better(1, std::min(PlaceTier(n, q.name), kAnywhere));
        } else {
            better(0, kAnywhere);
            better(0, n.rest ? BeginningTier(q.name, n.city, n.PrefectureCity(), n.Ward())
                             : BeginningTier(q.name, n.town, n.CityTown(), n.Place(), n.WardTown()));
            // A city named without its 市 stands before a town of that name elsewhere (名古屋).
            if (n.rest && NamesCityWithoutEnding(n.city, q.name)) better(0, kCity);
        }
    }
    if (!q.readings.empty()) {
        const std::u16string_view r = index_.ReadText(doc);
        const ReadingSplit split = index_.Split(doc);
        for (const std::u16string& reading : q.readings) {
            if (key.group == 0 && key.tier <= kWhole) break;
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
            if (n.rest && ReadingNamesCity(cityReading, n.city, reading, q.romaji)) {
                better(0, kCity);
                continue;
            }
            if (ward) {
                better(0, kWhole);
                continue;
            }
            if (areaAnywhere) {
                better(0, n.rest ? ReadingBeginningTier(reading, q.romaji, cityReading, r.substr(0, ce))
                                 : ReadingBeginningTier(reading, q.romaji, r.substr(ce, te - ce), r.substr(pe, te - pe),
                                                        r.substr(0, te)));
                continue;
            }
            const Tier tier = n.rest ? TierOf(reading, q.romaji, cityReading, r.substr(0, ce))
                                     : TierOf(reading, q.romaji, r.substr(ce, te - ce), r.substr(pe, te - pe), r.substr(0, te));
            better(0, tier == kUnmatched && TierOf(reading, q.romaji, r) != kUnmatched ? kAnywhere : tier);
        }
    }
    return key;
}

void FindRanker::Rank(std::vector<std::uint32_t>& docs, const RankQuery& query, std::size_t top) const
{
    std::vector<Key> keys;
    keys.reserve(docs.size());
    for (const std::uint32_t d : docs) keys.push_back(KeyOf(d, query));
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
                consider(query.name, WithoutLegalForm(n.office), d, NamePart::Office);
                continue;
            }
            consider(query.name, n.town, d, NamePart::Town);
            consider(query.name, n.city, d, NamePart::City);
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
