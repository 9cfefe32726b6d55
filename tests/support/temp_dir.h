#pragma once
// A temporary folder for one test, removed with everything in it at the end.
#include <filesystem>
#include <string>
#include <string_view>

namespace ubin::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The name is UTF-8 text.
    std::filesystem::path operator/(std::string_view name) const;
    // The folder as a DataFolder text: the path followed by the platform's separator (a backslash on
    // Windows).
    std::u16string DataFolder() const;

private:
    std::filesystem::path path_;
};

// A directory file's name, as the directory's headers give it (UTF-16), for a path.
std::filesystem::path FileName(std::u16string_view name);

void WriteBytes(const std::filesystem::path& path, std::string_view bytes);
std::string ReadBytes(const std::filesystem::path& path);

} // namespace ubin::test
