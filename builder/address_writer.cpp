#include "builder/address_writer.h"

#include "base/cp932.h"
#include "builder/prefectures.h"
#include "builder/town_notes.h"

#include <string>
#include <unordered_set>

namespace ubin {

namespace {

std::u16string CityTownKey(std::int32_t cityCode, std::u16string_view town)
{
    std::u16string key(reinterpret_cast<const char16_t*>(&cityCode), 2);
    return key.append(town);
}

} // namespace

AddressNotes MakeAddressNotes(const KenAllData& data, const std::vector<std::size_t>& entryOrder)
{
    AddressNotes out;
    for (std::size_t p = 0; p < kPrefectures.size(); ++p)
        out.file.prefectures.push_back({static_cast<std::int32_t>(p + 1), std::u16string(kPrefectures[p].name)});
    for (const auto& [code, city] : data.cities) out.file.cities.push_back({code, DecodeCp932(city.name)});

    std::unordered_set<std::u16string> towns;
    std::vector<std::u16string> names(data.entries.size());
    for (std::size_t i = 0; i < data.entries.size(); ++i) {
        names[i] = DecodeCp932(data.entries[i].townName);
        towns.insert(CityTownKey(data.entries[i].cityCode, names[i]));
    }
    out.file.records.reserve(entryOrder.size());
    for (std::size_t k = 0; k < entryOrder.size(); ++k) {
        const KenAllEntry& e = data.entries[entryOrder[k]];
        const std::u16string city = DecodeCp932(data.cities.at(e.cityCode).name);
        const auto isTown = [&](std::u16string_view name) { return towns.contains(CityTownKey(e.cityCode, name)); };
        AddressRecord r = ReadTownNote(city, names[entryOrder[k]], DecodeCp932(e.detail), isTown);
        r.entry = static_cast<std::int32_t>(k + 1);
        r.cityCode = e.cityCode;
        if (HasUnreadNote(r)) ++out.unread;
        out.file.records.push_back(std::move(r));
    }
    return out;
}

} // namespace ubin
