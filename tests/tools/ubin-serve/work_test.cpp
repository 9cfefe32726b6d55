// The work made off the event loops, without a socket: a batch's lines as the command line
// reads them, its budget, the pool's turns, a job dropped, and the memory a client may hold.
#include "tools/ubin-serve/batch.h"
#include "tools/ubin-serve/client_memory.h"
#include "tools/ubin-serve/work_pool.h"

#include "base/cp932.h"
#include "search/live.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <condition_variable>
#include <future>
#include <mutex>
#include <stdexcept>

namespace ubin::serve {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

TEST(SplitBatchBody, CountsTheLinesAsTheCommandLineDoes)
{
    const struct {
        std::string body;
        std::vector<std::string> lines;
    } cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\n", {"a"}},
        {"a\r\n", {"a"}},
        {"a\n\n", {"a", ""}},       // an empty last line, with LF
        {"a\r\n\r\n", {"a", ""}},   // and with CRLF alike
        {"\n", {""}},
        {"\r\n", {""}},
        {"\xEF\xBB\xBF" "a\nb", {"a", "b"}},
        {"a\rb\n", {"a\rb"}},      // a CR inside a line is the line's
        {"a\r\r\n", {"a\r"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(json(c.body).dump());
        const std::vector<std::string_view> lines = SplitBatchBody(c.body);
        EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.end()), c.lines);
    }
}

class Batches : public ::testing::Test {
protected:
    // Every slice of the work until the reply is made.
    static Reply Made(Work& work, WorkClock::duration slice, int* slices = nullptr)
    {
        int n = 1;
        while (!work.Step(slice)) ++n;
        if (slices) *slices = n;
        return work.TakeReply();
    }

    LiveDirectory directory{FromUtf8(UBIN_SAMPLE_DIR), {.mapped = true, .find = true}};
    const Service service{directory, 0};
};

TEST_F(Batches, SlicesMakeTheReplyOneWholeWouldMake)
{
    std::string body;
    for (int i = 0; i < 40; ++i) body += (i % 3 ? "ぎんざ\r\n" : "千代田区永田町\n");
    body += "\n";
    const auto whole = BatchWork(service, body, 60s);
    const Reply once = Made(*whole, 1h);
    int slices = 0;
    const auto sliced = BatchWork(service, body, 60s);
    const Reply many = Made(*sliced, 0s, &slices);
    EXPECT_EQ(many.body, once.body);
    EXPECT_EQ(slices, 41); // one line each
    const json j = json::parse(once.body);
    EXPECT_EQ(j["results"].size(), 41u);
    EXPECT_EQ(once.edition, EditionName(*directory.Current()));
    EXPECT_EQ(j["edition"], once.edition);
}

TEST_F(Batches, LinesPastTheBudgetGetAnErrorEachAndTheRowsStayOnePerLine)
{
    const auto work = BatchWork(service, "ぎんざ\nbad\x01\n\n宮内庁\n", 0s);
    const json rows = json::parse(Made(*work, 1h).body)["results"];
    ASSERT_EQ(rows.size(), 4u);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i]["line"], i + 1);
        EXPECT_EQ(rows[i]["error"], message::kBatchBudget);
        EXPECT_FALSE(rows[i].contains("postal_code"));
    }
    EXPECT_EQ(rows[3]["input"], "宮内庁");
}

TEST_F(Batches, RefusesMoreLinesThanItTakes)
{
    const std::string most(kMaxBatchLines, '\n'); // as many empty lines
    EXPECT_EQ(Made(*BatchWork(service, most, 60s), 1h).status, 200);
    EXPECT_EQ(Made(*BatchWork(service, most + "x", 60s), 1h).status, 413);
    EXPECT_EQ(Made(*BatchWork(service, std::string(kMaxBatchBytes + 1, 'x'), 60s), 1h).status, 413);
}

// Work of a number of slices, each noted where the test reads it.
class Counted final : public Work {
public:
    Counted(std::string name, int slices, std::vector<std::string>& order, std::mutex& mutex)
        : name_(std::move(name)), left_(slices), order_(order), mutex_(mutex)
    {
    }
    bool Step(WorkClock::duration) override
    {
        const std::lock_guard lock(mutex_);
        order_.push_back(name_);
        return --left_ == 0;
    }
    Reply TakeReply() override
    {
        Reply r;
        r.body = name_;
        return r;
    }

private:
    std::string name_;
    int left_;
    std::vector<std::string>& order_;
    std::mutex& mutex_;
};

// Blocks its worker until released, so the test decides what waits in the queue meanwhile.
class Gate final : public Work {
public:
    explicit Gate(std::shared_future<void> open, std::promise<void>* begun = nullptr) : open_(std::move(open)), begun_(begun) {}
    bool Step(WorkClock::duration) override
    {
        if (begun_) begun_->set_value();
        open_.wait();
        return true;
    }
    Reply TakeReply() override { return {}; }

private:
    std::shared_future<void> open_;
    std::promise<void>* begun_;
};

