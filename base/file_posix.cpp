#include "base/file.h"

#include "base/errors.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <mutex>
#include <vector>
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

namespace {

// The fault guard of the mappings: each live mapping holds a slot with its address range. A
// read past the end of a file cut short under its mapping raises SIGBUS; the handler maps a
// page of zeros over the faulting page of a guarded range, marks the slot and lets the read go
// on. A fault anywhere else goes to the handler that was there before (or stops the process as
// it would have).
constexpr int kGuardSlots = 4096;

struct GuardSlot {
    std::atomic<std::uintptr_t> begin{0}, end{0};
    std::atomic<bool> taken{false}, changed{false};
};

GuardSlot g_slots[kGuardSlots];
std::atomic<std::uint64_t> g_faults{0};
std::uintptr_t g_pageSize = 4096;
struct sigaction g_previous {};
std::once_flag g_installed;

void OnBusError(int signal, siginfo_t* info, void* context)
{
    const auto at = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (GuardSlot& slot : g_slots) {
        const std::uintptr_t begin = slot.begin.load(std::memory_order_acquire);
        if (begin == 0 || at < begin || at >= slot.end.load(std::memory_order_acquire)) continue;
        void* page = reinterpret_cast<void*>(at & ~(g_pageSize - 1));
        if (::mmap(page, g_pageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) == MAP_FAILED) break;
        slot.changed.store(true, std::memory_order_release);
        g_faults.fetch_add(1, std::memory_order_acq_rel);
        return;
    }
    if (g_previous.sa_flags & SA_SIGINFO) {
        if (g_previous.sa_sigaction) return g_previous.sa_sigaction(signal, info, context);
    } else if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
        return g_previous.sa_handler(signal);
    }
    // No one else takes it: the fault happens again under the default action.
    ::signal(SIGBUS, SIG_DFL);
}

void InstallGuard()
{
    std::call_once(g_installed, [] {
        const long page = ::sysconf(_SC_PAGESIZE);
        if (page > 0) g_pageSize = static_cast<std::uintptr_t>(page);
        struct sigaction action {};
        action.sa_sigaction = OnBusError;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, &g_previous);
    });
}

// A slot for the range, or -1 when every slot is taken (the mapping then goes unguarded).
int Guard(const void* data, std::size_t size)
{
    InstallGuard();
    for (int i = 0; i < kGuardSlots; ++i) {
        bool expected = false;
        if (!g_slots[i].taken.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) continue;
        g_slots[i].changed.store(false, std::memory_order_relaxed);
        g_slots[i].end.store(reinterpret_cast<std::uintptr_t>(data) + size, std::memory_order_release);
        g_slots[i].begin.store(reinterpret_cast<std::uintptr_t>(data), std::memory_order_release);
        return i;
    }
    return -1;
}

void Unguard(int slot)
{
    if (slot < 0) return;
    g_slots[slot].begin.store(0, std::memory_order_release);
    g_slots[slot].end.store(0, std::memory_order_release);
    g_slots[slot].taken.store(false, std::memory_order_release);
}

} // namespace

MappedFile::MappedFile(const std::filesystem::path& path, Mode mode) : path_(path)
{
    // Opened as every directory file is: regular files only, without waiting on a pipe.
    handle_ = OpenReadShared(path);
    Take(mode);
}

MappedFile::MappedFile(FileHandle file, const std::filesystem::path& path, Mode mode) : path_(path)
{
    const int copy = ::fcntl(static_cast<int>(file), F_DUPFD_CLOEXEC, 0);
    if (copy < 0) Fail(path, "cannot be mapped", errno);
    handle_ = copy;
    Take(mode);
}

void MappedFile::Take(Mode mode)
{
    try {
        size_ = static_cast<std::size_t>(FileSize(handle_, path_));
        if (size_ > 0 && mode == Mode::Load) {
            auto* copy = new unsigned char[size_];
            data_ = copy;
            loaded_ = true;
            if (ReadAt(handle_, 0, copy, size_, path_) != size_)
                throw DirectoryError(path_.string() + ": the file ended while it was read (it is being replaced?)");
        } else if (size_ > 0) {
            void* p = ::mmap(nullptr, size_, PROT_READ, MAP_SHARED, static_cast<int>(handle_), 0);
            if (p == MAP_FAILED) Fail(path_, "cannot be mapped", errno);
            data_ = static_cast<const unsigned char*>(p);
            guard_ = Guard(data_, size_);
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
    Unguard(guard_);
    guard_ = -1;
    if (data_ && loaded_) delete[] data_;
    else if (data_) ::munmap(const_cast<unsigned char*>(data_), size_);
    CloseFile(handle_);
    handle_ = kNoFile;
    data_ = nullptr;
    size_ = 0;
    loaded_ = false;
}

bool MappedFile::Changed() const
{
    return guard_ >= 0 && g_slots[guard_].changed.load(std::memory_order_acquire);
}

std::uint64_t MappingFaults() { return g_faults.load(std::memory_order_acquire); }

void ForEachPart(FileHandle h, std::uint64_t offset, std::uint64_t size, const std::filesystem::path& path,
                 const std::function<void(const unsigned char*, std::size_t)>& take)
{
    const auto shorter = [&](std::uint64_t at) {
        return DirectoryError(path.string() + ": the file ends at byte " + std::to_string(at)
                              + " (it is shorter than when it was opened)");
    };
    // A small part is read; a large one through a mapped window, which costs no copy.
    constexpr std::size_t kSmall = std::size_t{1} << 18;
    constexpr std::size_t kWindow = std::size_t{4} << 20;
    if (size <= kSmall) {
        std::vector<unsigned char> block(static_cast<std::size_t>(size));
        if (ReadAt(h, offset, block.data(), block.size(), path) != block.size()) throw shorter(offset);
        take(block.data(), block.size());
        return;
    }
    if (const std::uint64_t length = FileSize(h, path); length < offset + size) throw shorter(length);
    InstallGuard();
    for (std::uint64_t at = offset; at < offset + size;) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kWindow, offset + size - at));
        const std::uint64_t base = at & ~static_cast<std::uint64_t>(g_pageSize - 1);
        const auto lead = static_cast<std::size_t>(at - base);
        void* p = ::mmap(nullptr, n + lead, PROT_READ, MAP_SHARED | MAP_POPULATE, static_cast<int>(h), static_cast<off_t>(base));
        if (p == MAP_FAILED) Fail(path, "cannot be read", errno);
        const int slot = Guard(p, n + lead);
        take(static_cast<const unsigned char*>(p) + lead, n);
        const bool cut = slot >= 0 && g_slots[slot].changed.load(std::memory_order_acquire);
        Unguard(slot);
        ::munmap(p, n + lead);
        if (cut) throw shorter(at);
        at += n;
    }
}

std::uint64_t FileSize(FileHandle h, const std::filesystem::path& path)
{
    struct stat st {};
    if (::fstat(static_cast<int>(h), &st) != 0) Fail(path, "size cannot be read", errno);
    return static_cast<std::uint64_t>(st.st_size);
}

} // namespace ubin::platform
