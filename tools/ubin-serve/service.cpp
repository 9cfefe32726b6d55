#include "tools/ubin-serve/service.h"

#include "base/cp932.h"
#include "base/text.h"
#include "tools/ubin-serve/request_text.h"

#include <algorithm>

namespace ubin::serve {

namespace {

using nlohmann::json;

constexpr std::size_t kDefaultLimit = 20;
// The town name of an entry that stands for the rest of its city.
constexpr std::u16string_view kUnlistedTown = u"以下に掲載がない場合";

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

// The prefecture number in the first two digits of a 5-digit city code.
std::int32_t PrefectureOfCity(std::u16string_view cityCode)
{
    std::int32_t p = 0;
    return NumericValue32(cityCode.substr(0, 2), p) ? p : 0;
}

// A town as a web form fills it in: 以下に掲載がない場合 is no town.
std::u16string_view ShownTown(const Entry& e) { return e.town == kUnlistedTown ? std::u16string_view() : e.town; }
std::u16string_view ShownTownKana(const Entry& e)
{
    return e.town == kUnlistedTown ? std::u16string_view() : std::u16string_view(e.townKana);
}

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
    const std::int32_t p = PrefectureOfCity(e.cityCode);
    return json{
        {"address1", U8(e.prefecture)}, {"address2", U8(e.city)},          {"address3", U8(ShownTown(e))},
        {"kana1", U8(e.prefectureKana)}, {"kana2", U8(e.cityKana)},        {"kana3", U8(ShownTownKana(e))},
        {"prefcode", std::to_string(p)}, {"zipcode", U8(e.postalCode)},
    };
}

json YubinbangoRecord(const Entry& e)
{
    return json::array({PrefectureOfCity(e.cityCode), U8(e.city), U8(ShownTown(e)), ""});
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

Service::Service(const Lookup& lookup, Capabilities capabilities, std::size_t cacheEntries)
    : lookup_(lookup), capabilities_(capabilities), cache_(cacheEntries)
{
}

Reply Service::ApiSearch(const Params& params) const
{
    const std::string* callback = Param(params, "callback");
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

    const std::string key = "search/" + digits + "/" + std::to_string(limit);
    Reply r;
    r.cacheControl = kDataLifetime;
    if (std::optional<std::string> body = cache_.Find(key)) {
        r.body = std::move(*body);
    } else {
        // Entries of one code that a form cannot tell apart (the same town with another
        // detail) are one result.
        json results = json::array();
        for (const Entry& e : lookup_.FindPostal(FromUtf8(digits))) {
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

std::int32_t Service::PrefectureOf(std::string_view segment) const
{
    if (AllDigits(segment) && segment.size() <= 2) {
        const std::int32_t p = std::stoi(std::string(segment));
        return p >= 1 && p <= kPrefectureCount ? p : 0;
    }
    for (std::int32_t p = 1; p <= kPrefectureCount; ++p)
        if (U8(lookup_.PrefectureName(p)) == segment) return p;
    return 0;
}

json Service::PrefectureJson(std::int32_t p) const
{
    return json{{"code", p}, {"name", U8(lookup_.PrefectureName(p))}, {"kana", U8(lookup_.PrefectureKana(p))}};
}

json Service::CityJson(std::int32_t code) const
{
    const std::optional<AreaLine> line = lookup_.ReadCity(code);
    return json{{"code", U8(ZeroPad(5, code))},
                {"name", line ? U8(FirstWord(line->name)) : ""},
                {"kana", line ? U8(line->kana) : ""}};
}

Reply Service::Prefectures() const
{
    json list = json::array();
    for (const AreaItem& item : lookup_.Prefectures()) list.push_back(PrefectureJson(item.number));
    return JsonReply(json{{"prefectures", std::move(list)}});
}

Reply Service::Cities(std::string_view prefecture) const
{
    const std::int32_t p = PrefectureOf(prefecture);
    if (p == 0) return ErrorReply(404, message::kNoPrefecture);
    json list = json::array();
    for (const AreaItem& city : lookup_.CitiesOf(p)) list.push_back(CityJson(city.number));
    return JsonReply(json{{"prefecture", PrefectureJson(p)}, {"cities", std::move(list)}});
}

Reply Service::Towns(std::string_view prefecture, std::string_view city) const
{
    const std::int32_t p = PrefectureOf(prefecture);
    if (p == 0) return ErrorReply(404, message::kNoPrefecture);
    std::int32_t code = 0;
    for (const AreaItem& item : lookup_.CitiesOf(p)) {
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
    for (const AreaItem& item : lookup_.TownsOf(ZeroPad(5, code)).towns) {
        const Entry e = lookup_.ReadEntry(item.number);
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
    return JsonReply(json{{"prefecture", PrefectureJson(p)}, {"city", CityJson(code)}, {"towns", std::move(towns)}});
}

Reply Service::YubinbangoData(std::string_view prefix) const
{
    // A prefix without codes is an empty object, not a missing file: the package then answers
    // its caller with empty fields instead of never answering.
    Reply r;
    r.contentType = kScriptType;
    r.cacheControl = kDataLifetime;
    const std::string key = "yubinbango/" + std::string(prefix);
    if (std::optional<std::string> body = cache_.Find(key)) {
        r.body = std::move(*body);
        return r;
    }
    json codes = json::object();
    for (const Entry& e : lookup_.FindPostal(FromUtf8(prefix))) {
        const std::string code = U8(e.postalCode);
        if (!codes.contains(code)) codes[code] = YubinbangoRecord(e);
    }
    r.body = "$yubin(" + JsonText(codes) + ")";
    cache_.Insert(key, r.body);
    return r;
}

Reply Service::Health() const
{
    return JsonReply(json{{"status", "ok"},
                          {"entries", lookup_.EntryCount()},
                          {"capabilities", {{"offices", capabilities_.offices}, {"find", capabilities_.find}}}},
                     kNoStore);
}

} // namespace ubin::serve
