#pragma once
// This process's id, and whether another process still runs. Temporary files and folders carry
// the id of the process that writes them in their names, so that a later run can tell what a
// killed run left behind from the work of one that still runs.
#include <cstdint>

namespace ubin::platform {

std::int64_t CurrentProcessId();

// True when a process with this id runs, or may run: one this user may not look at counts as
// running, so its files are left alone.
bool ProcessIsRunning(std::int64_t id);

} // namespace ubin::platform
