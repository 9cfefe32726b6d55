#pragma once
// `ubin` run inside the test, with its exit status and what it wrote kept, for the tests of its
// subcommands.
#include "tools/ubin/cli.h"

#include <sstream>
#include <string>
#include <vector>

namespace ubin::test {

struct UbinOutcome {
    int status;
    std::string out, err;
};

inline UbinOutcome Ubin(const std::vector<std::string>& args, const ToolPlaces& places = {})
{
    std::ostringstream out, err;
    const int status = RunUbin(args, places, out, err);
    return {status, out.str(), err.str()};
}

} // namespace ubin::test
