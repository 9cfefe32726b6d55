#include "base/file.h"

#include "base/errors.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ubin::platform {

namespace {

[[noreturn]] void Fail(const std::filesystem::path& path, const std::string& what, int err)
{
    throw DirectoryError(path.string() + ": " + what + ": " + std::strerror(err));
}

} // namespace

FileHandle OpenReadShared(const std::filesystem::path& path)
{
    // Without waiting: a pipe in a file's place would otherwise block the open until a
    // writer came. For a regular file the flag changes nothing.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT) throw DirectoryError(path.string() + ": file not found");
        Fail(path, "cannot be opened", errno);
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int err = errno;
        ::close(fd);
        Fail(path, "cannot be read", err);
    }
    if (S_ISDIR(st.st_mode)) {
        ::close(fd);
        throw DirectoryError(path.string() + ": is a folder, not a file");
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        throw DirectoryError(path.string() + ": is not a regular file (a device, pipe or socket)");
    }
    return fd;
}

void CloseFile(FileHandle h)
{
    if (h != kNoFile) ::close(static_cast<int>(h));
}

std::size_t ReadAt(FileHandle h, std::uint64_t offset, void* buffer, std::size_t size,
                   const std::filesystem::path& path)
{
    std::size_t done = 0;
    auto* out = static_cast<char*>(buffer);
    while (done < size) {
        const ssize_t n = ::pread(static_cast<int>(h), out + done, size - done,
                                  static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            Fail(path, "read failed at byte " + std::to_string(offset + done + 1), errno);
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

MappedFile::MappedFile(const std::filesystem::path& path) : path_(path)
{
    // Opened as every directory file is: regular files only, without waiting on a pipe.
    const auto fd = static_cast<int>(OpenReadShared(path));
    try {
        size_ = static_cast<std::size_t>(FileSize(fd, path));
    } catch (...) {
        ::close(fd);
        throw;
    }
    if (size_ > 0) {
        void* p = ::mmap(nullptr, size_, PROT_READ, MAP_SHARED, fd, 0);
        if (p == MAP_FAILED) {
            const int err = errno;
            ::close(fd);
            Fail(path, "cannot be mapped", err);
        }
        data_ = static_cast<const unsigned char*>(p);
    }
    ::close(fd);
}

void MappedFile::Release()
{
    if (data_) ::munmap(const_cast<unsigned char*>(data_), size_);
    data_ = nullptr;
    size_ = 0;
}

std::uint64_t FileSize(FileHandle h, const std::filesystem::path& path)
{
    struct stat st {};
    if (::fstat(static_cast<int>(h), &st) != 0) Fail(path, "size cannot be read", errno);
    return static_cast<std::uint64_t>(st.st_size);
}

} // namespace ubin::platform
