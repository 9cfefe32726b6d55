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
#include "directory/manifest.h"
#include "directory/sections.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace ubin {

inline constexpr char kFindIndexMagic[8] = {'U', 'B', 'F', 'I', 'N', 'D', '0', '3'};
// The indexes of the builds before: without the ranking's sections and the lists of single
// characters (UBFIND02), and without the checksum too (UBFIND01). They are still read: what
// they lack is worked out when they are opened.
inline constexpr char kFindIndexMagicV2[8] = {'U', 'B', 'F', 'I', 'N', 'D', '0', '2'};
inline constexpr char kFindIndexMagicUnchecked[8] = {'U', 'B', 'F', 'I', 'N', 'D', '0', '1'};

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
    kFindOldSectionCount,            // the sections of the builds before end here
    kFindLiteralOffsets = kFindOldSectionCount, // u32 per document + 1: its name with kanji numerals as written
    kFindLiteralText,  // UTF-16 characters; a document whose literal name is its name has none
    kFindProminence,   // u32 per document: offices with a code of their own in its town
    kFindOrder,        // u32 per document: its place when documents are ordered by prominence, then number
    kFindReadingSplits, // ReadingSplit per document
    kFindEntryDocs,    // u32 per entry number (0 first, unused): the entry's document, kNoDocument for none
    kFindSums,         // the checksums of the sections before it (directory/sections.h)
    kFindSectionCount,
};

// Where the header keeps the file's checksum (base/checksum.h: XXH3 of the file with this field
// read as zeros), and where its first section may start.
inline constexpr std::size_t kFindChecksumOffset = SectionChecksumOffset(kFindSectionCount);
inline constexpr std::size_t kFindHeaderBytes = kFindChecksumOffset + 8;

inline constexpr std::uint32_t kFindOfficeBit = 0x80000000u;
inline constexpr std::uint32_t kNoDocument = 0xFFFFFFFFu;
inline constexpr std::uint8_t kFindTownIsRest = 1; // the town is 以下に掲載がない場合
// Stands between an office's address and its name in its name text; no query holds it.
inline constexpr char16_t kFindNameSeparator = u'\u0001';

// Where an area entry's reading text parts: its prefecture's reading ends at `prefecture`, its
// city's at `city`, its town's (without a note) at `town`. `known` is 0 where the city's reading
// is not known (an office, or a city without a catch-all entry to read it from).
struct ReadingSplit {
    std::uint16_t prefecture = 0, city = 0, town = 0, known = 0;
};

// What the ranking reads of each document, worked out once for the whole index (ubin-build
// writes it; for an index of the builds before it is worked out when the index is opened).
struct FindRankSections {
    std::vector<std::uint32_t> prominence, order;
    std::vector<ReadingSplit> splits;
    std::vector<std::uint32_t> entryDocs;
};

// A pair of neighbouring characters; a single character is the pair (0, c), which no text holds
// as a pair (texts hold no U+0000).
inline constexpr std::uint32_t FindGram(char16_t first, char16_t second)
{
    return (static_cast<std::uint32_t>(first) << 16) | second;
}
inline constexpr std::uint32_t FindSingle(char16_t c) { return FindGram(0, c); }

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

// The index of a folder, mapped read-only (or read into memory). Opening reads its header and
// section table and compares them with their checksum; every read then checks the bytes it
// takes before it believes them: the pieces of them the folder's manifest gives checksums for,
// each the first time (directory/sections.h PieceChecks), or without those the sections it reads,
// each compared whole with its own checksum at its first read. So a search believes nothing of
// the file that was not checked, and checks only what it reads. Every read checks its bounds
// too, so that a file changed under its mapping is never read outside of it.
class FindIndex {
public:
    // DirectoryError naming the file when it is not a find index of a version this program reads
    // or its sections do not fit in it.
    explicit FindIndex(const std::filesystem::path& file,
                       platform::MappedFile::Mode mode = platform::MappedFile::Mode::Map);
    // Over bytes made in memory (the writer reads the index it is making this way).
    FindIndex(std::string bytes, const std::filesystem::path& file);

    // What the folder's manifest gives for the file (none: no manifest with XXH3). Its pieces,
    // where it gives them, are what the reads of an index of this version check. An index of
    // the builds before has no checksum per section: its whole file is compared at its first use
    // with the manifest's XXH3, or without one with the checksum in its header (one without that
    // is checked for its structure).
    void UseManifest(const std::optional<ManifestFile>& listed);
    // DirectoryError when the file was cut short under its mapping (MappedFile::Changed).
    void CheckUnchanged() const;

