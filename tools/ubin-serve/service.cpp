#include "tools/ubin-serve/service.h"

#include "base/cp932.h"
#include "base/normalize.h"
#include "base/text.h"
#include "tools/ubin-serve/request_text.h"
#include "present/find_batch.h"
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
// The most results one /v1/find reply holds, whatever `limit` asks (0, "all", included): a reply
// of every match of one kana would be megabytes. `total` still counts them all.
constexpr std::size_t kMaxFindLimit = 1000;
static_assert(kMaxQueryLength == 256, "message::kQueryTooLong names the longest query");

std::string U8(std::u16string_view text) { return ToUtf8(text); }

bool AllDigits(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

const std::string* Param(const Params& params, const std::string& name)
{
    const auto it = params.find(name);
    return it == params.end() ? nullptr : &it->second;
}

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
    const std::int32_t p = PrefectureOfCityCode(e.cityCode);
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
    return json::array({PrefectureOfCityCode(e.cityCode), U8(e.city), U8(ShownTown(e)), e.IsOffice() ? U8(e.street) : ""});
}

json JpostalRecord(const Entry& e)
{
    return json::array({"_" + U8(e.postalCode), U8(e.prefecture), U8(e.city), U8(ShownTown(e)),
                        e.IsOffice() ? U8(e.street) : "", e.IsOffice() ? U8(e.office) : "", U8(e.prefectureKana),
                        U8(e.cityKana), U8(ShownTownKana(e))});
}

ReplyCache::ReplyCache(std::size_t capacity) : partCapacity_((capacity + 31) / 32) {}

ReplyCache::Part& ReplyCache::PartOf(const std::string& key) const
{
    return parts_[std::hash<std::string>{}(key) % parts_.size()];
}

std::optional<std::string> ReplyCache::Find(const std::string& key) const
{
    if (partCapacity_ == 0) return std::nullopt;
    const Part& part = PartOf(key);
    std::shared_lock lock(part.mutex);
    const auto it = part.bodies.find(key);
    if (it == part.bodies.end()) return std::nullopt;
    return it->second;
}

void ReplyCache::Insert(const std::string& key, const std::string& body)
{
    if (partCapacity_ == 0) return;
    Part& part = PartOf(key);
    std::unique_lock lock(part.mutex);
    if (part.bodies.size() >= partCapacity_) part.bodies.clear();
    part.bodies.emplace(key, body);
}

Service::Service(LiveDirectory& directory, std::size_t cacheEntries, std::optional<int> maxAgeMonths)
    : directory_(directory), maxAgeMonths_(maxAgeMonths), cache_(cacheEntries)
{
}

std::vector<std::pair<std::string, std::string>> Service::ReplyHeaders() const
{
    return {{"X-Ubin-Edition", Current()->lookup->Edition().ShortText()}};
}

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
        if (U8(lookup.PrefectureName(p)) == segment) return p;
    return 0;
}

json PrefectureJson(const Lookup& lookup, std::int32_t p)
{
    return json{{"code", p}, {"name", U8(lookup.PrefectureName(p))}, {"kana", U8(lookup.PrefectureKana(p))}};
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
    std::vector<Entry> entries = lookup.FindByPostal(FromUtf8(digits));
    if (finder)
        for (Entry& e : entries) finder->AddNote(e);
    return entries;
}

// The query is checked before any search: text that is not UTF-8 (an overlong form, a
// surrogate), a control character or more than the longest query is refused with 400. Else
// none, and `query` holds the text.
std::optional<Reply> RefusedQuery(const std::string& q, std::u16string& query)
{
    if (!IsValidUtf8(q)) return ErrorReply(400, message::kBadUtf8);
    query = FromUtf8(q);
    try {
        CheckedSearchForm(query);
    } catch (const QueryError& e) {
        return ErrorReply(400, e.fault() == QueryFault::TooLong ? message::kQueryTooLong : message::kQueryControl);
    }
    return std::nullopt;
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
    return JsonReply(json{{"prefectures", std::move(list)}});
}

Reply Service::Cities(std::string_view prefecture) const
{
    const auto edition = Current();
    const Lookup& lookup = *edition->lookup;
    const std::int32_t p = PrefectureOf(lookup, prefecture);
    if (p == 0) return ErrorReply(404, message::kNoPrefecture);
    json list = json::array();
    for (const AreaItem& city : lookup.CitiesOf(p)) list.push_back(CityJson(lookup, city.number));
    return JsonReply(json{{"prefecture", PrefectureJson(lookup, p)}, {"cities", std::move(list)}});
}

