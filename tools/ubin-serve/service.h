#pragma once
// What ubin-serve answers, without any HTTP: each endpoint's reply (status, content type, cache
// lifetime and body) computed from the lookup engine. The server (server.h) maps requests to
// these calls; the calls share nothing but the engine, so any number of threads may make them.
#include "search/live.h"
#include "search/lookup.h"

#include <nlohmann/json.hpp>

#include <array>
#include <map>
#include <optional>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <string_view>
#include <vector>

namespace ubin::serve {

inline constexpr char kJsonType[] = "application/json; charset=utf-8";
inline constexpr char kScriptType[] = "text/javascript; charset=utf-8";
// Answers drawn from the directory change only when it is rebuilt.
inline constexpr char kDataLifetime[] = "public, max-age=86400";
inline constexpr char kNoStore[] = "no-store";
// POST /v1/find/batch takes at most this many lines and bytes of body, so that one request
// holds a loop's thread for well under a second.
inline constexpr std::size_t kMaxBatchLines = 10000;
inline constexpr std::size_t kMaxBatchBytes = 1 << 20;

// The texts of the error replies.
namespace message {
inline constexpr char kMissingZipcode[] = "必須パラメータが指定されていません。";
inline constexpr char kZipcodeDigits[] = "パラメータ「郵便番号」の桁数が不正です。";
inline constexpr char kBadLimit[] = "パラメータ「limit」の値が不正です。";
inline constexpr char kMissingQuery[] = "パラメータ「q」が指定されていません。";
inline constexpr char kQueryTooLong[] = "パラメータ「q」が長すぎます（正規化後256文字まで）。";
inline constexpr char kQueryControl[] = "パラメータ「q」に制御文字が含まれています。";
inline constexpr char kNoFind[] = "この辞書には全文検索の索引がありません（ubin-build で作り直してください）。";
inline constexpr char kBadCallback[] = "パラメータ「callback」の値が不正です。";
inline constexpr char kNoPrefecture[] = "該当する都道府県がありません。";
inline constexpr char kNoCity[] = "該当する市区町村がありません。";
inline constexpr char kNotFound[] = "指定されたURLはありません。";
inline constexpr char kBadPercent[] = "URLのパーセントエンコードが不正です。";
inline constexpr char kBadUtf8[] = "URLの文字がUTF-8として不正です。";
inline constexpr char kTooLarge[] = "リクエストが大きすぎます（8KBまで）。";
inline constexpr char kBadRequest[] = "リクエストの形式が不正です。";
inline constexpr char kMethod[] = "このURLはGETとHEADだけを受け付けます。";
inline constexpr char kBatchTooLarge[] = "一括検索は10,000行・1MiBまでです。";
inline constexpr char kBatchMethod[] = "このURLはPOSTだけを受け付けます。";
inline constexpr char kInternal[] = "サーバー内部でエラーが起きました。";
} // namespace message

struct Reply {
    int status = 200;
    std::string contentType = kJsonType;
    std::string cacheControl = kNoStore;
    std::string body;
    // X-Ubin-Edition: the edition of the directory the body was made from; empty for a body
    // made from none (the page, an error of the request), which the server names the current
    // edition for.
    std::string edition;
};

// The query parameters, decoded; a parameter given twice counts by its first value.
using Params = std::multimap<std::string, std::string>;

// What the directory offers beyond the lookups every directory has: offices (built with
// --offices) and free-text search (its search index). /healthz reports it, so a page or a test
// can tell.
struct Capabilities {
    bool offices = false;
    bool find = false;
};

// Reply bodies by key. A key names the build of the directory it was made from, so a rebuilt
// directory never answers with a kept body of the one before. At most `capacity` bodies in 32
// parts; a full part is emptied before it takes another, so the memory stays bounded and the
// codes asked often come back at once. Capacity 0 keeps nothing.
class ReplyCache {
public:
    explicit ReplyCache(std::size_t capacity);
    std::optional<std::string> Find(const std::string& key) const;
    void Insert(const std::string& key, const std::string& body);

private:
    struct Part {
        mutable std::shared_mutex mutex;
        std::unordered_map<std::string, std::string> bodies;
    };
    Part& PartOf(const std::string& key) const;

