#pragma once
// The binary key search over an index file held open on a slot. The index is never loaded:
// each step reads one 12-byte record.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ubin {

class DirectoryState;

// -1, 0 or 1: how the record prefix sorts against the key, comparing per character the
// upper-case hexadecimal text of the characters' Shift-JIS codes (so "9" for a tab sorts after
// "30" for the digit 0). 0 also when the prefix is empty.
int CompareKeyPrefix(std::u16string_view prefix, std::u16string_view key);

// The record strictly between low and high to test next, ties to even; none when none is left.
std::optional<std::int32_t> MidRecord(std::int32_t low, std::int32_t high);

// Some record in [low, high] of the index on `slot` whose key begins with `key`; none when no
// record does. Only the first 8 characters of a key take part. An empty range (high < low)
// finds none without reading.
std::optional<std::int32_t> FindKey(const DirectoryState& dir, int slot, std::int32_t low, std::int32_t high,
                                    std::u16string_view key);

// FindKey, then the walk down from the record it met to the lowest record whose key text
// begins with `key` character for character (it may pass below `low`, down to record 1):
// `record` is that lowest record and `entry` its EntryNumber. When the key search met a record
// but no record's key text begins with the whole key (a key longer than 8 characters),
// `record` is the record met and `entry` none. None when the key search met no record.
struct FirstKeyMatch {
    std::int32_t record = 0;
    std::optional<std::int32_t> entry;
};
std::optional<FirstKeyMatch> FindFirstKey(const DirectoryState& dir, int slot, std::int32_t low, std::int32_t high,
                                          std::u16string_view key);

// The keys of the records a search over a whole index of `count` records tests first: its two
// ends and the midpoints of its first halvings, down to stretches short enough to be read
// with one call. With them a search over the whole index reads one block of records instead of
// a dozen single ones. The sample belongs to the file as it was when it was taken: a search
// uses it only while the index still holds `count` records.
struct KeySample {
    using Key = std::array<char16_t, 8>;
    std::int32_t count = 0;
    Key lowKey{}, highKey{};
    // In the order of the halvings: the midpoint of node i's lower half is node 2i + 1, of its
    // upper half node 2i + 2.
    std::vector<std::int32_t> records;
    std::vector<Key> keys;
};

// Reads the sample of the index on `slot` as it is now.
std::unique_ptr<KeySample> TakeKeySample(const DirectoryState& dir, int slot);

// The first min(n, 8) characters of a record key, as compared against a key of n characters.
std::u16string_view KeyPrefix(std::u16string_view recordKey, std::size_t n);

} // namespace ubin
