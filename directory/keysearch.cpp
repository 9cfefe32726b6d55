#include "directory/keysearch.h"

#include "base/cp932.h"
#include "base/errors.h"
#include "base/text.h"
#include "directory/directory.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace ubin {

namespace {

// The hexadecimal text of a character's code as a signed 16-bit value ("30" for the digit 0,
// "9" for a tab, four digits for every double-byte character), held as its digits
// left-aligned in 16 bits and its number of digits. The digits 0-9 and A-F sort in the order
// of their values, so two such texts compare as the aligned values do, and when those are
// equal the shorter text (a prefix of the other) comes first.
struct HexText {
    std::uint32_t aligned;
    int digits;
};

HexText HexOf(char16_t c)
{
    const std::uint32_t code = ShiftJisCode(c);
    const int digits = code < 0x10 ? 1 : code < 0x100 ? 2 : code < 0x1000 ? 3 : 4;
    return {code << (4 * (4 - digits)), digits};
}

} // namespace

int CompareKeyPrefix(std::u16string_view prefix, std::u16string_view key)
{
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        // A key shorter than the prefix ends in the empty text, before every character.
        if (i >= key.size()) return 1;
        if (prefix[i] == key[i]) continue;
        const HexText hp = HexOf(prefix[i]);
        const HexText hk = HexOf(key[i]);
        if (hp.aligned != hk.aligned) return hp.aligned > hk.aligned ? 1 : -1;
        if (hp.digits != hk.digits) return hp.digits > hk.digits ? 1 : -1;
    }
    return 0;
}

std::optional<std::int32_t> MidRecord(std::int32_t low, std::int32_t high)
{
    const std::int64_t d = static_cast<std::int64_t>(high) - low;
    if (d > std::numeric_limits<std::int32_t>::max() || d < std::numeric_limits<std::int32_t>::min())
        throw std::overflow_error("the record range " + std::to_string(low) + " to " + std::to_string(high)
                                  + " is too large");
    if (d <= 1) return std::nullopt;
    return static_cast<std::int32_t>(std::nearbyint(static_cast<double>(d) / 2 + low));
}

std::u16string_view KeyPrefix(std::u16string_view recordKey, std::size_t n)
{
    return recordKey.substr(0, std::min<std::size_t>(n, recordKey.size()));
}

namespace {

// A read of a few kilobytes costs little more than a read of one record, so once the range
// left to search fits in this many records it is read with one call.
constexpr std::int32_t kBlockRecords = 16384 / kIndexRecordLength;

using Key = KeySample::Key;

// Reads the index records the search asks for: from the key sample, one by one, or from the
// block last loaded. Nothing outlives one search.
class IndexReader {
public:
    IndexReader(const DirectoryState& dir, int slot) : dir_(dir), slot_(slot) {}

