#pragma once
// The HTTP side of ubin-serve: cpp-httplib's server with a pool of worker threads, the routes
// of the service, the checks every request passes first, the headers every reply carries and
// one log line per request.
#include "tools/ubin-serve/service.h"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace ubin::serve {

// Requests whose line, headers and body together are longer are refused with 400.
inline constexpr std::size_t kMaxRequestBytes = 8192;

struct ServerOptions {
    std::string host = "127.0.0.1";
    int port = 8080; // 0: any free port
    // A worker serves one connection at a time, for as long as the client keeps it open.
    int threads = 64;
    // Origins that may read the replies from their pages: "*" for any; with one origin it is
    // sent as it is, with several the request's Origin when it is one of them.
    std::vector<std::string> allowOrigins;
    // Keep-alive: requests on one connection, and seconds a connection may stay idle.
    int keepAliveRequests = 1000;
    int keepAliveSeconds = 5;
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
    // Serves until Stop: then the requests in flight finish, the workers end, and Run returns.
    void Run();
    // From any thread, also before Run has started serving (it stops as soon as it does).
    void Stop();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// "ADDR:PORT" or "[v6]:PORT"; throws std::invalid_argument.
void ParseListen(const std::string& text, std::string& host, int& port);

} // namespace ubin::serve
