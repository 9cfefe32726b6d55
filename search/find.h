#pragma once
// Finding any address from what a person types: a postal code or its beginning, a reading in
// any kana, any part of an address or of an office's name, or a whole address with a house
// number. The search runs over the directory's search index (search/find_index.h) and gives
// its results as the engine's entries.
#include "base/errors.h"
#include "search/address.h"
#include "search/find_index.h"
#include "search/find_rank.h"
#include "search/lookup.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ubin {

// The longest query a search takes, in characters of its search form (blanks dropped, NFKC):
// a longer one is refused before any search, so that every search has a bounded cost. What is
// typed may hold at most four times as many UTF-16 units (blanks, marks that NFKC combines).
inline constexpr std::size_t kMaxQueryLength = 256;
inline constexpr std::size_t kMaxTypedQueryLength = 4 * kMaxQueryLength;

// Why a query is refused.
enum class QueryFault {
    TooLong,          // longer than kMaxQueryLength characters
    ControlCharacter, // holds a control character (U+0000..U+001F, U+007F..U+009F)
};

class QueryError : public Error {
public:
    QueryError(QueryFault fault, const std::string& message) : Error(message), fault_(fault) {}
    QueryFault fault() const { return fault_; }

private:
    QueryFault fault_;
};

// The search form of a query, or QueryError when it is refused. Costs at most a few thousand
// character steps, whatever the query's length.
std::u16string CheckedSearchForm(std::u16string_view query);

// How a query was taken.
enum class FindMatch {
    Postal,  // 3 to 7 digits (〒, blanks, hyphens and dashes dropped): the codes beginning with them
    Reading, // kana alone: readings, addresses and office names holding it
    Text,    // anything else: addresses and office names holding it
    Address, // a written address: the entries whose town and note cover it (search/address.h),
             // then the offices at that very address
};

// The order of the results.
enum class FindOrder {
    Relevance, // texts and readings best first (search/find_rank.h); postal codes and addresses
               // as Code and the address notes give them
    Code,      // by postal code, area entries before offices of the same code, then source order
};

struct FindResult {
    FindMatch match = FindMatch::Text;
    // Addresses: how far the text was matched, and what of it was not used, as it was written.
    AddressLevel level = AddressLevel::None;
    std::u16string rest;
    std::size_t total = 0;       // every match
    std::vector<Entry> results;  // the first `limit` of them, in the order asked for
    // When nothing was found: town, city and office names near what was typed (銀坐: 銀座),
    // nearest first; and whether the query holds nothing a name is written with (symbols only).
    std::vector<std::u16string> suggestions;
    bool symbolsOnly = false;
};

// The name of a match kind as the command line and the web service print it.
const char* FindMatchName(FindMatch match);

class Finder {
public:
    // Over an engine whose folder holds 検索.IDX; the engine outlives the finder. The index is
    // mapped now (DirectoryError when the folder has none or it is damaged). Safe to use from
    // several threads at once.
    explicit Finder(const Lookup& lookup);
    ~Finder();

    // At most `limit` results (0: all). A query that is too long or holds a control character
    // is refused with QueryError before anything is searched.
    FindResult Find(std::u16string_view query, std::size_t limit = 100,
                    FindOrder order = FindOrder::Relevance) const;
    // The best result alone, as a batch or an address column wants it: Find with a limit of 1,
    // without the suggestions it looks for when nothing is found (a few milliseconds each).
    FindResult Best(std::u16string_view query) const;

    // The documents matching a query, without reading their entries.
    struct Documents {
        FindMatch match = FindMatch::Text;
        std::vector<std::uint32_t> docs;
        AddressLevel level = AddressLevel::None;
        std::u16string rest;
        RankQuery rank;      // what texts and readings are ranked against
        std::u16string code; // a postal code's digits
    };
    Documents Match(std::u16string_view query) const;
    // The entry of a document.
    Entry ReadDocument(std::uint32_t doc, CityMemo* memo = nullptr) const;

    // Gives an area entry read elsewhere (Lookup::FindPostal) what its note says, as the
    // finder's own results have it; offices and folders without notes stay as they are.
    void AddNote(Entry& entry) const;

    // The address notes of the folder, read at their first use; null for a folder built before
    // they were made. Throws DirectoryError when the file is damaged.
    const AddressResolver* Addresses() const;

private:
    const FindIndex& Index() const { return index_; }
    // The documents whose name (or reading) text holds `text`, in document order.
    std::vector<std::uint32_t> Holding(bool reading, std::u16string_view text) const;
    std::vector<std::uint32_t> ResolveAddress(std::u16string_view nameForm) const;
    // The documents of an address match: its entries, then the offices at that address.
    Documents AddressDocuments(const AddressMatch& match) const;
    std::vector<std::uint32_t> OfficesAt(const AddressMatch& match) const;
    std::vector<std::u16string> Suggestions(const RankQuery& query) const;
    FindResult Answer(std::u16string_view query, std::size_t limit, FindOrder order, bool suggest) const;

    struct Notes;
    const Lookup& lookup_;
    FindIndex index_;
    FindRanker ranker_;
    std::unique_ptr<Notes> notes_;
};

} // namespace ubin
