// ubin-serve [--settings FILE | --data DIR] [--listen ADDR:PORT] [--threads N]
//            [--allow-origin ORIGIN]... [--web DIR] [--cache N] [--max-age MONTHS]
// Serves the directory's lookups over HTTP to web forms; SIGTERM or SIGINT stop it after the
// requests in flight.
#include "base/cp932.h"
#include "base/path_text.h"
#include "directory/edition.h"
#include "search/lookup.h"
#include "settings/tool_settings.h"
#include "tools/ubin-serve/server.h"
#include "tools/ubin-serve/service.h"

#include <CLI/CLI.hpp>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <string>
#include <thread>

namespace {

namespace fs = std::filesystem;

std::mutex gLogMutex;

// One line to standard error in one write, so lines of several workers never mix.
void LogLine(const std::string& line)
{
    const std::string text = line + '\n';
    std::lock_guard<std::mutex> lock(gLogMutex);
    std::fwrite(text.data(), 1, text.size(), stderr);
}

fs::path ExecutableFolder(const char* argv0)
{
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::absolute(argv0, ec).parent_path() : self.parent_path();
}

// The directory folder: --data, --settings, or ubscon.def where the search window looks.
std::u16string DataFolder(const std::optional<std::string>& dataFolder, const std::optional<std::string>& settingsFile,
                          const fs::path& executableFolder)
{
    ubin::ToolPlaces places;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) places.configHome = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home) places.configHome = fs::path(home) / ".config";
    std::error_code ec;
    places.currentFolder = fs::current_path(ec);
    places.executableFolder = executableFolder;
    return ubin::LoadToolSettings(settingsFile, dataFolder, places).dataFolder;
}

// The page: --web, else web/ beside the program (the build tree), else the installed one.
fs::path WebFolder(const std::optional<std::string>& web, const fs::path& executableFolder)
{
    if (web) return *web;
    for (const fs::path& candidate :
         {executableFolder / "web", executableFolder.parent_path() / "share" / "ubin-serve" / "web"}) {
        std::error_code ec;
        if (fs::is_regular_file(candidate / "index.html", ec)) return candidate;
    }
    return {};
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app{"ubin-serve: the postal directory's lookups over HTTP for web forms"};
    std::string settingsText, dataText, webText;
    std::string listen = "127.0.0.1:8080";
    ubin::serve::ServerOptions options;
    auto* settingsOption = app.add_option("--settings", settingsText, "read the directory folder from this ubscon.def");
    auto* dataOption = app.add_option("--data", dataText, "use this directory folder")->excludes(settingsOption);
    app.add_option("--listen", listen, "address and port to listen on (port 0: any free port)")->capture_default_str();
    app.add_option("--threads", options.threads, "worker threads; each serves one connection at a time")
        ->capture_default_str()
        ->check(CLI::Range(1, 4096));
    app.add_option("--allow-origin", options.allowOrigins,
                   "origin whose pages may read the replies (Access-Control-Allow-Origin); * for any");
    auto* webOption = app.add_option("--web", webText, "folder of the page served at / (default: the installed page)");
    std::size_t cacheEntries = ubin::serve::Service::kDefaultCacheEntries;
    app.add_option("--cache", cacheEntries, "replies of /api/search and /yubinbango to keep in memory (0: none)")
        ->capture_default_str();
    int maxAge = -1;
    app.add_option("--max-age", maxAge,
                   "/healthz says \"stale\": true when the data's edition is more than this many months old")
        ->check(CLI::NonNegativeNumber);
    bool version = false;
    app.add_flag("--version", version, "the version and the data's edition");
    std::optional<std::string> settingsFile, dataFolder, web;
    try {
        app.parse(argc, argv);
        if (settingsOption->count()) settingsFile = settingsText;
        if (dataOption->count()) dataFolder = dataText;
        if (webOption->count()) web = webText;
        ubin::serve::ParseListen(listen, options.host, options.port);
    } catch (const CLI::ParseError& e) {
        // --help is a success; every mistake ends with status 2, as in ubin.
        const int status = app.exit(e);
        return status == 0 ? 0 : 2;
    } catch (const std::invalid_argument& e) {
        std::cerr << "ubin-serve: " << e.what() << '\n';
        return 2;
    }

    if (version) {
        ubin::DirectoryEdition edition;
        try {
            edition = ubin::FolderEdition(DataFolder(dataFolder, settingsFile, ExecutableFolder(argv[0])));
        } catch (const std::exception&) {
        }
        std::cout << ubin::VersionLine("ubin-serve", UBIN_VERSION, edition) << '\n';
        return 0;
    }

    // SIGTERM and SIGINT are taken by one thread below; every other thread blocks them. A
    // client that goes away while its reply is written must not end the server.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    try {
        const fs::path executableFolder = ExecutableFolder(argv[0]);
        const std::u16string folder = DataFolder(dataFolder, settingsFile, executableFolder);
        // Mapped: a lookup's reads of the point, text and city files become copies. A folder
        // rebuilt by ubin-build while the server runs is taken up between two requests.
        ubin::LiveDirectory directory(folder, {.mapped = true, .find = true, .checkEvery = std::chrono::milliseconds(500)});
        const ubin::serve::Service service(directory, cacheEntries,
                                           maxAge >= 0 ? std::optional<int>(maxAge) : std::nullopt);
        const fs::path webFolder = WebFolder(web, executableFolder);
        const ubin::serve::StaticFiles page(webFolder);
        if (page.size() == 0) LogLine("ubin-serve: no page to serve at / (give --web DIR)");

        ubin::serve::HttpServer server(service, page, options, LogLine);
        const int port = server.Bind();
        const bool v6 = options.host.find(':') != std::string::npos;
        LogLine("ubin-serve: listening on http://" + (v6 ? "[" + options.host + "]" : options.host) + ":" +
                std::to_string(port) + "/ with " + std::to_string(options.threads) + " threads; directory " +
                ubin::ToUtf8(folder) + (webFolder.empty() ? "" : "; page " + ubin::PathToUtf8(webFolder)));

        std::atomic<bool> stopped{false};
        std::thread watcher([&] {
            int signal = 0;
            sigwait(&stopSignals, &signal);
            stopped = true;
            LogLine("ubin-serve: stopping after the requests in flight (signal " + std::to_string(signal) + ")");
            server.Stop();
        });
        server.Run();
        if (!stopped) pthread_kill(watcher.native_handle(), SIGTERM); // Run ended by itself
        watcher.join();
        if (!stopped) {
            LogLine("ubin-serve: the server stopped serving");
            return 1;
        }
        LogLine("ubin-serve: stopped");
        return 0;
    } catch (const std::exception& e) {
        LogLine(std::string("ubin-serve: ") + e.what());
        return 1;
    }
}
