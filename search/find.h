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
#include "search/query.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ubin {

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
    // A postal code written before the address (〒100-0014 千代田区…): its digits, and whether the
    // first result has another code (the list the address came from should be checked).
    std::u16string writtenCode;
    bool codeDisagrees = false;
    // The address was written with the name of a municipality others replaced since (岩槻市):
    // that name as Japan Post lists it (郡 included) and the day of the change (YYYYMMDD); the
    // results are the addresses of today.
    std::u16string formerMunicipality;
    std::int32_t formerUntil = 0;
    std::uint32_t reasons = 0; // why the finder answered as it did, as far as only it knows: find_reason bits
};

// The bits of FindResult::reasons.
namespace find_reason {
inline constexpr std::uint32_t kOldName = 1u << 0;           // a former municipality's name was read
inline constexpr std::uint32_t kVariantKanji = 1u << 1;      // the town matched in another form of a kanji
inline constexpr std::uint32_t kCountyRestored = 1u << 2;    // the county (郡) was not written
inline constexpr std::uint32_t kCodeBeforeAddress = 1u << 3; // a postal code written before the address
inline constexpr std::uint32_t kRomaji = 1u << 4;            // the address was written in Latin letters
inline constexpr std::uint32_t kChouChou = 1u << 5;          // 町 and 丁 taken as one
inline constexpr std::uint32_t kLookalike = 1u << 6;         // a kanji taken for one that looks like it
} // namespace find_reason

// The name of a match kind as the command line and the web service print it.
const char* FindMatchName(FindMatch match);

class Finder {
public:
    // Over an engine whose folder holds 検索.IDX; the engine outlives the finder. The index is
    // mapped now, or read into memory when the engine's files are not mapped (DirectoryError when
    // the folder has none or it is not an index); its checksum is compared at its first search.
    // Safe to use from several threads at once.
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
        std::optional<std::int32_t> oldCity; // an address written with an old municipality name (AddressTable::OldCity)
        TownSpelling spelling = TownSpelling::AsWritten;
    };
    Documents Match(std::u16string_view query) const { return Match(Query::Read(query)); }
    Documents Match(const Query& query) const;
    // The entry of a document (a number Match gave); an Error for one the index does not hold.
    Entry ReadDocument(std::uint32_t doc, CityMemo* memo = nullptr) const;

    // The entries of a postal code or its first digits (Lookup::FindPostalEntries), each with its
    // note as Find gives it, so that a code looked up and an address found answer alike. A text
    // with no digit names no code: nothing (Lookup would take the empty prefix for every code).
    std::vector<Entry> FindPostalEntries(std::u16string_view typed, PostalOptions options = {}) const;
    // Gives an area entry read elsewhere (Lookup::ReadEntry) what its note says, as the
    // finder's own results have it; offices and folders without notes stay as they are.
    void AddNote(Entry& entry) const;

    // Whether a mapped file the finder or its engine reads was cut short under it since it was
    // opened (a folder overwritten in place): its searches are refused from then on.
    bool FilesChanged() const;

    // Whether the folder has address tables: a folder built before there were any has none.
    // Throws DirectoryError when they are damaged.
    bool HasAddresses() const;
    // The address tables of the folder, mapped at their first use (a folder of the builds before
    // has its text notes laid out in memory then). Throws DirectoryError when the file is
    // damaged, or when the folder has none (HasAddresses).
    const AddressResolver& Addresses() const;

private:
    // The index, its checksum compared (once, at the first search that reads it).
    const FindIndex& Index() const;
    // The documents whose name text (in name form, or with its kanji numerals as written) or
    // reading text holds `text`, in document order.
    enum class Texts { Names, Literal, Readings };
    std::vector<std::uint32_t> Holding(Texts texts, std::u16string_view text) const;
    // The documents whose name holds the query, in either form.
    std::vector<std::uint32_t> HoldingName(const Query& query) const;
    std::vector<std::uint32_t> ResolveAddress(std::u16string_view nameForm) const;
    FindResult PostalAnswer(const Query& query, std::size_t limit) const;
    // DirectoryError when a mapped file of the folder changed under the search that just ran.
    void CheckUnchanged() const;
    // The documents of an address match: its entries, then the offices at that address.
    Documents AddressDocuments(const AddressMatch& match) const;
    std::vector<std::uint32_t> OfficesAt(const AddressMatch& match) const;
    std::vector<std::u16string> Suggestions(const RankQuery& query) const;
    FindResult Answer(std::u16string_view query, std::size_t limit, FindOrder order, bool suggest) const;

    struct Notes;
    struct Checked;
    const Lookup& lookup_;
    mutable FindIndex index_; // the ranking's sections are added at the first search for an old index
    FindRanker ranker_;
    std::unique_ptr<Checked> checked_;
    std::unique_ptr<Notes> notes_;
};

} // namespace ubin
