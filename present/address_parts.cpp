#include "present/address_parts.h"

#include "base/normalize.h"
#include "base/text.h"

namespace ubin {

namespace {

bool IsLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

// What may stand between a house number, a building, a floor and a room.
bool IsSeparator(char16_t c)
{
    return std::u16string_view(u" \u3000-,、・/()（）\u2010\u2011\u2012\u2013\u2014\u2015\u2212").find(c) != std::u16string_view::npos;
}

// A letter, digit, kana or kanji: something a building's name is written with.
bool IsNameCharacter(char16_t c)
{
    return IsLetter(c) || (c >= 0x3041 && c <= 0x30FA) || c == u'ー' || c == u'々' || (c >= 0x3400 && c <= 0x9FFF)
           || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xD800 && c <= 0xDBFF);
}

void Trim(std::u16string& t)
{
    std::size_t begin = 0, end = t.size();
    while (begin < end && IsSeparator(t[begin])) ++begin;
    while (end > begin && IsSeparator(t[end - 1])) --end;
    t = t.substr(begin, end - begin);
}

bool EndsWith(std::u16string_view s, std::u16string_view end) { return s.size() >= end.size() && s.substr(s.size() - end.size()) == end; }

// Where the run of digits that ends at `end` begins.
std::size_t DigitsBefore(std::u16string_view t, std::size_t end)
{
    std::size_t begin = end;
    while (begin > 0 && IsDigit(t[begin - 1])) --begin;
    return begin;
}

// A floor at the end of `t` (3F, 5階, B1F, 地下1階, 地階): its text, and `t` cut before it.
std::u16string TakeFloor(std::u16string& t)
{
    if (EndsWith(t, u"地階")) {
        t.resize(t.size() - 2);
        return u"B";
    }
    const bool kai = EndsWith(t, u"階");
    if (!kai && !(EndsWith(t, u"F") || EndsWith(t, u"f"))) return {};
    const std::size_t end = t.size() - 1;
    const std::size_t begin = DigitsBefore(t, end);
    if (begin == end) return {};
    std::u16string floor = t.substr(begin, end - begin);
    std::size_t cut = begin;
    if (kai && begin >= 2 && std::u16string_view(t).substr(begin - 2, 2) == u"地下") {
        floor = u"B" + floor;
        cut -= 2;
    } else if (!kai && begin >= 1 && (t[begin - 1] == u'B' || t[begin - 1] == u'b')) {
        floor = u"B" + floor;
        cut -= 1;
    } else if (begin >= 1 && IsLetter(t[begin - 1])) {
        return {}; // ABC3F is a name, not a floor
    }
    t.resize(cut);
    return floor;
}

// A room at the end of `t` (101, 203号室, A-101, 101B): its text, and `t` cut before it.
std::u16string TakeRoom(std::u16string& t)
{
    std::size_t end = t.size();
    bool named = false;
    for (const std::u16string_view word : {std::u16string_view(u"号室"), std::u16string_view(u"室"), std::u16string_view(u"号")})
        if (EndsWith(t, word)) {
            end -= word.size();
            named = true;
            break;
        }
    std::size_t begin = end;
    if (begin > 1 && IsLetter(t[begin - 1]) && IsDigit(t[begin - 2])) --begin; // 101B
    bool digits = false;
    while (begin > 0 && (IsDigit(t[begin - 1]) || t[begin - 1] == u'-')) digits = IsDigit(t[--begin]) || digits;
    if (!digits) return {};
    // One letter before the number belongs to it (A101, A-101), two or more are a name (ABC101).
    const auto lone = [&](std::size_t at) { return at > 0 && IsLetter(t[at - 1]) && (at == 1 || !IsLetter(t[at - 2])); };
    if (t[begin] == u'-' && lone(begin)) --begin;
    while (begin < end && t[begin] == u'-') ++begin;
    if (lone(begin)) --begin;
    // Unnamed, the number must stand apart from a name written in Latin letters or digits.
    if (!named && begin > 0 && (IsLetter(t[begin - 1]) || IsDigit(t[begin - 1]))) return {};
    std::u16string room = t.substr(begin, end - begin);
    t.resize(begin);
    return room;
}

std::u16string Number(std::int32_t n)
{
    std::u16string out;
    for (const char c : std::to_string(n)) out.push_back(static_cast<char16_t>(c));
    return out;
}

std::u16string FloorText(std::u16string_view floor)
{
    if (floor == u"B") return u"地階";
    if (!floor.empty() && floor[0] == u'B') return u"地下" + std::u16string(floor.substr(1)) + u"階";
    return std::u16string(floor) + u"階";
}

} // namespace

