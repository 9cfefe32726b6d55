#pragma once
// The bytes each client address holds in request bodies and replies at once, against a cap per
// address that every event loop shares: one client cannot take the memory the server keeps
// for requests from the others.
#include <array>
#include <cstddef>
#include <mutex>
#include <unordered_map>

namespace ubin::serve {

class ClientMemory {
public:
    // An address as 16 bytes: IPv4 in its IPv6-mapped form.
    using Address = std::array<unsigned char, 16>;

    // `cap` bytes per address; 0: no cap (nothing is counted).
    explicit ClientMemory(std::size_t cap) : cap_(cap) {}

    // Adds `bytes` to what the address holds: false, and nothing added, when that would pass the
    // cap; with `always` it is added anyway (a reply made already is sent).
    bool Take(const Address& address, std::size_t bytes, bool always = false);
    void Give(const Address& address, std::size_t bytes);
    std::size_t Held(const Address& address) const;

private:
    struct Hash {
        std::size_t operator()(const Address& a) const;
    };
    std::size_t cap_;
    mutable std::mutex mutex_;
    std::unordered_map<Address, std::size_t, Hash> held_;
};

} // namespace ubin::serve
