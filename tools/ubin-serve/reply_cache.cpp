// The replies ubin-serve keeps in memory, by key (service.h).
#include "tools/ubin-serve/service.h"

#include <functional>
#include <mutex>

namespace ubin::serve {

ReplyCache::ReplyCache(std::size_t capacity) : partCapacity_((capacity + 31) / 32) {}

ReplyCache::Part& ReplyCache::PartOf(const std::string& key) const
{
    return parts_[std::hash<std::string>{}(key) % parts_.size()];
}

std::optional<std::string> ReplyCache::Find(const std::string& key) const
{
    if (partCapacity_ == 0) return std::nullopt;
    const Part& part = PartOf(key);
    std::shared_lock lock(part.mutex);
    const auto it = part.bodies.find(key);
    if (it == part.bodies.end()) return std::nullopt;
    return it->second;
}

void ReplyCache::Insert(const std::string& key, const std::string& body)
{
    if (partCapacity_ == 0) return;
    Part& part = PartOf(key);
    std::unique_lock lock(part.mutex);
    if (part.bodies.size() >= partCapacity_) part.bodies.clear();
    part.bodies.emplace(key, body);
}

} // namespace ubin::serve
