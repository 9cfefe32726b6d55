// GET /v1/suggest: what a web form offers while an address is typed.
#include "tools/ubin-serve/params.h"
#include "tools/ubin-serve/service.h"

#include "base/cp932.h"
#include "base/normalize.h"
#include "present/find_json.h"
#include "tools/ubin-serve/request_text.h"

#include <algorithm>
#include <map>
#include <set>

namespace ubin::serve {

using nlohmann::json;

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
    j["prefecture_code"] = PrefectureOfCityCode(e.cityCode).value_or(0); // 0: the code names none
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
    r.edition = EditionName(*edition);
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

} // namespace ubin::serve