// The replies of the jobs, by the order they came.
struct Replies {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<Reply> got;
    WorkPool::Done Taker()
    {
        return [this](Reply r) {
            const std::lock_guard lock(mutex);
            got.push_back(std::move(r));
            changed.notify_all();
        };
    }
    bool WaitFor(std::size_t n)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 10s, [&] { return got.size() >= n; });
    }
};

TEST(WorkPool, JobsTakeTurnsASliceAtATime)
{
    std::promise<void> open;
    std::mutex mutex;
    std::vector<std::string> order;
    Replies replies;
    WorkPool pool(1, 1ms, 1h, [](const std::string&) {});
    pool.Submit(std::make_unique<Gate>(open.get_future().share()), [](Reply) {});
    pool.Submit(std::make_unique<Counted>("long", 5, order, mutex), replies.Taker());
    pool.Submit(std::make_unique<Counted>("short", 1, order, mutex), replies.Taker());
    open.set_value();
    ASSERT_TRUE(replies.WaitFor(2));
    EXPECT_EQ(order, (std::vector<std::string>{"long", "short", "long", "long", "long", "long"}));
    EXPECT_EQ(replies.got[0].body, "short"); // done long before the long one
    EXPECT_EQ(replies.got[1].body, "long");
}

TEST(WorkPool, DropsCancelledJobsAndAnswersOnesThatWaitedTooLongOrFailed)
{
    std::promise<void> open;
    std::mutex mutex;
    std::vector<std::string> order;
    Replies replies;
    std::vector<std::string> logged;
    WorkPool pool(1, 1ms, 50ms, [&](const std::string& line) { logged.push_back(line); });
    pool.Submit(std::make_unique<Gate>(open.get_future().share()), [](Reply) {});
    pool.Submit(std::make_unique<Counted>("cancelled", 3, order, mutex), replies.Taker())->Cancel();
    pool.Submit(std::make_unique<Counted>("late", 1, order, mutex), replies.Taker());
    std::this_thread::sleep_for(100ms); // longer than the jobs may wait
    open.set_value();
    ASSERT_TRUE(replies.WaitFor(1));
    pool.Submit(OneCall([]() -> Reply { throw std::runtime_error("damaged file"); }), replies.Taker());
    ASSERT_TRUE(replies.WaitFor(2));
    pool.Stop();
    EXPECT_TRUE(order.empty()); // neither was begun
    ASSERT_EQ(replies.got.size(), 2u);
    EXPECT_EQ(replies.got[0].status, 503);
    EXPECT_EQ(replies.got[1].status, 500);
    EXPECT_EQ(logged, (std::vector<std::string>{"ubin-serve: damaged file"}));
}

TEST(WorkPool, StopDropsTheJobsWaitingAndEndsAfterTheSliceBegun)
{
    std::promise<void> open;
    std::mutex mutex;
    std::vector<std::string> order;
    Replies replies;
    std::promise<void> begun;
    auto pool = std::make_unique<WorkPool>(1, 1ms, 1h, [](const std::string&) {});
    pool->Submit(std::make_unique<Gate>(open.get_future().share(), &begun), replies.Taker());
    pool->Submit(std::make_unique<Counted>("waiting", 1, order, mutex), replies.Taker());
    begun.get_future().wait();
    std::thread stopper([&] { pool->Stop(); });
    std::this_thread::sleep_for(20ms); // Stop has begun, or begins with the slice under way
    open.set_value();
    stopper.join();
    EXPECT_TRUE(order.empty());
    EXPECT_EQ(replies.got.size(), 1u); // the slice begun ends as it would
    pool->Submit(std::make_unique<Counted>("after", 1, order, mutex), replies.Taker());
    pool.reset();
    EXPECT_TRUE(order.empty());
}

TEST(ClientMemory, CapsEachAddressOnItsOwn)
{
    const ClientMemory::Address a{1}, b{2};
    ClientMemory memory(100);
    EXPECT_TRUE(memory.Take(a, 60));
    EXPECT_FALSE(memory.Take(a, 41)); // past the cap: nothing added
    EXPECT_EQ(memory.Held(a), 60u);
    EXPECT_TRUE(memory.Take(b, 100)); // another address has a cap of its own
    EXPECT_TRUE(memory.Take(a, 40));
    EXPECT_TRUE(memory.Take(a, 500, true)); // a reply made is counted anyway
    EXPECT_EQ(memory.Held(a), 600u);
    EXPECT_FALSE(memory.Take(a, 1));
    memory.Give(a, 600);
    EXPECT_EQ(memory.Held(a), 0u);
    EXPECT_TRUE(memory.Take(a, 100));

    ClientMemory none(0); // no cap counts nothing
    EXPECT_TRUE(none.Take(a, std::size_t{1} << 40));
    EXPECT_EQ(none.Held(a), 0u);
}

} // namespace
} // namespace ubin::serve
