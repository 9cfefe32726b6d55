#include "keysearch.h"

#include "cp932.h"
#include "directory.h"
#include "errors.h"
#include "text.h"

#include <cmath>
#include <limits>

namespace ubin {

namespace {

// The hexadecimal text of a character's code as a signed 16-bit value: "30" for the digit 0,
// "9" for a tab, four digits for every double-byte character.
std::string_view HexText(char16_t c, char (&buf)[8])
{
    static const char digits[] = "0123456789ABCDEF";
    unsigned code = ShiftJisCode(c);
    std::size_t n = 0;
    char rev[4];
    do {
        rev[n++] = digits[code & 15];
        code >>= 4;
    } while (code != 0);
    for (std::size_t i = 0; i < n; ++i) buf[i] = rev[n - 1 - i];
    return std::string_view(buf, n);
}

} // namespace

int CompareKeyPrefix(std::u16string_view prefix, std::u16string_view key)
{
    char bp[8], bk[8];
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        const std::string_view hp = HexText(prefix[i], bp);
        const std::string_view hk = i < key.size() ? HexText(key[i], bk) : std::string_view();
        const int c = hp.compare(hk);
        if (c > 0) return 1;
        if (c < 0) return -1;
    }
    return 0;
}

std::int32_t MidRecord(std::int32_t low, std::int32_t high)
{
    const std::int64_t d = static_cast<std::int64_t>(high) - low;
    if (d > std::numeric_limits<std::int32_t>::max() || d < std::numeric_limits<std::int32_t>::min())
        throw std::overflow_error("the record range " + std::to_string(low) + " to " + std::to_string(high)
                                  + " is too large");
    if (d <= 1) return 0;
    return static_cast<std::int32_t>(std::nearbyint(static_cast<double>(d) / 2 + low));
}

std::u16string_view KeyPrefix(std::u16string_view recordKey, std::size_t n)
{
    return recordKey.substr(0, std::min<std::size_t>(n, recordKey.size()));
}

namespace {

int CompareRecord(DirectoryState& dir, int slot, std::int32_t r, std::u16string_view key)
{
    const IndexRecord rec = dir.ReadIndexRecord(slot, r);
    return CompareKeyPrefix(KeyPrefix(rec.key, key.size()), key);
}

} // namespace

std::int32_t FindKey(DirectoryState& dir, int slot, std::int32_t low, std::int32_t high, std::u16string_view key)
{
    if (high < low || high < 1) return 0;
    if (CompareRecord(dir, slot, low, key) == 0) return low;
    if (CompareRecord(dir, slot, high, key) == 0) return high;
    // The bisection tests only records strictly between the ends.
    while (true) {
        const std::int32_t mid = MidRecord(low, high);
        if (mid == 0) return 0;
        const int c = CompareRecord(dir, slot, mid, key);
        if (c == 0) return mid;
        if (c < 0) low = mid;
        else high = mid;
    }
}

} // namespace ubin
