#include "tools/ubin-serve/server.h"

#include "base/path_text.h"
#include "tools/ubin-serve/request_text.h"

#include <httplib.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace ubin::serve {

namespace {

using Clock = std::chrono::steady_clock;

// The page changes with a new version of the server; a short lifetime lets it reach browsers.
constexpr char kPageLifetime[] = "public, max-age=300";

// When the request a worker thread is answering began: set when the request has been read
// (or when the library refuses it), taken by the log line written after the reply.
struct RequestClock {
    Clock::time_point start;
    bool set = false;
};
thread_local RequestClock tRequest;

void StartClock()
{
    tRequest.start = Clock::now();
    tRequest.set = true;
}

void Send(httplib::Response& res, const Reply& reply)
{
    res.status = reply.status;
    res.set_content(reply.body, reply.contentType.c_str());
    res.set_header("Cache-Control", reply.cacheControl);
}

// The request's size as it came: request line, header lines and the body it announces. The
// library adds the peer's address as headers of its own; they are not part of it.
std::size_t RequestBytes(const httplib::Request& req)
{
    std::size_t n = req.method.size() + req.target.size() + req.version.size() + 4 + 2;
    for (const auto& [name, value] : req.headers) {
        if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT") continue;
        n += name.size() + value.size() + 4;
    }
    if (const std::string length = req.get_header_value("Content-Length"); !length.empty()) {
        // A length too long to read as a number is too long anyway.
        n += length.size() > 9 ? kMaxRequestBytes + 1 : std::stoul("0" + length.substr(0, length.find_first_not_of("0123456789")));
    }
    return n;
}

std::string ContentTypeOf(const std::filesystem::path& file)
{
    const std::string ext = file.extension().string();
    if (ext == ".html") return "text/html; charset=utf-8";
    if (ext == ".css") return "text/css; charset=utf-8";
    if (ext == ".js") return kScriptType;
    if (ext == ".json") return kJsonType;
    if (ext == ".svg") return "image/svg+xml; charset=utf-8";
    if (ext == ".txt") return "text/plain; charset=utf-8";
    if (ext == ".png") return "image/png";
    if (ext == ".ico") return "image/x-icon";
    return "application/octet-stream";
}

// The library listens with a backlog of 5 connections: a burst of new connections (a page's
// first requests from many browsers, a load balancer's pool opening) would overflow it and
// wait for the client's SYN retries. Its socket is reachable from a subclass, and listening
// again on it only raises the backlog.
class Listener : public httplib::Server {
public:
    bool RaiseBacklog() { return ::listen(svr_sock_, SOMAXCONN) == 0; }
};

} // namespace

// --- the static page ------------------------------------------------------------------------------

