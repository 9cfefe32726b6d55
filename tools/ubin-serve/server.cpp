#include "tools/ubin-serve/server.h"

#include "base/path_text.h"
#include "tools/ubin-serve/request_text.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/http/basic_parser.hpp>
#include <boost/beast/http/error.hpp>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>

namespace ubin::serve {

namespace {

namespace asio = boost::asio;
namespace http = boost::beast::http;
using tcp = asio::ip::tcp;
using boost::system::error_code;
using Clock = std::chrono::steady_clock;

// The page changes with a new version of the server; a short lifetime lets it reach browsers.
constexpr char kPageLifetime[] = "public, max-age=300";

// Room for a whole request head (at most kMaxRequestBytes) with what follows it.
constexpr std::size_t kBufferBytes = 2 * kMaxRequestBytes;
// Buffers a loop keeps for its next connections; an idle connection holds none.
constexpr std::size_t kSpareBuffers = 64;
// After a reply that closes the connection, what the client still sends is read and dropped
// for at most this long, so the reply is not lost to a reset.
constexpr auto kLingerTime = std::chrono::seconds(2);
// When accepting fails (no file descriptors left), the next try waits this long.
constexpr auto kAcceptPause = std::chrono::milliseconds(100);
// Connections taken at once before the accepting loop serves its own again.
constexpr int kAcceptBatch = 64;

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

const char* StatusText(int status)
{
    switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 206: return "Partial Content";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 413: return "Content Too Large";
    case 500: return "Internal Server Error";
    default: return "Unknown";
    }
}

// %XX decoded, and '+' as a space when `plus` (a query's parameters); the target has been
// checked to hold only whole %XX sequences.
std::string Decode(std::string_view text, bool plus)
{
    std::string out;
    out.reserve(text.size());
    const auto hex = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
            i += 2;
        } else {
            out += plus && text[i] == '+' ? ' ' : text[i];
        }
    }
    return out;
}

// name=value pairs split at '&', each decoded; a parameter without a name is left out.
Params ParseQuery(std::string_view query)
{
    Params params;
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        const std::size_t eq = pair.find('=');
        const std::string_view name = pair.substr(0, eq);
        if (name.empty()) continue;
        params.emplace(Decode(name, true), eq == std::string_view::npos ? std::string() : Decode(pair.substr(eq + 1), true));
    }
    return params;
}

// The one route that reads a body: POST /v1/find/batch, up to kMaxBatchBytes.
constexpr std::string_view kBatchPath = "/v1/find/batch";
bool IsBatchTarget(std::string_view target) { return target.substr(0, target.find('?')) == kBatchPath; }

// What a request says that the replies depend on, taken from Beast's parser as it reads; the
// body is counted, and kept only for the batch route.
class RequestReader final : public http::basic_parser<true> {
public:
    explicit RequestReader(const ServerOptions& o) : options_(o)
    {
        header_limit(static_cast<std::uint32_t>(std::min(o.maxHeaderBytes, kMaxRequestBytes)));
        body_limit(kMaxRequestBytes);
    }

    std::string method, target, origin, range;
    // The header names a CORS preflight asks to send (Access-Control-Request-Headers).
    std::string accessHeaders;
    int version = 11;
    bool ifRange = false;
    // Set when the request broke one of the size limits, rather than HTTP's grammar.
    bool tooLarge = false;
    std::uint64_t bodyBytes = 0;
    bool batch = false; // a POST to the batch route: its body is kept
    std::string body;

private:
    void on_request_impl(http::verb, boost::beast::string_view m, boost::beast::string_view t, int v, error_code& ec) override
    {
        version = v;
        method.assign(m.data(), m.size());
        target.assign(t.data(), t.size());
        if (target.size() > options_.maxUrlBytes) Refuse(ec);
        batch = method == "POST" && IsBatchTarget(target);
        if (batch) body_limit(kMaxBatchBytes);
    }
    void on_response_impl(int, boost::beast::string_view, int, error_code&) override {}
    void on_field_impl(http::field name, boost::beast::string_view, boost::beast::string_view value, error_code& ec) override
    {
        if (++fields_ > options_.maxHeaders) return Refuse(ec);
        if (name == http::field::origin) {
            origin.assign(value.data(), value.size());
        } else if (name == http::field::range) {
            // Two Range headers name several ranges, as a list in one does.
            if (!range.empty()) range += ',';
            range.append(value.data(), value.size());
        } else if (name == http::field::if_range) {
            ifRange = true;
        } else if (name == http::field::access_control_request_headers) {
            accessHeaders.assign(value.data(), value.size());
        }
    }
    void on_header_impl(error_code&) override {}
    void on_body_init_impl(const boost::optional<std::uint64_t>&, error_code&) override {}
    std::size_t on_body_impl(boost::beast::string_view part, error_code& ec) override { return Count(part, ec); }
    void on_chunk_header_impl(std::uint64_t, boost::beast::string_view, error_code&) override {}
    std::size_t on_chunk_body_impl(std::uint64_t, boost::beast::string_view part, error_code& ec) override
    {
        return Count(part, ec);
    }
    void on_finish_impl(error_code&) override {}

