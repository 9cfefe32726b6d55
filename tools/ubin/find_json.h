#pragma once
// The answer of a find as JSON, the same for `ubin find --json` and for the web service's
// /v1/find: {"query", "match", "total", "results": [{"postal_code", "prefecture", "city", "town",
// "detail", "prefecture_kana", "city_kana", "town_kana", "city_code", "type", "office",
// "office_kana", "street"}, ...]}, the office fields null for an area entry.
#include "directory/edition.h"
#include "search/find.h"

#include <nlohmann/json.hpp>

#include <string_view>

namespace ubin {

// "area", "office" or "pobox".
const char* EntryTypeName(EntryKind kind);
// One result.
nlohmann::ordered_json FindResultJson(const Entry& e);
// The whole answer; `query` as given. `edition`, when given, is the data's edition ("2026-11")
// or null when unknown: ubin find puts it first, so a script sees which data answered.
nlohmann::ordered_json FindJson(std::string_view query, const FindResult& result);
nlohmann::ordered_json FindJson(std::string_view query, const FindResult& result, const DirectoryEdition& edition);

} // namespace ubin