StaticFiles::StaticFiles(const std::filesystem::path& folder)
{
    if (folder.empty()) return;
    for (const auto& item : std::filesystem::directory_iterator(folder)) {
        if (!item.is_regular_file()) continue;
        std::ifstream in(item.path(), std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        if (!in) throw std::runtime_error("cannot read " + PathToUtf8(item.path()));
        Reply r;
        r.contentType = ContentTypeOf(item.path());
        r.cacheControl = kPageLifetime;
        r.body = bytes.str();
        files_.emplace("/" + item.path().filename().string(), std::move(r));
    }
}

const Reply* StaticFiles::Find(const std::string& path) const
{
    const auto it = files_.find(path == "/" ? std::string("/index.html") : path);
    return it == files_.end() ? nullptr : &it->second;
}

// --- the server -----------------------------------------------------------------------------------

struct HttpServer::Impl {
    const Service& service;
    const StaticFiles& page;
    ServerOptions options;
    LogSink log;
    Listener http;

    std::mutex phaseMutex;
    bool stopRequested = false;
    bool runStarted = false;
    std::atomic<bool> runEnded{false};
    std::atomic<bool> stopped{false};

    Impl(const Service& s, const StaticFiles& p, ServerOptions o, LogSink l)
        : service(s), page(p), options(std::move(o)), log(std::move(l))
    {
    }

    // A route: the reply the function gives, or 500 when the engine throws (a damaged
    // directory file); the message goes to the log, not to the client.
    template <class F>
    httplib::Server::Handler Route(F f)
    {
        return [this, f](const httplib::Request& req, httplib::Response& res) {
            try {
                Send(res, f(req));
            } catch (const std::exception& e) {
                log("ubin-serve: " + LogSafe(req.target) + ": " + e.what());
                Send(res, ErrorReply(500, message::kInternal));
            }
        };
    }

    httplib::Server::HandlerResponse Check(const httplib::Request& req, httplib::Response& res)
    {
        StartClock();
        const char* refusal = nullptr;
        int status = 400;
        if (RequestBytes(req) > kMaxRequestBytes) {
            refusal = message::kTooLarge;
        } else if (const std::optional<std::string> decoded = PercentDecode(req.target); !decoded) {
            refusal = message::kBadPercent;
        } else if (!IsValidUtf8(*decoded)) {
            refusal = message::kBadUtf8;
        } else if (req.method != "GET" && req.method != "HEAD") {
            refusal = message::kMethod;
            status = 405;
            res.set_header("Allow", "GET, HEAD");
        }
        if (!refusal) return httplib::Server::HandlerResponse::Unhandled;
        Send(res, ErrorReply(status, refusal));
        // What follows a refused request on the connection (its body, say) is not read.
        res.set_header("Connection", "close");
        return httplib::Server::HandlerResponse::Handled;
    }

    // Replies the library makes itself (no route, a request it cannot parse or that is too
    // long) get a JSON body like every other error.
    void LibraryError(httplib::Response& res)
    {
        if (!tRequest.set) StartClock();
        if (res.status == 413 || res.status == 414 || res.status == 431) {
            Send(res, ErrorReply(400, message::kTooLarge));
        } else if (res.body.empty()) {
            const char* text = res.status == 404 ? message::kNotFound
                               : res.status < 500 ? message::kBadRequest
                                                  : message::kInternal;
            Send(res, ErrorReply(res.status, text));
        }
    }

    // Headers every reply carries.
    void Finish(const httplib::Request& req, httplib::Response& res)
    {
        res.set_header("X-Content-Type-Options", "nosniff");
        for (const auto& [name, value] : service.ReplyHeaders()) res.set_header(name, value);
        if (!res.has_header("Cache-Control")) res.set_header("Cache-Control", kNoStore);
        const auto& origins = options.allowOrigins;
        if (origins.empty()) return;
        if (std::find(origins.begin(), origins.end(), "*") != origins.end()) {
            res.set_header("Access-Control-Allow-Origin", "*");
        } else if (origins.size() == 1) {
            res.set_header("Access-Control-Allow-Origin", origins.front());
        } else {
            const std::string origin = req.get_header_value("Origin");
            if (std::find(origins.begin(), origins.end(), origin) != origins.end())
                res.set_header("Access-Control-Allow-Origin", origin);
            res.set_header("Vary", "Origin");
        }
    }

    void Log(const httplib::Request& req, const httplib::Response& res)
    {
        const long long us =
            tRequest.set ? std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - tRequest.start).count() : 0;
        tRequest.set = false;
        const std::string_view target = req.target;
        log(LogSafe(req.method) + ' ' + LogSafe(target.substr(0, target.find('?'))) + ' ' + std::to_string(res.status) +
            ' ' + std::to_string(us) + "us");
    }

    void SetUp()
    {
        const std::size_t threads = static_cast<std::size_t>(std::max(1, options.threads));
        http.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
        http.set_keep_alive_max_count(static_cast<std::size_t>(std::max(1, options.keepAliveRequests)));
        http.set_keep_alive_timeout(options.keepAliveSeconds);
        http.set_payload_max_length(kMaxRequestBytes);
        // Replies go out as two writes (head, body): without this the second waits for the
        // client's delayed acknowledgement.
        http.set_tcp_nodelay(true);

        http.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) { return Check(req, res); });
        http.set_error_handler([this](const httplib::Request&, httplib::Response& res) { LibraryError(res); });
        http.set_post_routing_handler([this](const httplib::Request& req, httplib::Response& res) { Finish(req, res); });
        http.set_logger([this](const httplib::Request& req, const httplib::Response& res) { Log(req, res); });

        http.Get("/api/search", Route([&s = service](const httplib::Request& req) { return s.ApiSearch(req.params); }));
        http.Get("/v1/areas", Route([&s = service](const httplib::Request&) { return s.Prefectures(); }));
        http.Get(R"(/v1/areas/([^/]+))", Route([&s = service](const httplib::Request& req) { return s.Cities(req.matches[1].str()); }));
        http.Get(R"(/v1/areas/([^/]+)/([^/]+))", Route([&s = service](const httplib::Request& req) {
                     return s.Towns(req.matches[1].str(), req.matches[2].str());
                 }));
        http.Get(R"(/yubinbango/([0-9]{3})\.js)",
                 Route([&s = service](const httplib::Request& req) { return s.YubinbangoData(req.matches[1].str()); }));
        http.Get("/v1/find", Route([&s = service](const httplib::Request& req) { return s.Find(req.params); }));
        http.Get("/healthz", Route([&s = service](const httplib::Request&) { return s.Health(); }));
        http.Get(R"(/[^/]*)", Route([this](const httplib::Request& req) {
                     const Reply* file = page.Find(req.path);
                     return file ? *file : ErrorReply(404, message::kNotFound);
                 }));
    }
};