    std::size_t Count(boost::beast::string_view part, error_code& ec)
    {
        bodyBytes += part.size();
        if (bodyBytes > (batch ? kMaxBatchBytes : kMaxRequestBytes)) Refuse(ec);
        else if (batch) body.append(part.data(), part.size());
        return part.size();
    }
    void Refuse(error_code& ec)
    {
        tooLarge = true;
        ec = http::error::header_limit;
    }

    const ServerOptions& options_;
    std::size_t fields_ = 0;
};

// /jpostal/NNN.json: the data file jquery.jpostal asks for under its data URL (the query it
// appends, ?referer=...&callback=..., changes nothing).
Reply JpostalRoute(const Service& s, std::string_view name)
{
    const bool digits = name.size() == 8 && name.ends_with(".json") &&
                        std::all_of(name.begin(), name.begin() + 3, [](char c) { return c >= '0' && c <= '9'; });
    return digits ? s.JpostalData(name.substr(0, 3)) : ErrorReply(404, message::kNotFound);
}

// The first two words of a request line Beast refused, for the log.
std::pair<std::string_view, std::string_view> RequestLineWords(std::string_view bytes)
{
    const std::string_view line = bytes.substr(0, bytes.find_first_of("\r\n"));
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos) return {line, {}};
    const std::string_view rest = line.substr(space + 1);
    return {line.substr(0, space), rest.substr(0, rest.find(' '))};
}

// --- CORS ---

// How long a browser may keep a preflight's answer (Chromium keeps it at most two hours).
constexpr char kPreflightMaxAge[] = "86400";
// What a page of an allowed origin may send: the lookups, and the lists posted to them.
constexpr char kCorsMethods[] = "GET, HEAD, POST";

// Header names a preflight may ask for: tokens separated by commas and blanks. Anything else
// is not sent back, so a request header cannot write into the reply's head.
bool HeaderNameList(std::string_view text)
{
    return text.size() <= 1024 && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || std::strchr("-_., ", c) != nullptr;
    });
}

// The CORS headers of a reply to a request from `origin`, each line begun by CRLF; none
// without --allow-origin. Every reply says it varies by Origin, so a cache between never gives
// one origin's reply to another.
std::string CorsHeaders(const std::vector<std::string>& origins, const std::string& origin)
{
    if (origins.empty()) return {};
    std::string allowed;
    if (std::find(origins.begin(), origins.end(), "*") != origins.end()) allowed = "*";
    else if (origins.size() == 1) allowed = origins.front();
    else if (std::find(origins.begin(), origins.end(), origin) != origins.end()) allowed = origin;
    std::string lines;
    if (!allowed.empty()) {
        lines += "\r\nAccess-Control-Allow-Origin: " + allowed;
        lines += "\r\nAccess-Control-Expose-Headers: X-Ubin-Edition";
    }
    lines += "\r\nVary: Origin";
    return lines;
}

// A preflight's own headers beyond CorsHeaders: the methods, the headers it asked for, and how
// long the answer holds.
std::string PreflightHeaders(const std::string& askedHeaders)
{
    std::string lines = "\r\nAccess-Control-Allow-Methods: ";
    lines += kCorsMethods;
    if (!askedHeaders.empty() && HeaderNameList(askedHeaders))
        lines += "\r\nAccess-Control-Allow-Headers: " + askedHeaders;
    lines += "\r\nAccess-Control-Max-Age: ";
    lines += kPreflightMaxAge;
    return lines;
}

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
    if (it != files_.end()) return &it->second;
    // A page is also named without its extension: /docs is docs.html.
    if (path.find('.') != std::string::npos) return nullptr;
    const auto page = files_.find(path + ".html");
    return page == files_.end() ? nullptr : &page->second;
}

