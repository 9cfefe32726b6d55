#pragma once
// What a person typed, read once on the way in: the text as typed, its search, name and address
// forms, the digits of a postal code, the kana of romaji, and what kind of query it is. The
// finder and the address resolver take it as it is and normalize nothing again.
#include "base/errors.h"
#include "base/normalize.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ubin {

// The longest query a search takes, in characters of its search form (blanks dropped, NFKC):
// a longer one is refused before any search, so that every search has a bounded cost. What is
// typed may hold at most four times as many UTF-16 units (blanks, marks that NFKC combines).
inline constexpr std::size_t kMaxQueryLength = 256;
inline constexpr std::size_t kMaxTypedQueryLength = 4 * kMaxQueryLength;

enum class QueryKind {
    Empty,  // nothing a search can take (blanks alone)
    Postal, // 3 to 7 digits once 〒, blanks, hyphens and dashes are dropped
    Kana,   // kana alone
    Romaji, // Latin letters that spell kana (ginza, Shimbashi), a number after them allowed
    RomajiAddress, // an address in Latin letters, in parts (Ginza, Chuo-ku, Tokyo; tokyo chiyoda-ku nagatacho)
    Text,   // anything else: a name, a part of an address, a written address
};

struct Query {
    std::u16string typed;        // as typed, less the invisible characters copied with it
    std::u16string search;       // the search form (base/normalize.h SearchForm)
    NameText name;               // the name form of the search form
    NameText literal;            // the same with kanji numerals as written (LiteralNameForm)
    NameText address;            // the address form: a blank between two numbers kept as a break
    std::u16string postalDigits; // Postal: the digits
    // A postal code written before an address (〒100-0014 千代田区永田町1-7-1): its 7 digits. The
    // forms above are those of the address alone, read as if the code were not there.
    std::u16string writtenCode;
    std::u16string romaji;       // Romaji: the kana the letters spell
    std::vector<std::u16string> romajiParts; // RomajiAddress: the kana of each part, in the order written
    QueryKind kind = QueryKind::Empty;

    // Reads what was typed: a 〒 and a postal code before an address are read apart from it.
    // QueryError when it is longer than a search takes or holds a control
    // character; the characters copy and paste bring along unseen (zero-width spaces and joiners,
    // soft hyphens, byte order marks, direction marks) are dropped first. Costs at most a few
    // thousand character steps, whatever the text's length.
    static Query Read(std::u16string_view typed);
};

// The search form of a query, or QueryError when it is refused (Query::Read's checks).
std::u16string CheckedSearchForm(std::u16string_view query);

// Whether a character is one of those that copy and paste carry unseen and a search leaves out.
bool IsInvisibleFormat(char16_t c);

} // namespace ubin
