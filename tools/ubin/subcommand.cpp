#include "tools/ubin/subcommand.h"

namespace ubin {

std::optional<int> ParseSubcommand(CLI::App& app, const std::vector<std::string>& args, std::ostream& out,
                                   std::ostream& err)
{
    std::vector<std::string> reversed(args.rbegin(), args.rend()); // CLI11 takes the last word first
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return 0;
    } catch (const CLI::ParseError& e) {
        const std::string name = app.get_name();
        err << name << ": " << e.what() << "\n(" << name << " --help shows how to use it)\n";
        return 2;
    }
    return std::nullopt;
}

Settings SubcommandSettings(const std::string& settingsFile, const std::string& dataFolder, const ToolPlaces& places)
{
    return LoadToolSettings(settingsFile.empty() ? std::nullopt : std::optional(settingsFile),
                            dataFolder.empty() ? std::nullopt : std::optional(dataFolder), places);
}

} // namespace ubin