// --- the server -----------------------------------------------------------------------------------

namespace {

struct Loop;

// One client's connection, served by one loop's thread only: read a request, answer it, read
// the next. It waits for the socket and never blocks on it; one timer holds its deadline.
class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(Loop& loop, tcp::socket socket);
    void Start();
    // Closes it now; what is waiting for it ends without effect.
    void Close();
    // Closes it when it has no request begun, not even unread (as a stopping server does); else
    // it closes after its reply.
    void CloseWhenIdle();
    bool idle() const { return state_ == State::Reading && !reader_; }
    // Whether a new connection may take its place: idle, or done and only lingering.
    bool replaceable() const { return idle() || state_ == State::Lingering; }

    // The loop's list of its connections, the longest idle first.
    Connection* prev = nullptr;
    Connection* next = nullptr;

private:
    enum class State { Reading, Writing, Lingering, Closed };

    void Serve();
    bool ReadSome();
    void Parse();
    bool Checked();
    bool IsPreflight() const;
    bool CheckedBatch();
    void Answer();
    void Refuse(int status, const char* message, const char* allow = nullptr);
    void Send(serve::Reply reply, std::string_view method, const std::string& target, bool keepAlive,
              const char* allow = nullptr);
    bool WriteSome();
    bool Linger();
    void WaitFor(tcp::socket::wait_type what);
    void SetDeadline(Clock::time_point deadline);
    void OnTimer(const error_code& ec);
    void TakeBuffer();
    void DropBuffer();
    void Recount();

    Loop& loop_;
    tcp::socket socket_;
    asio::steady_timer timer_;
    Clock::time_point deadline_{};
    Clock::time_point timerAt_{};
    bool timerArmed_ = false;
    State state_ = State::Reading;
    bool counted_ = false; // among the loop's replaceable connections

    std::unique_ptr<char[]> buffer_;
    std::size_t begin_ = 0, end_ = 0;
    std::optional<RequestReader> reader_;
    std::size_t headBytes_ = 0;
    bool checked_ = false;
    int served_ = 0;

    std::string head_;
    std::string body_;
    std::size_t bodyFirst_ = 0, bodyCount_ = 0;
    std::size_t written_ = 0;
    bool closeAfter_ = false;
    Clock::time_point answerStart_{};
    std::string logText_;
};

struct Shared;

// One event loop with its thread and its connections.
struct Loop {
    explicit Loop(Shared& s) : shared(s) {}
    void Adopt(tcp::socket socket, bool counted);
    void Link(Connection* c);
    void Unlink(Connection* c);
    void Stop();

    Shared& shared;
    asio::io_context io{1};
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work{asio::make_work_guard(io)};
    Connection* first = nullptr; // the connections, the one idle longest first
    Connection* last = nullptr;
    std::vector<std::unique_ptr<char[]>> spareBuffers;
    bool stopping = false;
    // Connections a new one may replace, as the accepting thread reads it.
    std::atomic<int> replaceable{0};
};

// What every loop reads: the service, the options, the log, the count of open connections.
struct Shared {
    const Service& service;
    const StaticFiles& page;
    ServerOptions options;
    LogSink log;
    std::atomic<int> open{0};
};

// --- a connection ---

Connection::Connection(Loop& loop, tcp::socket socket) : loop_(loop), socket_(std::move(socket)), timer_(loop.io) {}

void Connection::Start()
{
    loop_.Link(this);
    SetDeadline(Clock::now() + std::chrono::seconds(loop_.shared.options.keepAliveSeconds));
    Serve();
}

void Connection::Close()
{
    if (state_ == State::Closed) return;
    state_ = State::Closed;
    error_code ignored;
    socket_.close(ignored);
    timer_.cancel();
    loop_.Unlink(this);
    --loop_.shared.open;
    DropBuffer();
    Recount();
}

// Every change of state ends in a wait or in Close, where the loop's count is brought up to date.
void Connection::Recount()
{
    const bool now = replaceable();
    if (now == counted_) return;
    counted_ = now;
    loop_.replaceable.fetch_add(now ? 1 : -1, std::memory_order_relaxed);
}

