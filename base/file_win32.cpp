#include "base/file.h"

#include "base/errors.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace ubin::platform {

namespace {

[[noreturn]] void Fail(const std::filesystem::path& path, const std::string& what)
{
    throw DirectoryError(path.string() + ": " + what + " (error " + std::to_string(GetLastError()) + ")");
}

} // namespace

FileHandle OpenReadShared(const std::filesystem::path& path)
{
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD err = GetLastError();
        if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND)
            throw DirectoryError(path.string() + ": file not found");
        Fail(path, "cannot be opened");
    }
    if (GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        throw DirectoryError(path.string() + ": is not a regular file (a device, pipe or socket)");
    }
    return reinterpret_cast<FileHandle>(h);
}

void CloseFile(FileHandle h)
{
    if (h != kNoFile) CloseHandle(reinterpret_cast<HANDLE>(h));
}

std::size_t ReadAt(FileHandle h, std::uint64_t offset, void* buffer, std::size_t size,
                   const std::filesystem::path& path)
{
    OVERLAPPED ov{};
    ov.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(h), buffer, static_cast<DWORD>(size), &got, &ov)) {
        if (GetLastError() == ERROR_HANDLE_EOF) return 0;
        Fail(path, "read failed at byte " + std::to_string(offset + 1));
    }
    return got;
}

MappedFile::MappedFile(const std::filesystem::path& path, Mode mode) : path_(path)
{
    // Opened as every directory file is (regular files only).
    handle_ = OpenReadShared(path);
    Take(mode);
}

MappedFile::MappedFile(FileHandle file, const std::filesystem::path& path, Mode mode) : path_(path)
{
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(file), GetCurrentProcess(), &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        Fail(path, "cannot be mapped");
    handle_ = reinterpret_cast<FileHandle>(copy);
    Take(mode);
}

void MappedFile::Take(Mode mode)
{
    HANDLE file = reinterpret_cast<HANDLE>(handle_);
    try {
        LARGE_INTEGER size;
        if (!GetFileSizeEx(file, &size)) Fail(path_, "size cannot be read");
        size_ = static_cast<std::size_t>(size.QuadPart);
        if (size_ > 0 && mode == Mode::Load) {
            auto* copy = new unsigned char[size_];
            data_ = copy;
            loaded_ = true;
            if (ReadAt(handle_, 0, copy, size_, path_) != size_)
                throw DirectoryError(path_.string() + ": the file ended while it was read (it is being replaced?)");
        } else if (size_ > 0) {
            HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
            if (!mapping) Fail(path_, "cannot be mapped");
            mapping_ = reinterpret_cast<std::intptr_t>(mapping);
            void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
            if (!view) Fail(path_, "cannot be mapped");
            data_ = static_cast<const unsigned char*>(view);
        }
    } catch (...) {
        Release();
        throw;
    }
    if (loaded_) {
        CloseFile(handle_);
        handle_ = kNoFile;
    }
}

void MappedFile::Release()
{
    if (data_ && loaded_) delete[] data_;
    else if (data_) UnmapViewOfFile(data_);
    if (mapping_) CloseHandle(reinterpret_cast<HANDLE>(mapping_));
    CloseFile(handle_);
    handle_ = kNoFile;
    data_ = nullptr;
    size_ = 0;
    mapping_ = 0;
    loaded_ = false;
}

// Windows does not let a mapped file be cut short: nothing changes under a mapping.
bool MappedFile::Changed() const { return false; }
std::uint64_t MappingFaults() { return 0; }

void ForEachPart(FileHandle h, std::uint64_t offset, std::uint64_t size, const std::filesystem::path& path,
                 const std::function<void(const unsigned char*, std::size_t)>& take)
{
    std::vector<unsigned char> block(std::size_t{1} << 20);
    for (std::uint64_t at = offset; at < offset + size;) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), offset + size - at));
        const std::size_t got = ReadAt(h, at, block.data(), want, path);
        if (got == 0)
            throw DirectoryError(path.string() + ": the file ends at byte " + std::to_string(at)
                                 + " (it is shorter than when it was opened)");
        take(block.data(), got);
        at += got;
    }
}

std::uint64_t FileSize(FileHandle h, const std::filesystem::path& path)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(reinterpret_cast<HANDLE>(h), &size)) Fail(path, "size cannot be read");
    return static_cast<std::uint64_t>(size.QuadPart);
}

} // namespace ubin::platform
