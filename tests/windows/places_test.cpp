// Where the programs look for ubscon.def on Windows, on the system's real folders: the Windows
// folder found by each program's probe, the installation folder, the current folder. These
// write into C:\WINDOWS\ and c:\Program Files\Marubeta\, so they run only in a disposable
// system (under Wine, or where UBIN_TEST_SYSTEM_FOLDERS=1) and put back what was there.
#include "base/cp932.h"
#include "base/path_text.h"
#include "base/text.h"
#include "settings/places.h"
#include "settings/settings.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <windows.h>

using namespace ubin;
using ubin::test::ReadBytes;
using ubin::test::RunProgram;
using ubin::test::TempDir;
using ubin::test::WriteBytes;
namespace fs = std::filesystem;

namespace {

bool SystemFoldersMayBeWritten()
{
    const char* allowed = std::getenv("UBIN_TEST_SYSTEM_FOLDERS");
    if (allowed && std::string(allowed) == "1") return true;
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// A file in a system folder for the length of one test: what stood there before comes back.
class SystemFile {
public:
    explicit SystemFile(fs::path path) : path_(std::move(path))
    {
        std::error_code ec;
        createdFolder_ = fs::create_directories(path_.parent_path(), ec) ? path_.parent_path() : fs::path();
        if (fs::exists(path_, ec)) old_ = ReadBytes(path_);
    }
    ~SystemFile()
    {
        std::error_code ec;
        if (old_) WriteBytes(path_, *old_);
        else fs::remove(path_, ec);
        if (!createdFolder_.empty()) fs::remove(createdFolder_, ec);
    }
    SystemFile(const SystemFile&) = delete;
    SystemFile& operator=(const SystemFile&) = delete;
    const fs::path& path() const { return path_; }
    void Write(const std::u16string& dataFolder) const
    {
        Settings s;
        s.dataFolder = dataFolder;
        s.clipFlags[kClipPostalCode] = s.clipFlags[kClipAddress1] = s.clipFlags[kClipAddress2] = 1;
        WriteSettingsFile(path_, s);
    }
    void Remove() const { fs::remove(path_); }

private:
    fs::path path_;
    fs::path createdFolder_;
    std::optional<std::string> old_;
};

// The current folder for the length of one test.
class InFolder {
public:
    explicit InFolder(const fs::path& folder) : old_(fs::current_path()) { fs::current_path(folder); }
    ~InFolder() { fs::current_path(old_); }
    InFolder(const InFolder&) = delete;
    InFolder& operator=(const InFolder&) = delete;

private:
    fs::path old_;
};

} // namespace

class PlacesOnWindows : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!SystemFoldersMayBeWritten())
            GTEST_SKIP() << "writes into C:\\WINDOWS\\; set UBIN_TEST_SYSTEM_FOLDERS=1 on a disposable system";
    }
};

TEST_F(PlacesOnWindows, EachProgramsWindowsFolderByItsProbe)
{
    TempDir cwd;
    PlaceContext m = PlatformPlaces(Program::Marubeta, {}, {}, cwd.path());
    EXPECT_EQ(m.windowsFolder.wstring(), L"C:\\WINDOWS\\");
    EXPECT_EQ(m.currentFolder, cwd.path());
    EXPECT_EQ(m.installFolder.wstring(), L"c:\\Program Files\\Marubeta\\");
    EXPECT_EQ(PlatformPlaces(Program::Tenzora, {}, {}, cwd.path()).windowsFolder.wstring(), L"C:\\Windows\\");
    EXPECT_EQ(PlatformPlaces(Program::Control, {}, {}, cwd.path()).windowsFolder.wstring(), L"c:\\windows\\");
    EXPECT_EQ(SettingsSavePath(m).wstring(), L"C:\\WINDOWS\\ubscon.def");

    // A bitmap in c:\WINNT\ makes it Marubeta's Windows folder (the name's case does not
    // matter); Tenzora looks for a .sys file there instead.
    {
        SystemFile bitmap(L"c:\\winnt\\setup.bmp");
        WriteBytes(bitmap.path(), "BM");
        EXPECT_EQ(PlatformPlaces(Program::Marubeta, {}, {}, cwd.path()).windowsFolder.wstring(), L"C:\\WINNT\\");
        EXPECT_EQ(PlatformPlaces(Program::Tenzora, {}, {}, cwd.path()).windowsFolder.wstring(), L"C:\\Windows\\");
        SystemFile driver(L"C:\\WINNT\\serial.SYS");
        WriteBytes(driver.path(), "MZ");
        EXPECT_EQ(PlatformPlaces(Program::Tenzora, {}, {}, cwd.path()).windowsFolder.wstring(), L"C:\\WinNT\\");
        EXPECT_EQ(PlatformPlaces(Program::Control, {}, {}, cwd.path()).windowsFolder.wstring(), L"c:\\windows\\");
    }
    EXPECT_EQ(PlatformPlaces(Program::Marubeta, {}, {}, cwd.path()).windowsFolder.wstring(), L"C:\\WINDOWS\\");
}

