// ubin-build KEN_ALL.CSV OUTDIR [--offices JIGYOSYO.CSV] [--settings] [--quiet] [--data-folder FOLDER]
//            [--edition YYYY-MM] [--add ADD_YYMM.CSV --del DEL_YYMM.CSV]... [--write-csv FILE]
// ubin-build --base KEN_ALL.CSV --add ... --del ... OUTDIR
#include "builder/builder.h"

#include "base/cp932.h"
#include "base/path_text.h"
#include "base/program.h"
#include "directory/edition.h"
#include "settings/tool_settings.h"
#include "tools/command_line/command_line.h"

#include <cstdlib>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define UBIN_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define UBIN_ISATTY(fd) ::isatty(fd)
#endif

namespace {

std::atomic<bool> interrupted{false};

extern "C" void OnSignal(int) { interrupted = true; }

const char kHelp[] =
    "usage: ubin-build KEN_ALL.CSV OUTDIR [--offices JIGYOSYO.CSV] [--settings] [--quiet]\n"
    "                  [--data-folder FOLDER] [--edition YYYY-MM] [--changes FILE | --no-changes]\n"
    "       ubin-build --base KEN_ALL.CSV --add ADD_YYMM.CSV --del DEL_YYMM.CSV [--add ... --del ...]\n"
    "                  [--offices JIGYOSYO.CSV --jadd JADD_YYMM.CSV --jdel JDEL_YYMM.CSV ...]\n"
    "                  [--lenient] [--write-csv FILE] OUTDIR\n"
    "\n"
    "Writes the directory files UIND1.IDX .. UIND5.IDX, 郵便Point.POI, 郵便番号.CSV,\n"
    "TOSHI1.TDB and TOSHI2.TDB, the search index 検索.IDX and the address tables\n"
    "住所.IDX into OUTDIR, replacing the folder whole.\n"
    "\n"
    "  --changes FILE      the municipalities others replaced (UTF-8 CSV: prefecture,\n"
    "                      before, after, date), so that addresses written with an old\n"
    "                      name are read (default: the list of 2003-2019 the suite ships)\n"
    "  --no-changes        record no old municipality names\n"
    "  --offices FILE      also read Japan Post's JIGYOSYO.CSV (the offices with a\n"
    "                      postal code of their own) into 事業所.CSV and 事業所.IDX\n"
    "  --edition YYYY-MM   the month of Japan Post's data (default: the newest month\n"
    "                      in which an input file was changed, recorded as guessed)\n"
    "  --base FILE         the full KEN_ALL.CSV the change files apply to\n"
    "  --add FILE, --del FILE\n"
    "                      one month's ADD_YYMM.CSV and DEL_YYMM.CSV, applied in the\n"
    "                      order given (the n-th --add with the n-th --del)\n"
    "  --jadd FILE, --jdel FILE\n"
    "                      the same for JIGYOSYO.CSV (JADD_YYMM.CSV, JDEL_YYMM.CSV)\n"
    "  --lenient           count added rows that are there already instead of stopping\n"
    "  --write-csv FILE    also write the KEN_ALL.CSV the change files made\n"
    "  --settings          also write OUTDIR/ubscon.def with DataFolder = OUTDIR\n"
    "  --data-folder DIR   the DataFolder that --settings writes, when the directory\n"
    "                      will be read from another place (an installation)\n"
    "  --quiet             no progress and no summary\n"
    "  -h, --help          this text\n"
    "  --version           the version, and the edition of the directory the settings name\n"
    "\n"
    "Exit status: 0 built, 1 when the build failed, 2 for a command line it does not understand.\n";

// The edition of the directory the settings name, as ubin finds them.
ubin::DirectoryEdition SettingsEdition(const char* argv0)
{
    try {
        ubin::ToolPlaces places;
        if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) places.configHome = xdg;
        else if (const char* home = std::getenv("HOME"); home && *home)
            places.configHome = std::filesystem::path(home) / ".config";
        std::error_code ec;
        places.currentFolder = std::filesystem::current_path(ec);
        places.executableFolder = ubin::ExecutableFolder(argv0);
        return ubin::FolderEdition(ubin::LoadToolSettings(std::nullopt, std::nullopt, places).dataFolder);
    } catch (const std::exception&) {
        return {};
    }
}

int Refuse(const std::string& problem)
{
    std::cerr << ubin::UsageLine("ubin-build", problem) << '\n';
    return ubin::kExitUsage;
}

} // namespace

