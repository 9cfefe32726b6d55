// ubin-build KEN_ALL.CSV OUTDIR [--offices JIGYOSYO.CSV] [--settings] [--quiet] [--data-folder FOLDER]
#include "tools/ubin-build/builder.h"

#include "base/cp932.h"
#include "base/path_text.h"
#include "base/program.h"

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
               "                  [--data-folder FOLDER]\n"
               "\n"
               "Writes the directory files UIND1.IDX .. UIND5.IDX, 郵便Point.POI, 郵便番号.CSV,\n"
               "TOSHI1.TDB and TOSHI2.TDB, and the search index 検索.IDX, into OUTDIR,\n"
               "replacing the folder whole.\n"
               "\n"
               "  --offices FILE      also read Japan Post's JIGYOSYO.CSV (the offices with a\n"
               "                      postal code of their own) into 事業所.CSV and 事業所.IDX\n"
               "  --settings          also write OUTDIR/ubscon.def with DataFolder = OUTDIR\n"
               "  --data-folder DIR   the DataFolder that --settings writes, when the directory\n"
               "                      will be read from another place (an installation)\n"
               "  --quiet             no progress and no summary\n"
               "  -h, --help          this text\n"
               "  --version           the version\n",
               to);
}

} // namespace

int main(int argc, char** argv)
{
    ubin::UseUtf8Output();
    const std::vector<std::string> args = ubin::ProgramArguments(argc, argv);
    std::vector<std::string> positional;
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
            std::puts("ubin-build " UBIN_VERSION);
            return 0;
        } else if (arg.starts_with("-") && arg != "-") {
            std::fprintf(stderr, "ubin-build: unknown option %s (ubin-build --help shows how to use it)\n", arg.c_str());
            return 2;
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() != 2 || (options.settingsDataFolder && !options.writeSettings)) {
        Usage(stderr);
        return 2;
    }

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
