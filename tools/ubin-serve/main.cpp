// ubin-serve [--settings FILE | --data DIR] [--listen ADDR:PORT] [--threads N] [--workers N]
//            [--allow-origin ORIGIN]... [--web DIR] [--cache N] [--max-age MONTHS] [--keep-alive-timeout S]
//            [--request-timeout S] [--work-budget S] [--max-connections N] [--max-url BYTES]
//            [--max-header-bytes BYTES] [--max-headers N] [--max-request-memory MIB] [--max-client-memory MIB]
// Serves the directory's lookups over HTTP to web forms; SIGTERM or SIGINT stop it after the
// requests in flight.
#include "base/cp932.h"
#include "base/program.h"
#include "base/path_text.h"
#include "directory/edition.h"
#include "search/lookup.h"
#include "settings/tool_settings.h"
#include "base/errors.h"
#include "tools/ubin-serve/server.h"
#include "tools/ubin-serve/service.h"
#include "tools/command_line/command_line.h"

#include <CLI/CLI.hpp>
#ifdef UBIN_HAVE_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <malloc.h>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <string>
#include <sys/resource.h>
#include <thread>

namespace {

namespace fs = std::filesystem;

// The lines go to standard error from a thread of their own, whole: the threads serving
// requests never wait for the file, and a burst of requests becomes a few writes. When the file
// takes nothing (a pipe nobody reads), the writers wait once 1 MB is pending.
class LogWriter {
public:
    LogWriter() : thread_([this] { Write(); }) {}
    // Writes what is pending, then ends the thread.
    ~LogWriter()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    void Add(const std::string& line)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        room_.wait(lock, [&] { return pending_.size() < kMaxPending; });
        const bool wake = pending_.empty();
        pending_ += line;
        pending_ += '\n';
        lock.unlock();
        if (wake) changed_.notify_all();
    }

private:
    static constexpr std::size_t kMaxPending = 1 << 20;

    void Write()
    {
        std::string text;
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return done_ || !pending_.empty(); });
            if (pending_.empty()) return;
            text.swap(pending_);
            lock.unlock();
            room_.notify_all();
            std::fwrite(text.data(), 1, text.size(), stderr);
            text.clear();
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_, room_;
    std::string pending_;
    bool done_ = false;
    std::thread thread_;
};

// Started with the first line (after the stop signals are blocked, so its thread never takes
// them); what it holds is written when main returns.
void LogLine(const std::string& line)
{
    static LogWriter writer;
    writer.Add(line);
}

// The directory folder: --data, --settings, or ubscon.def where the search window looks.
std::u16string DataFolder(const std::optional<std::string>& dataFolder, const std::optional<std::string>& settingsFile,
                          const ubin::ToolPlaces& places)
{
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

// Each connection is a file descriptor: the soft limit (often 1,024) rises to the hard one,
// and the connections allowed stay below what it leaves, with room for the directory's files.
int FitConnections(int wanted)
{
    constexpr rlim_t kOtherFiles = 64;
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return wanted;
    const rlim_t needed = static_cast<rlim_t>(wanted) + kOtherFiles;
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < needed) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max == RLIM_INFINITY ? needed : std::min(needed, limit.rlim_max);
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
    }
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= needed) return wanted;
    return static_cast<int>(std::max<rlim_t>(1, limit.rlim_cur > kOtherFiles ? limit.rlim_cur - kOtherFiles : 1));
}

