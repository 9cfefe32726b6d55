#pragma once
// The order of the free-text search's results, best first, and the names it offers when a
// query finds nothing. Both work on the search index alone (search/find_index.h): no entry is
// read until the results are chosen.
//
// A result is placed by, in turn:
//  1. its group: area entries, and offices whose name the query matched, before offices and
//     post-office boxes that only stand at an address the query matched;
//  2. how it matched: the whole of a name (the town, the city with or without its prefecture,
//     an office's name with or without 株式会社 and the like) first, then a name that begins with
//     the query, then a text that holds it anywhere;
//  3. its place's prominence: how many offices with a code of their own stand in its town
//     (Japan Post gives one to every business that receives much mail, so a busy town has
//     many: 東京都中央区銀座 has hundreds, 北海道夕張郡長沼町銀座 none);
//  4. its postal code (the index's order).
// Readings are compared the same way: a town's reading is the end of its document's reading
// once its prefecture's and city's are taken off.
#include "search/find_index.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ubin {

struct FindRankTables;

// What the results are ranked against.
struct RankQuery {
    std::u16string name;                 // the query in name form; empty when only readings apply
    std::vector<std::u16string> readings; // the query as readings (katakana), any of which may match
    // Readings are compared with their long vowels left out (チュウオウ as チュオ): for romaji,
    // which may or may not spell them.
    bool foldLongVowels = false;
};

class FindRanker {
public:
    explicit FindRanker(const FindIndex& index);
    ~FindRanker();

    // Puts the first `top` documents (all when 0) in order, best first; the rest follow in no
    // particular order.
    void Rank(std::vector<std::uint32_t>& docs, const RankQuery& query, std::size_t top) const;

    // Documents whose town, city or office name (or, for readings, their reading) is within a
    // few edits of the query, nearest first, at most `most`, one per distinct name; with which
    // part of the document is the near name.
    enum class NamePart { Town, City, Office };
    struct Near {
        std::uint32_t doc;
        NamePart part;
    };
    std::vector<Near> NearNames(const RankQuery& query, std::size_t most) const;

    // How many offices have a code of their own in the document's town.
    std::uint32_t Prominence(std::uint32_t doc) const;

private:
    const FindRankTables& Built() const;
    struct Key;
    Key KeyOf(std::uint32_t doc, const RankQuery& query) const;

    const FindIndex& index_;
    std::unique_ptr<FindRankTables> tables_;
};

// The number of single-character insertions, deletions and substitutions between two texts.
std::size_t EditDistance(std::u16string_view a, std::u16string_view b);

// A reading with its long vowels left out: ー, ウ after a kana of the o or u column, オ after
// one of the o column (トウキョウ トキョ, オオサカ オサカ, チュウオウ チュオ).
std::u16string WithoutLongVowels(std::u16string_view kana);

} // namespace ubin
