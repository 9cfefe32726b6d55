#include "builder/town_notes.h"

#include "base/normalize.h"
#include "base/text.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace ubin {

namespace {

constexpr std::u16string_view kNumberFirstEnd = u"がくる場合";
constexpr std::u16string_view kNumberFirstMark = u"の次に";
constexpr std::u16string_view kWholeCity = u"一円";
constexpr std::u16string_view kExceptBuildings = u"次のビルを除く";
constexpr std::u16string_view kFloorUnknownText = u"地階・階層不明";

bool EndsWith(std::u16string_view s, std::u16string_view end) { return s.size() >= end.size() && s.substr(s.size() - end.size()) == end; }
bool StartsWith(std::u16string_view s, std::u16string_view start) { return s.substr(0, start.size()) == start; }
bool Contains(std::u16string_view s, std::u16string_view part) { return s.find(part) != std::u16string_view::npos; }

// The part below a level: 地割 and 丁目 are followed by 番地, 番地 by 号.
int Below(int level) { return level == kLevelChiwari || level == kLevelChome ? kLevelBanchi : kLevelGo; }

// The list items of a note at its top level: split at 、 and at the blank between groups,
// never inside 「」, （） or 〔〕.
std::vector<std::u16string> Items(std::u16string_view text)
{
    std::vector<std::u16string> items;
    std::u16string current;
    int depth = 0;
    for (const char16_t c : text) {
        if (c == u'「' || c == u'（' || c == u'〔' || c == u'(') ++depth;
        if (c == u'」' || c == u'）' || c == u'〕' || c == u')') depth = std::max(0, depth - 1);
        if (depth == 0 && (c == u'、' || c == u'\u3000' || c == u' ')) {
            if (!current.empty()) items.push_back(std::move(current));
            current.clear();
            continue;
        }
        current.push_back(c);
    }
    if (!current.empty()) items.push_back(std::move(current));
    return items;
}

// One number group: numbers joined by dashes and the unit after them (400-2番地).
struct Group {
    std::vector<std::int32_t> numbers;
    int level = -1; // from the unit; -1 when none was written
};

// One side of a range: its groups, and what a 「」 after them holds.
struct Side {
    std::vector<Group> groups;
    bool openHigh = false, openLow = false; // 以上 or 以降, 以下 written after the numbers
    std::u16string inner;      // the text inside 「」
    bool innerExcept = false;  // 「…を除く」, 「…」以外
    bool empty() const { return groups.empty(); }
};

// An item read as numbers: its two sides (one when it is a single number) and an open end.
struct NumberItem {
    Side low, high;
    bool range = false;
    bool openHigh = false, openLow = false;
    bool exceptAll = false; // …を除く after the whole item
};

std::optional<int> UnitAt(std::u16string_view s, std::size_t& i)
{
    const auto take = [&](std::u16string_view unit, int level) -> std::optional<int> {
        if (s.substr(i, unit.size()) != unit) return std::nullopt;
        i += unit.size();
        return level;
    };
    for (const auto& [unit, level] : {std::pair{std::u16string_view(u"丁目"), kLevelChome}, {u"番地", kLevelBanchi},
                                      {u"地割", kLevelChiwari}, {u"丁", kLevelChome}, {u"番", kLevelBanchi},
                                      {u"号", kLevelGo}})
        if (auto l = take(unit, level)) return l;
    return std::nullopt;
}

// Reads one side: [第] digits [-digits]* [unit], repeated, then an optional 「…」. False when
// anything else is in it.
bool ReadSide(std::u16string_view s, Side& side)
{
    std::size_t i = 0;
    while (i < s.size()) {
        if (s[i] == u'「') {
            const std::size_t close = s.find(u'」', i);
            if (close == std::u16string_view::npos) return false;
            side.inner = std::u16string(s.substr(i + 1, close - i - 1));
            i = close + 1;
            continue;
        }
        if (s.substr(i, 2) == u"以上" || s.substr(i, 2) == u"以降") {
            side.openHigh = true;
            i += 2;
            continue;
        }
        if (s.substr(i, 2) == u"以下") {
            side.openLow = true;
            i += 2;
            continue;
        }
        if (s[i] == u'第') ++i;
        if (i >= s.size() || !IsDigit(s[i])) return false;
        Group g;
        for (;;) {
            std::int32_t n = 0;
            std::size_t digits = 0;
            while (i < s.size() && IsDigit(s[i]) && digits < 7) n = n * 10 + (s[i++] - u'0'), ++digits;
            if (digits == 0 || (i < s.size() && IsDigit(s[i]))) return false;
            g.numbers.push_back(n);
            if (i + 1 < s.size() && s[i] == u'-' && IsDigit(s[i + 1])) {
                ++i;
                continue;
            }
            break;
        }
        if (auto level = UnitAt(s, i)) g.level = *level;
        side.groups.push_back(std::move(g));
    }
    return true;
}

// Takes a word off the end of a text; true when it was there.
bool TakeEnd(std::u16string& s, std::u16string_view end)
{
    if (!EndsWith(s, end)) return false;
    s.resize(s.size() - end.size());
    return true;
}

std::optional<NumberItem> ReadNumberItem(std::u16string text)
{
    NumberItem item;
    if (TakeEnd(text, u"ヲ除ク") || TakeEnd(text, u"以外")) item.exceptAll = true;
    if (TakeEnd(text, u"以上") || TakeEnd(text, u"以降")) item.openHigh = true;
    else if (TakeEnd(text, u"以下")) item.openLow = true;
    // The ～ of the range at the top level, not one inside 「」.
    std::size_t tilde = std::u16string::npos;
    int depth = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == u'「') ++depth;
        else if (text[i] == u'」') --depth;
        else if ((text[i] == u'～' || text[i] == u'~') && depth == 0) {
            tilde = i;
            break;
        }
    }
    if (tilde == std::u16string::npos) {
        if (!ReadSide(text, item.low) || item.low.empty()) return std::nullopt;
    } else {
        item.range = true;
        if (!ReadSide(std::u16string_view(text).substr(0, tilde), item.low) || item.low.empty()) return std::nullopt;
        if (!ReadSide(std::u16string_view(text).substr(tilde + 1), item.high)) return std::nullopt;
        if (item.high.empty()) item.openHigh = true;
    }
    item.openHigh = item.openHigh || item.low.openHigh || item.high.openHigh;
    item.openLow = item.openLow || item.low.openLow;
    if (item.exceptAll) {
        // 「…」以外 / 「…」を除く: the words close the 「」 of the last side.
        Side& last = item.high.empty() ? item.low : item.high;
        if (last.inner.empty()) return std::nullopt;
        last.innerExcept = true;
    }
    for (Side* side : {&item.low, &item.high}) {
        std::u16string inner = side->inner;
        if (TakeEnd(inner, u"ヲ除ク") || TakeEnd(inner, u"以外")) {
            side->innerExcept = true;
            side->inner = inner;
        }
    }
    return item;
}

