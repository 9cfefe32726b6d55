#include "present/find_json.h"

#include <cstdio>

#include "base/cp932.h"
#include "base/romaji.h"

namespace ubin {

namespace {

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

std::u16string TownRaw(const Entry& e)
{
    if (e.IsOffice() || e.detail.empty()) return e.town;
    return e.town + u"（" + e.detail + u"）";
}

std::u16string CleanAddress(const Entry& e)
{
    if (e.IsOffice()) return e.prefecture + e.city + e.town + e.street;
    if (!e.hasNote) return e.prefecture + e.city + TownRaw(e);
    std::u16string a = e.prefecture + e.city + std::u16string(e.TownProper()) + e.building;
    if (e.noteKind == NoteKind::Floor) a += e.floor == u"地階・階層不明" ? u"（" + e.floor + u"）" : e.floor;
    if (!e.noteText.empty()) a += u"（" + e.noteText + u"）";
    return a;
}

std::string Romaji(const Entry& e)
{
    // A catch-all entry names no town; an office's town has no reading of its own.
    const bool town = !IsRestOfCity(e) && !e.IsOffice();
    return RomanizedAddress(e.prefectureKana, e.prefecture, e.cityKana, e.city, town ? e.townKana : u"",
                            town ? e.TownProper() : u"");
}

nlohmann::ordered_json FindResultJson(const Entry& e)
{
    const auto orNull = [](const std::u16string& text) -> nlohmann::ordered_json {
        return text.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(ToUtf8(text));
    };
    nlohmann::ordered_json j;
    j["postal_code"] = ToUtf8(e.postalCode);
    j["prefecture"] = ToUtf8(e.prefecture);
    j["city"] = ToUtf8(e.city);
    // The town proper where the directory has its notes: 丸の内 for 丸の内ＪＰタワー（３０階）,
    // empty for 以下に掲載がない場合; KEN_ALL's own text stays in town_raw.
    j["town"] = ToUtf8(e.TownProper());
    j["town_raw"] = ToUtf8(TownRaw(e));
    j["detail"] = ToUtf8(e.detail);
    if (e.hasNote && e.noteKind != NoteKind::None)
        j["note"] = {{"kind", NoteKindName(e.noteKind)}, {"text", ToUtf8(e.noteKind == NoteKind::Floor ? e.floor : e.noteText)}};
    else
        j["note"] = nullptr;
    j["building"] = orNull(e.building);
    j["floor"] = orNull(e.floor);
    j["prefecture_kana"] = ToUtf8(e.prefectureKana);
    j["city_kana"] = ToUtf8(e.cityKana);
    j["town_kana"] = ToUtf8(e.townKana);
    j["city_code"] = ToUtf8(e.cityCode);
    j["type"] = EntryTypeName(e.kind);
    if (e.IsOffice()) {
        j["office"] = ToUtf8(e.office);
        j["office_kana"] = ToUtf8(e.officeKana);
        j["street"] = ToUtf8(e.street);
    } else {
        j["office"] = nullptr;
        j["office_kana"] = nullptr;
        j["street"] = nullptr;
    }
    // Last, after the fields scripts read by position in the CSV.
    j["romaji"] = Romaji(e);
    return j;
}

const char* FindHint(const FindResult& r)
{
    if (r.total != 0) return nullptr;
    if (r.symbolsOnly)
        return "記号だけでは住所を探せません。郵便番号、住所、読み（かな・ローマ字）、事業所名のどれかを入力してください。";
    return nullptr;
}

std::string ChangeDate(std::int32_t day)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", day / 10000, day / 100 % 100, day % 100);
    return text;
}

nlohmann::ordered_json FindJson(std::string_view query, const FindResult& r)
{
    nlohmann::ordered_json j;
    j["query"] = std::string(query);
    j["match"] = FindMatchName(r.match);
    j["total"] = r.total;
    j["truncated"] = r.results.size() < r.total;
    if (r.match == FindMatch::Address) {
        j["level"] = AddressLevelName(r.level);
        j["rest"] = ToUtf8(r.rest);
    }
    // A code written before the address, and whether the first result has it.
    if (!r.writtenCode.empty()) {
        j["written_code"] = ToUtf8(r.writtenCode);
        j["code_agrees"] = !r.codeDisagrees;
    }
    if (!r.formerMunicipality.empty())
        j["former_municipality"] = {{"name", ToUtf8(r.formerMunicipality)}, {"changed", ChangeDate(r.formerUntil)}};
    j["results"] = nlohmann::ordered_json::array();
    for (const Entry& e : r.results) j["results"].push_back(FindResultJson(e));
    if (r.total == 0) {
        j["suggestions"] = nlohmann::ordered_json::array();
        for (const std::u16string& s : r.suggestions) j["suggestions"].push_back(ToUtf8(s));
        if (const char* hint = FindHint(r)) j["hint"] = hint;
    }
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
