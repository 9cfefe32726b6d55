#include "base/process.h"

#include <cerrno>
#include <csignal>
#include <sys/types.h>
#include <unistd.h>

namespace ubin::platform {

std::int64_t CurrentProcessId() { return static_cast<std::int64_t>(::getpid()); }

bool ProcessIsRunning(std::int64_t id)
{
    if (id <= 0 || id != static_cast<pid_t>(id)) return false;
    return ::kill(static_cast<pid_t>(id), 0) == 0 || errno != ESRCH;
}

} // namespace ubin::platform