int FirstUnit(const Side& side) { return side.groups.empty() ? -1 : side.groups.front().level; }

// The levels of a side's numbers, its first group taking `firstLevel` when it has no unit.
HouseNumber Levels(const Side& side, int firstLevel)
{
    HouseNumber n = kNoHouseNumber;
    int level = -1;
    for (const Group& g : side.groups) {
        // Three numbers with no unit are 丁目, 番 and 号 (名駅（１－３－４）).
        const int unitless = g.numbers.size() >= 3 && firstLevel == kLevelBanchi ? kLevelChome : firstLevel;
        level = g.level >= 0 ? g.level : level < 0 ? unitless : Below(level);
        int l = level;
        for (const std::int32_t v : g.numbers) {
            if (l >= kNumberLevels) break;
            n[static_cast<std::size_t>(l)] = v;
            l = Below(l);
        }
    }
    return n;
}

int TopLevel(const HouseNumber& n)
{
    for (int l = 0; l < kNumberLevels; ++l)
        if (n[static_cast<std::size_t>(l)] != kNoNumber) return l;
    return kNumberLevels;
}

// Gives `n` the parts of `context` above its own first part.
void Inherit(HouseNumber& n, const HouseNumber& context)
{
    const int top = TopLevel(n);
    for (int l = 0; l < top; ++l) n[static_cast<std::size_t>(l)] = context[static_cast<std::size_t>(l)];
}

std::vector<NoteClause> ReadNumberList(const std::vector<std::u16string>& items, int defaultLevel,
                                       const HouseNumber& outer, bool& ok);

