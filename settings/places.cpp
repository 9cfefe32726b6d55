#include "settings/places.h"

#include "base/program.h"

namespace ubin {

std::vector<std::filesystem::path> SettingsPlaces(Program program, const PlaceContext& ctx)
{
    std::vector<std::filesystem::path> places{ctx.windowsFolder / kSettingsFileName,
                                              ctx.currentFolder / kSettingsFileName};
    if (program == Program::Marubeta) places.push_back(ctx.installFolder / kSettingsFileName);
    return places;
}

std::filesystem::path SettingsSavePath(const PlaceContext& ctx) { return ctx.windowsFolder / kSettingsFileName; }

std::u16string WithFinalSeparator(const std::u16string& folder)
{
    if (folder.empty()) return folder;
#ifdef _WIN32
    if (folder.back() == u'\\' || folder.back() == u'/') return folder;
    return folder + u"\\";
#else
    if (folder.back() == u'/') return folder;
    return folder + u"/";
#endif
}

PlaceContext ProgramPlaces(Program program, const std::filesystem::path& executableFolder)
{
    return PlatformPlaces(program, ConfigHome(), executableFolder, CurrentFolder());
}

} // namespace ubin
