// Replacing a small file atomically: write a temporary file beside it, flush it to disk, then
// rename it over the old one. A failure at any step removes the temporary file and leaves the
// old file as it was.
#include "base/atomic_write.h"
#include "base/errors.h"
#include "base/leftovers.h"
#include "base/path_text.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ubin {

namespace {

[[noreturn]] void Fail(const std::filesystem::path& path, const std::string& what, int err)
{
    throw FileWriteError(path.string() + ": " + what + ": " + std::strerror(err));
}

void RemoveStaleTemporaries(const std::filesystem::path& folder, const std::string& prefix)
{
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        std::error_code typeError;
        if (entry.is_regular_file(typeError) && !entry.is_symlink(typeError) && IsStaleLeftover(entry, prefix)) {
            std::error_code ignored;
            std::filesystem::remove(entry.path(), ignored);
        }
    }
}

} // namespace

void WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes)
{
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) throw FileWriteError(path.string() + ": the folder cannot be created: " + ec.message());

    // ".<name>.<pid>-XXXXXX": a write that was killed leaves a file the next write removes.
    std::string prefix = ".";
    prefix.append(PathToUtf8(path.filename())).append(".");
    RemoveStaleTemporaries(folder, prefix);
    std::string tmp = (folder / (prefix + ProcessTag() + "XXXXXX")).string();
    const int fd = ::mkstemp(tmp.data());
    if (fd < 0) Fail(path, "cannot be written", errno);
    auto abandon = [&](const std::string& what, int err) {
        ::close(fd);
        ::unlink(tmp.c_str());
        Fail(path, what, err);
    };
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            abandon("cannot be written", errno);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fchmod(fd, 0644) != 0) abandon("cannot be written", errno);
    if (::fsync(fd) != 0) abandon("cannot be written", errno);
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        Fail(path, "cannot be written", err);
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        Fail(path, "cannot be replaced", err);
    }
}

} // namespace ubin
