#pragma once
// The platform's file calls used by the directory and the settings file: open read-only and
// shared, positioned reads, sizes, and the atomic replacement of a small text file.
#include <cstdint>
#include <filesystem>
#include <functional>
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
// touches, and every process that maps the same file shares them. Only regular files are
// mapped. Or, in `Load` mode, the file read into memory once: nothing another program does to
// the file afterwards reaches the reader.
//
// A directory file is replaced by a new folder, never rewritten in place; should someone copy
// another file over a mapped one all the same, a read past its new end would stop the process
// (SIGBUS). A mapping is guarded against that: the pages past the end read as zeros instead,
// and Changed() tells, so that the answer drawn from them is refused rather than given.
class MappedFile {
public:
    enum class Mode { Map, Load };
    MappedFile() = default;
    // Throws DirectoryError "<file>: ..." naming the reason.
    explicit MappedFile(const std::filesystem::path& path, Mode mode = Mode::Map);
    // The file open on `file` (the caller keeps its handle; the mapping holds one of its own),
    // as it is now: `path` names it in messages.
    MappedFile(FileHandle file, const std::filesystem::path& path, Mode mode = Mode::Map);
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
    // Whether the file was cut short under the mapping since it was mapped (pages read as zeros).
    bool Changed() const;
    // The file that is mapped, held open for as long as the mapping (kNoFile in Load mode), for
    // reading it through once (a checksum) without touching the mapping's pages.
    FileHandle handle() const { return handle_; }

private:
    void Take(Mode mode);
    void Release();
    void Swap(MappedFile& other) noexcept
    {
        std::swap(path_, other.path_);
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        std::swap(mapping_, other.mapping_);
        std::swap(guard_, other.guard_);
        std::swap(loaded_, other.loaded_);
        std::swap(handle_, other.handle_);
    }

    std::filesystem::path path_;
    const unsigned char* data_ = nullptr;
    std::size_t size_ = 0;
    [[maybe_unused]] std::intptr_t mapping_ = 0; // the mapping object on Windows
    int guard_ = -1;                              // the fault guard's slot; -1: none
    bool loaded_ = false;                         // read into memory (Mode::Load)
    FileHandle handle_ = kNoFile;
};

// How many reads of a mapping were past the end of a file cut short under it, in this process.
// A reader that noted the count before a lookup compares it after: a change means one of the
// mappings may have answered with zeros, and MappedFile::Changed() says which.
std::uint64_t MappingFaults();

// Calls `take` with `size` bytes of an open file from `offset` on, in order, a few megabytes at a
// time, through a window of memory that is released after each part: a file is read as fast as
// a mapping reads it without the reader keeping it. DirectoryError when the file is shorter.
void ForEachPart(FileHandle h, std::uint64_t offset, std::uint64_t size, const std::filesystem::path& path,
                 const std::function<void(const unsigned char*, std::size_t)>& take);

} // namespace ubin::platform