HttpServer::HttpServer(const Service& service, const StaticFiles& page, ServerOptions options, LogSink log)
    : impl_(std::make_unique<Impl>(service, page, std::move(options), std::move(log)))
{
    impl_->SetUp();
}

HttpServer::~HttpServer() = default;

int HttpServer::Bind()
{
    const ServerOptions& o = impl_->options;
    errno = 0;
    int port = o.port;
    if (port == 0) port = impl_->http.bind_to_any_port(o.host);
    else if (!impl_->http.bind_to_port(o.host, port)) port = -1;
    if (port >= 0 && !impl_->http.RaiseBacklog()) port = -1;
    if (port < 0) {
        const int error = errno;
        throw std::runtime_error("cannot listen on " + o.host + ":" + std::to_string(o.port) +
                                 (error ? std::string(": ") + std::strerror(error) : std::string()));
    }
    return port;
}

void HttpServer::Run()
{
    {
        std::lock_guard<std::mutex> lock(impl_->phaseMutex);
        if (impl_->stopRequested) return;
        impl_->runStarted = true;
    }
    impl_->http.listen_after_bind();
    impl_->runEnded = true;
}

void HttpServer::Stop()
{
    {
        std::lock_guard<std::mutex> lock(impl_->phaseMutex);
        impl_->stopRequested = true;
        if (!impl_->runStarted) return; // Run will not start serving
    }
    // Run has begun: wait until the library serves (a moment), then close the listening
    // socket once; the workers finish what they are answering.
    while (!impl_->http.is_running() && !impl_->runEnded) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (impl_->http.is_running() && !impl_->stopped.exchange(true)) impl_->http.stop();
}

void ParseListen(const std::string& text, std::string& host, int& port)
{
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size())
        throw std::invalid_argument("--listen takes ADDR:PORT, not \"" + text + "\"");
    host = text.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    const std::string digits = text.substr(colon + 1);
    if (digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos || std::stoi(digits) > 65535)
        throw std::invalid_argument("--listen: \"" + digits + "\" is not a port number (0 to 65535)");
    port = std::stoi(digits);
}

} // namespace ubin::serve