// The numbers an item names, with their exceptions; `context` is the item before it.
std::optional<NoteClause> NumbersOf(const NumberItem& item, int unit, const HouseNumber& context)
{
    NoteClause c;
    c.kind = ClauseKind::Numbers;
    const int lowUnit = FirstUnit(item.low) >= 0 ? FirstUnit(item.low) : FirstUnit(item.high) >= 0 ? FirstUnit(item.high) : unit;
    HouseNumber low = Levels(item.low, lowUnit);
    // A shorter upper end without a unit stands for the last parts of the lower one
    // (１７７０－１～２ is 1770-1 to 1770-2).
    int highUnit = FirstUnit(item.high) >= 0 ? FirstUnit(item.high) : lowUnit;
    if (FirstUnit(item.high) < 0) {
        std::vector<int> lowLevels;
        for (int l = 0; l < kNumberLevels; ++l)
            if (low[static_cast<std::size_t>(l)] != kNoNumber) lowLevels.push_back(l);
        std::size_t highCount = 0;
        for (const Group& g : item.high.groups) highCount += g.numbers.size();
        if (highCount > 0 && highCount < lowLevels.size()) highUnit = lowLevels[lowLevels.size() - highCount];
    }
    Inherit(low, context);
    HouseNumber high = item.range ? Levels(item.high, highUnit) : low;
    if (item.range && !item.high.empty()) Inherit(high, low);
    // 「」 narrowing a side: 第２地割「７０～１３６」 is 地割 2 from 番地 70.
    bool ok = true;
    const auto narrow = [&](const Side& side, HouseNumber& bound, bool upper) {
        if (side.inner.empty() || side.innerExcept) return;
        const std::vector<NoteClause> inner = ReadNumberList(Items(side.inner), Below(TopLevel(bound)), bound, ok);
        if (inner.empty()) return;
        bound = upper ? inner.back().range.high : inner.front().range.low;
    };
    narrow(item.low, low, false);
    narrow(item.high, high, true);
    if (!item.range) narrow(item.low, high, true);
    for (const Side* side : {&item.low, &item.high}) {
        if (!side->innerExcept) continue;
        const HouseNumber& owner = side == &item.low ? low : high;
        const int level = TopLevel(owner);
        const int innerDefault = level == kLevelBanchi || level == kLevelGo ? level : Below(level);
        for (const NoteClause& e : ReadNumberList(Items(side->inner), innerDefault, owner, ok)) c.except.push_back(e.range);
    }
    if (!ok) return std::nullopt;
    c.range.low = item.openLow ? kNoHouseNumber : low;
    c.range.high = item.openHigh ? kNoHouseNumber : high;
    return c;
}

// A list of number items, each taking the unit written after it (１、２丁目: both 丁目) and the
// wider parts of the item before it (２丁目１番１～２３号、２番: the second is 2丁目2番).
std::vector<NoteClause> ReadNumberList(const std::vector<std::u16string>& items, int defaultLevel,
                                       const HouseNumber& outer, bool& ok)
{
    std::vector<std::optional<NumberItem>> read;
    for (const std::u16string& text : items) read.push_back(ReadNumberItem(text));
    std::vector<NoteClause> out;
    HouseNumber context = outer;
    for (std::size_t i = 0; i < read.size(); ++i) {
        if (!read[i]) {
            ok = false;
            continue;
        }
        int unit = -1;
        for (std::size_t k = i; k < read.size() && unit < 0; ++k)
            if (read[k]) unit = FirstUnit(read[k]->low) >= 0 ? FirstUnit(read[k]->low) : FirstUnit(read[k]->high);
        if (unit < 0) unit = defaultLevel;
        auto clause = NumbersOf(*read[i], unit, context);
        if (!clause) {
            ok = false;
            continue;
        }
        context = clause->range.low;
        Inherit(context, outer);
        out.push_back(std::move(*clause));
    }
    return out;
}

bool IsStreet(std::u16string_view key)
{
    for (const std::u16string_view turn : {u"上ル", u"下ル", u"東入", u"西入"})
        if (Contains(key, turn)) return true;
    return false;
}

