#include "search/address.h"

#include "base/normalize.h"
#include "base/text.h"
#include "search/find_rank.h"

#include <algorithm>
#include <optional>
#include <utility>

namespace ubin {

namespace {

// The longest old municipality name looked for, 郡 included.
constexpr std::size_t kLongestOldCity = 24;

// Scores of an entry for what was written, highest first.
constexpr double kFloorMatch = 5;    // the building and its floor
constexpr double kBuildingMatch = 4; // the building, no floor or one it does not list
constexpr double kDecided = 3;       // a note that covers what was written
constexpr double kTownDefault = 2;   // その他, 次のビルを除く, a town without a note
constexpr double kUndecided = 1;     // a note that needs what was not written
constexpr double kRefused = 0;       // a note that holds something else

constexpr std::u16string_view kTurns[] = {u"上ル", u"下ル", u"東入", u"西入"};

int Below(int level) { return level == kLevelChiwari || level == kLevelChome ? kLevelBanchi : kLevelGo; }

bool StartsWith(std::u16string_view s, std::u16string_view start) { return s.substr(0, start.size()) == start; }

int TopLevel(const HouseNumber& n)
{
    for (int l = 0; l < kNumberLevels; ++l)
        if (n[static_cast<std::size_t>(l)] != kNoNumber) return l;
    return kNumberLevels;
}

enum class Order { Less, Equal, Greater, Unknown };

// The number against a bound, part by part over the parts the bound gives.
Order Compare(const HouseNumber& n, const HouseNumber& bound)
{
    for (std::size_t l = 0; l < kNumberLevels; ++l) {
        if (bound[l] == kNoNumber) continue;
        if (n[l] == kNoNumber) return Order::Unknown;
        if (n[l] != bound[l]) return n[l] < bound[l] ? Order::Less : Order::Greater;
    }
    return Order::Equal;
}

enum class Held { Yes, No, Unknown };

Held InRange(const HouseNumber& n, const NumberRange& r)
{
    const bool openLow = TopLevel(r.low) == kNumberLevels, openHigh = TopLevel(r.high) == kNumberLevels;
    const Order low = openLow ? Order::Greater : Compare(n, r.low);
    const Order high = openHigh ? Order::Less : Compare(n, r.high);
    if (low == Order::Less || high == Order::Greater) return Held::No;
    if (low == Order::Unknown || high == Order::Unknown) return Held::Unknown;
    return Held::Yes;
}

Held Holds(const WrittenNumber& written, const NumberRange& range, std::span<const NumberRange> except)
{
    const int top = std::min(TopLevel(range.low), TopLevel(range.high));
    if (top == kNumberLevels) return Held::Yes; // no number: a name alone
    const HouseNumber n = written.As(top);
    const Held held = InRange(n, range);
    if (held != Held::Yes) return held;
    for (const NumberRange& e : except)
        if (InRange(n, e) == Held::Yes) return Held::No;
    return Held::Yes;
}

// Where a run of street turns (下ル東入) ends, when the text from `at` holds one; npos when not.
std::size_t StreetEnd(std::u16string_view text, std::size_t at)
{
    std::size_t first = std::u16string_view::npos;
    for (const std::u16string_view turn : kTurns) first = std::min(first, text.find(turn, at));
    if (first == std::u16string_view::npos) return first;
    std::size_t end = first + 2;
    for (bool more = true; more;) {
        more = false;
        for (const std::u16string_view turn : kTurns)
            if (text.substr(end, turn.size()) == turn) {
                end += turn.size();
                more = true;
            }
    }
    return end;
}

// A floor written after a building: 30階, 30F, 地下1階, B1F, 地階, also after a few words
// (（高層棟）5階, オフィスタワー5F). kFloorUnknown for a basement; none when no floor is written.
std::optional<std::int32_t> ReadFloor(std::u16string_view text)
{
    for (std::size_t skip = 0; skip <= std::min<std::size_t>(text.size(), 12); ++skip) {
        const std::u16string_view t = text.substr(skip);
        if (StartsWith(t, u"地階") || StartsWith(t, u"地下") || (StartsWith(t, u"B") && t.size() > 1 && IsDigit(t[1])))
            return kFloorUnknown;
        std::int32_t n = 0;
        std::size_t digits = 0;
        while (digits < t.size() && IsDigit(t[digits]) && digits < 4) n = n * 10 + (t[digits++] - u'0');
        if (digits > 0 && digits < t.size() && (t[digits] == u'階' || t[digits] == u'F')) return n;
        if (digits > 0) return std::nullopt; // a number that is no floor (a room)
    }
    return std::nullopt;
}

// Whether a place name written in `text` plainly ends at `at`: at the end, a number (甲 乙 丙
// 丁 before one are lot prefixes: 下宿乙1185), or 字 / 大字 and a further name.
bool NameEndsAt(std::u16string_view text, std::size_t at)
{
    const std::u16string_view after = text.substr(at);
    if (after.empty() || IsDigit(after[0]) || after[0] == u'字' || after[0] == u'第' || after[0] == kNumberBreak
        || StartsWith(after, u"大字"))
        return true;
    return after.size() > 1 && std::u16string_view(u"甲乙丙丁").find(after[0]) != std::u16string_view::npos && IsDigit(after[1]);
}

// The text with a number written right at `at` in the short form (1-4-28) or as 1丁目
// rewritten to N丁目 and what follows it (1丁目4-28); empty when no such number stands there.
std::u16string ChomeTownForm(std::u16string_view text, std::size_t at)
{
    std::size_t i = at;
    while (i < text.size() && IsDigit(text[i]) && i - at < 4) ++i;
    if (i == at || (i < text.size() && IsDigit(text[i]))) return {};
    const std::u16string_view number = text.substr(at, i - at);
    if (StartsWith(text.substr(i), u"丁目")) i += 2;
    else if (i < text.size() && text[i] == u'-') ++i;
    else if (i < text.size()) return {};
    std::u16string out(text.substr(0, at));
    out.append(number).append(u"丁目").append(text.substr(i));
    return out;
}

// The text with 北1西2 at `at` (a grid town and its 丁目 without 条 and 丁目) written as
// 北1条西2丁目; empty when no such form stands there.
std::u16string GridTownForm(std::u16string_view text, std::size_t at)
{
    constexpr std::u16string_view kSides = u"北南東西";
    const auto number = [&](std::size_t from) {
        std::size_t i = from;
        while (i < text.size() && IsDigit(text[i]) && i - from < 3) ++i;
        return i;
    };
    if (at >= text.size() || kSides.find(text[at]) == std::u16string_view::npos) return {};
    const std::size_t first = number(at + 1);
    if (first == at + 1 || first >= text.size() || kSides.find(text[first]) == std::u16string_view::npos) return {};
    const std::size_t second = number(first + 1);
    if (second == first + 1 || (second < text.size() && IsDigit(text[second]))) return {};
    std::u16string out(text.substr(0, first));
    out.append(u"条").append(text.substr(first, second - first)).append(u"丁目");
    std::size_t rest = second;
    if (rest < text.size() && (text[rest] == u'-' || text[rest] == kNumberBreak)) ++rest;
    return out.append(text.substr(rest));
}

// The text from `at` with every 町 after a number or 番 written 丁 and every such 丁 written 町;
// empty when it holds none.
std::u16string SwappedChoTei(std::u16string_view text, std::size_t at)
{
    std::u16string out(text);
    bool any = false;
    for (std::size_t i = std::max<std::size_t>(at, 1); i < out.size(); ++i) {
        if (out[i] != u'町' && out[i] != u'丁') continue;
        if (!IsDigit(out[i - 1]) && out[i - 1] != u'番') continue;
        out[i] = out[i] == u'町' ? u'丁' : u'町';
        any = true;
    }
    return any ? out : std::u16string();
}

std::u16string ShortPrefecture(std::u16string_view name)
{
    if (name.size() > 2 && (name.back() == u'都' || name.back() == u'府' || name.back() == u'県'))
        return std::u16string(name.substr(0, name.size() - 1));
    return {};
}

} // namespace

const char* AddressLevelName(AddressLevel level)
{
    switch (level) {
    case AddressLevel::None: return "none";
    case AddressLevel::Prefecture: return "prefecture";
    case AddressLevel::City: return "city";
    case AddressLevel::Town: return "town";
    case AddressLevel::Number: return "number";
    }
    return "none";
}

HouseNumber WrittenNumber::As(int top) const
{
    HouseNumber n = kNoHouseNumber;
    int level = -1;
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        level = levels[i] >= 0 ? levels[i] : level < 0 ? top : Below(level);
        if (level >= kNumberLevels) break;
        if (n[static_cast<std::size_t>(level)] == kNoNumber) n[static_cast<std::size_t>(level)] = numbers[i];
    }
    return n;
}