void Connection::CloseWhenIdle()
{
    if (state_ == State::Lingering) return Close();
    // Bytes that came before the loop read them are a request begun.
    error_code ec;
    if (idle() && begin_ == end_ && socket_.available(ec) == 0) Close();
}

// Runs until the connection must wait for its socket; every wait comes back here.
void Connection::Serve()
{
    while (state_ != State::Closed) {
        if (state_ == State::Writing) {
            if (!WriteSome()) return;
            const long long us = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - answerStart_).count();
            loop_.shared.log(logText_ + std::to_string(us) + "us");
            head_.clear();
            body_.clear();
            if (closeAfter_ || loop_.stopping) {
                error_code ignored;
                socket_.shutdown(tcp::socket::shutdown_send, ignored);
                state_ = State::Lingering;
                SetDeadline(Clock::now() + std::min<Clock::duration>(
                                               kLingerTime, std::chrono::seconds(loop_.shared.options.requestSeconds)));
                continue;
            }
            state_ = State::Reading;
            reader_.reset();
            loop_.Unlink(this);
            loop_.Link(this); // idle from now
            SetDeadline(Clock::now() + std::chrono::seconds(loop_.shared.options.keepAliveSeconds));
            continue;
        }
        if (state_ == State::Lingering) {
            if (!Linger()) return;
            continue;
        }
        if (begin_ < end_) {
            if (!reader_) {
                reader_.emplace(loop_.shared.options);
                headBytes_ = 0;
                checked_ = false;
                SetDeadline(Clock::now() + std::chrono::seconds(loop_.shared.options.requestSeconds));
            }
            Parse();
            if (state_ != State::Reading) continue;
        }
        if (!ReadSome()) return;
    }
}

void Connection::TakeBuffer()
{
    if (buffer_) return;
    if (loop_.spareBuffers.empty()) {
        buffer_ = std::make_unique<char[]>(kBufferBytes);
    } else {
        buffer_ = std::move(loop_.spareBuffers.back());
        loop_.spareBuffers.pop_back();
    }
    begin_ = end_ = 0;
}

void Connection::DropBuffer()
{
    if (!buffer_) return;
    if (loop_.spareBuffers.size() < kSpareBuffers) loop_.spareBuffers.push_back(std::move(buffer_));
    buffer_.reset();
    begin_ = end_ = 0;
}

// Reads what the socket holds: true when bytes came, false when it waits or closed.
bool Connection::ReadSome()
{
    TakeBuffer();
    if (end_ == kBufferBytes) {
        // What is left of the request moves to the front. A head is never longer than half the
        // buffer, but a line of a chunked body could be.
        std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
        if (end_ == kBufferBytes) {
            Refuse(400, message::kTooLarge);
            return true;
        }
    }
    error_code ec;
    const std::size_t n = socket_.read_some(asio::buffer(buffer_.get() + end_, kBufferBytes - end_), ec);
    if (!ec) {
        end_ += n;
        return true;
    }
    if (ec == asio::error::would_block || ec == asio::error::try_again) {
        if (begin_ == end_) DropBuffer(); // an idle connection holds no buffer
        WaitFor(tcp::socket::wait_read);
        return false;
    }
    Close(); // the client closed, or the connection broke
    return false;
}

void Connection::WaitFor(tcp::socket::wait_type what)
{
    Recount();
    socket_.async_wait(what, [self = shared_from_this()](const error_code& ec) {
        if (!ec) self->Serve();
        else if (ec != asio::error::operation_aborted) self->Close();
    });
}

void Connection::Parse()
{
    RequestReader& r = *reader_;
    while (begin_ < end_ && !r.is_done()) {
        error_code ec;
        const std::size_t n = r.put(asio::buffer(buffer_.get() + begin_, end_ - begin_), ec);
        if (ec == http::error::need_more) {
            begin_ += n;
            if (begin_ > 0 && end_ - begin_ < begin_) {
                // What is left of the request moves to the front, so its head finds room.
                std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
                end_ -= begin_;
                begin_ = 0;
            }
            return;
        }
        if (ec) {
            // Refused. A head Beast could not read was not taken: the buffer starts with its
            // request line, where the log finds the method and target.
            if (r.batch && (r.bodyBytes > kMaxBatchBytes || ec == http::error::body_limit)) {
                Refuse(413, message::kBatchTooLarge);
            } else if (r.tooLarge || ec == http::error::header_limit || ec == http::error::body_limit) {
                Refuse(400, message::kTooLarge);
            } else {
                Refuse(400, message::kBadRequest);
            }
            return;
        }
        begin_ += n;
        if (r.is_header_done() && !checked_) {
            checked_ = true;
            headBytes_ = n;
            if (!Checked()) return;
        }
    }
    if (r.is_done()) Answer();
}

