// ubin find|check|diff|form ...; ubin [--settings FILE | --data DIR] [--json] [--clip-flags LIST] STEP...
#include "tools/ubin/cli.h"

#include "base/program.h"
#include "directory/edition.h"
#include "settings/tool_settings.h"

#include <cstdlib>
#include <iostream>
#include <string_view>
#include <system_error>

int main(int argc, char** argv)
{
    ubin::UseUtf8Output();
    const ubin::ToolPlaces places = ubin::ThisToolPlaces(argv[0]);
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        // The edition of the directory the settings name, when there is one.
        ubin::DirectoryEdition edition;
        try {
            edition = ubin::FolderEdition(ubin::LoadToolSettings(std::nullopt, std::nullopt, places).dataFolder);
        } catch (const std::exception&) {
        }
        std::cout << ubin::VersionLine("ubin", UBIN_VERSION, edition) << "\n";
        return 0;
    }
    return ubin::RunUbin(ubin::ProgramArguments(argc, argv), places, std::cout, std::cerr);
}
