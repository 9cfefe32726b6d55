#include "search/live.h"

#include "base/cp932.h"
#include "base/errors.h"
#include "directory/manifest.h"

#include <filesystem>

namespace ubin {

std::optional<std::string> FolderBuild(const DirectoryState& folder)
{
    try {
        if (const auto manifest = ReadManifest(folder.FilePath(kManifestFileName))) return "build " + manifest->build;
    } catch (const Error&) {
        return std::nullopt;
    }
    // Without a manifest: the sizes and times of the point file and the postal index.
    std::string id;
    for (const std::u16string* name : {&kPointFileName, &kIndexFileNames[0], &kLinesFileName}) {
        std::error_code ec;
        const auto path = folder.FilePath(*name);
        const auto size = std::filesystem::file_size(path, ec);
        const auto time = std::filesystem::last_write_time(path, ec);
        if (ec) return std::nullopt;
        id += std::to_string(size) + "@" + std::to_string(time.time_since_epoch().count()) + ";";
    }
    return id;
}

void FolderWatch::Opened(const DirectoryState& folder)
{
    // The build that was opened, as its manifest said when it was opened.
    build_ = folder.manifestBuild.empty() ? FolderBuild(folder).value_or("") : "build " + folder.manifestBuild;
    last_ = std::chrono::steady_clock::now();
}

bool FolderWatch::Replaced(const DirectoryState& folder)
{
    const auto now = std::chrono::steady_clock::now();
    if (now - last_ < every_) return false;
    last_ = now;
    const std::optional<std::string> build = FolderBuild(folder);
    // A folder that cannot be read now is being replaced: it is looked at again later.
    return build && *build != build_;
}

LiveDirectory::LiveDirectory(std::u16string dataFolder, Options options)
    : dataFolder_(std::move(dataFolder)), options_(options)
{
    probe_.dataFolder = dataFolder_;
    current_ = OpenEdition();
    // The first opening has nothing to fall back on: a folder being replaced is opened again.
    for (int attempt = 0; !current_ && attempt < 10; ++attempt) current_ = OpenEdition();
    if (!current_) throw DirectoryError(ToUtf8(dataFolder_) + ": the folder keeps changing while it is opened");
    lastCheck_ = std::chrono::steady_clock::now();
}

std::shared_ptr<const Edition> LiveDirectory::OpenEdition() const
{
    const std::optional<std::string> before = FolderBuild(probe_);
    auto lookup = std::shared_ptr<const Lookup>(Lookup::Open(dataFolder_, options_.mapped));
    std::shared_ptr<const Finder> finder;
    std::error_code ec;
    if (options_.find && std::filesystem::exists(lookup->directory().FilePath(kFindIndexFileName), ec))
        finder = std::make_shared<const Finder>(*lookup);
    // The folder replaced while its files were being opened: they may be of two builds.
    if (!before || FolderBuild(probe_) != before) return nullptr;
    auto edition = std::make_shared<Edition>();
    const std::string& opened = lookup->directory().manifestBuild;
    edition->build = opened.empty() ? *before : "build " + opened;
    edition->lookup = std::move(lookup);
    edition->finder = std::move(finder);
    return edition;
}

std::shared_ptr<const Edition> LiveDirectory::Current()
{
    std::unique_lock lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    if (now - lastCheck_ < options_.checkEvery) return current_;
    lastCheck_ = now;
    std::shared_ptr<const Edition> current = current_;
    lock.unlock();
    // Looking and opening run outside the lock: other lookups go on with the current edition.
    // Files copied over the open ones (not the way to replace a folder) refuse every answer from
    // then on: the folder is opened again, even where the manifest kept its build.
    const std::optional<std::string> build = FolderBuild(probe_);
    const bool changed = current->finder ? current->finder->FilesChanged() : current->lookup->directory().Changed();
    if (!build || (*build == current->build && !changed)) return current;
    std::shared_ptr<const Edition> next;
    try {
        next = OpenEdition();
    } catch (const Error&) {
        next = nullptr; // half replaced: tried again at the next look
    }
    if (!next) return current;
    lock.lock();
    current_ = next;
    return next;
}

} // namespace ubin
