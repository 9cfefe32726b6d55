#include "tools/ubin/check_command.h"

#include "base/cp932.h"
#include "directory/directory.h"
#include "base/path_text.h"
#include "directory/edition.h"
#include "directory/manifest.h"
#include "tools/ubin/subcommand.h"

#include <chrono>
#include <fstream>
#include <iterator>

namespace ubin {

int RunCheck(const std::vector<std::string>& args, const ToolPlaces& places, std::ostream& out, std::ostream& err)
{
    CLI::App app("Compares every file of the directory folder with its manifest (MANIFEST.TXT, written by "
                 "ubin-build): its size and its CRC-32. A file that differs is cut short, damaged or from another build.",
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
        const auto manifest = ReadManifest(folder.FilePath(kManifestFileName));
        if (!manifest) {
            err << "ubin check: " << PathToUtf8(folder.FilePath(kManifestFileName))
                << ": the folder has no manifest; build it again with ubin-build to have one\n";
            return 2;
        }
        int bad = 0;
        for (const ManifestFile& f : manifest->files) {
            const auto path = folder.FilePath(FromUtf8(f.name));
            std::ifstream in(path, std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            std::string problem;
            if (!in && !in.eof()) problem = "cannot be read";
            else if (!std::filesystem::exists(path)) problem = "is missing";
            else if (bytes.size() != f.size)
                problem = "holds " + std::to_string(bytes.size()) + " bytes; the manifest says " + std::to_string(f.size);
            else if (Crc32(bytes) != f.crc) problem = "has another checksum than the manifest says: it is damaged";
            if (problem.empty()) continue;
            ++bad;
            out << PathToUtf8(path) << ": " << problem << '\n';
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
