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
// once its prefecture's and city's are taken off (a city's reading is what its catch-all
// entry's reading holds before イカニケイサイガナイバアイ), and a ward's catch-all entry is named
// by the end of its city's reading too (チュウオウク for サッポロシチュウオウク).
#include "search/find_index.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ubin {

// What the results are ranked against.
struct RankQuery {
    std::u16string name;                 // the query in name form; empty when only readings apply
    std::vector<std::u16string> readings; // the query as readings (katakana), any of which may match
    // Readings are compared as romaji tells them (RomajiKey): the query was typed in Latin
    // letters, which may or may not spell a long vowel.
    bool romaji = false;
    // When some of the documents ranked were found by their reading alone: those whose name text
    // may hold `name` (every one that does, in document order). The others' names are not read:
    // the query cannot be or begin any of them.
    std::optional<std::vector<std::uint32_t>> named;
};

class FindRanker {
public:
    // A prefecture's name in name form and its reading in search form (base/normalize.h).
    using Prefectures = std::vector<std::pair<std::u16string, std::u16string>>;
    // Over an index that has its ranking's sections (FindIndex::HasRankSections).
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
    // The document's group, then its tier, then its place by prominence and number
    // (FindIndex::Order), as one number to compare: the lower, the better. `named`: whether
    // the document's name may hold the query's name (RankQuery::named).
    std::uint64_t RankOf(std::uint32_t doc, const RankQuery& query, bool named) const;

    const FindIndex& index_;
};

// What the ranking reads of every document, worked out from the index's texts once: how many
// offices with a code of their own stand in each document's town (its prominence), the order of
// the documents by it, where each area entry's reading parts into prefecture, city and town,
// and the document of each entry. ubin-build writes it into the index; an index of the builds
// before gets it when it is opened.
FindRankSections ComputeRankSections(const FindIndex& index, const FindRanker::Prefectures& prefectures);

// The number of single-character insertions, deletions and substitutions between two texts.
std::size_t EditDistance(std::u16string_view a, std::u16string_view b);

// A reading as romaji tells it: its long vowels left out (ー, ウ after a kana of the o or u
// column, オ after one of the o column: トウキョウ トキョ, オオサカ オサカ, チュウオウ チュオ), and
// ヂ ヅ ヲ as ジ ズ オ, which Hepburn spells alike (カイヅカ and kaizuka).
std::u16string RomajiKey(std::u16string_view kana);

} // namespace ubin
