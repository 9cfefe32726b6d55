#include "builder/output_folder.h"

#include "builder/builder.h"

#include "base/leftovers.h"
#include "base/path_text.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>

#ifdef _WIN32
#include <fstream>
#else
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace ubin {

namespace {

std::string RandomTag()
{
    static std::mt19937_64 random{std::random_device{}()};
    static const char* digits = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string tag;
    for (int i = 0; i < 8; ++i) tag.push_back(digits[random() % 36]);
    return tag;
}

// ".<name>.<kind>-": the hidden folders of a build beside its final place.
std::string HiddenPrefix(const fs::path& finalPath, const std::string& kind)
{
    std::string prefix = ".";
    // As UTF-8 text: the folder's own name may hold any character (郵便データ on Windows).
    prefix.append(PathToUtf8(finalPath.filename())).append(".").append(kind).append("-");
    return prefix;
}

fs::path Beside(const fs::path& finalPath, const std::string& kind)
{
    return finalPath.parent_path() / PathFromUtf8(HiddenPrefix(finalPath, kind) + ProcessTag() + RandomTag());
}

enum class Removal { Removed, NotOwn, InUse };

// Removes the folder with its own files. NotOwn, with nothing removed, when it holds anything
// else (or cannot be listed); InUse when some of its files could not be removed, as Windows
// refuses for files another program holds open: what is left is still only own files.
Removal RemoveOwnFolder(const fs::path& folder, const std::vector<fs::path>& own)
{
    std::error_code ec;
    std::vector<fs::path> files;
    for (const auto& item : fs::directory_iterator(folder, ec)) {
        std::error_code typeError;
        if (!fs::is_regular_file(item.symlink_status(typeError))
            || std::find(own.begin(), own.end(), item.path().filename()) == own.end())
            return Removal::NotOwn;
        files.push_back(item.path());
    }
    if (ec) return Removal::NotOwn;
    bool allGone = true;
    for (const auto& f : files) {
        std::error_code fileError;
        fs::remove(f, fileError);
        allGone = allGone && !fileError;
    }
    if (!allGone) return Removal::InUse;
    return fs::remove(folder, ec) && !ec ? Removal::Removed : Removal::InUse;
}

[[noreturn]] void Fail(const fs::path& path, const std::string& what, const std::error_code& ec)
{
    throw BuildError(path, 0, what + ": " + ec.message());
}

void SyncFolder([[maybe_unused]] const fs::path& folder)
{
#ifndef _WIN32
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#endif
}

// Exchanges two existing folders in one step; false when the system cannot.
bool Exchange([[maybe_unused]] const fs::path& a, [[maybe_unused]] const fs::path& b, std::error_code& ec)
{
#if defined(__linux__) && defined(RENAME_EXCHANGE)
    if (::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) ec = std::error_code(errno, std::generic_category());
#else
    ec.clear();
#endif
    return false;
}

} // namespace

OutputFolder::OutputFolder(const fs::path& finalPath, std::vector<fs::path> ownNames)
    : final_(finalPath), own_(std::move(ownNames))
{
    std::error_code ec;
    fs::create_directories(final_.parent_path(), ec);
    if (ec) Fail(final_.parent_path(), "the folder cannot be created", ec);
    for (int attempt = 0;; ++attempt) {
        temp_ = Beside(final_, "build");
        if (fs::create_directory(temp_, ec)) break;
        if (ec || attempt == 20) Fail(temp_, "the build folder cannot be created", ec);
    }
    // The new folder gets the old one's permissions, or the usual ones for a new folder.
    const fs::perms perms = fs::is_directory(final_, ec)
                                ? fs::status(final_, ec).permissions()
                                : fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec
                                      | fs::perms::others_read | fs::perms::others_exec;
    fs::permissions(temp_, perms, ec);
}

OutputFolder::~OutputFolder()
{
    if (committed_) return;
    RemoveOwnFolder(temp_, own_);
}

void OutputFolder::RemoveLeftovers(const fs::path& finalPath, const std::vector<fs::path>& ownNames)
{
    const std::string build = HiddenPrefix(finalPath, "build");
    const std::string old = HiddenPrefix(finalPath, "old");
    std::error_code ec;
    for (const auto& item : fs::directory_iterator(finalPath.parent_path(), ec)) {
        std::error_code typeError;
        if (!fs::is_directory(item.symlink_status(typeError))) continue;
        // Folders named before the process id was part of the name have 8 random characters.
        const bool isOld = IsStaleLeftover(item, old, 8);
        if (!isOld && !IsStaleLeftover(item, build, 8)) continue;
        if (isOld && !fs::exists(fs::symlink_status(finalPath, typeError))) {
            fs::rename(item.path(), finalPath, typeError);
            if (!typeError) continue;
        }
        RemoveOwnFolder(item.path(), ownNames);
    }
}

void OutputFolder::WriteFile(const fs::path& name, std::string_view bytes)
{
    const fs::path path = temp_ / name;
#ifdef _WIN32
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out) throw BuildError(final_ / name, 0, "cannot be written");
#else
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    auto fail = [&](int err) {
        if (fd >= 0) ::close(fd);
        throw BuildError(final_ / name, 0, std::string("cannot be written: ") + std::strerror(err));
    };
    if (fd < 0) fail(errno);
    // Written 64 KB at a time: the system keeps a file in its cache in pieces of at most the size
    // it was written in, and a program that maps the file and touches one byte maps the whole
    // piece. Pieces of megabytes would make every lookup count megabytes as its memory.
    constexpr std::size_t kPiece = std::size_t{64} << 10;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, std::min(kPiece, bytes.size() - done));
        if (n < 0) {
            if (errno == EINTR) continue;
            fail(errno);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) fail(errno);
    if (::close(fd) != 0) throw BuildError(final_ / name, 0, std::string("cannot be written: ") + std::strerror(errno));
#endif
}

void OutputFolder::Commit()
{
    SyncFolder(temp_);
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(final_, ec))) {
        fs::rename(temp_, final_, ec);
        if (ec) Fail(final_, "cannot be put in place", ec);
        committed_ = true;
        SyncFolder(final_.parent_path());
        return;
    }
    if (Exchange(temp_, final_, ec)) {
        committed_ = true; // temp_ now holds the old folder
        DisposeOld(temp_);
        SyncFolder(final_.parent_path());
        return;
    }
    if (ec) Fail(final_, "cannot be replaced", ec);
    const fs::path old = Beside(final_, "old");
    fs::rename(final_, old, ec);
    if (ec) Fail(final_, "cannot be replaced", ec);
    fs::rename(temp_, final_, ec);
    if (ec) {
        std::error_code back;
        fs::rename(old, final_, back);
        Fail(final_, "cannot be replaced", ec);
    }
    committed_ = true;
    DisposeOld(old);
    SyncFolder(final_.parent_path());
}

void OutputFolder::DisposeOld(const fs::path& old)
{
    // Files in use stay in the moved-aside folder, under the name that lets the next build
    // take it away once this process has ended.
    if (RemoveOwnFolder(old, own_) != Removal::NotOwn) return;
    std::error_code ec;
    const fs::path kept =
        final_.parent_path() / PathFromUtf8(PathToUtf8(final_.filename()) + ".kept-" + ProcessTag() + RandomTag());
    fs::rename(old, kept, ec);
    kept_ = ec ? old : kept;
}

} // namespace ubin
