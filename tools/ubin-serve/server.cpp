#include "tools/ubin-serve/server.h"

#include "base/errors.h"

#include "tools/ubin-serve/connection.h"
#include "tools/ubin-serve/loop.h"

#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

#include <algorithm>
#include <mutex>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>

namespace ubin::serve {

namespace {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using boost::system::error_code;

// When accepting fails (no file descriptors left), the next try waits this long.
constexpr auto kAcceptPause = std::chrono::milliseconds(100);
// Connections taken at once before the accepting loop serves its own again.
constexpr int kAcceptBatch = 64;

} // namespace

struct HttpServer::Impl {
    Shared shared;
    std::vector<std::unique_ptr<Loop>> loops;
    tcp::acceptor acceptor;
    asio::steady_timer acceptPause;
    std::size_t nextLoop = 0;
    bool acceptFailing = false;

    std::mutex phaseMutex;
    bool stopRequested = false;
    bool runStarted = false;

    Impl(const Service& s, const StaticFiles& p, ServerOptions o, LogSink l)
        : shared{s, p, std::move(o), std::move(l)},
          loops(MakeLoops(shared)),
          acceptor(loops.front()->io),
          acceptPause(loops.front()->io)
    {
    }
    // The workers end before the loops they hand their replies to.
    ~Impl() { shared.pool.Stop(); }

    static std::vector<std::unique_ptr<Loop>> MakeLoops(Shared& shared)
    {
        int n = shared.options.threads;
        if (n <= 0) n = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
        std::vector<std::unique_ptr<Loop>> loops;
        // Each loop holds an even share of the memory for requests.
        const std::size_t share = std::max<std::size_t>(shared.options.maxRequestMemory / static_cast<std::size_t>(n), kLargeBuffer);
        for (int i = 0; i < n; ++i) loops.push_back(std::make_unique<Loop>(shared, share));
        return loops;
    }

    // New connections go to the loops in turn; when the server is full, to the loop with the
    // most idle connections, or when none has one, the most requests half-sent: the newcomer
    // takes the place of the first of them there. Each is placed as it comes, so the count of
    // open connections is the accepting thread's own.
    void Accept()
    {
        acceptor.async_wait(tcp::acceptor::wait_read, [this](const error_code& ec) {
            if (ec == asio::error::operation_aborted || !acceptor.is_open()) return;
            AcceptWaiting();
        });
    }

    // Takes the connections waiting, a batch at a time so that this loop's own connections are
    // served in between.
    void AcceptWaiting()
    {
        for (int i = 0; i < kAcceptBatch; ++i) {
            const bool full = shared.open.load() >= shared.options.maxConnections;
            Loop* loop = full ? FullestLoop() : loops[nextLoop++ % loops.size()].get();
            error_code ec;
            tcp::socket socket = acceptor.accept(loop->io, ec);
            if (ec == asio::error::would_block || ec == asio::error::try_again) return Accept();
            if (ec) {
                // Out of file descriptors, say: try again in a moment rather than at once.
                if (!acceptFailing) shared.log("ubin-serve: cannot accept connections: " + ec.message());
                acceptFailing = true;
                acceptPause.expires_after(kAcceptPause);
                acceptPause.async_wait([this](const error_code& e) {
                    if (!e && acceptor.is_open()) AcceptWaiting();
                });
                return;
            }
            acceptFailing = false;
            if (!full) ++shared.open;
            asio::post(loop->io, [loop, full, s = std::move(socket)]() mutable { loop->Adopt(std::move(s), !full); });
        }
        asio::post(loops.front()->io, [this] {
            if (acceptor.is_open()) AcceptWaiting();
        });
    }

    Loop* FullestLoop() const
    {
        const auto most = [&](auto count) {
            return std::max_element(loops.begin(), loops.end(), [&](const auto& a, const auto& b) { return count(*a) < count(*b); })
                ->get();
        };
        Loop* idle = most([](const Loop& l) { return l.idle.count(); });
        return idle->idle.count() > 0 ? idle : most([](const Loop& l) { return l.halfSent.count(); });
    }

    void StopServing()
    {
        asio::post(loops.front()->io, [this] {
            error_code ignored;
            acceptor.close(ignored);
            acceptPause.cancel();
        });
        for (auto& loop : loops) asio::post(loop->io, [l = loop.get()] { l->Stop(); });
    }

    // A thread's loop; an exception out of a handler is logged and the loop goes on.
    void RunLoop(Loop& loop)
    {
        for (;;) {
            try {
                loop.io.run();
                return;
            } catch (const std::exception& e) {
                shared.log(std::string("ubin-serve: ") + e.what());
            }
        }
    }
};

HttpServer::HttpServer(const Service& service, const StaticFiles& page, ServerOptions options, LogSink log)
    : impl_(std::make_unique<Impl>(service, page, std::move(options), std::move(log)))
{
}

HttpServer::~HttpServer() = default;

namespace {

// The socket systemd listens on for us: its family tells the protocol.
int AdoptListeningSocket(tcp::acceptor& acceptor, int fd)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw ServiceError("the socket handed over (descriptor " + std::to_string(fd) + ") is not a socket");
    acceptor.assign(address.ss_family == AF_INET6 ? tcp::v6() : tcp::v4(), fd);
    acceptor.non_blocking(true);
    return acceptor.local_endpoint().port();
}

} // namespace

int HttpServer::Bind()
{
    const ServerOptions& o = impl_->shared.options;
    if (o.listenFd >= 0) return AdoptListeningSocket(impl_->acceptor, o.listenFd);
    try {
        tcp::resolver resolver(impl_->loops.front()->io);
        const auto endpoints = resolver.resolve(o.host, std::to_string(o.port),
                                                tcp::resolver::passive | tcp::resolver::numeric_service);
        const tcp::endpoint endpoint = *endpoints.begin();
        tcp::acceptor& a = impl_->acceptor;
        a.open(endpoint.protocol());
        a.set_option(tcp::acceptor::reuse_address(true));
        a.bind(endpoint);
        a.listen(asio::socket_base::max_listen_connections);
        a.non_blocking(true);
        return a.local_endpoint().port();
    } catch (const boost::system::system_error& e) {
        error_code ignored;
        impl_->acceptor.close(ignored);
        throw ServiceError("cannot listen on " + o.host + ":" + std::to_string(o.port) + ": " + e.code().message());
    }
}

void HttpServer::Run()
{
    {
        std::lock_guard<std::mutex> lock(impl_->phaseMutex);
        if (impl_->stopRequested) return;
        impl_->runStarted = true;
    }
    asio::post(impl_->loops.front()->io, [this] { impl_->AcceptWaiting(); });
    std::vector<std::thread> threads;
    for (std::size_t i = 1; i < impl_->loops.size(); ++i)
        threads.emplace_back([this, i] { impl_->RunLoop(*impl_->loops[i]); });
    impl_->RunLoop(*impl_->loops.front());
    for (auto& t : threads) t.join();
    // Every connection has closed: what work is left had no client.
    impl_->shared.pool.Stop();
}

void HttpServer::Stop()
{
    std::lock_guard<std::mutex> lock(impl_->phaseMutex);
    if (impl_->stopRequested) return;
    impl_->stopRequested = true;
    if (impl_->runStarted) impl_->StopServing(); // else Run will not start serving
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
