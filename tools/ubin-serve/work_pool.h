#pragma once
// Threads that make the replies of the long lookups (tools/ubin-serve/work.h) away from the
// event loops. Each job gets a slice of work in turn: the job at the front of the queue runs for
// a slice and, unless its reply is made, goes to the back, so that a short lookup never waits for
// the whole of a long batch. The threads run at a lower priority than the event loops, so a loop
// gets a processor for its sockets whatever the lookups cost.
#include "tools/ubin-serve/work.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ubin::serve {

class WorkPool {
public:
    // Called on a worker thread with the reply of a job not cancelled.
    using Done = std::function<void(Reply)>;
    using Log = std::function<void(const std::string&)>;

    // `threads` threads (0: one per processor). A job that has waited `maxWait` for its first
    // slice is answered 503 instead (the server is too busy for it to be worth making).
    WorkPool(int threads, WorkClock::duration slice, WorkClock::duration maxWait, Log log);
    ~WorkPool(); // Stop
    WorkPool(const WorkPool&) = delete;
    WorkPool& operator=(const WorkPool&) = delete;

    class Job {
    public:
        // From any thread: no slice begins after this, and `done` is not called. A slice under
        // way ends as it would.
        void Cancel() { cancelled_ = true; }

    private:
        friend class WorkPool;
        std::unique_ptr<Work> work_;
        Done done_;
        WorkClock::time_point queued_;
        bool begun_ = false;
        std::atomic<bool> cancelled_{false};
    };

    std::shared_ptr<Job> Submit(std::unique_ptr<Work> work, Done done);
    // Ends the threads: the jobs waiting are dropped, and each thread ends after its slice.
    void Stop();
    int threads() const { return static_cast<int>(threads_.size()); }

private:
    void Serve();
    // A slice of the job; true when its reply is made (or it failed).
    bool Run(Job& job);

    WorkClock::duration slice_;
    WorkClock::duration maxWait_;
    Log log_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::shared_ptr<Job>> queue_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

} // namespace ubin::serve
