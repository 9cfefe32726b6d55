#include "base/leftovers.h"

#include "base/path_text.h"
#include "base/process.h"

#include <cctype>
#include <charconv>
#include <chrono>

namespace ubin {

namespace {

// A write or a build takes seconds; an hour-old temporary of an unknown writer is abandoned.
constexpr auto kLegacyAge = std::chrono::hours(1);

bool AllAlphanumeric(std::string_view s)
{
    for (const char c : s)
        if (!std::isalnum(static_cast<unsigned char>(c))) return false;
    return true;
}

} // namespace

std::string ProcessTag() { return std::to_string(platform::CurrentProcessId()) + "-"; }

bool IsStaleLeftover(const std::filesystem::directory_entry& entry, std::string_view prefix,
                     std::size_t legacyLength)
{
    const std::string name = PathToUtf8(entry.path().filename());
    if (!name.starts_with(prefix)) return false;
    const std::string_view rest = std::string_view(name).substr(prefix.size());
    const std::size_t dash = rest.find('-');
    if (dash != std::string_view::npos && dash > 0) {
        std::int64_t id = 0;
        const auto [end, ec] = std::from_chars(rest.data(), rest.data() + dash, id);
        if (ec != std::errc() || end != rest.data() + dash) return false;
        return !platform::ProcessIsRunning(id);
    }
    if (legacyLength == 0 || rest.size() != legacyLength || !AllAlphanumeric(rest)) return false;
    std::error_code ec;
    const auto changed = std::filesystem::last_write_time(entry.path(), ec);
    if (ec) return false;
    return std::filesystem::file_time_type::clock::now() - changed > kLegacyAge;
}

} // namespace ubin
