// ubin-build KEN_ALL.CSV OUTDIR [--offices JIGYOSYO.CSV] [--settings] [--quiet] [--data-folder FOLDER]
//            [--edition YYYY-MM] [--add ADD_YYMM.CSV --del DEL_YYMM.CSV]... [--write-csv FILE]
// ubin-build --base KEN_ALL.CSV --add ... --del ... OUTDIR
#include "tools/ubin-build/builder.h"

#include "base/cp932.h"
#include "base/path_text.h"
#include "base/program.h"
#include "directory/edition.h"
#include "settings/tool_settings.h"

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

void Usage(std::FILE* to)
{
    std::fputs("usage: ubin-build KEN_ALL.CSV OUTDIR [--offices JIGYOSYO.CSV] [--settings] [--quiet]\n"
               "                  [--data-folder FOLDER] [--edition YYYY-MM]\n"
               "       ubin-build --base KEN_ALL.CSV --add ADD_YYMM.CSV --del DEL_YYMM.CSV [--add ... --del ...]\n"
               "                  [--offices JIGYOSYO.CSV --jadd JADD_YYMM.CSV --jdel JDEL_YYMM.CSV ...]\n"
               "                  [--lenient] [--write-csv FILE] OUTDIR\n"
               "\n"
               "Writes the directory files UIND1.IDX .. UIND5.IDX, 郵便Point.POI, 郵便番号.CSV,\n"
               "TOSHI1.TDB and TOSHI2.TDB, and the search index 検索.IDX, into OUTDIR,\n"
               "replacing the folder whole.\n"
               "\n"
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
               "  --version           the version, and the edition of the directory the settings name\n",
               to);
}

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

} // namespace

int main(int argc, char** argv)
{
    ubin::UseUtf8Output();
    const std::vector<std::string> args = ubin::ProgramArguments(argc, argv);
    std::vector<std::string> positional;
    std::optional<std::string> base;
    std::vector<std::filesystem::path> adds, dels, jadds, jdels;
    ubin::BuildOptions options;
    bool quiet = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--settings") {
            options.writeSettings = true;
        } else if (arg == "--quiet") {
            quiet = true;
        } else if (arg == "--offices" && i + 1 < args.size()) {
            options.offices = ubin::PathFromUtf8(args[++i]);
        } else if (arg == "--data-folder" && i + 1 < args.size()) {
            options.settingsDataFolder = ubin::FromUtf8(args[++i]);
        } else if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return 0;
        } else if (arg == "--version") {
            std::puts(ubin::VersionLine("ubin-build", UBIN_VERSION, SettingsEdition(argv[0])).c_str());
            return 0;
        } else if (arg == "--edition" && i + 1 < args.size()) {
            options.edition = args[++i];
            if (!ubin::ParseYearMonth(options.edition)) {
                std::fprintf(stderr, "ubin-build: --edition takes a year and a month, as 2026-11, not \"%s\"\n",
                             options.edition.c_str());
                return 2;
            }
        } else if (arg == "--base" && i + 1 < args.size()) {
            base = args[++i];
        } else if ((arg == "--add" || arg == "--del" || arg == "--jadd" || arg == "--jdel") && i + 1 < args.size()) {
            (arg == "--add" ? adds : arg == "--del" ? dels : arg == "--jadd" ? jadds : jdels)
                .push_back(ubin::PathFromUtf8(args[++i]));
        } else if (arg == "--lenient") {
            options.lenient = true;
        } else if (arg == "--write-csv" && i + 1 < args.size()) {
            options.writeCsv = ubin::PathFromUtf8(args[++i]);
        } else if (arg.starts_with("-") && arg != "-") {
            std::fprintf(stderr, "ubin-build: unknown option %s (ubin-build --help shows how to use it)\n", arg.c_str());
            return 2;
        } else {
            positional.push_back(arg);
        }
    }
    if (base) positional.insert(positional.begin(), *base);
    if (positional.size() != 2 || (options.settingsDataFolder && !options.writeSettings)) {
        Usage(stderr);
        return 2;
    }
    if (adds.size() != dels.size() || jadds.size() != jdels.size()) {
        std::fprintf(stderr, "ubin-build: each month takes an --add and a --del (--jadd and --jdel for the offices), "
                             "in the same order\n");
        return 2;
    }
    for (std::size_t m = 0; m < adds.size(); ++m) options.months.push_back({adds[m], dels[m]});
    for (std::size_t m = 0; m < jadds.size(); ++m) options.officeMonths.push_back({jadds[m], jdels[m]});

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