TEST_F(PlacesOnWindows, SettingsAreFoundInTheWindowsFolderTheInstallationAndTheCurrentFolder)
{
    TempDir cwd;
    InFolder in(cwd.path());
    const PlaceContext ctx = PlatformPlaces(Program::Marubeta, {}, {}, fs::current_path());
    SystemFile windows(L"C:\\WINDOWS\\ubscon.def");
    SystemFile installed(L"c:\\Program Files\\Marubeta\\ubscon.def");
    windows.Remove();

    std::vector<std::string> tried;
    EXPECT_FALSE(FindSettings(SettingsPlaces(Program::Marubeta, ctx), &tried));
    ASSERT_EQ(tried.size(), 3u);
    EXPECT_NE(tried[0].find("C:\\WINDOWS\\ubscon.def"), std::string::npos) << tried[0];
    EXPECT_NE(tried[2].find("c:\\Program Files\\Marubeta\\ubscon.def"), std::string::npos) << tried[2];

    installed.Write(u"C:\\ZIPDATA\\");
    auto found = FindSettings(SettingsPlaces(Program::Marubeta, ctx));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->placeIndex, 2u);
    EXPECT_EQ(found->settings.dataFolder, u"C:\\ZIPDATA\\");
    // The control does not look in the installation folder.
    EXPECT_FALSE(FindSettings(SettingsPlaces(Program::Control, PlatformPlaces(Program::Control, {}, {}, cwd.path()))));

    // A relative name in the current folder, as the programs give it.
    SystemFile current(fs::current_path() / "ubscon.def");
    current.Write(U16("D:\\郵便データ\\"));
    found = FindSettings(SettingsPlaces(Program::Marubeta, ctx));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->placeIndex, 1u);
    EXPECT_EQ(found->settings.dataFolder, U16("D:\\郵便データ\\"));

    // What Marubeta saves to C:\WINDOWS\ the control reads from c:\windows\: one folder.
    Settings saved = found->settings;
    saved.windowLeft = 1200;
    WriteSettingsFile(SettingsSavePath(ctx), saved);
    const auto control = FindSettings(SettingsPlaces(Program::Control, PlatformPlaces(Program::Control, {}, {}, cwd.path())));
    ASSERT_TRUE(control);
    EXPECT_EQ(control->placeIndex, 0u);
    EXPECT_EQ(control->settings.windowLeft, 1200);
    EXPECT_EQ(control->settings.dataFolder, U16("D:\\郵便データ\\"));
    // The file is code page 932 with CR LF, as the programs have always written it.
    const std::string bytes = ReadBytes(windows.path());
    EXPECT_TRUE(bytes.starts_with("\"\",\"\",\"D:\\" + EncodeCp932(U16("郵便")))) << bytes;
    EXPECT_TRUE(bytes.ends_with("\"END\"\r\n")) << bytes;
}

TEST_F(PlacesOnWindows, UbinFindsTheSampleDirectoryThroughC_WINDOWS)
{
    // The sample's own ubscon.def, written by ubin-build.exe, names its folder as Windows does.
    const Settings sample = ReadSettingsFile(PathFromUtf8(UBIN_SAMPLE_DIR) / "ubscon.def");
    ASSERT_GE(sample.dataFolder.size(), 4u);
    EXPECT_EQ(sample.dataFolder.substr(1, 2), u":\\");
    EXPECT_EQ(sample.dataFolder.back(), u'\\');

    SystemFile windows(L"C:\\WINDOWS\\ubscon.def");
    windows.Write(sample.dataFolder);
    const auto run = RunProgram(fs::absolute(PathFromUtf8(UBIN_EXE)), {"postal", "7300014"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("IT3\t広島市中区\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("IT4\t上幟町\n"), std::string::npos) << run.out;

    // With no settings anywhere the program says where it looked.
    windows.Remove();
    EXPECT_EQ(RunProgram(fs::absolute(PathFromUtf8(UBIN_EXE)), {"postal", "7300014"}).status, 2);
}