Reply Service::Towns(std::string_view prefecture, std::string_view city) const
{
    const auto edition = Current();
    const Lookup& lookup = *edition->lookup;
    const std::int32_t p = PrefectureOf(lookup, prefecture);
    if (p == 0) return ErrorReply(404, message::kNoPrefecture);
    std::int32_t code = 0;
    for (const AreaItem& item : lookup.CitiesOf(p)) {
        if (U8(item.name) == city || U8(ZeroPad(5, item.number)) == city) {
            code = item.number;
            break;
        }
    }
    if (code == 0) return ErrorReply(404, message::kNoCity);

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
    return JsonReply(json{{"prefecture", PrefectureJson(lookup, p)}, {"city", CityJson(lookup, code)},
                          {"towns", std::move(towns)}});
}

Reply Service::YubinbangoData(std::string_view prefix) const
{
    // A prefix without codes is an empty object, not a missing file: the package then answers
    // its caller with empty fields instead of never answering.
    Reply r;
    r.contentType = kScriptType;
    r.cacheControl = kDataLifetime;
    const auto edition = Current();
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
    if (!edition->finder) return ErrorReply(404, message::kNoFind);
    const FindResult found = edition->finder->Find(query, limit);
    Reply r;
    r.cacheControl = kDataLifetime;
    r.body = FindJson(*q, found, edition->lookup->Edition()).dump(-1, ' ', false, json::error_handler_t::replace);
    return r;
}

std::optional<std::u16string> TypedAfter(std::u16string_view query, std::u16string_view outer, std::u16string_view name)
{
    const std::u16string nameForm = NameForm(name);
    if (nameForm.empty()) return std::nullopt;
    const std::u16string whole = NameForm(query);
    std::size_t from = 0;
    if (const std::u16string outerForm = NameForm(outer); !outerForm.empty())
        if (const std::size_t at = whole.find(outerForm); at != std::u16string::npos) from = at + outerForm.size();
    const std::size_t at = whole.find(nameForm, from);
    if (at == std::u16string::npos) return std::nullopt;
    // The shortest beginning of the query whose name form reaches the name's end, by halving:
    // a longer beginning has a name form at least as long (a rare folding that breaks this
    // fails the check below, and the name counts as not written).
    const std::size_t end = at + nameForm.size();
    std::size_t low = 1, high = query.size();
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (NameForm(query.substr(0, middle)).size() >= end) high = middle;
        else low = middle + 1;
    }
    // A name whose last character folds together with what follows it (a numeral) has no
    // beginning of the query that ends with it.
    if (!NameForm(query.substr(0, low)).str().ends_with(nameForm)) return std::nullopt;
    std::u16string_view after = query.substr(low);
    const auto blank = [](char16_t c) { return c == u' ' || c == u'\u3000' || c == u'\t'; };
    while (!after.empty() && blank(after.front())) after.remove_prefix(1);
    while (!after.empty() && blank(after.back())) after.remove_suffix(1);
    return std::u16string(after);
}

namespace {

constexpr std::size_t kDefaultSuggestLimit = 10;
// Every town of the code with the most of them (4520961 has 66).
constexpr std::size_t kMaxSuggestLimit = 100;
// An address read only as far as its city is looked for again among this many names holding
// what follows the city.
constexpr std::size_t kCityScan = 300;

bool IsDigitOrBlank(char16_t c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'０' && c <= u'９') || c == u' ' || c == u'\u3000';
}

// The text to look for when what was typed found nothing: the name nearest to it, with what
// followed the name (a house number, a building) kept. A name followed by a number has no near
// names of its own, so the name before the first digit or blank is tried alone.
std::optional<std::u16string> Correction(const Finder& finder, std::u16string_view query, const FindResult& found)
{
    if (!found.suggestions.empty()) return found.suggestions.front();
    const auto cut = std::find_if(query.begin(), query.end(), IsDigitOrBlank);
    if (cut == query.begin() || cut == query.end()) return std::nullopt;
    const std::size_t at = static_cast<std::size_t>(cut - query.begin());
    const FindResult name = finder.Find(query.substr(0, at), 1);
    if (name.total != 0 || name.suggestions.empty()) return std::nullopt;
    return name.suggestions.front() + std::u16string(query.substr(at));
}