WrittenNumber AddressResolver::ReadNumber(std::u16string_view text, std::size_t& used)
{
    WrittenNumber w;
    std::size_t i = 0;
    used = 0;
    for (;;) {
        std::size_t j = i;
        if (j < text.size() && text[j] == u'第') ++j;
        if (j >= text.size() || !IsDigit(text[j])) break;
        std::int32_t n = 0;
        std::size_t digits = 0;
        while (j < text.size() && IsDigit(text[j])) {
            if (digits++ < 8) n = n * 10 + (text[j] - u'0');
            ++j;
        }
        int level = -1;
        for (const auto& [unit, l] : {std::pair{std::u16string_view(u"丁目"), kLevelChome}, {u"番地", kLevelBanchi},
                                      {u"地割", kLevelChiwari}, {u"丁", kLevelChome}, {u"番", kLevelBanchi},
                                      {u"号", kLevelGo}})
            if (text.substr(j, unit.size()) == unit) {
                level = l;
                j += unit.size();
                break;
            }
        // 30階 is a floor, not a house number.
        if (level < 0 && j < text.size() && (text[j] == u'階' || text[j] == u'F')) break;
        w.numbers.push_back(n);
        w.levels.push_back(level);
        i = used = j;
        // What joins the next number: a dash, ノ after a unit (1番地の2), or nothing after a unit.
        if (i + 1 < text.size() && (text[i] == u'-' || (level >= 0 && text[i] == u'ノ')) && (IsDigit(text[i + 1]) || text[i + 1] == u'第'))
            ++i;
        // After 号, the last part, a digit begins something else (1号6本木ヒルズ).
        else if (!(level >= 0 && level != kLevelGo && i < text.size() && IsDigit(text[i])))
            break;
    }
    // A dash left after the number (1-2-3-) is part of it.
    if (!w.empty() && used < text.size() && text[used] == u'-') ++used;
    return w;
}

