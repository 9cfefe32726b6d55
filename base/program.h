#pragma once
// What a command-line program needs from the platform at its start: its arguments as UTF-8
// text and the folder it was started from.
#include <filesystem>
#include <string>
#include <vector>

namespace ubin {

// The arguments after the program's name, as UTF-8. On Windows they are taken from the
// UTF-16 command line: the narrow argv holds them in the ANSI code page, which loses any
// character outside it (and on most machines that is every Japanese one).
std::vector<std::string> ProgramArguments(int argc, char** argv);

// The folder of the running executable (argv0 is the fallback when the system cannot say).
std::filesystem::path ExecutableFolder(const char* argv0);

// The per-user settings folder's parent: $XDG_CONFIG_HOME when it is an absolute path (the
// XDG rule: a relative one is ignored), else $HOME/.config, else the current folder. The
// first form takes the variables' values (null when unset), the second reads them.
std::filesystem::path ConfigHome(const char* xdgConfigHome, const char* home, const std::filesystem::path& current);
std::filesystem::path ConfigHome();

// The current folder, or "." when the system cannot say (it was removed).
std::filesystem::path CurrentFolder();

// Standard output carries UTF-8 and exactly the bytes the program writes. On Windows the
// console's output code page is set to UTF-8 and standard output is put in binary mode: a line
// ends as the program ends it ("\n", or CR LF where a format asks for it, as CSV does), and the
// output is the same bytes on every platform.
void UseUtf8Output();

} // namespace ubin
