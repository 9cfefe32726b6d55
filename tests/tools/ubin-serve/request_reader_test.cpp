// Reading a request without a socket: the target taken apart, the query decoded, the route a
// path goes to, and the checks of a head as Beast's parser hands it over (framing, Host, method).
#include "tools/ubin-serve/request_reader.h"
#include "tools/ubin-serve/routes.h"

#include <boost/asio/buffer.hpp>
#include <boost/beast/http/error.hpp>
#include <gtest/gtest.h>

#include <memory>

namespace ubin::serve {
namespace {

TEST(ReadTarget, TakesTheOriginAndTheAbsoluteFormAlike)
{
    const struct {
        std::string target;
        TargetFault fault;
        std::string sentPath, path, query;
    } cases[] = {
        {"/api/search?zipcode=7300014", TargetFault::None, "/api/search", "/api/search", "zipcode=7300014"},
        {"/v1/areas/%E5%BA%83%E5%B3%B6%E7%9C%8C", TargetFault::None, "/v1/areas/%E5%BA%83%E5%B3%B6%E7%9C%8C", "/v1/areas/広島県", ""},
        {"/a+b", TargetFault::None, "/a+b", "/a+b", ""}, // a path's plus stays
        {"http://zip.example.jp/healthz", TargetFault::None, "/healthz", "/healthz", ""},
        {"HTTPS://zip.example.jp:8443/v1/find?q=x", TargetFault::None, "/v1/find", "/v1/find", "q=x"},
        {"http://zip.example.jp", TargetFault::None, "/", "/", ""},
        {"http://zip.example.jp?q=1", TargetFault::None, "/", "/", "q=1"},
        {"ftp://zip.example.jp/healthz", TargetFault::Form, "", "", ""},
        {"http:///healthz", TargetFault::Form, "", "", ""},
        {"healthz", TargetFault::Form, "", "", ""},
        {"*", TargetFault::Form, "", "", ""},
        {"/v1/areas/%", TargetFault::Percent, "/v1/areas/%", "", ""},
        {"/v1/areas/%E5%BA", TargetFault::Utf8, "/v1/areas/%E5%BA", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        Target t;
        EXPECT_EQ(ReadTarget(c.target, t), c.fault);
        if (c.fault == TargetFault::Form) continue;
        EXPECT_EQ(t.sentPath, c.sentPath);
        if (c.fault != TargetFault::None) continue;
        EXPECT_EQ(t.path, c.path);
        EXPECT_EQ(t.query, c.query);
    }
}

TEST(ReadQuery, DecodesEachNameAndValueOnceAndChecksThemAll)
{
    Params params;
    ASSERT_EQ(ReadQuery("q=%E9%8A%80+%E5%BA%A7&limit=5&q=second&flag&=lost&a%26b=c%3Dd", params), TargetFault::None);
    EXPECT_EQ(params, (Params{{"q", "銀 座"}, {"q", "second"}, {"limit", "5"}, {"flag", ""}, {"a&b", "c=d"}}));
    EXPECT_EQ(params.find("q")->second, "銀 座"); // the first value counts

    // A parameter left out for want of a name is still checked.
    for (const auto& [query, fault] : std::vector<std::pair<std::string, TargetFault>>{
             {"=%ZZ", TargetFault::Percent}, {"a=%FF", TargetFault::Utf8}, {"%C0%AF=1", TargetFault::Utf8}, {"x=1&y=%4", TargetFault::Percent}}) {
        SCOPED_TRACE(query);
        Params p;
        EXPECT_EQ(ReadQuery(query, p), fault);
    }
}

TEST(FindRoute, NamesEachPathOnceAndLeavesTheRestToThePage)
{
    const struct {
        std::string path;
        std::string route;
        std::string rest;
    } cases[] = {
        {"/api/search", "/api/search", ""},
        {"/v1/areas", "/v1/areas", ""},
        {"/v1/areas/34/34101", "/v1/areas/", "34/34101"},
        {"/v1/areas/", "/v1/areas/", ""},
        {"/yubinbango/730.js", "/yubinbango/", "730.js"},
        {"/jpostal/730.json", "/jpostal/", "730.json"},
        {"/v1/find", "/v1/find", ""},
        {"/v1/find/batch", "/v1/find/batch", ""},
        {"/healthz", "/healthz", ""},
        {"/", "/", ""},
        {"/docs", "/", "docs"},
        {"/api/search/", "/", "api/search/"},
        {"/v1/finds", "/", "v1/finds"},
        {"/v1/find/batch/x", "/", "v1/find/batch/x"},
        {"", "/", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const Route& route = FindRoute(c.path);
        EXPECT_EQ(route.path, c.route);
        EXPECT_EQ(RestOf(route, c.path), c.rest);
        EXPECT_NE(route.answer == nullptr, route.work == nullptr); // answered one way
    }
    EXPECT_EQ(FindRoute("/v1/find/batch").methods, Methods::Post);
    EXPECT_STREQ(AllowedMethods(FindRoute("/v1/find/batch")), "POST");
    EXPECT_STREQ(AllowedMethods(FindRoute("/healthz")), "GET, HEAD");
}

// A request's bytes given to a reader as a connection gives them: what the head says, and what
// CheckHead makes of it.
struct HeadRead {
    std::unique_ptr<RequestReader> reader;
    boost::system::error_code ec;
    std::size_t headBytes = 0;
};

const ServerOptions& Options()
{
    static const ServerOptions options;
    return options;
}

HeadRead ReadHead(const std::string& bytes)
{
    HeadRead read;
    read.reader = std::make_unique<RequestReader>(Options());
    read.headBytes = read.reader->put(boost::asio::buffer(bytes), read.ec);
    return read;
}

TEST(CheckHead, RefusesFramingAndHostsThatHttpForbids)
{
    const struct {
        std::string name, head;
        int status;
        bool closes = false; // after a reply that is not a refusal
    } cases[] = {
        {"plain", "GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n", 0},
        {"no Host in HTTP/1.1", "GET /healthz HTTP/1.1\r\n\r\n", 400},
        {"two Hosts", "GET /healthz HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n", 400},
        {"two Hosts in HTTP/1.0", "GET /healthz HTTP/1.0\r\nHost: a\r\nHost: a\r\n\r\n", 400},
        {"HTTP/1.0 needs none", "GET /healthz HTTP/1.0\r\n\r\n", 0, true},
        {"identity coding", "POST /v1/find/batch HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: identity\r\n\r\n", 400},
        {"chunked, then identity", "POST /v1/find/batch HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked, identity\r\n\r\n", 400},
        {"gzip alone", "POST /v1/find/batch HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: gzip\r\nContent-Length: 3\r\n\r\n", 400},
        {"gzip, then chunked", "POST /v1/find/batch HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: gzip, chunked\r\n\r\n", 501},
        {"gzip and chunked on two lines", "POST /v1/find/batch HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n\r\n", 501},
        {"chunked", "POST /v1/find/batch HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: Chunked\r\n\r\n", 0},
        {"chunked in HTTP/1.0", "POST /v1/find/batch HTTP/1.0\r\nTransfer-Encoding: chunked\r\nConnection: keep-alive\r\n\r\n", 0, true},
        {"absolute form", "GET http://zip.example.jp/healthz HTTP/1.1\r\nHost: zip.example.jp\r\n\r\n", 0},
        {"neither form", "GET healthz HTTP/1.1\r\nHost: x\r\n\r\n", 400},
        {"a method the path does not take", "POST /healthz HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n", 405},
        {"GET on the batch route", "GET /v1/find/batch HTTP/1.1\r\nHost: x\r\n\r\n", 405},
        {"a head and body past 8 KB", "GET /healthz HTTP/1.1\r\nHost: x\r\nContent-Length: 8150\r\n\r\n", 400},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const HeadRead read = ReadHead(c.head);
        ASSERT_FALSE(read.ec) << read.ec.message();
        ASSERT_TRUE(read.reader->is_header_done());
        const Refusal refused = CheckHead(*read.reader, read.headBytes, false);
        EXPECT_EQ(refused.status, c.status) << (refused.message ? refused.message : "");
        if (!refused) {
            EXPECT_EQ(ClosesAfter(*read.reader), c.closes);
        }
    }
    // A body announced past its route's limit is refused by the parser itself.
    for (const std::string head : {"POST /v1/find/batch HTTP/1.1\r\nHost: x\r\nContent-Length: 1048577\r\n\r\n",
                                   "GET /healthz HTTP/1.1\r\nHost: x\r\nContent-Length: 8193\r\n\r\n"}) {
        const HeadRead read = ReadHead(head);
        EXPECT_EQ(read.ec, boost::beast::http::error::body_limit) << head;
    }
    EXPECT_FALSE(ReadHead("POST /v1/find/batch HTTP/1.1\r\nHost: x\r\nContent-Length: 1048576\r\n\r\n").ec);
}

TEST(CheckHead, NamesTheMethodsOfThePathIn405)
{
    const HeadRead batch = ReadHead("PUT /v1/find/batch HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n");
    const Refusal r = CheckHead(*batch.reader, batch.headBytes, false);
    EXPECT_EQ(r.status, 405);
    EXPECT_STREQ(r.allow, "POST");
    EXPECT_STREQ(r.message, message::kBatchMethod);
    // A CORS preflight is answered on any path.
    const HeadRead preflight = ReadHead("OPTIONS /v1/find/batch HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_FALSE(CheckHead(*preflight.reader, preflight.headBytes, true));
}

TEST(RequestReader, KeepsTheBodyOfTheBatchRouteAloneAndTellsAnExpectedContinue)
{
    HeadRead post = ReadHead("POST /v1/find/batch HTTP/1.1\r\nHost: x\r\nExpect: 100-Continue\r\nContent-Length: 6\r\n\r\n");
    ASSERT_FALSE(post.ec);
    EXPECT_TRUE(post.reader->expectContinue);
    EXPECT_TRUE(post.reader->KeepsBody());
    const std::string body = "a\r\nb\r\n";
    post.reader->put(boost::asio::buffer(body), post.ec);
    EXPECT_TRUE(post.reader->is_done());
    EXPECT_EQ(post.reader->body, body);

    // The same path decoded from escapes is the same route; another path's body is counted only.
    HeadRead escaped = ReadHead("POST /v1/find/%62atch HTTP/1.1\r\nHost: x\r\nContent-Length: 1\r\n\r\n");
    EXPECT_TRUE(escaped.reader->KeepsBody());
    HeadRead other = ReadHead("GET /healthz HTTP/1.1\r\nHost: x\r\nExpect: something-else\r\nContent-Length: 3\r\n\r\n");
    EXPECT_FALSE(other.reader->expectContinue);
    other.reader->put(boost::asio::buffer(std::string("abc")), other.ec);
    EXPECT_EQ(other.reader->bodyBytes, 3u);
    EXPECT_TRUE(other.reader->body.empty());
}

} // namespace
} // namespace ubin::serve