// The listening socket systemd passes (ListenStream= of ubin-serve.socket), or -1 when it
// passes none: started by hand, the server binds --listen itself.
int SocketFromServiceManager()
{
#ifdef UBIN_HAVE_SYSTEMD
    const int n = sd_listen_fds(1); // 1: the variables are not passed on to anything we start
    if (n < 0) throw ubin::ServiceError(std::string("the sockets from systemd cannot be taken: ") + std::strerror(-n));
    if (n > 1) throw ubin::ServiceError("systemd passed " + std::to_string(n) + " sockets; ubin-serve listens on one");
    if (n == 1) return SD_LISTEN_FDS_START;
#endif
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app{"ubin-serve: the postal directory's lookups over HTTP for web forms", "ubin-serve"};
    std::string settingsText, dataText, webText;
    std::string listen = "127.0.0.1:8080";
    ubin::serve::ServerOptions options;
    options.threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    auto* settingsOption = app.add_option("--settings", settingsText, "read the directory folder from this ubscon.def");
    auto* dataOption = app.add_option("--data", dataText, "use this directory folder")->excludes(settingsOption);
    app.add_option("--listen", listen, "address and port to listen on (port 0: any free port)")->capture_default_str();
    app.add_option("--threads", options.threads,
                   "threads serving connections, each with its own event loop (default: one per processor)")
        ->capture_default_str()
        ->check(CLI::Range(1, 4096));
    app.add_option("--allow-origin", options.allowOrigins,
                   "origin whose pages may read the replies (Access-Control-Allow-Origin); * for any");
    auto* webOption = app.add_option("--web", webText, "folder of the page served at / (default: the installed page)");
    std::size_t cacheEntries = ubin::serve::Service::kDefaultCacheEntries;
    app.add_option("--cache", cacheEntries, "replies of /api/search and /yubinbango to keep in memory (0: none)")
        ->capture_default_str();
    app.add_option("--keep-alive-timeout", options.keepAliveSeconds,
                   "seconds a connection may stay idle between requests (and before its first)")
        ->capture_default_str()
        ->check(CLI::Range(1, 3600));
    app.add_option("--request-timeout", options.requestSeconds,
                   "seconds a request may take from its first byte to its whole head and body, and its reply to be written")
        ->capture_default_str()
        ->check(CLI::Range(1, 3600));
    app.add_option("--max-connections", options.maxConnections,
                   "connections open at once; beyond it a new one replaces an idle one, or is closed")
        ->capture_default_str()
        ->check(CLI::Range(1, 1000000));
    app.add_option("--max-url", options.maxUrlBytes, "bytes of a request's target")
        ->capture_default_str()
        ->check(CLI::Range(std::size_t{16}, ubin::serve::kMaxRequestBytes));
    app.add_option("--max-header-bytes", options.maxHeaderBytes, "bytes of a request's line and header lines together")
        ->capture_default_str()
        ->check(CLI::Range(std::size_t{256}, ubin::serve::kMaxRequestBytes));
    app.add_option("--max-headers", options.maxHeaders, "header lines of a request")
        ->capture_default_str()
        ->check(CLI::Range(std::size_t{1}, std::size_t{1000}));
    options.workers = options.threads;
    app.add_option("--workers", options.workers,
                   "threads making the replies of /v1/find and /v1/find/batch (default: one per processor)")
        ->capture_default_str()
        ->check(CLI::Range(1, 4096));
    app.add_option("--work-budget", options.workBudgetSeconds,
                   "seconds the lookups of one request may take in all; a batch's lines past it are not looked up")
        ->capture_default_str()
        ->check(CLI::Range(1, 3600));
    std::size_t requestMemory = options.maxRequestMemory >> 20, clientMemory = options.maxClientMemory >> 20;
    app.add_option("--max-request-memory", requestMemory,
                   "MiB of requests and replies held at once; when short, the requests half-sent longest are closed")
        ->capture_default_str()
        ->check(CLI::Range(std::size_t{1}, std::size_t{1} << 20));
    app.add_option("--max-client-memory", clientMemory,
                   "MiB of bodies and replies one client address may hold at once (0: no cap, as behind a proxy)")
        ->capture_default_str()
        ->check(CLI::Range(std::size_t{0}, std::size_t{1} << 20));
    int maxAge = -1;
    app.add_option("--max-age", maxAge,
                   "/healthz says \"stale\": true when the data's edition is more than this many months old")
        ->check(CLI::NonNegativeNumber);
    bool version = false;
    app.add_flag("--version", version, "the version and the data's edition");
    // --version reads the edition of the folder the other options name, so it is a plain flag
    // acted on after the parse.
    if (const auto status = ubin::ParseCommandLine(app, ubin::ProgramArguments(argc, argv), std::cout, std::cerr))
        return *status;
    std::optional<std::string> settingsFile, dataFolder, web;
    if (settingsOption->count()) settingsFile = settingsText;
    if (dataOption->count()) dataFolder = dataText;
    if (webOption->count()) web = webText;
    options.maxRequestMemory = requestMemory << 20;
    options.maxClientMemory = clientMemory << 20;
    try {
        ubin::serve::ParseListen(listen, options.host, options.port);
    } catch (const std::invalid_argument& e) {
        std::cerr << ubin::UsageLine("ubin-serve", e.what()) << '\n';
        return ubin::kExitUsage;
    }

    if (version) {
        ubin::DirectoryEdition edition;
        try {
            edition = ubin::FolderEdition(DataFolder(dataFolder, settingsFile, ubin::ThisToolPlaces(argv[0])));
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
    // Request bodies and replies of a megabyte come and go by the thousand under load: glibc
    // maps each such block of its own and gives it back when freed, rather than raising its
    // threshold and taking them from the heaps, where small blocks kept between them would
    // hold the freed memory. --max-request-memory then bounds what the server holds.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);

    try {
        const ubin::ToolPlaces places = ubin::ThisToolPlaces(argv[0]);
        const std::u16string folder = DataFolder(dataFolder, settingsFile, places);
        // Mapped: a lookup's reads of the point, text and city files become copies. A folder
        // rebuilt by ubin-build while the server runs is taken up between two requests.
        ubin::LiveDirectory directory(folder, {.mapped = true, .find = true, .checkEvery = std::chrono::milliseconds(500)});
        const ubin::serve::Service service(directory, cacheEntries,
                                           maxAge >= 0 ? std::optional<int>(maxAge) : std::nullopt);
        const fs::path webFolder = WebFolder(web, places.executableFolder);
        const ubin::serve::StaticFiles page(webFolder);
        if (page.size() == 0) LogLine("ubin-serve: no page to serve at / (give --web DIR)");

        options.maxConnections = FitConnections(options.maxConnections);
        options.listenFd = SocketFromServiceManager();
        ubin::serve::HttpServer server(service, page, options, LogLine);
        const int port = server.Bind();
        const bool v6 = options.host.find(':') != std::string::npos;
        const std::string where = options.listenFd >= 0
                                      ? "the socket from systemd (port " + std::to_string(port) + ")"
                                      : "http://" + (v6 ? "[" + options.host + "]" : options.host) + ":" + std::to_string(port) + "/";
        LogLine("ubin-serve: listening on " + where + " with " + std::to_string(options.threads) + " threads and " +
                std::to_string(options.workers) + " workers, at most " +
                std::to_string(options.maxConnections) + " connections; directory " + ubin::ToUtf8(folder) +
                (webFolder.empty() ? "" : "; page " + ubin::PathToUtf8(webFolder)));

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
