// One request's exchange on a connection: its bytes given to the reader, its head checked, its
// answer made on the loop or handed to the worker pool, and its reply queued to be written.
#include "tools/ubin-serve/connection.h"

#include "tools/ubin-serve/reply.h"
#include "tools/ubin-serve/request_text.h"
#include "tools/ubin-serve/routes.h"

#include <boost/asio/post.hpp>
#include <boost/beast/http/error.hpp>

#include <algorithm>
#include <tuple>

namespace ubin::serve {

namespace {

namespace asio = boost::asio;
namespace http = boost::beast::http;
using boost::system::error_code;

} // namespace

void Connection::Parse()
{
    RequestReader& r = *reader_;
    const std::size_t headLimit = std::min(loop_.shared.options.maxHeaderBytes, kMaxRequestBytes);
    while (begin_ < end_ && !r.is_done()) {
        error_code ec;
        const bool inHead = !r.is_header_done();
        const std::size_t n = r.put(asio::buffer(buffer_.get() + begin_, end_ - begin_), ec);
        if (ec && ec != http::error::need_more) return RefuseUnparsed(ec);
        begin_ += n;
        // Beast takes a head a line at a time as its bytes come and checks only what it has not
        // taken against its limit: the head's length in all is checked here.
        if (inHead) headBytes_ += n;
        if (inHead && headBytes_ + (ec ? end_ - begin_ : 0) > headLimit) return Refuse(400, message::kTooLarge);
        if (ec) {
            // What is left of the request moves to the front, so its head finds room.
            if (begin_ > 0 && end_ - begin_ < begin_) Compact();
            return;
        }
        if (r.is_header_done() && !checked_) {
            checked_ = true;
            if (!CheckedHead(headBytes_)) return;
        }
        if (r.KeepsBody() && !HoldBody()) return;
    }
    if (r.is_done()) Answer();
}

// A request Beast refused. A head it could not read was not taken: the buffer starts with its
// request line, where the log finds the method and target.
void Connection::RefuseUnparsed(const error_code& ec)
{
    const RequestReader& r = *reader_;
    if (r.KeepsBody() && (r.bodyBytes > kMaxBatchBytes || ec == http::error::body_limit))
        Refuse(413, message::kBatchTooLarge);
    else if (r.tooLarge || ec == http::error::header_limit || ec == http::error::body_limit)
        Refuse(400, message::kTooLarge);
    else
        Refuse(400, message::kBadRequest);
}

// The checks of a request's head; false when it was refused, or 100 Continue goes out first.
bool Connection::CheckedHead(std::size_t headBytes)
{
    RequestReader& r = *reader_;
    if (const Refusal refused = CheckHead(r, headBytes, IsPreflight())) {
        Refuse(refused.status, refused.message, refused.allow);
        return false;
    }
    if (r.KeepsBody()) {
        // The memory of an announced body is held before any of it is read.
        if (r.content_length()) r.body.reserve(static_cast<std::size_t>(*r.content_length()));
        if (!HoldBody()) return false;
    }
    // A client that waits to be told before it sends its body is told, unless it sent some.
    if (r.expectContinue && r.version >= 11 && !r.is_done() && begin_ == end_) {
        SendContinue();
        return false;
    }
    return true;
}

// OPTIONS is answered only when pages of other origins may read the replies; without
// --allow-origin it is refused as any other method.
bool Connection::IsPreflight() const
{
    return reader_ && reader_->method == "OPTIONS" && !loop_.shared.options.allowOrigins.empty();
}

void Connection::Answer()
{
    answerStart_ = Clock::now();
    Place(nullptr); // read whole: no longer half-sent
    const Shared& shared = loop_.shared;
    RequestReader& r = *reader_;
    const bool keepAlive = !ClosesAfter(r) && ++served_ < shared.options.keepAliveRequests;
    if (IsPreflight()) {
        Reply reply;
        reply.status = 204;
        return Send(std::move(reply), keepAlive);
    }
    const Route& route = *r.route;
    if (route.work) return BeginWork(route, keepAlive);
    Reply reply;
    try {
        reply = route.answer(RouteRequest{shared.service, shared.page, RestOf(route, r.parts.path), r.params});
    } catch (const std::exception& e) {
        // A damaged directory file: the message goes to the log, not to the client.
        shared.log("ubin-serve: " + LogSafe(r.target) + ": " + e.what());
        reply = ErrorReply(500, message::kInternal);
    }
    Send(std::move(reply), keepAlive);
}

// The reply is made by the worker pool; meanwhile the connection watches its socket, and if the
// client goes, the work is dropped.
void Connection::BeginWork(const Route& route, bool keepAlive)
{
    const Shared& shared = loop_.shared;
    RequestReader& r = *reader_;
    state_ = State::Working;
    keepAlive_ = keepAlive;
    // No deadline of its own while the work goes on: its budget ends it, and a client gone ends
    // it sooner.
    SetDeadline(Clock::now() + std::chrono::hours(24));
    std::unique_ptr<Work> work = route.work(
        WorkRequest{shared.service, std::move(r.params), std::move(r.body), std::chrono::seconds(shared.options.workBudgetSeconds)});
    job_ = loop_.shared.pool.Submit(std::move(work), [self = weak_from_this(), &io = loop_.io](Reply reply) {
        asio::post(io, [self, reply = std::move(reply)]() mutable {
            if (const auto c = self.lock()) c->WorkDone(std::move(reply));
        });
    });
}

void Connection::WorkDone(Reply reply)
{
    if (state_ != State::Working) return;
    job_.reset();
    ++watch_; // the watch ends without effect
    error_code ignored;
    socket_.cancel(ignored);
    ReleaseBody();
    Send(std::move(reply), keepAlive_);
    Serve();
}

// A refused request closes its connection: what follows it (its body, say) is not read.
void Connection::Refuse(int status, const char* message, const char* allow)
{
    answerStart_ = Clock::now();
    Place(nullptr);
    if (reader_) reader_->body = std::string();
    ReleaseBody();
    Send(ErrorReply(status, message), false, allow);
}

// Queues the reply to be written: its head, and its body unless the request was HEAD.
void Connection::Send(Reply reply, bool keepAlive, const char* allow)
{
    Shared& shared = loop_.shared;
    closeAfter_ = !keepAlive || loop_.stopping;
    if (reply.edition.empty()) reply.edition = shared.service.CurrentEditionName();
    const RequestReader* r = reader_ ? &*reader_ : nullptr;
    std::string_view method, path;
    if (r && !r->method.empty()) {
        method = r->method;
        path = r->parts.sentPath.empty() ? std::string_view(r->target).substr(0, r->target.find('?')) : r->parts.sentPath;
    } else if (buffer_) {
        std::tie(method, path) = RequestLineWords(std::string_view(buffer_.get() + begin_, end_ - begin_));
        path = path.substr(0, path.find('?'));
    }
    HeadOptions o;
    o.method = method;
    o.allow = allow;
    o.close = closeAfter_;
    o.keepAliveSeconds = shared.options.keepAliveSeconds;
    if (!shared.options.allowOrigins.empty()) o.allowOrigins = &shared.options.allowOrigins;
    if (r) {
        o.range = r->range;
        o.ifRange = r->ifRange;
        o.origin = r->origin;
        o.preflight = reply.status == 204;
        o.askedHeaders = r->accessHeaders;
        o.http10 = r->version == 10;
    }
    ReplyHead head = MakeReplyHead(reply, o);
    logText_ = LogSafe(method) + ' ' + LogSafe(path) + ' ' + std::to_string(head.status) + ' ';
    head_ = std::move(head.text);
    bodyFirst_ = head.bodyFirst;
    bodyCount_ = head.bodyCount;
    body_ = std::move(reply.body);
    written_ = 0;
    // A reply made is sent: its memory is counted, never refused.
    ReleaseReply();
    replyHeld_ = body_.size();
    loop_.memoryHeld += replyHeld_;
    shared.clients.Take(address_, replyHeld_, true);
    state_ = State::Writing;
    SetDeadline(Clock::now() + std::chrono::seconds(shared.options.requestSeconds));
}

void Connection::SendContinue()
{
    head_ = kContinue;
    body_.clear();
    bodyFirst_ = bodyCount_ = written_ = 0;
    interim_ = true;
    state_ = State::Writing;
}

} // namespace ubin::serve
