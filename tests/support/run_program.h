#pragma once
// Runs a program to its end with the given arguments, no shell between, and collects what it
// writes to standard output; its standard error goes where the test's own goes.
#include <filesystem>
#include <string>
#include <vector>

namespace ubin::test {

struct ProgramRun {
    int status = -1; // the exit status; -1 when the program could not be started or was killed
    std::string out; // standard output as written, line ends included
};

// Arguments are UTF-8 text; on Windows they reach the program as UTF-16.
ProgramRun RunProgram(const std::filesystem::path& program, const std::vector<std::string>& args);

} // namespace ubin::test