int main(int argc, char** argv)
{
    ubin::UseUtf8Output();
    ubin::BuildOptions options;
    bool quiet = false;
    std::vector<std::string> positional; // KEN_ALL.CSV (or the --base file) and OUTDIR
    std::vector<std::filesystem::path> addFiles, delFiles, jaddFiles, jdelFiles;
    std::string offices, dataFolder, base, writeCsv, changes;
    std::vector<std::string> adds, dels, jadds, jdels;
    CLI::App app("Builds the directory files from Japan Post's KEN_ALL.CSV.", "ubin-build");
    // As before CLI11, an option given twice takes its last value.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_flag("--settings", options.writeSettings, "also write OUTDIR/ubscon.def");
    app.add_flag("--quiet", quiet, "no progress and no summary");
    app.add_flag("--lenient", options.lenient, "count added rows that are there already");
    app.add_option("--offices", offices, "Japan Post's JIGYOSYO.CSV");
    app.add_option("--changes", changes, "the municipalities others replaced (prefecture, before, after, date)");
    app.add_flag("--no-changes", options.withoutMunicipalChanges, "record no old municipality names");
    app.add_option("--data-folder", dataFolder, "the DataFolder that --settings writes");
    app.add_option("--edition", options.edition, "the month of Japan Post's data, YYYY-MM")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                return ubin::ParseYearMonth(text) ? "" : "takes a year and a month, as 2026-11, not \"" + text + "\"";
            },
            "YYYY-MM"));
    app.add_option("--base", base, "the full KEN_ALL.CSV the change files apply to");
    for (auto [name, files] : {std::pair{"--add", &adds}, {"--del", &dels}, {"--jadd", &jadds}, {"--jdel", &jdels}})
        // One file each time it is given: OUTDIR after the last --del is no change file.
        app.add_option(name, *files, "a month's change file, in order")
            ->allow_extra_args(false)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_option("--write-csv", writeCsv, "also write the KEN_ALL.CSV the change files made");
    app.add_option("files", positional, "KEN_ALL.CSV and OUTDIR")->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    ubin::AddVersionFlag(app, std::cout,
                         [&] { return ubin::VersionLine("ubin-build", UBIN_VERSION, SettingsEdition(argv[0])); });
    if (const auto status = ubin::ParseCommandLine(app, ubin::ProgramArguments(argc, argv), std::cout, std::cerr, kHelp))
        return *status;
    if (app.count("--offices")) options.offices = ubin::PathFromUtf8(offices);
    if (app.count("--changes")) options.municipalChanges = ubin::PathFromUtf8(changes);
    if (options.municipalChanges && options.withoutMunicipalChanges) return Refuse("give --changes or --no-changes, not both");
    if (app.count("--data-folder")) options.settingsDataFolder = ubin::FromUtf8(dataFolder);
    if (app.count("--write-csv")) options.writeCsv = ubin::PathFromUtf8(writeCsv);
    for (auto [from, to] :
         {std::pair{&adds, &addFiles}, {&dels, &delFiles}, {&jadds, &jaddFiles}, {&jdels, &jdelFiles}})
        for (const std::string& f : *from) to->push_back(ubin::PathFromUtf8(f));
    if (app.count("--base")) positional.insert(positional.begin(), base);
    if (positional.size() != 2)
        return Refuse("give two files, KEN_ALL.CSV (or --base FILE) and OUTDIR; " + std::to_string(positional.size()) +
                      " given");
    if (options.settingsDataFolder && !options.writeSettings) return Refuse("--data-folder needs --settings");
    if (addFiles.size() != delFiles.size() || jaddFiles.size() != jdelFiles.size())
        return Refuse("each month takes an --add and a --del (--jadd and --jdel for the offices), in the same order");
    for (std::size_t m = 0; m < addFiles.size(); ++m) options.months.push_back({addFiles[m], delFiles[m]});
    for (std::size_t m = 0; m < jaddFiles.size(); ++m) options.officeMonths.push_back({jaddFiles[m], jdelFiles[m]});

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    options.cancel = &interrupted;

    const bool showProgress = !quiet && UBIN_ISATTY(2);
    if (showProgress) {
        options.progress = [](const ubin::BuildProgress& p) {
            std::fprintf(stderr, "\rrows read: %lld, entries written: %lld", static_cast<long long>(p.rowsRead),
                         static_cast<long long>(p.entriesWritten));
            std::fflush(stderr);
        };
    }

    try {
        const ubin::BuildReport r =
            ubin::BuildDirectory(ubin::PathFromUtf8(positional[0]), ubin::PathFromUtf8(positional[1]), options);
        if (showProgress) std::fputc('\n', stderr);
        if (!r.keptFolder.empty())
            std::fprintf(stderr,
                         "ubin-build: files other than directory files appeared in %s while it was being replaced; "
                         "the old folder is kept whole as %s\n",
                         positional[1].c_str(), ubin::PathToUtf8(r.keptFolder).c_str());
        if (!quiet) {
            std::printf("%s: %d entries under %d municipal codes from %lld rows (%lld continuation rows joined)\n",
                        positional[1].c_str(), r.entries, r.cityCodes, static_cast<long long>(r.rowsRead),
                        static_cast<long long>(r.rowsJoined));
            if (options.offices) std::printf("%s: %d offices\n", positional[1].c_str(), r.offices);
            std::printf("%s: edition %s\n", positional[1].c_str(),
                        r.edition.empty() ? "unknown"
                                          : (r.edition + (r.editionGuessed ? " (guessed from the input files' dates)" : ""))
                                                .c_str());
            const auto months = [](const char* what, const ubin::MonthReport& m) {
                std::printf("%s change files: %lld added, %lld deleted", what, static_cast<long long>(m.added),
                            static_cast<long long>(m.deleted));
                if (m.alreadyPresent > 0)
                    std::printf(", %lld added rows were there already", static_cast<long long>(m.alreadyPresent));
                std::fputc('\n', stdout);
            };
            if (!options.months.empty()) months("KEN_ALL", r.months);
            if (!options.officeMonths.empty()) months("JIGYOSYO", r.officeMonths);
            if (r.changes)
                std::printf("against the directory replaced: %lld codes added, %lld removed, %lld changed "
                            "(ubin diff lists them)\n",
                            static_cast<long long>(r.changes->added), static_cast<long long>(r.changes->removed),
                            static_cast<long long>(r.changes->changed));
            if (r.formerMunicipalities > 0)
                std::printf("%d old municipality names recorded with the municipality of today\n",
                            r.formerMunicipalities);
            if (r.unreadNotes > 0)
                std::printf("%d town notes hold words no rule reads; they are shown as written and match nothing\n",
                            r.unreadNotes);
            if (r.charactersReplaced > 0)
                std::printf("%lld commas or double quotes in values were written in their full-width form\n",
                            static_cast<long long>(r.charactersReplaced));
        }
        return 0;
    } catch (const std::exception& e) {
        if (showProgress) std::fputc('\n', stderr);
        std::fprintf(stderr, "ubin-build: %s\n", e.what());
        return 1;
    }
}
