#pragma once
// The binary key search over an index file held open on a slot. The index is never loaded:
// each step reads one 12-byte record.
#include <cstdint>
#include <string>
#include <string_view>

namespace ubin {

class DirectoryState;

// -1, 0 or 1: how the record prefix sorts against the key, comparing per character the
// upper-case hexadecimal text of the characters' Shift-JIS codes (so "9" for a tab sorts after
// "30" for the digit 0). 0 also when the prefix is empty.
int CompareKeyPrefix(std::u16string_view prefix, std::u16string_view key);

// The record strictly between low and high to test next, ties to even; 0 when none is left.
std::int32_t MidRecord(std::int32_t low, std::int32_t high);

// Some record in [low, high] of the index on `slot` whose key begins with `key`, or 0. Only the
// first 8 characters of a key take part. An empty range (high < low) returns 0 without reading.
std::int32_t FindKey(const DirectoryState& dir, int slot, std::int32_t low, std::int32_t high,
                     std::u16string_view key);

// FindKey, then the walk down from the record it met to the lowest record whose key text
// begins with `key` character for character (it may pass below `low`, down to record 1).
// `record` is that lowest record and `entry` its EntryNumber. When the key search met a
// record but no record's key text begins with the whole key (a key longer than 8
// characters), `record` is the record met, `entry` 0 and `accepted` false; all zero when the
// key search met none.
struct FirstKeyMatch {
    std::int32_t record = 0;
    std::int32_t entry = 0;
    bool accepted = false;
};
FirstKeyMatch FindFirstKey(const DirectoryState& dir, int slot, std::int32_t low, std::int32_t high,
                           std::u16string_view key);

// The first min(n, 8) characters of a record key, as compared against a key of n characters.
std::u16string_view KeyPrefix(std::u16string_view recordKey, std::size_t n);

} // namespace ubin
