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

// Standard output carries UTF-8 and exactly the bytes the program writes. On Windows the
// console's output code page is set to UTF-8 and standard output is put in binary mode: a line
// ends as the program ends it ("\n", or CR LF where a format asks for it, as CSV does), and the
// output is the same bytes on every platform.
void UseUtf8Output();

} // namespace ubin
