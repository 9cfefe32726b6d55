#include "tools/ubin-serve/request_reader.h"

#include "tools/ubin-serve/request_text.h"
#include "tools/ubin-serve/routes.h"

#include <boost/beast/core/string.hpp>
#include <boost/beast/http/error.hpp>

#include <algorithm>

namespace ubin::serve {

namespace {

namespace http = boost::beast::http;
using boost::system::error_code;

std::string_view Trim(std::string_view t)
{
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
    return t;
}

bool SameLetters(std::string_view a, std::string_view b)
{
    return boost::beast::iequals(boost::beast::string_view(a.data(), a.size()), boost::beast::string_view(b.data(), b.size()));
}

// A text decoded, and checked to be UTF-8.
TargetFault Decoded(std::string_view text, bool plusIsSpace, std::string& out)
{
    std::optional<std::string> decoded = PercentDecode(text, plusIsSpace);
    if (!decoded) return TargetFault::Percent;
    if (!IsValidUtf8(*decoded)) return TargetFault::Utf8;
    out = std::move(*decoded);
    return TargetFault::None;
}

// Each coding of a Transfer-Encoding list is chunked, the last one at least: the body ends
// where its chunks say. A coding the server does not decode (gzip) is another fault.
Refusal CheckTransferCodings(std::string_view codings)
{
    bool last = false, other = false;
    while (!codings.empty()) {
        const std::size_t comma = codings.find(',');
        const std::string_view coding = Trim(codings.substr(0, comma));
        codings = comma == std::string_view::npos ? std::string_view() : codings.substr(comma + 1);
        if (coding.empty()) continue;
        last = SameLetters(coding.substr(0, coding.find(';')), "chunked");
        other = other || !last;
    }
    if (!last) return {400, message::kBadRequest};
    if (other) return {501, message::kTransferCoding};
    return {};
}

} // namespace

TargetFault ReadTarget(std::string_view target, Target& out)
{
    std::string_view rest = target;
    if (!rest.starts_with('/')) {
        // The absolute form names a server and the path on it: the path is what is served.
        const std::size_t colon = rest.find("://");
        if (colon == std::string_view::npos) return TargetFault::Form;
        const std::string_view scheme = rest.substr(0, colon);
        if (!SameLetters(scheme, "http") && !SameLetters(scheme, "https")) return TargetFault::Form;
        rest.remove_prefix(colon + 3);
        const std::size_t pathAt = rest.find_first_of("/?#");
        if (pathAt == 0) return TargetFault::Form; // no host
        rest = pathAt == std::string_view::npos ? std::string_view() : rest.substr(pathAt);
    }
    const std::size_t question = rest.find('?');
    out.sentPath = rest.substr(0, question);
    if (out.sentPath.empty()) out.sentPath = "/";
    out.query = question == std::string_view::npos ? std::string_view() : rest.substr(question + 1);
    return Decoded(out.sentPath, false, out.path);
}

TargetFault ReadQuery(std::string_view query, Params& out)
{
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        const std::size_t eq = pair.find('=');
        std::string name, value;
        if (const TargetFault f = Decoded(pair.substr(0, eq), true, name); f != TargetFault::None) return f;
        if (eq != std::string_view::npos)
            if (const TargetFault f = Decoded(pair.substr(eq + 1), true, value); f != TargetFault::None) return f;
        if (!name.empty()) out.emplace(std::move(name), std::move(value));
    }
    return TargetFault::None;
}

RequestReader::RequestReader(const ServerOptions& o) : options_(o)
{
    header_limit(static_cast<std::uint32_t>(std::min(o.maxHeaderBytes, kMaxRequestBytes)));
    body_limit(kMaxRequestBytes);
}

bool RequestReader::KeepsBody() const { return route && route->methods == Methods::Post && method == "POST"; }

void RequestReader::on_request_impl(http::verb, boost::beast::string_view m, boost::beast::string_view t, int v,
                                    error_code& ec)
{
    version = v;
    method.assign(m.data(), m.size());
    target.assign(t.data(), t.size());
    if (target.size() > options_.maxUrlBytes) return Refuse(ec);
    targetFault = ReadTarget(target, parts);
    if (targetFault == TargetFault::None) targetFault = ReadQuery(parts.query, params);
    route = &FindRoute(targetFault == TargetFault::None ? std::string_view(parts.path) : std::string_view());
    if (KeepsBody()) body_limit(kMaxBatchBytes);
}

void RequestReader::on_field_impl(http::field name, boost::beast::string_view, boost::beast::string_view value,
                                  error_code& ec)
{
    if (++fields_ > options_.maxHeaders) return Refuse(ec);
    const std::string_view text(value.data(), value.size());
    switch (name) {
    case http::field::host: ++hosts; break;
    case http::field::origin: origin = text; break;
    case http::field::range:
        // Two Range headers name several ranges, as a list in one does.
        if (!range.empty()) range += ',';
        range += text;
        break;
    case http::field::if_range: ifRange = true; break;
    case http::field::access_control_request_headers: accessHeaders = text; break;
    case http::field::transfer_encoding:
        if (!transferCodings.empty()) transferCodings += ',';
        transferCodings += text;
        break;
    case http::field::expect: expectContinue = SameLetters(Trim(text), "100-continue"); break;
    default: break;
    }
}

std::size_t RequestReader::Count(boost::beast::string_view part, error_code& ec)
{
    bodyBytes += part.size();
    if (bodyBytes > (KeepsBody() ? kMaxBatchBytes : kMaxRequestBytes)) Refuse(ec);
    else if (KeepsBody()) body.append(part.data(), part.size());
    return part.size();
}

void RequestReader::Refuse(error_code& ec)
{
    tooLarge = true;
    ec = http::error::header_limit;
}

Refusal CheckHead(const RequestReader& r, std::size_t headBytes, bool preflight)
{
    if (r.targetFault == TargetFault::Form) return {400, message::kBadRequest};
    // The server a request is for: every HTTP/1.1 request names it, and once.
    if (r.hosts > 1 || (r.hosts == 0 && r.version >= 11)) return {400, message::kBadRequest};
    if (!r.transferCodings.empty())
        if (const Refusal refused = CheckTransferCodings(r.transferCodings)) return refused;
    if (r.targetFault == TargetFault::Percent) return {400, message::kBadPercent};
    if (r.targetFault == TargetFault::Utf8) return {400, message::kBadUtf8};
    if (preflight) return {};
    const Route& route = *r.route;
    const std::uint64_t announced = r.content_length() ? *r.content_length() : 0;
    if (route.methods == Methods::Post) {
        if (r.method != "POST") return {405, MethodMessage(route), AllowedMethods(route)};
        if (announced > kMaxBatchBytes) return {413, message::kBatchTooLarge};
        return {};
    }
    if (headBytes + announced > kMaxRequestBytes) return {400, message::kTooLarge};
    if (r.method != "GET" && r.method != "HEAD") return {405, MethodMessage(route), AllowedMethods(route)};
    return {};
}

bool ClosesAfter(const RequestReader& r) { return !r.keep_alive() || (r.version < 11 && !r.transferCodings.empty()); }

std::pair<std::string_view, std::string_view> RequestLineWords(std::string_view bytes)
{
    const std::string_view line = bytes.substr(0, bytes.find_first_of("\r\n"));
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos) return {line, {}};
    const std::string_view rest = line.substr(space + 1);
    return {line.substr(0, space), rest.substr(0, rest.find(' '))};
}

} // namespace ubin::serve