void SplitNumber(const WrittenNumber& number, std::u16string_view townChome, AddressParts& parts)
{
    if (!townChome.empty()) parts.chome = townChome;
    int level = -1;
    for (std::size_t i = 0; i < number.numbers.size(); ++i) {
        int l = number.levels[i];
        if (l < 0) {
            if (level < 0) l = !townChome.empty() || number.numbers.size() - i < 3 ? kLevelBanchi : kLevelChome;
            else l = level == kLevelChiwari || level == kLevelChome ? kLevelBanchi : level + 1;
        }
        level = l;
        const std::u16string n = Number(number.numbers[i]);
        std::u16string* column = l == kLevelChiwari || l == kLevelChome ? &parts.chome
                                 : l == kLevelBanchi                   ? &parts.banchi
                                 : l == kLevelGo                       ? &parts.go
                                                                       : &parts.room;
        // The town's own 丁目 stays; a part written twice keeps its first number.
        if (!column->empty()) continue;
        *column = l == kLevelChiwari ? n + u"地割" : n;
    }
}

void SplitTail(std::u16string_view tail, AddressParts& parts)
{
    std::u16string t = Nfkc(tail);
    Trim(t);
    // From the end: a room (after its floor: 3F 301, 3階301号室), or a floor alone (3F); an
    // unnamed number is a room only where it is no floor.
    const bool named = EndsWith(t, u"室") || EndsWith(t, u"号");
    std::u16string floor = named ? std::u16string() : TakeFloor(t);
    std::u16string room;
    if (floor.empty()) {
        room = TakeRoom(t);
        Trim(t);
        if (!room.empty()) floor = TakeFloor(t);
    }
    Trim(t);
    if (parts.room.empty()) parts.room = std::move(room);
    if (parts.floor.empty()) parts.floor = std::move(floor);
    bool name = false;
    for (const char16_t c : t) name = name || IsNameCharacter(c);
    if (name) parts.building = std::move(t);
    else if (!t.empty()) parts.rest = std::move(t);
}

std::u16string TownChome(std::u16string_view town)
{
    if (!EndsWith(town, u"丁目")) return {};
    const std::size_t end = town.size() - 2;
    const std::size_t begin = DigitsBefore(town, end);
    return std::u16string(town.substr(begin, end - begin));
}

std::u16string FloorOfEntry(std::u16string_view floorText)
{
    const std::u16string t = Nfkc(floorText);
    std::u16string digits;
    for (const char16_t c : t) {
        if (IsDigit(c)) digits.push_back(c);
        else if (!digits.empty()) break;
    }
    return digits;
}

std::u16string NormalizedAddress(const Entry& e, const AddressParts& p, bool townHoldsChome)
{
    std::u16string out = e.prefecture + e.city + std::u16string(e.TownProper());
    bool more = false;
    if (p.HasNumber()) {
        if (!p.chome.empty() && !townHoldsChome) out += EndsWith(p.chome, u"地割") ? u"第" + p.chome : p.chome + u"丁目";
        if (!p.banchi.empty()) out += p.go.empty() ? p.banchi + u"番地" : p.banchi + u"-" + p.go;
        else if (!p.go.empty()) out += p.go + u"号";
        more = true;
    } else if (e.IsOffice() && !e.street.empty()) {
        out += e.street;
        more = true;
    }
    std::u16string after = p.building;
    if (!p.floor.empty()) after += FloorText(p.floor);
    if (!p.room.empty()) after += (after.empty() ? u"" : u" ") + p.room + u"号室";
    if (!after.empty()) {
        out += u" " + after;
        more = true;
    }
    if (!p.rest.empty()) out += (more ? u" " : u"") + p.rest;
    return Nfkc(out);
}

} // namespace ubin
