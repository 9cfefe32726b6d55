// ubin-serve's transport under clients of the open internet: Range headers, the limits on a
// request, the deadlines of slow and idle connections, the cap on open connections, and a
// normal request answered at once while thousands of slow and idle connections stay open.
#include "tests/tools/ubin-serve/serve_process.h"
#include "tools/ubin-serve/reply.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <memory>
#include <sys/resource.h>
#include <thread>

namespace ubin::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using serve::ByteRange;

const std::string kTooLarge = R"({"message":"リクエストが大きすぎます（8KBまで）。","status":400})";

// --- Range ----------------------------------------------------------------------------------------

TEST(SingleByteRange, TakesOneRangeInsideTheReplyAndNothingElse)
{
    struct Case {
        std::string header;
        std::size_t size;
        std::optional<ByteRange> range;
    } cases[] = {
        {"bytes=0-9", 100, ByteRange{0, 10}},
        {"bytes=10-", 100, ByteRange{10, 90}},
        {"bytes=90-500", 100, ByteRange{90, 10}}, // the end beyond the reply is its last byte
        {"bytes=-5", 100, ByteRange{95, 5}},
        {"bytes=-500", 100, ByteRange{0, 100}},
        {" bytes= 3-3 ", 100, ByteRange{3, 1}},
        {"bytes=0-0,1-1", 100, std::nullopt}, // several: the whole reply
        {"bytes=0-9,", 100, std::nullopt},
        {"bytes=100-", 100, std::nullopt}, // past the end
        {"bytes=5-4", 100, std::nullopt},
        {"bytes=-0", 100, std::nullopt},
        {"bytes=0-9", 0, std::nullopt},
        {"bytes=x-9", 100, std::nullopt},
        {"bytes=1-2-3", 100, std::nullopt},
        {"bytes=-", 100, std::nullopt},
        {"bytes=99999999999999999999-", 100, std::nullopt},
        {"items=0-9", 100, std::nullopt},
        {"", 100, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.header);
        EXPECT_EQ(serve::SingleByteRange(c.header, c.size), c.range);
    }
}

class Connections : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(server.port(), 0) << "ubin-serve did not start"; }
    void TearDown() override
    {
        if (server.port() != 0) {
            EXPECT_EQ(server.StopWith(SIGTERM), 0);
        }
    }
    ServeProcess server{SampleArgs({"--max-url", "200", "--max-headers", "5", "--max-header-bytes", "600"})};
};

TEST(ConnectionRanges, ARangeGetsOneRangeOrTheWholeReplyNeverMore)
{
    ServeProcess server(SampleArgs());
    ASSERT_NE(server.port(), 0);
    const RawResponse whole = Get(server.port(), "/yubinbango/730.js");
    ASSERT_EQ(whole.status, 200);
    const std::size_t size = whole.body.size();
    ASSERT_GT(size, 100u);

    const RawResponse one = Get(server.port(), "/yubinbango/730.js", "Range: bytes=8-17\r\n");
    EXPECT_EQ(one.status, 206);
    EXPECT_EQ(one.body, whole.body.substr(8, 10));
    EXPECT_EQ(one.Header("content-range"), "bytes 8-17/" + std::to_string(size));

    // A few hundred ranges over the reply: the reply itself, once.
    std::string many = "Range: bytes=0-0";
    for (std::size_t i = 1; i < 400; ++i) many += "," + std::to_string(i % size) + "-" + std::to_string(size - 1);
    ASSERT_LT(many.size(), 6000u);
    for (const std::string& range : {many + "\r\n", std::string("Range: bytes=0-1,3-4\r\n"),
                                     std::string("Range: bytes=0-9\r\nIf-Range: \"x\"\r\n"),
                                     "Range: bytes=" + std::to_string(size) + "-\r\n"}) {
        SCOPED_TRACE(range.substr(0, 40));
        RawConnection c(server.port());
        ASSERT_TRUE(c.Send("GET /yubinbango/730.js HTTP/1.1\r\nHost: x\r\n" + range + "\r\n"));
        const RawResponse r = c.Receive();
        EXPECT_EQ(r.status, 200);
        EXPECT_EQ(r.Header("content-length"), std::to_string(size));
        EXPECT_TRUE(r.body == whole.body);
        EXPECT_FALSE(c.ClosedByPeer(50ms)); // nothing beyond the reply, and the connection stays
    }
    EXPECT_EQ(server.StopWith(SIGTERM), 0);
}

