#include "tools/ubin-serve/connection.h"

#include <boost/asio/post.hpp>

#include <algorithm>
#include <array>
#include <cerrno>
#include <sys/socket.h>

namespace ubin::serve {

namespace {

namespace asio = boost::asio;
using boost::system::error_code;

// After a reply that closes the connection, what the client still sends is read and dropped
// for at most this long, so the reply is not lost to a reset.
constexpr auto kLingerTime = std::chrono::seconds(2);
// Bytes a connection reads in one turn before the loop's other connections have theirs: a
// client sending a large body, or more than it may, does not hold the loop.
constexpr std::size_t kTurnBytes = 64 * 1024;

bool WouldBlock(const error_code& ec) { return ec == asio::error::would_block || ec == asio::error::try_again; }

} // namespace

Connection::Connection(Loop& loop, tcp::socket socket, const ClientMemory::Address& address)
    : loop_(loop), socket_(std::move(socket)), address_(address), timer_(loop.io)
{
}

void Connection::Start()
{
    Place(&loop_.idle);
    SetDeadline(Clock::now() + std::chrono::seconds(loop_.shared.options.keepAliveSeconds));
    Serve();
}

void Connection::Close()
{
    if (state_ == State::Closed) return;
    state_ = State::Closed;
    if (job_) job_->Cancel(); // the client is gone: its work is not worth finishing
    job_.reset();
    error_code ignored;
    socket_.close(ignored);
    timer_.cancel();
    Place(nullptr);
    --loop_.shared.open;
    DropBuffer();
    ReleaseBody();
    ReleaseReply();
    // What it held goes now, not when the last handler waiting for it has run: a connection
    // closed to make room gives its room at once.
    reader_.reset();
    body_ = std::string();
    head_ = std::string();
}

void Connection::CloseWhenIdle()
{
    if (state_ == State::Lingering) return Close();
    // Bytes that came before the loop read them are a request begun.
    error_code ec;
    if (state_ == State::Reading && !reader_ && begin_ == end_ && socket_.available(ec) == 0) Close();
}

// Moves the connection to the back of a list of its loop (none: out of every list).
void Connection::Place(ConnectionList* to)
{
    if (list == to && to != &loop_.idle) return; // half-sent since its request began
    if (list) list->Remove(this);
    if (to) to->PushBack(this);
}

// Runs until the connection must wait for its socket, its work or its turn; each comes back here.
void Connection::Serve()
{
    turnBytes_ = 0;
    while (state_ != State::Closed) {
        switch (state_) {
        case State::Writing:
            if (!WriteSome() || !Written()) return;
            break;
        case State::Lingering: return Linger();
        case State::Working: return Peek();
        case State::Reading:
            if (begin_ < end_) {
                if (!reader_) {
                    reader_.emplace(loop_.shared.options);
                    checked_ = false;
                    headBytes_ = 0;
                    Place(&loop_.halfSent);
                    SetDeadline(Clock::now() + std::chrono::seconds(loop_.shared.options.requestSeconds));
                }
                const std::size_t before = begin_;
                Parse();
                if (state_ != State::Reading || begin_ != before) break;
            }
            if (turnBytes_ >= kTurnBytes) return Yield();
            if (!ReadSome()) return;
            break;
        case State::Closed: return;
        }
    }
}

void Connection::Yield()
{
    asio::post(loop_.io, [self = shared_from_this()] { self->Serve(); });
}

// Watches the socket of a connection whose reply is being made.
void Connection::Watch()
{
    const unsigned watch = ++watch_;
    socket_.async_wait(tcp::socket::wait_read, [self = shared_from_this(), watch](const error_code& ec) {
        if (!ec && self->state_ == State::Working && self->watch_ == watch) self->Peek();
    });
}

// The client closed the connection or reset it (its work is dropped), or sent more: the next
// request, kept for its turn as far as the buffer holds it. The socket is read until it has no
// more, so that the watch waits for something new; an end of stream already come is seen here.
void Connection::Peek()
{
    for (;;) {
        char byte;
        const ssize_t n = ::recv(socket_.native_handle(), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Watch();
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return Close();
        if (!TakeBuffer()) return; // no room: the rest waits in the socket, unwatched
        if (end_ == capacity_) Compact();
        if (end_ == capacity_) return;
        error_code ec;
        end_ += socket_.read_some(asio::buffer(buffer_.get() + end_, capacity_ - end_), ec);
        if (ec && !WouldBlock(ec)) return Close();
    }
}

// Writes what the socket takes: true when the reply is out, false when it waits or closed.
bool Connection::WriteSome()
{
    for (;;) {
        const std::size_t total = head_.size() + bodyCount_;
        if (written_ == total) return true;
        std::array<asio::const_buffer, 2> pieces;
        if (written_ < head_.size()) {
            pieces[0] = asio::buffer(head_.data() + written_, head_.size() - written_);
            pieces[1] = asio::buffer(body_.data() + bodyFirst_, bodyCount_);
        } else {
            const std::size_t done = written_ - head_.size();
            pieces[0] = asio::buffer(body_.data() + bodyFirst_ + done, bodyCount_ - done);
            pieces[1] = asio::const_buffer();
        }
        error_code ec;
        const std::size_t n = socket_.write_some(pieces, ec);
        if (!ec) {
            written_ += n;
            continue;
        }
        if (WouldBlock(ec)) {
            WaitFor(tcp::socket::wait_write);
            return false;
        }
        Close();
        return false;
    }
}

// After the last byte of a reply: false when the connection waits, or yields its turn before
// its next request.
bool Connection::Written()
{
    head_.clear();
    if (interim_) { // 100 Continue: the body comes now
        interim_ = false;
        state_ = State::Reading;
        return true;
    }
    const long long us = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - answerStart_).count();
    loop_.shared.log(logText_ + std::to_string(us) + "us");
    body_ = std::string();
    ReleaseReply();
    if (closeAfter_ || loop_.stopping) {
        error_code ignored;
        socket_.shutdown(tcp::socket::shutdown_send, ignored);
        state_ = State::Lingering;
        Place(&loop_.idle);
        SetDeadline(Clock::now() + std::min<Clock::duration>(kLingerTime, std::chrono::seconds(loop_.shared.options.requestSeconds)));
        return true;
    }
    state_ = State::Reading;
    reader_.reset();
    Place(&loop_.idle);
    SetDeadline(Clock::now() + std::chrono::seconds(loop_.shared.options.keepAliveSeconds));
    if (begin_ == end_) return true;
    Yield(); // a request pipelined behind waits for the other connections' turns
    return false;
}

// Reads what the socket holds: true when bytes came (or the request was refused), false when
// it waits or closed.
bool Connection::ReadSome()
{
    if (!TakeBuffer()) {
        Refuse(503, message::kBusy);
        return true;
    }
    if (end_ == capacity_) {
        Compact();
        if (end_ == capacity_ && !GrowBuffer()) return true;
    }
    error_code ec;
    const std::size_t n = socket_.read_some(asio::buffer(buffer_.get() + end_, capacity_ - end_), ec);
    if (!ec) {
        end_ += n;
        turnBytes_ += n;
        return true;
    }
    if (WouldBlock(ec)) {
        if (begin_ == end_) DropBuffer(); // a connection waiting for bytes holds no buffer
        WaitFor(tcp::socket::wait_read);
        return false;
    }
    Close(); // the client closed, or the connection broke
    return false;
}

// After the last reply: reads and drops what still comes until the client closes.
void Connection::Linger()
{
    for (;;) {
        error_code ec;
        turnBytes_ += socket_.read_some(asio::buffer(loop_.scratch), ec);
        if (!ec) {
            if (turnBytes_ >= kTurnBytes) return Yield();
            continue;
        }
        if (WouldBlock(ec)) return WaitFor(tcp::socket::wait_read);
        return Close();
    }
}

void Connection::WaitFor(tcp::socket::wait_type what)
{
    socket_.async_wait(what, [self = shared_from_this()](const error_code& ec) {
        if (!ec) self->Serve();
        else if (ec != asio::error::operation_aborted) self->Close();
    });
}

// The one timer of a connection rings at the earliest deadline it was given; a later deadline
// set meanwhile only moves it on when it rings.
void Connection::SetDeadline(Clock::time_point deadline)
{
    deadline_ = deadline;
    if (timerArmed_ && timerAt_ <= deadline) return;
    timerArmed_ = true;
    timerAt_ = deadline;
    timer_.expires_at(deadline);
    timer_.async_wait([self = shared_from_this()](const error_code& ec) { self->OnTimer(ec); });
}

void Connection::OnTimer(const error_code& ec)
{
    if (ec || state_ == State::Closed) return; // moved to an earlier deadline, or closed
    timerArmed_ = false;
    if (Clock::now() >= deadline_) return Close(); // too slow: a request, a reply, or idle too long
    SetDeadline(deadline_);
}

} // namespace ubin::serve
