#include "tools/ubin/find_json.h"

#include "base/cp932.h"

namespace ubin {

namespace {

std::string U8(std::u16string_view text) { return ToUtf8(text); }

} // namespace

const char* EntryTypeName(EntryKind kind)
{
    switch (kind) {
    case EntryKind::Area: return "area";
    case EntryKind::Office: return "office";
    case EntryKind::PoBox: return "pobox";
    }
    return "area";
}

nlohmann::ordered_json FindResultJson(const Entry& e)
{
    nlohmann::ordered_json j;
    j["postal_code"] = U8(e.postalCode);
    j["prefecture"] = U8(e.prefecture);
    j["city"] = U8(e.city);
    j["town"] = U8(e.town);
    j["detail"] = U8(e.detail);
    j["prefecture_kana"] = U8(e.prefectureKana);
    j["city_kana"] = U8(e.cityKana);
    j["town_kana"] = U8(e.townKana);
    j["city_code"] = U8(e.cityCode);
    j["type"] = EntryTypeName(e.kind);
    if (e.IsOffice()) {
        j["office"] = U8(e.office);
        j["office_kana"] = U8(e.officeKana);
        j["street"] = U8(e.street);
    } else {
        j["office"] = nullptr;
        j["office_kana"] = nullptr;
        j["street"] = nullptr;
    }
    return j;
}

nlohmann::ordered_json FindJson(std::string_view query, const FindResult& r)
{
    nlohmann::ordered_json j;
    j["query"] = std::string(query);
    j["match"] = FindMatchName(r.match);
    j["total"] = r.total;
    j["results"] = nlohmann::ordered_json::array();
    for (const Entry& e : r.results) j["results"].push_back(FindResultJson(e));
    return j;
}

nlohmann::ordered_json FindJson(std::string_view query, const FindResult& r, const DirectoryEdition& edition)
{
    nlohmann::ordered_json j;
    j["edition"] = edition.month ? nlohmann::ordered_json(FormatYearMonth(*edition.month)) : nlohmann::ordered_json();
    j["edition_guessed"] = edition.guessed;
    nlohmann::ordered_json rest = FindJson(query, r);
    for (auto& [key, value] : rest.items()) j[key] = std::move(value);
    return j;
}

} // namespace ubin
