#pragma once
// ubin find: any address from what a person types, printed for people (aligned lines), as
// JSON or as CSV.
#include "search/find.h"
#include "present/find_json.h"

#include <ostream>
#include <string>
#include <vector>

namespace ubin {

struct ToolPlaces;

// The columns of the CSV output, in order (its header row).
extern const std::vector<std::string> kFindCsvColumns;
// A result's values in that order; null fields are empty.
std::vector<std::string> FindCsvRow(const Entry& e);
// A value for CSV: quoted when it holds a comma, a double quote or a line break.
std::string CsvValue(const std::string& v);

// Runs `ubin find ...` (args without "find"). Returns the exit status: 0 when something was
// found, 1 when nothing was, 2 after an error.
int RunFind(const std::vector<std::string>& args, const ToolPlaces& places, std::ostream& out, std::ostream& err);

// The width of a text on a terminal: full-width characters take two columns, half-width
// katakana and ASCII one.
std::size_t DisplayWidth(std::u16string_view text);

} // namespace ubin
