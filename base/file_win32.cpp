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
    HANDLE file = reinterpret_cast<HANDLE>(OpenReadShared(path));
    LARGE_INTEGER size;
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size)) {
        CloseHandle(file);
        throw DirectoryError(path.string() + ": is not a regular file");
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

MappedFile::~MappedFile() { Release(); }

MappedFile::MappedFile(MappedFile&& other) noexcept
    : path_(std::move(other.path_)), data_(other.data_), size_(other.size_), mapping_(other.mapping_)
{
    other.data_ = nullptr;
    other.size_ = 0;
    other.mapping_ = 0;
}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept
{
    if (this != &other) {
        Release();
        path_ = std::move(other.path_);
        data_ = other.data_;
        size_ = other.size_;
        mapping_ = other.mapping_;
        other.data_ = nullptr;
        other.size_ = 0;
        other.mapping_ = 0;
    }
    return *this;
}

std::uint64_t FileSize(FileHandle h, const std::filesystem::path& path)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(reinterpret_cast<HANDLE>(h), &size)) Fail(path, "size cannot be read");
    return static_cast<std::uint64_t>(size.QuadPart);
}

} // namespace ubin::platform
