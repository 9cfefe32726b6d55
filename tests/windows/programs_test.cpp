// ubin-build.exe and ubin.exe given Japanese folder names on their command lines, as a user in
// a Japanese Windows types them: the names arrive whole and the files land where they say.
#include "base/cp932.h"
#include "base/path_text.h"
#include "settings/settings.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

using namespace ubin;
using ubin::test::RunProgram;
using ubin::test::TempDir;
namespace fs = std::filesystem;

namespace {

// The build's paths as Windows sees them: a drive letter and backslashes.
const fs::path kUbin = fs::absolute(PathFromUtf8(UBIN_EXE));
const fs::path kUbinBuild = fs::absolute(PathFromUtf8(UBIN_BUILD_EXE));
const std::string kSampleCsv = PathToUtf8(fs::absolute(PathFromUtf8(UBIN_SAMPLE_CSV)));

} // namespace

TEST(ProgramsOnWindows, BuildIntoAndLookUpInAFolderWithAJapaneseName)
{
    TempDir t;
    const fs::path folder = t / "郵便データ";
    const std::string folderText = PathToUtf8(folder);
    const auto build = RunProgram(kUbinBuild, {kSampleCsv, folderText, "--settings", "--quiet"});
    ASSERT_EQ(build.status, 0);
    EXPECT_TRUE(fs::exists(folder / PathFromUtf8("郵便番号.CSV")));
    EXPECT_TRUE(fs::exists(folder / PathFromUtf8("郵便Point.POI")));
    EXPECT_EQ(std::distance(fs::directory_iterator(t.path()), {}), 1); // no build folder left beside it
    // Its settings name the folder in code page 932, ending in "\".
    const Settings s = ReadSettingsFile(folder / "ubscon.def");
    EXPECT_EQ(s.dataFolder, FromUtf8(folderText) + u"\\");

    const auto look = RunProgram(kUbin, {"--data", folderText, "kanji", "上幟"});
    EXPECT_EQ(look.status, 0);
    EXPECT_NE(look.out.find("IT2\t0014\n"), std::string::npos) << look.out;
    const auto settings = RunProgram(kUbin, {"--settings", PathToUtf8(folder / "ubscon.def"), "postal", "7300014"});
    EXPECT_EQ(settings.status, 0);
    EXPECT_NE(settings.out.find("IT4\t上幟町\n"), std::string::npos) << settings.out;

    // Built again over itself: the old folder is replaced whole.
    EXPECT_EQ(RunProgram(kUbinBuild, {kSampleCsv, folderText, "--quiet"}).status, 0);
    EXPECT_FALSE(fs::exists(folder / "ubscon.def"));
    EXPECT_EQ(std::distance(fs::directory_iterator(t.path()), {}), 1);
}