// A named part of the town, with the numbers it holds where they follow the name (猫屋敷３２９～
// ３５６, 土浮山２～５番地), or a remark in 「」 (渡戸沢「筍沢温泉」, 下久保「１７４を除く」: the
// exceptions are kept). A name of digits and a counter (１区, 二俣) is a name too.
std::optional<NoteClause> NamedPart(const std::u16string& item)
{
    NoteClause c;
    c.kind = ClauseKind::Name;
    std::size_t split = 0;
    while (split < item.size() && !IsDigit(item[split]) && item[split] != u'「') ++split;
    const std::u16string rest = item.substr(split);
    c.key = item.substr(0, split);
    if (rest.empty()) return c;
    if (rest[0] == u'「' && rest.back() == u'」') {
        std::u16string inner = rest.substr(1, rest.size() - 2);
        if (TakeEnd(inner, u"ヲ除ク") || TakeEnd(inner, u"以外")) {
            bool ok = true;
            for (const NoteClause& e : ReadNumberList(Items(inner), kLevelBanchi, kNoHouseNumber, ok)) c.except.push_back(e.range);
            if (!ok) return std::nullopt;
        }
        return c.key.empty() ? std::nullopt : std::optional<NoteClause>(c);
    }
    if (!c.key.empty() && ReadNumberItem(rest)) {
        bool ok = true;
        std::vector<std::u16string> parts;
        for (std::u16string& part : Items(rest)) parts.push_back(std::move(part));
        const std::vector<NoteClause> numbers = ReadNumberList(parts, kLevelBanchi, kNoHouseNumber, ok);
        if (ok && numbers.size() == 1) {
            c.range = numbers.front().range;
            c.except = numbers.front().except;
            return c;
        }
    }
    // Digits inside a name with no range after them: 1区, 2俣, 5宝町, 15号ノ沢.
    if (std::none_of(item.begin(), item.end(), [](char16_t ch) { return ch == u'~' || ch == u'～' || ch == u'「'; })) {
        c.key = item;
        return c;
    }
    return std::nullopt;
}

// The clauses of a note's list.
std::vector<NoteClause> ReadClauses(std::u16string_view city, std::u16string_view noteForm)
{
    std::vector<NoteClause> clauses;
    std::vector<std::u16string> numberItems;
    const bool kyoto = StartsWith(city, u"京都市");
    const auto flushNumbers = [&] {
        if (numberItems.empty()) return;
        bool ok = true;
        std::vector<NoteClause> numbers = ReadNumberList(numberItems, kLevelBanchi, kNoHouseNumber, ok);
        if (!ok) {
            NoteClause plain;
            std::u16string words;
            for (const std::u16string& item : numberItems) words.append(words.empty() ? u"" : u"、").append(item);
            plain.key = words;
            clauses.push_back(std::move(plain));
        } else {
            clauses.insert(clauses.end(), numbers.begin(), numbers.end());
        }
        numberItems.clear();
    };
    // Dots between numbers list them as well (３丁目１８・２１番).
    std::u16string text(noteForm);
    for (std::size_t i = 1; i + 1 < text.size(); ++i)
        if (text[i] == u'・' && IsDigit(text[i + 1])) text[i] = u'、';
    // 及び joins two items as a comma does.
    for (std::size_t at; (at = text.find(u"及ビ")) != std::u16string::npos;) {
        text[at] = u'、';
        text.erase(at + 1, 1);
    }
    for (std::u16string item : Items(text)) {
        // Remarks in 〔〕 explain; they decide nothing.
        if (const std::size_t open = item.find(u'〔'); open != std::u16string::npos) {
            const std::size_t close = item.find(u'〕', open);
            item.erase(open, close == std::u16string::npos ? std::u16string::npos : close - open + 1);
        }
        if (item.empty()) continue;
        NoteClause c;
        if (item == u"ソノ他") {
            c.kind = ClauseKind::Others;
        } else if (EndsWith(item, u"ソノ他")) {
            // 国見その他: the part named and the rest of the town.
            c.kind = ClauseKind::Name;
            c.key = item.substr(0, item.size() - 3);
            flushNumbers();
            clauses.push_back(c);
            c = NoteClause{};
            c.kind = ClauseKind::Others;
        } else if (item == u"丁目") {
            c.kind = ClauseKind::AnyChome;
        } else if (item == u"番地") {
            c.kind = ClauseKind::AnyBanchi;
        } else if ((item[0] == u'第' || IsDigit(item[0])) && ReadNumberItem(item)) {
            numberItems.push_back(std::move(item));
            continue;
        } else if (kyoto || IsStreet(item)) {
            c.kind = ClauseKind::Street;
            c.key = StreetForm(item);
        } else if (auto named = NamedPart(item)) {
            c = std::move(*named);
        } else {
            c.key = item; // Plain
        }
        flushNumbers();
        clauses.push_back(std::move(c));
    }
    flushNumbers();
    return clauses;
}

NoteKind KindOf(const std::vector<NoteClause>& clauses)
{
    bool numbers = false, streets = false, names = false, plain = false;
    for (const NoteClause& c : clauses) {
        switch (c.kind) {
        case ClauseKind::Numbers: case ClauseKind::AnyChome: case ClauseKind::AnyBanchi: numbers = true; break;
        case ClauseKind::Street: streets = true; break;
        case ClauseKind::Name: names = true; break;
        case ClauseKind::Plain: plain = true; break;
        case ClauseKind::Others: break;
        }
    }
    if (plain && !numbers && !streets && !names) return NoteKind::Plain;
    const int kinds = numbers + streets + names + plain;
    if (kinds > 1) return NoteKind::Mixed;
    if (streets) return NoteKind::Streets;
    if (names) return NoteKind::SubAreas;
    return NoteKind::Numbers; // numbers, or その他 alone
}

