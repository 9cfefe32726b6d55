#pragma once
// One client's connection, served by its loop's thread only: read a request, answer it (on the
// loop, or by the worker pool while the connection watches for the client going away), write
// the reply, and let the loop's other connections have a turn before the next request. It waits
// for its socket and never blocks on it; one timer holds its deadline.
#include "tools/ubin-serve/loop.h"
#include "tools/ubin-serve/request_reader.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace ubin::serve {

class Connection : public std::enable_shared_from_this<Connection>, public ConnectionList::Links {
public:
    using Clock = std::chrono::steady_clock;
    using tcp = boost::asio::ip::tcp;

    Connection(Loop& loop, tcp::socket socket, const ClientMemory::Address& address);
    void Start();
    // Closes it now: its work is dropped, and what is waiting for it ends without effect.
    void Close();
    // Closes it when it has no request begun, not even unread (as a stopping server does); else
    // it closes after its reply.
    void CloseWhenIdle();

private:
    enum class State {
        Reading,   // a request, or the wait for one
        Working,   // its reply is made by the worker pool
        Writing,   // a reply (or the interim 100 Continue)
        Lingering, // after the last reply, what still comes is dropped until the client closes
        Closed,
    };

    void Serve();
    // Hands the loop to its other connections; Serve goes on after them.
    void Yield();
    void Parse();
    bool CheckedHead(std::size_t headBytes);
    bool IsPreflight() const;
    void Answer();
    void BeginWork(const Route& route, bool keepAlive);
    void WorkDone(Reply reply);
    void Refuse(int status, const char* message, const char* allow = nullptr);
    void RefuseUnparsed(const boost::system::error_code& ec);
    void Send(Reply reply, bool keepAlive, const char* allow = nullptr);
    void SendContinue();
    bool WriteSome();
    bool Written();
    bool ReadSome();
    void Linger();
    void WaitFor(tcp::socket::wait_type what);
    void Watch();
    void Peek();
    void SetDeadline(Clock::time_point deadline);
    void OnTimer(const boost::system::error_code& ec);
    void Place(ConnectionList* list);

    // Memory: the read buffer, the body of a request, the reply being written.
    bool TakeBuffer();
    bool GrowBuffer();
    void DropBuffer();
    void Compact();
    bool HoldBody();
    void ReleaseBody();
    void ReleaseReply();

    Loop& loop_;
    tcp::socket socket_;
    ClientMemory::Address address_;
    boost::asio::steady_timer timer_;
    Clock::time_point deadline_{};
    Clock::time_point timerAt_{};
    bool timerArmed_ = false;
    State state_ = State::Reading;

    std::unique_ptr<char[]> buffer_;
    std::size_t capacity_ = 0;
    std::size_t begin_ = 0, end_ = 0;
    std::optional<RequestReader> reader_;
    bool checked_ = false;
    std::size_t headBytes_ = 0; // of the request's head, taken so far
    std::size_t turnBytes_ = 0; // read in this turn of the loop
    int served_ = 0;
    std::size_t bodyHeld_ = 0;

    std::shared_ptr<WorkPool::Job> job_;
    bool keepAlive_ = false;
    unsigned watch_ = 0; // the watch of a working connection that counts; older ones do nothing

    std::string head_;
    std::string body_;
    std::size_t bodyFirst_ = 0, bodyCount_ = 0;
    std::size_t written_ = 0;
    std::size_t replyHeld_ = 0;
    bool closeAfter_ = false;
    bool interim_ = false; // the reply being written is 100 Continue
    Clock::time_point answerStart_{};
    std::string logText_;
};

} // namespace ubin::serve