// The checks of a request's head; false when it was refused.
bool Connection::Checked()
{
    const RequestReader& r = *reader_;
    if (IsBatchTarget(r.target)) return CheckedBatch();
    const std::uint64_t announced = r.content_length() ? *r.content_length() : 0;
    if (headBytes_ + announced > kMaxRequestBytes) {
        Refuse(400, message::kTooLarge);
    } else if (const std::optional<std::string> decoded = PercentDecode(r.target); !decoded) {
        Refuse(400, message::kBadPercent);
    } else if (!IsValidUtf8(*decoded)) {
        Refuse(400, message::kBadUtf8);
    } else if (r.method != "GET" && r.method != "HEAD" && !IsPreflight()) {
        Refuse(405, message::kMethod, "GET, HEAD");
    } else {
        return true;
    }
    return false;
}

// The batch route takes POST alone (and a CORS preflight for it), with a body of at most
// kMaxBatchBytes.
bool Connection::CheckedBatch()
{
    const RequestReader& r = *reader_;
    if (IsPreflight()) return true;
    if (r.method != "POST") Refuse(405, message::kBatchMethod, "POST");
    else if (r.content_length() && *r.content_length() > kMaxBatchBytes) Refuse(413, message::kBatchTooLarge);
    else return true;
    return false;
}

// A refused request closes its connection: what follows it (its body, say) is not read.
void Connection::Refuse(int status, const char* message, const char* allow)
{
    answerStart_ = Clock::now();
    std::string method, target;
    if (reader_ && !reader_->method.empty()) {
        method = reader_->method;
        target = reader_->target;
    } else {
        const auto [m, t] = RequestLineWords(std::string_view(buffer_.get() + begin_, end_ - begin_));
        method = m;
        target = t;
    }
    Send(ErrorReply(status, message), method, target, false, allow);
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
    const Shared& shared = loop_.shared;
    const RequestReader& r = *reader_;
    const std::string_view target = r.target;
    const std::size_t question = target.find('?');
    const std::string path = Decode(target.substr(0, question), false);
    const std::string_view query = question == std::string_view::npos ? std::string_view() : target.substr(question + 1);
    const Service& s = shared.service;

    serve::Reply reply;
    if (IsPreflight()) {
        reply.status = 204;
        reply.cacheControl = kNoStore;
        const bool keepAlive = r.keep_alive() && ++served_ < shared.options.keepAliveRequests;
        return Send(std::move(reply), r.method, r.target, keepAlive);
    }
    try {
        const auto segments = [&path](std::size_t from) {
            const std::string_view rest = std::string_view(path).substr(from);
            const std::size_t slash = rest.find('/');
            return std::pair{rest.substr(0, slash), slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1)};
        };
        const bool oneSlash = path.find('/', 1) == std::string::npos;
        if (path == "/api/search") {
            reply = s.ApiSearch(ParseQuery(query));
        } else if (path == "/v1/areas") {
            reply = s.Prefectures();
        } else if (path.starts_with("/v1/areas/")) {
            const auto [prefecture, city] = segments(10);
            const bool hasCity = path.find('/', 10) != std::string::npos;
            if (prefecture.empty() || (hasCity && (city.empty() || city.find('/') != std::string_view::npos)))
                reply = ErrorReply(404, message::kNotFound);
            else if (hasCity) reply = s.Towns(prefecture, city);
            else reply = s.Cities(prefecture);
        } else if (path.starts_with("/yubinbango/")) {
            const std::string_view name = std::string_view(path).substr(12);
            const bool digits = name.size() == 6 && name.ends_with(".js") &&
                                std::all_of(name.begin(), name.begin() + 3, [](char c) { return c >= '0' && c <= '9'; });
            reply = digits ? s.YubinbangoData(name.substr(0, 3)) : ErrorReply(404, message::kNotFound);
        } else if (path.starts_with("/jpostal/")) {
            reply = JpostalRoute(s, std::string_view(path).substr(9));
        } else if (r.batch) { // POST to the path as written (Checked refused any other method)
            reply = s.FindBatch(r.body);
        } else if (path == "/v1/find") {
            reply = s.Find(ParseQuery(query));
        } else if (path == "/v1/suggest") {
            reply = s.Suggest(ParseQuery(query));
        } else if (path == "/healthz") {
            reply = s.Health();
        } else if (oneSlash) {
            const serve::Reply* file = shared.page.Find(path);
            reply = file ? *file : ErrorReply(404, message::kNotFound);
        } else {
            reply = ErrorReply(404, message::kNotFound);
        }
    } catch (const std::exception& e) {
        // A damaged directory file: the message goes to the log, not to the client.
        shared.log("ubin-serve: " + LogSafe(r.target) + ": " + e.what());
        reply = ErrorReply(500, message::kInternal);
    }
    const bool keepAlive = r.keep_alive() && ++served_ < shared.options.keepAliveRequests;
    Send(std::move(reply), r.method, r.target, keepAlive);
}