    std::size_t partCapacity_;
    mutable std::array<Part, 32> parts_;
};

// What a person typed after `name` in a query (after the town: the house number and a building),
// as they typed it, blanks at its ends dropped. `name` is looked for, in name form
// (base/normalize.h), first after `outer` where the query holds `outer` (the city, so that a town
// named like a part of its city is not taken from the city's name), else from the start; its
// first place counts, so a building named after its town (六本木ヒルズ) stays whole. None when the
// query does not hold the name.
std::optional<std::u16string> TypedAfter(std::u16string_view query, std::u16string_view outer, std::u16string_view name);

// {"message": ..., "status": N}, kept from caches.
Reply ErrorReply(int status, std::string_view message);
// A JSON body as UTF-8 text.
std::string JsonText(const nlohmann::json& value);

// The /api/search fields of one entry (prefcode without a leading zero; the town and its
// reading empty for 以下に掲載がない場合). An office gives its town, street part and name in
// address3, and its name's reading in kana3.
nlohmann::json ApiSearchResult(const Entry& entry);
// The record yubinbango-core reads: [prefecture number, city, town, ""]; an office gives its
// street part last.
nlohmann::json YubinbangoRecord(const Entry& entry);
// The record jquery.jpostal reads: ["_" + code, prefecture, city, town, street, office name,
// and the readings of the first three in half-width kana]; street and office empty for areas.
nlohmann::json JpostalRecord(const Entry& entry);

// How X-Ubin-Edition names an edition: the month of Japan Post's data it was built from
// ("2026-11"), or "unknown" for one built before editions were recorded.
std::string EditionName(const Edition& edition);

class Service {
public:
    // Every reply is made from the edition of the directory current when its request comes
    // (a rebuilt directory is taken up between two requests). `cacheEntries`: how many
    // replies of /api/search and /yubinbango to keep (0: none).
    // `maxAgeMonths`: /healthz says "stale": true when the data's edition is more than this many
    // months old (or unknown); none: never stale.
    explicit Service(LiveDirectory& directory, std::size_t cacheEntries = kDefaultCacheEntries,
                     std::optional<int> maxAgeMonths = std::nullopt);
    static constexpr std::size_t kDefaultCacheEntries = 131072; // every code of the national list

    // GET /api/search?zipcode=NNNNNNN[&limit=N][&callback=NAME]
    Reply ApiSearch(const Params& params) const;
    // GET /v1/areas, /v1/areas/{prefecture}, /v1/areas/{prefecture}/{city}; a prefecture by
    // its name or number, a city by its name or 5-digit code.
    Reply Prefectures() const;
    Reply Cities(std::string_view prefecture) const;
    Reply Towns(std::string_view prefecture, std::string_view city) const;
    // GET /yubinbango/{NNN}.js: $yubin({code: record, ...}) for every code under the prefix,
    // the first entry of each code.
    Reply YubinbangoData(std::string_view prefix) const;
    // GET /jpostal/{NNN}.json: the data file of jquery.jpostal,
    // jQuery_jpostal_callback([["_NNNNNNN", prefecture, city, town, street, office, and the
    // three readings], ..., ["_NNN", ...]]), the first entry of each code, and last the
    // prefix's own record with what all its towns share.
    Reply JpostalData(std::string_view prefix) const;
    // GET /v1/find?q=...[&limit=N]: the JSON object of `ubin find --json`.
    Reply Find(const Params& params) const;
    // GET /v1/suggest?q=...[&limit=N]: what a form offers while an address is typed, each
    // result with the fields a form fills and what was typed after its town (`rest`); when what
    // was typed finds nothing, the results of the nearest name (`corrected`). At most `limit`
    // results (default 10, at most 100: every town of a code), each address once.
    Reply Suggest(const Params& params) const;
    // GET /healthz: status, entries, capabilities, the data's edition ("2026-11" or null),
    // whether it was guessed, and whether it is stale.
    Reply Health() const;
    // The edition of the directory now current as X-Ubin-Edition names it, for a reply whose
    // body no edition made.
    std::string CurrentEditionName() const { return EditionName(*Current()); }

    // What the current edition offers.
    Capabilities capabilities() const;

    // The edition to answer the next request with (POST /v1/find/batch, tools/ubin-serve/batch.h).
    std::shared_ptr<const Edition> Current() const { return directory_.Current(); }

private:

    LiveDirectory& directory_;
    std::optional<int> maxAgeMonths_;
    mutable ReplyCache cache_; // what a lookup made, not what it answers
};

} // namespace ubin::serve