// --- the limits on a request ----------------------------------------------------------------------

TEST_F(Connections, RequestsOverTheirLimitsAreRefusedAsTooLarge)
{
    struct Case {
        std::string name, request;
        bool refused;
    } cases[] = {
        {"target at its limit", GetRequest("/healthz?" + std::string(191, 'a')), false},
        {"target over it", GetRequest("/healthz?" + std::string(192, 'a')), true},
        {"five header lines", "GET /healthz HTTP/1.1\r\nHost: x\r\nA: 1\r\nB: 2\r\nC: 3\r\nD: 4\r\n\r\n", false},
        {"six", "GET /healthz HTTP/1.1\r\nHost: x\r\nA: 1\r\nB: 2\r\nC: 3\r\nD: 4\r\nE: 5\r\n\r\n", true},
        {"a head over its bytes", GetRequest("/healthz", "X: " + std::string(600, 'h') + "\r\n"), true},
        {"a chunked body", "GET /healthz HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n", false},
        {"a chunked body over 8 KB",
         "GET /healthz HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n2400\r\n" + std::string(0x2400, 'b') + "\r\n0\r\n\r\n",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RawConnection conn(server.port());
        ASSERT_TRUE(conn.Send(c.request));
        const RawResponse r = conn.Receive();
        if (c.refused) {
            EXPECT_EQ(r.status, 400);
            EXPECT_EQ(r.body, kTooLarge);
            EXPECT_EQ(r.Header("connection"), "close");
            EXPECT_TRUE(conn.ClosedByPeer(5s));
        } else {
            EXPECT_EQ(r.status, 200);
        }
    }
}

TEST_F(Connections, PipelinedRequestsAreAnsweredInTurnAndHttp10Closes)
{
    RawConnection c(server.port());
    ASSERT_TRUE(c.Send(GetRequest("/api/search?zipcode=7300014") + GetRequest("/nothing") + GetRequest("/healthz")));
    EXPECT_EQ(c.Receive().status, 200);
    EXPECT_EQ(c.Receive().status, 404);
    const RawResponse last = c.Receive();
    EXPECT_EQ(last.status, 200);
    EXPECT_NE(last.body.find("capabilities"), std::string::npos);

    RawConnection old(server.port());
    ASSERT_TRUE(old.Send("GET /healthz HTTP/1.0\r\n\r\n"));
    const RawResponse r = old.Receive();
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.Header("connection"), "close");
    EXPECT_TRUE(old.ClosedByPeer(5s));
}

// --- deadlines and the cap on connections ----------------------------------------------------------

TEST(ConnectionDeadlines, SlowRequestsAndIdleConnectionsCloseAtTheirDeadline)
{
    ServeProcess server(SampleArgs({"--request-timeout", "1", "--keep-alive-timeout", "1"}));
    ASSERT_NE(server.port(), 0);
    // A request whose bytes keep coming, too slowly: closed a second after its first byte.
    RawConnection slow(server.port());
    const auto start = Clock::now();
    ASSERT_TRUE(slow.Send("GET /healthz HTTP/1.1\r\n"));
    bool closed = false;
    for (int i = 0; i < 40 && !closed; ++i) {
        slow.Send("X");
        closed = slow.ClosedByPeer(200ms);
    }
    EXPECT_TRUE(closed);
    const auto slowLife = Clock::now() - start;
    EXPECT_GE(slowLife, 900ms);
    EXPECT_LT(slowLife, 5s);

    // Idle after a reply, and idle from the start: closed a second later.
    RawConnection kept(server.port());
    RawConnection silent(server.port());
    ASSERT_TRUE(kept.Send(GetRequest("/healthz")));
    ASSERT_EQ(kept.Receive().status, 200);
    const auto idleStart = Clock::now();
    EXPECT_TRUE(kept.ClosedByPeer(5s));
    EXPECT_GE(Clock::now() - idleStart, 900ms);
    EXPECT_TRUE(silent.ClosedByPeer(5s));
    EXPECT_EQ(server.StopWith(SIGTERM), 0);
}

