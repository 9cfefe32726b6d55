#include "settings/tool_settings.h"

#include "base/program.h"

#include "base/cp932.h"
#include "base/path_text.h"
#include "settings/places.h"

namespace ubin {

ToolPlaces ThisToolPlaces(const char* argv0)
{
    return {ConfigHome(), ExecutableFolder(argv0), CurrentFolder()};
}

Settings LoadToolSettings(const std::optional<std::string>& settingsFile, const std::optional<std::string>& dataFolder,
                          const ToolPlaces& places)
{
    if (dataFolder) {
        Settings s;
        s.dataFolder = WithFinalSeparator(FromUtf8(*dataFolder));
        s.clipFlags[kClipPostalCode] = s.clipFlags[kClipAddress1] = s.clipFlags[kClipAddress2] = 1;
        return s;
    }
    if (settingsFile) return ReadSettingsFile(PathFromUtf8(*settingsFile));
    const PlaceContext ctx =
        PlatformPlaces(Program::Marubeta, places.configHome, places.executableFolder, places.currentFolder);
    std::vector<std::string> tried;
    auto found = FindSettings(SettingsPlaces(Program::Marubeta, ctx), &tried);
    if (!found) {
        std::string msg = "システム管理ファイルがみつかりません: 呼び出し元に ubscon.def が必要です"
                          "（--settings FILE か --data DIR でも指定できます）";
        for (const std::string& t : tried) msg += "\n  " + t;
        throw SettingsError(msg);
    }
    return found->settings;
}

} // namespace ubin
