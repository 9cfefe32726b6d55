// What one client can do to the others, over real sockets: request framing HTTP forbids, a long
// batch or a pipeline of lookups beside other clients' requests, a client that leaves while its
// reply is made, and request bodies that would take the server's memory.
#include "tests/tools/ubin-serve/serve_process.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <csignal>
#include <memory>
#include <thread>

namespace ubin::test {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

std::string BatchHead(std::size_t length, const std::string& extra = "")
{
    return "POST /v1/find/batch HTTP/1.1\r\nHost: x\r\n" + extra + "Content-Length: " + std::to_string(length) + "\r\n\r\n";
}

// Lines of a broad query whose lookups take long: a batch of them keeps a worker busy.
std::string BroadLines(int n)
{
    std::string body;
    for (int i = 0; i < n; ++i) body += "n\n";
    return body;
}

// The lines logged for requests, from `from` on, in the order they were written.
std::vector<std::string> RequestLines(ServeProcess& server, std::size_t from)
{
    std::vector<std::string> lines = server.Lines();
    lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(std::min(from, lines.size())));
    return lines;
}

TEST(Framing, ShapesHttpForbidsAreRefusedAndTheConnectionCloses)
{
    ServeProcess server(SampleArgs());
    ASSERT_NE(server.port(), 0);
    const std::string smuggled = GetRequest("/healthz");
    const struct {
        std::string name, request;
        int status;
        bool closes;
    } cases[] = {
        // The body of a coding that is not chunked would run as the next request.
        {"identity", "POST /v1/find/batch HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: identity\r\n\r\n" + smuggled, 400, true},
        {"chunked, identity", "POST /v1/find/batch HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked, identity\r\n\r\n" + smuggled, 400, true},
        {"gzip", "GET /healthz HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: gzip\r\n\r\n" + smuggled, 400, true},
        {"gzip, chunked", "POST /v1/find/batch HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: gzip, chunked\r\n\r\n1\r\na\r\n0\r\n\r\n", 501, true},
        {"HTTP/1.0 chunked", "POST /v1/find/batch HTTP/1.0\r\nConnection: keep-alive\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n" + smuggled, 200, true},
        {"no Host", "GET /healthz HTTP/1.1\r\n\r\n", 400, true},
        {"two Hosts", "GET /healthz HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n", 400, true},
        {"HTTP/1.0 without Host", "GET /healthz HTTP/1.0\r\n\r\n", 200, true},
        {"absolute form", "GET http://zip.example.jp/api/search?zipcode=7300014 HTTP/1.1\r\nHost: zip.example.jp\r\n\r\n", 200, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RawConnection conn(server.port());
        ASSERT_TRUE(conn.Send(c.request));
        const RawResponse r = conn.Receive();
        EXPECT_EQ(r.status, c.status) << r.body;
        EXPECT_EQ(r.Header("connection") == "close", c.closes);
        if (c.closes) {
            EXPECT_TRUE(conn.ClosedByPeer(5s)); // nothing else is answered
        }
    }
    // The absolute form is the path it names.
    RawConnection absolute(server.port());
    absolute.Send("GET http://zip.example.jp/api/search?zipcode=7300014 HTTP/1.1\r\nHost: zip.example.jp\r\n\r\n");
    EXPECT_EQ(absolute.Receive().body, Get(server.port(), "/api/search?zipcode=7300014").body);
    EXPECT_EQ(server.StopWith(SIGTERM), 0);
}

TEST(Framing, AClientExpectingContinueIsToldBeforeItSendsItsBody)
{
    ServeProcess server(SampleArgs());
    ASSERT_NE(server.port(), 0);
    const std::string body = "7300014\n";
    RawConnection c(server.port());
    ASSERT_TRUE(c.Send(BatchHead(body.size(), "Expect: 100-continue\r\n")));
    EXPECT_EQ(c.Receive(10s).status, 100);
    ASSERT_TRUE(c.Send(body));
    const RawResponse r = c.Receive();
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(json::parse(r.body)["results"][0]["postal_code"], "7300014");

    // A body refused by its announced length is refused at once, without 100 Continue.
    RawConnection large(server.port());
    ASSERT_TRUE(large.Send(BatchHead(std::size_t{2} << 20, "Expect: 100-continue\r\n")));
    EXPECT_EQ(large.Receive().status, 413);
    EXPECT_EQ(server.StopWith(SIGTERM), 0);
}

TEST(Turns, APipelinedRequestWaitsForTheOtherConnections)
{
    // One loop: the log is in the order it answered.
    ServeProcess server(SampleArgs({"--threads", "1"}));
    ASSERT_NE(server.port(), 0);
    RawConnection pipeline(server.port()), other(server.port());
    ASSERT_TRUE(pipeline.Send(GetRequest("/healthz")) && pipeline.Receive().status == 200);
    ASSERT_TRUE(other.Send(GetRequest("/healthz")) && other.Receive().status == 200);
    const std::size_t before = server.Lines().size();
    constexpr int kPipelined = 300;
    std::string requests;
    for (int i = 0; i < kPipelined; ++i) requests += GetRequest("/healthz");
    std::thread reader([&] {
        for (int i = 0; i < kPipelined; ++i) pipeline.Receive();
    });
    ASSERT_TRUE(pipeline.Send(requests));
    ASSERT_TRUE(other.Send(GetRequest("/api/search?zipcode=7300014")));
    EXPECT_EQ(other.Receive().status, 200);
    reader.join();
    ASSERT_TRUE(server.WaitForLines(before + kPipelined + 1));
    const std::vector<std::string> lines = RequestLines(server, before);
    const auto at = std::find_if(lines.begin(), lines.end(), [](const std::string& l) { return l.starts_with("GET /api/search "); });
    ASSERT_NE(at, lines.end());
    // Answered among the first of the pipeline, not after the whole of it.
    EXPECT_LT(at - lines.begin(), 50) << "answered after " << (at - lines.begin()) << " pipelined requests";
    EXPECT_EQ(server.StopWith(SIGTERM), 0);
}

TEST(Turns, ALongBatchHoldsNeitherTheLoopsNorTheOtherLookups)
{
    ServeProcess server(SampleArgs({"--workers", "1", "--work-budget", "600"}));
    ASSERT_NE(server.port(), 0);
    const std::string lines = BroadLines(10000);
    RawConnection batch(server.port());
    ASSERT_TRUE(batch.Send(BatchHead(lines.size()) + lines));
    // While its lines are looked up on the one worker, the loops answer, and a lookup of
    // another client takes its turn on the worker.
    EXPECT_EQ(Get(server.port(), "/api/search?zipcode=7300014").status, 200);
    const RawResponse find = Get(server.port(), "/v1/find?q=%E5%AE%AE%E5%86%85%E5%BA%81"); // 宮内庁
    EXPECT_EQ(find.status, 200);
    EXPECT_EQ(json::parse(find.body)["results"][0]["postal_code"], "1008111");
    EXPECT_EQ(batch.Receive(0ms).status, 0) << "the batch was done first; nothing was shown";
    batch.Close(); // its work is dropped, and the server stops without waiting for it
    EXPECT_EQ(server.StopWith(SIGTERM), 0);
}

TEST(Turns, WorkIsDroppedWhenItsClientLeaves)
{
    // The client ends its stream: it is gone, and no reply comes. Were the work made to its end
    // (the budget, a second), the reply would come then.
    ServeProcess server(SampleArgs({"--workers", "1", "--work-budget", "1"}));
    ASSERT_NE(server.port(), 0);
    const std::string lines = BroadLines(10000);
    RawConnection batch(server.port());
    ASSERT_TRUE(batch.Send(BatchHead(lines.size()) + lines));
    batch.ShutdownSending();
    EXPECT_EQ(batch.Receive(10s).status, 0);
    EXPECT_TRUE(batch.ClosedByPeer(0ms));
    EXPECT_EQ(server.StopWith(SIGTERM), 0);
}

// A batch of 10,000 short lines, `bytes` long in all.
std::string PaddedLines(std::size_t bytes)
{
    const std::size_t each = bytes / 10000;
    std::string line = "7300014" + std::string(each - 8, ' ') + "\n";
    std::string body;
    for (int i = 0; i < 10000; ++i) body += line;
    return body;
}

TEST(Memory, AShortShareClosesTheRequestHalfSentLongest)
{
    ServeProcess server(SampleArgs({"--threads", "1", "--max-request-memory", "1", "--max-client-memory", "0"}));
    ASSERT_NE(server.port(), 0);
    const std::string body = PaddedLines(600000);
    RawConnection first(server.port()), second(server.port());
    ASSERT_TRUE(first.Send(BatchHead(body.size()) + body.substr(0, 1000)));
    ASSERT_EQ(Get(server.port(), "/healthz").status, 200); // the loop has read the first
    ASSERT_TRUE(second.Send(BatchHead(body.size()) + body.substr(0, 1000)));
    EXPECT_TRUE(first.ClosedByPeer(5s));
    ASSERT_TRUE(second.Send(body.substr(1000)));
    const RawResponse r = second.Receive(60s);
    ASSERT_EQ(r.status, 200);
    EXPECT_EQ(json::parse(r.body)["results"].size(), 10000u);
    EXPECT_EQ(server.StopWith(SIGTERM), 0);
}

TEST(Memory, AClientPastItsCapIsToldTheServerIsBusyAndTheOthersGoOn)
{
    ServeProcess server(SampleArgs({"--threads", "1", "--max-client-memory", "1"}));
    ASSERT_NE(server.port(), 0);
    const std::string body = PaddedLines(600000);
    RawConnection first(server.port()), second(server.port());
    ASSERT_TRUE(first.Send(BatchHead(body.size()) + body.substr(0, 1000)));
    ASSERT_EQ(Get(server.port(), "/healthz").status, 200);
    ASSERT_TRUE(second.Send(BatchHead(body.size())));
    const RawResponse busy = second.Receive();
    EXPECT_EQ(busy.status, 503);
    EXPECT_EQ(json::parse(busy.body)["status"], 503);
    EXPECT_TRUE(second.ClosedByPeer(5s));
    ASSERT_TRUE(first.Send(body.substr(1000)));
    EXPECT_EQ(first.Receive(60s).status, 200);
    EXPECT_EQ(server.StopWith(SIGTERM), 0);
}

} // namespace
} // namespace ubin::test
