#include "tools/ubin/check_command.h"

#include "base/checksum.h"
#include "base/cp932.h"
#include "base/errors.h"
#include "base/file.h"
#include "base/path_text.h"
#include "directory/directory.h"
#include "directory/edition.h"
#include "directory/manifest.h"
#include "tools/ubin/subcommand.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <optional>
#include <vector>

namespace ubin {

namespace {

// The first piece of a file whose checksum differs from the manifest's pieces, or nothing. The
// whole file agrees when this is asked, so a difference is the manifest's: programs would refuse
// that piece of a sound file.
std::string PieceProblem(platform::FileHandle handle, const std::filesystem::path& path, const ManifestFile& listed)
{
    std::vector<char> piece(listed.pieceBytes);
    for (std::size_t p = 0; p < listed.pieces.size(); ++p) {
        const std::uint64_t begin = std::uint64_t{p} * listed.pieceBytes;
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(listed.pieceBytes, listed.size - begin));
        const std::size_t got = platform::ReadAt(handle, begin, piece.data(), want, path);
        if (Xxh3Of(std::string_view(piece.data(), got)) != listed.pieces[p])
            return "bytes " + std::to_string(begin + 1) + " to " + std::to_string(begin + want)
                   + " have another checksum than the manifest's pieces say: the manifest is damaged or from another build";
    }
    return {};
}

// What is wrong with one listed file, or nothing. The file is opened without waiting (a pipe
// in its place is refused, not read), its size compared before a byte is read (a sparse file
// of gigabytes costs nothing), and its bytes are read a block at a time, never held whole.
std::string Problem(const std::filesystem::path& path, const ManifestFile& listed, ManifestSum kind)
{
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (!std::filesystem::exists(status)) return "is missing";
    if (!std::filesystem::is_regular_file(status)) return "is not a regular file (a folder, device, pipe or socket)";
    platform::FileHandle handle = platform::kNoFile;
    try {
        handle = platform::OpenReadShared(path);
        const std::uint64_t size = platform::FileSize(handle, path);
        if (size != listed.size) {
            platform::CloseFile(handle);
            return "holds " + std::to_string(size) + " bytes; the manifest says " + std::to_string(listed.size);
        }
        Xxh3Stream xxh3;
        std::uint32_t crc = 0;
        std::vector<char> block(std::size_t{1} << 20);
        for (std::uint64_t offset = 0; offset < size;) {
            const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), size - offset));
            const std::size_t got = platform::ReadAt(handle, offset, block.data(), want, path);
            if (got == 0) break;
            if (kind == ManifestSum::Xxh3) xxh3.Update(block.data(), got);
            else crc = Crc32(std::string_view(block.data(), got), crc);
            offset += got;
        }
        const std::uint64_t sum = kind == ManifestSum::Xxh3 ? xxh3.Digest() : crc;
        std::string problem;
        if (sum != listed.sum) problem = "has another checksum than the manifest says: it is damaged";
        else problem = PieceProblem(handle, path, listed);
        platform::CloseFile(handle);
        return problem;
    } catch (const Error& e) {
        if (handle != platform::kNoFile) platform::CloseFile(handle);
        return std::string("cannot be read: ") + e.what();
    }
}

} // namespace

int RunCheck(const std::vector<std::string>& args, const ToolPlaces& places, std::ostream& out, std::ostream& err)
{
    CLI::App app("Compares every file of the directory folder with its manifest (MANIFEST.TXT, written by "
                 "ubin-build): its size and its checksum. A file that differs is cut short, damaged or from another build.",
                 "ubin check");
    std::string settingsFile, dataFolder;
    CLI::Option* settingsOption = app.add_option("--settings", settingsFile, "read this ubscon.def");
    app.add_option("--data", dataFolder, "check this directory folder")->excludes(settingsOption);
    int maxAge = -1;
    app.add_option("--max-age", maxAge,
                   "also fail (status 1) when the data's edition is more than this many months older than "
                   "today, or unknown")
        ->check(CLI::NonNegativeNumber);
    if (const auto status = ParseSubcommand(app, args, out, err)) return *status;
    try {
        const Settings settings = SubcommandSettings(settingsFile, dataFolder, places);
        DirectoryState folder;
        folder.dataFolder = settings.dataFolder;
        // The manifest refuses a name that leaves the folder (ParseManifest). One cut short or
        // damaged is the folder's fault like any file's, and checks nothing.
        std::optional<Manifest> manifest;
        try {
            manifest = ReadManifest(folder.FilePath(kManifestFileName));
        } catch (const DirectoryError& e) {
            out << e.what() << "\n";
            return 1;
        }
        if (!manifest) {
            err << "ubin check: " << PathToUtf8(folder.FilePath(kManifestFileName))
                << ": the folder has no manifest; build it again with ubin-build to have one\n";
            return 2;
        }
        int bad = 0;
        for (const ManifestFile& f : manifest->files) {
            const auto path = folder.FilePath(FromUtf8(f.name));
            const std::string problem = Problem(path, f, manifest->SumKind());
            if (problem.empty()) continue;
            ++bad;
            out << PathToUtf8(path) << ": " << problem << '\n';
        }
        const FolderPath pathOf = [&](const std::u16string& name) { return folder.FilePath(name); };
        for (const std::u16string& name : UnlistedFiles(*manifest, pathOf)) {
            ++bad;
            out << PathToUtf8(pathOf(name)) << ": is not listed in the manifest: the manifest is cut short or damaged, "
                << "or the file is not of this build\n";
        }
        if (bad == 0) out << manifest->files.size() << " files agree with the manifest (build " << manifest->build << ")\n";
        const DirectoryEdition edition = EditionOf(&*manifest);
        out << "edition " << edition.Text() << '\n';
        if (maxAge >= 0) {
            const YearMonth today = MonthOf(std::chrono::system_clock::now());
            if (edition.OlderThan(maxAge, today)) {
                ++bad;
                if (edition.month)
                    out << "the data is " << MonthsBetween(*edition.month, today) << " months old, more than --max-age "
                        << maxAge << ": build the directory from Japan Post's current files\n";
                else
                    out << "the edition is unknown, so the data cannot be shown to be at most " << maxAge
                        << " months old: build the directory again with ubin-build\n";
            }
        }
        return bad == 0 ? 0 : 1;
    } catch (const std::exception& e) {
        err << "ubin check: " << e.what() << '\n';
        return 2;
    }
}

} // namespace ubin
