#pragma once
// ubin diff OLD_DIR NEW_DIR: the postal codes added, removed and changed between two builds of
// the directory (a town renamed, moved to another city, read differently, split into several
// towns), with the counts first; for people, as JSON or as CSV.
#include <ostream>
#include <string>
#include <vector>

namespace ubin {

struct ToolPlaces;

// Runs `ubin diff ...` (args without "diff"). 0 after the list, 2 after an error.
int RunDiff(const std::vector<std::string>& args, const ToolPlaces& places, std::ostream& out, std::ostream& err);

} // namespace ubin
