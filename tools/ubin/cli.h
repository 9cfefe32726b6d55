#pragma once
// The ubin command: drives the search logic on an in-memory face, step by step as a user
// would on the search window, then prints what the window shows.
#include "settings/settings.h"

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace ubin {

// Where the command runs, for the settings search order when neither --settings nor --data
// is given.
struct CliPlaces {
    std::filesystem::path configHome;       // $XDG_CONFIG_HOME, or $HOME/.config
    std::filesystem::path executableFolder; // the folder of the ubin executable
    std::filesystem::path currentFolder;
};

// The settings a command runs with: the file given, or a directory folder given (clip flags
// 1, 2 and 3 on), or the first readable ubscon.def in the search window's places. Throws
// SettingsError naming every place tried.
Settings LoadCliSettings(const std::optional<std::string>& settingsFile, const std::optional<std::string>& dataFolder,
                         const CliPlaces& places);

// Runs the command on its arguments (UTF-8, without the program name). Returns the exit
// status: 0, or 2 after an error written to `err`.
int RunUbin(const std::vector<std::string>& args, const CliPlaces& places, std::ostream& out, std::ostream& err);

} // namespace ubin