// An address read only as far as its city with something left after it (港区六本 while 六本木
// is being typed: the 六 was read as a house number): the names of that city holding what was
// typed after the city. None when there are none.
std::optional<FindResult> WithinCity(const Finder& finder, std::u16string_view query, const FindResult& found)
{
    if (found.match != FindMatch::Address || found.level != AddressLevel::City || found.rest.empty() ||
        found.results.empty())
        return std::nullopt;
    const Entry& city = found.results.front();
    const std::optional<std::u16string> after = TypedAfter(query, city.prefecture, city.city);
    if (!after || after->empty()) return std::nullopt;
    FindResult named = finder.Find(*after, kCityScan);
    std::erase_if(named.results, [&](const Entry& e) { return e.cityCode != city.cityCode || IsRestOfCity(e); });
    if (named.results.empty()) return std::nullopt;
    named.total = named.results.size();
    return named;
}

// A building and its floor as a form's building field takes them (地階・階層不明, the basement or
// a floor not known, is no floor to write).
std::u16string BuildingOf(const Entry& e)
{
    if (e.IsOffice() || e.building.empty()) return {};
    return e.floor == u"地階・階層不明" ? e.building : e.building + e.floor;
}

nlohmann::ordered_json SuggestResult(const Entry& e, const std::u16string& rest)
{
    nlohmann::ordered_json j;
    std::u16string label = CleanAddress(e);
    if (e.IsOffice()) label += u" " + e.office;
    j["label"] = U8(label);
    j["postal_code"] = U8(e.postalCode);
    j["prefecture"] = U8(e.prefecture);
    j["prefecture_code"] = PrefectureOfCityCode(e.cityCode);
    j["city"] = U8(e.city);
    j["town"] = IsRestOfCity(e) ? std::string() : U8(e.TownProper());
    j["street"] = e.IsOffice() ? U8(e.street) : std::string();
    j["building"] = U8(BuildingOf(e));
    j["company"] = e.IsOffice() ? U8(e.office) : std::string();
    // Readings in full-width katakana, as forms ask for them (the directory's are half-width).
    j["prefecture_kana"] = U8(Nfkc(e.prefectureKana));
    j["city_kana"] = U8(Nfkc(e.cityKana));
    j["town_kana"] = e.IsOffice() || IsRestOfCity(e) ? std::string() : U8(Nfkc(e.townKana));
    j["company_kana"] = e.IsOffice() ? U8(Nfkc(e.officeKana)) : std::string();
    j["type"] = EntryTypeName(e.kind);
    j["rest"] = U8(rest);
    return j;
}

} // namespace

