#include "base/file.h"

#include "base/errors.h"

#include <windows.h>

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

MappedFile::MappedFile(const std::filesystem::path& path) : path_(path)
{
    // Opened as every directory file is (regular files only).
    HANDLE file = reinterpret_cast<HANDLE>(OpenReadShared(path));
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) {
        CloseHandle(file);
        Fail(path, "size cannot be read");
    }
    size_ = static_cast<std::size_t>(size.QuadPart);
    if (size_ > 0) {
        HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
        if (!mapping) {
            CloseHandle(file);
            Fail(path, "cannot be mapped");
        }
        void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
        if (!view) {
            CloseHandle(mapping);
            CloseHandle(file);
            Fail(path, "cannot be mapped");
        }
        data_ = static_cast<const unsigned char*>(view);
        mapping_ = reinterpret_cast<std::intptr_t>(mapping);
    }
    CloseHandle(file);
}

void MappedFile::Release()
{
    if (data_) UnmapViewOfFile(data_);
    if (mapping_) CloseHandle(reinterpret_cast<HANDLE>(mapping_));
    data_ = nullptr;
    size_ = 0;
    mapping_ = 0;
}

std::uint64_t FileSize(FileHandle h, const std::filesystem::path& path)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(reinterpret_cast<HANDLE>(h), &size)) Fail(path, "size cannot be read");
    return static_cast<std::uint64_t>(size.QuadPart);
}

} // namespace ubin::platform