// Queues the reply to be written: its head, and its body unless the request was HEAD.
void Connection::Send(serve::Reply reply, std::string_view method, const std::string& target, bool keepAlive,
                      const char* allow)
{
    const Shared& shared = loop_.shared;
    closeAfter_ = !keepAlive || loop_.stopping;
    int status = reply.status;
    bodyFirst_ = 0;
    bodyCount_ = reply.body.size();
    std::string contentRange;
    if (status == 200 && method == "GET" && reader_ && !reader_->range.empty() && !reader_->ifRange) {
        // One range of the reply, or the whole of it: never a reply made of several ranges.
        if (const std::optional<ByteRange> range = SingleByteRange(reader_->range, reply.body.size())) {
            status = 206;
            bodyFirst_ = range->first;
            bodyCount_ = range->count;
            contentRange = "bytes " + std::to_string(range->first) + '-' + std::to_string(range->first + range->count - 1) +
                           '/' + std::to_string(reply.body.size());
        }
    }

    head_.clear();
    head_ += "HTTP/1.1 ";
    head_ += std::to_string(status);
    head_ += ' ';
    head_ += StatusText(status);
    if (status != 204) { // a reply without content has no length either
        head_ += "\r\nContent-Type: ";
        head_ += reply.contentType;
        head_ += "\r\nContent-Length: ";
        head_ += std::to_string(bodyCount_);
    }
    if (!contentRange.empty()) head_ += "\r\nContent-Range: " + contentRange;
    head_ += "\r\nCache-Control: ";
    head_ += reply.cacheControl.empty() ? std::string(kNoStore) : reply.cacheControl;
    head_ += "\r\nX-Content-Type-Options: nosniff";
    for (const auto& [name, value] : shared.service.ReplyHeaders()) head_.append("\r\n").append(name).append(": ").append(value);
    if (allow) head_ += std::string("\r\nAllow: ") + allow;
    head_ += CorsHeaders(shared.options.allowOrigins, reader_ ? reader_->origin : std::string());
    if (status == 204 && reader_) head_ += PreflightHeaders(reader_->accessHeaders);
    if (closeAfter_) {
        head_ += "\r\nConnection: close";
    } else {
        head_ += "\r\nKeep-Alive: timeout=" + std::to_string(shared.options.keepAliveSeconds);
        if (reader_ && reader_->version == 10) head_ += "\r\nConnection: keep-alive";
    }
    head_ += "\r\n\r\n";
    if (method == "HEAD") bodyCount_ = 0;
    body_ = std::move(reply.body);
    written_ = 0;

    const std::string_view path = std::string_view(target).substr(0, target.find('?'));
    logText_ = LogSafe(method) + ' ' + LogSafe(path) + ' ' + std::to_string(status) + ' ';
    state_ = State::Writing;
    SetDeadline(Clock::now() + std::chrono::seconds(shared.options.requestSeconds));
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
        if (ec == asio::error::would_block || ec == asio::error::try_again) {
            WaitFor(tcp::socket::wait_write);
            return false;
        }
        Close();
        return false;
    }
}

