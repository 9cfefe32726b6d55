#pragma once
// Temporary files and folders written beside their final place are named
// "<prefix><process id>-<random>", so that what a killed run left behind can be told from the
// work of a run still going and removed at the next run.
#include <filesystem>
#include <string>
#include <string_view>

namespace ubin {

// "<this process's id>-", to follow the prefix of a temporary name.
std::string ProcessTag();

// True when the entry's name is "<prefix><id>-..." and no process with that id runs. With
// `legacyLength`, also for a name written before the id was part of it ("<prefix>" and that
// many letters and digits) when the entry was last changed more than an hour ago. Anything else
// is not a leftover.
bool IsStaleLeftover(const std::filesystem::directory_entry& entry, std::string_view prefix,
                     std::size_t legacyLength = 0);

} // namespace ubin
