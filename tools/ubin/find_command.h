#pragma once
// ubin find: any address from what a person types, printed for people (aligned lines), as
// JSON or as CSV.
#include "search/find.h"

#include <nlohmann/json.hpp>

#include <ostream>
#include <string>
#include <vector>

namespace ubin {

struct CliPlaces;

// One result as the JSON object of `ubin find --json` and of the web service's /v1/find.
nlohmann::ordered_json FindResultJson(const Entry& e);
// The whole answer: query (as given), match, total, results.
nlohmann::ordered_json FindJson(std::string_view query, const FindResult& result);

// The columns of the CSV output, in order (its header row).
extern const std::vector<std::string> kFindCsvColumns;
// A result's values in that order; null fields are empty.
std::vector<std::string> FindCsvRow(const Entry& e);

// Runs `ubin find ...` (args without "find"). Returns the exit status: 0, or 2 after an error.
int RunFind(const std::vector<std::string>& args, const CliPlaces& places, std::ostream& out, std::ostream& err);

// The width of a text on a terminal: full-width characters take two columns, half-width
// katakana and ASCII one.
std::size_t DisplayWidth(std::u16string_view text);

} // namespace ubin
