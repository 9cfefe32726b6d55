#include "settings/places.h"

namespace ubin {

PlaceContext PlatformPlaces(Program, const std::filesystem::path& configHome,
                            const std::filesystem::path& executableFolder,
                            const std::filesystem::path& currentFolder)
{
    PlaceContext ctx;
    ctx.windowsFolder = configHome / "marubeta";
    ctx.currentFolder = currentFolder;
    ctx.installFolder = executableFolder.parent_path() / "share" / "marubeta";
    return ctx;
}

} // namespace ubin
