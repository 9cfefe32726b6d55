#pragma once
// What goes out before a reply's body: the status line and the headers every reply carries (its
// length, type and lifetime, nosniff, the edition, CORS, keep-alive), and the one range of bytes
// a Range header may take of it.
#include "tools/ubin-serve/service.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ubin::serve {

// The bytes a Range header asks of a reply of `size` bytes: {first, count}, when it names one
// range of bytes inside the reply. None for several ranges, another unit, a malformed or an
// unsatisfiable one: the whole reply answers those, so a reply never grows with its ranges.
struct ByteRange {
    std::size_t first = 0;
    std::size_t count = 0;
    bool operator==(const ByteRange&) const = default;
};
std::optional<ByteRange> SingleByteRange(std::string_view header, std::size_t size);

// The reason phrase of a status.
const char* StatusText(int status);

// What the head of a reply says beyond the reply itself.
struct HeadOptions {
    // The request's method and the Range it sent (empty: none), and whether it sent If-Range:
    // only a GET answered 200 without If-Range gets a range of the body.
    std::string_view method;
    std::string_view range;
    bool ifRange = false;
    const char* allow = nullptr; // the Allow header of a 405
    // --allow-origin's origins, the request's Origin, and for a preflight the header names it
    // asked to send.
    const std::vector<std::string>* allowOrigins = nullptr;
    std::string_view origin;
    bool preflight = false;
    std::string_view askedHeaders;
    // Whether the connection closes after the reply; else how long it is kept open, and whether
    // the request was HTTP/1.0 (which keeps it open only when told).
    bool close = false;
    int keepAliveSeconds = 5;
    bool http10 = false;
};

// A reply's head and the part of its body to send after it.
struct ReplyHead {
    int status = 200; // 206 when a range of the body is sent
    std::string text; // up to and with the blank line
    std::size_t bodyFirst = 0;
    std::size_t bodyCount = 0; // 0 for HEAD
};
ReplyHead MakeReplyHead(const Reply& reply, const HeadOptions& options);

// "HTTP/1.1 100 Continue": the client may send the body it announced.
inline constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";

} // namespace ubin::serve