TEST(ConnectionCap, ANewConnectionBeyondItReplacesTheOneIdleLongest)
{
    // One thread, so that the connection idle longest there is the one idle longest of all.
    ServeProcess server(SampleArgs({"--max-connections", "3", "--threads", "1"}));
    ASSERT_NE(server.port(), 0);
    // Three open (the cap), all idle, the first the longest: a fourth takes its place.
    std::vector<std::unique_ptr<RawConnection>> open;
    for (int i = 0; i < 3; ++i) {
        open.push_back(std::make_unique<RawConnection>(server.port()));
        ASSERT_TRUE(open.back()->Send(GetRequest("/healthz")));
        ASSERT_EQ(open.back()->Receive().status, 200);
        std::this_thread::sleep_for(20ms);
    }
    RawConnection fourth(server.port());
    ASSERT_TRUE(fourth.Send(GetRequest("/healthz")));
    EXPECT_EQ(fourth.Receive().status, 200);
    EXPECT_TRUE(open[0]->ClosedByPeer(2s));
    for (int i = 1; i < 3; ++i) {
        EXPECT_TRUE(open[i]->Send(GetRequest("/healthz")));
        EXPECT_EQ(open[i]->Receive().status, 200) << i;
    }

    // Three in the middle of a request: none is idle, so a new one takes the place of the
    // request begun first, and the other two are still answered.
    open[0] = std::make_unique<RawConnection>(server.port()); // in the place of the fourth
    fourth.Close();
    std::this_thread::sleep_for(50ms);
    for (auto& c : open) {
        ASSERT_TRUE(c->Send("GET /healthz HTTP/1.1\r\n"));
        std::this_thread::sleep_for(20ms);
    }
    RawConnection newcomer(server.port());
    newcomer.Send(GetRequest("/healthz"));
    EXPECT_EQ(newcomer.Receive(2s).status, 200);
    EXPECT_TRUE(open[0]->ClosedByPeer(2s));
    for (int i = 1; i < 3; ++i) {
        ASSERT_TRUE(open[i]->Send("Host: x\r\n\r\n"));
        EXPECT_EQ(open[i]->Receive().status, 200) << i;
    }
    open.clear();
    EXPECT_EQ(server.StopWith(SIGTERM), 0);
}

TEST(ConnectionCap, ANewConnectionFindsTheIdleOneOnAnyThread)
{
    // Connections go to the two threads in turn: the first and third to one, the second to the
    // other, where the fourth would go too. Only the third is idle.
    ServeProcess server(SampleArgs({"--max-connections", "3", "--threads", "2"}));
    ASSERT_NE(server.port(), 0);
    std::vector<std::unique_ptr<RawConnection>> open;
    for (int i = 0; i < 3; ++i) {
        open.push_back(std::make_unique<RawConnection>(server.port()));
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(open[0]->Send("GET /healthz HTTP/1.1\r\n"));
    ASSERT_TRUE(open[1]->Send("GET /healthz HTTP/1.1\r\n"));
    ASSERT_TRUE(open[2]->Send(GetRequest("/healthz")));
    ASSERT_EQ(open[2]->Receive().status, 200);
    std::this_thread::sleep_for(50ms);

    RawConnection fourth(server.port());
    ASSERT_TRUE(fourth.Send(GetRequest("/healthz")));
    EXPECT_EQ(fourth.Receive().status, 200);
    EXPECT_TRUE(open[2]->ClosedByPeer(2s));
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(open[i]->Send("Host: x\r\n\r\n"));
        EXPECT_EQ(open[i]->Receive().status, 200) << i;
    }
    open.clear();
    EXPECT_EQ(server.StopWith(SIGTERM), 0);
}

