#pragma once
// The settings of the command-line tools (ubin, ubin-serve): a settings file or a directory
// folder named on the command line, or else the first readable ubscon.def in the search
// window's places.
#include "settings/settings.h"

#include <filesystem>
#include <optional>
#include <string>

namespace ubin {

// Where a tool runs, as the program found it (the library reads no environment).
struct ToolPlaces {
    std::filesystem::path configHome;       // $XDG_CONFIG_HOME, or $HOME/.config
    std::filesystem::path executableFolder; // the folder of the tool's executable
    std::filesystem::path currentFolder;
};

// The places of the running tool: the settings folder's parent from the environment, the
// executable's folder (from argv0 where the system cannot say) and the current folder.
ToolPlaces ThisToolPlaces(const char* argv0);

// The file given (UTF-8 path), or the folder given (clip flags 1, 2 and 3 on), or the search
// window's places in its order. Throws SettingsError naming every place tried.
Settings LoadToolSettings(const std::optional<std::string>& settingsFile, const std::optional<std::string>& dataFolder,
                          const ToolPlaces& places);

} // namespace ubin
