#pragma once
// What every ubin subcommand built on CLI11 does the same way: its arguments and its settings.
#include "settings/settings.h"
#include "settings/tool_settings.h"

#include <CLI/CLI.hpp>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace ubin {

// Parses args (first word first) into app. Empty when the command goes on; otherwise the
// status to end with: 0 after --help (printed on out), 2 after a mistake (one line on err naming
// it and how to see the help).
std::optional<int> ParseSubcommand(CLI::App& app, const std::vector<std::string>& args, std::ostream& out,
                                   std::ostream& err);

// The settings the options --settings FILE or --data FOLDER name (empty when not given), found
// as the window finds them otherwise.
Settings SubcommandSettings(const std::string& settingsFile, const std::string& dataFolder, const ToolPlaces& places);

} // namespace ubin
