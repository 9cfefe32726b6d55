#pragma once
// The platform's file calls used by the directory and the settings file: open read-only and
// shared, positioned reads, sizes, and the atomic replacement of a small text file.
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <utility>

namespace ubin::platform {

using FileHandle = std::intptr_t;
inline constexpr FileHandle kNoFile = -1;

// Opens for shared reading; throws DirectoryError "<file>: ..." naming the reason.
FileHandle OpenReadShared(const std::filesystem::path& path);
void CloseFile(FileHandle h);
// Reads up to size bytes at a 0-based offset; returns the count read (0 at the end).
std::size_t ReadAt(FileHandle h, std::uint64_t offset, void* buffer, std::size_t size,
                   const std::filesystem::path& path);
std::uint64_t FileSize(FileHandle h, const std::filesystem::path& path);

// A file mapped read-only into memory for its whole life: the system reads the pages a reader
// touches. Only regular files are mapped. The file must not be cut short while it is mapped
// (the directory's files are replaced by a new folder, never rewritten in place).
class MappedFile {
public:
    MappedFile() = default;
    // Throws DirectoryError "<file>: ..." naming the reason.
    explicit MappedFile(const std::filesystem::path& path);
    ~MappedFile() { Release(); }
    MappedFile(MappedFile&& other) noexcept { Swap(other); }
    MappedFile& operator=(MappedFile&& other) noexcept
    {
        MappedFile old(std::move(other));
        Swap(old); // `old` takes this one's mapping and releases it
        return *this;
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    std::span<const unsigned char> bytes() const { return {data_, size_}; }
    const std::filesystem::path& path() const { return path_; }

private:
    void Release();
    void Swap(MappedFile& other) noexcept
    {
        std::swap(path_, other.path_);
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        std::swap(mapping_, other.mapping_);
    }

    std::filesystem::path path_;
    const unsigned char* data_ = nullptr;
    std::size_t size_ = 0;
    [[maybe_unused]] std::intptr_t mapping_ = 0; // the mapping object on Windows
};

} // namespace ubin::platform
