// The atomic replace on Windows (MoveFileEx): what it does while other programs hold the file,
// and that every failure leaves the old file whole and no file of its own behind.
#include "base/atomic_write.h"
#include "base/errors.h"
#include "base/path_text.h"
#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <windows.h>

using namespace ubin;
using ubin::test::ReadBytes;
using ubin::test::TempDir;
using ubin::test::WriteBytes;

namespace {

const std::string kOld = "\"\",\"\",\"C:\\ZIPDATA\\\",0,0,0,0,1,1,1,0,0,0,0,0,\"END\"\r\n";
const std::string kNew = "\"\",\"\",\"D:\\NEW\\\",0,0,0,0,1,1,1,0,0,0,0,0,\"END\"\r\n";

std::size_t FilesIn(const std::filesystem::path& folder)
{
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

// A handle on the file as another program would hold it.
class Held {
public:
    Held(const std::filesystem::path& path, DWORD share)
        : h_(CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr))
    {
    }
    ~Held() { if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    bool ok() const { return h_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE h_;
};

// The error of a replace that must fail, or "" when it did not.
std::string ReplaceError(const std::filesystem::path& path, const std::string& bytes)
{
    try {
        WriteFileAtomically(path, bytes);
    } catch (const FileWriteError& e) {
        return e.what();
    }
    return "";
}

} // namespace

TEST(AtomicWriteOnWindows, ReplacesTheFileAndLeavesNothingElse)
{
    TempDir t;
    const auto path = t / "郵便" / "ubscon.def"; // the folder is made, with its Japanese name
    WriteFileAtomically(path, kOld);
    EXPECT_EQ(ReadBytes(path), kOld);
    WriteFileAtomically(path, kNew);
    EXPECT_EQ(ReadBytes(path), kNew);
    EXPECT_EQ(FilesIn(path.parent_path()), 1u);

    // A file left by an earlier write that died halfway is neither in the way nor overwritten.
    const auto leftover = t / "郵便" / ".ubscon.def.0000000000000000.tmp";
    WriteBytes(leftover, "half");
    WriteFileAtomically(path, kOld);
    EXPECT_EQ(ReadBytes(path), kOld);
    EXPECT_EQ(ReadBytes(leftover), "half");
}

TEST(AtomicWriteOnWindows, AFileHeldOpenByAnotherProgramKeepsItsOldContent)
{
    // An editor or another program holding ubscon.def open: the new file is written, but
    // cannot take the old one's place.
    TempDir t;
    const auto path = t / "ubscon.def";
    WriteBytes(path, kOld);
    for (const DWORD share : {DWORD{FILE_SHARE_READ}, DWORD{FILE_SHARE_READ | FILE_SHARE_WRITE}}) {
        std::string error;
        {
            Held editor(path, share);
            ASSERT_TRUE(editor.ok());
            error = ReplaceError(path, kNew);
        }
        EXPECT_NE(error.find(PathToUtf8(path)), std::string::npos) << error;
        EXPECT_NE(error.find("cannot be replaced"), std::string::npos) << error;
        EXPECT_EQ(ReadBytes(path), kOld);
        EXPECT_EQ(FilesIn(t.path()), 1u); // the new file is gone again
    }
}

TEST(AtomicWriteOnWindows, WhenTheNewFileCannotBeWrittenTheOldOneStays)
{
    // A name so long that the new file's own name (a dot, the name, a dot, the process id, a
    // dash and 6 characters) is longer than a file system allows, 255 characters: the new
    // file cannot be made.
    TempDir t;
    const std::string name(250, 'u');
    const auto path = t / name;
    WriteBytes(path, kOld);
    ASSERT_EQ(ReadBytes(path), kOld);
    const std::string error = ReplaceError(path, kNew);
    EXPECT_NE(error.find(name + ": cannot be written"), std::string::npos) << error;
    EXPECT_EQ(ReadBytes(path), kOld);
    EXPECT_EQ(FilesIn(t.path()), 1u);

    // A file where the folder should be: the folder cannot be made.
    WriteBytes(t / "plain", "x");
    EXPECT_THROW(WriteFileAtomically(t / "plain" / "ubscon.def", kNew), FileWriteError);
    EXPECT_EQ(ReadBytes(t / "plain"), "x");
}