    bool Holds(std::int32_t r) const { return r >= first_ && r < first_ + count_; }
    // Records first .. last, at most kBlockRecords of them, with one read.
    void Load(std::int32_t first, std::int32_t last)
    {
        count_ = 0;
        dir_.ReadRecordBlock(slot_, first, last - first + 1, block_);
        first_ = first;
        count_ = last - first + 1;
    }
    std::int32_t Key(std::int32_t r, ubin::Key& key)
    {
        if (Holds(r)) return dir_.DecodeIndexKey(slot_, r, block_ + static_cast<std::size_t>(r - first_) * kIndexRecordLength, key);
        return dir_.ReadIndexKey(slot_, r, key);
    }
    // Record r's key prefix against key; `known` is the record's key when the sample holds it.
    int Compare(std::int32_t r, std::u16string_view key, const ubin::Key* known = nullptr)
    {
        ubin::Key recordKey;
        if (known) recordKey = *known;
        else Key(r, recordKey);
        return CompareKeyPrefix(KeyPrefix(std::u16string_view(recordKey.data(), recordKey.size()), key.size()), key);
    }
    // The index's key sample when this search runs over the whole of the index as sampled.
    const KeySample* SampleFor(std::int32_t low, std::int32_t high) const
    {
        if (low != 1 || high <= kBlockRecords) return nullptr;
        const KeySample& s = dir_.IndexSample(slot_);
        return s.count == high ? &s : nullptr;
    }

private:
    const DirectoryState& dir_;
    int slot_;
    std::int32_t first_ = 0, count_ = 0;
    unsigned char block_[kBlockRecords * kIndexRecordLength];
};

std::optional<std::int32_t> Search(IndexReader& reader, std::int32_t low, std::int32_t high, std::u16string_view key)
{
    if (high < low || high < 1) return std::nullopt;
    const KeySample* sample = reader.SampleFor(low, high);
    if (reader.Compare(low, key, sample ? &sample->lowKey : nullptr) == 0) return low;
    if (reader.Compare(high, key, sample ? &sample->highKey : nullptr) == 0) return high;
    // The bisection tests only records strictly between the ends. The sample holds the keys of
    // the records it tests first, in the order it meets them.
    std::size_t node = 0;
    while (true) {
        const std::optional<std::int32_t> next = MidRecord(low, high);
        if (!next) return std::nullopt;
        const std::int32_t mid = *next;
        const ubin::Key* known = nullptr;
        if (sample && node < sample->records.size() && sample->records[node] == mid) known = &sample->keys[node];
        else if (!reader.Holds(mid) && high - low - 1 <= kBlockRecords) reader.Load(low + 1, high - 1);
        const int c = reader.Compare(mid, key, known);
        if (c == 0) return mid;
        if (c < 0) {
            low = mid;
            node = 2 * node + 2;
        } else {
            high = mid;
            node = 2 * node + 1;
        }
    }
}

// Fills the sample's node for the stretch (low, high) and those below it, down to `depth`.
void SampleNode(const DirectoryState& dir, int slot, KeySample& s, std::size_t node, std::int32_t low,
                std::int32_t high, int depth)
{
    const std::optional<std::int32_t> next = MidRecord(low, high);
    if (!next || depth == 0) return;
    const std::int32_t mid = *next;
    if (s.records.size() <= node) {
        s.records.resize(2 * node + 1, 0);
        s.keys.resize(2 * node + 1);
    }
    s.records[node] = mid;
    dir.ReadIndexKey(slot, mid, s.keys[node]);
    SampleNode(dir, slot, s, 2 * node + 1, low, mid, depth - 1);
    SampleNode(dir, slot, s, 2 * node + 2, mid, high, depth - 1);
}

} // namespace

std::unique_ptr<KeySample> TakeKeySample(const DirectoryState& dir, int slot)
{
    auto s = std::make_unique<KeySample>();
    s->count = dir.RecordCount(slot);
    if (s->count <= kBlockRecords) return s; // one block read covers the whole index
    dir.ReadIndexKey(slot, 1, s->lowKey);
    dir.ReadIndexKey(slot, s->count, s->highKey);
    // Enough halvings that every stretch below the sample fits in one block.
    int depth = 0;
    for (std::int64_t stretch = s->count; stretch > kBlockRecords; stretch /= 2) ++depth;
    SampleNode(dir, slot, *s, 0, 1, s->count, depth);
    return s;
}

std::optional<std::int32_t> FindKey(const DirectoryState& dir, int slot, std::int32_t low, std::int32_t high,
                                    std::u16string_view key)
{
    IndexReader reader(dir, slot);
    return Search(reader, low, high, key);
}

std::optional<FirstKeyMatch> FindFirstKey(const DirectoryState& dir, int slot, std::int32_t low, std::int32_t high,
                                          std::u16string_view key)
{
    IndexReader reader(dir, slot);
    const std::optional<std::int32_t> met = Search(reader, low, high, key);
    if (!met) return std::nullopt;
    std::int32_t r = *met;
    FirstKeyMatch m{r, std::nullopt};
    // A key longer than an index key equals no record's whole key text.
    if (key.size() > static_cast<std::size_t>(kKeyBytes)) return m;
    std::array<char16_t, kKeyBytes> recordKey;
    for (; r >= 1; --r) {
        if (!reader.Holds(r)) reader.Load(std::max(1, r - kBlockRecords + 1), r);
        const std::int32_t entry = reader.Key(r, recordKey);
        if (std::u16string_view(recordKey.data(), key.size()) != key) break;
        m = {r, entry};
    }
    return m;
}

} // namespace ubin