// A floor as KEN_ALL writes it: ３０階, 地階・階層不明.
std::optional<std::int32_t> FloorOf(std::u16string_view group)
{
    if (group == kFloorUnknownText) return kFloorUnknown;
    const std::u16string form = NameForm(group);
    if (form.size() < 2 || form.back() != u'階') return std::nullopt;
    std::int32_t n = 0;
    for (std::size_t i = 0; i + 1 < form.size(); ++i) {
        if (!IsDigit(form[i]) || i > 3) return std::nullopt;
        n = n * 10 + (form[i] - u'0');
    }
    return n;
}

// The city's own name without its 郡 (岩船郡粟島浦村 → 粟島浦村).
std::u16string_view CityProper(std::u16string_view city)
{
    const std::size_t gun = city.find(u'郡');
    return gun == std::u16string_view::npos ? city : city.substr(gun + 1);
}

} // namespace

AddressRecord ReadTownNote(std::u16string_view city, std::u16string_view town, std::u16string_view note,
                           const TownOfCity& isTown)
{
    AddressRecord r;
    r.note = std::u16string(note);
    r.town = std::u16string(town);
    // The placeholders: no town of that name exists.
    if (town == kRestOfCityTown) {
        r.kind = NoteKind::RestOfCity;
        r.note = std::u16string(town);
        r.town.clear();
    } else if (const std::size_t mark = town.find(kNumberFirstMark);
               mark != std::u16string_view::npos && EndsWith(town, kNumberFirstEnd)) {
        r.kind = NoteKind::NumberFirst;
        r.note = std::u16string(town);
        if (!note.empty()) r.note.append(u"（").append(note).append(u"）");
        r.town.clear();
        const std::size_t from = mark + kNumberFirstMark.size();
        const std::u16string numbers = NameForm(town.substr(from, town.size() - kNumberFirstEnd.size() - from));
        r.clauses = ReadClauses(city, numbers);
        if (!note.empty()) {
            for (NoteClause& c : ReadClauses(city, NameForm(note))) r.clauses.push_back(std::move(c));
        }
    } else if (EndsWith(town, kWholeCity) && town.size() > kWholeCity.size()
               && EndsWith(CityProper(city), town.substr(0, town.size() - kWholeCity.size()))) {
        r.kind = NoteKind::WholeCity;
        r.note = std::u16string(town);
        r.town.clear();
    } else if (note.empty()) {
        r.kind = NoteKind::None;
    } else if (note == kExceptBuildings) {
        r.kind = NoteKind::ExceptBuildings;
    } else {
        // A floor is the last group of the note; groups before it belong to the building's name
        // (名駅ミッドランドスクエア（高層棟）（１階）).
        const std::size_t blank = note.rfind(u'\u3000');
        const std::u16string_view last = blank == std::u16string_view::npos ? note : note.substr(blank + 1);
        if (const auto floor = FloorOf(last)) {
            r.kind = NoteKind::Floor;
            r.floor = *floor;
            r.floorText = std::u16string(last);
            // The town is the longest other town of the city the name begins with.
            std::size_t base = 0;
            for (std::size_t n = town.size() - 1; n > 0; --n)
                if (isTown && isTown(town.substr(0, n))) {
                    base = n;
                    break;
                }
            r.town = std::u16string(town.substr(0, base));
            r.building = std::u16string(town.substr(base));
            // People write the building's name without the part KEN_ALL adds in a group
            // (ミッドランドスクエア for ミッドランドスクエア（高層棟）): the key is the name alone.
            r.buildingKey = BuildingForm(NameForm(r.building));
            if (blank != std::u16string_view::npos) r.building.append(u"（").append(note.substr(0, blank)).append(u"）");
        } else {
            r.clauses = ReadClauses(city, NameForm(note));
            r.kind = KindOf(r.clauses);
        }
    }
    r.townKey = NameForm(r.town);
    return r;
}

bool HasUnreadNote(const AddressRecord& record)
{
    if (record.kind == NoteKind::Plain) return true;
    return std::any_of(record.clauses.begin(), record.clauses.end(),
                       [](const NoteClause& c) { return c.kind == ClauseKind::Plain; });
}

} // namespace ubin