Reply Service::Suggest(const Params& params) const
{
    const std::string* q = Param(params, "q");
    if (!q || q->empty()) return ErrorReply(400, message::kMissingQuery);
    std::size_t limit = kDefaultSuggestLimit;
    if (const std::string* l = Param(params, "limit")) {
        if (!AllDigits(*l) || l->size() > 9 || std::stoul(*l) == 0) return ErrorReply(400, message::kBadLimit);
        limit = std::min<std::size_t>(std::stoul(*l), kMaxSuggestLimit);
    }
    std::u16string query;
    if (std::optional<Reply> refused = RefusedQuery(*q, query)) return std::move(*refused);
    const auto edition = Current();
    if (!edition->finder) return ErrorReply(404, message::kNoFind);
    Reply r;
    r.cacheControl = kDataLifetime;
    // The same beginnings are typed by every visitor of a form: their replies are kept.
    const std::string key = edition->build + "/suggest/" + std::to_string(limit) + "/" + *q;
    if (std::optional<std::string> body = cache_.Find(key)) {
        r.body = std::move(*body);
        return r;
    }
    const Finder& finder = *edition->finder;
    // Twice the limit: entries a form cannot tell apart are one result.
    const std::size_t wanted = std::min(2 * limit, kMaxFindLimit);
    FindResult found = finder.Find(query, wanted);
    std::u16string searched = query;
    std::optional<std::u16string> corrected;
    if (found.total == 0) {
        if (std::optional<std::u16string> near = Correction(finder, query, found)) {
            FindResult again = finder.Find(*near, wanted);
            if (again.total != 0) {
                found = std::move(again);
                searched = *near;
                corrected = std::move(near);
            }
        }
    } else if (std::optional<FindResult> named = WithinCity(finder, query, found)) {
        found = std::move(*named);
    }

    nlohmann::ordered_json results = nlohmann::ordered_json::array();
    std::set<std::string> seen;
    std::map<std::u16string, std::u16string> restOfTown; // each town looked for once
    const std::u16string finderRest = found.rest;
    for (const Entry& e : found.results) {
        std::u16string rest;
        if (found.match != FindMatch::Postal) {
            const std::u16string town = IsRestOfCity(e) ? std::u16string() : std::u16string(e.TownProper());
            const auto kept = restOfTown.find(e.city + u"\n" + town);
            if (kept != restOfTown.end()) {
                rest = kept->second;
            } else {
                rest = TypedAfter(searched, e.city, town).value_or(finderRest);
                restOfTown.emplace(e.city + u"\n" + town, rest);
            }
        }
        nlohmann::ordered_json result = SuggestResult(e, rest);
        if (!seen.insert(result.dump()).second) continue;
        results.push_back(std::move(result));
        if (results.size() == limit) break;
    }
    nlohmann::ordered_json reply;
    reply["query"] = *q;
    reply["corrected"] = corrected ? nlohmann::ordered_json(U8(*corrected)) : nlohmann::ordered_json();
    reply["match"] = FindMatchName(found.match);
    reply["total"] = found.total;
    reply["results"] = std::move(results);
    if (found.total == 0) {
        reply["suggestions"] = nlohmann::ordered_json::array();
        for (const std::u16string& s : found.suggestions) reply["suggestions"].push_back(U8(s));
        if (const char* hint = FindHint(found)) reply["hint"] = hint;
    }
    r.body = reply.dump(-1, ' ', false, json::error_handler_t::replace);
    cache_.Insert(key, r.body);
    return r;
}

Reply Service::FindBatch(std::string_view body) const
{
    static_assert(kMaxBatchLines == 10000 && kMaxBatchBytes == 1 << 20, "message::kBatchTooLarge names the limits");
    if (body.size() > kMaxBatchBytes) return ErrorReply(413, message::kBatchTooLarge);
    if (body.starts_with("\xEF\xBB\xBF")) body.remove_prefix(3);
    // A line break at the end ends the last line rather than starting another.
    if (body.ends_with('\n')) body.remove_suffix(1);
    std::vector<BatchLine> lines;
    while (!body.empty()) {
        if (lines.size() == kMaxBatchLines) return ErrorReply(413, message::kBatchTooLarge);
        const std::size_t end = body.find('\n');
        std::string_view line = body.substr(0, end);
        if (line.ends_with('\r')) line.remove_suffix(1);
        lines.push_back(DecodeBatchLine(lines.size() + 1, line, false));
        body = end == std::string_view::npos ? std::string_view() : body.substr(end + 1);
    }
    const auto edition = Current();
    if (!edition->finder) return ErrorReply(404, message::kNoFind);
    nlohmann::ordered_json results = nlohmann::ordered_json::array();
    // One thread: the server answers its requests on every core already.
    AnswerInOrder(*edition->finder, lines, 1, [&](const BatchLine& line, const BatchAnswer& answer) {
        results.push_back(BatchAnswerJson(line, answer));
    });
    const DirectoryEdition& data = edition->lookup->Edition();
    Reply r;
    nlohmann::ordered_json reply;
    reply["edition"] = data.month ? nlohmann::ordered_json(FormatYearMonth(*data.month)) : nlohmann::ordered_json();
    reply["results"] = std::move(results);
    r.body = reply.dump(-1, ' ', false, json::error_handler_t::replace);
    return r;
}

Reply Service::Health() const
{
    const auto edition = Current();
    const Capabilities c{edition->lookup->HasOffices(), edition->finder != nullptr};
    const DirectoryEdition& data = edition->lookup->Edition();
    const bool stale = maxAgeMonths_ && data.OlderThan(*maxAgeMonths_, MonthOf(std::chrono::system_clock::now()));
    return JsonReply(json{{"status", "ok"},
                          {"entries", edition->lookup->EntryCount()},
                          {"capabilities", {{"offices", c.offices}, {"find", c.find}}},
                          {"edition", data.month ? json(FormatYearMonth(*data.month)) : json()},
                          {"edition_guessed", data.guessed},
                          {"stale", stale}},
                     kNoStore);
}

} // namespace ubin::serve
