// ubin [--settings FILE | --data DIR] [--json] [--clip-flags LIST] STEP...
#include "tools/ubin/cli.h"

#include <cstdlib>
#include <iostream>
#include <string_view>
#include <system_error>

int main(int argc, char** argv)
{
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::cout << "ubin " << UBIN_VERSION << "\n";
        return 0;
    }
    ubin::CliPlaces places;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    if (xdg && *xdg) places.configHome = xdg;
    else if (home && *home) places.configHome = std::filesystem::path(home) / ".config";
    std::error_code ec;
    places.currentFolder = std::filesystem::current_path(ec);
#ifdef _WIN32
    places.executableFolder = std::filesystem::path(argv[0]).parent_path();
#else
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    places.executableFolder = ec ? std::filesystem::absolute(argv[0], ec).parent_path() : self.parent_path();
#endif
    const std::vector<std::string> args(argv + 1, argv + argc);
    return ubin::RunUbin(args, places, std::cout, std::cerr);
}
