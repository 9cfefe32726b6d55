#pragma once
// A directory folder that ubin-build may replace while programs run. ubin-build writes a new
// folder and puts it in the old one's place whole; a program keeps reading the files it opened
// (they stay readable after the swap) until it notices the new build, then moves to it between
// two lookups. One answer is never made from files of two builds.
//
// A folder's build is the build number of its manifest (MANIFEST.TXT), or, for a folder without
// one, the sizes and times of its files. Looking costs a few calls to the system, so it is done
// at most once per interval.
#include "directory/directory.h"
#include "search/find.h"
#include "search/lookup.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace ubin {

// What identifies the build in a folder now; none when the folder cannot be read (in the
// middle of being replaced).
std::optional<std::string> FolderBuild(const DirectoryState& folder);

// Tells a program on one thread (the window, the control) when its folder holds another build
// than the one it opened.
class FolderWatch {
public:
    explicit FolderWatch(std::chrono::milliseconds every = std::chrono::milliseconds(500)) : every_(every) {}
    // The build the program has open.
    void Opened(const DirectoryState& folder);
    // True when a look (at most one per interval) finds another build in the folder.
    bool Replaced(const DirectoryState& folder);

private:
    std::chrono::milliseconds every_;
    std::chrono::steady_clock::time_point last_{};
    std::string build_;
};

// The engine over the files of one build, and its finder when it was asked for and the folder
// has a search index.
struct Edition {
    std::shared_ptr<const Lookup> lookup;
    std::shared_ptr<const Finder> finder;
    std::string build;
};

// The current edition of a folder, for programs that look up from several threads (the web
// service). Every lookup takes the edition current when it starts and uses it to its end.
class LiveDirectory {
public:
    struct Options {
        bool mapped = false; // map the files read by position (DirectoryState::MapFiles)
        bool find = false;   // open the search index too, when the folder has one
        std::chrono::milliseconds checkEvery{200};
    };
    // Opens the folder; throws DirectoryError when it cannot.
    LiveDirectory(std::u16string dataFolder, Options options);

    // The edition to answer the next lookup with; safe from any thread. A new build that cannot
    // be opened yet (its folder is being replaced) is tried again at the next look.
    std::shared_ptr<const Edition> Current();

private:
    // Opens the folder as it is now; none when it changed while it was being opened.
    std::shared_ptr<const Edition> OpenEdition() const;

    std::u16string dataFolder_;
    Options options_;
    DirectoryState probe_; // names the folder's files for FolderBuild; opens none
    std::mutex mutex_;
    std::shared_ptr<const Edition> current_;
    std::chrono::steady_clock::time_point lastCheck_;
};

} // namespace ubin
