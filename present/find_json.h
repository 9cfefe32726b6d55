#pragma once
// The answer of a find as JSON, the same for `ubin find --json` and for the web service's
// /v1/find: {"query", "match", "total", "truncated" (fewer results than total), ["level",
// "rest",] "results": [{"postal_code", "prefecture", "city", "town", "town_raw", "detail", "note",
// "building", "floor", "prefecture_kana", "city_kana", "town_kana", "city_code", "type",
// "office", "office_kana", "street", "romaji"}, ...]}, the office fields null for an area entry; level and rest for an address;
// when nothing was found, "suggestions" (names near the query) and, for a query of symbols
// alone, "hint".
#include "directory/edition.h"
#include "search/find.h"

#include <nlohmann/json.hpp>

#include <string_view>

namespace ubin {

// "area", "office" or "pobox".
const char* EntryTypeName(EntryKind kind);
// KEN_ALL's town text with its note in parentheses (an office's town as it is).
std::u16string TownRaw(const Entry& e);
// The address as people read it: the town proper, a building and floor, the note in
// parentheses (東京都千代田区丸の内ＪＰタワー３０階, 東京都千代田区永田町（次のビルを除く）).
std::u16string CleanAddress(const Entry& e);
// A day kept as YYYYMMDD (FindResult::formerUntil), written 2005-04-01.
std::string ChangeDate(std::int32_t day);
// What to tell a person whose query found nothing and gave no names to suggest; null when there
// is nothing to say.
const char* FindHint(const FindResult& result);
// The address in Latin letters, from its readings: "Ginza, Chuo-ku, Tokyo" (base/romaji.h).
std::string Romaji(const Entry& e);
// One result.
nlohmann::ordered_json FindResultJson(const Entry& e);
// The whole answer; `query` as given. `edition`, when given, is the data's edition ("2026-11")
// or null when unknown: ubin find puts it first, so a script sees which data answered.
nlohmann::ordered_json FindJson(std::string_view query, const FindResult& result);
nlohmann::ordered_json FindJson(std::string_view query, const FindResult& result, const DirectoryEdition& edition);

} // namespace ubin
