#pragma once
// An area entry of a directory written as an address, as a person would write it: the round trip
// over KEN_ALL and the gold files of ubin eval write their addresses so.
#include "base/path_text.h"
#include "search/address.h"

#include <cstdint>
#include <string>

namespace ubin::test {

inline std::u16string Digits(std::int32_t n) { return FromUtf8(std::to_string(n)); }

// A house number written with its units: 第9地割, 3丁目, 400番地2.
inline std::u16string WriteNumber(const HouseNumber& n)
{
    static const char16_t* const kUnits[] = {u"地割", u"丁目", u"番地", u"号"};
    std::u16string out;
    for (int l = 0; l < kNumberLevels; ++l) {
        if (n[static_cast<std::size_t>(l)] == kNoNumber) continue;
        if (l == kLevelChiwari) out += u"第";
        out += Digits(n[static_cast<std::size_t>(l)]) + kUnits[l];
    }
    return out;
}

inline const HouseNumber& Inside(const NoteClause& c)
{
    const bool openLow = c.range.low == kNoHouseNumber;
    return openLow ? c.range.high : c.range.low;
}

// What a person would write for an entry, from its own parts (its town, a number inside its
// range, a floor of its building, one of its streets or named parts); empty when nothing written
// names it alone, with why in `why`.
inline std::u16string WrittenAddress(const AddressResolver& book, const AddressRecord& r, std::string* why = nullptr)
{
    const std::u16string place = book.PrefectureName(r.cityCode / 1000).value_or(u"") + book.CityName(r.cityCode).value_or(u"");
    switch (r.kind) {
    case NoteKind::RestOfCity:
        if (why) *why = "the city's catch-all";
        return {};
    case NoteKind::WholeCity: return place;
    case NoteKind::NumberFirst:
        for (const NoteClause& c : r.clauses)
            if (c.kind == ClauseKind::Numbers) return place + WriteNumber(Inside(c));
        return place + u"1番地";
    case NoteKind::None: case NoteKind::ExceptBuildings: return place + r.town + u"1-2";
    case NoteKind::Floor:
        return place + r.town + u"1-1" + r.building + (r.floor == kFloorUnknown ? u"" : Digits(r.floor) + u"階");
    case NoteKind::Plain:
        if (why) *why = "a note no rule reads";
        return {};
    default: break;
    }
    for (const NoteClause& c : r.clauses) {
        switch (c.kind) {
        case ClauseKind::Numbers: return place + r.town + WriteNumber(Inside(c));
        case ClauseKind::Street: return place + r.town + c.key;
        case ClauseKind::Name:
            if (c.key == u"大字") return place + c.key + r.town;
            return place + r.town + c.key + (c.range == NumberRange{} ? u"" : WriteNumber(Inside(c)));
        case ClauseKind::AnyChome: return place + r.town + u"1丁目";
        case ClauseKind::AnyBanchi: return place + r.town + u"1番地";
        default: break;
        }
    }
    return place + r.town; // その他 alone
}

} // namespace ubin::test