AddressResolver::AddressResolver(const AddressTable& table) : table_(table) {}

std::optional<AddressRecord> AddressResolver::Record(std::int32_t entry) const
{
    const auto r = table_.Record(entry);
    if (!r) return std::nullopt;
    return r->Copy();
}

std::optional<std::u16string> AddressResolver::CityName(std::int32_t code) const
{
    if (const auto name = table_.CityName(code)) return std::u16string(*name);
    return std::nullopt;
}

std::optional<std::u16string> AddressResolver::PrefectureName(std::int32_t code) const
{
    if (const auto name = table_.PrefectureName(code)) return std::u16string(*name);
    return std::nullopt;
}

std::vector<std::u16string> AddressResolver::NearCities(std::u16string_view text) const
{
    // The text's municipality: up to the first character a municipality's name ends with.
    const std::size_t end = text.find_first_of(u"市区町村");
    if (end == std::u16string_view::npos || end < 1) return {};
    const std::u16string_view head = text.substr(0, end + 1);
    const std::u16string_view rest = text.substr(head.size());
    // Written exactly, it is no misspelling.
    if (table_.Find(NameTable::Cities, head) || table_.Find(NameTable::Designated, head)) return {};
    // The entries of a municipality lie together: its size is where they begin and end.
    const auto size = [&](std::int32_t code) {
        std::int32_t low = 0, high = table_.RecordCount();
        const auto first = [&](std::int32_t c) {
            std::int32_t a = low, b = high;
            while (a < b) {
                const std::int32_t m = a + (b - a) / 2;
                if (table_.RecordAt(m).cityCode() < c) a = m + 1;
                else b = m;
            }
            return a;
        };
        return first(code + 1) - first(code);
    };
    std::vector<std::pair<std::u16string, std::int32_t>> found; // as written, entries
    for (const CityRow& c : table_.Cities()) {
        const std::u16string written(*table_.CityName(c.code)); // a city of the table has its name
        const std::u16string key = NameForm(written);
        std::vector<std::pair<std::u16string, std::u16string>> forms{{key, written}}; // name form, as written
        if (const std::size_t gun = key.find(u'郡'); gun != std::u16string::npos)
            forms.emplace_back(key.substr(gun + 1), written.substr(written.find(u'郡') + 1));
        if (const std::size_t shi = key.rfind(u'市'); shi != std::u16string::npos && shi + 1 < key.size())
            forms.emplace_back(key.substr(0, shi + 1), written.substr(0, written.rfind(u'市') + 1));
        for (const auto& pair : forms) {
            const std::u16string& form = pair.first;
            const std::u16string& name = pair.second; // a plain reference: lambdas take no structured binding in clang 14
            if (form.size() != head.size() || EditDistance(form, head) != 1) continue;
            // With an address after it, the name must make that address one of the directory's.
            if (!rest.empty() && Resolve(form + std::u16string(rest)).level < AddressLevel::Town) continue;
            const auto it = std::find_if(found.begin(), found.end(), [&](const auto& f) { return f.first == name; });
            if (it == found.end()) found.emplace_back(name, size(c.code));
            else it->second += size(c.code);
        }
    }
    // The largest first: 大阪市 before 大崎市 for 大坂市.
    std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    constexpr std::size_t kMost = 3;
    std::vector<std::u16string> out;
    for (std::size_t i = 0; i < found.size() && i < kMost; ++i) out.push_back(found[i].first);
    return out;
}

std::vector<AddressResolver::Start> AddressResolver::Prefectures(std::u16string_view text) const
{
    std::vector<Start> starts;
    for (std::int32_t code = 1; code <= 47; ++code) {
        const std::u16string_view key = *table_.PrefectureKey(code);
        if (!key.empty() && StartsWith(text, key)) starts.push_back({code, key.size()});
        else if (const std::u16string s = ShortPrefecture(key); !s.empty() && StartsWith(text, s))
            starts.push_back({code, s.size(), true});
    }
    starts.push_back({0, 0});
    return starts;
}