// --- slow and idle clients do not hold up the others ----------------------------------------------

// Connections held by this process: the soft limit on open files rises to what they need.
bool RaiseOpenFiles(rlim_t needed)
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < needed) {
        if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < needed) return false;
        limit.rlim_cur = needed;
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
    }
    return true;
}

TEST(SlowClients, ANormalRequestIsAnsweredWithin100msWhileThousandsTrickleOrIdle)
{
    constexpr int kTrickling = 1000;
    constexpr int kIdle = 2000;
    constexpr int kProbes = 15;
    if (!RaiseOpenFiles(kTrickling + kIdle + 200))
        GTEST_SKIP() << "the limit on open files (ulimit -Hn) is below " << kTrickling + kIdle + 200;
    // Deadlines longer than the test: every slow and idle connection stays open throughout.
    ServeProcess server(SampleArgs({"--request-timeout", "120", "--keep-alive-timeout", "120"}));
    ASSERT_NE(server.port(), 0);

    std::vector<std::unique_ptr<RawConnection>> idle, trickling;
    for (int i = 0; i < kIdle; ++i) {
        idle.push_back(std::make_unique<RawConnection>(server.port()));
        ASSERT_TRUE(idle.back()->connected()) << i;
        ASSERT_TRUE(idle.back()->Send(GetRequest("/api/search?zipcode=7300014"))) << i;
    }
    for (int i = 0; i < kIdle; ++i) ASSERT_EQ(idle[i]->Receive(20s).status, 200) << i; // then kept open, idle
    for (int i = 0; i < kTrickling; ++i) {
        trickling.push_back(std::make_unique<RawConnection>(server.port()));
        ASSERT_TRUE(trickling.back()->connected()) << i;
    }

    // One byte a second on every trickling connection, for as long as the probes run.
    const std::string slowRequest = "GET /api/search?zipcode=7300014 HTTP/1.1\r\nX-Slow: " + std::string(100, 's');
    std::atomic<bool> done{false};
    std::thread trickle([&] {
        for (std::size_t k = 0; !done && k < slowRequest.size(); ++k) {
            for (auto& c : trickling) c->Send(std::string(1, slowRequest[k]));
            for (int t = 0; t < 10 && !done; ++t) std::this_thread::sleep_for(100ms);
        }
    });

    std::vector<double> ms;
    for (int i = 0; i < kProbes; ++i) {
        std::this_thread::sleep_for(100ms);
        const auto start = Clock::now();
        const RawResponse r = Get(server.port(), "/api/search?zipcode=7315143");
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        EXPECT_EQ(r.status, 200) << "probe " << i;
    }
    done = true;
    trickle.join();

    std::vector<double> sorted = ms;
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted[sorted.size() / 2];
    std::string all;
    for (const double m : ms) all += std::to_string(static_cast<int>(m)) + " ";
    // The median: one probe may meet a loaded machine's hiccup, most may not.
    EXPECT_LT(median, 100.0) << "ms of the probes: " << all;
    EXPECT_LT(sorted.back(), 2000.0) << "ms of the probes: " << all;

    int closed = 0;
    for (auto& c : idle) closed += c->ClosedByPeer(0ms) ? 1 : 0;
    for (auto& c : trickling) closed += c->ClosedByPeer(0ms) ? 1 : 0;
    EXPECT_EQ(closed, 0) << "slow and idle connections were closed before their deadlines";

    idle.clear();
    trickling.clear();
    EXPECT_EQ(server.StopWith(SIGTERM), 0);
}

} // namespace
} // namespace ubin::test
