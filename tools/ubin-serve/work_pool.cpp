#include "tools/ubin-serve/work_pool.h"

#include "tools/ubin-serve/server.h"

#include <algorithm>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace ubin::serve {

namespace {

// How much a worker yields to the event loops: a niceness of 10 gives a loop's thread about ten
// times a worker's share of a busy processor.
constexpr int kWorkerNiceness = 10;

class Made final : public Work {
public:
    explicit Made(Reply reply) : reply_(std::move(reply)) {}
    bool Step(WorkClock::duration) override { return true; }
    Reply TakeReply() override { return std::move(reply_); }

private:
    Reply reply_;
};

class Call final : public Work {
public:
    explicit Call(std::function<Reply()> call) : call_(std::move(call)) {}
    bool Step(WorkClock::duration) override
    {
        reply_ = call_();
        return true;
    }
    Reply TakeReply() override { return std::move(reply_); }

private:
    std::function<Reply()> call_;
    Reply reply_;
};

// Linux gives each thread a niceness of its own (setpriority on its thread id).
void LowerThisThreadsPriority()
{
    const auto thread = static_cast<id_t>(syscall(SYS_gettid));
    setpriority(PRIO_PROCESS, thread, std::min(19, getpriority(PRIO_PROCESS, thread) + kWorkerNiceness));
}

} // namespace

std::unique_ptr<Work> OneCall(std::function<Reply()> call) { return std::make_unique<Call>(std::move(call)); }
std::unique_ptr<Work> MadeReply(Reply reply) { return std::make_unique<Made>(std::move(reply)); }

WorkPool::WorkPool(int threads, WorkClock::duration slice, WorkClock::duration maxWait, Log log)
    : slice_(slice), maxWait_(maxWait), log_(std::move(log))
{
    if (threads <= 0) threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    for (int i = 0; i < threads; ++i) threads_.emplace_back([this] { Serve(); });
}

WorkPool::~WorkPool() { Stop(); }

std::shared_ptr<WorkPool::Job> WorkPool::Submit(std::unique_ptr<Work> work, Done done)
{
    auto job = std::make_shared<Job>();
    job->work_ = std::move(work);
    job->done_ = std::move(done);
    job->queued_ = WorkClock::now();
    {
        const std::lock_guard lock(mutex_);
        if (stopping_) return job; // never run: its connection closes with the server
        queue_.push_back(job);
    }
    changed_.notify_one();
    return job;
}

void WorkPool::Stop()
{
    {
        const std::lock_guard lock(mutex_);
        if (stopping_ && threads_.empty()) return;
        stopping_ = true;
        queue_.clear();
    }
    changed_.notify_all();
    for (std::thread& t : threads_) t.join();
    threads_.clear();
}

void WorkPool::Serve()
{
    LowerThisThreadsPriority();
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        if (stopping_) return;
        std::shared_ptr<Job> job = std::move(queue_.front());
        queue_.pop_front();
        if (job->cancelled_) continue;
        lock.unlock();
        const bool done = Run(*job);
        lock.lock();
        if (!done) {
            queue_.push_back(std::move(job));
        } else if (!job->cancelled_) {
            lock.unlock();
            job->done_(job->work_->TakeReply());
            job.reset(); // its work and reply go before the lock is taken again
            lock.lock();
        }
    }
}

bool WorkPool::Run(Job& job)
{
    if (!job.begun_ && WorkClock::now() - job.queued_ > maxWait_) {
        job.work_ = MadeReply(ErrorReply(503, message::kBusy));
        return true;
    }
    job.begun_ = true;
    try {
        return job.work_->Step(slice_);
    } catch (const std::exception& e) {
        // A damaged directory file: the message goes to the log, not to the client.
        log_(std::string("ubin-serve: ") + e.what());
        job.work_ = MadeReply(ErrorReply(500, message::kInternal));
        return true;
    }
}

} // namespace ubin::serve
