#include "tools/ubin/subcommand.h"

#include "tools/command_line/command_line.h"

namespace ubin {

std::optional<int> ParseSubcommand(CLI::App& app, const std::vector<std::string>& args, std::ostream& out,
                                   std::ostream& err)
{
    return ParseCommandLine(app, args, out, err);
}

Settings SubcommandSettings(const std::string& settingsFile, const std::string& dataFolder, const ToolPlaces& places)
{
    return LoadToolSettings(settingsFile.empty() ? std::nullopt : std::optional(settingsFile),
                            dataFolder.empty() ? std::nullopt : std::optional(dataFolder), places);
}

} // namespace ubin