AddressResolver::CityHits AddressResolver::Cities(std::u16string_view text, std::size_t at,
                                                                          std::int32_t prefecture) const
{
    CityHits found;
    // Longest first; at one length a city's own name before a ward named without its city
    // (東京都北区 before 大阪市北区 for 北区).
    const auto look = [&](std::initializer_list<NameTable> tables, std::u16string_view from) {
        std::vector<std::vector<NameHit>> hits;
        for (const NameTable t : tables) hits.push_back(table_.Beginnings(t, from, table_.LongestCity()));
        std::vector<std::size_t> next; // per table, the hits not yet taken (taken from the longest)
        for (const auto& h : hits) next.push_back(h.size());
        for (std::size_t n = std::min(table_.LongestCity(), from.size()); n > 0; --n) {
            std::size_t k = 0;
            for (const NameTable t : tables) {
                std::vector<NameHit>& h = hits[k];
                std::size_t& i = next[k++];
                if (i == 0 || h[i - 1].length != n) continue;
                const NameHit hit = h[--i];
                // 京都市 stands for its wards only where no ward was written (京都市上京区...).
                if (t == NameTable::Designated && !found.empty()) continue;
                for (const std::int32_t code : hit.values)
                    if (prefecture == 0 || code / 1000 == prefecture) found.push_back({code, at + n, std::nullopt});
            }
        }
    };
    const std::u16string_view from = text.substr(at);
    look({NameTable::Cities, NameTable::Wards, NameTable::Designated}, from);
    // The variant form decides only when the exact form names no city (鹿嶋市 is not 鹿島市).
    if (found.empty()) look({NameTable::CityVariants}, VariantForm(from));
    // A municipality others replaced (岩槻市, 秩父郡荒川村) stands for the one that holds its towns
    // today, after the cities of today.
    const std::vector<NameHit> old = table_.Beginnings(NameTable::OldCities, from, kLongestOldCity);
    for (auto it = old.rbegin(); it != old.rend(); ++it)
        for (const std::int32_t i : it->values) {
            const AddressOldCity o = table_.OldCity(i);
            if (o.code != 0 && (prefecture == 0 || o.prefecture == prefecture)) found.push_back({o.code, at + it->length, i});
        }
    return found;
}

