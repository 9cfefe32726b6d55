#pragma once
// What every command-line tool of the suite does the same way with CLI11: --help and --version
// print and end with status 0; a mistake in the arguments ends with status 2 and one line on
// standard error that names it and where the help is.
#include <CLI/CLI.hpp>

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace ubin {

constexpr int kExitUsage = 2;

// Parses args (first word first, without the program name) into app. Empty when the program
// goes on; otherwise the status to end with: 0 after --help (helpText, or CLI11's own help when
// empty, printed on out) or --version, 2 after a mistake (one line on err).
std::optional<int> ParseCommandLine(CLI::App& app, const std::vector<std::string>& args, std::ostream& out,
                                    std::ostream& err, const std::string& helpText = {});

// Adds --version: prints versionLine() on out and ends the parse with status 0, before any
// required argument is missed.
void AddVersionFlag(CLI::App& app, std::ostream& out, std::function<std::string()> versionLine);

// The one line for a mistake: "PROGRAM: PROBLEM; see PROGRAM --help".
std::string UsageLine(const std::string& program, const std::string& problem);

} // namespace ubin