// After the last reply: reads and drops what still comes until the client closes. False when
// it waits or closed.
bool Connection::Linger()
{
    TakeBuffer();
    for (;;) {
        error_code ec;
        socket_.read_some(asio::buffer(buffer_.get(), kBufferBytes), ec);
        if (!ec) continue;
        if (ec == asio::error::would_block || ec == asio::error::try_again) {
            WaitFor(tcp::socket::wait_read);
            return false;
        }
        Close();
        return false;
    }
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

// --- a loop ---

// `counted`: the accepting thread counted it among the open connections; else the server was
// full when it came, and unless a connection has closed since, it takes the place of the one
// idle longest here, if any.
void Loop::Adopt(tcp::socket socket, bool counted)
{
    if (!counted) {
        if (shared.open.load() >= shared.options.maxConnections) {
            Connection* oldest = first;
            while (oldest && !oldest->replaceable()) oldest = oldest->next;
            if (stopping || !oldest) return; // the socket closes as it goes
            oldest->Close();
        }
        ++shared.open;
    }
    error_code ec;
    socket.non_blocking(true, ec);
    if (!ec) socket.set_option(tcp::no_delay(true), ec);
    if (stopping || ec) {
        --shared.open;
        return;
    }
    std::make_shared<Connection>(*this, std::move(socket))->Start();
}

void Loop::Link(Connection* c)
{
    c->prev = last;
    c->next = nullptr;
    (last ? last->next : first) = c;
    last = c;
}

void Loop::Unlink(Connection* c)
{
    (c->prev ? c->prev->next : first) = c->next;
    (c->next ? c->next->prev : last) = c->prev;
    c->prev = c->next = nullptr;
}

void Loop::Stop()
{
    stopping = true;
    for (Connection* c = first; c;) {
        Connection* next = c->next;
        c->CloseWhenIdle();
        c = next;
    }
    work.reset(); // Run ends when the last connection has closed
}

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

    static std::vector<std::unique_ptr<Loop>> MakeLoops(Shared& shared)
    {
        int n = shared.options.threads;
        if (n <= 0) n = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
        std::vector<std::unique_ptr<Loop>> loops;
        for (int i = 0; i < n; ++i) loops.push_back(std::make_unique<Loop>(shared));
        return loops;
    }

    // New connections go to the loops in turn; when the server is full, to the loop with the
    // most connections a new one may replace. Each is placed as it comes, so the count of open
    // connections is the accepting thread's own.
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
            Loop* loop = loops[nextLoop++ % loops.size()].get();
            if (full) {
                for (const auto& l : loops)
                    if (l->replaceable.load(std::memory_order_relaxed) > loop->replaceable.load(std::memory_order_relaxed))
                        loop = l.get();
            }
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
        throw std::runtime_error("the socket handed over (descriptor " + std::to_string(fd) + ") is not a socket");
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
        throw std::runtime_error("cannot listen on " + o.host + ":" + std::to_string(o.port) + ": " + e.code().message());
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


std::optional<ByteRange> SingleByteRange(std::string_view header, std::size_t size)
{
    const auto trim = [](std::string_view t) {
        while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
        while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
        return t;
    };
    // A number of at most 18 digits; none for anything else.
    const auto number = [](std::string_view t) -> std::optional<std::size_t> {
        if (t.empty() || t.size() > 18 || t.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
        std::size_t n = 0;
        for (const char c : t) n = n * 10 + static_cast<std::size_t>(c - '0');
        return n;
    };
    header = trim(header);
    if (!header.starts_with("bytes=")) return std::nullopt;
    const std::string_view wanted = trim(header.substr(6));
    const std::size_t dash = wanted.find('-');
    if (wanted.find(',') != std::string_view::npos || dash == std::string_view::npos || size == 0) return std::nullopt;
    const std::string_view from = trim(wanted.substr(0, dash)), to = trim(wanted.substr(dash + 1));
    if (from.empty()) { // the last N bytes
        const std::optional<std::size_t> n = number(to);
        if (!n || *n == 0) return std::nullopt;
        const std::size_t count = std::min(*n, size);
        return ByteRange{size - count, count};
    }
    const std::optional<std::size_t> first = number(from);
    if (!first || *first >= size) return std::nullopt;
    std::size_t lastByte = size - 1;
    if (!to.empty()) {
        const std::optional<std::size_t> l = number(to);
        if (!l || *l < *first) return std::nullopt;
        lastByte = std::min(*l, size - 1);
    }
    return ByteRange{*first, lastByte - *first + 1};
}

} // namespace ubin::serve
