#pragma once
// ubin check: compares every file of a directory folder with its manifest (size and checksum),
// shows the data's edition, and with --max-age N fails when it is more than N months old.
#include <ostream>
#include <string>
#include <vector>

namespace ubin {

struct ToolPlaces;

// Runs `ubin check ...` (args without "check"). 0 when every file agrees, 1 when one does not
// (each named on `out`) or the data is older than --max-age, 2 after an error.
int RunCheck(const std::vector<std::string>& args, const ToolPlaces& places, std::ostream& out, std::ostream& err);

} // namespace ubin