    std::uint32_t DocumentCount() const { return docs_; }
    std::uint32_t Postal(std::uint32_t doc) const { return Item(kDocuments, postal_, doc, 0); }
    std::uint32_t Ref(std::uint32_t doc) const { return Item(kDocuments, refs_, doc, 0); }
    std::u16string_view NameText(std::uint32_t doc) const { return TextAt(kNameTexts, nameText_, nameOffsets_, doc); }
    // The name with its kanji numerals as written (base/normalize.h LiteralNameForm).
    std::u16string_view LiteralText(std::uint32_t doc) const
    {
        const std::u16string_view literal = TextAt(kNameTexts, literalText_, literalOffsets_, doc);
        return literal.empty() ? NameText(doc) : literal;
    }
    std::u16string_view ReadText(std::uint32_t doc) const { return TextAt(kReadTexts, readText_, readOffsets_, doc); }
    // Prefecture, city and town lengths at the start of the name text, and the flags.
    std::span<const std::uint8_t, 4> Parts(std::uint32_t doc) const;

    // The documents whose name (or reading) text holds the gram, in document order.
    std::vector<std::uint32_t> NamePostings(std::uint32_t gram) const { return Postings(kNameLists, nameGrams_, namePostings_, gram); }
    std::vector<std::uint32_t> ReadPostings(std::uint32_t gram) const { return Postings(kReadLists, readGrams_, readPostings_, gram); }
    // How many documents a gram's list holds, without reading it.
    std::uint32_t NameCount(std::uint32_t gram) const { return Count(kNameLists, nameGrams_, gram); }
    std::uint32_t ReadCount(std::uint32_t gram) const { return Count(kReadLists, readGrams_, gram); }
    // Whether the lists hold single characters too (FindSingle); the builds before did not.
    bool HasSingles() const { return rankFromFile_; }

    // The first document whose postal code is at least `code`.
    std::uint32_t LowerBoundPostal(std::uint32_t code) const;

    // The ranking's sections: whether the file holds them, and the ones worked out in memory
    // for an index of the builds before.
    bool HasRankSections() const { return rankFromFile_ || computed_.has_value(); }
    void UseRankSections(FindRankSections computed);
    std::uint32_t Prominence(std::uint32_t doc) const { return Item(kOrder, prominence_, doc, 0); }
    std::uint32_t Order(std::uint32_t doc) const { return Item(kOrder, order_, doc, doc); }
    ReadingSplit Split(std::uint32_t doc) const { return Item(kSplits, splits_, doc, ReadingSplit{}); }
    // The document of an area entry; kNoDocument for none.
    std::uint32_t DocumentOfEntry(std::int32_t entry) const;

    const std::filesystem::path& file() const { return name_; }

private:
    // What a read needs checked: the sections it reads (an index of the builds before is
    // checked whole at the first read).
    enum Part { kDocuments, kNameTexts, kNameParts, kNameLists, kReadTexts, kReadLists, kOrder, kSplits, kEntryDocs, kPartCount };
    // Checks the bytes a read of `part` takes: their pieces, when the manifest gives them, else
    // the part's sections whole at its first read.
    void Take(Part part, const void* at, std::size_t bytes) const
    {
        if (trusted_) return;
        if (!pieces_) checks_.Need(version_ == 3 ? part : 0, [&] { CheckPart(part); });
        else if (!pieces_->Sound(bytes_, at, bytes)) TakePieces(at, bytes);
    }
    void TakePieces(const void* at, std::size_t bytes) const;
    void CheckPart(Part part) const;
    void Read();
    template <class T>
    T Item(Part part, std::span<const T> items, std::uint32_t i, std::type_identity_t<T> otherwise) const
    {
        if (i >= items.size()) return otherwise;
        Take(part, &items[i], sizeof(T));
        return items[i];
    }
    std::u16string_view TextAt(Part part, std::span<const char16_t> text, std::span<const std::uint32_t> offsets,
                               std::uint32_t doc) const;
    const FindGramEntry* Lookup(Part part, std::span<const FindGramEntry> grams, std::uint32_t gram) const;
    std::uint32_t Count(Part part, std::span<const FindGramEntry> grams, std::uint32_t gram) const;
    std::vector<std::uint32_t> Postings(Part part, std::span<const FindGramEntry> grams,
                                        std::span<const unsigned char> postings, std::uint32_t gram) const;
    void CheckStructure() const;

    platform::MappedFile map_;
    std::string memory_;
    bool trusted_ = false; // made in memory by this program
    std::optional<std::uint64_t> expected_;
    std::optional<PieceChecks> pieces_;
    std::optional<SectionReader> sections_;
    PartChecks checks_{kPartCount};
    std::filesystem::path name_;
    std::span<const unsigned char> bytes_;
    int version_ = 3;
    std::uint32_t sectionCount_ = kFindSectionCount;
    std::uint32_t docs_ = 0;
    std::span<const std::uint32_t> postal_, refs_, nameOffsets_, readOffsets_, literalOffsets_;
    std::span<const char16_t> nameText_, readText_, literalText_;
    std::span<const std::uint8_t> parts_;
    std::span<const FindGramEntry> nameGrams_, readGrams_;
    std::span<const unsigned char> namePostings_, readPostings_;
    bool rankFromFile_ = false;
    std::optional<FindRankSections> computed_;
    std::span<const std::uint32_t> prominence_, order_, entryDocs_;
    std::span<const ReadingSplit> splits_;
};

} // namespace ubin