AddressResolver::TownHit AddressResolver::TownAt(std::u16string_view text, std::size_t at, std::int32_t city,
                                                 std::int32_t prefecture) const
{
    const auto fits = [&](std::int32_t record) {
        if (record < 0 || record >= table_.RecordCount()) return false;
        const std::int32_t code = table_.RecordAt(record).cityCode();
        return city != 0 ? code == city : prefecture == 0 || code / 1000 == prefecture;
    };
    const auto look = [&](NameTable table, std::u16string_view from, std::size_t start) {
        TownHit hit, runOn;
        const std::vector<NameHit> names = table_.Beginnings(table, from, table_.LongestTown());
        for (auto it = names.rbegin(); it != names.rend() && hit.records.empty(); ++it) {
            const std::size_t n = it->length;
            // A town ending in a digit is not the beginning of a longer number (北1 in 北12条),
            // unless no other town fits (浦臼第１ then 1-2).
            TownHit& into = IsDigit(from[n - 1]) && n < from.size() && IsDigit(from[n]) ? runOn : hit;
            if (!into.records.empty()) continue;
            for (const std::int32_t r : it->values)
                if (fits(r)) into.records.push_back(r);
            into.end = start + n;
        }
        return hit.records.empty() ? runOn : hit;
    };
    // 大字 and 字 may be written before a town; KEN_ALL leaves them out.
    std::vector<std::size_t> starts{at};
    if (StartsWith(text.substr(at), u"大字")) starts.push_back(at + 2);
    else if (StartsWith(text.substr(at), u"字")) starts.push_back(at + 1);
    TownHit best;
    for (const std::size_t s : starts) {
        TownHit exact = look(NameTable::Towns, text.substr(s), s);
        if (!exact.records.empty()) {
            best = std::move(exact);
            best.oaza = s == at + 2;
            break;
        }
    }
    // The old or common form of a kanji decides only where it matches more than the exact form.
    for (const std::size_t s : starts) {
        TownHit variant = look(NameTable::TownVariants, VariantForm(text.substr(s)), s);
        if (!variant.records.empty() && variant.end > best.end) {
            best = std::move(variant);
            best.oaza = s == at + 2;
            best.spelling = TownSpelling::Variant;
        }
    }
    // 大字 or 字 written inside the town's name (一箕町大字八幡, 鳴子温泉字鷲ノ巣 for KEN_ALL's
    // 一箕町八幡, 鳴子温泉鷲ノ巣).
    {
        std::u16string stripped;
        std::vector<std::size_t> positions; // of each character of `stripped` in text
        for (std::size_t k = at; k < text.size();) {
            const std::size_t skip = StartsWith(text.substr(k), u"大字") ? 2 : text[k] == u'字' ? 1 : 0;
            if (skip > 0) {
                k += skip;
                continue;
            }
            stripped.push_back(text[k]);
            positions.push_back(k++);
        }
        TownHit inside = look(NameTable::Towns, stripped, 0);
        if (!inside.records.empty()) {
            inside.end = positions[inside.end - 1] + 1;
            // Only a name that ends where the written one does: 吉岡字東柴崎 is 吉岡, not 吉岡東.
            if (!NameEndsAt(text, inside.end)) inside.records.clear();
            inside.oaza = StartsWith(text.substr(at), u"大字");
            if (!inside.records.empty() && inside.end > best.end) best = std::move(inside);
        }
    }
    // A town written without the 町 KEN_ALL gives it (大字吉沢319 for 吉沢町), where the name
    // plainly ends there: at a number, 字, or the end.
    for (std::size_t s = starts.size() - 1; s < starts.size() && best.records.empty(); --s) {
        if (s == 0 && starts.size() > 1) break; // 大字 itself is no town's beginning
        const std::u16string_view from = text.substr(starts[s]);
        for (std::size_t n = std::min(table_.LongestTown() - 1, from.size()); n > 0 && best.records.empty(); --n) {
            if (!NameEndsAt(from, n)) continue;
            const auto records = table_.Find(NameTable::Towns, std::u16string(from.substr(0, n)) + u'町');
            if (!records) continue;
            for (const std::int32_t r : *records)
                if (fits(r)) best.records.push_back(r);
            best.end = starts[s] + n;
            best.oaza = starts[s] == at + 2;
        }
    }
    // 町 written for 丁 and back (一町目 for 壱丁目, 7番町 for 七番丁), then a 町 left out inside a
    // compound name (木之本西山 for 木之本町西山): only where nothing else was found.
    if (best.records.empty()) {
        const std::u16string swapped = SwappedChoTei(text, at);
        if (!swapped.empty()) best = look(NameTable::Towns, std::u16string_view(swapped).substr(at), at);
        if (!best.records.empty()) best.spelling = TownSpelling::ChouChou;
    }
    if (best.records.empty()) {
        const std::u16string_view from = text.substr(at);
        std::size_t longest = 0; // of the names found, in characters written
        for (std::size_t n = 1; n + 1 < std::min(table_.LongestTown(), from.size()); ++n) {
            std::u16string inserted(from.substr(0, n));
            if (inserted.back() == u'町') continue;
            inserted.append(u"町").append(from.substr(n));
            const std::vector<NameHit> names = table_.Beginnings(NameTable::Towns, inserted, table_.LongestTown());
            for (auto it = names.rbegin(); it != names.rend(); ++it) {
                // The name must go on past the 町 put in, and end where a name plainly does.
                if (it->length <= n + 1 || it->length - 1 <= longest || !NameEndsAt(from, it->length - 1)) continue;
                TownHit hit;
                for (const std::int32_t r : it->values)
                    if (fits(r)) hit.records.push_back(r);
                if (hit.records.empty()) continue;
                longest = it->length - 1;
                hit.end = at + longest;
                hit.spelling = TownSpelling::ChouLeftOut;
                best = std::move(hit);
                break;
            }
        }
    }
    return best;
}

AddressResolver::TownHit AddressResolver::Town(std::u16string_view text, std::size_t at, std::int32_t city,
                                               std::int32_t prefecture) const
{
    // A Kyoto street before the town: 烏丸通七条下る東塩小路町.
    if (const std::size_t end = StreetEnd(text, at); end != std::u16string_view::npos) {
        TownHit hit = TownAt(text, end, city, prefecture);
        if (!hit.records.empty()) {
            hit.street = std::u16string(text.substr(at, end - at));
            return hit;
        }
    }
    return TownAt(text, at, city, prefecture);
}

