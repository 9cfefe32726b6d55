#pragma once
// The HTTP side of ubin-serve: event loops on Boost.Asio, one per thread, each serving any number
// of connections (tools/ubin-serve/connection.h), and a pool of worker threads for the long
// lookups (tools/ubin-serve/work_pool.h). This file holds the options every part reads and the
// server that listens; requests are read in request_reader.h, routed in routes.h and their
// replies' heads made in reply.h.
#include "tools/ubin-serve/service.h"
#include "tools/ubin-serve/static_files.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ubin::serve {

// Requests whose line, headers and body together are longer are refused with 400.
inline constexpr std::size_t kMaxRequestBytes = 8192;

// The texts of the server's own refusals.
namespace message {
inline constexpr char kBusy[] = "サーバーが混み合っています。しばらくしてからやり直してください。";
inline constexpr char kTransferCoding[] = "この転送コーディングには対応していません。";
} // namespace message

struct ServerOptions {
    std::string host = "127.0.0.1";
    int port = 8080; // 0: any free port
    // Threads, each running an event loop that serves any number of connections; 0: one per
    // processor.
    int threads = 0;
    // Threads that make the replies of /v1/find and /v1/find/batch; 0: one per processor.
    int workers = 0;
    // The time the lookups of one request may take in all (a batch's lines past it are not
    // looked up; each says so in its row).
    int workBudgetSeconds = 10;
    // Origins that may read the replies from their pages: "*" for any; with one origin it is
    // sent as it is, with several the request's Origin when it is one of them.
    std::vector<std::string> allowOrigins;
    // Keep-alive: requests on one connection, and seconds a connection may stay idle (also a new
    // connection before its first byte).
    int keepAliveRequests = 1000;
    int keepAliveSeconds = 5;
    // Seconds a request may take from its first byte until its head and body are read, and a
    // reply until it is written: a client that sends or reads slowly is closed then. A lookup
    // that waits this long for a worker is answered 503 instead.
    int requestSeconds = 10;
    // Limits on a request beyond the 8 KB it may have in all: its target, its request line and
    // header lines together, and the number of header lines. Over any of them it is refused with
    // 400 as too large.
    std::size_t maxUrlBytes = kMaxRequestBytes;
    std::size_t maxHeaderBytes = kMaxRequestBytes;
    std::size_t maxHeaders = 100;
    // Connections open at once; a new one beyond it takes the place of the one idle longest, or
    // when none is idle of the request half-sent longest (on the thread it goes to).
    int maxConnections = 10000;
    // Bytes of requests (read buffers and bodies) and of replies held at once, shared evenly by
    // the threads; when a thread's share runs short, its requests half-sent longest are closed
    // to make room, and when that is not enough the newcomer gets 503.
    std::size_t maxRequestMemory = std::size_t{128} << 20;
    // Bytes of bodies and replies one client address may hold at once; beyond it its next body
    // gets 503. 0: no cap (behind a proxy, where every request comes from its address).
    std::size_t maxClientMemory = std::size_t{32} << 20;
    // A listening socket handed over by the service manager (systemd's socket activation):
    // served instead of binding host:port, so a restart drops no connection. -1: none.
    int listenFd = -1;
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
    // Throws ServiceError when the address cannot be bound.
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

} // namespace ubin::serve
