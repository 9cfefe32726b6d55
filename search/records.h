#pragma once
// The record level of the engine: the records of the index files, the key search over them and
// a cursor stepping through candidates. Only the search form (form/) works here: it pages
// through an index's records as the window's buttons do. Programs and bindings use the
// engine's public face (docs/engine.md) and never this header.
#include "search/lookup.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace ubin {

// The first record of an index whose key begins with a search key. When the key search met a
// record but no key begins with the whole search key (one longer than an index key holds),
// `record` is the record met, `entry` 0 and `accepted` false. Nothing found: all zero.
struct FirstMatch {
    std::int32_t record = 0;
    std::int32_t entry = 0;
    bool accepted = false;
};

// A position among the candidates of a lookup: index records low..high of one index, or the
// city table's codes 1..CityTableSize in code order.
struct Cursor {
    bool cities = false;
    KeyIndex index = KeyIndex::Postal;
    std::int32_t low = 1, high = 0;
    std::int32_t position = 0;

    static Cursor Records(KeyIndex index, std::int32_t low, std::int32_t high, std::int32_t position)
    {
        return {false, index, low, high, position};
    }
    static Cursor Cities(std::int32_t position) { return {true, KeyIndex::City, 1, 0, position}; }
};

// What a step of a cursor reached: the postal entry of an index record, or a city line.
struct Candidate {
    std::int32_t entryNumber = 0;
    std::optional<AreaLine> city;
};

// The records of an engine's folder; as safe from several threads as the engine.
class IndexRecords {
public:
    explicit IndexRecords(const Lookup& lookup) : lookup_(lookup) {}

    // Records an index holds now (its length is taken at each call).
    std::int32_t RecordCount(KeyIndex index) const;
    // The EntryNumber of index record r.
    std::int32_t EntryOfRecord(KeyIndex index, std::int32_t record) const;
    // The lowest record in [low, high] (the walk may pass below low) whose key begins with key.
    // A key with a character code page 932 cannot hold begins no index key.
    FirstMatch FindFirst(KeyIndex index, std::u16string_view key, std::int32_t low, std::int32_t high) const;
    FirstMatch FindFirst(KeyIndex index, std::u16string_view key) const;
    // Moves the cursor one candidate on (direction +1) or back (-1). None at an end, where the
    // cursor stays on the end (city codes without a line passed on the way stay passed).
    std::optional<Candidate> Step(Cursor& cursor, int direction) const;

private:
    const Lookup& lookup_;
};

} // namespace ubin
