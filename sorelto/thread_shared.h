#pragma once
// The directory state every UbinBangou instance of one thread shares: the open directory
// files and the tables read at start-up, the DataFolder, the clip flags, and where the
// settings were last found. Each thread that creates controls has its own.
#include "directory/directory.h"
#include "search/live.h"
#include "search/lookup.h"
#include "settings/places.h"
#include "settings/settings.h"

#include <filesystem>
#include <optional>

namespace ubin::control {

struct ThreadShared {
    DirectoryState directory; // its dataFolder is the DataFolder of the settings
    Lookup lookup{directory};
    // A folder replaced by ubin-build: noticed here once for all the thread's controls; each
    // control compares `build` with the one its lists were made from.
    FolderWatch watch;
    std::uint64_t build = 0;
    ClipFlags clipFlags{};
    // The place the settings were last read from (none before the first read).
    std::optional<std::filesystem::path> settingsFoundAt;
};

// This thread's shared state, made on first use and kept until the thread ends: the
// directory files stay open after the last control of the thread is gone.
ThreadShared& ThisThreadShared();

// Between two lookups: when ubin-build has replaced the folder, opens the new build for every
// control of the thread (a build that cannot be opened yet is tried again later).
void TakeUpNewBuild(ThreadShared& shared);

// Where the control looks for ubscon.def and where SconSave writes it. The control is the
// program side of the suite here (it starts inside any host, before the host could tell it
// anything), so it is the one place of the library that reads the environment:
// $XDG_CONFIG_HOME or $HOME/.config for its fixed settings folder, and the current folder.
PlaceContext ControlPlaces();

} // namespace ubin::control
