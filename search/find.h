#pragma once
// Finding any address from what a person types: a postal code or its beginning, a reading in
// any kana, any part of an address or of an office's name, or a whole address with a house
// number. The search runs over the directory's search index (search/find_index.h) and gives
// its results as the engine's entries.
#include "search/find_index.h"
#include "search/lookup.h"

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace ubin {

// How a query was taken.
enum class FindMatch {
    Postal,  // 3 to 7 digits (〒, blanks, hyphens and dashes dropped): the codes beginning with them
    Reading, // kana alone: readings, addresses and office names holding it
    Text,    // anything else: addresses and office names holding it
    Address, // nothing holds it: the entries whose prefecture + city + town (or city + town)
             // is the longest beginning of it, as for an address with a house number
};

struct FindResult {
    FindMatch match = FindMatch::Text;
    std::size_t total = 0;       // every match
    std::vector<Entry> results;  // the first `limit` of them, by postal code, area entries
                                 // before offices of the same code, then source order
};

// The name of a match kind as the command line and the web service print it.
const char* FindMatchName(FindMatch match);

class Finder {
public:
    // Over an engine whose folder holds 検索.IDX; the engine outlives the finder. The index is
    // mapped on the first search. Safe to use from several threads at once.
    explicit Finder(const Lookup& lookup);
    ~Finder();

    // At most `limit` results (0: all).
    FindResult Find(std::u16string_view query, std::size_t limit = 100) const;

    // The documents matching a query, without reading their entries.
    struct Documents {
        FindMatch match = FindMatch::Text;
        std::vector<std::uint32_t> docs;
    };
    Documents Match(std::u16string_view query) const;
    // The entry of a document.
    Entry ReadDocument(std::uint32_t doc, CityMemo* memo = nullptr) const;

private:
    const FindIndex& Index() const;
    // The documents whose name (or reading) text holds `text`, in document order.
    std::vector<std::uint32_t> Holding(bool reading, std::u16string_view text) const;
    std::vector<std::uint32_t> ResolveAddress(std::u16string_view nameForm) const;

    const Lookup& lookup_;
    mutable std::once_flag opened_;
    mutable std::unique_ptr<FindIndex> index_;
};

} // namespace ubin
