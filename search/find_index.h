#pragma once
// The free-text search index of a directory folder (検索.IDX), written by ubin-build and mapped
// into memory by the programs that search it: the pages the operating system reads are the
// ones a search touches, nothing is read at start.
//
// The index lists every document (an area entry or an office) in the order results are given:
// by postal code, area entries before offices of the same code, then in the order of the source
// files. For each document it holds
//  - its postal code and what it is (an entry number of 郵便Point.POI, or an office number of
//    事業所.IDX);
//  - its name text: the address (prefecture, city, town, detail; an office's street part) and
//    an office's name, in search form with ヶ ケ ヵ ガ as one (base/normalize.h);
//  - its reading text: the readings of prefecture, city and town, or an office's name reading,
//    in search form;
//  - the lengths of the prefecture, city and town at the start of an entry's name text, for
//    resolving an address with a house number.
// Two inverted lists, one over the name texts and one over the reading texts, give for every
// pair of neighbouring characters the documents whose text holds it.
// docs/directory-format.md describes the bytes.
#include "base/file.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace ubin {

inline constexpr char kFindIndexMagic[8] = {'U', 'B', 'F', 'I', 'N', 'D', '0', '2'};
// The index of the builds before: the same without its checksum.
inline constexpr char kFindIndexMagicUnchecked[8] = {'U', 'B', 'F', 'I', 'N', 'D', '0', '1'};
// Where the header keeps the file's checksum (base/checksum.h: XXH3 of the file with this field
// read as zeros), and where its first section may start.
inline constexpr std::size_t kFindChecksumOffset = 16 + 16 * 11;
inline constexpr std::size_t kFindHeaderBytes = kFindChecksumOffset + 8;

// The sections of the file, in order.
enum FindSection : int {
    kFindPostal,       // u32 per document: the postal code as a number
    kFindRefs,         // u32 per document: entry number, or office number with kFindOfficeBit
    kFindNameOffsets,  // u32 per document + 1: where each name text starts, in characters
    kFindNameText,     // UTF-16 characters
    kFindReadOffsets,  // u32 per document + 1
    kFindReadText,     // UTF-16 characters
    kFindParts,        // 4 bytes per document: prefecture, city, town lengths; flags
    kFindNameGrams,    // FindGram entries sorted by gram
    kFindNamePostings, // document numbers, each list as LEB128 differences
    kFindReadGrams,
    kFindReadPostings,
    kFindSectionCount,
};

inline constexpr std::uint32_t kFindOfficeBit = 0x80000000u;
inline constexpr std::uint8_t kFindTownIsRest = 1; // the town is 以下に掲載がない場合
// Stands between an office's address and its name in its name text; no query holds it.
inline constexpr char16_t kFindNameSeparator = u'\u0001';

// A pair of neighbouring characters.
inline constexpr std::uint32_t FindGram(char16_t first, char16_t second)
{
    return (static_cast<std::uint32_t>(first) << 16) | second;
}

struct FindGramEntry {
    std::uint32_t gram;
    std::uint32_t count;  // documents in its list
    std::uint32_t offset; // byte offset of its list in the postings section
};

// LEB128: 7 bits a byte, low bits first, the high bit set on every byte but the last.
inline void PutVarint(std::vector<unsigned char>& out, std::uint32_t v)
{
    while (v >= 0x80) {
        out.push_back(static_cast<unsigned char>(v | 0x80));
        v >>= 7;
    }
    out.push_back(static_cast<unsigned char>(v));
}

// The index of a folder, mapped read-only. Open throws DirectoryError naming the file when it
// is not a find index, its sections do not fit in it, or its bytes are not the ones it was
// built with: with `expected` (the XXH3 the folder's manifest gives) the whole file must have
// that checksum; without it, the file's own checksum must match (an index of the builds before,
// which has none, is checked for its structure alone).
class FindIndex {
public:
    explicit FindIndex(const std::filesystem::path& file, std::optional<std::uint64_t> expected = std::nullopt);

    std::uint32_t DocumentCount() const { return docs_; }
    std::uint32_t Postal(std::uint32_t doc) const { return postal_[doc]; }
    std::uint32_t Ref(std::uint32_t doc) const { return refs_[doc]; }
    std::u16string_view NameText(std::uint32_t doc) const;
    std::u16string_view ReadText(std::uint32_t doc) const;
    // Prefecture, city and town lengths at the start of the name text, and the flags.
    std::span<const std::uint8_t, 4> Parts(std::uint32_t doc) const;

    // The documents whose name (or reading) text holds the gram, in document order.
    std::vector<std::uint32_t> NamePostings(std::uint32_t gram) const { return Postings(nameGrams_, namePostings_, gram); }
    std::vector<std::uint32_t> ReadPostings(std::uint32_t gram) const { return Postings(readGrams_, readPostings_, gram); }
    // How many documents a gram's list holds, without reading it.
    std::uint32_t NameCount(std::uint32_t gram) const { return Count(nameGrams_, gram); }
    std::uint32_t ReadCount(std::uint32_t gram) const { return Count(readGrams_, gram); }

    // The first document whose postal code is at least `code`.
    std::uint32_t LowerBoundPostal(std::uint32_t code) const;

    const std::filesystem::path& file() const { return map_.path(); }

private:
    static const FindGramEntry* Lookup(std::span<const FindGramEntry> grams, std::uint32_t gram);
    static std::uint32_t Count(std::span<const FindGramEntry> grams, std::uint32_t gram);
    std::vector<std::uint32_t> Postings(std::span<const FindGramEntry> grams, std::span<const unsigned char> postings,
                                        std::uint32_t gram) const;

    platform::MappedFile map_;
    std::uint32_t docs_ = 0;
    std::span<const std::uint32_t> postal_, refs_, nameOffsets_, readOffsets_;
    std::span<const char16_t> nameText_, readText_;
    std::span<const std::uint8_t> parts_;
    std::span<const FindGramEntry> nameGrams_, readGrams_;
    std::span<const unsigned char> namePostings_, readPostings_;
};

} // namespace ubin
