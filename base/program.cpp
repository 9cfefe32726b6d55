#include "base/program.h"

#include <cstdlib>
#include <system_error>

namespace ubin {

std::filesystem::path ConfigHome(const char* xdgConfigHome, const char* home, const std::filesystem::path& current)
{
    if (xdgConfigHome && *xdgConfigHome) {
        const std::filesystem::path xdg(xdgConfigHome);
        if (xdg.is_absolute()) return xdg;
    }
    if (home && *home) return std::filesystem::path(home) / ".config";
    return current;
}

std::filesystem::path ConfigHome()
{
    return ConfigHome(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"), CurrentFolder());
}

std::filesystem::path CurrentFolder()
{
    std::error_code ec;
    std::filesystem::path current = std::filesystem::current_path(ec);
    return ec ? std::filesystem::path(".") : current;
}

} // namespace ubin
