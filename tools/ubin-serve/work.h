#pragma once
// The long lookups a request may ask for (free text, a batch of lines), made a slice at a time
// on the worker pool (tools/ubin-serve/work_pool.h), so that the requests of other clients take
// turns with them and the event loops never wait for them.
#include "tools/ubin-serve/service.h"

#include <chrono>
#include <functional>
#include <memory>

namespace ubin::serve {

using WorkClock = std::chrono::steady_clock;

class Work {
public:
    virtual ~Work() = default;
    // Goes on for about `slice` (a lookup begun is finished first); true when the reply is made.
    virtual bool Step(WorkClock::duration slice) = 0;
    // The reply, once Step has said it is made.
    virtual Reply TakeReply() = 0;
};

// The work of one call, made in one slice however long it takes (a single lookup of /v1/find).
std::unique_ptr<Work> OneCall(std::function<Reply()> call);
// A reply made already, before any work (a request refused by what its head says).
std::unique_ptr<Work> MadeReply(Reply reply);

} // namespace ubin::serve
