#include "tools/ubin-serve/reply.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace ubin::serve {

namespace {

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
std::string CorsHeaders(const std::vector<std::string>& origins, std::string_view origin)
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
std::string PreflightHeaders(std::string_view askedHeaders)
{
    std::string lines = "\r\nAccess-Control-Allow-Methods: ";
    lines += kCorsMethods;
    if (!askedHeaders.empty() && HeaderNameList(askedHeaders))
        lines.append("\r\nAccess-Control-Allow-Headers: ").append(askedHeaders);
    lines += "\r\nAccess-Control-Max-Age: ";
    lines += kPreflightMaxAge;
    return lines;
}

std::string_view Trim(std::string_view t)
{
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
    return t;
}

// A number of at most 18 digits; none for anything else.
std::optional<std::size_t> Number(std::string_view t)
{
    if (t.empty() || t.size() > 18 || t.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
    std::size_t n = 0;
    for (const char c : t) n = n * 10 + static_cast<std::size_t>(c - '0');
    return n;
}

} // namespace

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
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    default: return "Unknown";
    }
}

std::optional<ByteRange> SingleByteRange(std::string_view header, std::size_t size)
{
    header = Trim(header);
    if (!header.starts_with("bytes=")) return std::nullopt;
    const std::string_view wanted = Trim(header.substr(6));
    const std::size_t dash = wanted.find('-');
    if (wanted.find(',') != std::string_view::npos || dash == std::string_view::npos || size == 0) return std::nullopt;
    const std::string_view from = Trim(wanted.substr(0, dash)), to = Trim(wanted.substr(dash + 1));
    if (from.empty()) { // the last N bytes
        const std::optional<std::size_t> n = Number(to);
        if (!n || *n == 0) return std::nullopt;
        const std::size_t count = std::min(*n, size);
        return ByteRange{size - count, count};
    }
    const std::optional<std::size_t> first = Number(from);
    if (!first || *first >= size) return std::nullopt;
    std::size_t lastByte = size - 1;
    if (!to.empty()) {
        const std::optional<std::size_t> l = Number(to);
        if (!l || *l < *first) return std::nullopt;
        lastByte = std::min(*l, size - 1);
    }
    return ByteRange{*first, lastByte - *first + 1};
}

ReplyHead MakeReplyHead(const Reply& reply, const HeadOptions& o)
{
    ReplyHead head;
    head.status = reply.status;
    head.bodyCount = reply.body.size();
    std::string contentRange;
    if (head.status == 200 && o.method == "GET" && !o.range.empty() && !o.ifRange) {
        // One range of the reply, or the whole of it: never a reply made of several ranges.
        if (const std::optional<ByteRange> range = SingleByteRange(o.range, reply.body.size())) {
            head.status = 206;
            head.bodyFirst = range->first;
            head.bodyCount = range->count;
            contentRange = "bytes " + std::to_string(range->first) + '-' + std::to_string(range->first + range->count - 1) +
                           '/' + std::to_string(reply.body.size());
        }
    }
    std::string& t = head.text;
    t = "HTTP/1.1 " + std::to_string(head.status) + ' ' + StatusText(head.status);
    if (head.status != 204) { // a reply without content has no length either
        t.append("\r\nContent-Type: ").append(reply.contentType);
        t.append("\r\nContent-Length: ").append(std::to_string(head.bodyCount));
    }
    if (!contentRange.empty()) t += "\r\nContent-Range: " + contentRange;
    t.append("\r\nCache-Control: ").append(reply.cacheControl.empty() ? std::string(kNoStore) : reply.cacheControl);
    t += "\r\nX-Content-Type-Options: nosniff";
    if (!reply.edition.empty()) t.append("\r\nX-Ubin-Edition: ").append(reply.edition);
    if (o.allow) t.append("\r\nAllow: ").append(o.allow);
    if (o.allowOrigins) t += CorsHeaders(*o.allowOrigins, o.origin);
    if (o.preflight) t += PreflightHeaders(o.askedHeaders);
    if (o.close) {
        t += "\r\nConnection: close";
    } else {
        t += "\r\nKeep-Alive: timeout=" + std::to_string(o.keepAliveSeconds);
        if (o.http10) t += "\r\nConnection: keep-alive";
    }
    t += "\r\n\r\n";
    if (o.method == "HEAD") head.bodyCount = 0;
    return head;
}

} // namespace ubin::serve
