#pragma once
// The platform's file calls used by the directory and the settings file: open read-only and
// shared, positioned reads, sizes, and the atomic replacement of a small text file.
#include <cstdint>
#include <filesystem>
#include <string>

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

} // namespace ubin::platform
