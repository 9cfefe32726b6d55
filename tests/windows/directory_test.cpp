// The directory as Windows names it: a DataFolder ending in "\" (or "/"), folders and files
// with Japanese names opened through the wide file calls, and errors naming them in UTF-8.
#include "base/cp932.h"
#include "base/errors.h"
#include "base/path_text.h"
#include "base/text.h"
#include "directory/directory.h"
#include "tests/support/mini_directory.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "builder/builder.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <windows.h>

using namespace ubin;
using ubin::test::MiniDirectory;
using ubin::test::ReadBytes;
using ubin::test::TempDir;
using ubin::test::WriteBytes;

namespace {

MiniDirectory TwoEntries()
{
    MiniDirectory d;
    d.entries = {{"7300014", "34101", "ｶﾐﾉﾎﾞﾘﾏﾁ", "上幟町", ""}, {"1040061", "13102", "ｷﾞﾝｻﾞ", "銀座", ""}};
    d.cities = {{34101, "34101", "広島市中区", "ﾋﾛｼﾏｼﾅｶｸ"}, {13102, "13102", "中央区", "ﾁｭｳｵｳｸ"}};
    return d;
}

std::u16string Text(const std::filesystem::path& p)
{
    const std::wstring w = p.wstring();
    return std::u16string(w.begin(), w.end());
}

bool ExistsByWideName(const std::filesystem::path& folder, const wchar_t* name)
{
    const std::wstring full = folder.wstring() + L"\\" + name;
    return GetFileAttributesW(full.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

TEST(DirectoryOnWindows, ADataFolderWithAJapaneseNameAndAFinalBackslash)
{
    TempDir t;
    const auto folder = t / "郵便データ";
    std::filesystem::create_directory(folder);
    TwoEntries().Write(folder);
    // The files carry their Japanese names as the system sees them.
    EXPECT_TRUE(ExistsByWideName(folder, L"郵便番号.CSV"));
    EXPECT_TRUE(ExistsByWideName(folder, L"郵便Point.POI"));

    DirectoryState d;
    d.dataFolder = Text(folder) + u"\\";
    ASSERT_EQ(d.dataFolder.substr(1, 2), u":\\"); // a drive letter and a backslash, as Windows writes it
    d.StartUp();
    EXPECT_EQ(d.entryCount, 2);
    const DirectoryLine line = d.ReadPostalEntry(1);
    EXPECT_EQ(line.postalCode, u"7300014");
    EXPECT_EQ(line.townName, U16("上幟町"));
    EXPECT_EQ(d.FilePath(kLinesFileName), folder / L"郵便番号.CSV");

    // The same folder ending in "/" opens the same files.
    DirectoryState slash;
    slash.dataFolder = Text(folder) + u"/";
    slash.StartUp();
    EXPECT_EQ(slash.ReadPostalEntry(2).townName, U16("銀座"));
}

TEST(DirectoryOnWindows, AMissingFileIsNamedInTheErrorAsUtf8)
{
    TempDir t;
    TwoEntries().Write(t.path());
    ASSERT_TRUE(DeleteFileW((t.path() / L"郵便Point.POI").c_str()));
    DirectoryState d;
    d.dataFolder = t.DataFolder();
    ASSERT_EQ(d.dataFolder.back(), u'\\');
    try {
        d.StartUp();
        FAIL() << "started without 郵便Point.POI";
    } catch (const DirectoryError& e) {
        EXPECT_NE(std::string(e.what()).find("郵便Point.POI"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find(PathToUtf8(t.path())), std::string::npos) << e.what();
    }

    // Without its final separator the folder's last name runs into the file names.
    DirectoryState run;
    run.dataFolder = Text(t.path());
    try {
        run.StartUp();
        FAIL() << "started on file names run into the folder name";
    } catch (const DirectoryError& e) {
        EXPECT_NE(std::string(e.what()).find(PathToUtf8(t.path()) + "TOSHI"), std::string::npos) << e.what();
    }
}

TEST(DirectoryOnWindows, ABuildOverAFolderInUseLeavesOneWholeDirectory)
{
    // Marubeta holds every directory file open for its whole run. Windows refuses to move a
    // folder with open files, so a new build stops with an error naming the folder (Wine lets
    // it move). Either way the running program reads on, and the folder holds one whole
    // directory, the old or the new, with no build folder left beside it.
    TempDir t;
    const auto folder = t / "zipdata";
    const std::string row1 = "34101,\"730  \",\"7300014\",\"ﾋﾛｼﾏｹﾝ\",\"ﾋﾛｼﾏｼﾅｶｸ\",\"ｶﾐﾉﾎﾞﾘﾁｮｳ\",\"広島県\",\"広島市中区\",\"上幟町\",0,0,0,0,0,0\r\n";
    const std::string row2 = "13102,\"104  \",\"1040061\",\"ﾄｳｷｮｳﾄ\",\"ﾁｭｳｵｳｸ\",\"ｷﾞﾝｻﾞ\",\"東京都\",\"中央区\",\"銀座\",0,0,0,0,0,0\r\n";
    WriteBytes(t / "old.csv", EncodeCp932(U16(row1)));
    WriteBytes(t / "new.csv", EncodeCp932(U16(row1 + row2)));
    BuildDirectory(t / "old.csv", folder);

    DirectoryState running;
    running.dataFolder = Text(folder) + u"\\";
    running.StartUp();
    // The build runs as its own process, as a user runs it: the old folder it leaves names a
    // process that has ended, so the next build takes it away.
    const auto build = ubin::test::RunProgram(std::filesystem::absolute(PathFromUtf8(UBIN_BUILD_EXE)),
                                              {PathToUtf8(t / "new.csv"), PathToUtf8(folder), "--quiet"});
    const bool replaced = build.status == 0;
    EXPECT_TRUE(build.status == 0 || build.status == 1) << build.status; // built, or refused with a message
    EXPECT_EQ(running.ReadPostalEntry(1).townName, U16("上幟町"));
    // The old folder stays beside it while its files are open, and goes with the next build.
    auto names = [&] {
        std::vector<std::string> n;
        for (const auto& f : std::filesystem::directory_iterator(t.path())) n.push_back(PathToUtf8(f.path().filename()));
        std::sort(n.begin(), n.end());
        return n;
    };
    const std::vector<std::string> whole{"new.csv", "old.csv", "zipdata"};
    std::vector<std::string> now = names();
    if (replaced && now.size() == 4 && now[0].starts_with(".zipdata.old-")) now.erase(now.begin());
    EXPECT_EQ(now, whole);

    DirectoryState fresh;
    fresh.dataFolder = running.dataFolder;
    fresh.StartUp();
    EXPECT_EQ(fresh.entryCount, replaced ? 2 : 1);

    running.CloseAll();
    fresh.CloseAll();
    BuildDirectory(t / "new.csv", folder);
    EXPECT_EQ(names(), whole);
}
