#pragma once
// The HTTP side of ubin-serve: event loops on Boost.Asio, one per thread, reading requests with
// Boost.Beast's parser; the routes of the service, the checks every request passes first, the
// limits and deadlines every connection lives under, the headers every reply carries and one
// log line per request.
#include "tools/ubin-serve/service.h"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ubin::serve {

// Requests whose line, headers and body together are longer are refused with 400.
inline constexpr std::size_t kMaxRequestBytes = 8192;

struct ServerOptions {
    std::string host = "127.0.0.1";
    int port = 8080; // 0: any free port
    // Threads, each running an event loop that serves any number of connections; 0: one per
    // processor.
    int threads = 0;
    // Origins that may read the replies from their pages: "*" for any; with one origin it is
    // sent as it is, with several the request's Origin when it is one of them.
    std::vector<std::string> allowOrigins;
    // Keep-alive: requests on one connection, and seconds a connection may stay idle (also a new
    // connection before its first byte).
    int keepAliveRequests = 1000;
    int keepAliveSeconds = 5;
    // Seconds a request may take from its first byte until its head and body are read, and a
    // reply until it is written: a client that sends or reads slowly is closed then.
    int requestSeconds = 10;
    // Limits on a request beyond the 8 KB it may have in all: its target, its request line and
    // header lines together, and the number of header lines. Over any of them it is refused with
    // 400 as too large.
    std::size_t maxUrlBytes = kMaxRequestBytes;
    std::size_t maxHeaderBytes = kMaxRequestBytes;
    std::size_t maxHeaders = 100;
    // Connections open at once; a new one beyond it goes to the thread with the most idle
    // connections and takes the place of the one idle longest there, or is closed at once when
    // none is idle.
    int maxConnections = 10000;
    // A listening socket handed over by the service manager (systemd's socket activation):
    // served instead of binding host:port, so a restart drops no connection. -1: none.
    int listenFd = -1;
};

// The static page: each file of a folder, read once, served by its name ("/" is index.html).
class StaticFiles {
public:
    // The files of the folder (not its subfolders); none for an empty path.
    explicit StaticFiles(const std::filesystem::path& folder);
    // The reply for a request path, or none for a name the folder does not hold.
    const Reply* Find(const std::string& path) const;
    std::size_t size() const { return files_.size(); }

private:
    std::map<std::string, Reply> files_;
};

// Where each finished request is reported: one line, without its line break.
using LogSink = std::function<void(const std::string& line)>;

class HttpServer {
public:
    HttpServer(const Service& service, const StaticFiles& page, ServerOptions options, LogSink log);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds the listening socket; returns the port (the one chosen when the options said 0).
    // Throws std::runtime_error when the address cannot be bound.
    int Bind();
    // Serves until Stop: then idle connections close, the requests in flight finish (each
    // connection closes after its reply), and Run returns.
    void Run();
    // From any thread, also before Run has started serving (it stops as soon as it does).
    void Stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// "ADDR:PORT" or "[v6]:PORT"; throws std::invalid_argument.
void ParseListen(const std::string& text, std::string& host, int& port);

// The bytes a Range header asks of a reply of `size` bytes: {first, count}, when it names one
// range of bytes inside the reply. None for several ranges, another unit, a malformed or an
// unsatisfiable one: the whole reply answers those, so a reply never grows with its ranges.
struct ByteRange {
    std::size_t first = 0;
    std::size_t count = 0;
    bool operator==(const ByteRange&) const = default;
};
std::optional<ByteRange> SingleByteRange(std::string_view header, std::size_t size);

} // namespace ubin::serve
