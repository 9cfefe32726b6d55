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

// Text written to a console shows as UTF-8: on Windows the console's output code page is set
// to UTF-8; elsewhere the terminal already is. Output to a file or a pipe is unaffected.
void UseUtf8Console();

} // namespace ubin
