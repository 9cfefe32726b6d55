#include "tools/ubin-serve/loop.h"

#include "tools/ubin-serve/connection.h"

namespace ubin::serve {

namespace {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using boost::system::error_code;

// A worker gives the queue a turn after this much of a job's work (a lookup begun is finished).
constexpr auto kWorkSlice = std::chrono::milliseconds(20);
// Small buffers a loop keeps for its next requests; an idle connection holds none.
constexpr std::size_t kSpareBuffers = 64;

Connection* Owner(ConnectionList::Links* links) { return static_cast<Connection*>(links); }

ClientMemory::Address AddressOf(const tcp::socket& socket)
{
    error_code ec;
    const tcp::endpoint peer = socket.remote_endpoint(ec);
    if (ec) return {};
    const asio::ip::address address = peer.address();
    return address.is_v4() ? asio::ip::make_address_v6(asio::ip::v4_mapped, address.to_v4()).to_bytes()
                           : address.to_v6().to_bytes();
}

} // namespace

Shared::Shared(const Service& s, const StaticFiles& p, ServerOptions o, LogSink l)
    : service(s),
      page(p),
      options(std::move(o)),
      log(std::move(l)),
      pool(options.workers, kWorkSlice, std::chrono::seconds(options.requestSeconds), log),
      clients(options.maxClientMemory)
{
}

// --- the lists of connections ---

void ConnectionList::PushBack(Connection* c)
{
    Links* links = c;
    links->prev = last_;
    links->next = nullptr;
    links->list = this;
    (last_ ? last_->next : first_) = links;
    last_ = links;
    count_.fetch_add(1, std::memory_order_relaxed);
}

void ConnectionList::Remove(Connection* c)
{
    Links* links = c;
    (links->prev ? links->prev->next : first_) = links->next;
    (links->next ? links->next->prev : last_) = links->prev;
    links->prev = links->next = nullptr;
    links->list = nullptr;
    count_.fetch_sub(1, std::memory_order_relaxed);
}

Connection* ConnectionList::First() const { return first_ ? Owner(first_) : nullptr; }

Connection* ConnectionList::After(const Connection* c) const
{
    const Links* links = c;
    return links->next ? Owner(links->next) : nullptr;
}

// --- a loop ---

void Loop::Adopt(tcp::socket socket, bool counted)
{
    if (!counted) {
        if (shared.open.load() >= shared.options.maxConnections) {
            Connection* place = idle.First() ? idle.First() : halfSent.First();
            if (stopping || !place) return; // the socket closes as it goes
            place->Close();
        }
        ++shared.open;
    }
    error_code ec;
    socket.non_blocking(true, ec);
    if (!ec) socket.set_option(tcp::no_delay(true), ec);
    if (stopping || ec) {
        --shared.open;
        return;
    }
    const ClientMemory::Address address = AddressOf(socket);
    std::make_shared<Connection>(*this, std::move(socket), address)->Start();
}

void Loop::Stop()
{
    stopping = true;
    for (Connection* c = idle.First(); c;) {
        Connection* next = idle.After(c);
        c->CloseWhenIdle();
        c = next;
    }
    work.reset(); // Run ends when the last connection has closed
}

bool Loop::TakeMemory(std::size_t bytes, const Connection* taker)
{
    while (memoryHeld + bytes > memoryCap) {
        Connection* oldest = halfSent.First();
        if (oldest == taker) oldest = halfSent.After(oldest);
        if (!oldest) return false;
        oldest->Close(); // gives back what it held
    }
    memoryHeld += bytes;
    return true;
}

std::unique_ptr<char[]> Loop::SmallBuffer()
{
    if (spareBuffers.empty()) return std::make_unique<char[]>(kSmallBuffer);
    std::unique_ptr<char[]> buffer = std::move(spareBuffers.back());
    spareBuffers.pop_back();
    return buffer;
}

void Loop::KeepSmallBuffer(std::unique_ptr<char[]> buffer)
{
    if (spareBuffers.size() < kSpareBuffers) spareBuffers.push_back(std::move(buffer));
}

} // namespace ubin::serve
