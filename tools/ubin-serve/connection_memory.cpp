// The memory a connection holds, counted against its loop's share and its client's cap: its
// read buffer, the body of its request and the reply it writes.
#include "tools/ubin-serve/connection.h"

#include <cstring>

namespace ubin::serve {

// A buffer to read into; false when the loop has no memory left for it, even after closing the
// requests half-sent longest.
bool Connection::TakeBuffer()
{
    if (buffer_) return true;
    if (!loop_.TakeMemory(kSmallBuffer, this)) return false;
    buffer_ = loop_.SmallBuffer();
    capacity_ = kSmallBuffer;
    begin_ = end_ = 0;
    return true;
}

// The small buffer is full with one request: the large one takes its place, or the request is
// refused (false).
bool Connection::GrowBuffer()
{
    if (capacity_ == kLargeBuffer) {
        Refuse(400, message::kTooLarge); // a head never fills half of it, but a chunk line could
        return false;
    }
    if (!loop_.TakeMemory(kLargeBuffer - kSmallBuffer, this)) {
        Refuse(503, message::kBusy);
        return false;
    }
    auto large = std::make_unique<char[]>(kLargeBuffer);
    std::memcpy(large.get(), buffer_.get(), end_);
    loop_.KeepSmallBuffer(std::move(buffer_));
    buffer_ = std::move(large);
    capacity_ = kLargeBuffer;
    return true;
}

void Connection::DropBuffer()
{
    if (!buffer_) return;
    loop_.GiveMemory(capacity_);
    if (capacity_ == kSmallBuffer) loop_.KeepSmallBuffer(std::move(buffer_));
    buffer_.reset();
    capacity_ = begin_ = end_ = 0;
}

// What is left of the request moves to the front of the buffer.
void Connection::Compact()
{
    std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
}

// The body read so far (or announced) is held; false when it was refused for want of memory.
bool Connection::HoldBody()
{
    const std::size_t wanted = reader_->body.capacity();
    if (wanted <= bodyHeld_) return true;
    const std::size_t more = wanted - bodyHeld_;
    if (!loop_.TakeMemory(more, this)) {
        Refuse(503, message::kBusy);
        return false;
    }
    if (!loop_.shared.clients.Take(address_, more)) {
        loop_.GiveMemory(more);
        Refuse(503, message::kBusy);
        return false;
    }
    bodyHeld_ = wanted;
    return true;
}

void Connection::ReleaseBody()
{
    loop_.GiveMemory(bodyHeld_);
    loop_.shared.clients.Give(address_, bodyHeld_);
    bodyHeld_ = 0;
}

void Connection::ReleaseReply()
{
    loop_.GiveMemory(replyHeld_);
    loop_.shared.clients.Give(address_, replyHeld_);
    replyHeld_ = 0;
}

} // namespace ubin::serve
