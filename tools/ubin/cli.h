#pragma once
// The ubin command: drives the search logic on an in-memory face, step by step as a user
// would on the search window, then prints what the window shows.
#include "settings/tool_settings.h"

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace ubin {

// Runs the command on its arguments (UTF-8, without the program name). Returns the exit
// status: 0, or 2 after an error written to `err`.
int RunUbin(const std::vector<std::string>& args, const ToolPlaces& places, std::ostream& out, std::ostream& err);

} // namespace ubin
