#pragma once
// Reading a request: what its head says that the replies depend on, taken from Boost.Beast's
// parser as the connection feeds it; its target taken apart and decoded once; and the checks a
// head passes before the request is answered (its framing, Host, target and method).
#include "tools/ubin-serve/server.h"
#include "tools/ubin-serve/service.h"

#include <boost/beast/http/basic_parser.hpp>

#include <cstdint>
#include <string>
#include <string_view>

namespace ubin::serve {

struct Route;

// What is wrong with a target, if anything.
enum class TargetFault {
    None,
    Form,    // neither a path ("/...") nor an absolute URL ("http://host/...")
    Percent, // a '%' without two hexadecimal digits
    Utf8,    // the decoded text is not UTF-8
};

// A request's target in origin form ("/path?query"), or in absolute form
// ("http://host/path?query"), which names the same path.
struct Target {
    std::string sentPath; // the path as sent, for the log
    std::string path;     // decoded
    std::string query;    // as sent, after the '?'
};
TargetFault ReadTarget(std::string_view target, Target& out);

// A query's name=value pairs split at '&', each decoded with '+' as a blank. A pair without a
// name is checked and left out; a parameter given twice keeps both (Params).
TargetFault ReadQuery(std::string_view query, Params& out);

// Why a request is refused: a status, its message, and for 405 the methods the path takes.
struct Refusal {
    int status = 0; // 0: not refused
    const char* message = nullptr;
    const char* allow = nullptr;
    explicit operator bool() const { return status != 0; }
};

class RequestReader final : public boost::beast::http::basic_parser<true> {
public:
    explicit RequestReader(const ServerOptions& options);

    std::string method, target; // as sent
    int version = 11;
    Target parts;
    Params params; // the query's, decoded
    TargetFault targetFault = TargetFault::None;
    // The route of the path; none for a file of the page. A route that takes a body keeps it.
    const Route* route = nullptr;
    std::string origin, range;
    // The header names a CORS preflight asks to send (Access-Control-Request-Headers).
    std::string accessHeaders;
    bool ifRange = false;
    int hosts = 0;               // Host header lines
    std::string transferCodings; // every Transfer-Encoding line's codings, in order
    bool expectContinue = false; // Expect: 100-continue
    // Set when the request broke one of the size limits, rather than HTTP's grammar.
    bool tooLarge = false;
    std::uint64_t bodyBytes = 0;
    std::string body;

    bool KeepsBody() const;

private:
    void on_request_impl(boost::beast::http::verb, boost::beast::string_view m, boost::beast::string_view t, int v,
                         boost::system::error_code& ec) override;
    void on_response_impl(int, boost::beast::string_view, int, boost::system::error_code&) override {}
    void on_field_impl(boost::beast::http::field name, boost::beast::string_view, boost::beast::string_view value,
                       boost::system::error_code& ec) override;
    void on_header_impl(boost::system::error_code&) override {}
    void on_body_init_impl(const boost::optional<std::uint64_t>&, boost::system::error_code&) override {}
    std::size_t on_body_impl(boost::beast::string_view part, boost::system::error_code& ec) override
    {
        return Count(part, ec);
    }
    void on_chunk_header_impl(std::uint64_t, boost::beast::string_view, boost::system::error_code&) override {}
    std::size_t on_chunk_body_impl(std::uint64_t, boost::beast::string_view part, boost::system::error_code& ec) override
    {
        return Count(part, ec);
    }
    void on_finish_impl(boost::system::error_code&) override {}

    std::size_t Count(boost::beast::string_view part, boost::system::error_code& ec);
    void Refuse(boost::system::error_code& ec);

    const ServerOptions& options_;
    std::size_t fields_ = 0;
};

// The checks of a request's head once it is read whole: `headBytes` long, and a CORS preflight
// when `preflight`. Its framing (Transfer-Encoding, a body within the limits), its Host, its
// target, its method.
Refusal CheckHead(const RequestReader& r, std::size_t headBytes, bool preflight);

// Whether the connection must close after the reply: the client asked for it, or an HTTP/1.0
// request came with a Transfer-Encoding (its framing cannot be trusted past it).
bool ClosesAfter(const RequestReader& r);

// The first two words of a request line Beast refused, for the log.
std::pair<std::string_view, std::string_view> RequestLineWords(std::string_view bytes);

} // namespace ubin::serve
