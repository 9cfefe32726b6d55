#include "tools/ubin-serve/client_memory.h"

#include <string_view>

namespace ubin::serve {

std::size_t ClientMemory::Hash::operator()(const Address& a) const
{
    return std::hash<std::string_view>{}(std::string_view(reinterpret_cast<const char*>(a.data()), a.size()));
}

bool ClientMemory::Take(const Address& address, std::size_t bytes, bool always)
{
    if (cap_ == 0 || bytes == 0) return true;
    const std::lock_guard lock(mutex_);
    std::size_t& held = held_[address];
    if (!always && held + bytes > cap_) {
        if (held == 0) held_.erase(address);
        return false;
    }
    held += bytes;
    return true;
}

void ClientMemory::Give(const Address& address, std::size_t bytes)
{
    if (cap_ == 0 || bytes == 0) return;
    const std::lock_guard lock(mutex_);
    const auto it = held_.find(address);
    if (it == held_.end()) return;
    if (it->second <= bytes) held_.erase(it);
    else it->second -= bytes;
}

std::size_t ClientMemory::Held(const Address& address) const
{
    const std::lock_guard lock(mutex_);
    const auto it = held_.find(address);
    return it == held_.end() ? 0 : it->second;
}

} // namespace ubin::serve
