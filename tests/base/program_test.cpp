// Where a program looks for its per-user settings: the XDG rule, then $HOME, then the current
// folder.
#include "base/program.h"

#include <gtest/gtest.h>

using ubin::ConfigHome;
using Path = std::filesystem::path;

#ifdef _WIN32
constexpr const char* kAbsolute = "C:\\x\\conf";
#else
constexpr const char* kAbsolute = "/x/conf";
#endif

TEST(ConfigHome, FollowsXdgWhenAbsoluteThenHomeThenTheCurrentFolder)
{
    const struct {
        const char *xdg, *home;
        Path expected;
    } cases[] = {
        {kAbsolute, "/home/u", kAbsolute},
        {"relative/conf", "/home/u", "/home/u/.config"}, // a relative XDG folder is ignored
        {"", "/home/u", "/home/u/.config"},
        {nullptr, "/home/u", "/home/u/.config"},
        {nullptr, "", "/cwd"},
        {nullptr, nullptr, "/cwd"},
    };
    for (const auto& c : cases) EXPECT_EQ(ConfigHome(c.xdg, c.home, "/cwd"), c.expected) << (c.xdg ? c.xdg : "(unset)");
}
