#include "tools/ubin-serve/service.h"

#include "tools/ubin-serve/params.h"

#include "base/cp932.h"
#include "base/normalize.h"
#include "base/text.h"
#include "tools/ubin-serve/request_text.h"
#include "present/find_json.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <set>

namespace ubin::serve {

namespace {

using nlohmann::json;

constexpr std::size_t kDefaultLimit = 20;
constexpr std::size_t kDefaultFindLimit = 100; // as ubin find
static_assert(kMaxQueryLength == 256, "message::kQueryTooLong names the longest query");

// A town as a web form fills it in: the city's catch-all entry (以下に掲載がない場合) has none.
std::u16string_view ShownTown(const Entry& e) { return IsRestOfCity(e) ? std::u16string_view() : e.town; }
std::u16string_view ShownTownKana(const Entry& e) { return IsRestOfCity(e) ? std::u16string_view() : std::u16string_view(e.townKana); }

Reply JsonReply(const json& body, const char* cacheControl = kDataLifetime)
{
    Reply r;
    r.cacheControl = cacheControl;
    r.body = JsonText(body);
    return r;
}

// A reply whose body the edition made names it.
Reply Stamped(Reply r, const Edition& edition)
{
    r.edition = EditionName(edition);
    return r;
}

// The body of /api/search: results null when nothing matched, message null unless an error.
json ApiSearchBody(int status, const char* message, json results)
{
    return json{{"message", message ? json(message) : json(nullptr)}, {"results", std::move(results)}, {"status", status}};
}

} // namespace

std::string JsonText(const nlohmann::json& value)
{
    // The directory's texts are all UTF-8 after decoding; a replacement character would show a
    // fault rather than end the reply.
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

Reply ErrorReply(int status, std::string_view message)
{
    Reply r;
    r.status = status;
    r.body = JsonText(json{{"message", message}, {"status", status}});
    return r;
}

json ApiSearchResult(const Entry& e)
{
    const std::int32_t p = PrefectureOfCityCode(e.cityCode).value_or(0); // "0": the code names none
    const std::u16string town = e.IsOffice() ? e.town + e.street + e.office : std::u16string(ShownTown(e));
    const std::u16string_view townKana = e.IsOffice() ? std::u16string_view(e.officeKana) : ShownTownKana(e);
    return json{
        {"address1", U8(e.prefecture)}, {"address2", U8(e.city)},          {"address3", U8(town)},
        {"kana1", U8(e.prefectureKana)}, {"kana2", U8(e.cityKana)},        {"kana3", U8(townKana)},
        {"prefcode", std::to_string(p)}, {"zipcode", U8(e.postalCode)},
    };
}

json YubinbangoRecord(const Entry& e)
{
    return json::array({PrefectureOfCityCode(e.cityCode).value_or(0), U8(e.city), U8(ShownTown(e)), e.IsOffice() ? U8(e.street) : ""});
}

json JpostalRecord(const Entry& e)
{
    return json::array({"_" + U8(e.postalCode), U8(e.prefecture), U8(e.city), U8(ShownTown(e)),
                        e.IsOffice() ? U8(e.street) : "", e.IsOffice() ? U8(e.office) : "", U8(e.prefectureKana),
                        U8(e.cityKana), U8(ShownTownKana(e))});
}

Service::Service(LiveDirectory& directory, std::size_t cacheEntries, std::optional<int> maxAgeMonths)
    : directory_(directory), maxAgeMonths_(maxAgeMonths), cache_(cacheEntries)
{
}

std::string EditionName(const Edition& edition) { return edition.lookup->Edition().ShortText(); }

Capabilities Service::capabilities() const
{
    const auto edition = Current();
    return Capabilities{edition->lookup->HasOffices(), edition->finder != nullptr};
}

namespace {

// The prefecture a path segment names (1..47), or 0.
std::int32_t PrefectureOf(const Lookup& lookup, std::string_view segment)
{
    if (AllDigits(segment) && segment.size() <= 2) {
        const std::int32_t p = std::stoi(std::string(segment));
        return p >= 1 && p <= kPrefectureCount ? p : 0;
    }
    for (std::int32_t p = 1; p <= kPrefectureCount; ++p)
        if (U8(*lookup.PrefectureName(p)) == segment) return p;
    return 0;
}

json PrefectureJson(const Lookup& lookup, std::int32_t p)
{
    return json{{"code", p}, {"name", U8(*lookup.PrefectureName(p))}, {"kana", U8(*lookup.PrefectureKana(p))}};
}

json CityJson(const Lookup& lookup, std::int32_t code)
{
    const std::optional<AreaLine> line = lookup.ReadCity(code);
    return json{{"code", U8(ZeroPad(5, code))},
                {"name", line ? U8(FirstWord(line->name)) : ""},
                {"kana", line ? U8(line->kana) : ""}};
}

// Every entry of a code, or of a code's beginning, as every program looks it up (area entries
// before the offices of a code), the area entries with their notes.
std::vector<Entry> EntriesOf(const Lookup& lookup, const Finder* finder, const std::string& digits)
{
    return finder ? finder->FindPostalEntries(FromUtf8(digits)) : lookup.FindPostalEntries(FromUtf8(digits));
}


} // namespace

Reply Service::ApiSearch(const Params& params) const
{
    const std::string* callback = Param(params, "callback");
    // jQuery 4 sends the placeholder of $.getJSON's JSONP as it is written: a plain JSON reply
    // (which CORS lets a page of an allowed origin read) answers it.
    if (callback && *callback == "?") callback = nullptr;
    if (callback && !IsJavaScriptIdentifier(*callback)) {
        Reply r;
        r.status = 400;
        r.body = JsonText(ApiSearchBody(400, message::kBadCallback, nullptr));
        return r;
    }
    // A refusal as JSON with its status, or as JSONP with 200: a script element cannot read
    // the status, its callback can.
    const auto refuse = [&](const char* text) {
        Reply r;
        r.body = JsonText(ApiSearchBody(400, text, nullptr));
        if (callback) {
            r.contentType = kScriptType;
            r.body = *callback + "(" + r.body + ")";
        } else {
            r.status = 400;
        }
        return r;
    };

    std::size_t limit = kDefaultLimit;
    if (const std::string* l = Param(params, "limit")) {
        if (!AllDigits(*l) || l->size() > 9 || std::stoul(*l) == 0) return refuse(message::kBadLimit);
        limit = std::stoul(*l);
    }
    const std::string* zipcode = Param(params, "zipcode");
    if (!zipcode || zipcode->empty()) return refuse(message::kMissingZipcode);
    std::string digits = *zipcode;
    std::erase(digits, '-');
    if (digits.size() != 7 || !AllDigits(digits)) return refuse(message::kZipcodeDigits);

    const auto edition = Current();
    const std::string key = edition->build + "/search/" + digits + "/" + std::to_string(limit);
    Reply r;
    r.cacheControl = kDataLifetime;
    r.edition = EditionName(*edition);
    if (std::optional<std::string> body = cache_.Find(key)) {
        r.body = std::move(*body);
    } else {
        // Entries of one code that a form cannot tell apart (the same town with another
        // detail) are one result.
        json results = json::array();
        for (const Entry& e : EntriesOf(*edition->lookup, edition->finder.get(), digits)) {
            json result = ApiSearchResult(e);
            if (std::find(results.begin(), results.end(), result) == results.end()) results.push_back(std::move(result));
            if (results.size() == limit) break;
        }
        r.body = JsonText(ApiSearchBody(200, nullptr, results.empty() ? json(nullptr) : std::move(results)));
        cache_.Insert(key, r.body);
    }
    if (callback) {
        r.contentType = kScriptType;
        r.body = *callback + "(" + r.body + ")";
    }
    return r;
}

Reply Service::Prefectures() const
{
    const auto edition = Current();
    const Lookup& lookup = *edition->lookup;
    json list = json::array();
    for (const AreaItem& item : lookup.Prefectures()) list.push_back(PrefectureJson(lookup, item.number));
    return Stamped(JsonReply(json{{"prefectures", std::move(list)}}), *edition);
}

Reply Service::Cities(std::string_view prefecture) const
{
    const auto edition = Current();
    const Lookup& lookup = *edition->lookup;
    const std::int32_t p = PrefectureOf(lookup, prefecture);
    if (p == 0) return Stamped(ErrorReply(404, message::kNoPrefecture), *edition);
    json list = json::array();
    for (const AreaItem& city : lookup.CitiesOf(p)) list.push_back(CityJson(lookup, city.number));
    return Stamped(JsonReply(json{{"prefecture", PrefectureJson(lookup, p)}, {"cities", std::move(list)}}), *edition);
}

Reply Service::Towns(std::string_view prefecture, std::string_view city) const
{
    const auto edition = Current();
    const Lookup& lookup = *edition->lookup;
    const std::int32_t p = PrefectureOf(lookup, prefecture);
    if (p == 0) return Stamped(ErrorReply(404, message::kNoPrefecture), *edition);
    std::int32_t code = 0;
    for (const AreaItem& item : lookup.CitiesOf(p)) {
        if (U8(item.name) == city || U8(ZeroPad(5, item.number)) == city) {
            code = item.number;
            break;
        }
    }
    if (code == 0) return Stamped(ErrorReply(404, message::kNoCity), *edition);

    // The city's entries in the order of the lists; the entries of a town with several lie
    // together and become its sub-areas, each with its own code.
    json towns = json::array();
    std::u16string previousTown;
    for (const AreaItem& item : lookup.TownsOf(ZeroPad(5, code)).towns) {
        const Entry e = lookup.ReadEntry(item.number);
        const json subArea{{"name", U8(FirstWord(e.detail))}, {"detail", U8(e.detail)}, {"postal_code", U8(e.postalCode)}};
        if (e.HasSubAreas() && !towns.empty() && e.town == previousTown && !towns.back()["sub_areas"].empty()) {
            towns.back()["sub_areas"].push_back(subArea);
            continue;
        }
        previousTown = e.town;
        json town{{"name", U8(e.town)}, {"kana", U8(e.townKana)}};
        if (e.HasSubAreas()) {
            town["postal_code"] = nullptr;
            town["detail"] = nullptr;
            town["sub_areas"] = json::array({subArea});
        } else {
            town["postal_code"] = U8(e.postalCode);
            town["detail"] = U8(e.detail);
            town["sub_areas"] = json::array();
        }
        towns.push_back(std::move(town));
    }
    return Stamped(JsonReply(json{{"prefecture", PrefectureJson(lookup, p)}, {"city", CityJson(lookup, code)},
                                  {"towns", std::move(towns)}}),
                   *edition);
}

Reply Service::YubinbangoData(std::string_view prefix) const
{
    // A prefix without codes is an empty object, not a missing file: the package then answers
    // its caller with empty fields instead of never answering.
    Reply r;
    r.contentType = kScriptType;
    r.cacheControl = kDataLifetime;
    const auto edition = Current();
    r.edition = EditionName(*edition);
    const std::string key = edition->build + "/yubinbango/" + std::string(prefix);
    if (std::optional<std::string> body = cache_.Find(key)) {
        r.body = std::move(*body);
        return r;
    }
    // A code's first area entry, or, for a code of an office alone, the office.
    json codes = json::object();
    for (const Entry& e : EntriesOf(*edition->lookup, edition->finder.get(), std::string(prefix))) {
        const std::string code = U8(e.postalCode);
        if (!codes.contains(code)) codes[code] = YubinbangoRecord(e);
    }
    r.body = "$yubin(" + JsonText(codes) + ")";
    cache_.Insert(key, r.body);
    return r;
}

Reply Service::JpostalData(std::string_view prefix) const
{
    Reply r;
    r.contentType = kScriptType;
    r.cacheControl = kDataLifetime;
    const auto edition = Current();
    r.edition = EditionName(*edition);
    const std::string key = edition->build + "/jpostal/" + std::string(prefix);
    if (std::optional<std::string> body = cache_.Find(key)) {
        r.body = std::move(*body);
        return r;
    }
    json records = json::array();
    std::set<std::string> codes;
    std::optional<json> shared; // the prefix's record: what every town under it has in common
    for (const Entry& e : EntriesOf(*edition->lookup, edition->finder.get(), std::string(prefix))) {
        json record = JpostalRecord(e);
        if (e.IsOffice()) {
            // An office's code is its own; the prefix's area is told by the towns alone.
        } else if (!shared) {
            shared = json::array({"_" + std::string(prefix), record[1], record[2], "", "", "", record[6], record[7], ""});
        } else {
            // jquery.jpostal fills the prefix's record while fewer than 7 digits are typed: a
            // city that differs between the codes is left empty rather than guessed.
            for (const int field : {1, 6, 2, 7})
                if ((*shared)[field] != record[field]) (*shared)[field] = "";
            if ((*shared)[1] == "") (*shared)[2] = (*shared)[7] = "";
        }
        if (codes.insert(U8(e.postalCode)).second) records.push_back(std::move(record));
    }
    if (shared) records.push_back(std::move(*shared));
    r.body = "jQuery_jpostal_callback(" + JsonText(records) + ");";
    cache_.Insert(key, r.body);
    return r;
}

Reply Service::Find(const Params& params) const
{
    const std::string* q = Param(params, "q");
    if (!q || q->empty()) return ErrorReply(400, message::kMissingQuery);
    std::size_t limit = kDefaultFindLimit;
    if (const std::string* l = Param(params, "limit")) {
        if (!AllDigits(*l) || l->size() > 9) return ErrorReply(400, message::kBadLimit);
        limit = std::stoul(*l);
    }
    if (limit == 0 || limit > kMaxFindLimit) limit = kMaxFindLimit;
    std::u16string query;
    if (std::optional<Reply> refused = RefusedQuery(*q, query)) return std::move(*refused);
    const auto edition = Current();
    if (!edition->finder) return Stamped(ErrorReply(404, message::kNoFind), *edition);
    const FindResult found = edition->finder->Find(query, limit);
    Reply r;
    r.cacheControl = kDataLifetime;
    r.edition = EditionName(*edition);
    r.body = FindJson(*q, found, edition->lookup->Edition()).dump(-1, ' ', false, json::error_handler_t::replace);
    return r;
}

Reply Service::Health() const
{
    const auto edition = Current();
    const Capabilities c{edition->lookup->HasOffices(), edition->finder != nullptr};
    const DirectoryEdition& data = edition->lookup->Edition();
    const bool stale = maxAgeMonths_ && data.OlderThan(*maxAgeMonths_, MonthOf(std::chrono::system_clock::now()));
    Reply r = JsonReply(json{{"status", "ok"},
                             {"entries", edition->lookup->EntryCount()},
                             {"capabilities", {{"offices", c.offices}, {"find", c.find}}},
                             {"edition", data.month ? json(FormatYearMonth(*data.month)) : json()},
                             {"edition_guessed", data.guessed},
                             {"stale", stale}},
                        kNoStore);
    return Stamped(std::move(r), *edition);
}

} // namespace ubin::serve
