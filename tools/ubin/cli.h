#pragma once
// The ubin command: ubin find, check and diff for people, and ubin form, which drives the
// search logic on an in-memory face step by step as a user would on the search window, then
// prints what the window shows.
#include "settings/tool_settings.h"

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace ubin {

// Runs the command on its arguments (UTF-8, without the program name): a subcommand (find,
// check, diff, form) or, without one, the steps of ubin form. Returns the exit status: 0, or 2
// after an error written to `err` (ubin find and check: 1 for what they did not find).
int RunUbin(const std::vector<std::string>& args, const ToolPlaces& places, std::ostream& out, std::ostream& err);

// Runs the steps of ubin form (args without the word form); program names the command in
// its messages.
int RunForm(const std::vector<std::string>& args, const std::string& program, const ToolPlaces& places,
            std::ostream& out, std::ostream& err);

} // namespace ubin
