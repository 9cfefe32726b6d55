#include "tools/command_line/command_line.h"

namespace ubin {

namespace {

// CLI11's own sentence for words it did not expect is long; the suite names the first one.
std::string Problem(const CLI::App& app, const CLI::ParseError& e)
{
    if (dynamic_cast<const CLI::ExtrasError*>(&e)) {
        const std::vector<std::string> extras = app.remaining();
        if (!extras.empty()) {
            const std::string& word = extras.front();
            return (word.size() > 1 && word[0] == '-' ? "unknown option " : "unexpected argument ") + word;
        }
    }
    std::string what = e.what();
    for (char& c : what)
        if (c == '\n') c = ' ';
    return what;
}

} // namespace

std::optional<int> ParseCommandLine(CLI::App& app, const std::vector<std::string>& args, std::ostream& out,
                                    std::ostream& err, const std::string& helpText)
{
    std::vector<std::string> reversed(args.rbegin(), args.rend()); // CLI11 takes the last word first
    // A word beginning with / is a path on every platform (CLI11 reads /x as an option on Windows).
    app.allow_windows_style_options(false);
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        out << (helpText.empty() ? app.help() : helpText);
        return 0;
    } catch (const CLI::CallForAllHelp&) {
        out << (helpText.empty() ? app.help() : helpText);
        return 0;
    } catch (const CLI::Success&) {
        return 0; // --version, printed by its callback
    } catch (const CLI::ParseError& e) {
        err << UsageLine(app.get_name(), Problem(app, e)) << '\n';
        return kExitUsage;
    }
    return std::nullopt;
}

void AddVersionFlag(CLI::App& app, std::ostream& out, std::function<std::string()> versionLine)
{
    app.add_flag_callback(
        "--version",
        [&out, versionLine = std::move(versionLine)] {
            out << versionLine() << '\n';
            throw CLI::Success();
        },
        "print the version and end");
}

std::string UsageLine(const std::string& program, const std::string& problem)
{
    return program + ": " + problem + "; see " + program + " --help";
}

} // namespace ubin
