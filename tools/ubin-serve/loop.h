#pragma once
// One event loop of the server: its thread's connections, kept in the order a newcomer or a
// short budget of memory would close them, and its share of the memory for requests; and what
// every loop shares.
#include "tools/ubin-serve/client_memory.h"
#include "tools/ubin-serve/server.h"
#include "tools/ubin-serve/work_pool.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include <array>
#include <atomic>
#include <memory>
#include <optional>
#include <vector>

namespace ubin::serve {

class Connection;

// What every loop reads: the service, the page, the options, the log, the count of open
// connections, the worker pool and what each client address holds.
struct Shared {
    Shared(const Service& s, const StaticFiles& p, ServerOptions o, LogSink l);

    const Service& service;
    const StaticFiles& page;
    ServerOptions options;
    LogSink log;
    std::atomic<int> open{0};
    WorkPool pool;
    ClientMemory clients;
};

// Connections of one loop in one state, the one that entered it first at the front.
class ConnectionList {
public:
    // A connection's place in the list it is in (at most one).
    struct Links {
        Links* prev = nullptr;
        Links* next = nullptr;
        ConnectionList* list = nullptr;
    };
    void PushBack(Connection* c);
    void Remove(Connection* c);
    Connection* First() const;
    Connection* After(const Connection* c) const;
    // As the accepting thread reads it.
    int count() const { return count_.load(std::memory_order_relaxed); }

private:
    Links* first_ = nullptr;
    Links* last_ = nullptr;
    std::atomic<int> count_{0};
};

// Sizes of a connection's read buffer: a request head fits the small one mostly; the large one
// holds the longest head (kMaxRequestBytes) with what follows it.
inline constexpr std::size_t kSmallBuffer = 4096;
inline constexpr std::size_t kLargeBuffer = 2 * kMaxRequestBytes;

struct Loop {
    Loop(Shared& s, std::size_t memoryShare) : shared(s), memoryCap(memoryShare) {}
    // A connection the accepting thread handed over; `counted`: it counted it among the open
    // ones. Else the server was full when it came, and unless a connection has closed since, it
    // takes the place of the one idle longest here, or of the request half-sent longest.
    void Adopt(boost::asio::ip::tcp::socket socket, bool counted);
    void Stop();

    // Takes `bytes` of the loop's share of memory for `taker`, first closing the connections
    // whose requests are half-sent longest (never the taker) while the share is short. False
    // when even that leaves too little.
    bool TakeMemory(std::size_t bytes, const Connection* taker);
    void GiveMemory(std::size_t bytes) { memoryHeld -= bytes; }
    // A small buffer from the ones kept, or a new one.
    std::unique_ptr<char[]> SmallBuffer();
    void KeepSmallBuffer(std::unique_ptr<char[]> buffer);

    Shared& shared;
    boost::asio::io_context io{1};
    std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> work{
        boost::asio::make_work_guard(io)};
    // Connections without a request begun (or done and only lingering), the one idle longest
    // first; and those in the middle of reading a request, the one begun first at the front.
    ConnectionList idle;
    ConnectionList halfSent;
    std::size_t memoryCap;
    std::size_t memoryHeld = 0;
    std::vector<std::unique_ptr<char[]>> spareBuffers;
    // Where what a closing connection still receives is read and dropped.
    std::array<char, kLargeBuffer> scratch{};
    bool stopping = false;
};

} // namespace ubin::serve