std::vector<std::int32_t> AddressResolver::Placeholders(std::int32_t city, const WrittenNumber& number) const
{
    std::vector<std::pair<double, std::int32_t>> scored;
    for (const std::int32_t i : table_.Placeholders(city)) {
        if (i < 0 || i >= table_.RecordCount()) continue;
        const RecordView r = table_.RecordAt(i);
        double score = kUndecided;
        if (r.kind() == NoteKind::WholeCity) score = kTownDefault;
        else if (r.kind() == NoteKind::NumberFirst) {
            score = number.empty() ? kUndecided : kTownDefault;
            for (std::size_t k = 0; k < r.ClauseCount(); ++k) {
                const ClauseView c = r.Clause(k);
                if (c.kind() != ClauseKind::Numbers || number.empty()) continue;
                const Held h = Holds(number, c.range(), c.except());
                score = h == Held::Yes ? kDecided : h == Held::No ? kRefused : kUndecided;
                if (h == Held::Yes) break;
            }
        }
        scored.emplace_back(score, i);
    }
    std::stable_sort(scored.begin(), scored.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<std::int32_t> out;
    for (const auto& [score, i] : scored)
        if (score > kRefused || out.empty()) out.push_back(table_.RecordAt(i).entry());
    return out;
}

void AddressResolver::Choose(std::u16string_view text, const TownHit& hit, AddressMatch& match) const
{
    std::u16string_view rest = text.substr(hit.end);
    std::u16string street = hit.street;
    // A Kyoto street after the town: 近衛町室町通出水上る.
    if (street.empty())
        if (const std::size_t end = StreetEnd(rest, 0); end != std::u16string_view::npos) {
            street = std::u16string(rest.substr(0, end));
            rest.remove_prefix(end);
        }
    street = StreetForm(street);
    if (!rest.empty() && rest[0] == kNumberBreak) rest.remove_prefix(1);
    if (StartsWith(rest, u"字")) rest.remove_prefix(1);

    // A named part of the town, then the number after it.
    std::size_t named = 0;
    for (const std::int32_t i : hit.records)
        for (const RecordView r = table_.RecordAt(i); const ClauseView c : r.Clauses())
            if (c.kind() == ClauseKind::Name && !c.key().empty() && StartsWith(rest, c.key())) named = std::max(named, c.key().size());
    const std::u16string_view afterName = rest.substr(named);

    // A building of the town written anywhere after it, the longest first. It is looked for
    // before the house number is read, since its name may begin with a numeral the number would
    // take (六本木6-10-1六本木ヒルズ森タワー: name form 6本木ヒルズ...).
    std::vector<std::size_t> positions; // of each character of `building` in afterName
    std::u16string building;
    for (std::size_t k = 0; k < afterName.size(); ++k)
        if (!IsBuildingSeparator(afterName[k])) {
            building.push_back(afterName[k]);
            positions.push_back(k);
        }
    std::u16string matchedBuilding;
    std::optional<std::int32_t> floor;
    std::size_t buildingAt = afterName.size();
    for (const std::int32_t i : hit.records) {
        const RecordView r = table_.RecordAt(i);
        if (r.kind() != NoteKind::Floor || r.buildingKey().size() <= matchedBuilding.size()) continue;
        if (const std::size_t at = building.find(r.buildingKey()); at != std::u16string::npos) {
            matchedBuilding = r.buildingKey();
            floor = ReadFloor(std::u16string_view(building).substr(at + r.buildingKey().size()));
            buildingAt = positions[at];
        }
    }
    std::size_t used = 0;
    const WrittenNumber number = ReadNumber(afterName.substr(0, buildingAt), used);
    std::u16string_view after = afterName.substr(used);
    if (!after.empty() && after[0] == kNumberBreak) after.remove_prefix(1);
    bool floorListed = false;
    if (!matchedBuilding.empty() && floor && *floor != kFloorUnknown)
        for (const std::int32_t i : hit.records) {
            const RecordView r = table_.RecordAt(i);
            floorListed = floorListed || (r.buildingKey() == matchedBuilding && r.floor() == *floor);
        }

    const auto scoreClause = [&](const ClauseView& c) -> double {
        switch (c.kind()) {
        case ClauseKind::Numbers: {
            if (number.empty()) return kUndecided;
            const Held h = Holds(number, c.range(), c.except());
            return h == Held::Yes ? kDecided : h == Held::No ? kRefused : kUndecided;
        }
        case ClauseKind::Street: {
            if (street.empty()) return kUndecided;
            const std::u16string_view key = c.key();
            if (key == street) return kDecided;
            // The same street and crossing written with another turn: nearly as good.
            const std::size_t through = street.find(u'通');
            std::size_t common = 0;
            while (common < key.size() && common < street.size() && key[common] == street[common]) ++common;
            if (through != std::u16string::npos && common > through + 1)
                return kTownDefault + static_cast<double>(common) / static_cast<double>(street.size() + 1);
            // The same street with a crossing the note does not list (河原町通三条上る for an
            // entry of 河原町通姉小路上る), or that street as the note's crossing: nearer than
            // an entry of other streets.
            if (through != std::u16string::npos && through > 0 && key.find(street.substr(0, through)) != std::u16string_view::npos)
                return kRefused + 0.75;
            return kRefused + 0.5;
        }
        case ClauseKind::Name: {
            // 軽井沢（大字）: the town's entry for addresses written with 大字.
            const std::u16string_view key = c.key();
            if (key == u"大字") return hit.oaza ? kDecided : kRefused + 0.5;
            if (key.empty() || !StartsWith(rest, key)) return rest.empty() ? kUndecided : kRefused + 0.5;
            // 二俣川向 is not 二俣: a shorter name that the text also begins with comes after.
            if (key.size() < named) return kDecided - 0.75;
            if (c.range() == NumberRange{} && c.except().empty()) return kDecided;
            if (number.empty()) return kDecided - 0.5;
            const Held h = Holds(number, c.range(), c.except());
            return h == Held::Yes ? kDecided : h == Held::No ? kRefused : kDecided - 0.5;
        }
        case ClauseKind::Others: return kTownDefault;
        case ClauseKind::AnyChome:
            return std::find(number.levels.begin(), number.levels.end(), kLevelChome) != number.levels.end() ? kDecided
                   : number.empty() ? kUndecided : kRefused + 0.5;
        case ClauseKind::AnyBanchi: {
            const bool chome = std::find(number.levels.begin(), number.levels.end(), kLevelChome) != number.levels.end();
            return number.empty() ? kUndecided : chome ? kRefused + 0.5 : kDecided - 0.5;
        }
        case ClauseKind::Plain: return kUndecided;
        }
        return kUndecided;
    };

    std::vector<std::pair<double, std::int32_t>> scored;
    for (const std::int32_t i : hit.records) {
        const RecordView r = table_.RecordAt(i);
        double score = kTownDefault;
        if (r.kind() == NoteKind::Floor) {
            if (r.buildingKey() != matchedBuilding || matchedBuilding.empty()) continue;
            if (floor && *floor != kFloorUnknown && r.floor() == *floor) score = kFloorMatch;
            else if (r.floor() == kFloorUnknown && !floorListed) score = kBuildingMatch;
            else continue;
        } else if (r.kind() == NoteKind::Plain) {
            score = kUndecided;
        } else if (r.ClauseCount() > 0) {
            score = kRefused;
            for (const ClauseView c : r.Clauses()) score = std::max(score, scoreClause(c));
        }
        scored.emplace_back(score, r.entry());
    }
    std::stable_sort(scored.begin(), scored.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    // A town written without its city: after the best, the other entries of the best one's city.
    if (!scored.empty()) {
        const auto cityOf = [&](std::int32_t entry) {
            const auto r = table_.Record(entry);
            return r ? r->cityCode() : 0;
        };
        const std::int32_t bestCity = cityOf(scored.front().second);
        std::stable_sort(scored.begin() + 1, scored.end(), [&](const auto& a, const auto& b) {
            if (a.first != b.first) return false;
            return cityOf(a.second) == bestCity && cityOf(b.second) != bestCity;
        });
    }
    const bool decided = !scored.empty() && scored.front().first > kRefused;
    for (const auto& [score, entry] : scored)
        if (score > kRefused || !decided) match.entries.push_back(entry);

    match.level = AddressLevel::Town;
    match.spelling = hit.spelling;
    if (!hit.records.empty()) {
        const RecordView first = table_.RecordAt(hit.records.front());
        match.town = first.townKey();
        match.cityCode = first.cityCode();
    }
    match.number = number;
    const bool usedAfter = !number.empty() || named > 0 || !street.empty() || !matchedBuilding.empty();
    if (usedAfter) match.level = AddressLevel::Number;
    match.specific = match.specific || usedAfter;
    match.rest = matchedBuilding.empty() ? std::u16string(after) : std::u16string();
}

AddressResolver::TownHit AddressResolver::TownOfOldCity(std::u16string_view text, const CityHit& city,
                                                       std::int32_t prefecture, std::u16string& written) const
{
    // The towns of an old municipality mostly kept its name in theirs (秩父郡荒川村上田野 is
    // 秩父市荒川上田野, 沼隈郡内海町イ is 福山市内海町イ); others are today's town as written
    // (岩槻市本町 is さいたま市岩槻区本町). The reading that takes most of what was written wins.
    const std::u16string name = NameForm(table_.OldCity(*city.old).name);
    const std::size_t gun = name.find(u'郡');
    const std::u16string proper = gun == std::u16string::npos ? name : name.substr(gun + 1);
    std::vector<std::u16string> prefixes{proper};
    if (proper.size() > 1 && std::u16string_view(u"市町村").find(proper.back()) != std::u16string_view::npos)
        prefixes.push_back(proper.substr(0, proper.size() - 1));
    prefixes.emplace_back();
    TownHit best;
    std::size_t bestUsed = 0;
    for (const std::u16string& prefix : prefixes) {
        std::u16string form(text.substr(0, city.end));
        form.append(prefix).append(text.substr(city.end));
        TownHit hit = Town(form, city.end, city.code, prefecture);
        if (hit.records.empty() || hit.end <= city.end + prefix.size()) continue;
        const std::size_t used = hit.end - prefix.size();
        if (used > bestUsed) {
            best = std::move(hit);
            bestUsed = used;
            written = std::move(form);
        }
    }
    return best;
}

bool AddressResolver::TownInCities(std::u16string_view text, const CityHits& cities, std::int32_t prefecture,
                                   AddressMatch& match) const
{
    for (std::size_t k = 0; k < cities.size(); ++k) {
        const CityHit& c = cities[k];
        std::u16string storage;
        std::u16string_view written = text;
        TownHit hit;
        if (c.old) {
            hit = TownOfOldCity(text, c, prefecture, storage);
            written = storage;
        } else {
            hit = Town(written, c.end, c.code, prefecture);
        }
        // 北1西2, the short form of 北1条西2丁目 in Sapporo and Asahikawa.
        const std::u16string grid = hit.records.empty() ? GridTownForm(text, c.end) : std::u16string();
        if (!grid.empty()) {
            written = grid;
            hit = Town(written, c.end, c.code, prefecture);
        }
        if (hit.records.empty()) continue;
        // The same name for several cities (a designated city without its ward, 名古屋市名駅:
        // 西区 and 中村区 both have 名駅; a village split between two municipalities): the town
        // of each, for the notes to decide.
        for (std::size_t o = k + 1; o < cities.size() && cities[o].end == c.end; ++o) {
            TownHit other = Town(written, c.end, cities[o].code, prefecture);
            if (other.records.empty() || other.end < hit.end) continue;
            if (other.end > hit.end) hit = std::move(other);
            else if (other.street == hit.street) hit.records.insert(hit.records.end(), other.records.begin(), other.records.end());
        }
        // 本町1-1 for the town 本町1丁目 beside 本町.
        std::u16string chome;
        if (table_.Holds(NameTable::ChomeParents, table_.RecordAt(hit.records.front()).townKey()))
            if (chome = ChomeTownForm(written, hit.end); !chome.empty()) {
                TownHit longer = Town(chome, c.end, c.code, prefecture);
                if (!longer.records.empty() && longer.end > hit.end) hit = std::move(longer);
                else chome.clear();
            }
        match.specific = true;
        match.oldCity = c.old;
        Choose(chome.empty() ? written : std::u16string_view(chome), hit, match);
        return true;
    }
    return false;
}

AddressMatch AddressResolver::Resolve(std::u16string_view text) const
{
    AddressMatch best;
    bool bestHasCity = false;
    const auto better = [&](AddressMatch&& m, bool hasCity) {
        // A city recognised counts more than a town found without one: 茨城県… is not the town
        // 茨城 of 石岡市.
        if (std::pair(hasCity, m.level) > std::pair(bestHasCity, best.level)) {
            best = std::move(m);
            bestHasCity = hasCity;
        }
    };
    const std::vector<Start> starts = Prefectures(text);
    const bool prefectureWritten = std::any_of(starts.begin(), starts.end(), [](const Start& s) { return s.prefecture != 0 && !s.shortForm; });
    for (const Start& start : starts) {
        // Text that begins with a prefecture's full name is not read as a town from its start.
        if (start.prefecture == 0 && prefectureWritten && best.level != AddressLevel::None) continue;
        const auto cities = Cities(text, start.at, start.prefecture);
        AddressMatch inCity;
        const bool townFound = TownInCities(text, cities, start.prefecture, inCity);
        if (townFound) better(std::move(inCity), true);
        if (!townFound && !cities.empty()) {
            // A city whose towns are its 丁目 (下田市一丁目), written in the short form:
            // 下田市1-4-28 is 一丁目4-28.
            const auto& [city, end, old] = cities.front();
            if (const std::u16string chome = ChomeTownForm(text, end); !chome.empty()) {
                const TownHit hit = TownAt(chome, end, city, start.prefecture);
                if (!hit.records.empty()) {
                    AddressMatch m;
                    m.specific = true;
                    Choose(chome, hit, m);
                    better(std::move(m), true);
                    break;
                }
            }
        }
        // A designated city written without its ward and a town none of its wards has: no one
        // ward's entries answer for it.
        const bool wardUnknown = !townFound && !cities.empty()
                                 && table_.Holds(NameTable::Designated, text.substr(start.at, cities.front().end - start.at));
        if (wardUnknown) {
            AddressMatch m;
            m.level = AddressLevel::City;
            m.specific = true;
            m.rest = std::u16string(text.substr(cities.front().end));
            better(std::move(m), true);
        }
        if (!townFound && !cities.empty() && !wardUnknown) {
            // The city is known, its town is not: the city's own entries for that.
            const auto& [city, end, old] = cities.front();
            std::size_t used = 0;
            AddressMatch m;
            m.level = AddressLevel::City;
            m.cityCode = city;
            m.specific = true;
            m.number = ReadNumber(text.substr(end), used);
            m.entries = Placeholders(city, m.number);
            m.rest = std::u16string(text.substr(end + used));
            better(std::move(m), true);
        }
        if (cities.empty() && !start.shortForm) {
            const TownHit hit = Town(text, start.at, 0, start.prefecture);
            if (!hit.records.empty()) {
                AddressMatch m;
                m.specific = start.prefecture != 0;
                Choose(text, hit, m);
                better(std::move(m), false);
            } else if (start.prefecture != 0) {
                AddressMatch m;
                m.level = AddressLevel::Prefecture;
                m.specific = true;
                m.rest = std::u16string(text.substr(start.at));
                better(std::move(m), false);
            }
        }
        if (best.level >= AddressLevel::Town && bestHasCity) break;
    }
    return best;
}

} // namespace ubin
