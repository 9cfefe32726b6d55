// Files used where they lie: a mapping that a file cut short under it cannot stop the process
// with, the mode that reads the file instead, and the checksum taken through the file a part at a
// time without keeping it.
#include "base/checksum.h"
#include "base/errors.h"
#include "base/file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

using namespace ubin;
using platform::MappedFile;

namespace {

class TempFile {
public:
    explicit TempFile(const std::string& bytes)
        : path_(std::filesystem::temp_directory_path()
                / ("ubin-mapped-" + std::to_string(std::random_device{}()) + ".bin"))
    {
        Write(bytes);
    }
    ~TempFile()
    {
        std::error_code ec;
        std::filesystem::remove(path_, ec);
    }
    void Write(const std::string& bytes) const { std::ofstream(path_, std::ios::binary | std::ios::trunc) << bytes; }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

std::string Bytes(std::size_t n, unsigned seed)
{
    std::mt19937 random(seed);
    std::string out(n, '\0');
    for (char& c : out) c = static_cast<char>('a' + random() % 26);
    return out;
}

} // namespace

#ifndef _WIN32
// Windows does not let a mapped file be cut short; elsewhere a copy over it does just that.
TEST(MappedFile, AFileCutShortUnderItsMappingReadsZerosAndSaysSo)
{
    const std::string bytes = Bytes(3 * 65536, 1);
    const TempFile file(bytes);
    const MappedFile map(file.path());
    ASSERT_EQ(map.bytes().size(), bytes.size());
    EXPECT_EQ(map.bytes()[100000], static_cast<unsigned char>(bytes[100000]));
    EXPECT_FALSE(map.Changed());
    const std::uint64_t faults = platform::MappingFaults();

    std::filesystem::resize_file(file.path(), 1000);
    const volatile unsigned char* past = map.bytes().data() + 100000;
    EXPECT_EQ(*past, 0) << "a page past the new end reads as zeros";
    EXPECT_TRUE(map.Changed());
    EXPECT_GT(platform::MappingFaults(), faults);
    EXPECT_EQ(map.bytes()[10], static_cast<unsigned char>(bytes[10])) << "the bytes still there are read as before";
}

TEST(MappedFile, ALoadedFileKeepsWhatItReadWhateverHappensToTheFile)
{
    const std::string bytes = Bytes(70000, 2);
    const TempFile file(bytes);
    const MappedFile loaded(file.path(), MappedFile::Mode::Load);
    EXPECT_EQ(loaded.handle(), platform::kNoFile);
    file.Write("short");
    ASSERT_EQ(loaded.bytes().size(), bytes.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(loaded.bytes().data()), bytes.size()), bytes);
    EXPECT_FALSE(loaded.Changed());
}
#endif

TEST(MappedFile, TheChecksumThroughTheFileIsTheChecksumOfItsBytes)
{
    // Below and above the size read in one part, and a window and a bit.
    for (const std::size_t size : {std::size_t{10}, std::size_t{300000}, std::size_t{(4u << 20) + 12345}}) {
        SCOPED_TRACE(size);
        const std::string bytes = Bytes(size, static_cast<unsigned>(size));
        const TempFile file(bytes);
        for (const auto mode : {MappedFile::Mode::Map, MappedFile::Mode::Load}) {
            const MappedFile map(file.path(), mode);
            EXPECT_EQ(Xxh3OfMapped(map), Xxh3Of(bytes));
            // The field may lie at the start, inside, across the end of a part or at the very end.
            for (const std::size_t field : {std::size_t{0}, (size - 8) / 2, size - 8, (std::size_t{4} << 20) - 4}) {
                if (field > size - 8) continue;
                EXPECT_EQ(Xxh3OfMapped(map, field),
                          Xxh3WithFieldZeroed({reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()}, field));
            }
        }
        const platform::FileHandle h = platform::OpenReadShared(file.path());
        EXPECT_EQ(Xxh3OfOpenFile(h, bytes.size(), file.path()), Xxh3Of(bytes));
        // A file shorter than it was when it was opened is named, not read past.
        EXPECT_THROW(Xxh3OfOpenFile(h, bytes.size() + 70000, file.path()), DirectoryError);
        platform::CloseFile(h);
    }
}
